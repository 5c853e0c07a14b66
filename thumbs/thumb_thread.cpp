// SPDX-License-Identifier: MIT
#include "thumbs/thumb_thread.h"

#include "formats/format_table.h"

#include "imaging/stream.h"
#include "platform/error.h"
#include "platform/file_io.h"
#include "platform/file_system.h"
#include "platform/res_strings.h"
#include "thumbs/image_signature.h"
#include "thumbs/thumb_cache.h"

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
    TFileDate Date;
};

// Whether a cache entry's date still stands for the file. A -1 stands for a missing file
// and for one dated outside the packed form's years; only the latter matches it, so that
// such a file is not made again at every visit.
bool DateMatches(std::int32_t stored, const TFileDate& date) {
    return date.Exists && stored == date.Age;
}

// Whether a carried record still stands for the file: by its date as the cache file keeps
// it, or for a file written within the last 2 seconds (kept under a date no file has) by its
// exact time and size. A time without its fraction of a second comes from a file system
// that keeps whole seconds, where a write within the same second would go unseen.
bool CarryMatches(const TThumbCarry::TItem& item, const TFileDate& date) {
    if (DateMatches(item.FileDate, date)) return true;
    constexpr std::int64_t kNs = 1000000000;
    return date.Exists && item.Size >= 0 && item.Stamp % kNs != 0 && item.Stamp == date.Stamp &&
           item.Size == date.Size;
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

// Runs produce(item, slot) for `count` items on `workers` threads (on this thread alone
// when workers < 2) and consume(item, slot) on this thread in the order pick() named the
// items, so the outcome does not depend on the number of workers. pick() runs once per item,
// when a worker is free for it, under a lock. At most `window` items wait for their turn.
// Stops when consume returns false or stop() turns true; workers check stop() before each
// item.
void RunInOrder(int count, int workers, int window, const std::function<bool()>& stop,
                const std::function<int()>& pick, const std::function<void(int, TSlot&)>& produce,
                const std::function<bool(int, TSlot&)>& consume) {
    if (workers < 2) {
        TSlot slot;
        for (int position = 0; position < count; ++position) {
            if (stop()) return;
            const int item = pick();
            slot = TSlot{};
            produce(item, slot);
            if (!consume(item, slot)) return;
        }
        return;
    }

    std::vector<std::unique_ptr<TSlot>> slots(static_cast<std::size_t>(count));
    std::vector<int> items(static_cast<std::size_t>(count), -1);
    std::mutex lock;
    std::condition_variable changed;
    int claimed = 0;
    int consumed = 0;
    bool finished = false;

    auto work = [&] {
        for (;;) {
            int position;
            int item;
            {
                std::unique_lock guard(lock);
                changed.wait(guard, [&] {
                    return finished || claimed >= count || claimed < consumed + window;
                });
                if (finished || claimed >= count) return;
                position = claimed++;
                item = pick();
                items[static_cast<std::size_t>(position)] = item;
            }
            auto slot = std::make_unique<TSlot>();
            if (!stop()) produce(item, *slot);
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
        int item;
        {
            std::unique_lock guard(lock);
            changed.wait(guard,
                         [&] { return slots[static_cast<std::size_t>(position)] != nullptr; });
            slot = std::move(slots[static_cast<std::size_t>(position)]);
            item = items[static_cast<std::size_t>(position)];
            consumed = position + 1;
        }
        changed.notify_all();
        if (stop() || !consume(item, *slot)) return;
    }
}

}  // namespace

void TThumbFileList::AddAll(const std::vector<std::string>& names) {
    for (const std::string& name : names) FItems.push_back(TThumbFile{name});
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

void TThumbPriority::Set(int first, int count) {
    std::lock_guard guard(FLock);
    FFirst = std::max(first, 0);
    FCount = std::max(count, 0);
}

std::pair<int, int> TThumbPriority::Get() const {
    std::lock_guard guard(FLock);
    return {FFirst, FCount};
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
    // Until this load has taken over what it can, the records it was given still stand.
    FCarried = Carry;
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
        }
    } freeCache{*this};
    ReadCache();
    TakeCarried();
    FIndex = 0;
    if (MakeMissing) MakeThumbnails();
    // A load stopped early (another folder was chosen) still keeps what it made, with the
    // old entries it reused, so the next load of the folder goes on where this one
    // stopped. An entry whose decoding the stop cut short was never made and is not among
    // them. Only the program's shutdown drops the write. A load that may not write, or
    // fails to, hands its records to the next one.
    if (FChanged && !ShuttingDown()) {
        FCacheWritten = WriteCacheFile.load() && WriteCache();
        if (!FCacheWritten) KeepCarried();
    }
}

const TThumbCarry::TItem* TThumbCarry::Find(const std::string& name) const {
    const auto at =
        std::lower_bound(Items.begin(), Items.end(), name,
                         [](const TItem& item, const std::string& key) { return item.Name < key; });
    return at != Items.end() && at->Name == name ? &*at : nullptr;
}

void TThumbThread::TakeCarried() {
    // A load stopped before this point may not have read the cache file whole: it writes
    // nothing, and hands the records it was given on as they are.
    if (!Carry || Terminated()) return;
    FCarried.reset();
    if (Carry->ThumbWidth != ThumbWidth || Carry->ThumbHeight != ThumbHeight) return;
    const TThumbCarry& carry = *Carry;
    const TFolderDates dates(FDirectory);
    std::vector<int> taken;
    for (int index = 0; index < FFiles.Count(); ++index) {
        TThumbFile& file = FFiles[index];
        if (file.Record != TThumbFile::rcNone) continue;
        const TThumbCarry::TItem* item = carry.Find(file.Name);
        if (item == nullptr || !CarryMatches(*item, dates.Read(file.Name))) continue;
        const std::int64_t at = FCache->Size();
        FCache->Seek(0, soFromEnd);
        FCache->Write(carry.Records.data() + item->At, item->Length);
        file.Record = TThumbFile::rcMade;
        file.At = at;
        file.Length = item->Length;
        file.FileDate = item->FileDate;
        file.Stamp = item->Stamp;
        file.Size = item->Size;
        FChanged = true;
        taken.push_back(index);
    }
    if (!OnThumb || taken.empty()) return;
    // Handed over like the cache file's entries: in groups, each read from its record.
    const std::span<const std::uint8_t> made = FCache->Data();
    for (std::size_t first = 0; first < taken.size() && !Terminated(); first += kCacheBatchCount) {
        const std::size_t last = std::min(taken.size(), first + kCacheBatchCount);
        Synchronize([&] {
            for (std::size_t i = first; i < last && !Terminated(); ++i) {
                const TThumbFile& file = FFiles[taken[i]];
                Info.Clear();
                try {
                    ReadThumbRecord(made, file.At, Info, ThumbWidth, ThumbHeight);
                } catch (const std::exception&) {
                    continue;
                }
                Info.FileDate = file.FileDate;
                FIndex = taken[i];
                FFromCache = true;
                OnThumb(*this, FIndex);
            }
        });
    }
}

void TThumbThread::KeepCarried() {
    auto carried = std::make_shared<TThumbCarry>();
    carried->ThumbWidth = ThumbWidth;
    carried->ThumbHeight = ThumbHeight;
    carried->Records = std::move(FCache->Data());
    for (int i = 0; i < FFiles.Count(); ++i) {
        const TThumbFile& file = FFiles[i];
        if (file.Record == TThumbFile::rcMade)
            carried->Items.push_back(
                {file.Name, file.FileDate, file.At, file.Length, file.Stamp, file.Size});
    }
    std::sort(
        carried->Items.begin(), carried->Items.end(),
        [](const TThumbCarry::TItem& a, const TThumbCarry::TItem& b) { return a.Name < b.Name; });
    if (!carried->Items.empty()) FCarried = std::move(carried);
}

void TThumbThread::ListFiles() {
    // One pass over the folder for all patterns; a terminated thread drops the list.
    const std::vector<std::string> names = FindFiles(FDirectory, ImageFilePatterns());
    if (Terminated()) return;
    FFiles.AddAll(names);
}

void TThumbThread::ReadCache() {
    FOldCache = TThumbCacheFile::Open(CacheFileName(FDirectory), ThumbWidth, ThumbHeight);
    if (!FOldCache) return;
    TThumbCacheFile& cache = *FOldCache;

    // The directory entries of unchanged files, in the directory's order. A directory that
    // breaks off ends the list; what came before is still used.
    struct TCandidate {
        int Index;
        TThumbCacheEntry Entry;
        TThumbInfo Info;
        std::int64_t Size = 0;
    };
    std::vector<TCandidate> candidates;
    candidates.reserve(static_cast<std::size_t>(FFiles.Count()));
    std::vector<std::int32_t> others;  // the records of the entries not reused
    std::vector<bool> taken(static_cast<std::size_t>(FFiles.Count()), false);
    const TFolderDates dates(FDirectory);
    try {
        TThumbCacheEntry entry;
        int next = 0;  // the directory is usually in file order: the next file is tried first
        while (!Terminated() && cache.NextEntry(entry)) {
            if (entry.Offset <= 0) continue;
            const int index = next < FFiles.Count() && FFiles[next].Name == entry.Name
                                  ? next
                                  : FFiles.Find(entry.Name);
            next = index + 1;
            // A removed file is skipped, and so is a changed one.
            if (index >= 0 && !taken[static_cast<std::size_t>(index)] &&
                DateMatches(entry.FileDate, dates.Read(entry.Name))) {
                taken[static_cast<std::size_t>(index)] = true;
                candidates.push_back(TCandidate{index, entry, {}, 0});
            } else {
                others.push_back(entry.Offset);
            }
        }
    } catch (const std::exception&) {
        // The entries before the break are still good.
    }

    // The records are read in the directory's order, their thumbnails left in the file; the
    // first one that fails ends the reuse, as a damaged cache costs only its reuse and every
    // file without an entry is made afresh.
    std::size_t read = 0;
    for (; read < candidates.size(); ++read) {
        if (Terminated()) return;
        TCandidate& candidate = candidates[read];
        try {
            candidate.Size = cache.ReadRecord(candidate.Entry.Offset, candidate.Info);
        } catch (const std::exception&) {
            break;
        }
    }
    candidates.resize(read);

    // The writer gives every entry a record of its own, back to back. Records that two
    // entries share, or that lie inside one another, come from a hand-made file, and each
    // entry would copy them into the new file once more: none of them is reused, and their
    // files are made afresh.
    struct TRange {
        std::int64_t Begin, End;
        std::size_t Candidate;  // SIZE_MAX for an entry that is not reused
    };
    constexpr std::size_t kNoCandidate = std::numeric_limits<std::size_t>::max();
    std::vector<TRange> ranges;
    ranges.reserve(candidates.size() + others.size());
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        const std::int64_t begin = candidates[i].Entry.Offset;
        ranges.push_back(TRange{begin, begin + candidates[i].Size, i});
    }
    for (const std::int32_t offset : others) {
        if (Terminated()) return;
        try {
            ranges.push_back(TRange{offset, offset + cache.RecordSize(offset), kNoCandidate});
        } catch (const std::exception&) {
            // No record there: it shares nothing.
        }
    }
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

    // The entries are handed over in groups; each record goes into the new file as it
    // stands, the same bytes a fresh write of the entry gives.
    std::vector<std::size_t> batch;
    auto batchStart = std::chrono::steady_clock::now();
    auto flush = [&] {
        if (batch.empty()) return;
        if (OnThumb && !Terminated()) {
            Synchronize([&] {
                for (const std::size_t i : batch) {
                    if (Terminated()) break;
                    FIndex = candidates[i].Index;
                    FFromCache = true;
                    Info.Clear();
                    Info.TakeFrom(candidates[i].Info);
                    OnThumb(*this, FIndex);
                }
            });
        }
        batch.clear();
    };
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        if (Terminated()) break;
        TCandidate& candidate = candidates[i];
        if (shared[i] || !candidate.Info.Thumbnail) continue;
        // Records shared by several entries of a hostile file must not push the new file's
        // offsets past 32 bits.
        if (FReusedSize + candidate.Size >
            std::numeric_limits<std::int32_t>::max() - kThumbCacheHeaderSize)
            break;
        TThumbFile& file = FFiles[candidate.Index];
        file.Record = TThumbFile::rcOldCache;
        file.At = candidate.Entry.Offset;
        file.Length = candidate.Size;
        file.FileDate = candidate.Entry.FileDate;
        FReused.push_back(candidate.Index);
        FReusedSize += candidate.Size;
        candidate.Info.FileDate = candidate.Entry.FileDate;
        if (batch.empty()) batchStart = std::chrono::steady_clock::now();
        batch.push_back(i);
        if (batch.size() >= kCacheBatchCount ||
            std::chrono::steady_clock::now() - batchStart >= kCacheBatchTime)
            flush();
    }
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
    const int files = FFiles.Count();
    std::vector<bool> waiting(static_cast<std::size_t>(files), false);
    int count = 0;
    for (int i = 0; i < files; ++i) {
        if (FFiles[i].Record == TThumbFile::rcNone) {
            waiting[static_cast<std::size_t>(i)] = true;
            ++count;
        }
    }
    // The next file: the first waiting one on screen, else the next in file order.
    int next = 0;
    std::pair<int, int> shown{0, 0};
    int shownNext = 0;
    const auto pick = [&]() -> int {
        if (Visible) {
            const std::pair<int, int> now = Visible->Get();
            if (now != shown) {
                shown = now;
                shownNext = now.first;
            }
            const int end = static_cast<int>(
                std::min<std::int64_t>(files, std::int64_t{shown.first} + shown.second));
            for (; shownNext < end; ++shownNext) {
                if (waiting[static_cast<std::size_t>(shownNext)]) {
                    waiting[static_cast<std::size_t>(shownNext)] = false;
                    return shownNext++;
                }
            }
        }
        while (next < files && !waiting[static_cast<std::size_t>(next)]) ++next;
        waiting[static_cast<std::size_t>(next)] = false;
        return next;
    };
    // Workers decode files ahead while this thread hands the entries over in the order they
    // were picked.
    const int workers = Workers(count);
    RunInOrder(
        count, workers, 2 * workers, [this] { return Terminated(); }, pick,
        [&](int index, TSlot& slot) { MakeOne(index, slot.Info, slot.Key, slot.Date); },
        [&](int index, TSlot& slot) {
            FIndex = index;
            Deliver(index, slot.Info, slot.Key, slot.Date);
            return true;
        });
}

void TThumbThread::MakeOne(int index, TThumbInfo& info, std::int32_t& key, TFileDate& date) {
    const std::string path = FDirectory + FFiles[index].Name;
    // The date read before the file is decoded: a file that is written on afterwards gets
    // a new date and is made again next time.
    date = ReadFileDate(path);
    key = CacheKey(date);
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

void TThumbThread::Deliver(int index, TThumbInfo& made, std::int32_t key, const TFileDate& date) {
    if (!made.Thumbnail) return;
    FChanged = true;
    Info.Clear();
    Info.TakeFrom(made);
    TThumbFile& file = FFiles[index];
    try {
        const std::int64_t at = FCache->Size();
        AppendThumbRecord(*FCache, Info);
        file.Record = TThumbFile::rcMade;
        file.At = at;
        file.Length = FCache->Size() - at;
        file.FileDate = key;
        file.Stamp = date.Stamp;
        file.Size = date.Size;
    } catch (const std::exception&) {
        file.Record = TThumbFile::rcNone;  // not kept in the cache file; made again next time
    }
    FFromCache = false;
    if (OnThumb) Synchronize([&] { OnThumb(*this, index); });
}

bool TThumbThread::WriteCache() {
    // The records taken over first, then the made ones in file order, whatever the order in
    // which they were made: the file is the same as a load in file order writes.
    std::vector<TThumbCachePiece> records;
    std::vector<std::int64_t> offsets(static_cast<std::size_t>(FFiles.Count()), 0);
    std::int64_t offset = kThumbCacheHeaderSize;
    constexpr std::int64_t kLimit = std::numeric_limits<std::int32_t>::max();
    for (const int index : FReused) {
        const TThumbFile& file = FFiles[index];
        records.emplace_back(*FOldCache, file.At, file.Length);
        offsets[static_cast<std::size_t>(index)] = offset;
        offset += file.Length;
    }
    const std::span<const std::uint8_t> made = FCache->Data();
    for (int i = 0; i < FFiles.Count(); ++i) {
        const TThumbFile& file = FFiles[i];
        // A record past 32-bit offsets is not kept; its file is made again next time.
        if (file.Record != TThumbFile::rcMade || offset + file.Length > kLimit) continue;
        records.emplace_back(
            made.subspan(static_cast<std::size_t>(file.At), static_cast<std::size_t>(file.Length)));
        offsets[static_cast<std::size_t>(i)] = offset;
        offset += file.Length;
    }
    std::vector<TThumbCacheEntry> entries;
    for (int i = 0; i < FFiles.Count(); ++i) {
        const std::int64_t at = offsets[static_cast<std::size_t>(i)];
        if (at > 0)
            entries.push_back(TThumbCacheEntry{FFiles[i].FileDate, static_cast<std::int32_t>(at),
                                               FFiles[i].Name});
    }
    try {
        // A plain Terminate lets the write finish; a shutdown abandons it, removing the
        // temporary file.
        WriteThumbCache(CacheFileName(FDirectory), ThumbWidth, ThumbHeight, records, entries,
                        ShutdownToken());
        return true;
    } catch (const std::exception&) {
        // A read-only folder, a full medium, an old cache file changed underneath or a
        // shutdown: the cache stays as it was, and the thumbnails are made again next time.
        return false;
    }
}

}  // namespace pix
