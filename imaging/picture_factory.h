// SPDX-License-Identifier: MIT
#pragma once

#include "imaging/dib_picture.h"

#include <memory>
#include <string>

namespace pix {

// The picture class the thumbnail thread uses for a file, chosen by its extension without
// regard to case: ".BMP", ".JPG", ".PNG", ".TIF", and the raw format for anything else.
// ".JPEG" and ".TIFF", which the folder listing never offers, get the JPEG and TIFF classes
// too, so that the command line reads such files.
std::unique_ptr<TDibPicture> CreatePictureForFile(const std::string& fileName);

}  // namespace pix
