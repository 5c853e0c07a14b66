// SPDX-License-Identifier: MIT
// What several benchmarks share: the application object the generation thread's hand-over
// needs, and input files written by the peer libraries (libtiff, libjpeg) row by row.
#pragma once

#include <QCoreApplication>

#include <jpeglib.h>
#include <tiffio.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace pix::bench {

// Fills the bytes of image row y (from the top).
using TRowFill = std::function<void(int y, std::uint8_t* row)>;

inline QCoreApplication& BenchApplication() {
    static int argc = 1;
    static char name[] = "pixorama_bench";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

// A one-sample grey TIFF of `bits` (8 or 16) per sample. LZW files get horizontal
// differencing; rowsPerStrip 0 takes libtiff's default strip size.
inline void WriteGreyTiff(const std::string& path, int width, int height, int bits,
                          int compression, std::uint32_t rowsPerStrip, const TRowFill& fill) {
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    if (tif == nullptr) std::abort();
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, bits);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, compression);
    if (compression == COMPRESSION_LZW) TIFFSetField(tif, TIFFTAG_PREDICTOR, 2);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP,
                 rowsPerStrip != 0 ? rowsPerStrip : TIFFDefaultStripSize(tif, 0));
    std::vector<std::uint8_t> row(static_cast<std::size_t>(width) * bits / 8);
    for (int y = 0; y < height; ++y) {
        fill(y, row.data());
        TIFFWriteScanline(tif, row.data(), static_cast<std::uint32_t>(y), 0);
    }
    TIFFClose(tif);
}

// A JPEG of `components` (1 grey, 3 RGB) at quality 90, progressive when asked.
inline void WriteJpegFile(const std::string& path, int width, int height, int components,
                          bool progressive, const TRowFill& fill) {
    FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) std::abort();
    jpeg_compress_struct info{};
    jpeg_error_mgr error{};
    info.err = jpeg_std_error(&error);
    jpeg_create_compress(&info);
    jpeg_stdio_dest(&info, out);
    info.image_width = static_cast<JDIMENSION>(width);
    info.image_height = static_cast<JDIMENSION>(height);
    info.input_components = components;
    info.in_color_space = components == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 90, TRUE);
    if (progressive) jpeg_simple_progression(&info);
    jpeg_start_compress(&info, TRUE);
    std::vector<std::uint8_t> row(static_cast<std::size_t>(width) * components);
    while (info.next_scanline < info.image_height) {
        fill(static_cast<int>(info.next_scanline), row.data());
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    std::fclose(out);
}

}  // namespace pix::bench
