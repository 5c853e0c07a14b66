// SPDX-License-Identifier: MIT
#include "platform/gui/window_placement.h"

#include <QPointer>
#include <QWidget>

#include <algorithm>

namespace pix {
namespace {

// The window keeps the positions of its minimized and maximized states with itself.
constexpr const char* kMinPosition = "_pix_MinPosition";
constexpr const char* kMaxPosition = "_pix_MaxPosition";

POINT PointProperty(const QWidget& window, const char* name) {
    const QVariant v = window.property(name);
    if (!v.isValid()) return {-1, -1};
    const QPoint p = v.toPoint();
    return {p.x(), p.y()};
}

// Coordinates beyond what any desktop holds would overflow the window system's 16-bit
// geometry and Qt's arithmetic on it.
int ClampCoordinate(std::int64_t v) {
    return static_cast<int>(std::clamp<std::int64_t>(v, -32000, 32000));
}

QPointer<QWidget>& MainForm() {
    static QPointer<QWidget> form;
    return form;
}

}  // namespace

void GetWindowPlacement(const QWidget& window, WINDOWPLACEMENT& placement) {
    placement = {};
    const Qt::WindowStates state = window.windowState();
    if (state & Qt::WindowMinimized) {
        placement.showCmd = SW_SHOWMINIMIZED;
        if (state & Qt::WindowMaximized) placement.flags = WPF_RESTORETOMAXIMIZED;
    } else if (state & (Qt::WindowMaximized | Qt::WindowFullScreen)) {
        placement.showCmd = SW_SHOWMAXIMIZED;
    }
    placement.ptMinPosition = PointProperty(window, kMinPosition);
    placement.ptMaxPosition = PointProperty(window, kMaxPosition);
    QRect r = window.isWindow() ? window.normalGeometry() : QRect();
    if (r.isNull()) r = window.geometry();
    placement.rcNormalPosition = {r.x(), r.y(), r.x() + r.width(), r.y() + r.height()};
}

void SetWindowPlacement(QWidget& window, const WINDOWPLACEMENT& placement) {
    window.setProperty(kMinPosition, QPoint(placement.ptMinPosition.x, placement.ptMinPosition.y));
    window.setProperty(kMaxPosition, QPoint(placement.ptMaxPosition.x, placement.ptMaxPosition.y));

    const TRect& r = placement.rcNormalPosition;
    const int left = ClampCoordinate(r.Left);
    const int top = ClampCoordinate(r.Top);
    const QRect normal(left, top, std::max(0, ClampCoordinate(std::int64_t{r.Right} - r.Left)),
                       std::max(0, ClampCoordinate(std::int64_t{r.Bottom} - r.Top)));
    // Qt keeps the normal rectangle of a maximized window to itself: leave the state for the
    // change and take it up again.
    WINDOWPLACEMENT current;
    GetWindowPlacement(window, current);
    const TRect& c = current.rcNormalPosition;
    if (normal != QRect(c.Left, c.Top, c.Right - c.Left, c.Bottom - c.Top)) {
        const Qt::WindowStates before = window.windowState();
        const Qt::WindowStates wide = Qt::WindowMaximized | Qt::WindowFullScreen;
        if (before & wide) window.setWindowState(before & ~wide);
        window.setGeometry(normal);
        if (before & wide) window.setWindowState(before);
    }

    Qt::WindowStates state;
    switch (placement.showCmd) {
        case SW_HIDE:
            window.hide();
            return;
        case SW_SHOWMINIMIZED:
        case SW_MINIMIZE:
        case SW_SHOWMINNOACTIVE:
            state = Qt::WindowMinimized;
            if (placement.flags & WPF_RESTORETOMAXIMIZED) state |= Qt::WindowMaximized;
            break;
        case SW_SHOWMAXIMIZED:
            state = Qt::WindowMaximized;
            break;
        case SW_SHOW:
        case SW_SHOWNA:
            state = window.windowState();
            break;
        default:
            state = Qt::WindowNoState;
            break;
    }
    if (state != window.windowState()) window.setWindowState(state);
    if (!window.isVisible()) window.show();
}

POINT WindowFrameSize(const QWidget& window) {
    if (!window.isWindow()) return {0, 0};
    const QRect frame = window.frameGeometry();
    const QRect client = window.geometry();
    return {std::max(0, client.x() - frame.x()), std::max(0, client.y() - frame.y())};
}

bool IsSizeable(const QWidget& window) { return window.minimumSize() != window.maximumSize(); }

void SetApplicationMainForm(QWidget* form) { MainForm() = form; }

QWidget* ApplicationMainForm() { return MainForm().data(); }

}  // namespace pix
