// SPDX-License-Identifier: MIT
// Making the entry of one image file: load it, read what it tells, draw its thumbnail.
// The thumbnail thread and the command line share this.
#pragma once

#include "imaging/dib_picture.h"
#include "thumbs/thumb_info.h"
#include "tiff/vexa_tags.h"

#include <stop_token>
#include <string>

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

// The mosaic of a multi-image file with a layout, in three steps the tests can check apart.
// The bounding box of the first `count` placements, in layout units.
TRect LayoutBounds(const TVexaLayout& layout, int count);
// The canvas for a bounding box of width × height at `scale`: each side truncated toward
// zero, and at least 1 pixel.
TThumbSize MosaicSize(int width, int height, float scale);
// Where a single image of imageWidth × imageHeight pixels lands on the canvas: its
// placement's corner relative to the bounding box, scaled by `scale`, and the image fitted
// into the placement's box. Coordinates round to the nearest integer, ties to even.
TRect MosaicPlacement(const TVexaPlacement& placement, const TRect& bounds, float scale,
                      int imageWidth, int imageHeight);

// Draws `source` onto `target` over the whole of the target: the target first takes the
// source's colour table when both are palette bitmaps of one bit count.
void StretchOnto(const TDibPicture& source, TDibPicture& target);

// Fills `info` for the file at `path` (its entry in the grid): file date, sizes, bit count,
// image count, texts, acquisition parameters and the thumbnail for the box. TIFF files
// (".TIF" and ".TIFF") go through the TIFF rules: image count, 16-bit depth, numbered
// comments of multi-image files, and the mosaic of a file with a layout. A stop requested
// through `stop` ends the decode in progress and raises EPixError(SLoadCancelled). Raises the
// load's exception when the file cannot be made into an entry; `info` is then cleared
// except for FileDate.
void MakeThumbInfo(const std::string& path, int boxWidth, int boxHeight, TThumbInfo& info,
                   std::stop_token stop = {});

}  // namespace pix
