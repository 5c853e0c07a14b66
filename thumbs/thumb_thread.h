// SPDX-License-Identifier: MIT
// The worker that lists a folder's image files and delivers one entry per file: first the
// entries the folder's cache file still holds for unchanged files, then freshly made ones.
#pragma once

#include "platform/file_system.h"
#include "platform/thread.h"
#include "thumbs/thumb_info.h"
#include "thumbs/thumb_maker.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace pix {

class TMemoryStream;
class TThumbCacheFile;

// One image file of the folder and, once its entry was delivered, where the new cache
// file takes its record from.
struct TThumbFile {
    enum TRecord : std::uint8_t {
        rcNone,      // no entry yet (or none that can be kept)
        rcOldCache,  // At is the record's offset in the old cache file
        rcMade,      // At is its offset among the records this load made
    };
    std::string Name;  // no path
    TRecord Record = rcNone;
    std::int64_t At = 0;
    std::int64_t Length = 0;     // the record's size
    std::int32_t FileDate = -1;  // the date the record is kept under in the new cache file
    // For a record this load made: the file's time and size when it was read.
    std::int64_t Stamp = 0;
    std::int64_t Size = -1;
};

// The range of file indices the grid shows, which the thread makes before the others.
// Any thread may set or read it.
class TThumbPriority {
public:
    void Set(int first, int count);
    // The first index and the number of indices.
    std::pair<int, int> Get() const;

private:
    mutable std::mutex FLock;
    int FFirst = 0;
    int FCount = 0;
};

// The folder's file names in ascending order without regard to ASCII case; names that
// differ only in case are different files, ordered by their bytes.
class TThumbFileList {
public:
    // Adds the names that are not there yet.
    void AddAll(const std::vector<std::string>& names);
    // The exact name's position, or -1.
    int Find(const std::string& name) const;
    int Count() const { return static_cast<int>(FItems.size()); }
    TThumbFile& operator[](int index) { return FItems[static_cast<std::size_t>(index)]; }
    const TThumbFile& operator[](int index) const {
        return FItems[static_cast<std::size_t>(index)];
    }
    std::vector<std::string> Names() const;

private:
    std::vector<TThumbFile> FItems;
};

// Records made by earlier loads of a folder that its cache file does not hold yet, because
// the file was not written after them. A later load takes a record whose file is unchanged
// instead of making it again.
struct TThumbCarry {
    struct TItem {
        std::string Name;
        std::int32_t FileDate = -1;  // the date the record is kept under
        std::int64_t At = 0;         // in Records
        std::int64_t Length = 0;
        // The file's last-write time (nanoseconds) and size when the record was made: a
        // file written within the last 2 seconds, whose date the cache cannot trust yet, is
        // still known unchanged while both stay.
        std::int64_t Stamp = 0;
        std::int64_t Size = -1;
    };
    int ThumbWidth = 0;
    int ThumbHeight = 0;
    std::vector<std::uint8_t> Records;  // back to back, as AppendThumbRecord writes them
    std::vector<TItem> Items;           // sorted by name (plain byte order)
    // The item of a name, or null.
    const TItem* Find(const std::string& name) const;
};

// Runs once per folder load. Created suspended on the main thread; the receiver sets the
// members below, then calls Resume. It frees itself when done. OnFileList and OnThumb run
// on the main thread while the worker waits (see TThread::Synchronize); a receiver that
// goes away first detaches through its TSyncTarget.
class TThumbThread : public TThread {
public:
    // `directory` is the folder's path; a trailing "/" is added when missing.
    explicit TThumbThread(const std::string& directory);
    ~TThumbThread() override;

    // Set by the receiver before Resume.
    std::int32_t Generation = 0;
    std::int32_t ThumbWidth = kDefaultThumbWidth;
    std::int32_t ThumbHeight = kDefaultThumbHeight;
    // Decoding workers: 0 = one per processor core (at most kMaxDecoders), 1 = decode on
    // the thread itself. Entries are delivered in the same order either way.
    int DecodeThreads = 0;
    static constexpr int kMaxDecoders = 4;
    // The files on screen, made first and then the rest in file order; entries are still
    // delivered once each, and the cache file written at the end is the same.
    std::shared_ptr<TThumbPriority> Visible;
    // Records of earlier loads that the cache file lacks; taken for unchanged files.
    std::shared_ptr<const TThumbCarry> Carry;
    // Whether the cache file is written when the load made or took records it lacks. Without
    // it those records are handed back through Carried() instead, for a later load to write.
    // Any thread may switch it on while the load runs, until the body has ended.
    std::atomic<bool> WriteCacheFile{true};
    // Whether files without a record are made; without it the load only gathers what the
    // cache file and Carry hold (and writes the cache file).
    bool MakeMissing = true;

    std::function<void(TThumbThread& sender, const std::vector<std::string>& list)> OnFileList;
    // Info holds the entry and Index its file; the handler takes the thumbnail over
    // (TThumbInfo::TakeFrom). FromCache tells whether the entry came from the cache file.
    std::function<void(TThumbThread& sender, int index)> OnThumb;

    const std::string& Directory() const { return FDirectory; }
    int Index() const { return FIndex; }
    const TThumbFileList& Files() const { return FFiles; }
    bool FromCache() const { return FFromCache; }
    bool Changed() const { return FChanged; }
    // Once the body has ended (in OnTerminate): whether the cache file was written, and the
    // records the cache file lacks when it was not (null when there are none).
    bool CacheWritten() const { return FCacheWritten; }
    const std::shared_ptr<const TThumbCarry>& Carried() const { return FCarried; }
    TThumbInfo Info;

    // The cache file of a folder path that ends in "/".
    static std::string CacheFileName(const std::string& directory);

protected:
    void Execute() override;

private:
    void ListFiles();
    void ReadCache();
    // Takes the records of Carry for the files that no cache record was taken for.
    void TakeCarried();
    void MakeThumbnails();
    // The number of workers for `pieces` pieces of work.
    int Workers(int pieces) const;
    // Makes the entry of the file at `index` into `info`, and `key` the date to keep it under.
    // `date` is the file's date as read before it was decoded.
    void MakeOne(int index, TThumbInfo& info, std::int32_t& key, TFileDate& date);
    void Deliver(int index, TThumbInfo& info, std::int32_t key, const TFileDate& date);
    // False when the file could not be written.
    bool WriteCache();
    // Hands the records this load made or took from Carry back through Carried().
    void KeepCarried();

    std::string FDirectory;
    int FIndex = 0;
    TThumbFileList FFiles;
    // The records of the new cache file: first those taken unchanged from the old file, in
    // the order they were taken (FReused names their files), then the ones made here (in
    // FCache) in file order. The entries taken from the old file read their thumbnails
    // from it, and keep it open for as long as they live.
    std::shared_ptr<TThumbCacheFile> FOldCache;
    std::vector<int> FReused;
    std::int64_t FReusedSize = 0;
    std::unique_ptr<TMemoryStream> FCache;
    bool FChanged = false;
    bool FFromCache = false;
    bool FCacheWritten = false;
    std::shared_ptr<const TThumbCarry> FCarried;
};

}  // namespace pix
