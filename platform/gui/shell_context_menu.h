// SPDX-License-Identifier: MIT
// The context menu of a folder of the namespace (the role of the shell's context menu): what
// the desktop offers for a folder, as a menu of our own.
#pragma once

#include <QPoint>

#include <string>

class QWidget;

namespace pix {

// Shows the menu of the item with file-system path `path` (empty for a virtual item, which
// offers only what needs no path) at the screen point `at` and runs the chosen command:
// "Open in File Manager" (the desktop's file manager on the folder), "Copy Location" (the path
// to the clipboard) and "Properties" (a dialog with the name, location, type, contents,
// size on disk, modification time and free space of the volume). `owner` (may be null)
// parents the dialogs. Returns when the menu has closed.
void ShowShellContextMenu(QWidget* owner, const std::string& path, const QPoint& at);

}  // namespace pix
