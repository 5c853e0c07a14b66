// SPDX-License-Identifier: MIT
#include "viewer/zoom.h"

#include <algorithm>
#include <cmath>
#include <iterator>

namespace pix {

double FitZoom(int width, int height, int boxWidth, int boxHeight) {
    if (width <= 0 || height <= 0 || boxWidth <= 0 || boxHeight <= 0) return 1;
    const double fit =
        std::min(static_cast<double>(boxWidth) / width, static_cast<double>(boxHeight) / height);
    if (fit < 1) return fit;
    return std::min(std::floor(fit), kMaxZoom);
}

double StepZoom(double zoom, int direction) {
    // Steps within a thousandth count as reached, so that a fit that is almost a step does
    // not stop one step short.
    constexpr double kSame = 1.001;
    if (direction > 0) {
        for (double step : kZoomSteps)
            if (step > zoom * kSame) return step;
    } else {
        for (auto it = std::rbegin(kZoomSteps); it != std::rend(kZoomSteps); ++it)
            if (*it * kSame < zoom) return *it;
    }
    return zoom;
}

TZoomSize ZoomedSize(int width, int height, double zoom) {
    const auto side = [zoom](int length) {
        return static_cast<int>(std::max(1.0, std::round(static_cast<double>(length) * zoom)));
    };
    return TZoomSize{side(width), side(height)};
}

}  // namespace pix
