// SPDX-License-Identifier: MIT
#include "imaging/picture_factory.h"

#include "imaging/bmp_picture.h"
#include "imaging/jpg_picture.h"
#include "imaging/png_picture.h"
#include "imaging/psd_picture.h"
#include "imaging/tif_picture.h"
#include "platform/file_system.h"

namespace pix {

std::unique_ptr<TDibPicture> CreatePictureForFile(const std::string& fileName) {
    const std::string ext = UpperCaseAscii(ExtractFileExt(fileName));
    if (ext == ".BMP") return std::make_unique<TBmpPicture>();
    if (ext == ".JPG" || ext == ".JPEG") return std::make_unique<TJpgPicture>();
    if (ext == ".PNG") return std::make_unique<TPngPicture>();
    if (ext == ".TIF" || ext == ".TIFF") return std::make_unique<TTifPicture>();
    return std::make_unique<TPePsdPicture>();
}

}  // namespace pix
