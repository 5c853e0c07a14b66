// SPDX-License-Identifier: MIT
#include "platform/shell_folder.h"

#include "platform/file_system.h"
#include "platform/mount_table.h"
#include "platform/res_strings.h"

#include <QString>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pix {

TItemIdList TItemIdList::Append(const TItemId& item) const {
    std::vector<TItemId> items = FItems;
    items.push_back(item);
    return TItemIdList(std::move(items));
}

TItemIdList TItemIdList::Append(const TItemIdList& tail) const {
    std::vector<TItemId> items = FItems;
    items.insert(items.end(), tail.FItems.begin(), tail.FItems.end());
    return TItemIdList(std::move(items));
}

TItemIdList TItemIdList::Head(int count) const {
    const auto n = static_cast<std::size_t>(std::clamp(count, 0, Count()));
    return TItemIdList(std::vector<TItemId>(FItems.begin(), FItems.begin() + n));
}

TItemIdList TItemIdList::Tail(int first) const {
    const auto n = static_cast<std::size_t>(std::clamp(first, 0, Count()));
    return TItemIdList(std::vector<TItemId>(FItems.begin() + n, FItems.end()));
}

bool TEnumIdList::Next(TItemId& item) {
    if (FNext >= FItems.size()) return false;
    item = FItems[FNext++];
    return true;
}

namespace {

// An item is one kind byte followed by its payload: nothing for the fixed items, the mount
// point of a volume, the directory entry's name (raw bytes) of a file-system entry. An entry
// that was a folder when its item was made has a kind of its own, so that folders are sorted
// before files without asking the file system at every comparison.
enum TItemKind : char {
    itHome = 'H',
    itComputer = 'C',
    itRoot = 'R',
    itVolume = 'V',
    itEntry = 'E',
    itFolderEntry = 'D',
};

// The parsing names of the virtual folders; no path looks like them.
constexpr const char* kDesktopParsingName = "::Desktop";
constexpr const char* kComputerParsingName = "::Computer";

TItemId MakeItem(TItemKind kind, std::string_view payload = {}) {
    TItemId item(1, static_cast<char>(kind));
    item.append(payload);
    return item;
}

bool IsEntryName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string_view("/\0", 2)) == std::string_view::npos;
}

// A path split into its parts, "." and ".." resolved by the text alone; empty optional for
// a path that is not absolute or holds a NUL byte.
std::optional<std::vector<std::string>> SplitAbsolute(std::string_view path) {
    if (path.empty() || path.front() != '/' || path.find('\0') != std::string_view::npos)
        return std::nullopt;
    std::vector<std::string> parts;
    std::size_t at = 0;
    while (at < path.size()) {
        const std::size_t end = std::min(path.find('/', at), path.size());
        const std::string_view part = path.substr(at, end - at);
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.emplace_back(part);
        }
        at = end + 1;
    }
    return parts;
}

std::string JoinParts(const std::vector<std::string>& parts) {
    std::string path;
    for (const std::string& part : parts) path.append("/").append(part);
    return path.empty() ? "/" : path;
}

std::string Normalised(std::string_view path) {
    const auto parts = SplitAbsolute(path);
    return parts ? JoinParts(*parts) : std::string();
}

int Sign(long long value) { return value < 0 ? -1 : value > 0 ? 1 : 0; }

// A decoded item; both entry kinds decode as itEntry, with Folder telling them apart.
struct TItem {
    TItemKind Kind;
    std::string Payload;
    bool Folder = false;
};

TItemId MakeEntry(std::string_view name, bool folder) {
    return MakeItem(folder ? itFolderEntry : itEntry, name);
}

std::optional<TItem> Decode(const TItemId& id) {
    if (id.empty()) return std::nullopt;
    std::string payload = id.substr(1);
    switch (id[0]) {
        case itHome:
        case itComputer:
        case itRoot:
            if (!payload.empty()) return std::nullopt;
            break;
        case itVolume:
            if (Normalised(payload) != payload || payload == "/") return std::nullopt;
            break;
        case itEntry:
        case itFolderEntry:
            if (!IsEntryName(payload)) return std::nullopt;
            return TItem{itEntry, std::move(payload), id[0] == itFolderEntry};
        default:
            return std::nullopt;
    }
    return TItem{static_cast<TItemKind>(id[0]), std::move(payload)};
}

// What the namespace needs of a file-system item; a symbolic link counts as its target,
// a dangling one as a file.
struct TStatus {
    bool Exists = false;
    bool Folder = false;
    bool Link = false;
    long long Size = 0;
    timespec Modified{};
    uid_t Owner = 0;
};

TStatus StatusOf(const std::string& path) {
    TStatus status;
    struct stat st {};
    if (path.empty() || lstat(path.c_str(), &st) != 0) return status;
    status.Exists = true;
    status.Link = S_ISLNK(st.st_mode);
    status.Owner = st.st_uid;
    struct stat target {};
    if (status.Link && stat(path.c_str(), &target) == 0) st = target;
    status.Folder = S_ISDIR(st.st_mode);
    status.Size = static_cast<long long>(st.st_size);
    status.Modified = st.st_mtim;
    return status;
}

struct TDirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};
using TDirHandle = std::unique_ptr<DIR, TDirCloser>;

TDirHandle OpenFolder(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    DIR* dir = fdopendir(fd);
    if (dir == nullptr) close(fd);
    return TDirHandle(dir);
}

// Whether a directory entry is a folder, from its type where the file system gives one.
bool EntryIsFolder(DIR* dir, const dirent& entry) {
    if (entry.d_type == DT_DIR) return true;
    if (entry.d_type != DT_LNK && entry.d_type != DT_UNKNOWN) return false;
    struct stat st {};
    return fstatat(dirfd(dir), entry.d_name, &st, 0) == 0 && S_ISDIR(st.st_mode);
}

bool HasSubfolder(const std::string& path) {
    const TDirHandle dir = OpenFolder(path);
    if (!dir) return false;
    while (const dirent* entry = readdir(dir.get()))
        if (entry->d_name[0] != '.' && EntryIsFolder(dir.get(), *entry)) return true;
    return false;
}

// The attributes of the file-system item at `path`; `entry` for a directory entry that the
// user may rename or remove when its folder allows it.
bool PathAttributes(const std::string& path, const std::string& name, bool entry,
                    std::uint32_t& attributes) {
    const std::uint32_t mask = attributes;
    const TStatus status = StatusOf(path);
    if (!status.Exists) return false;
    std::uint32_t found = SFGAO_FILESYSTEM;
    if (status.Folder) found |= SFGAO_FOLDER | SFGAO_FILESYSANCESTOR;
    if (status.Link) found |= SFGAO_LINK;
    if (!name.empty() && name.front() == '.') found |= SFGAO_HIDDEN;
    if ((mask & SFGAO_READONLY) != 0 && access(path.c_str(), W_OK) != 0) found |= SFGAO_READONLY;
    if (entry && (mask & (SFGAO_CANRENAME | SFGAO_CANDELETE)) != 0) {
        const std::string parent = path.substr(0, std::max<std::size_t>(path.rfind('/'), 1));
        struct stat folder {};
        bool allowed =
            access(parent.c_str(), W_OK | X_OK) == 0 && stat(parent.c_str(), &folder) == 0;
        // In a sticky folder (/tmp) only the owners of the entry or the folder remove it.
        if (allowed && (folder.st_mode & S_ISVTX) != 0 && geteuid() != 0)
            allowed = status.Owner == geteuid() || folder.st_uid == geteuid();
        if (allowed) found |= SFGAO_CANRENAME | SFGAO_CANDELETE;
    }
    if ((mask & SFGAO_HASSUBFOLDER) != 0 && status.Folder && HasSubfolder(path))
        found |= SFGAO_HASSUBFOLDER;
    attributes = found & mask;
    return true;
}

// Text order of names as people read them: without regard to case, runs of ASCII digits
// by their value. Names that are not UTF-8 compare by their replacement characters here;
// the caller breaks ties by the raw bytes.
int NaturalCompare(std::string_view a, std::string_view b) {
    const std::u32string x =
        QString::fromUtf8(a.data(), static_cast<qsizetype>(a.size())).toStdU32String();
    const std::u32string y =
        QString::fromUtf8(b.data(), static_cast<qsizetype>(b.size())).toStdU32String();
    const auto digit = [](char32_t c) { return c >= U'0' && c <= U'9'; };
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < x.size() && j < y.size()) {
        if (digit(x[i]) && digit(y[j])) {
            std::size_t endI = i;
            std::size_t endJ = j;
            while (endI < x.size() && digit(x[endI])) ++endI;
            while (endJ < y.size() && digit(y[endJ])) ++endJ;
            // Without leading zeros, the longer run is the larger number.
            while (i + 1 < endI && x[i] == U'0') ++i;
            while (j + 1 < endJ && y[j] == U'0') ++j;
            if (endI - i != endJ - j) return endI - i < endJ - j ? -1 : 1;
            for (; i < endI; ++i, ++j)
                if (x[i] != y[j]) return x[i] < y[j] ? -1 : 1;
            continue;
        }
        const char32_t c = QChar::toCaseFolded(x[i]);
        const char32_t d = QChar::toCaseFolded(y[j]);
        if (c != d) return c < d ? -1 : 1;
        ++i;
        ++j;
    }
    return Sign(static_cast<long long>(x.size() - i) - static_cast<long long>(y.size() - j));
}

int CompareNames(std::string_view a, std::string_view b) {
    const int order = NaturalCompare(a, b);
    return order != 0 ? order : Sign(a.compare(b));
}

std::string_view Extension(std::string_view name) {
    const std::size_t dot = name.rfind('.');
    return dot == std::string_view::npos || dot == 0 ? std::string_view() : name.substr(dot + 1);
}

// Two entries of `folder`: folders first, then by the column, then by name.
int CompareEntries(const std::string& folder, int column, const TItem& a, const TItem& b) {
    if (a.Folder != b.Folder) return a.Folder ? -1 : 1;
    // Only the other columns need the entries' status; sorting by name asks nothing.
    if (column < 1 || column > 3) return CompareNames(a.Payload, b.Payload);
    const TStatus x = StatusOf(JoinPath(folder, a.Payload));
    const TStatus y = StatusOf(JoinPath(folder, b.Payload));
    int order = 0;
    if (column == 1 && !a.Folder) {
        order = Sign(x.Size - y.Size);
    } else if (column == 2) {
        order = NaturalCompare(Extension(a.Payload), Extension(b.Payload));
    } else if (column == 3) {
        order = Sign(x.Modified.tv_sec != y.Modified.tv_sec
                         ? static_cast<long long>(x.Modified.tv_sec - y.Modified.tv_sec)
                         : static_cast<long long>(x.Modified.tv_nsec - y.Modified.tv_nsec));
    }
    return order != 0 ? order : CompareNames(a.Payload, b.Payload);
}

// The lists of items that no folder can read still get an order, by their bytes.
int RawCompare(const TItemIdList& a, const TItemIdList& b) {
    const auto& x = a.Items();
    const auto& y = b.Items();
    return std::lexicographical_compare(x.begin(), x.end(), y.begin(), y.end())   ? -1
           : std::lexicographical_compare(y.begin(), y.end(), x.begin(), x.end()) ? 1
                                                                                  : 0;
}

// user-dirs.dirs: lines of XDG_<NAME>_DIR="$HOME/Folder" or an absolute path in quotes.
std::map<std::string, std::string> ParseUserDirs(std::string_view text) {
    std::map<std::string, std::string> values;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        std::string_view line = text.substr(at, end - at);
        at = end + 1;
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
            line.remove_prefix(1);
        const std::size_t equals = line.find('=');
        if (line.empty() || line.front() == '#' || equals == std::string_view::npos) continue;
        std::string_view raw = line.substr(equals + 1);
        std::string value;
        if (!raw.empty() && raw.front() == '"') {
            for (std::size_t i = 1; i < raw.size() && raw[i] != '"'; ++i) {
                if (raw[i] == '\\' && i + 1 < raw.size()) ++i;
                value.push_back(raw[i]);
            }
        } else {
            value = raw;
        }
        values[std::string(line.substr(0, equals))] = value;
    }
    return values;
}

// The values of the user's user-dirs.dirs, read again when the file changes.
std::map<std::string, std::string> UserDirValues(const std::string& home) {
    const char* configHome = std::getenv("XDG_CONFIG_HOME");
    const std::string file =
        (configHome != nullptr && configHome[0] == '/' ? std::string(configHome)
                                                       : JoinPath(home, ".config")) +
        "/user-dirs.dirs";
    struct TCache {
        std::mutex Lock;
        std::string File;
        struct stat Status {};
        std::map<std::string, std::string> Values;
    };
    static TCache cache;
    struct stat st {};
    if (stat(file.c_str(), &st) != 0) return {};
    std::lock_guard lock(cache.Lock);
    if (cache.File != file || cache.Status.st_ino != st.st_ino ||
        cache.Status.st_dev != st.st_dev || cache.Status.st_size != st.st_size ||
        cache.Status.st_mtim.tv_sec != st.st_mtim.tv_sec ||
        cache.Status.st_mtim.tv_nsec != st.st_mtim.tv_nsec) {
        std::string text;
        if (FILE* f = std::fopen(file.c_str(), "rb")) {
            char buffer[4096];
            std::size_t got = 0;
            // The file is a few lines; a huge one is not a user-dirs file.
            while ((got = std::fread(buffer, 1, sizeof buffer, f)) > 0 && text.size() < (1 << 20))
                text.append(buffer, got);
            std::fclose(f);
        }
        cache.File = file;
        cache.Status = st;
        cache.Values = ParseUserDirs(text);
    }
    return cache.Values;
}

// The folder the user's desktop names with `key` ("XDG_DESKTOP_DIR"), else
// home/`fallback`; not checked for existence.
std::string UserDir(const std::string& home, const std::string& key, const char* fallback) {
    const auto values = UserDirValues(home);
    const auto found = values.find(key);
    if (found != values.end()) {
        const std::string& value = found->second;
        if (value == "$HOME" || value.starts_with("$HOME/"))
            return Normalised(home + value.substr(5));
        if (value.starts_with("/")) return Normalised(value);
    }
    return JoinPath(home, fallback);
}

// The desktop folder whose entries the Desktop shows: only one that exists and is not the
// home folder itself.
std::optional<std::string> DesktopFolder(const std::string& home) {
    const std::string desktop = UserDir(home, "XDG_DESKTOP_DIR", "Desktop");
    if (desktop.empty() || desktop == home || !DirectoryExists(desktop)) return std::nullopt;
    return desktop;
}

std::optional<std::string> DesktopFolder() { return DesktopFolder(HomeFolder()); }

TShellIconKind EntryIcon(const std::string& path, bool open) {
    if (!StatusOf(path).Folder) return ikFile;
    return open ? ikFolderOpen : ikFolder;
}

// Shared by every folder: lists of several items walk down through the folders.
// The attributes of a virtual folder (the Desktop, "Computer"), within the request mask.
bool VirtualFolderAttributes(std::uint32_t& attributes) {
    attributes &= SFGAO_FOLDER | SFGAO_FILESYSANCESTOR | SFGAO_HASSUBFOLDER;
    return true;
}

class TFolderBase : public TShellFolder, public std::enable_shared_from_this<TFolderBase> {
public:
    int CompareIDs(int column, const TItemIdList& a, const TItemIdList& b) final {
        if (a.Empty() || b.Empty()) return Sign(a.Count() - b.Count());
        const int order = CompareItems(column, a[0], b[0]);
        if (order != 0) return order;
        if (a.Count() == 1 || b.Count() == 1) return Sign(a.Count() - b.Count());
        const auto folder = BindItem(a[0]);
        return folder ? folder->CompareIDs(column, a.Tail(1), b.Tail(1))
                      : RawCompare(a.Tail(1), b.Tail(1));
    }

    std::shared_ptr<TShellFolder> BindToObject(const TItemIdList& relative) final {
        std::shared_ptr<TFolderBase> folder = shared_from_this();
        for (const TItemId& item : relative.Items()) {
            folder = folder->BindItem(item);
            if (!folder) return nullptr;
        }
        return folder;
    }

protected:
    // The order of two children: -1, 0 or 1, and 0 only for the same item.
    virtual int CompareItems(int column, const TItemId& a, const TItemId& b) = 0;
    virtual std::shared_ptr<TFolderBase> BindItem(const TItemId& item) = 0;
};

// A folder of the file system.
class TFsFolder final : public TFolderBase {
public:
    explicit TFsFolder(std::string path) : FPath(std::move(path)) {}

    std::unique_ptr<TEnumIdList> EnumObjects(std::uint32_t flags) override {
        return ListEntries(FPath, flags);
    }

    static std::unique_ptr<TEnumIdList> ListEntries(const std::string& path, std::uint32_t flags) {
        const TDirHandle dir = OpenFolder(path);
        if (!dir) return nullptr;
        const bool folders = (flags & SHCONTF_FOLDERS) != 0;
        const bool files = (flags & SHCONTF_NONFOLDERS) != 0;
        std::vector<TItemId> items;
        while (const dirent* entry = readdir(dir.get())) {
            const std::string_view name = entry->d_name;
            if (name == "." || name == "..") continue;
            if (name.front() == '.' && (flags & SHCONTF_INCLUDEHIDDEN) == 0) continue;
            if (!folders && !files) continue;
            const bool folder = EntryIsFolder(dir.get(), *entry);
            if (folders != files && folder != folders) continue;
            items.push_back(MakeEntry(name, folder));
        }
        return std::make_unique<TEnumIdList>(std::move(items));
    }

    bool GetAttributesOf(const TItemId& item, std::uint32_t& attributes) override {
        if (item.empty()) return PathAttributes(FPath, ExtractFileName(FPath), false, attributes);
        const auto entry = Decode(item);
        if (!entry || entry->Kind != itEntry) return false;
        return PathAttributes(JoinPath(FPath, entry->Payload), entry->Payload, true, attributes);
    }

    std::optional<std::string> GetDisplayNameOf(const TItemId& item, std::uint32_t flags) override {
        const bool parsing = (flags & SHGDN_FORPARSING) != 0 && (flags & SHGDN_INFOLDER) == 0;
        if (item.empty()) {
            if (parsing) return FPath;
            if (FPath == "/") return LoadResString(SFileSystemName);
            return FPath == HomeFolder() ? LoadResString(SHomeName) : ExtractFileName(FPath);
        }
        const auto entry = Decode(item);
        if (!entry || entry->Kind != itEntry) return std::nullopt;
        return parsing ? JoinPath(FPath, entry->Payload) : entry->Payload;
    }

    bool SetNameOf(const TItemId& item, const std::string& name, TItemId& newItem) override {
        return RenameEntry(FPath, item, name, newItem);
    }

    TShellIconKind IconOf(const TItemId& item, bool open) override {
        if (item.empty()) return open ? ikFolderOpen : ikFolder;
        const auto entry = Decode(item);
        if (!entry || entry->Kind != itEntry) return ikFile;
        return EntryIcon(JoinPath(FPath, entry->Payload), open);
    }

    static int CompareEntryItems(const std::string& path, int column, const TItemId& a,
                                 const TItemId& b) {
        const auto x = Decode(a);
        const auto y = Decode(b);
        const bool xValid = x && x->Kind == itEntry;
        const bool yValid = y && y->Kind == itEntry;
        if (!xValid || !yValid) return xValid != yValid ? (xValid ? -1 : 1) : Sign(a.compare(b));
        return CompareEntries(path, column, *x, *y);
    }

    static std::shared_ptr<TFolderBase> BindEntry(const std::string& path, const TItemId& item) {
        const auto entry = Decode(item);
        if (!entry || entry->Kind != itEntry) return nullptr;
        std::string child = JoinPath(path, entry->Payload);
        if (!DirectoryExists(child)) return nullptr;
        return std::make_shared<TFsFolder>(std::move(child));
    }

    static bool RenameEntry(const std::string& folder, const TItemId& item, const std::string& name,
                            TItemId& newItem) {
        const auto entry = Decode(item);
        if (!entry || entry->Kind != itEntry || !IsEntryName(name)) {
            errno = EINVAL;
            return false;
        }
        if (name == entry->Payload) {
            newItem = item;
            return true;
        }
        const int dirFd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dirFd < 0) return false;
        const char* from = entry->Payload.c_str();
        int result = renameat2(dirFd, from, dirFd, name.c_str(), RENAME_NOREPLACE);
        if (result != 0 && (errno == EINVAL || errno == ENOSYS || errno == ENOTSUP)) {
            // File systems without the no-replace mode: look first. Another process may
            // still create the name in between; nothing closes that window there.
            struct stat st {};
            if (fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)
                errno = EEXIST;
            else if (errno == ENOENT)
                result = renameat(dirFd, from, dirFd, name.c_str());
        }
        const int error = errno;
        close(dirFd);
        errno = error;
        if (result != 0) return false;
        newItem = MakeEntry(name, entry->Folder);
        return true;
    }

protected:
    int CompareItems(int column, const TItemId& a, const TItemId& b) override {
        return CompareEntryItems(FPath, column, a, b);
    }
    std::shared_ptr<TFolderBase> BindItem(const TItemId& item) override {
        return BindEntry(FPath, item);
    }

private:
    std::string FPath;
};

// "Computer": the root of the file system, then the mounted volumes.
class TComputerFolder final : public TFolderBase {
public:
    std::unique_ptr<TEnumIdList> EnumObjects(std::uint32_t flags) override {
        std::vector<TItemId> items;
        if ((flags & SHCONTF_FOLDERS) != 0) {
            items.push_back(MakeItem(itRoot));
            for (const TMountEntry& volume : BrowsableVolumes()) {
                if (ExtractFileName(volume.MountPoint).starts_with(".") &&
                    (flags & SHCONTF_INCLUDEHIDDEN) == 0)
                    continue;
                items.push_back(MakeItem(itVolume, volume.MountPoint));
            }
        }
        return std::make_unique<TEnumIdList>(std::move(items));
    }

    bool GetAttributesOf(const TItemId& item, std::uint32_t& attributes) override {
        if (item.empty()) {
            return VirtualFolderAttributes(attributes);
        }
        const auto decoded = Decode(item);
        if (!decoded) return false;
        if (decoded->Kind == itRoot) return PathAttributes("/", "", false, attributes);
        if (decoded->Kind != itVolume) return false;
        const auto volume = FindBrowsableVolume(decoded->Payload);
        if (!volume) return false;
        const std::uint32_t mask = attributes;
        if (!PathAttributes(volume->MountPoint, ExtractFileName(volume->MountPoint), false,
                            attributes))
            return false;
        if ((mask & SFGAO_REMOVABLE) != 0 && IsRemovableVolume(*volume))
            attributes |= SFGAO_REMOVABLE;
        return true;
    }

    std::optional<std::string> GetDisplayNameOf(const TItemId& item, std::uint32_t flags) override {
        const bool parsing = (flags & SHGDN_FORPARSING) != 0 && (flags & SHGDN_INFOLDER) == 0;
        if (item.empty())
            return parsing ? std::string(kComputerParsingName) : LoadResString(SComputerName);
        const auto decoded = Decode(item);
        if (!decoded) return std::nullopt;
        if (decoded->Kind == itRoot)
            return parsing ? std::string("/") : LoadResString(SFileSystemName);
        if (decoded->Kind != itVolume) return std::nullopt;
        return parsing ? decoded->Payload : ExtractFileName(decoded->Payload);
    }

    bool SetNameOf(const TItemId&, const std::string&, TItemId&) override {
        errno = EPERM;
        return false;
    }

    TShellIconKind IconOf(const TItemId& item, bool) override {
        const auto decoded = Decode(item);
        if (!decoded) return ikComputer;
        if (decoded->Kind == itVolume) {
            const auto volume = FindBrowsableVolume(decoded->Payload);
            return volume ? VolumeIconKind(*volume) : ikDriveHarddisk;
        }
        return ikDriveHarddisk;
    }

protected:
    int CompareItems(int, const TItemId& a, const TItemId& b) override {
        const auto x = Decode(a);
        const auto y = Decode(b);
        const auto rank = [](const std::optional<TItem>& item) {
            return !item ? 3 : item->Kind == itRoot ? 0 : item->Kind == itVolume ? 1 : 2;
        };
        if (rank(x) != rank(y)) return rank(x) < rank(y) ? -1 : 1;
        if (rank(x) == 1) {
            const int order =
                NaturalCompare(ExtractFileName(x->Payload), ExtractFileName(y->Payload));
            if (order != 0) return order;
        }
        return Sign(a.compare(b));
    }

    std::shared_ptr<TFolderBase> BindItem(const TItemId& item) override {
        const auto decoded = Decode(item);
        if (!decoded) return nullptr;
        if (decoded->Kind == itRoot) return std::make_shared<TFsFolder>("/");
        if (decoded->Kind != itVolume || !DirectoryExists(decoded->Payload)) return nullptr;
        return std::make_shared<TFsFolder>(decoded->Payload);
    }
};

// The Desktop: the home folder, "Computer", then the entries of the desktop folder.
class TDesktopFolder final : public TFolderBase {
public:
    std::unique_ptr<TEnumIdList> EnumObjects(std::uint32_t flags) override {
        std::vector<TItemId> items;
        if ((flags & SHCONTF_FOLDERS) != 0) {
            items.push_back(MakeItem(itHome));
            items.push_back(MakeItem(itComputer));
        }
        if (const auto desktop = DesktopFolder()) {
            if (auto entries = TFsFolder::ListEntries(*desktop, flags)) {
                TItemId item;
                while (entries->Next(item)) items.push_back(std::move(item));
            }
        }
        return std::make_unique<TEnumIdList>(std::move(items));
    }

    bool GetAttributesOf(const TItemId& item, std::uint32_t& attributes) override {
        if (item.empty()) {
            return VirtualFolderAttributes(attributes);
        }
        const auto decoded = Decode(item);
        if (!decoded) return false;
        switch (decoded->Kind) {
            case itHome:
                return PathAttributes(HomeFolder(), "", false, attributes);
            case itComputer:
                return VirtualFolderAttributes(attributes);
            case itEntry:
                if (const auto desktop = DesktopFolder())
                    return PathAttributes(JoinPath(*desktop, decoded->Payload), decoded->Payload,
                                          true, attributes);
                return false;
            default:
                return false;
        }
    }

    std::optional<std::string> GetDisplayNameOf(const TItemId& item, std::uint32_t flags) override {
        const bool parsing = (flags & SHGDN_FORPARSING) != 0 && (flags & SHGDN_INFOLDER) == 0;
        if (item.empty())
            return parsing ? std::string(kDesktopParsingName) : LoadResString(SDesktopName);
        const auto decoded = Decode(item);
        if (!decoded) return std::nullopt;
        switch (decoded->Kind) {
            case itHome:
                return parsing ? HomeFolder() : LoadResString(SHomeName);
            case itComputer:
                return parsing ? std::string(kComputerParsingName) : LoadResString(SComputerName);
            case itEntry:
                if (!parsing) return decoded->Payload;
                if (const auto desktop = DesktopFolder())
                    return JoinPath(*desktop, decoded->Payload);
                return std::nullopt;
            default:
                return std::nullopt;
        }
    }

    bool SetNameOf(const TItemId& item, const std::string& name, TItemId& newItem) override {
        const auto desktop = DesktopFolder();
        if (!desktop) {
            errno = ENOENT;
            return false;
        }
        return TFsFolder::RenameEntry(*desktop, item, name, newItem);
    }

    TShellIconKind IconOf(const TItemId& item, bool open) override {
        if (item.empty()) return ikDesktop;
        const auto decoded = Decode(item);
        if (!decoded) return ikFile;
        switch (decoded->Kind) {
            case itHome:
                return ikHome;
            case itComputer:
                return ikComputer;
            case itEntry:
                if (const auto desktop = DesktopFolder())
                    return EntryIcon(JoinPath(*desktop, decoded->Payload), open);
                return ikFile;
            default:
                return ikFile;
        }
    }

protected:
    int CompareItems(int column, const TItemId& a, const TItemId& b) override {
        const auto x = Decode(a);
        const auto y = Decode(b);
        const auto rank = [](const std::optional<TItem>& item) {
            if (!item) return 4;
            return item->Kind == itHome       ? 0
                   : item->Kind == itComputer ? 1
                   : item->Kind == itEntry    ? 2
                                              : 3;
        };
        if (rank(x) != rank(y)) return rank(x) < rank(y) ? -1 : 1;
        if (rank(x) == 2)
            return TFsFolder::CompareEntryItems(DesktopFolder().value_or(""), column, a, b);
        return Sign(a.compare(b));
    }

    std::shared_ptr<TFolderBase> BindItem(const TItemId& item) override {
        const auto decoded = Decode(item);
        if (!decoded) return nullptr;
        switch (decoded->Kind) {
            case itHome: {
                std::string home = HomeFolder();
                if (!DirectoryExists(home)) return nullptr;
                return std::make_shared<TFsFolder>(std::move(home));
            }
            case itComputer:
                return std::make_shared<TComputerFolder>();
            case itEntry:
                if (const auto desktop = DesktopFolder())
                    return TFsFolder::BindEntry(*desktop, item);
                return nullptr;
            default:
                return nullptr;
        }
    }
};

// The items of the parts of `parts` from `first` on, as entries: folders but for the last,
// which is what `last` is.
TItemIdList AppendEntries(TItemIdList list, const std::vector<std::string>& parts,
                          std::size_t first, bool lastIsFolder) {
    for (std::size_t i = first; i < parts.size(); ++i)
        list = list.Append(MakeEntry(parts[i], i + 1 < parts.size() || lastIsFolder));
    return list;
}

std::size_t PartCount(const std::string& path) {
    const auto parts = SplitAbsolute(path);
    return parts ? parts->size() : 0;
}

}  // namespace

std::string HomeFolder() {
    std::string home;
    if (const char* env = std::getenv("HOME"); env != nullptr && env[0] == '/') {
        home = env;
    } else {
        std::vector<char> buffer(16384);
        passwd entry{};
        passwd* found = nullptr;
        if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
            found != nullptr && found->pw_dir != nullptr && found->pw_dir[0] == '/')
            home = found->pw_dir;
    }
    home = Normalised(home);
    return home.empty() ? "/" : home;
}

std::shared_ptr<TShellFolder> SHGetDesktopFolder() {
    static const std::shared_ptr<TShellFolder> desktop = std::make_shared<TDesktopFolder>();
    return desktop;
}

std::optional<TItemIdList> SHGetSpecialFolderLocation(int csidl) {
    const auto userFolder = [](const char* key,
                               const char* fallback) -> std::optional<TItemIdList> {
        const std::string folder = UserDir(HomeFolder(), key, fallback);
        if (!DirectoryExists(folder)) return std::nullopt;
        return ParseDisplayName(folder);
    };
    switch (csidl) {
        case CSIDL_DESKTOP:
            return TItemIdList();
        case CSIDL_DRIVES:
            return TItemIdList({MakeItem(itComputer)});
        case CSIDL_PERSONAL:
            return userFolder("XDG_DOCUMENTS_DIR", "Documents");
        case CSIDL_DESKTOPDIRECTORY:
            return userFolder("XDG_DESKTOP_DIR", "Desktop");
        case CSIDL_TEMPLATES:
            return userFolder("XDG_TEMPLATES_DIR", "Templates");
        default:
            return std::nullopt;
    }
}

std::string SHGetPathFromIDList(const TItemIdList& absolute) {
    if (absolute.Empty()) return {};
    const auto first = Decode(absolute[0]);
    if (!first) return {};
    std::string path;
    int next = 1;
    switch (first->Kind) {
        case itHome:
            path = HomeFolder();
            break;
        case itEntry: {
            const auto desktop = DesktopFolder();
            if (!desktop) return {};
            path = JoinPath(*desktop, first->Payload);
            break;
        }
        case itComputer: {
            if (absolute.Count() < 2) return {};
            const auto second = Decode(absolute[1]);
            if (!second || (second->Kind != itRoot && second->Kind != itVolume)) return {};
            path = second->Kind == itRoot ? "/" : second->Payload;
            next = 2;
            break;
        }
        default:
            return {};
    }
    for (int i = next; i < absolute.Count(); ++i) {
        const auto entry = Decode(absolute[i]);
        if (!entry || entry->Kind != itEntry) return {};
        path = JoinPath(path, entry->Payload);
    }
    return path;
}

std::optional<TItemIdList> ParseDisplayName(const std::string& path) {
    if (path == kDesktopParsingName) return TItemIdList();
    if (path == kComputerParsingName) return TItemIdList({MakeItem(itComputer)});
    const auto parts = SplitAbsolute(path);
    if (!parts) return std::nullopt;
    const std::string normal = JoinParts(*parts);
    struct stat st {};
    if (lstat(normal.c_str(), &st) != 0) return std::nullopt;
    const bool folder = DirectoryExists(normal);

    const std::string home = HomeFolder();
    if (const auto desktop = DesktopFolder(home);
        desktop && normal != *desktop && IsAtOrUnder(normal, *desktop))
        return AppendEntries(TItemIdList(), *parts, PartCount(*desktop), folder);
    // Of the volumes and the home folder, the one that holds the path most closely.
    std::string volume;
    for (const TMountEntry& entry : BrowsableVolumes())
        if (IsAtOrUnder(normal, entry.MountPoint) && entry.MountPoint.size() > volume.size())
            volume = entry.MountPoint;
    if (home != "/" && IsAtOrUnder(normal, home) && home.size() > volume.size())
        return AppendEntries(TItemIdList({MakeItem(itHome)}), *parts, PartCount(home), folder);
    if (!volume.empty())
        return AppendEntries(TItemIdList({MakeItem(itComputer), MakeItem(itVolume, volume)}),
                             *parts, PartCount(volume), folder);
    return AppendEntries(TItemIdList({MakeItem(itComputer), MakeItem(itRoot)}), *parts, 0, folder);
}

}  // namespace pix
