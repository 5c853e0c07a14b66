// SPDX-License-Identifier: MIT
// The viewer's zoom levels and the size of a picture at a zoom.
#pragma once

namespace pix {

// Enlargements are whole factors, so that every image pixel becomes a square of equal
// size; reductions may take any factor, since they average.
inline constexpr double kZoomSteps[] = {
    1.0 / 32, 1.0 / 24, 1.0 / 16, 1.0 / 12, 1.0 / 8, 1.0 / 6, 1.0 / 4, 1.0 / 3, 1.0 / 2, 2.0 / 3,
    1,        2,        3,        4,        6,       8,       12,      16,      24,      32};
inline constexpr double kMinZoom = 1.0 / 32;
inline constexpr double kMaxZoom = 32;

struct TZoomSize {
    int Width, Height;
};

// The zoom that shows a width × height picture whole in a box: the exact factor for a
// reduction; for a picture smaller than the box the largest whole factor up to kMaxZoom
// that still fits, so that enlarged pixels stay square. A line scan far longer than the
// box may need less than kMinZoom, and gets it. 1 for an empty box or picture.
double FitZoom(int width, int height, int boxWidth, int boxHeight);

// The next step after `zoom` upwards (direction > 0) or downwards; `zoom` itself when there
// is none in that direction. A zoom between steps goes to the nearest step that way.
double StepZoom(double zoom, int direction);

// The picture's size at `zoom`: each side rounded, at least 1 pixel. The caller keeps
// the product within int (see TImageView's largest zoom).
TZoomSize ZoomedSize(int width, int height, double zoom);

}  // namespace pix
