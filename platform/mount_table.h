// SPDX-License-Identifier: MIT
// What the folder namespace asks of a mounted volume beyond the mount table's own fields.
#pragma once

#include "platform/shell_folder.h"

#include <string>
#include <string_view>

namespace pix {

// The user's home folder: $HOME, else the user database's entry; no trailing "/".
std::string HomeFolder();
// The mount entry of a browsable volume at `mountPoint` now; empty when none is mounted there.
std::optional<TMountEntry> FindBrowsableVolume(const std::string& mountPoint);
// Removable media: mounted by the desktop under /media or /run/media, or a block device that
// the kernel marks removable.
bool IsRemovableVolume(const TMountEntry& entry);
// Whether `path` is `folder` or lies below it; both absolute, without a trailing "/".
bool IsAtOrUnder(std::string_view path, std::string_view folder);
// A file system reached over the network.
bool IsNetworkFileSystem(const std::string& fsType);
// The drive icon of a volume: network, optical, removable or a fixed disk.
TShellIconKind VolumeIconKind(const TMountEntry& entry);

}  // namespace pix
