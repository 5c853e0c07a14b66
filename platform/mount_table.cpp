// SPDX-License-Identifier: MIT
#include "platform/mount_table.h"

#include "platform/shell_folder.h"
#include "platform/thread.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <poll.h>
#include <stop_token>
#include <sys/eventfd.h>
#include <unistd.h>
#include <vector>

namespace pix {

namespace {

constexpr const char* kMountInfo = "/proc/self/mountinfo";

// File systems that only the kernel or the system itself uses; nobody browses them.
constexpr std::array<std::string_view, 28> kPseudoFileSystems = {"proc",        "sysfs",
                                                                 "tmpfs",       "devtmpfs",
                                                                 "devpts",      "cgroup",
                                                                 "cgroup2",     "overlay",
                                                                 "autofs",      "fusectl",
                                                                 "tracefs",     "debugfs",
                                                                 "securityfs",  "bpf",
                                                                 "mqueue",      "hugetlbfs",
                                                                 "pstore",      "configfs",
                                                                 "binfmt_misc", "efivarfs",
                                                                 "nsfs",        "ramfs",
                                                                 "rpc_pipefs",  "selinuxfs",
                                                                 "nfsd",        "fuse.gvfsd-fuse",
                                                                 "fuse.portal", "fuse.lxcfs"};

constexpr std::array<std::string_view, 20> kNetworkFileSystems = {
    "nfs",       "nfs4",           "cifs",  "smb3",        "smbfs",
    "sshfs",     "fuse.sshfs",     "9p",    "afs",         "ceph",
    "glusterfs", "fuse.glusterfs", "davfs", "fuse.davfs2", "fuse.rclone",
    "fuse.s3fs", "ncpfs",          "coda",  "lustre",      "fuse.curlftpfs"};

// The system's own folders: a mount on or below one belongs to the system, not the user.
constexpr std::array<std::string_view, 21> kSystemFolders = {
    "/boot", "/usr",  "/var",  "/tmp",   "/home",  "/opt",    "/srv",
    "/run",  "/sys",  "/proc", "/dev",   "/etc",   "/snap",   "/root",
    "/bin",  "/sbin", "/lib",  "/lib32", "/lib64", "/libx32", "/lost+found"};

// Folders where the desktop and the user mount media and other disks.
constexpr std::array<std::string_view, 3> kMediaFolders = {"/media", "/run/media", "/mnt"};

bool IsOctal(char c) { return c >= '0' && c <= '7'; }

// The kernel writes space, tab, newline and backslash in paths as \ooo.
std::optional<std::string> Unescape(std::string_view text) {
    std::string result;
    result.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && text.size() - i > 3 && IsOctal(text[i + 1]) &&
            IsOctal(text[i + 2]) && IsOctal(text[i + 3])) {
            const int value =
                (text[i + 1] - '0') * 64 + (text[i + 2] - '0') * 8 + (text[i + 3] - '0');
            if (value > 0xFF) return std::nullopt;
            result.push_back(static_cast<char>(value));
            i += 3;
        } else {
            result.push_back(text[i]);
        }
    }
    if (result.find('\0') != std::string::npos) return std::nullopt;
    return result;
}

bool AllDigits(std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::vector<std::string_view> SplitFields(std::string_view line) {
    std::vector<std::string_view> fields;
    std::size_t at = 0;
    while (at < line.size()) {
        while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) ++at;
        const std::size_t start = at;
        while (at < line.size() && line[at] != ' ' && line[at] != '\t') ++at;
        if (at > start) fields.push_back(line.substr(start, at - start));
    }
    return fields;
}

std::optional<TMountEntry> ParseLine(std::string_view line) {
    const std::vector<std::string_view> fields = SplitFields(line);
    // id parent maj:min root mountpoint options [optional...] - fstype source [superoptions]
    if (fields.size() < 9 || !AllDigits(fields[0]) || !AllDigits(fields[1]) ||
        fields[2].find(':') == std::string_view::npos)
        return std::nullopt;
    std::size_t separator = 6;
    while (separator < fields.size() && fields[separator] != "-") ++separator;
    if (separator + 2 >= fields.size()) return std::nullopt;
    auto mountPoint = Unescape(fields[4]);
    auto fsType = Unescape(fields[separator + 1]);
    auto source = Unescape(fields[separator + 2]);
    if (!mountPoint || !fsType || !source || mountPoint->empty() || mountPoint->front() != '/')
        return std::nullopt;
    return TMountEntry{std::move(*mountPoint), std::move(*source), std::move(*fsType)};
}

bool IsUnder(std::string_view path, std::string_view folder) {
    return path.size() > folder.size() && path.substr(0, folder.size()) == folder &&
           path[folder.size()] == '/';
}

// A path as the kernel writes it: absolute, without empty, "." or ".." parts or a trailing
// "/". Anything else in a mount table is hostile text.
bool IsCanonical(std::string_view path) {
    if (path.empty() || path.front() != '/') return false;
    if (path == "/") return true;
    std::size_t at = 1;
    while (true) {
        const std::size_t end = std::min(path.find('/', at), path.size());
        const std::string_view part = path.substr(at, end - at);
        if (part.empty() || part == "." || part == "..") return false;
        if (end == path.size()) return true;
        at = end + 1;
    }
}

std::string ReadWholeFile(const char* path) {
    std::string text;
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return text;
    char buffer[16384];
    while (true) {
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        text.append(buffer, static_cast<std::size_t>(got));
    }
    close(fd);
    return text;
}

std::string ReadTrimmed(const std::string& path) {
    std::string text = ReadWholeFile(path.c_str());
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
}

struct TSourceSlot {
    std::mutex Lock;
    std::function<std::string()> Source;
};

TSourceSlot& SourceSlot() {
    static TSourceSlot slot;
    return slot;
}

std::string ReadMountTable() {
    std::function<std::string()> source;
    {
        std::lock_guard lock(SourceSlot().Lock);
        source = SourceSlot().Source;
    }
    return source ? source() : ReadWholeFile(kMountInfo);
}

bool HasInstalledSource() {
    std::lock_guard lock(SourceSlot().Lock);
    return static_cast<bool>(SourceSlot().Source);
}

}  // namespace

std::vector<TMountEntry> ParseMountInfo(std::string_view text) {
    std::vector<TMountEntry> entries;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        if (auto entry = ParseLine(text.substr(at, end - at))) entries.push_back(std::move(*entry));
        at = end + 1;
    }
    return entries;
}

bool IsAtOrUnder(std::string_view path, std::string_view folder) {
    return path == folder || IsUnder(path, folder);
}

bool IsNetworkFileSystem(const std::string& fsType) {
    return std::find(kNetworkFileSystems.begin(), kNetworkFileSystems.end(), fsType) !=
           kNetworkFileSystems.end();
}

bool IsBrowsableVolume(const TMountEntry& entry, const std::string& home) {
    const std::string& point = entry.MountPoint;
    if (!IsCanonical(point) || point == "/") return false;
    if (std::find(kPseudoFileSystems.begin(), kPseudoFileSystems.end(), entry.FsType) !=
            kPseudoFileSystems.end() ||
        entry.FsType.starts_with("cgroup"))
        return false;
    // The home folder itself is shown as such; what is mounted below it is the user's own.
    if (IsCanonical(home) && home != "/") {
        if (point == home) return false;
        if (IsUnder(point, home)) return true;
    }
    for (std::string_view media : kMediaFolders)
        if (IsAtOrUnder(point, media)) return true;
    for (std::string_view system : kSystemFolders)
        if (IsAtOrUnder(point, system)) return false;
    return IsNetworkFileSystem(entry.FsType) || entry.Source.starts_with("/dev/");
}

void SetMountTableSource(std::function<std::string()> source) {
    std::lock_guard lock(SourceSlot().Lock);
    SourceSlot().Source = std::move(source);
}

std::vector<TMountEntry> BrowsableVolumes() {
    const std::string home = HomeFolder();
    // A later mount on the same point hides the earlier ones.
    std::map<std::string, TMountEntry> byPoint;
    for (TMountEntry& entry : ParseMountInfo(ReadMountTable())) byPoint[entry.MountPoint] = entry;
    std::vector<TMountEntry> volumes;
    for (auto& [point, entry] : byPoint)
        if (IsBrowsableVolume(entry, home)) volumes.push_back(std::move(entry));
    return volumes;
}

std::optional<TMountEntry> FindBrowsableVolume(const std::string& mountPoint) {
    for (TMountEntry& entry : BrowsableVolumes())
        if (entry.MountPoint == mountPoint) return std::move(entry);
    return std::nullopt;
}

bool IsRemovableVolume(const TMountEntry& entry) {
    for (std::string_view media : {"/media", "/run/media"})
        if (IsUnder(entry.MountPoint, media)) return true;
    if (!entry.Source.starts_with("/dev/")) return false;
    // /sys/class/block/<name> leads to the partition's folder, inside its disk's folder; the
    // disk's folder holds the "removable" mark.
    char device[PATH_MAX];
    if (realpath(entry.Source.c_str(), device) == nullptr) return false;
    const std::string name = std::string(device).substr(std::string(device).rfind('/') + 1);
    char sysPath[PATH_MAX];
    if (name.empty() || realpath(("/sys/class/block/" + name).c_str(), sysPath) == nullptr)
        return false;
    const std::string folder = sysPath;
    std::string mark = ReadTrimmed(folder + "/removable");
    if (mark.empty()) mark = ReadTrimmed(folder.substr(0, folder.rfind('/')) + "/removable");
    return mark == "1";
}

TShellIconKind VolumeIconKind(const TMountEntry& entry) {
    if (IsNetworkFileSystem(entry.FsType)) return ikDriveNetwork;
    if (entry.FsType == "iso9660" || entry.FsType == "udf" || entry.Source.starts_with("/dev/sr"))
        return ikDriveOptical;
    if (IsRemovableVolume(entry)) return ikDriveRemovable;
    return ikDriveHarddisk;
}

// The monitor's report, shared with the calls posted to the main thread: a call that
// arrives after the monitor is gone finds no reporter and does nothing.
struct TMountReporter {
    std::function<void()> OnChange;
    std::atomic<bool> Pending{false};
};

namespace {

struct TReporterRegistry {
    std::mutex Lock;
    std::vector<std::weak_ptr<TMountReporter>> Reporters;
};

TReporterRegistry& Reporters() {
    static TReporterRegistry registry;
    return registry;
}

// Waits for the mount table's change signal: the kernel marks an open mountinfo file with
// POLLPRI | POLLERR once after each change of the mount namespace.
class TMountWatchThread final : public TThread {
public:
    TMountWatchThread(int tableFd, int stopFd, std::shared_ptr<TMountReporter> reporter)
        : FTableFd(tableFd), FStopFd(stopFd), FReporter(std::move(reporter)) {}
    ~TMountWatchThread() override {
        close(FTableFd);
        close(FStopFd);
    }
    void Stop() {
        const std::uint64_t one = 1;
        (void)!write(FStopFd, &one, sizeof one);
        StopAndWait();
    }

protected:
    void Execute() override {
        // Terminate (also the program's end of all threads) ends the wait.
        const std::stop_callback wake(StopToken(), [this] {
            const std::uint64_t one = 1;
            (void)!write(FStopFd, &one, sizeof one);
        });
        while (!Terminated()) {
            pollfd fds[2] = {{FTableFd, POLLPRI, 0}, {FStopFd, POLLIN, 0}};
            if (poll(fds, 2, -1) < 0) {
                if (errno == EINTR) continue;
                return;
            }
            if (fds[1].revents != 0 || (fds[0].revents & POLLNVAL) != 0) return;
            if ((fds[0].revents & (POLLPRI | POLLERR)) != 0) {
                // The monitor's sync target guards the call: it is dropped once the monitor
                // is destroyed, and the reporter is only read on the main thread.
                TMountReporter* reporter = FReporter.get();
                if (!Synchronize([reporter] { reporter->OnChange(); })) return;
            }
        }
    }

private:
    int FTableFd;
    int FStopFd;
    std::shared_ptr<TMountReporter> FReporter;
};

}  // namespace

struct TMountMonitor::TState {
    std::shared_ptr<TMountReporter> Reporter = std::make_shared<TMountReporter>();
    TSyncTarget Target;
    std::unique_ptr<TMountWatchThread> Watch;
};

TMountMonitor::TMountMonitor(std::function<void()> onChange) : FState(std::make_unique<TState>()) {
    FState->Reporter->OnChange = std::move(onChange);
    {
        std::lock_guard lock(Reporters().Lock);
        auto& list = Reporters().Reporters;
        std::erase_if(list, [](const auto& weak) { return weak.expired(); });
        list.push_back(FState->Reporter);
    }
    if (HasInstalledSource()) return;
    const int tableFd = open(kMountInfo, O_RDONLY | O_CLOEXEC);
    if (tableFd < 0) return;
    const int stopFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (stopFd < 0) {
        close(tableFd);
        return;
    }
    FState->Watch = std::make_unique<TMountWatchThread>(tableFd, stopFd, FState->Reporter);
    FState->Watch->SetSyncTarget(FState->Target);
    FState->Watch->Watcher = true;
    FState->Watch->Resume();
}

TMountMonitor::~TMountMonitor() {
    if (FState->Watch) FState->Watch->Stop();
    FState->Watch.reset();
    std::lock_guard lock(Reporters().Lock);
    std::erase_if(Reporters().Reporters, [&](const auto& weak) {
        const auto reporter = weak.lock();
        return !reporter || reporter == FState->Reporter;
    });
}

void TMountMonitor::NotifyMountsChanged() {
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr) return;
    std::lock_guard lock(Reporters().Lock);
    for (const std::weak_ptr<TMountReporter>& weak : Reporters().Reporters) {
        const auto reporter = weak.lock();
        // One report on its way covers every change before it is handled.
        if (!reporter || reporter->Pending.exchange(true)) continue;
        QMetaObject::invokeMethod(
            app,
            [weak] {
                if (const auto live = weak.lock()) {
                    live->Pending = false;
                    if (live->OnChange) live->OnChange();
                }
            },
            Qt::QueuedConnection);
    }
}

}  // namespace pix
