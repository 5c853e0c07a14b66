// TIFF files by every path a user's file takes: the image count, each image of the chain
// loaded from memory, and the per-file procedure of the grid with its mosaic.
#include "fuzz/fuzz_support.h"

#include "platform/error.h"
#include "thumbs/thumb_info.h"
#include "thumbs/thumb_maker.h"
#include "tiff/tif_picture.h"
#include "tiff/tiff_reader.h"

#include <cstddef>
#include <cstdint>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    try {
        pix::TSpanStream stream(bytes);
        pix::fuzz::GSink =
            pix::fuzz::GSink + static_cast<std::uint64_t>(pix::CountTiffImages(stream));
    } catch (const pix::EPixError&) {
    }
    try {
        pix::fuzz::LoadEveryImage<pix::TTifPicture>(bytes, [](pix::TDibPicture&) {});
    } catch (const pix::EPixError&) {
    }
    // The last byte picks the thumbnail box, so small and large boxes are both tried.
    const int box = size > 0 ? 16 + data[size - 1] : 120;
    try {
        const pix::fuzz::TScratchFile file(bytes, ".tif");
        pix::TThumbInfo info;
        pix::MakeThumbInfo(file.Path(), box, box * 3 / 4 + 1, info);
        if (info.Thumbnail) pix::fuzz::SumPixels(*info.Thumbnail);
    } catch (const pix::EPixError&) {
    }
    return 0;
}
