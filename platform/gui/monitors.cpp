// SPDX-License-Identifier: MIT
#include "platform/gui/monitors.h"

#include <QGuiApplication>
#include <QScreen>

#include <algorithm>
#include <cstdint>
#include <limits>

namespace pix {
namespace {

TRect RectOf(const QRect& r) { return {r.x(), r.y(), r.x() + r.width(), r.y() + r.height()}; }

class TSystemScreens : public TScreens {
public:
    std::vector<TMonitorInfo> Monitors() const override {
        std::vector<TMonitorInfo> monitors;
        if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr) {
            QScreen* primary = QGuiApplication::primaryScreen();
            if (primary != nullptr)
                monitors.push_back(
                    {RectOf(primary->geometry()), RectOf(primary->availableGeometry())});
            for (QScreen* screen : QGuiApplication::screens())
                if (screen != primary)
                    monitors.push_back(
                        {RectOf(screen->geometry()), RectOf(screen->availableGeometry())});
        }
        if (monitors.empty()) monitors.push_back({{0, 0, 1024, 768}, {0, 0, 1024, 768}});
        return monitors;
    }

    int PixelsPerInch() const override {
        if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr) return 96;
        const QScreen* primary = QGuiApplication::primaryScreen();
        return primary != nullptr ? qRound(primary->logicalDotsPerInchY()) : 96;
    }
};

std::int64_t Overlap(const TRect& a, const TRect& b) {
    const std::int64_t w = std::int64_t{std::min(a.Right, b.Right)} - std::max(a.Left, b.Left);
    const std::int64_t h = std::int64_t{std::min(a.Bottom, b.Bottom)} - std::max(a.Top, b.Top);
    return w > 0 && h > 0 ? w * h : 0;
}

// The squared distance between two rectangles; 0 when they touch or overlap.
std::int64_t Distance(const TRect& a, const TRect& b) {
    const std::int64_t dx =
        std::max<std::int64_t>({0, std::int64_t{b.Left} - a.Right, std::int64_t{a.Left} - b.Right});
    const std::int64_t dy =
        std::max<std::int64_t>({0, std::int64_t{b.Top} - a.Bottom, std::int64_t{a.Top} - b.Bottom});
    return dx * dx + dy * dy;
}

}  // namespace

const TScreens& SystemScreens() {
    static const TSystemScreens screens;
    return screens;
}

TMonitorInfo MonitorFromRect(const TScreens& screens, const TRect& rect) {
    const std::vector<TMonitorInfo> monitors = screens.Monitors();
    if (monitors.empty()) return {};
    const TMonitorInfo* best = &monitors.front();
    std::int64_t bestOverlap = 0;
    std::int64_t bestDistance = std::numeric_limits<std::int64_t>::max();
    for (const TMonitorInfo& m : monitors) {
        const std::int64_t overlap = Overlap(rect, m.Monitor);
        if (overlap > bestOverlap) {
            best = &m;
            bestOverlap = overlap;
        } else if (bestOverlap == 0 && overlap == 0) {
            const std::int64_t distance = Distance(rect, m.Monitor);
            if (distance < bestDistance) {
                best = &m;
                bestDistance = distance;
            }
        }
    }
    return *best;
}

int ScreenWidth(const TScreens& screens) {
    const TRect r = screens.Monitors().front().Monitor;
    return r.Right - r.Left;
}

int ScreenHeight(const TScreens& screens) {
    const TRect r = screens.Monitors().front().Monitor;
    return r.Bottom - r.Top;
}

}  // namespace pix
