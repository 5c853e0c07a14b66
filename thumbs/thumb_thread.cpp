// SPDX-License-Identifier: MIT
#include "thumbs/thumb_thread.h"

#include "formats/format_table.h"
#include "imaging/stream.h"
#include "platform/error.h"
#include "platform/file_io.h"
#include "platform/file_system.h"
#include "thumbs/image_signature.h"
#include "thumbs/thumb_cache.h"
#include "thumbs/thumb_messages.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <limits>
#include <mutex>
#include <thread>

namespace pix {
namespace {

// Orders names without regard to ASCII case, then by their bytes, so that names that
// differ only in case stay apart and in a fixed order.
bool NameLess(const std::string& a, const std::string& b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        auto ca = static_cast<unsigned char>(a[i]);
        auto cb = static_cast<unsigned char>(b[i]);
        if (ca >= 'a' && ca <= 'z') ca = static_cast<unsigned char>(ca - 32);
        if (cb >= 'a' && cb <= 'z') cb = static_cast<unsigned char>(cb - 32);
        if (ca != cb) return ca < cb;
    }
    if (a.size() != b.size()) return a.size() < b.size();
    return a < b;
}

// Entries read from the cache are handed over in groups: one wait for the main thread per
// group instead of per entry keeps re-opening a large folder quick. A group closes after
// this many entries or this long after its first one.
constexpr std::size_t kCacheBatchCount = 64;
constexpr auto kCacheBatchTime = std::chrono::milliseconds(20);

// What the workers of all loads hold at once: the files they read whole, the pictures
// decoded from them and the cache files read. Twice the largest picture leaves room for a
// file of the largest size with a picture as large; a worker reserves its part before it
// opens a file, so four workers on four huge files take turns instead of taking it all.
TByteBudget& MemoryBudget() {
    static TByteBudget budget([] { return static_cast<std::int64_t>(2 * PictureMemoryLimit()); });
    return budget;
}

// What a worker reserves for a file of `size` bytes: the file read whole and a picture up
// to that size (an uncompressed picture is about as large as its file), within the limit
// of a picture.
std::int64_t FileMemory(std::int64_t size) {
    return size + std::min(size, static_cast<std::int64_t>(PictureMemoryLimit()));
}

// A picture needs more memory than its worker reserved (a small compressed file may decode
// to a gigabyte), and the budget has no room for the rest now.
class EPictureMemoryBusy : public EPixError {
public:
    EPictureMemoryBusy() : EPixError(SPictureMemoryBusy) {}
};

// The memory of one load: what its worker reserved for the picture, and more from the
// budget when the decoder announces a larger need. A load that runs alone takes what it
// needs without asking.
class TLoadMemory final : public TPictureMemoryAccount {
public:
    TLoadMemory(std::int64_t covered, bool alone) : FCovered(covered), FAlone(alone) {}

    void Take(std::uint64_t bytes) override {
        const auto need = static_cast<std::int64_t>(bytes);
        if (FAlone || need <= FCovered) return;
        TByteBudget::TReservation more = MemoryBudget().TryReserve(need - FCovered);
        if (!more.Held()) throw EPictureMemoryBusy();
        FCovered = need;
        FMore.push_back(std::move(more));
    }

private:
    std::int64_t FCovered;
    bool FAlone;
    std::vector<TByteBudget::TReservation> FMore;
};

// One piece of work of RunInOrder: the entry it made, whether that worked, and the date
// under which the new cache file keeps it.
struct TSlot {
    TThumbInfo Info;
    bool Ok = false;
    std::int32_t Key = -1;
};

// Whether a cache entry's date still stands for the file. A -1 stands for a missing file
// and for one dated outside the packed form's years; only the latter matches it, so that
// such a file is not made again at every visit.
bool DateMatches(std::int32_t stored, const TFileDate& date) {
    return date.Exists && stored == date.Age;
}

// The date kept for an entry made from the file dated `date`. A file written within the
// last 2-second step (still being written by the acquisition system, perhaps) can change
// again under the same date: its entry is kept under a date whose seconds read 60, which
// no file has, so the next load makes it again.
std::int32_t CacheKey(const TFileDate& date) {
    if (date.Settled) return date.Age;
    constexpr std::uint32_t kSecondsField = 0x1F;
    constexpr std::uint32_t kSixtySeconds = 30;
    return static_cast<std::int32_t>((static_cast<std::uint32_t>(date.Age) & ~kSecondsField) |
                                     kSixtySeconds);
}

// Runs produce(position, slot) for positions 0..count-1 on `workers` threads (on this thread
// alone when workers < 2) and consume(position, slot) on this thread in position order,
// so the outcome does not depend on the number of workers. At most `window` slots wait
// for their turn. Stops when consume returns false or stop() turns true; workers check
// stop() before each piece.
void RunInOrder(int count, int workers, int window, const std::function<bool()>& stop,
                const std::function<void(int, TSlot&)>& produce,
                const std::function<bool(int, TSlot&)>& consume) {
    if (workers < 2) {
        TSlot slot;
        for (int position = 0; position < count; ++position) {
            if (stop()) return;
            slot = TSlot{};
            produce(position, slot);
            if (!consume(position, slot)) return;
        }
        return;
    }

    std::vector<std::unique_ptr<TSlot>> slots(static_cast<std::size_t>(count));
    std::mutex lock;
    std::condition_variable changed;
    int claimed = 0;
    int consumed = 0;
    bool finished = false;

    auto work = [&] {
        for (;;) {
            int position;
            {
                std::unique_lock guard(lock);
                changed.wait(guard, [&] {
                    return finished || claimed >= count || claimed < consumed + window;
                });
                if (finished || claimed >= count) return;
                position = claimed++;
            }
            auto slot = std::make_unique<TSlot>();
            if (!stop()) produce(position, *slot);
            {
                std::lock_guard guard(lock);
                slots[static_cast<std::size_t>(position)] = std::move(slot);
            }
            changed.notify_all();
        }
    };

    std::vector<std::thread> pool;
    struct TJoin {
        std::vector<std::thread>& Pool;
        std::mutex& Lock;
        std::condition_variable& Changed;
        bool& Finished;
        ~TJoin() {
            {
                std::lock_guard guard(Lock);
                Finished = true;
            }
            Changed.notify_all();
            for (std::thread& t : Pool) t.join();
        }
    } join{pool, lock, changed, finished};
    for (int i = 0; i < workers; ++i) pool.emplace_back(work);

    for (int position = 0; position < count; ++position) {
        if (stop()) return;
        std::unique_ptr<TSlot> slot;
        {
            std::unique_lock guard(lock);
            changed.wait(guard,
                         [&] { return slots[static_cast<std::size_t>(position)] != nullptr; });
            slot = std::move(slots[static_cast<std::size_t>(position)]);
            consumed = position + 1;
        }
        changed.notify_all();
        if (stop() || !consume(position, *slot)) return;
    }
}

}  // namespace

void TThumbFileList::AddAll(const std::vector<std::string>& names) {
    for (const std::string& name : names) FItems.push_back(TThumbFile{name, 0, -1});
    std::sort(FItems.begin(), FItems.end(),
              [](const TThumbFile& a, const TThumbFile& b) { return NameLess(a.Name, b.Name); });
    FItems.erase(
        std::unique(FItems.begin(), FItems.end(),
                    [](const TThumbFile& a, const TThumbFile& b) { return a.Name == b.Name; }),
        FItems.end());
}

int TThumbFileList::Find(const std::string& name) const {
    const auto at = std::lower_bound(
        FItems.begin(), FItems.end(), name,
        [](const TThumbFile& item, const std::string& key) { return NameLess(item.Name, key); });
    if (at == FItems.end() || at->Name != name) return -1;
    return static_cast<int>(at - FItems.begin());
}

std::vector<std::string> TThumbFileList::Names() const {
    std::vector<std::string> names;
    names.reserve(FItems.size());
    for (const TThumbFile& item : FItems) names.push_back(item.Name);
    return names;
}

TThumbThread::TThumbThread(const std::string& directory) : FDirectory(directory) {
    if (FDirectory.empty() || FDirectory.back() != '/') FDirectory += '/';
    FreeOnTerminate = true;
}

TThumbThread::~TThumbThread() {
    // A thumbnail the receiver did not take over is freed with the record.
    Info.Clear();
}

std::string TThumbThread::CacheFileName(const std::string& directory) {
    return directory + kThumbCacheName;
}

void TThumbThread::Execute() {
    ListFiles();
    if (Terminated()) return;
    if (OnFileList) {
        const std::vector<std::string> names = FFiles.Names();
        Synchronize([&] { OnFileList(*this, names); });
    }
    if (Terminated()) return;

    FCache = std::make_unique<TMemoryStream>();
    struct TFreeCache {
        TThumbThread& Thread;
        ~TFreeCache() {
            Thread.FCache.reset();
            Thread.FReused.clear();
            Thread.FOldCache.reset();
            Thread.FOldCacheMemory = {};
        }
    } freeCache{*this};
    ReadCache();
    FIndex = 0;
    MakeThumbnails();
    // A load stopped early (another folder was chosen) still keeps what it made, with the
    // old entries it reused, so the next load of the folder goes on where this one
    // stopped. An entry whose decoding the stop cut short was never made and is not among
    // them. Only the program's shutdown drops the write.
    if (FChanged && !ShuttingDown()) WriteCache();
}

void TThumbThread::ListFiles() {
    // One pass over the folder for all patterns; a terminated thread drops the list.
    const std::vector<std::string> names = FindFiles(FDirectory, ImageFilePatterns());
    if (Terminated()) return;
    FFiles.AddAll(names);
}

void TThumbThread::ReadCache() {
    FOldCache = std::make_unique<TThumbCacheReader>();
    TThumbCacheReader& reader = *FOldCache;
    if (!reader.Open(CacheFileName(FDirectory), ThumbWidth, ThumbHeight)) return;
    // Held until the new file is written, since the records taken over stay in it.
    FOldCacheMemory = MemoryBudget().Charge(static_cast<std::int64_t>(reader.Bytes().size()));

    // The directory entries of unchanged files, in the directory's order. A directory that
    // breaks off ends the list; what came before is still used.
    struct TCandidate {
        int Index;
        TThumbCacheEntry Entry;
    };
    std::vector<TCandidate> candidates;
    std::vector<bool> taken(static_cast<std::size_t>(FFiles.Count()), false);
    // The bytes each entry's record covers, for the sharing check below.
    struct TRange {
        std::int64_t Begin, End;
        std::size_t Candidate;  // SIZE_MAX for an entry that is not reused
    };
    constexpr std::size_t kNoCandidate = std::numeric_limits<std::size_t>::max();
    std::vector<TRange> ranges;
    try {
        TThumbCacheEntry entry;
        while (!Terminated() && reader.NextEntry(entry)) {
            if (entry.Offset <= 0) continue;
            std::size_t candidate = kNoCandidate;
            const int index = FFiles.Find(entry.Name);
            // A removed file is skipped, and so is a changed one.
            if (index >= 0 && !taken[static_cast<std::size_t>(index)] &&
                DateMatches(entry.FileDate, ReadFileDate(FDirectory + entry.Name))) {
                taken[static_cast<std::size_t>(index)] = true;
                candidate = candidates.size();
                candidates.push_back(TCandidate{index, entry});
            }
            try {
                const auto record = ThumbRecordBytes(reader.Bytes(), entry.Offset);
                ranges.push_back(TRange{entry.Offset,
                                        entry.Offset + static_cast<std::int64_t>(record.size()),
                                        candidate});
            } catch (const std::exception&) {
                // A reused entry fails again when its record is read.
            }
        }
    } catch (const std::exception&) {
        // The entries before the break are still good.
    }
    // The writer gives every entry a record of its own, back to back. Records that two
    // entries share, or that lie inside one another, come from a hand-made file, and each
    // entry would copy them into the new file once more: none of them is reused, and their
    // files are made afresh.
    std::vector<bool> shared(candidates.size(), false);
    std::sort(ranges.begin(), ranges.end(),
              [](const TRange& a, const TRange& b) { return a.Begin < b.Begin; });
    for (std::size_t first = 0; first < ranges.size();) {
        std::size_t last = first + 1;
        std::int64_t end = ranges[first].End;
        while (last < ranges.size() && ranges[last].Begin < end) {
            end = std::max(end, ranges[last].End);
            ++last;
        }
        if (last - first > 1) {
            for (std::size_t i = first; i < last; ++i)
                if (ranges[i].Candidate != kNoCandidate) shared[ranges[i].Candidate] = true;
        }
        first = last;
    }
    std::vector<TCandidate> own;
    for (std::size_t i = 0; i < candidates.size(); ++i)
        if (!shared[i]) own.push_back(std::move(candidates[i]));
    candidates = std::move(own);

    // The records are taken in the directory's order; the first one that fails ends the
    // reuse, as a damaged cache costs only its reuse and every file without an entry is
    // made afresh. They are decoded on this thread: a record takes microseconds, and more
    // workers only made the hand-over between them cost more than it saved.
    struct TPending {
        int Index;
        TThumbInfo Info;
    };
    std::vector<TPending> batch;
    auto batchStart = std::chrono::steady_clock::now();
    auto flush = [&] {
        if (batch.empty()) return;
        if (OnThumb && !Terminated()) {
            Synchronize([&] {
                for (TPending& pending : batch) {
                    if (Terminated()) break;
                    FIndex = pending.Index;
                    FFromCache = true;
                    Info.Clear();
                    Info.TakeFrom(pending.Info);
                    OnThumb(*this, FIndex);
                }
            });
        }
        batch.clear();
    };
    const auto produce = [&](int position, TSlot& slot) {
        try {
            reader.ReadRecord(candidates[static_cast<std::size_t>(position)].Entry.Offset,
                              slot.Info);
            slot.Ok = true;
        } catch (const std::exception&) {
            slot.Info.Clear();
        }
    };
    const auto consume = [&](int position, TSlot& slot) {
        if (!slot.Ok) return false;
        if (!slot.Info.Thumbnail) return true;
        const TCandidate& candidate = candidates[static_cast<std::size_t>(position)];
        std::span<const std::uint8_t> record;
        try {
            record = ThumbRecordBytes(reader.Bytes(), candidate.Entry.Offset);
        } catch (const std::exception&) {
            return false;
        }
        // Records shared by several entries of a hostile file must not push the new file's
        // offsets past 32 bits.
        if (FReusedSize + static_cast<std::int64_t>(record.size()) >
            std::numeric_limits<std::int32_t>::max() - kThumbCacheHeaderSize)
            return false;
        // The record goes into the new file as it stands: the same bytes a fresh write of
        // the entry gives, without encoding its thumbnail again.
        TThumbFile& file = FFiles[candidate.Index];
        file.Offset = static_cast<std::int32_t>(kThumbCacheHeaderSize + FReusedSize);
        file.FileDate = candidate.Entry.FileDate;
        FReused.push_back(record);
        FReusedSize += static_cast<std::int64_t>(record.size());
        slot.Info.FileDate = candidate.Entry.FileDate;
        if (batch.empty()) batchStart = std::chrono::steady_clock::now();
        batch.push_back(TPending{candidate.Index, {}});
        batch.back().Info.TakeFrom(slot.Info);
        if (batch.size() >= kCacheBatchCount ||
            std::chrono::steady_clock::now() - batchStart >= kCacheBatchTime)
            flush();
        return true;
    };
    const int count = static_cast<int>(candidates.size());
    RunInOrder(
        count, 1, 1, [this] { return Terminated(); }, produce, consume);
    flush();
}

int TThumbThread::Workers(int pieces) const {
    int workers = DecodeThreads;
    if (workers <= 0) {
        workers =
            std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 1, kMaxDecoders);
    }
    return std::min(workers, pieces);
}

void TThumbThread::MakeThumbnails() {
    std::vector<int> todo;
    for (int i = 0; i < FFiles.Count(); ++i) {
        if (FFiles[i].Offset == 0) todo.push_back(i);
    }
    // Workers decode files ahead while this thread hands the entries over in file order.
    const int count = static_cast<int>(todo.size());
    const int workers = Workers(count);
    RunInOrder(
        count, workers, 2 * workers, [this] { return Terminated(); },
        [&](int position, TSlot& slot) {
            MakeOne(todo[static_cast<std::size_t>(position)], slot.Info, slot.Key);
        },
        [&](int position, TSlot& slot) {
            const int index = todo[static_cast<std::size_t>(position)];
            FIndex = index;
            Deliver(index, slot.Info, slot.Key);
            return true;
        });
}

void TThumbThread::MakeOne(int index, TThumbInfo& info, std::int32_t& key) {
    const std::string path = FDirectory + FFiles[index].Name;
    // The date read before the file is decoded: a file that is written on afterwards gets
    // a new date and is made again next time.
    key = CacheKey(ReadFileDate(path));
    try {
        // The first bytes tell whether the file can be a picture of its kind at all; only
        // then is it read whole, and only once the memory it takes is free.
        const TFileHead head = ReadFileHead(path, kImageSignatureBytes);
        if (!HasImageSignature(ImageFormatForFile(path).Format, head.Bytes, head.Size)) return;
        TByteBudget::TReservation memory =
            MemoryBudget().Reserve(FileMemory(head.Size), StopToken());
        if (!memory.Held()) return;  // terminated while waiting
        const std::int64_t picture =
            std::min(head.Size, static_cast<std::int64_t>(PictureMemoryLimit()));
        try {
            TLoadMemory account(picture, false);
            const TPictureMemoryScope scope(&account);
            MakeThumbInfo(path, ThumbWidth, ThumbHeight, info, StopToken());
        } catch (const EPictureMemoryBusy&) {
            // Made again alone: a request larger than the budget waits until no other
            // load holds memory, and none starts before this one has ended.
            memory = {};
            memory = MemoryBudget().Reserve(
                2 * static_cast<std::int64_t>(PictureMemoryLimit()) + FileMemory(head.Size),
                StopToken());
            if (!memory.Held()) return;
            TLoadMemory account(picture, true);
            const TPictureMemoryScope scope(&account);
            MakeThumbInfo(path, ThumbWidth, ThumbHeight, info, StopToken());
        }
    } catch (...) {
        // A file that cannot be made into an entry keeps a cell without a picture and is
        // tried again at the next load; nothing is reported.
        info.Thumbnail.reset();
    }
}

void TThumbThread::Deliver(int index, TThumbInfo& made, std::int32_t key) {
    if (!made.Thumbnail) return;
    FChanged = true;
    Info.Clear();
    Info.TakeFrom(made);
    TThumbFile& file = FFiles[index];
    try {
        const std::int64_t offset = AppendThumbRecord(*FCache, Info) + FReusedSize;
        if (offset > std::numeric_limits<std::int32_t>::max()) throw EPixError(SThumbCacheTooLarge);
        file.Offset = static_cast<std::int32_t>(offset);
        file.FileDate = key;
    } catch (const std::exception&) {
        file.Offset = 0;  // not kept in the cache file; made again next time
    }
    FFromCache = false;
    if (OnThumb) Synchronize([&] { OnThumb(*this, index); });
}

void TThumbThread::WriteCache() {
    std::vector<TThumbCacheEntry> entries;
    for (int i = 0; i < FFiles.Count(); ++i) {
        const TThumbFile& file = FFiles[i];
        if (file.Offset > 0)
            entries.push_back(TThumbCacheEntry{file.FileDate, file.Offset, file.Name});
    }
    std::vector<std::span<const std::uint8_t>> records = FReused;
    records.emplace_back(FCache->Data());
    try {
        // A plain Terminate lets the write finish; a shutdown abandons it, removing the
        // temporary file.
        WriteThumbCache(CacheFileName(FDirectory), ThumbWidth, ThumbHeight, records, entries,
                        ShutdownToken());
    } catch (const std::exception&) {
        // A read-only folder, a full medium or a shutdown: the old cache stays as it was,
        // and the thumbnails are made again next time.
    }
}

}  // namespace pix
