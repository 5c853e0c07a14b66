// SPDX-License-Identifier: MIT
// The image formats the program knows, in one table: which extensions name each, which
// patterns list its files in a folder, which picture class reads it, whether it can be
// written, and whether its entries follow the TIFF rules (image count, microscope header,
// mosaic). Everything that decides by a file's name asks this table.
#pragma once

#include "imaging/dib_picture.h"

#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace pix {

enum TImageFormat : std::uint8_t { ifBmp, ifJpeg, ifPng, ifTiff, ifVexaPsd };

struct TImageFormatInfo {
    TImageFormat Format;
    const char* Name;
    // Extensions with their dot, upper case; the first is the usual one.
    std::vector<std::string_view> Extensions;
    // Patterns of the folder listing, matched without regard to case.
    std::vector<std::string_view> Patterns;
    std::unique_ptr<TDibPicture> (*Create)();
    bool CanWrite;
    // The entry is made by the TIFF procedure: images counted, the microscope header read,
    // a mosaic drawn for a layout.
    bool TiffEntry;
};

// Every row, in a fixed order.
std::span<const TImageFormatInfo> ImageFormats();
// The row whose extension the file name has, without regard to case; null for none.
const TImageFormatInfo* FindImageFormat(const std::string& fileName);
// The row whose picture class reads the file: its own, and the raw format for a name no row
// claims (the acquisition system also wrote raw files under other extensions).
const TImageFormatInfo& ImageFormatForFile(const std::string& fileName);
std::unique_ptr<TDibPicture> CreatePictureForFile(const std::string& fileName);
// The patterns of every row: what a folder listing offers for thumbnails.
const std::vector<std::string>& ImageFilePatterns();

}  // namespace pix
