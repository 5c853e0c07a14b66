// BMP files loaded from memory as the viewer loads them, every image and every pixel.
#include "fuzz/fuzz_support.h"

#include "formats/bmp_picture.h"
#include "platform/error.h"

#include <cstddef>
#include <cstdint>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    try {
        pix::fuzz::LoadEveryImage<pix::TBmpPicture>(std::span<const std::uint8_t>(data, size),
                                                    [](pix::TDibPicture&) {});
    } catch (const pix::EPixError&) {
    }
    return 0;
}
