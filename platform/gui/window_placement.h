// SPDX-License-Identifier: MIT
// A top-level window's placement: its normal rectangle, its state (normal, minimized,
// maximized) and the positions it keeps for the minimized and maximized states.
#pragma once

#include "platform/dib.h"

#include <cstdint>

class QWidget;

namespace pix {

// Show commands.
inline constexpr std::uint32_t SW_HIDE = 0;
inline constexpr std::uint32_t SW_SHOWNORMAL = 1;
inline constexpr std::uint32_t SW_SHOWMINIMIZED = 2;
inline constexpr std::uint32_t SW_SHOWMAXIMIZED = 3;
inline constexpr std::uint32_t SW_SHOWNOACTIVATE = 4;
inline constexpr std::uint32_t SW_SHOW = 5;
inline constexpr std::uint32_t SW_MINIMIZE = 6;
inline constexpr std::uint32_t SW_SHOWMINNOACTIVE = 7;
inline constexpr std::uint32_t SW_SHOWNA = 8;
inline constexpr std::uint32_t SW_RESTORE = 9;

// Placement flags.
inline constexpr std::uint32_t WPF_SETMINPOSITION = 1;
inline constexpr std::uint32_t WPF_RESTORETOMAXIMIZED = 2;

struct WINDOWPLACEMENT {
    std::uint32_t length = sizeof(WINDOWPLACEMENT);
    std::uint32_t flags = 0;
    std::uint32_t showCmd = SW_SHOWNORMAL;
    POINT ptMinPosition{-1, -1};
    POINT ptMaxPosition{-1, -1};
    // The window's client area in its normal state, in desktop coordinates: the window
    // manager's frame lies outside it and is its own business.
    TRect rcNormalPosition{};
};

// Reads the placement: the show command follows the window's state (SW_SHOWMINIMIZED,
// SW_SHOWMAXIMIZED for maximized and full-screen windows, else SW_SHOWNORMAL, also for a
// hidden window), WPF_RESTORETOMAXIMIZED is set for a window minimized from the maximized
// state, and the minimized and maximized positions are the last ones set, (-1, -1) before.
void GetWindowPlacement(const QWidget& window, WINDOWPLACEMENT& placement);

// Gives the window its normal rectangle (a request the window manager normally follows, as
// the program placed the window itself) and the state of the show command: SW_HIDE hides
// a visible window; the minimize commands minimize it (remembering the maximized state
// with WPF_RESTORETOMAXIMIZED); SW_SHOWMAXIMIZED maximizes it; SW_SHOW and SW_SHOWNA keep
// the state; the others make it normal. Any command but SW_HIDE shows a hidden window.
// A maximized window keeps its state while its normal rectangle changes. The minimized and
// maximized positions are only kept: window managers choose those themselves.
void SetWindowPlacement(QWidget& window, const WINDOWPLACEMENT& placement);

// The width of the window manager's frame on the left and its height above the client
// area, as far as the window system has told them (0 before the window was first shown,
// and for a window without a frame).
POINT WindowFrameSize(const QWidget& window);

// False when the user cannot resize the window: its minimum and maximum sizes are equal.
bool IsSizeable(const QWidget& window);

// The application's main form: the window whose closing ends the program. None until the
// program body names it; a main form that is destroyed is none again.
void SetApplicationMainForm(QWidget* form);
QWidget* ApplicationMainForm();

}  // namespace pix
