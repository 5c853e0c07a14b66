// SPDX-License-Identifier: MIT
#include "formats/format_table.h"

#include "formats/bmp_picture.h"
#include "formats/jpg_picture.h"
#include "formats/psd_picture.h"
#include "platform/file_system.h"
#include "png/png_picture.h"
#include "tiff/tif_picture.h"

namespace pix {

namespace {

template <class T>
std::unique_ptr<TDibPicture> Make() {
    return std::make_unique<T>();
}

// The Windows directory search matches "*.tif" and "*.jpg" also against "x.tiff" and
// "x.jpeg" (through their short names), so those files belong to a folder as well.
const std::vector<TImageFormatInfo>& Table() {
    static const std::vector<TImageFormatInfo> table = {
        {ifBmp, "BMP", {".BMP"}, {"*.bmp"}, &Make<TBmpPicture>, true, false},
        {ifJpeg, "JPEG", {".JPG", ".JPEG"}, {"*.jpg", "*.jpeg"}, &Make<TJpgPicture>, true, false},
        {ifPng, "PNG", {".PNG"}, {"*.png"}, &Make<TPngPicture>, false, false},
        {ifTiff, "TIFF", {".TIF", ".TIFF"}, {"*.tif", "*.tiff"}, &Make<TTifPicture>, true, true},
        {ifVexaPsd, "VEXA-PSD", {".PSD", ".TIM"}, {"*.psd", "*.tim"}, &Make<TPePsdPicture>,
         false, false},
    };
    return table;
}

}  // namespace

std::span<const TImageFormatInfo> ImageFormats() { return Table(); }

const TImageFormatInfo* FindImageFormat(const std::string& fileName) {
    const std::string ext = UpperCaseAscii(ExtractFileExt(fileName));
    for (const TImageFormatInfo& row : Table()) {
        for (std::string_view e : row.Extensions)
            if (ext == e) return &row;
    }
    return nullptr;
}

const TImageFormatInfo& ImageFormatForFile(const std::string& fileName) {
    if (const TImageFormatInfo* row = FindImageFormat(fileName)) return *row;
    for (const TImageFormatInfo& row : Table())
        if (row.Format == ifVexaPsd) return row;
    return Table().back();
}

std::unique_ptr<TDibPicture> CreatePictureForFile(const std::string& fileName) {
    return ImageFormatForFile(fileName).Create();
}

const std::vector<std::string>& ImageFilePatterns() {
    static const std::vector<std::string> patterns = [] {
        std::vector<std::string> all;
        for (const TImageFormatInfo& row : Table())
            for (std::string_view p : row.Patterns) all.emplace_back(p);
        return all;
    }();
    return patterns;
}

}  // namespace pix
