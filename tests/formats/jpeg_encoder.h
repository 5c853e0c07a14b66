// SPDX-License-Identifier: MIT
// JPEG files written by libjpeg directly, so the reader is tested on files it did not
// write. Test images are small and valid; libjpeg's default error handler (which exits)
// never fires here.
#pragma once

#include <jpeglib.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace pix::test {

// Encodes interleaved samples, top row first. `adobe` writes the Adobe marker (for CMYK),
// `progressive` a progressive scan script, whose decoder keeps every coefficient.
inline std::vector<std::uint8_t> EncodeJpeg(int width, int height, int components,
                                            J_COLOR_SPACE space,
                                            const std::vector<std::uint8_t>& samples,
                                            int quality = 95, bool adobe = false,
                                            bool progressive = false) {
    jpeg_compress_struct info{};
    jpeg_error_mgr error{};
    info.err = jpeg_std_error(&error);
    jpeg_create_compress(&info);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &out, &size);
    info.image_width = static_cast<JDIMENSION>(width);
    info.image_height = static_cast<JDIMENSION>(height);
    info.input_components = components;
    info.in_color_space = space;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);
    if (adobe) info.write_Adobe_marker = TRUE;
    if (progressive) jpeg_simple_progression(&info);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(samples.data()) +
                       std::size_t{info.next_scanline} * static_cast<std::size_t>(width) *
                           static_cast<std::size_t>(components);
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    std::vector<std::uint8_t> file(out, out + size);
    std::free(out);
    return file;
}

}  // namespace pix::test
