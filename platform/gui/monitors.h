// SPDX-License-Identifier: MIT
// The monitors of the desktop with their work areas, and the screen's pixels per inch.
#pragma once

#include "platform/dib.h"

#include <vector>

namespace pix {

// One monitor: its whole rectangle and its work area (the part that panels and task bars
// leave to windows), in desktop coordinates, right and bottom exclusive.
struct TMonitorInfo {
    TRect Monitor{};
    TRect WorkArea{};
};

// What the desktop offers. The system's comes from the window system's screens; tests
// make their own.
class TScreens {
public:
    virtual ~TScreens() = default;
    // The monitors, the primary one first; never empty.
    virtual std::vector<TMonitorInfo> Monitors() const = 0;
    // The screen's logical pixels per inch, which scale the forms' fonts and sizes.
    virtual int PixelsPerInch() const = 0;
};

// The window system's screens: each one's geometry and available geometry, and the primary
// screen's logical dots per inch. Without an application or a screen, one 1024 x 768
// monitor at 96 pixels per inch.
const TScreens& SystemScreens();

// The monitor nearest to a rectangle: the one it overlaps most, or when it overlaps none,
// the one at the least distance (the first of equals).
TMonitorInfo MonitorFromRect(const TScreens& screens, const TRect& rect);

// The size of the primary monitor, in pixels.
int ScreenWidth(const TScreens& screens);
int ScreenHeight(const TScreens& screens);

}  // namespace pix
