// SPDX-License-Identifier: MIT
// The folder namespace the folder tree browses: item identifiers and folder objects over the
// file system, below a virtual Desktop.
//
// The Desktop (the empty identifier) holds the user's home folder, "Computer" and the
// folders on the user's desktop. "Computer" holds the file system's root "/" and every
// mounted volume a user browses (removable media, network mounts, other disks). Below
// those, every item is a file-system folder or file, named by its directory entry.
//
// An identifier is a list of items, each an opaque string of bytes that only the folder
// that made it interprets; a list is relative to some folder, an absolute one to the
// Desktop. Two items are the same item when their bytes are equal.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pix {

// One item of an identifier.
using TItemId = std::string;

// A list of items (the empty list is the Desktop when absolute, or the folder itself when
// relative).
class TItemIdList {
public:
    TItemIdList() = default;
    explicit TItemIdList(std::vector<TItemId> items) : FItems(std::move(items)) {}

    int Count() const { return static_cast<int>(FItems.size()); }
    bool Empty() const { return FItems.empty(); }
    const TItemId& operator[](int index) const { return FItems[static_cast<std::size_t>(index)]; }
    const std::vector<TItemId>& Items() const { return FItems; }
    const TItemId& Last() const { return FItems.back(); }
    // This list followed by `item` or by `tail`.
    TItemIdList Append(const TItemId& item) const;
    TItemIdList Append(const TItemIdList& tail) const;
    // The first `count` items, and the items from `first` on.
    TItemIdList Head(int count) const;
    TItemIdList Tail(int first) const;

    friend bool operator==(const TItemIdList&, const TItemIdList&) = default;

private:
    std::vector<TItemId> FItems;
};

// Enumeration flags (SHCONTF).
constexpr std::uint32_t SHCONTF_FOLDERS = 0x20;
constexpr std::uint32_t SHCONTF_NONFOLDERS = 0x40;
constexpr std::uint32_t SHCONTF_INCLUDEHIDDEN = 0x80;

// Item attributes (SFGAO), with what each means here.
constexpr std::uint32_t SFGAO_CANRENAME = 0x10;              // the user may rename the entry
constexpr std::uint32_t SFGAO_CANDELETE = 0x20;              // the user may remove the entry
constexpr std::uint32_t SFGAO_LINK = 0x10000;                // a symbolic link
constexpr std::uint32_t SFGAO_SHARE = 0x20000;               // never set: no sharing
constexpr std::uint32_t SFGAO_READONLY = 0x40000;            // the user may not write to it
constexpr std::uint32_t SFGAO_HIDDEN = 0x80000;              // the name starts with "."
constexpr std::uint32_t SFGAO_REMOVABLE = 0x2000000;         // a volume on removable media
constexpr std::uint32_t SFGAO_VALIDATE = 0x1000000;          // request: re-read the item's state
constexpr std::uint32_t SFGAO_FILESYSANCESTOR = 0x10000000;  // holds file-system items
constexpr std::uint32_t SFGAO_FOLDER = 0x20000000;           // can be browsed (a folder)
constexpr std::uint32_t SFGAO_FILESYSTEM = 0x40000000;       // has a file-system path
constexpr std::uint32_t SFGAO_HASSUBFOLDER = 0x80000000;     // has at least one listed subfolder

// Display-name flags (SHGDN).
constexpr std::uint32_t SHGDN_NORMAL = 0;
constexpr std::uint32_t SHGDN_INFOLDER = 0x1;
constexpr std::uint32_t SHGDN_FORPARSING = 0x8000;

// Special folders (CSIDL) that have a place here; the others have none.
constexpr int CSIDL_DESKTOP = 0;
constexpr int CSIDL_PERSONAL = 5;           // documents
constexpr int CSIDL_DESKTOPDIRECTORY = 16;  // the desktop folder on disk
constexpr int CSIDL_DRIVES = 17;            // Computer
constexpr int CSIDL_TEMPLATES = 21;

// Icon kinds of items, for the image list of the GUI layer.
enum TShellIconKind : std::uint8_t {
    ikFolder,
    ikFolderOpen,
    ikFile,
    ikDesktop,
    ikHome,
    ikComputer,
    ikDriveHarddisk,
    ikDriveRemovable,
    ikDriveOptical,
    ikDriveNetwork,
};

class TEnumIdList;

// A browsable folder of the namespace (the role of IShellFolder). Items passed in are
// relative to this folder; single items are the folder's direct children. Methods that
// fail return false, an empty optional or null; none throws for a folder or item that has
// gone, cannot be read or holds hostile names.
class TShellFolder {
public:
    virtual ~TShellFolder() = default;

    // The folder's direct children with the SHCONTF flags: folders, non-folders, and with
    // SHCONTF_INCLUDEHIDDEN also hidden ones. Null when the folder cannot be listed.
    virtual std::unique_ptr<TEnumIdList> EnumObjects(std::uint32_t flags) = 0;
    // The SFGAO attributes of a child, limited to the request mask; SFGAO_VALIDATE in the
    // mask asks for them afresh. False when the item no longer exists.
    virtual bool GetAttributesOf(const TItemId& item, std::uint32_t& attributes) = 0;
    // A child's name: SHGDN_NORMAL the name to show, SHGDN_FORPARSING the full path of a
    // file-system item (and a name that ParseDisplayName of the Desktop takes back).
    virtual std::optional<std::string> GetDisplayNameOf(const TItemId& item,
                                                        std::uint32_t flags) = 0;
    // Orders two relative lists by `column` (0 name, 1 size, 2 type, 3 date; ties by name):
    // negative, 0 or positive. Folders come before files; names without regard to case,
    // runs of digits by their numeric value, as the desktop's file manager sorts them.
    virtual int CompareIDs(int column, const TItemIdList& a, const TItemIdList& b) = 0;
    // The folder of a relative list, null when it is no folder or has gone.
    virtual std::shared_ptr<TShellFolder> BindToObject(const TItemIdList& relative) = 0;
    // Renames a child: false (errno kept) when that fails; else the child's new item.
    virtual bool SetNameOf(const TItemId& item, const std::string& name, TItemId& newItem) = 0;
    // The item's icon; `open` for the selected state of a folder.
    virtual TShellIconKind IconOf(const TItemId& item, bool open) = 0;
};

// The items of one enumeration, handed out one at a time.
class TEnumIdList {
public:
    explicit TEnumIdList(std::vector<TItemId> items) : FItems(std::move(items)) {}
    void Reset() { FNext = 0; }
    // The next item; false after the last.
    bool Next(TItemId& item);

private:
    std::vector<TItemId> FItems;
    std::size_t FNext = 0;
};

// The Desktop folder; every call gives the same object.
std::shared_ptr<TShellFolder> SHGetDesktopFolder();
// The absolute identifier of a special folder; empty optional when it has no place here.
std::optional<TItemIdList> SHGetSpecialFolderLocation(int csidl);
// The file-system path of an absolute identifier: "/" or a path without a trailing "/";
// empty for a virtual item (the Desktop, "Computer").
std::string SHGetPathFromIDList(const TItemIdList& absolute);
// The absolute identifier of an absolute path, through the item that holds it most closely:
// a folder on the desktop, a mounted volume, the home folder, else "/" under "Computer".
// Empty optional when a part of the path does not exist.
std::optional<TItemIdList> ParseDisplayName(const std::string& path);

// A mounted file system, as the mount table lists it.
struct TMountEntry {
    std::string MountPoint;  // unescaped
    std::string Source;      // "/dev/sdb1", "server:/export", ...
    std::string FsType;      // "ext4", "nfs4", "fuse.sshfs", ...
    bool operator==(const TMountEntry&) const = default;
};

// The entries of a mount table in the format of /proc/self/mountinfo; lines that cannot be
// read are skipped.
std::vector<TMountEntry> ParseMountInfo(std::string_view text);
// Whether a user browses the mount as a volume of its own: removable media and other disks
// mounted under /media, /run/media or /mnt or the home folder, network file systems, and
// disks outside the system's own folders; never pseudo file systems, "/" or system folders.
bool IsBrowsableVolume(const TMountEntry& entry, const std::string& home);
// Where the mount table is read: by default /proc/self/mountinfo. A test installs a source
// of its own (the text of a mount table) and calls NotifyMountsChanged after changing what
// it gives; an empty function restores the default.
void SetMountTableSource(std::function<std::string()> source);
// The browsable volumes now, in mount-point order.
std::vector<TMountEntry> BrowsableVolumes();

// Watches the mount table and calls OnChange on the main thread after it changed. The
// default source is watched in one blocking wait on the table's change signal; an installed
// source reports through NotifyMountsChanged. Create and destroy it on the main thread.
class TMountMonitor {
public:
    explicit TMountMonitor(std::function<void()> onChange);
    ~TMountMonitor();
    TMountMonitor(const TMountMonitor&) = delete;
    TMountMonitor& operator=(const TMountMonitor&) = delete;

    // Every monitor reports a change, as if the table had changed.
    static void NotifyMountsChanged();

private:
    struct TState;
    std::unique_ptr<TState> FState;
};

}  // namespace pix
