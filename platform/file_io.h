// SPDX-License-Identifier: MIT
// Whole-file views for the readers, and files written so that a failure leaves nothing behind.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <stop_token>
#include <string>
#include <vector>

namespace pix {

// The file-open mode word: the low two bits are the access, bits 4 to 6 the sharing.
enum : std::uint32_t {
    fmOpenRead = 0x0000,
    fmOpenWrite = 0x0001,
    fmOpenReadWrite = 0x0002,
    fmShareCompat = 0x0000,
    fmShareExclusive = 0x0010,
    fmShareDenyWrite = 0x0020,
    fmShareDenyRead = 0x0030,
    fmShareDenyNone = 0x0040,
};

// The largest file that can be read; 2 GiB and more are refused, since the stored formats
// hold 32-bit signed sizes and offsets.
inline constexpr std::int64_t kMaxFileSize = 0x7FFFFFFF;

// A whole file held in memory that the view owns.
//
// Another process may truncate or rewrite a file while we look at it (the acquisition
// system finishing an image); a shared mapping would then kill us with SIGBUS when a lost
// page is touched. The view therefore reads the file into an anonymous block at open: a
// file that shrinks during that read ends in EStreamError(SReadError), and afterwards the
// view never changes underneath its readers.
//
// With write access the file is opened for reading and writing, and Flush (also run by the
// destructor, errors then swallowed) writes the bytes marked through MarkWritten back.
// The sharing bits are accepted; Linux has no mandatory share modes.
class TFileView {
public:
    // Errors: EOSError(SErrCreateFile, name, errno) when the file cannot be opened;
    // EOSError(SErrCreateMapping, EINVAL) for an empty file, which cannot be mapped;
    // EPixError(SErrFileTooLarge) above kMaxFileSize; EStreamError(SReadError) when the
    // file cannot be read whole; EPixError(SLoadCancelled) when a stop was requested through
    // `stop` while the file was read.
    static std::unique_ptr<TFileView> Open(const std::string& fileName, std::uint32_t mode,
                                           std::stop_token stop = {});
    ~TFileView();
    TFileView(const TFileView&) = delete;
    TFileView& operator=(const TFileView&) = delete;

    std::uint8_t* Data() { return FData; }
    const std::uint8_t* Data() const { return FData; }
    std::int64_t Size() const { return FSize; }
    std::span<const std::uint8_t> Bytes() const { return {FData, static_cast<std::size_t>(FSize)}; }
    bool Writable() const { return FFd >= 0; }

    // Records that bytes [offset, offset + count) were changed through Data().
    void MarkWritten(std::int64_t offset, std::int64_t count);
    // Writes the changed bytes back to the file; throws EOSError(SErrWriteFile) on failure.
    void Flush();

    // Test seam: called after each chunk that Open reads, with the bytes read so far.
    static void SetReadHookForTesting(std::function<void(std::int64_t)> hook);

private:
    // Only Open makes views: the tag's name is private, yet std::make_unique may call the
    // public constructor that takes it.
    struct TOpenTag {
        explicit TOpenTag() = default;
    };

public:
    explicit TFileView(TOpenTag) {}

private:
    std::string FName;
    std::uint8_t* FData = nullptr;
    std::int64_t FSize = 0;
    std::size_t FAllocated = 0;
    int FFd = -1;  // kept open only for write access
    std::int64_t FDirtyBegin = -1;
    std::int64_t FDirtyEnd = -1;
};

// The first bytes of a file and its size: enough to check a signature before the whole
// file is read.
struct TFileHead {
    std::vector<std::uint8_t> Bytes;  // the count asked for, or the whole of a shorter file
    std::int64_t Size = 0;
};
// Errors as TFileView::Open for a file that cannot be opened or is no regular file;
// EStreamError(SReadError) when the bytes cannot be read.
TFileHead ReadFileHead(const std::string& fileName, std::size_t count);

// A file kept open for reads at any offset, for as long as the object lives. The reads copy
// into the caller's buffer and never map the file: a file that another process shrinks or
// rewrites underneath costs short reads or other bytes, never a fault. A file renamed over
// the name later leaves this one as it was, since the object reads the file it opened.
class TReadFile {
public:
    // Errors as TFileView::Open for a file that cannot be opened or is no regular file.
    static std::unique_ptr<TReadFile> Open(const std::string& fileName);
    ~TReadFile();
    TReadFile(const TReadFile&) = delete;
    TReadFile& operator=(const TReadFile&) = delete;

    // The size when opened.
    std::int64_t Size() const { return FSize; }
    // Reads up to `count` bytes at `offset` and returns how many were read: fewer only where
    // the file ends. Any thread may call it. Throws EStreamError(SReadError) when the system
    // refuses the read.
    std::size_t ReadAt(std::int64_t offset, void* buffer, std::size_t count) const;
    // True when the file's size or modification time differ from what they were at open, or
    // cannot be asked: its bytes may no longer be those that were read. Removing or
    // renaming the file changes neither (only its status time, which is not compared).
    bool Changed() const;

private:
    struct TOpenTag {};

public:
    explicit TReadFile(TOpenTag) {}

private:
    int FFd = -1;
    std::int64_t FSize = 0;
    std::int64_t FModified = 0;  // nanoseconds
};

// A file created for writing. Bytes go to a temporary file beside the target, and Commit
// renames it over the target; destroying the object without Commit removes the temporary
// file, so a failed write never leaves a partial file behind.
class TAtomicFile {
public:
    // The temporary file's name: the target's name, ".tmp" and six letters or digits.
    // Throws EOSError(SErrCreateFile, name, errno) when the temporary file cannot be made.
    explicit TAtomicFile(const std::string& fileName);
    ~TAtomicFile();
    TAtomicFile(const TAtomicFile&) = delete;
    TAtomicFile& operator=(const TAtomicFile&) = delete;

    // Throws EOSError(SErrWriteFile, name, errno) when the bytes cannot be written.
    void Write(const void* data, std::size_t count);
    // Flushes, closes and renames into place; throws EOSError(SErrWriteFile) on failure.
    void Commit();
    const std::string& FileName() const { return FName; }

private:
    std::string FName;
    std::string FTempName;
    int FFd = -1;
};

// Removes the temporary files of TAtomicFile for `fileName` that a killed or crashed writer
// left behind, once they are older than `age`: a younger one may be a write in progress.
// Files of other names, folders and links are left alone; failures are ignored.
void RemoveStaleTemporaryFiles(const std::string& fileName, std::chrono::seconds age);

}  // namespace pix
