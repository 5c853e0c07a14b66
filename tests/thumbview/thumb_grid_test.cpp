// SPDX-License-Identifier: MIT
#include "thumbview/thumb_grid.h"

#include "formats/bmp_picture.h"
#include "gui_support.h"
#include "test_support.h"
#include "thread_support.h"

#include "platform/error.h"
#include "thumbs/thumb_cache.h"

#include <QImage>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <ostream>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace pix {
namespace {

using test::AllThreadsEnded;
using test::WaitUntil;

// Writes `count` grey pictures of 16 × 16 pixels named prefix00.bmp, prefix01.bmp, ...
std::vector<std::string> WritePictures(const test::TTempDir& dir, int count,
                                       const std::string& prefix = "f") {
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "%s%02d.bmp", prefix.c_str(), i);
        TBmpPicture picture(16, 16, pkGray256);
        std::memset(picture.Bits(), 200, static_cast<std::size_t>(picture.ImageSize()));
        picture.SaveToFile(dir.File(name));
        names.emplace_back(name);
    }
    return names;
}

// A grid whose own requests to repaint a cell are counted.
class TCountingGrid : public TLwThumbGrid {
public:
    TCountingGrid() {
        setFrameShape(QFrame::NoFrame);
        setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        SetFrameBorder(4);  // 128-pixel cells, as the main window has them
    }
    void InvalidateCell(int col, int row) override {
        Invalidated.insert({col, row});
        TLwThumbGrid::InvalidateCell(col, row);
    }
    std::set<std::pair<int, int>> Invalidated;
};

class ThumbGridTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { test::EnsureGuiApplication(); }

    void SetUp() override {
        FGrid.OnNewThumb = [this](int index) { FArrived.push_back(index); };
        FGrid.OnDirChange = [this] { ++FDirChanges; };
        FGrid.show();
    }

    // Loads the folder and waits until its thread has delivered everything.
    void Load(const std::string& directory, bool reload = false, bool keepPosition = false) {
        FArrived.clear();
        if (reload)
            FGrid.ReloadDirectory(keepPosition);
        else
            FGrid.SetDirectory(directory);
        ASSERT_TRUE(AllThreadsEnded());
    }

    test::TTempDir FDir;
    TCountingGrid FGrid;
    std::vector<int> FArrived;
    int FDirChanges = 0;
};

struct TSizeCase {
    const char* Name;
    int ThumbWidth, ThumbHeight, FrameBorder, TextBorder;
    int FrameWidth, FrameHeight, CellWidth, CellHeight;
};
void PrintTo(const TSizeCase& c, std::ostream* os) { *os << c.Name; }

class ThumbGridSizeTest : public ::testing::TestWithParam<TSizeCase> {
protected:
    static void SetUpTestSuite() { test::EnsureGuiApplication(); }
};

TEST_P(ThumbGridSizeTest, CellFollowsThumbnailBoxAndBorders) {
    const TSizeCase& c = GetParam();
    TLwThumbGrid grid;
    grid.SetThumbWidth(c.ThumbWidth);
    grid.SetThumbHeight(c.ThumbHeight);
    grid.SetFrameBorder(c.FrameBorder);
    grid.SetTextBorder(c.TextBorder);
    EXPECT_EQ(grid.FrameWidth(), c.FrameWidth);
    EXPECT_EQ(grid.FrameHeight(), c.FrameHeight);
    EXPECT_EQ(grid.DefaultColWidth(), c.CellWidth);
    EXPECT_EQ(grid.DefaultRowHeight(), c.CellHeight);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, ThumbGridSizeTest,
    ::testing::Values(TSizeCase{"Defaults", 112, 96, 5, 16, 126, 126, 130, 130},
                      TSizeCase{"MainWindow", 112, 96, 4, 16, 124, 124, 128, 128},
                      TSizeCase{"SmallNoText", 40, 30, 0, 0, 44, 34, 48, 38}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(ThumbGridCellBorderTest, TakesEffectAtTheNextRecomputation) {
    test::EnsureGuiApplication();
    TLwThumbGrid grid;
    grid.SetCellBorder(10);
    EXPECT_EQ(grid.DefaultColWidth(), 130);
    grid.SetTextBorder(20);
    EXPECT_EQ(grid.DefaultColWidth(), 126 + 20);
    EXPECT_EQ(grid.DefaultRowHeight(), 130 + 20);
}

TEST_F(ThumbGridTest, TenFilesInFiveHundredPixels) {
    WritePictures(FDir, 10);
    FGrid.resize(500, 300);
    Load(FDir.Path().string());
    ASSERT_EQ(FGrid.Files().size(), 10u);
    EXPECT_EQ(FGrid.ColCount(), 3);
    EXPECT_EQ(FGrid.RowCount(), 4);
    EXPECT_EQ(FGrid.CellToFileIndex(0, 3), 9);
    EXPECT_EQ(FGrid.CellToFileIndex(1, 3), -1);
    EXPECT_EQ(FGrid.CellToFileIndex(2, 3), -1);
    EXPECT_EQ(FGrid.CellToFileIndex(3, 0), -1);
    // A fresh load selects the first file.
    EXPECT_EQ(FGrid.FileIndex(), 0);
    EXPECT_EQ(FGrid.Selection(), (TGridRect{0, 0, 0, 0}));
    EXPECT_EQ(FArrived.size(), 10u);
    for (int i = 0; i < 10; ++i) EXPECT_NE(FGrid.Thumbs().Items(i).Thumbnail, nullptr) << i;

    // The empty cells cannot be selected, and the selection stays on its file; while
    // OnSelectCell runs, FileIndex is the asked cell's.
    std::vector<int> asked;
    FGrid.OnSelectCell = [&](int, int, bool&) { asked.push_back(FGrid.FileIndex()); };
    FGrid.SelectFileIndex(8);  // cell (2, 2)
    FGrid.SetRow(3);
    QTest::keyClick(&FGrid, Qt::Key_Down);
    EXPECT_EQ(FGrid.Selection(), (TGridRect{2, 2, 2, 2}));
    EXPECT_EQ(FGrid.FileIndex(), 8);
    FGrid.SetCol(0);
    EXPECT_EQ(FGrid.FileIndex(), 6);
    QTest::keyClick(&FGrid, Qt::Key_Down);
    EXPECT_EQ(FGrid.FileIndex(), 9);
    EXPECT_EQ(FGrid.Selection(), (TGridRect{0, 3, 0, 3}));
    EXPECT_EQ(asked, (std::vector<int>{-1, -1, 6, 9}));
}

TEST_F(ThumbGridTest, SelectFileIndexClamps) {
    WritePictures(FDir, 10);
    FGrid.resize(500, 300);
    Load(FDir.Path().string());
    FGrid.SelectFileIndex(25);
    EXPECT_EQ(FGrid.FileIndex(), 9);
    EXPECT_EQ(FGrid.Selection(), (TGridRect{0, 3, 0, 3}));
    FGrid.SelectFileIndex(-4);
    EXPECT_EQ(FGrid.FileIndex(), 0);
    EXPECT_EQ(FGrid.Selection(), (TGridRect{0, 0, 0, 0}));
}

struct TWidenCase {
    const char* Name;
    int TopRowBefore;
    int TopRowAfter;
};
void PrintTo(const TWidenCase& c, std::ostream* os) { *os << c.Name; }

class ThumbGridWidenTest : public ThumbGridTest,
                           public ::testing::WithParamInterface<TWidenCase> {};

TEST_P(ThumbGridWidenTest, ReflowKeepsTheSelectedFileInView) {
    WritePictures(FDir, 10);
    FGrid.resize(500, 140);  // one row in view
    Load(FDir.Path().string());
    ASSERT_EQ(FGrid.ColCount(), 3);
    FGrid.SelectFileIndex(7);
    FGrid.SetTopRow(GetParam().TopRowBefore);
    FGrid.resize(600, 140);
    EXPECT_EQ(FGrid.ColCount(), 4);
    EXPECT_EQ(FGrid.RowCount(), 3);
    EXPECT_EQ(FGrid.Selection(), (TGridRect{3, 1, 3, 1}));
    EXPECT_EQ(FGrid.FileIndex(), 7);
    EXPECT_EQ(FGrid.TopRow(), GetParam().TopRowAfter);
    // Too narrow for one column still shows one.
    FGrid.resize(60, 140);
    EXPECT_EQ(FGrid.ColCount(), 1);
    EXPECT_EQ(FGrid.RowCount(), 10);
    EXPECT_EQ(FGrid.Selection(), (TGridRect{0, 7, 0, 7}));
    EXPECT_EQ(FGrid.TopRow(), 7);
}

INSTANTIATE_TEST_SUITE_P(Scroll, ThumbGridWidenTest,
                         ::testing::Values(TWidenCase{"FromAbove", 0, 1},
                                           TWidenCase{"FromBelow", 3, 1}),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST_F(ThumbGridTest, SameDirectoryTextDoesNothing) {
    WritePictures(FDir, 3);
    FGrid.resize(500, 300);
    Load(FDir.Path().string());
    const auto generation = FGrid.Generation();
    ASSERT_EQ(FDirChanges, 1);
    FGrid.SetDirectory(FDir.Path().string());
    EXPECT_EQ(FGrid.Generation(), generation);
    EXPECT_EQ(FDirChanges, 1);
    EXPECT_EQ(FGrid.Thumbs().Count(), 3);
    // Another spelling of the same folder is another text.
    FGrid.SetDirectory(FDir.Path().string() + "/");
    EXPECT_EQ(FGrid.Generation(), generation + 1);
    ASSERT_TRUE(AllThreadsEnded());
    EXPECT_EQ(FGrid.Thumbs().Count(), 3);
}

TEST_F(ThumbGridTest, RefreshKeepsTheClampedIndexAndTheTopRow) {
    const auto names = WritePictures(FDir, 30);
    FGrid.resize(500, 270);  // 3 columns, 10 rows, 2 in view
    Load(FDir.Path().string());
    FGrid.SelectFileIndex(25);
    FGrid.SetTopRow(5);
    for (int i = 20; i < 30; ++i) std::filesystem::remove(FDir.File(names[i]));

    Load("", true, true);
    EXPECT_EQ(FGrid.Files().size(), 20u);
    EXPECT_EQ(FGrid.RowCount(), 7);
    EXPECT_EQ(FGrid.FileIndex(), 19);
    EXPECT_EQ(FGrid.Selection(), (TGridRect{1, 6, 1, 6}));
    EXPECT_EQ(FGrid.TopRow(), 5);
    EXPECT_EQ(FArrived.size(), 20u);  // from the cache file this time

    // A reload that does not keep the position starts over at the first file.
    Load("", true, false);
    EXPECT_EQ(FGrid.FileIndex(), 0);
    EXPECT_EQ(FGrid.TopRow(), 0);
}

TEST_F(ThumbGridTest, MissingOrEmptyFolderGivesOneEmptyCell) {
    WritePictures(FDir, 4);
    FGrid.resize(500, 300);
    Load(FDir.Path().string());
    ASSERT_EQ(FGrid.ColCount(), 3);

    FGrid.SetDirectory((FDir.Path() / "missing").string());
    EXPECT_EQ(FDirChanges, 2);
    EXPECT_EQ(FGrid.ColCount(), 1);
    EXPECT_EQ(FGrid.RowCount(), 1);
    EXPECT_EQ(FGrid.FileIndex(), -1);
    EXPECT_EQ(FGrid.Thumbs().Count(), 0);
    EXPECT_TRUE(FGrid.Files().empty());
    EXPECT_EQ(FGrid.CellToFileIndex(0, 0), -1);

    test::TTempDir empty;
    Load(empty.Path().string());
    EXPECT_EQ(FDirChanges, 3);
    EXPECT_EQ(FGrid.ColCount(), 1);
    EXPECT_EQ(FGrid.RowCount(), 1);
    EXPECT_EQ(FGrid.FileIndex(), -1);

    FGrid.SetDirectory("");
    EXPECT_EQ(FDirChanges, 4);
    EXPECT_EQ(FGrid.FileIndex(), -1);
}

TEST_F(ThumbGridTest, OnlyVisibleCellsAreRepaintedAsThumbnailsArrive) {
    WritePictures(FDir, 12);
    // Rows 0 and 1 show: of row 1, 12 pixels, more than CellBorder + FrameBorder.
    FGrid.resize(500, 140);
    Load(FDir.Path().string());
    std::vector<int> all(12);
    for (int i = 0; i < 12; ++i) all[static_cast<std::size_t>(i)] = i;
    EXPECT_EQ(FArrived, all);
    std::set<std::pair<int, int>> expected;
    for (int i = 0; i < 6; ++i) expected.insert({i % 3, i / 3});
    EXPECT_EQ(FGrid.Invalidated, expected);
    EXPECT_TRUE(FGrid.IsFileIndexVisible(5));
    EXPECT_FALSE(FGrid.IsFileIndexVisible(6));
    EXPECT_FALSE(FGrid.IsFileIndexVisible(-1));

    // Scrolled down, the first rows are the hidden ones.
    FGrid.SetTopRow(2);
    EXPECT_FALSE(FGrid.IsFileIndexVisible(5));
    EXPECT_TRUE(FGrid.IsFileIndexVisible(6));
    EXPECT_TRUE(FGrid.IsFileIndexVisible(11));
    // Five pixels of a row are not enough, six are.
    FGrid.resize(500, 133);
    EXPECT_FALSE(FGrid.IsFileIndexVisible(9));
    FGrid.resize(500, 134);
    EXPECT_TRUE(FGrid.IsFileIndexVisible(9));
}

struct TDestroyCase {
    const char* Name;
    int DeliveriesFirst;
};
void PrintTo(const TDestroyCase& c, std::ostream* os) { *os << c.Name; }

class ThumbGridDestroyTest : public ::testing::TestWithParam<TDestroyCase> {
protected:
    static void SetUpTestSuite() { test::EnsureGuiApplication(); }
};

TEST_P(ThumbGridDestroyTest, DestroyedWhileItsThreadRuns) {
    test::TTempDir dir;
    WritePictures(dir, 50);
    int arrived = 0;
    {
        auto grid = std::make_unique<TLwThumbGrid>();
        grid->OnNewThumb = [&arrived](int) { ++arrived; };
        grid->resize(500, 300);
        grid->SetDirectory(dir.Path().string());
        const int first = GetParam().DeliveriesFirst;
        if (first > 0) {
            ASSERT_TRUE(WaitUntil([&] { return arrived >= first; }));
        }
    }
    const int seen = arrived;
    EXPECT_TRUE(AllThreadsEnded());
    EXPECT_EQ(arrived, seen);
}

INSTANTIATE_TEST_SUITE_P(Timing, ThumbGridDestroyTest,
                         ::testing::Values(TDestroyCase{"AtOnce", 0},
                                           TDestroyCase{"AfterOneThumb", 1},
                                           TDestroyCase{"AfterSome", 7}),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST_F(ThumbGridTest, QuickChangeOfFolderDropsTheStaleLoad) {
    test::TTempDir other;
    WritePictures(FDir, 20, "a");
    const auto names = WritePictures(other, 3, "b");
    FGrid.resize(500, 300);
    FGrid.SetDirectory(FDir.Path().string());
    FGrid.SetDirectory(other.Path().string());
    ASSERT_TRUE(AllThreadsEnded());
    EXPECT_EQ(FGrid.Files(), names);
    ASSERT_EQ(FGrid.Thumbs().Count(), 3);
    EXPECT_EQ(FArrived, (std::vector<int>{0, 1, 2}));
    for (int i = 0; i < 3; ++i) EXPECT_NE(FGrid.Thumbs().Items(i).Thumbnail, nullptr);
    EXPECT_EQ(FGrid.RowCount(), 1);
}

TEST_F(ThumbGridTest, FailingHandlerStopsItsLoadAndIsReported) {
    WritePictures(FDir, 10);
    FGrid.resize(500, 300);
    std::vector<std::string> reports;
    TThread::SetExceptionReport([&](const TThread&, std::exception_ptr error) {
        try {
            std::rethrow_exception(error);
        } catch (const std::exception& e) {
            reports.emplace_back(e.what());
        }
    });
    FGrid.OnNewThumb = [this](int index) {
        FArrived.push_back(index);
        if (index == 2) throw EPixError("no room for it");
    };
    Load(FDir.Path().string());
    TThread::SetExceptionReport({});
    EXPECT_EQ(reports, (std::vector<std::string>{"no room for it"}));
    EXPECT_EQ(FArrived, (std::vector<int>{0, 1, 2}));
    // What arrived before the failure stays.
    EXPECT_EQ(FGrid.Thumbs().Count(), 10);
    EXPECT_NE(FGrid.Thumbs().Items(2).Thumbnail, nullptr);
    EXPECT_EQ(FGrid.Thumbs().Items(3).Thumbnail, nullptr);
}

TEST_F(ThumbGridTest, DrawsFramesThumbnailsAndBackground) {
    WritePictures(FDir, 4);
    FGrid.resize(500, 300);
    Load(FDir.Path().string());
    FGrid.clearFocus();
    const QImage image = FGrid.viewport()->grab().toImage();
    const QColor white(255, 255, 255), black(0, 0, 0);
    const QColor silver(192, 192, 192), grey(128, 128, 128);

    // Cell (1, 0) starts at x 128; its frame runs from (130, 2) to (254, 126).
    EXPECT_EQ(image.pixelColor(130, 126), white);  // the outline starts bottom left
    EXPECT_EQ(image.pixelColor(130, 60), white);
    EXPECT_EQ(image.pixelColor(200, 2), white);
    EXPECT_EQ(image.pixelColor(254, 2), black);  // the top-right corner belongs to the black
    EXPECT_EQ(image.pixelColor(254, 60), black);
    EXPECT_EQ(image.pixelColor(200, 126), black);
    EXPECT_EQ(image.pixelColor(132, 4), silver);
    EXPECT_EQ(image.pixelColor(129, 60), silver);  // the margin shows the grid's colour
    EXPECT_EQ(image.pixelColor(255, 60), silver);

    // The thumbnail, centred in the picture area (131, 3)-(254, 110), one pixel off.
    const TDibPicture& thumb = *FGrid.Thumbs().Items(1).Thumbnail;
    const int w = thumb.Width(), h = thumb.Height();
    const int x = (131 + 254 - w) / 2, y = (3 + 110 - h) / 2;
    EXPECT_EQ(image.pixelColor(x + w / 2, y + h / 2), QColor(200, 200, 200));
    EXPECT_EQ(image.pixelColor(x, y + h), grey);
    EXPECT_EQ(image.pixelColor(x + w / 2, y), grey);
    EXPECT_EQ(image.pixelColor(x + w, y), white);
    EXPECT_EQ(image.pixelColor(x + w / 2, y + h), white);

    // The selected first cell is grey without the focus; its name is written in white, the
    // others' in black.
    EXPECT_EQ(image.pixelColor(4, 4), grey);
    auto strip_has = [&](int left, const QColor& color) {
        for (int yy = 110; yy < 126; ++yy)
            for (int xx = left + 4; xx < left + 120; ++xx)
                if (image.pixelColor(xx, yy) == color) return true;
        return false;
    };
    EXPECT_TRUE(strip_has(0, white));
    EXPECT_TRUE(strip_has(128, black));

    // Cell (1, 1) has no file: nothing but the background.
    for (const QPoint p : {QPoint(130, 130), QPoint(200, 200), QPoint(254, 254)})
        EXPECT_EQ(image.pixelColor(p), silver) << p.x() << "," << p.y();
}

// Thumbnails taken from the cache file are read from it when their cells are first drawn.
// A cell drawn after the file was removed still shows its own thumbnail; after the file was
// cut short, or rewritten in place with another folder's thumbnails, it shows none, and
// never another file's.
struct TCacheChangeCase {
    const char* Name;
    enum { Removed, CutShort, Rewritten } Change;
    bool Shown;
};

void PrintTo(const TCacheChangeCase& c, std::ostream* os) { *os << c.Name; }

class ThumbGridCacheChangeTest : public ThumbGridTest,
                                 public ::testing::WithParamInterface<TCacheChangeCase> {};

TEST_P(ThumbGridCacheChangeTest, CellsDrawnAfterTheChange) {
    namespace fs = std::filesystem;
    // The same names in two folders, each file a grey of its own; dated an hour back, as
    // entries of files written within the last 2 seconds are not reused.
    auto fill = [](const fs::path& dir, int grey) {
        for (int i = 0; i < 4; ++i, grey += 30) {
            TBmpPicture picture(16, 16, pkGray256);
            std::memset(picture.Bits(), grey, static_cast<std::size_t>(picture.ImageSize()));
            const fs::path path = dir / ("f0" + std::to_string(i) + ".bmp");
            picture.SaveToFile(path.string());
            fs::last_write_time(path, fs::last_write_time(path) - std::chrono::hours(1));
        }
    };
    test::TTempDir other;
    fill(FDir.Path(), 40);
    fill(other.Path(), 45);
    FGrid.resize(130, 128);  // one cell shows
    Load(other.Path().string());
    Load(FDir.Path().string());
    const std::string cache = FDir.File("pixorama.dtd");
    fs::last_write_time(cache, fs::last_write_time(cache) - std::chrono::hours(1));
    Load("", true);
    ASSERT_EQ(FGrid.Thumbs().Count(), 4);
    ASSERT_TRUE(FGrid.Thumbs().Items(3).Thumbnail.Deferred());
    ASSERT_FALSE(FGrid.Thumbs().Items(3).Thumbnail.InMemory());

    switch (GetParam().Change) {
        case TCacheChangeCase::Removed:
            fs::remove(cache);
            break;
        case TCacheChangeCase::CutShort:
            fs::resize_file(cache, fs::file_size(cache) / 2);
            break;
        case TCacheChangeCase::Rewritten:
            test::WriteFile(cache, test::ReadFile(other.File("pixorama.dtd")));
            break;
    }
    FGrid.SetTopRow(3);
    const QImage image = FGrid.viewport()->grab().toImage();
    // The centre of a 16 x 16 thumbnail in the picture area (3, 3)-(126, 110).
    const QColor centre = image.pixelColor((3 + 126 - 16) / 2 + 9, (3 + 110 - 16) / 2 + 9);
    EXPECT_EQ(centre, GetParam().Shown ? QColor(130, 130, 130) : QColor(192, 192, 192));
    EXPECT_EQ(static_cast<bool>(FGrid.Thumbs().Items(3).Thumbnail), GetParam().Shown);
}

INSTANTIATE_TEST_SUITE_P(
    Changes, ThumbGridCacheChangeTest,
    ::testing::Values(TCacheChangeCase{"Removed", TCacheChangeCase::Removed, true},
                      TCacheChangeCase{"CutShort", TCacheChangeCase::CutShort, false},
                      TCacheChangeCase{"Rewritten", TCacheChangeCase::Rewritten, false}),
    [](const auto& info) { return std::string(info.param.Name); });

// The grid follows its folder: quick times, and no cache write while changes go on.
class ThumbGridFollowTest : public ThumbGridTest {
protected:
    void SetUp() override {
        ThumbGridTest::SetUp();
        FGrid.SetFollowTimes(
            {std::chrono::milliseconds(30), std::chrono::milliseconds(150), std::chrono::hours(1)});
        FGrid.OnNewThumb = [this](int index) {
            FArrivedNames.insert(FGrid.Files()[static_cast<std::size_t>(index)]);
        };
        FGrid.resize(500, 300);
    }
    // Waits until the grid shows exactly `names`, each with its entry, and no load runs.
    bool Shows(std::vector<std::string> names) {
        std::sort(names.begin(), names.end());
        return WaitUntil([&] {
            if (FGrid.Loading() || FGrid.Files() != names) return false;
            for (int i = 0; i < FGrid.Thumbs().Count(); ++i)
                if (!FGrid.Thumbs().Items(i).Thumbnail) return false;
            return TThread::RunningCount() == 0;
        });
    }
    std::string Selected() const {
        const int index = FGrid.FileIndex();
        return index < 0 ? std::string() : FGrid.Files()[static_cast<std::size_t>(index)];
    }
    std::multiset<std::string> FArrivedNames;
};

TEST_F(ThumbGridFollowTest, FilesAddedRewrittenRenamedAndRemovedWhileShown) {
    namespace fs = std::filesystem;
    const auto names = WritePictures(FDir, 5);  // f00 .. f04
    for (const auto& name : names)
        fs::last_write_time(FDir.File(name),
                            fs::file_time_type::clock::now() - std::chrono::hours(1));
    Load(FDir.Path().string());
    const std::string cache = FDir.File("pixorama.dtd");
    const auto written = fs::last_write_time(cache);
    FGrid.SelectFileIndex(2);
    FArrivedNames.clear();
    const int dirChanges = FDirChanges;

    // Files are dated back, so that their entries can be kept: one written within the last
    // 2 seconds is made again at each load.
    const auto dateBack = [&](const std::string& name, std::chrono::minutes age) {
        fs::last_write_time(FDir.File(name), fs::file_time_type::clock::now() - age);
    };
    // A new file before the selection: the selection stays on its file, which moved.
    WritePictures(FDir, 1, "a");
    dateBack("a00.bmp", std::chrono::minutes(60));
    ASSERT_TRUE(Shows({"a00.bmp", "f00.bmp", "f01.bmp", "f02.bmp", "f03.bmp", "f04.bmp"}));
    EXPECT_EQ(Selected(), "f02.bmp");
    EXPECT_EQ(FDirChanges, dirChanges + 1);
    // Rewritten as a larger picture: made again.
    {
        TBmpPicture picture(32, 24, pkGray256);
        std::memset(picture.Bits(), 90, static_cast<std::size_t>(picture.ImageSize()));
        picture.SaveToFile(FDir.File("f04.bmp"));
        dateBack("f04.bmp", std::chrono::minutes(30));
    }
    ASSERT_TRUE(WaitUntil([&] {
        return !FGrid.Loading() && FGrid.Thumbs().Count() == 6 &&
               FGrid.Thumbs().Items(5).Width == 32;
    }));
    fs::rename(FDir.File("f01.bmp"), FDir.File("z99.bmp"));
    ASSERT_TRUE(Shows({"a00.bmp", "f00.bmp", "f02.bmp", "f03.bmp", "f04.bmp", "z99.bmp"}));
    EXPECT_EQ(Selected(), "f02.bmp");
    // The selected file goes: its neighbour takes its place, as after a delete.
    fs::remove(FDir.File("f02.bmp"));
    ASSERT_TRUE(Shows({"a00.bmp", "f00.bmp", "f03.bmp", "f04.bmp", "z99.bmp"}));
    EXPECT_EQ(Selected(), "f03.bmp");
    EXPECT_EQ(FGrid.FileIndex(), 2);
    EXPECT_GE(FGrid.FollowReloads(), 4);
    // Only new, changed and newly selected entries were announced; unchanged ones stayed.
    EXPECT_EQ(FArrivedNames.count("f00.bmp"), 0u);
    EXPECT_EQ(FArrivedNames.count("a00.bmp"), 1u);
    EXPECT_EQ(FArrivedNames.count("z99.bmp"), 1u);

    // No reload wrote the cache file; leaving the folder writes what they made.
    EXPECT_EQ(fs::last_write_time(cache), written);
    test::TTempDir other;
    FGrid.SetDirectory(other.Path().string());
    ASSERT_TRUE(AllThreadsEnded());
    TThumbCacheReader reader;
    ASSERT_TRUE(reader.Open(cache, FGrid.ThumbWidth(), FGrid.ThumbHeight()));
    std::set<std::string> cached;
    for (TThumbCacheEntry entry; reader.NextEntry(entry);) cached.insert(entry.Name);
    EXPECT_EQ(cached,
              (std::set<std::string>{"a00.bmp", "f00.bmp", "f03.bmp", "f04.bmp", "z99.bmp"}));
}

// A file written just now, whose date cannot yet tell a later write, is made once while its
// time and size stay; the reloads after take what the first one made.
TEST_F(ThumbGridFollowTest, AFileJustWrittenIsMadeOnceWhileUnchanged) {
    Load(FDir.Path().string());
    // Put in place whole, so that no load sees the file half written.
    test::TTempDir elsewhere;
    WritePictures(elsewhere, 1, "n");
    std::filesystem::rename(elsewhere.File("n00.bmp"), FDir.File("n00.bmp"));
    ASSERT_TRUE(Shows({"n00.bmp"}));
    WritePictures(FDir, 1, "z");  // after it, so that the selected n00.bmp does not move
    ASSERT_TRUE(Shows({"n00.bmp", "z00.bmp"}));
    EXPECT_EQ(FArrivedNames.count("n00.bmp"), 1u);
    EXPECT_GE(FGrid.FollowReloads(), 2);
}

// A burst of new files reloads the grid at most once per reload period.
TEST_F(ThumbGridFollowTest, ABurstOfFilesGivesFewReloads) {
    Load(FDir.Path().string());
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::string> names;
    for (int i = 0; i < 5; ++i) {
        const auto batch = WritePictures(FDir, 100, "b" + std::to_string(i));
        names.insert(names.end(), batch.begin(), batch.end());
        QCoreApplication::processEvents();
    }
    const auto written = std::chrono::steady_clock::now();
    ASSERT_TRUE(Shows(names));
    const auto periods = (written - start) / std::chrono::milliseconds(150);
    EXPECT_LE(FGrid.FollowReloads(), periods + 3);
    EXPECT_GE(FGrid.FollowReloads(), 1);
}

TEST_F(ThumbGridFollowTest, TheFolderRemovedEmptiesTheGrid) {
    namespace fs = std::filesystem;
    const fs::path dir = FDir.Path() / "shown";
    fs::create_directory(dir);
    test::TTempDir pictures;
    for (const auto& name : WritePictures(pictures, 3)) fs::copy(pictures.File(name), dir / name);
    int gone = 0;
    FGrid.OnDirGone = [&] { ++gone; };
    Load(dir.string());
    ASSERT_EQ(FGrid.Files().size(), 3u);
    fs::rename(dir, FDir.Path() / "renamed");
    ASSERT_TRUE(WaitUntil([&] { return gone == 1; }));
    EXPECT_TRUE(FGrid.Files().empty());
    EXPECT_EQ(FGrid.Thumbs().Count(), 0);
}

struct TFitCase {
    const char* Name;
    const char* Text;
    int MaxWidth;
    const char* Expected;
    bool Cut;
};
void PrintTo(const TFitCase& c, std::ostream* os) { *os << c.Name; }

class FitCellTextTest : public ::testing::TestWithParam<TFitCase> {};

// Every character is 10 pixels wide.
TEST_P(FitCellTextTest, CutsLongNames) {
    const TFitCase& c = GetParam();
    const TFittedText fitted =
        FitCellText(QString::fromUtf8(c.Text), c.MaxWidth,
                    [](const QString& s) { return static_cast<int>(s.size()) * 10; });
    EXPECT_EQ(fitted.Text.toStdString(), c.Expected);
    EXPECT_EQ(fitted.Cut, c.Cut);
}

INSTANTIATE_TEST_SUITE_P(Names, FitCellTextTest,
                         ::testing::Values(TFitCase{"Fits", "abc.tif", 70, "abc.tif", false},
                                           TFitCase{"OneTooMany", "abcd.tif", 70, "abcd...", true},
                                           TFitCase{"MuchTooLong", "a_very_long_file_name.tif", 100,
                                                    "a_very_l..", true},
                                           TFitCase{"DownToNothing", "abcdef", 25, "..", true},
                                           TFitCase{"NoRoomAtAll", "ab", 0, "..", true},
                                           TFitCase{"Empty", "", 0, "", false}),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(FitCellTextPairTest, NeverSplitsASurrogatePair) {
    // "a", two characters outside the basic plane and "xyz", 10 pixels per UTF-16 unit:
    // the first cut that fits leaves "a" and one of the pairs, and the two more take both.
    const QString text = QString::fromUtf8("a\xF0\x9F\x98\x80\xF0\x9F\x98\x80xyz");
    const TFittedText fitted =
        FitCellText(text, 45, [](const QString& s) { return static_cast<int>(s.size()) * 10; });
    EXPECT_TRUE(fitted.Cut);
    EXPECT_EQ(fitted.Text, QStringLiteral(".."));
}

}  // namespace
}  // namespace pix
