// SPDX-License-Identifier: MIT
#include "thumbs/thumb_thread.h"

#include "test_support.h"
#include "thread_support.h"

#include "formats/bmp_picture.h"
#include "imaging/stream.h"
#include "platform/file_io.h"
#include "platform/file_system.h"
#include "png/png_builder.h"
#include "thumbs/entry_support.h"
#include "thumbs/thumb_cache.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <atomic>
#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace pix {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

using test::AllThreadsEnded;
using test::WaitUntil;

// A picture file of w x h pixels whose bytes depend on `seed`, so that every file has a
// thumbnail of its own.
void WriteBmp(const std::string& path, int width, int height, int seed = 0,
              TPaletteKind kind = pkTrueColor) {
    TBmpPicture picture(width, height, kind);
    const auto size = static_cast<std::size_t>(picture.ImageSize());
    for (std::size_t i = 0; i < size; ++i)
        picture.Bits()[i] = static_cast<std::uint8_t>(seed * 31 + i * 3);
    picture.SaveToFile(path);
}

void CopySample(const std::string& name, const std::string& target) {
    fs::copy_file(fs::path(PIXORAMA_SAMPLES_DIR) / name, target,
                  fs::copy_options::overwrite_existing);
}

// Moves a file's date by `delta` from its current one (DOS dates step by 2 seconds).
void ShiftDate(const std::string& path, std::chrono::seconds delta) {
    fs::last_write_time(path, fs::last_write_time(path) + delta);
}

// One hand-over as the receiver saw it.
struct TDelivery {
    int Index = 0;
    std::string Name;
    bool FromCache = false;
    std::unique_ptr<TThumbInfo> Info;
};

// One run of a thread over a folder with handlers that record what arrives.
struct TRun {
    std::vector<std::string> List;
    bool ListCalled = false;
    std::vector<TDelivery> Deliveries;
    bool Ended = false;

    int DecodeThreads = 0;
    int BoxWidth = kDefaultThumbWidth;
    int BoxHeight = kDefaultThumbHeight;
    // Called inside the handlers after recording, to act while the worker waits.
    std::function<void(TThumbThread&)> AfterList;
    std::function<void(TThumbThread&, const TDelivery&)> AfterThumb;
    bool TerminateBeforeResume = false;
    std::shared_ptr<TThumbPriority> Visible;

    void Start(const std::string& directory) {
        auto thread = std::make_unique<TThumbThread>(directory);
        thread->Visible = Visible;
        thread->ThumbWidth = BoxWidth;
        thread->ThumbHeight = BoxHeight;
        thread->DecodeThreads = DecodeThreads;
        thread->OnFileList = [this](TThumbThread& sender, const std::vector<std::string>& list) {
            EXPECT_FALSE(ListCalled) << "file list handed over twice";
            ListCalled = true;
            List = list;
            if (AfterList) AfterList(sender);
        };
        thread->OnThumb = [this](TThumbThread& sender, int index) {
            TDelivery delivery;
            delivery.Index = index;
            EXPECT_EQ(index, sender.Index());
            if (index >= 0 && index < static_cast<int>(List.size()))
                delivery.Name = List[static_cast<std::size_t>(index)];
            delivery.FromCache = sender.FromCache();
            delivery.Info = std::make_unique<TThumbInfo>();
            delivery.Info->TakeFrom(sender.Info);
            Deliveries.push_back(std::move(delivery));
            if (AfterThumb) AfterThumb(sender, Deliveries.back());
        };
        thread->OnTerminate = [this](TThread&) { Ended = true; };
        if (TerminateBeforeResume) thread->Terminate();
        thread.release()->Resume();
    }

    // Runs to the end; false when the thread did not end in time.
    bool Run(const std::string& directory) {
        Start(directory);
        return WaitUntil([this] { return Ended; }) && AllThreadsEnded();
    }

    std::vector<int> Indices() const {
        std::vector<int> indices;
        for (const TDelivery& d : Deliveries) indices.push_back(d.Index);
        return indices;
    }
    int FromCacheCount() const {
        int count = 0;
        for (const TDelivery& d : Deliveries) count += d.FromCache ? 1 : 0;
        return count;
    }
    const TDelivery* Find(const std::string& name) const {
        for (const TDelivery& d : Deliveries)
            if (d.Name == name) return &d;
        return nullptr;
    }
};

// The names in a cache file's directory, in order.
std::vector<std::string> CacheNames(const std::string& directory, int width = kDefaultThumbWidth,
                                    int height = kDefaultThumbHeight) {
    TThumbCacheReader reader;
    std::vector<std::string> names;
    if (!reader.Open(directory + "/" + kThumbCacheName, width, height)) return names;
    TThumbCacheEntry entry;
    while (reader.NextEntry(entry)) names.push_back(entry.Name);
    return names;
}

void ExpectSameEntry(const TThumbInfo& a, const TThumbInfo& b) {
    ASSERT_TRUE(a.Thumbnail && b.Thumbnail);
    test::ExpectSameInfo(a, b);
    EXPECT_EQ(a.FileDate, b.FileDate);
}

class ThumbThreadTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { test::EnsureApplication(); }

    void SetUp() override {
        FReports = std::make_shared<std::atomic<int>>(0);
        TThread::SetExceptionReport(
            [reports = FReports](const TThread&, std::exception_ptr) { ++*reports; });
    }

    void TearDown() override {
        EXPECT_TRUE(AllThreadsEnded()) << "a thread was still running";
        EXPECT_EQ(FReports->load(), 0) << "an exception left a thread body";
        TThread::SetExceptionReport({});
    }

    std::string Dir() const { return FDir.Path().string(); }
    std::string File(const std::string& name) const { return FDir.File(name); }
    bool HasCache() const { return fs::exists(FDir.Path() / kThumbCacheName); }

    // A folder of pictures of every format, all small.
    void FillFolder() {
        WriteBmp(File("b-small.bmp"), 40, 30, 1);
        WriteBmp(File("C-gray.bmp"), 30, 60, 2, pkGray256);
        WriteBmp(File("d-wide.bmp"), 300, 20, 3);
        CopySample("mask-320x240.bmp", File("e-mask.bmp"));
        CopySample("false-colour-512x384.jpg", File("f.jpg"));
        CopySample("false-colour-palette-384x288.png", File("g.png"));
        CopySample("sem-16bit-512x384.tif", File("h.tif"));
        CopySample("vexa-rings-256x192.psd", File("i.psd"));
        CopySample("mosaic-4-fields.tif", File("j-mosaic.tiff"));
        fs::copy_file(fs::path(PIXORAMA_TESTS_DATA) / "psd" / "window-32x2.tim", File("k.tim"));
        CopySample("false-colour-512x384.jpg", File("l.jpeg"));
        Settle();
    }
    static constexpr int kFilledCount = 11;

    // Dates the files of the folder written in the last minute (but the cache) an hour
    // back: an entry made from a file written within the last 2 seconds is kept so that it
    // is made again.
    void Settle() const {
        const auto recent = fs::file_time_type::clock::now() - 60s;
        for (const auto& item : fs::directory_iterator(FDir.Path())) {
            if (item.path().filename().string().rfind(kThumbCacheName, 0) != 0 &&
                fs::last_write_time(item.path()) > recent)
                ShiftDate(item.path().string(), -3600s);
        }
    }

    test::TTempDir FDir;
    std::shared_ptr<std::atomic<int>> FReports;
};

TEST_F(ThumbThreadTest, EmptyFolderListsNothingAndWritesNoCache) {
    fs::create_directory(FDir.Path() / "sub.bmp");  // a folder with an image name
    test::WriteFile(File("notes.txt"), "not an image");
    TRun run;
    ASSERT_TRUE(run.Run(Dir()));
    EXPECT_TRUE(run.ListCalled);
    EXPECT_TRUE(run.List.empty());
    EXPECT_TRUE(run.Deliveries.empty());
    EXPECT_FALSE(HasCache());
}

TEST_F(ThumbThreadTest, ListsImageFilesSortedWithoutRegardToCase) {
    FillFolder();
    WriteBmp(File("A-upper.bmp"), 10, 10, 4);
    WriteBmp(File("a-upper.bmp"), 20, 10, 5);  // differs only in case: a file of its own
    fs::create_directory(FDir.Path() / "x.jpg");
    test::WriteFile(File("readme.txt"), "x");
    Settle();
    TRun run;
    run.DecodeThreads = 2;
    ASSERT_TRUE(run.Run(Dir()));
    const std::vector<std::string> expected = {
        "A-upper.bmp",   "a-upper.bmp", "b-small.bmp", "C-gray.bmp", "d-wide.bmp",
        "e-mask.bmp",    "f.jpg",       "g.png",       "h.tif",      "i.psd",
        "j-mosaic.tiff", "k.tim",       "l.jpeg"};
    EXPECT_EQ(run.List, expected);
    ASSERT_EQ(run.Deliveries.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(run.Deliveries[i].Index, static_cast<int>(i));
        EXPECT_FALSE(run.Deliveries[i].FromCache);
    }
    EXPECT_EQ(run.Find("A-upper.bmp")->Info->Width, 10);
    EXPECT_EQ(run.Find("a-upper.bmp")->Info->Width, 20);
    EXPECT_EQ(CacheNames(Dir()), expected);

    // Each of the two keeps its own record.
    TRun again;
    ASSERT_TRUE(again.Run(Dir()));
    ASSERT_EQ(again.FromCacheCount(), static_cast<int>(expected.size()));
    EXPECT_EQ(again.Find("A-upper.bmp")->Info->Width, 10);
    EXPECT_EQ(again.Find("a-upper.bmp")->Info->Width, 20);
}

TEST_F(ThumbThreadTest, UnreadableFilesGetNoEntryAndNothingIsReported) {
    WriteBmp(File("good.bmp"), 16, 16, 1);
    CopySample("false-colour-palette-384x288.png", File("good.png"));
    test::WriteFile(File("garbage.jpg"), std::string(300, '\x5A'));
    test::WriteFile(File("garbage.tif"), std::string("II*\0\xFF\xFF\xFF\x7F garbage", 16));
    test::WriteFile(File("garbage.png"), "\x89PNG\r\n\x1A\n and then nothing useful");
    test::WriteFile(File("garbage.psd"), std::string(64, '\0'));
    test::WriteFile(File("zero.bmp"), "");
    Settle();
    TRun run;
    ASSERT_TRUE(run.Run(Dir()));
    EXPECT_EQ(run.List.size(), 7u);
    ASSERT_EQ(run.Deliveries.size(), 2u);
    EXPECT_EQ(run.Deliveries[0].Name, "good.bmp");
    EXPECT_EQ(run.Deliveries[1].Name, "good.png");
    EXPECT_EQ(CacheNames(Dir()), (std::vector<std::string>{"good.bmp", "good.png"}));

    // The failing files are tried again, still without a report.
    TRun again;
    ASSERT_TRUE(again.Run(Dir()));
    EXPECT_EQ(again.FromCacheCount(), 2);
    EXPECT_EQ(again.Deliveries.size(), 2u);
}

TEST_F(ThumbThreadTest, SecondRunDeliversTheSameEntriesFromTheCache) {
    FillFolder();
    TRun first;
    ASSERT_TRUE(first.Run(Dir()));
    ASSERT_EQ(first.Deliveries.size(), static_cast<std::size_t>(kFilledCount));
    EXPECT_EQ(first.FromCacheCount(), 0);
    ASSERT_TRUE(HasCache());
    const std::string cacheBytes = test::ReadFile(File(kThumbCacheName));

    TRun second;
    second.DecodeThreads = 1;
    ASSERT_TRUE(second.Run(Dir()));
    EXPECT_EQ(second.List, first.List);
    ASSERT_EQ(second.Deliveries.size(), first.Deliveries.size());
    EXPECT_EQ(second.Indices(), first.Indices());
    for (std::size_t i = 0; i < first.Deliveries.size(); ++i) {
        SCOPED_TRACE(first.Deliveries[i].Name);
        EXPECT_TRUE(second.Deliveries[i].FromCache);
        ExpectSameEntry(*first.Deliveries[i].Info, *second.Deliveries[i].Info);
    }
    // Nothing new was made: the file is not rewritten.
    EXPECT_EQ(test::ReadFile(File(kThumbCacheName)), cacheBytes);
}

TEST_F(ThumbThreadTest, ChangedAndRemovedFilesAndAnotherBox) {
    FillFolder();
    TRun first;
    ASSERT_TRUE(first.Run(Dir()));

    ShiftDate(File("f.jpg"), -100s);
    fs::remove(File("g.png"));
    TRun second;
    ASSERT_TRUE(second.Run(Dir()));
    ASSERT_EQ(second.Deliveries.size(), static_cast<std::size_t>(kFilledCount - 1));
    EXPECT_EQ(second.FromCacheCount(), kFilledCount - 2);
    // Cached entries come first, the new one after them.
    EXPECT_EQ(second.Deliveries.back().Name, "f.jpg");
    EXPECT_FALSE(second.Deliveries.back().FromCache);
    EXPECT_EQ(second.Deliveries.back().Info->FileDate, FileAge(File("f.jpg")));
    std::vector<std::string> names = CacheNames(Dir());
    EXPECT_EQ(names, second.List);
    EXPECT_EQ(std::count(names.begin(), names.end(), "g.png"), 0);

    // A cache for another box is not used, and is replaced by one for the new box.
    TRun small;
    small.BoxWidth = 50;
    small.BoxHeight = 40;
    ASSERT_TRUE(small.Run(Dir()));
    EXPECT_EQ(small.FromCacheCount(), 0);
    for (const TDelivery& d : small.Deliveries) {
        EXPECT_TRUE(d.Info->Thumbnail->Width() == 50 || d.Info->Thumbnail->Height() == 40)
            << d.Name;
    }
    EXPECT_EQ(CacheNames(Dir(), 50, 40), second.List);
    EXPECT_TRUE(CacheNames(Dir()).empty());

    TRun back;
    ASSERT_TRUE(back.Run(Dir()));
    EXPECT_EQ(back.FromCacheCount(), 0);
    EXPECT_EQ(CacheNames(Dir()), second.List);
}

TEST_F(ThumbThreadTest, StoresTheDateReadBeforeTheFileWasDecoded) {
    FillFolder();
    // The file changes after it was decoded and before the cache is written: its record
    // describes the old contents, so the next run must make it again.
    TRun first;
    first.DecodeThreads = 1;
    first.AfterThumb = [this](TThumbThread&, const TDelivery& d) {
        if (d.Name == "b-small.bmp") {
            WriteBmp(File("b-small.bmp"), 41, 30, 9);
            ShiftDate(File("b-small.bmp"), -100s);
        }
    };
    ASSERT_TRUE(first.Run(Dir()));

    TRun second;
    ASSERT_TRUE(second.Run(Dir()));
    ASSERT_EQ(second.Deliveries.size(), static_cast<std::size_t>(kFilledCount));
    EXPECT_EQ(second.FromCacheCount(), kFilledCount - 1);
    const TDelivery* remade = second.Find("b-small.bmp");
    ASSERT_NE(remade, nullptr);
    EXPECT_FALSE(remade->FromCache);
    EXPECT_EQ(remade->Info->Width, 41);
}

TEST_F(ThumbThreadTest, EntriesAreKeptOnlyUnderADateThatTellsAChange) {
    // A file dated before 1980 has no packed date and is kept under -1, which matches it
    // again; so does nothing for a missing file. A file in the future, or written within the
    // last 2-second step, may change under the same date and is made again each time.
    WriteBmp(File("a-settled.bmp"), 20, 10, 1);
    WriteBmp(File("b-1975.bmp"), 20, 10, 2);
    WriteBmp(File("c-2120.bmp"), 20, 10, 3);
    Settle();
    const auto june = [](int y) {
        using namespace std::chrono;
        return fs::file_time_type::clock::from_sys(sys_seconds{sys_days{year{y} / June / 1}});
    };
    fs::last_write_time(File("b-1975.bmp"), june(1975));
    fs::last_write_time(File("c-2120.bmp"), june(2120));
    WriteBmp(File("d-new.bmp"), 20, 10, 4);
    const auto written = std::chrono::steady_clock::now();
    const auto dNew = fs::last_write_time(File("d-new.bmp"));
    TRun first;
    ASSERT_TRUE(first.Run(Dir()));
    const bool quick = std::chrono::steady_clock::now() - written < 1900ms;
    EXPECT_EQ(first.FromCacheCount(), 0);
    // The acquisition system completes d-new.bmp within the same 2-second step.
    WriteBmp(File("d-new.bmp"), 30, 10, 4);
    fs::last_write_time(File("d-new.bmp"), dNew);

    TRun second;
    ASSERT_TRUE(second.Run(Dir()));
    ASSERT_EQ(second.Deliveries.size(), 4u);
    EXPECT_TRUE(second.Find("a-settled.bmp")->FromCache);
    EXPECT_TRUE(second.Find("b-1975.bmp")->FromCache);
    EXPECT_EQ(second.Find("b-1975.bmp")->Info->FileDate, -1);
    EXPECT_FALSE(second.Find("c-2120.bmp")->FromCache);
    // Only a first run that read the file within its step can be held to it.
    if (quick) {
        EXPECT_FALSE(second.Find("d-new.bmp")->FromCache);
        EXPECT_EQ(second.Find("d-new.bmp")->Info->Width, 30);
    }
}

TEST_F(ThumbThreadTest, LargeFilesThatAreNoPicturesAreNotReadWhole) {
    // Sparse files of 64 MiB whose first bytes are no picture of the kind their names say,
    // and a cache file that is none either: none of them is read past its first bytes.
    WriteBmp(File("a.bmp"), 20, 10, 1);
    for (const char* name : {"big.tif", "big.jpg", "big.png", "big.bmp", "big.psd", "II.tif",
                             kThumbCacheName}) {
        test::WriteFile(File(name), name);  // "II.tif" names no first directory
        fs::resize_file(File(name), std::uintmax_t{64} << 20);
    }
    Settle();
    std::atomic<std::int64_t> read{0};  // bytes read whole, of all files
    TFileView::SetReadHookForTesting([&](std::int64_t done) { read = std::max<std::int64_t>(read, done); });
    TRun run;
    run.DecodeThreads = 4;
    const bool ended = run.Run(Dir());
    TFileView::SetReadHookForTesting(nullptr);
    ASSERT_TRUE(ended);
    ASSERT_EQ(run.Deliveries.size(), 1u);
    EXPECT_EQ(run.Deliveries[0].Name, "a.bmp");
    EXPECT_LT(read, std::int64_t{1} << 20);
}

TEST_F(ThumbThreadTest, PicturesLargerThanTheirFilesTakeTurnsForMemory) {
    // Files of a few kilobytes whose pictures need 3.9 MB each, with room for two at a time:
    // the loads that find no room are made again alone, and every entry arrives.
    const int side = 1400;
    test::TBytes raw;
    for (int y = 0; y < side; ++y) {
        raw.push_back(0);
        raw.insert(raw.end(), side, static_cast<std::uint8_t>(y));
    }
    const test::TBytes png = test::SimplePng(test::IhdrData(side, side, 8, 0), raw);
    for (int i = 0; i < 6; ++i)
        test::WriteFile(File("p" + std::to_string(i) + ".png"),
                        std::string(png.begin(), png.end()));
    Settle();
    SetPictureMemoryLimit(std::uint64_t{4} << 20);
    TRun run;
    run.DecodeThreads = 4;
    const bool ended = run.Run(Dir());
    SetPictureMemoryLimit(0);
    ASSERT_TRUE(ended);
    ASSERT_EQ(run.Deliveries.size(), 6u);
    for (const TDelivery& d : run.Deliveries) EXPECT_NE(d.Info->Thumbnail, nullptr) << d.Name;
}

TEST_F(ThumbThreadTest, CacheThatCannotBeWrittenCostsNothingElse) {
    FillFolder();
    // A folder where the cache file would go: writing fails, entries still arrive.
    fs::create_directory(File(kThumbCacheName));
    TRun run;
    ASSERT_TRUE(run.Run(Dir()));
    EXPECT_EQ(run.Deliveries.size(), static_cast<std::size_t>(kFilledCount));
    EXPECT_TRUE(fs::is_directory(File(kThumbCacheName)));
    for (const auto& item : fs::directory_iterator(FDir.Path())) {
        EXPECT_EQ(item.path().filename().string().find(".tmp"), std::string::npos) << item.path();
    }
}

TEST_F(ThumbThreadTest, ReadOnlyFolder) {
    const test::TPermissionsHold permissions;
    if (!permissions.Active()) GTEST_SKIP() << "cannot make a read-only folder hold for root";
    WriteBmp(File("a.bmp"), 8, 8);
    fs::permissions(FDir.Path(), fs::perms::owner_write, fs::perm_options::remove);
    TRun run;
    const bool ended = run.Run(Dir());
    fs::permissions(FDir.Path(), fs::perms::owner_write, fs::perm_options::add);
    ASSERT_TRUE(ended);
    EXPECT_EQ(run.Deliveries.size(), 1u);
    EXPECT_FALSE(HasCache());
}

TEST_F(ThumbThreadTest, DamagedCacheIsMadeAgainAndRewritten) {
    FillFolder();
    // The fourth record's thumbnail item no longer holds a BMP, or holds one larger than the
    // box (113 x 1, which its rows would still fill): the entries before it are used, the
    // rest is made afresh and the record replaced.
    const std::vector<std::function<void(std::string&, std::size_t)>> damages = {
        [](std::string& bytes, std::size_t bmp) { bytes[bmp] = 'X'; },
        [](std::string& bytes, std::size_t bmp) {
            const std::string sides("\x71\0\0\0\x01\0\0\0", 8);
            bytes.replace(bmp + 18, sides.size(), sides);
        },
    };
    for (std::size_t damage = 0; damage < damages.size(); ++damage) {
        SCOPED_TRACE(damage);
        fs::remove(File(kThumbCacheName));
        TRun first;
        ASSERT_TRUE(first.Run(Dir()));
        std::string bytes = test::ReadFile(File(kThumbCacheName));
        TThumbCacheReader reader;
        ASSERT_TRUE(reader.Open(File(kThumbCacheName), kDefaultThumbWidth, kDefaultThumbHeight));
        TThumbCacheEntry entry;
        for (int i = 0; i < 4; ++i) ASSERT_TRUE(reader.NextEntry(entry));
        damages[damage](bytes, static_cast<std::size_t>(entry.Offset) + 12);
        test::WriteFile(File(kThumbCacheName), bytes);

        TRun second;
        ASSERT_TRUE(second.Run(Dir()));
        EXPECT_EQ(second.Deliveries.size(), static_cast<std::size_t>(kFilledCount));
        EXPECT_EQ(second.FromCacheCount(), 3);
        TRun third;
        ASSERT_TRUE(third.Run(Dir()));
        EXPECT_EQ(third.FromCacheCount(), kFilledCount);
    }
}

TEST_F(ThumbThreadTest, RecordsThatEntriesShareAreReusedForNone) {
    // A hand-made file: a, b and c name one record, and e's record lies inside the comment of
    // d's. Each entry would copy its record into the new file once more. Only f has a
    // record of its own.
    const std::vector<std::string> names = {"a.bmp", "b.bmp", "c.bmp", "d.bmp", "e.bmp", "f.bmp"};
    for (std::size_t i = 0; i < names.size(); ++i) {
        WriteBmp(File(names[i]), 20, 10, static_cast<int>(i));
        ShiftDate(File(names[i]), -100s);
    }
    TThumbInfo info;
    info.Thumbnail = std::make_unique<TBmpPicture>(4, 2, pkTrueColor);
    info.Comment = "one record";
    TMemoryStream records;
    const std::int32_t common = AppendThumbRecord(records, info);
    TMemoryStream inner;
    AppendThumbRecord(inner, info);
    TThumbInfo holder;  // its record: header, comment item header, the inner record
    holder.Comment.assign(inner.Data().begin(), inner.Data().end());
    const std::int32_t outer = AppendThumbRecord(records, holder);
    const std::int32_t own = AppendThumbRecord(records, info);
    const std::vector<std::int32_t> offsets = {common, common, common, outer, outer + 12, own};
    std::vector<TThumbCacheEntry> entries;
    for (std::size_t i = 0; i < names.size(); ++i)
        entries.push_back({FileAge(File(names[i])), offsets[i], names[i]});
    WriteThumbCache(File(kThumbCacheName), kDefaultThumbWidth, kDefaultThumbHeight,
                    {std::span<const std::uint8_t>(records.Data())}, entries);

    TRun run;
    ASSERT_TRUE(run.Run(Dir()));
    ASSERT_EQ(run.Deliveries.size(), names.size());
    EXPECT_EQ(run.FromCacheCount(), 1);
    EXPECT_TRUE(run.Find("f.bmp")->FromCache);
    EXPECT_EQ(run.Find("a.bmp")->Info->Width, 20);
    // The rewritten file gives each entry a record of its own.
    TRun again;
    ASSERT_TRUE(again.Run(Dir()));
    EXPECT_EQ(again.FromCacheCount(), static_cast<int>(names.size()));
}

TEST_F(ThumbThreadTest, RewrittenCacheIsWholeEvenFromARecordWithAShortLength) {
    FillFolder();
    TRun first;
    ASSERT_TRUE(first.Run(Dir()));
    // The first record's header claims only its thumbnail item's header: read by the item
    // lengths it is whole, copied by its own length it is not.
    std::string bytes = test::ReadFile(File(kThumbCacheName));
    bytes[24 + 2] = 6;
    bytes[24 + 3] = bytes[24 + 4] = bytes[24 + 5] = 0;
    test::WriteFile(File(kThumbCacheName), bytes);
    ShiftDate(File("l.jpeg"), -100s);  // something is made, so the cache is rewritten

    TRun second;
    ASSERT_TRUE(second.Run(Dir()));
    EXPECT_EQ(second.Deliveries.size(), static_cast<std::size_t>(kFilledCount));
    TRun third;
    ASSERT_TRUE(third.Run(Dir()));
    EXPECT_EQ(third.FromCacheCount(), kFilledCount);
}

// ---- Termination ----

TEST_F(ThumbThreadTest, TerminatedInTheFileListHandler) {
    FillFolder();
    TRun run;
    run.AfterList = [](TThumbThread& sender) { sender.Terminate(); };
    ASSERT_TRUE(run.Run(Dir()));
    EXPECT_TRUE(run.ListCalled);
    EXPECT_TRUE(run.Deliveries.empty());
    EXPECT_FALSE(HasCache());
}

TEST_F(ThumbThreadTest, TerminatedLoadKeepsWhatItMadeAndTheNextGoesOn) {
    FillFolder();
    TRun full;
    ASSERT_TRUE(full.Run(Dir()));
    const std::string cacheBytes = test::ReadFile(File(kThumbCacheName));
    for (int threads : {1, 3}) {
        SCOPED_TRACE(threads);
        // Stopped after the third entry, once from scratch and once going on from there.
        fs::remove(File(kThumbCacheName));
        std::vector<std::string> kept;
        for (int step = 0; step < 2; ++step) {
            TRun run;
            run.DecodeThreads = threads;
            run.AfterThumb = [&kept](TThumbThread& sender, const TDelivery& delivery) {
                if (!delivery.FromCache) kept.push_back(delivery.Name);
                if (kept.size() % 3 == 0 && !delivery.FromCache) sender.Terminate();
            };
            ASSERT_TRUE(run.Run(Dir()));
            EXPECT_EQ(run.FromCacheCount(), 3 * step);
            EXPECT_EQ(run.Deliveries.size(), 3u * static_cast<std::size_t>(step + 1));
            EXPECT_EQ(CacheNames(Dir()), kept);
        }
        // The rest is made and the file is the one an uninterrupted load writes.
        TRun rest;
        ASSERT_TRUE(rest.Run(Dir()));
        EXPECT_EQ(rest.FromCacheCount(), 6);
        EXPECT_EQ(rest.Deliveries.size(), full.Deliveries.size());
        EXPECT_TRUE(test::ReadFile(File(kThumbCacheName)) == cacheBytes);
    }
    // Stopped while the cache is handed over: nothing new was made, the file stays.
    TRun cached;
    cached.AfterThumb = [](TThumbThread& sender, const TDelivery&) { sender.Terminate(); };
    ASSERT_TRUE(cached.Run(Dir()));
    EXPECT_EQ(cached.Deliveries.size(), 1u);
    EXPECT_EQ(test::ReadFile(File(kThumbCacheName)), cacheBytes);
}

TEST_F(ThumbThreadTest, TerminatedBeforeResume) {
    FillFolder();
    TRun run;
    run.TerminateBeforeResume = true;
    ASSERT_TRUE(run.Run(Dir()));
    EXPECT_FALSE(run.ListCalled);
    EXPECT_TRUE(run.Deliveries.empty());
    EXPECT_FALSE(HasCache());
}

// ---- Receivers ----

// What the grid does with the hand-overs: one entry per file of the newest load, stale
// loads stopped at their next hand-over.
class TGridReceiver {
public:
    explicit TGridReceiver(std::shared_ptr<std::atomic<bool>> alive) : FAlive(std::move(alive)) {}
    ~TGridReceiver() { *FAlive = false; }

    void Load(const std::string& directory, int decodeThreads = 0) {
        ++FGeneration;
        auto thread = std::make_unique<TThumbThread>(directory);
        thread->Generation = FGeneration;
        thread->DecodeThreads = decodeThreads;
        thread->SetSyncTarget(FTarget);
        auto alive = FAlive;
        thread->OnFileList = [this, alive](TThumbThread& sender,
                                           const std::vector<std::string>& list) {
            EXPECT_TRUE(*alive) << "file list handed to a destroyed receiver";
            if (sender.Generation != FGeneration) {
                sender.Terminate();
                ++StaleCalls;
                return;
            }
            Files = list;
            Thumbs.Clear();
            for (std::size_t i = 0; i < list.size(); ++i)
                Thumbs.Add(std::make_unique<TThumbInfo>());
        };
        thread->OnThumb = [this, alive](TThumbThread& sender, int index) {
            EXPECT_TRUE(*alive) << "entry handed to a destroyed receiver";
            if (sender.Generation != FGeneration) {
                sender.Terminate();
                ++StaleCalls;
                return;
            }
            ASSERT_LT(index, Thumbs.Count());
            Thumbs.Items(index).TakeFrom(sender.Info);
            ++Delivered;
        };
        thread.release()->Resume();
    }

    TSyncTarget FTarget;
    std::vector<std::string> Files;
    TThumbList Thumbs;
    int Delivered = 0;
    int StaleCalls = 0;

private:
    std::shared_ptr<std::atomic<bool>> FAlive;
    int FGeneration = 0;
};

TEST_F(ThumbThreadTest, OnlyTheNewestOfOverlappingLoadsFillsTheGrid) {
    FillFolder();
    test::TTempDir other;
    WriteBmp(other.File("only.bmp"), 12, 12);
    auto alive = std::make_shared<std::atomic<bool>>(true);
    TGridReceiver grid(alive);
    grid.Load(Dir());
    grid.Load(other.Path().string());
    grid.Load(Dir(), 1);
    ASSERT_TRUE(AllThreadsEnded());
    EXPECT_EQ(grid.Files.size(), static_cast<std::size_t>(kFilledCount));
    ASSERT_EQ(grid.Thumbs.Count(), kFilledCount);
    EXPECT_EQ(grid.Delivered, kFilledCount);
    for (int i = 0; i < grid.Thumbs.Count(); ++i)
        EXPECT_NE(grid.Thumbs.Items(i).Thumbnail, nullptr)
            << grid.Files[static_cast<std::size_t>(i)];
    // The grid moved on before any hand-over arrived: each stale load stopped at its first.
    EXPECT_EQ(grid.StaleCalls, 2);
    EXPECT_FALSE(fs::exists(other.Path() / kThumbCacheName));
}

TEST_F(ThumbThreadTest, ReceiverDestroyedWhileThreadsRun) {
    FillFolder();
    auto alive = std::make_shared<std::atomic<bool>>(true);
    // Gone before any hand-over reached it.
    {
        auto grid = std::make_unique<TGridReceiver>(alive);
        grid->Load(Dir());
        grid->Load(Dir(), 1);
    }
    EXPECT_TRUE(AllThreadsEnded());
    // Gone after the first entries.
    alive = std::make_shared<std::atomic<bool>>(true);
    auto grid = std::make_unique<TGridReceiver>(alive);
    grid->Load(Dir(), 1);
    ASSERT_TRUE(WaitUntil([&] { return grid->Delivered >= 1; }));
    grid.reset();
    EXPECT_TRUE(AllThreadsEnded());
    EXPECT_FALSE(*alive);
}

TEST_F(ThumbThreadTest, ShutdownWhileAThreadWaitsForTheMainThread) {
    FillFolder();
    auto alive = std::make_shared<std::atomic<bool>>(true);
    TGridReceiver grid(alive);
    grid.Load(Dir());
    // No events are processed: the thread lists the folder and then waits in its first
    // hand-over until the shutdown refuses it.
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(TThread::RunningCount(), 1);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(TThread::ShutdownAll(5000));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    EXPECT_EQ(TThread::RunningCount(), 0);
    EXPECT_TRUE(grid.Files.empty());
    // The refused call still in the queue does nothing when it comes up.
    QCoreApplication::processEvents();
    EXPECT_TRUE(grid.Files.empty());
    EXPECT_FALSE(HasCache());
}

// The program's end lets a load write the entries it made before it is shut down; the next
// visit takes them from the cache.
TEST_F(ThumbThreadTest, ProgramEndKeepsWhatWasMade) {
    FillFolder();
    TRun run;
    run.DecodeThreads = 1;
    run.Start(Dir());
    ASSERT_TRUE(WaitUntil([&] { return run.Deliveries.size() >= 3; }));
    // The thread now waits in a hand-over or decodes the next file.
    EXPECT_TRUE(TThread::FinishAll(10000));
    EXPECT_TRUE(TThread::ShutdownAll(1000));
    const std::vector<std::string> kept = CacheNames(Dir());
    ASSERT_GE(kept.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(kept[i], run.Deliveries[i].Name);
    TRun next;
    ASSERT_TRUE(next.Run(Dir()));
    EXPECT_EQ(next.FromCacheCount(), static_cast<int>(kept.size()));
}

// The files on screen come first, then the rest in file order, each once; the cache file is
// the same whatever the order and the number of decoders.
TEST_F(ThumbThreadTest, OneOrSeveralDecodersGiveTheSameOrderAndFile) {
    FillFolder();
    const std::vector<int> fileOrder = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    const std::vector<int> shownFirst = {7, 8, 9, 0, 1, 2, 3, 4, 5, 6, 10};
    std::string firstFile;
    for (bool shown : {false, true}) {
        for (int threads : {1, 2, 4}) {
            SCOPED_TRACE(testing::Message() << "threads " << threads << " shown " << shown);
            fs::remove(File(kThumbCacheName));
            TRun run;
            run.DecodeThreads = threads;
            if (shown) {
                run.Visible = std::make_shared<TThumbPriority>();
                run.Visible->Set(7, 3);
            }
            ASSERT_TRUE(run.Run(Dir()));
            EXPECT_EQ(run.Indices(), shown ? shownFirst : fileOrder);
            const std::string file = test::ReadFile(File(kThumbCacheName));
            if (firstFile.empty()) firstFile = file;
            EXPECT_TRUE(file == firstFile) << "cache files differ";
        }
    }
}

// ---- Nothing is lost: image files stay as they were, a failed cache write keeps the old ----

// What a file is on disk: its bytes, its modification time to the nanosecond and its mode.
struct TFileState {
    std::string Bytes;
    std::int64_t ModifiedNs = 0;
    unsigned Mode = 0;
    bool operator==(const TFileState&) const = default;
};

// Every file of the folder but the cache file and its temporary files, by name.
std::map<std::string, TFileState> ImageFiles(const fs::path& dir) {
    std::map<std::string, TFileState> files;
    for (const auto& item : fs::directory_iterator(dir)) {
        const std::string name = item.path().filename().string();
        if (name.rfind(kThumbCacheName, 0) == 0) continue;
        struct stat st {};
        EXPECT_EQ(stat(item.path().c_str(), &st), 0) << name;
        TFileState state;
        if (S_ISREG(st.st_mode)) state.Bytes = test::ReadFile(item.path().string());
        state.ModifiedNs = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 +
                           st.st_mtim.tv_nsec;
        state.Mode = st.st_mode;
        files.emplace(name, std::move(state));
    }
    return files;
}

// Names in the folder that start with the cache file's name, other than the cache itself.
std::vector<std::string> CacheTempFiles(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& item : fs::directory_iterator(dir)) {
        const std::string name = item.path().filename().string();
        if (name != kThumbCacheName && name.rfind(kThumbCacheName, 0) == 0)
            names.push_back(name);
    }
    return names;
}

TEST_F(ThumbThreadTest, ThumbnailingChangesNoImageFile) {
    FillFolder();
    // Damaged files go through the same readers and must come out untouched too.
    test::WriteFile(File("cut.tif"), test::ReadFile(File("h.tif")).substr(0, 3000));
    test::WriteFile(File("cut.png"), test::ReadFile(File("g.png")).substr(0, 500));
    test::WriteFile(File("cut.jpg"), test::ReadFile(File("f.jpg")).substr(0, 700));
    test::WriteFile(File("noise.psd"), std::string(4096, '\x93'));
    Settle();
    // Read-only files: the readers open for reading only, so nothing asks to write.
    fs::permissions(File("h.tif"), fs::perms::owner_write, fs::perm_options::remove);
    const auto before = ImageFiles(FDir.Path());
    ASSERT_EQ(before.size(), static_cast<std::size_t>(kFilledCount + 4));

    TRun made;
    made.DecodeThreads = 2;
    ASSERT_TRUE(made.Run(Dir()));
    // A cut picture may still give the rows it has; noise gives nothing.
    EXPECT_GE(made.Deliveries.size(), static_cast<std::size_t>(kFilledCount));
    EXPECT_EQ(made.Find("noise.psd"), nullptr);
    const int count = static_cast<int>(made.Deliveries.size());
    EXPECT_TRUE(ImageFiles(FDir.Path()) == before) << "an image file changed";
    EXPECT_TRUE(HasCache());
    EXPECT_TRUE(CacheTempFiles(FDir.Path()).empty());

    // From the cache, and once more after one file got a new date and is made again.
    TRun cached;
    ASSERT_TRUE(cached.Run(Dir()));
    EXPECT_EQ(cached.FromCacheCount(), count);
    ShiftDate(File("g.png"), 10s);
    const auto shifted = ImageFiles(FDir.Path());
    TRun again;
    ASSERT_TRUE(again.Run(Dir()));
    EXPECT_EQ(again.FromCacheCount(), count - 1);
    EXPECT_TRUE(ImageFiles(FDir.Path()) == shifted) << "an image file changed";
    EXPECT_TRUE(CacheTempFiles(FDir.Path()).empty());
}

// How a cache write is made to fail while the thread runs.
enum class TWriteFailure { ReadOnlyFolder, FullDisk };

class ThumbThreadWriteFailureTest : public ThumbThreadTest,
                                    public ::testing::WithParamInterface<TWriteFailure> {};

TEST_P(ThumbThreadWriteFailureTest, KeepsTheOldCacheAndLeavesNoTemporaryFile) {
    const test::TPermissionsHold permissions;
    if (GetParam() == TWriteFailure::ReadOnlyFolder && !permissions.Active())
        GTEST_SKIP() << "cannot make a read-only folder hold for root";
    WriteBmp(File("a.bmp"), 40, 30, 1);
    CopySample("sem-16bit-512x384.tif", File("b.tif"));
    Settle();
    TRun first;
    ASSERT_TRUE(first.Run(Dir()));
    const std::string oldCache = test::ReadFile(File(kThumbCacheName));
    const auto oldDate = fs::last_write_time(File(kThumbCacheName));

    // New files, so the next run has a larger cache file to write.
    CopySample("false-colour-palette-384x288.png", File("c.png"));
    CopySample("vexa-rings-256x192.psd", File("d.psd"));
    WriteBmp(File("e.bmp"), 300, 200, 5);
    Settle();
    const auto images = ImageFiles(FDir.Path());

    TRun failing;
    bool ended = false;
    if (GetParam() == TWriteFailure::ReadOnlyFolder) {
        fs::permissions(FDir.Path(), fs::perms::owner_write | fs::perms::group_write |
                                         fs::perms::others_write,
                        fs::perm_options::remove);
        ended = failing.Run(Dir());
        fs::permissions(FDir.Path(), fs::perms::owner_write, fs::perm_options::add);
    } else {
        // A medium with no room past the old file's size: a write beyond it fails with
        // EFBIG instead of raising the signal, as ENOSPC does on a full disk.
        struct rlimit saved {};
        ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit small = saved;
        small.rlim_cur = oldCache.size();
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
        ended = failing.Run(Dir());
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, oldHandler);
    }
    ASSERT_TRUE(ended);
    // Every thumbnail still arrives; only the cache file could not be written.
    EXPECT_EQ(failing.Deliveries.size(), 5u);
    EXPECT_EQ(failing.FromCacheCount(), 2);
    EXPECT_TRUE(test::ReadFile(File(kThumbCacheName)) == oldCache) << "the old cache changed";
    EXPECT_EQ(fs::last_write_time(File(kThumbCacheName)), oldDate);
    EXPECT_TRUE(CacheTempFiles(FDir.Path()).empty());
    EXPECT_TRUE(ImageFiles(FDir.Path()) == images) << "an image file changed";

    // Once the medium takes writes again, the next run writes the whole list.
    TRun recovered;
    ASSERT_TRUE(recovered.Run(Dir()));
    EXPECT_EQ(recovered.FromCacheCount(), 2);
    EXPECT_EQ(CacheNames(Dir()),
              (std::vector<std::string>{"a.bmp", "b.tif", "c.png", "d.psd", "e.bmp"}));
}

INSTANTIATE_TEST_SUITE_P(Failures, ThumbThreadWriteFailureTest,
                         ::testing::Values(TWriteFailure::ReadOnlyFolder, TWriteFailure::FullDisk),
                         [](const auto& info) {
                             return info.param == TWriteFailure::ReadOnlyFolder
                                        ? std::string("ReadOnlyFolder")
                                        : std::string("FullDisk");
                         });

}  // namespace
}  // namespace pix
