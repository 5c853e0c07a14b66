// SPDX-License-Identifier: MIT
// Icons of the folder namespace's items from the desktop's icon theme (the role of the
// system image list), with the overlays the folder tree draws on them.
#pragma once

#include "platform/shell_folder.h"

#include <QIcon>

namespace pix {

enum TShellOverlay : std::int8_t {
    ovNone = -1,
    ovShared = 0,  // overlay 0
    ovLink = 1,    // overlay 1: a symbolic link
};

// The theme's icon for the kind (folder, open folder, file, desktop, home, computer, the
// drive kinds), falling back to Qt's standard icons where the theme has none; with ovLink
// the link emblem is drawn over it. Never a null icon. Call on the main thread.
QIcon ShellIcon(TShellIconKind kind, TShellOverlay overlay = ovNone);

}  // namespace pix
