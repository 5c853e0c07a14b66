// SPDX-License-Identifier: MIT
#include "platform/file_io.h"

#include "platform/error.h"
#include "platform/file_system.h"
#include "platform/memory.h"
#include "platform/res_strings.h"

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <random>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace pix {

namespace {

// Files are read in pieces of this size so that a huge file does not sit in one syscall
// and a test can interfere between the pieces.
constexpr std::size_t kReadChunk = 4 * 1024 * 1024;

std::mutex gHookMutex;
std::function<void(std::int64_t)> gReadHook;

std::function<void(std::int64_t)> CurrentReadHook() {
    std::lock_guard<std::mutex> lock(gHookMutex);
    return gReadHook;
}

[[noreturn]] void ThrowCreateFile(const std::string& name, int code) {
    throw EOSError(SErrCreateFile, code, name.c_str(), code);
}

[[noreturn]] void ThrowWriteFile(const std::string& name, int code) {
    throw EOSError(SErrWriteFile, code, name.c_str(), code);
}

// Closes a descriptor unless released; keeps Open's error paths free of leaks.
class TFdGuard {
public:
    explicit TFdGuard(int fd) : FFd(fd) {}
    ~TFdGuard() {
        if (FFd >= 0) close(FFd);
    }
    TFdGuard(const TFdGuard&) = delete;
    TFdGuard& operator=(const TFdGuard&) = delete;
    TFdGuard(TFdGuard&& other) noexcept : FFd(other.Release()) {}
    int Get() const { return FFd; }
    int Release() { return std::exchange(FFd, -1); }

private:
    int FFd;
};

bool WriteAll(int fd, const std::uint8_t* data, std::size_t count, off_t offset, bool positioned) {
    while (count > 0) {
        const ssize_t n = positioned ? pwrite(fd, data, count, offset) : write(fd, data, count);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) {
            errno = EIO;
            return false;
        }
        data += n;
        count -= static_cast<std::size_t>(n);
        offset += n;
    }
    return true;
}

}  // namespace

void TFileView::SetReadHookForTesting(std::function<void(std::int64_t)> hook) {
    std::lock_guard<std::mutex> lock(gHookMutex);
    gReadHook = std::move(hook);
}

namespace {

// Opens a regular file for reading (and writing) and gives its size.
TFdGuard OpenRegularFile(const std::string& fileName, bool writable, std::int64_t& size) {
    // O_NONBLOCK keeps open() from waiting for a writer when the name is a FIFO; such
    // files are refused below anyway.
    const int flags = (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC | O_NONBLOCK;
    TFdGuard fd(open(fileName.c_str(), flags));
    if (fd.Get() < 0) ThrowCreateFile(fileName, errno);

    struct stat st {};
    if (fstat(fd.Get(), &st) != 0) ThrowCreateFile(fileName, errno);
    if (S_ISDIR(st.st_mode)) ThrowCreateFile(fileName, EISDIR);
    if (!S_ISREG(st.st_mode)) ThrowCreateFile(fileName, EINVAL);
    const int fileFlags = fcntl(fd.Get(), F_GETFL);
    if (fileFlags >= 0) fcntl(fd.Get(), F_SETFL, fileFlags & ~O_NONBLOCK);
    size = st.st_size;
    return fd;
}

}  // namespace

TFileHead ReadFileHead(const std::string& fileName, std::size_t count) {
    TFileHead head;
    TFdGuard fd = OpenRegularFile(fileName, false, head.Size);
    head.Bytes.resize(static_cast<std::size_t>(
        std::clamp<std::int64_t>(head.Size, 0, static_cast<std::int64_t>(count))));
    std::size_t done = 0;
    while (done < head.Bytes.size()) {
        const ssize_t n = pread(fd.Get(), head.Bytes.data() + done, head.Bytes.size() - done,
                                static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw EStreamError(SReadError);
        if (n == 0) break;  // shrunk since: the bytes that are there
        done += static_cast<std::size_t>(n);
    }
    head.Bytes.resize(done);
    return head;
}

std::unique_ptr<TFileView> TFileView::Open(const std::string& fileName, std::uint32_t mode,
                                           std::stop_token stop) {
    const std::uint32_t access = mode & 3;
    const bool writable = access == fmOpenWrite || access == fmOpenReadWrite;
    std::int64_t size = 0;
    TFdGuard fd = OpenRegularFile(fileName, writable, size);

    if (size <= 0) throw EOSError(SErrCreateMapping, EINVAL, EINVAL);
    if (size > kMaxFileSize) throw EPixError(SErrFileTooLarge, fileName.c_str());

    auto view = std::make_unique<TFileView>(TOpenTag{});
    view->FName = fileName;
    view->FAllocated = static_cast<std::size_t>(size);
    view->FData = static_cast<std::uint8_t*>(MapAnonymousMemory(view->FAllocated));
    view->FSize = size;

    const auto hook = CurrentReadHook();
    std::int64_t done = 0;
    while (done < size) {
        if (stop.stop_requested()) throw EPixError(SLoadCancelled);
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::int64_t>(size - done, kReadChunk));
        PopulateMemory(view->FData + done, want);
        const ssize_t n = pread(fd.Get(), view->FData + done, want, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        // The file shrank under us (or the device failed): the bytes we were promised are
        // not there, which the readers must see as a failed read, not as zeros.
        if (n <= 0) throw EStreamError(SReadError);
        done += n;
        if (hook) hook(done);
    }
    if (writable) view->FFd = fd.Release();
    return view;
}

TFileView::~TFileView() {
    if (FFd >= 0) {
        try {
            Flush();
        } catch (const EPixError&) {
            // A destructor cannot report; callers that care call Flush themselves.
        }
        close(FFd);
    }
    UnmapAnonymousMemory(FData, FAllocated);
}

void TFileView::MarkWritten(std::int64_t offset, std::int64_t count) {
    if (count <= 0 || offset >= FSize) return;
    offset = std::max<std::int64_t>(offset, 0);
    const std::int64_t end = count > FSize - offset ? FSize : offset + count;
    if (FDirtyBegin < 0) {
        FDirtyBegin = offset;
        FDirtyEnd = end;
    } else {
        FDirtyBegin = std::min(FDirtyBegin, offset);
        FDirtyEnd = std::max(FDirtyEnd, end);
    }
}

void TFileView::Flush() {
    if (FFd < 0 || FDirtyBegin < 0) return;
    const std::int64_t begin = FDirtyBegin;
    const std::int64_t end = FDirtyEnd;
    if (!WriteAll(FFd, FData + begin, static_cast<std::size_t>(end - begin),
                  static_cast<off_t>(begin), true))
        ThrowWriteFile(FName, errno);
    FDirtyBegin = FDirtyEnd = -1;
}

namespace {

constexpr char kTempLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
constexpr char kTempInfix[] = ".tmp";
constexpr std::size_t kTempRandom = 6;

struct TDirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};

}  // namespace

void RemoveStaleTemporaryFiles(const std::string& fileName, std::chrono::seconds age) {
    const std::string folder = ExtractFileDir(fileName);
    const std::string prefix = ExtractFileName(fileName) + kTempInfix;
    std::unique_ptr<DIR, TDirCloser> dir(opendir(folder.empty() ? "." : folder.c_str()));
    if (!dir) return;
    const std::time_t oldest = std::time(nullptr) - static_cast<std::time_t>(age.count());
    while (const dirent* entry = readdir(dir.get())) {
        const std::string_view name = entry->d_name;
        if (name.size() != prefix.size() + kTempRandom || !name.starts_with(prefix)) continue;
        const std::string_view random = name.substr(prefix.size());
        if (random.find_first_not_of(kTempLetters) != std::string_view::npos) continue;
        struct stat st {};
        if (fstatat(dirfd(dir.get()), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISREG(st.st_mode) || st.st_mtime >= oldest)
            continue;
        unlinkat(dirfd(dir.get()), entry->d_name, 0);
    }
}

namespace {

std::int64_t Nanoseconds(const struct timespec& time) {
    return std::int64_t{time.tv_sec} * 1000000000 + time.tv_nsec;
}

}  // namespace

std::unique_ptr<TReadFile> TReadFile::Open(const std::string& fileName) {
    std::int64_t size = 0;
    TFdGuard fd = OpenRegularFile(fileName, false, size);
    struct stat st {};
    if (fstat(fd.Get(), &st) != 0) ThrowCreateFile(fileName, errno);
    auto file = std::make_unique<TReadFile>(TOpenTag{});
    file->FSize = st.st_size;
    file->FModified = Nanoseconds(st.st_mtim);
    file->FFd = fd.Release();
    return file;
}

TReadFile::~TReadFile() {
    if (FFd >= 0) close(FFd);
}

std::size_t TReadFile::ReadAt(std::int64_t offset, void* buffer, std::size_t count) const {
    if (offset < 0) throw EStreamError(SReadError);
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = pread(FFd, bytes + done, count - done,
                                static_cast<off_t>(offset + static_cast<std::int64_t>(done)));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw EStreamError(SReadError);
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}

bool TReadFile::Changed() const {
    struct stat st {};
    if (fstat(FFd, &st) != 0) return true;
    return st.st_size != FSize || Nanoseconds(st.st_mtim) != FModified;
}

TAtomicFile::TAtomicFile(const std::string& fileName) : FName(fileName) {
    // Our own unique name rather than mkstemp: open() with 0666 lets the umask decide the
    // permissions, as for any file the user creates, where mkstemp would force 0600.
    std::random_device device;
    std::mt19937 random(device());
    std::uniform_int_distribution<std::size_t> pick(0, sizeof(kTempLetters) - 2);
    int code = EEXIST;
    for (int attempt = 0; attempt < 100 && code == EEXIST; ++attempt) {
        std::string candidate = fileName + kTempInfix;
        for (std::size_t i = 0; i < kTempRandom; ++i) candidate += kTempLetters[pick(random)];
        const int fd = open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            FFd = fd;
            FTempName = std::move(candidate);
            return;
        }
        code = errno;
    }
    ThrowCreateFile(fileName, code);
}

TAtomicFile::~TAtomicFile() {
    if (FFd >= 0) close(FFd);
    if (!FTempName.empty()) unlink(FTempName.c_str());
}

void TAtomicFile::Write(const void* data, std::size_t count) {
    if (FFd < 0) ThrowWriteFile(FName, EBADF);
    if (!WriteAll(FFd, static_cast<const std::uint8_t*>(data), count, 0, false))
        ThrowWriteFile(FName, errno);
}

void TAtomicFile::Commit() {
    if (FFd < 0) ThrowWriteFile(FName, EBADF);
    // The data must be on disk before the rename makes it the target: otherwise a crash
    // could leave a renamed but empty file in place of a good old one.
    if (fsync(FFd) != 0) ThrowWriteFile(FName, errno);
    const int fd = std::exchange(FFd, -1);
    if (close(fd) != 0) ThrowWriteFile(FName, errno);
    if (rename(FTempName.c_str(), FName.c_str()) != 0) ThrowWriteFile(FName, errno);
    FTempName.clear();
}

}  // namespace pix
