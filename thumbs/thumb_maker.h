// SPDX-License-Identifier: MIT
// Making the entry of one image file: load it, read what it tells, draw its thumbnail.
// The thumbnail thread and the command line share this.
#pragma once

#include <functional>
#include <string>

#include "imaging/dib_picture.h"
#include "thumbs/thumb_info.h"

namespace pix {

inline constexpr int kDefaultThumbWidth = 112;
inline constexpr int kDefaultThumbHeight = 96;

// The thumbnail size for a W × H picture in a box: the aspect ratio is kept and one side
// equals the box side; neither side is below 1.
struct TThumbSize {
    int Width, Height;
};
TThumbSize ThumbnailSize(int boxWidth, int boxHeight, int width, int height);

// The scale that fits a W × H rectangle into a box, as a 32-bit real; 0 when boxHeight or
// height is 0.
float FitScale(int width, int height, int boxWidth, int boxHeight);

// Draws `source` onto `target` over the whole of the target: the target first takes the
// source's colour table when both are palette bitmaps of one bit count.
void StretchOnto(const TDibPicture& source, TDibPicture& target);

// Fills `info` for the file at `path` (its entry in the grid): file date, sizes, bit count,
// image count, texts, acquisition parameters and the thumbnail for the box. TIFF files
// (".TIF" and ".TIFF") go through the TIFF rules: image count, 16-bit depth, numbered
// comments of multi-image files, and the mosaic of a file with a layout. `terminated` is
// polled between the images of a mosaic. Raises the load's exception when the file cannot
// be made into an entry; `info` is then cleared except for FileDate.
void MakeThumbInfo(const std::string& path, int boxWidth, int boxHeight, TThumbInfo& info,
                   const std::function<bool()>& terminated = {});

}  // namespace pix
