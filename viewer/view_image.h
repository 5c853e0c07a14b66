// SPDX-License-Identifier: MIT
// One image of a file, loaded for the viewer through the picture classes of the browser.
#pragma once

#include "imaging/dib_picture.h"
#include "platform/dib.h"

#include <cstdint>
#include <memory>
#include <stop_token>
#include <string>

namespace pix {

// The picture of one image of a file, or the reason there is none.
struct TViewImage {
    std::string Path;
    int Index = 0;  // the image within the file, 0 for the first
    int Count = 1;  // images in the file: the TIFF directory chain, 1 for other formats
    std::int32_t FileDate = -1;            // the file's date when it was read (FileAge)
    std::unique_ptr<TDibPicture> Picture;  // null when the load failed
    std::string Error;                     // the reader's message when it failed
    int ErrorId = 0;  // the message's identifier in the message table, 0 for a library's text
    // The display window of a 16-bit image as loaded: the smallest and largest sample.
    std::uint16_t DataMin = 0;
    std::uint16_t DataMax = 0;
    // A reduced copy of the whole picture at PreparedZoom (24-bit), made ahead of showing
    // it; the view takes it over when it shows the image at that zoom.
    std::unique_ptr<TDibSection> Prepared;
    double PreparedZoom = 0;

    bool Ok() const { return Picture != nullptr; }
};

// Loads image `index` of the file at `path` with the picture class its name chooses. The
// images of a TIFF file are reached through its directory chain, without decoding those
// before them. Never throws: a failure leaves Picture null and Error the reader's message
// (SViewerFileMissing when the file is not there, SViewerNoImageFile for a folder)
// and ErrorId its identifier.
TViewImage LoadViewImage(const std::string& path, int index = 0, std::stop_token stop = {});

}  // namespace pix
