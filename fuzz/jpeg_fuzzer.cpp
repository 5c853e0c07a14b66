// JPEG files through our wrapper of the codec, at full size and reduced: the last byte
// picks the decode box the way the thumbnail maker sets one.
#include "fuzz/fuzz_support.h"

#include "formats/jpg_picture.h"
#include "platform/error.h"

#include <cstddef>
#include <cstdint>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::uint8_t option = size > 0 ? data[size - 1] : 0;
    try {
        pix::fuzz::LoadEveryImage<pix::TJpgPicture>(
            std::span<const std::uint8_t>(data, size), [option](pix::TDibPicture& picture) {
                // Odd values: a box from 1 × 1 up; even values: full size.
                if (option & 1) picture.SetDecodeBox(option >> 1, (option >> 1) + 1);
            });
    } catch (const pix::EPixError&) {
    }
    return 0;
}
