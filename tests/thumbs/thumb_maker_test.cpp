// SPDX-License-Identifier: MIT
#include "thumbs/thumb_maker.h"

#include "formats/bmp_picture.h"
#include "formats/jpg_picture.h"
#include "test_support.h"

#include "platform/error.h"
#include "platform/file_system.h"
#include "platform/res_strings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

namespace pix {
namespace {

// Row y (from the top) of a picture's pixels.
std::uint8_t* Row(TDibPicture& picture, int y) {
    const TDibSection* section = picture.Section();
    return picture.Bits() + (section->Row(y) - section->Bits());
}

// ---- Sizes and scales ----

struct TSizeCase {
    int BoxWidth, BoxHeight, Width, Height, ExpectWidth, ExpectHeight;
};

class ThumbnailSizeTest : public ::testing::TestWithParam<TSizeCase> {};

TEST_P(ThumbnailSizeTest, KeepsAspectWithOneSideOnTheBox) {
    const TSizeCase& c = GetParam();
    const TThumbSize size = ThumbnailSize(c.BoxWidth, c.BoxHeight, c.Width, c.Height);
    EXPECT_EQ(size.Width, c.ExpectWidth);
    EXPECT_EQ(size.Height, c.ExpectHeight);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ThumbnailSizeTest,
    ::testing::Values(TSizeCase{112, 96, 3000, 1000, 112, 37},  // wide: width on the box
                      TSizeCase{112, 96, 1000, 3000, 32, 96},   // high: height on the box
                      TSizeCase{112, 96, 112, 96, 112, 96},     // same shape
                      TSizeCase{112, 96, 7, 6, 112, 96},        // equal quotients: height rule
                      TSizeCase{112, 96, 10, 10, 96, 96},       // small pictures are enlarged
                      TSizeCase{112, 96, 224, 5, 112, 3},       // 2.5 rounds away from zero
                      TSizeCase{112, 96, 100000, 10, 112, 1},   // line scan: never 0
                      TSizeCase{112, 96, 10, 100000, 1, 96},
                      TSizeCase{112, 96, 2147483647, 1, 112, 1},
                      TSizeCase{112, 96, 0, 0, 112, 96}));  // no picture size: the box

struct TFitCase {
    int Width, Height, BoxWidth, BoxHeight;
    float Expect;
};

class FitScaleTest : public ::testing::TestWithParam<TFitCase> {};

TEST_P(FitScaleTest, FitsTheLongerSideRelativeToTheBox) {
    const TFitCase& c = GetParam();
    EXPECT_EQ(FitScale(c.Width, c.Height, c.BoxWidth, c.BoxHeight), c.Expect);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FitScaleTest,
    ::testing::Values(TFitCase{3000, 1000, 112, 96, 112.0f / 3000},  // wider than the box
                      TFitCase{1000, 3000, 112, 96, 96.0f / 3000},   // higher than the box
                      TFitCase{112, 96, 112, 96, 1.0f},
                      TFitCase{50, 25, 100, 100, 2.0f},  // enlarges too
                      TFitCase{3, 1, 1, 1, static_cast<float>(1.0 / 3)},
                      TFitCase{10, 0, 112, 96, 0.0f},  // no height
                      TFitCase{10, 10, 112, 0, 0.0f},  // no box height
                      TFitCase{0, 10, 112, 96, 9.6f},  // zero width fits by height
                      TFitCase{0, 10, 0, 96, 9.6f}));

// ---- Mosaic geometry ----

TVexaLayout Layout(std::initializer_list<TVexaPlacement> items) {
    TVexaLayout layout;
    for (const TVexaPlacement& p : items)
        layout.Items[static_cast<std::size_t>(layout.Count++)] = p;
    return layout;
}

TEST(MosaicGeometryTest, BoundingBoxSpansOnlyTheCountedPlacements) {
    const TVexaLayout layout = Layout({{10, 20, 100, 50}, {110, 20, 100, 50}, {10, 70, 300, 30}});
    const TRect all = LayoutBounds(layout, 3);
    EXPECT_EQ(all.Left, 10);
    EXPECT_EQ(all.Top, 20);
    EXPECT_EQ(all.Right, 310);
    EXPECT_EQ(all.Bottom, 100);
    // Two images in the file: the third placement does not count.
    const TRect two = LayoutBounds(layout, 2);
    EXPECT_EQ(two.Left, 10);
    EXPECT_EQ(two.Top, 20);
    EXPECT_EQ(two.Right, 210);
    EXPECT_EQ(two.Bottom, 70);
    // The largest placement does not overflow.
    const TRect far = LayoutBounds(Layout({{65535, 65535, 65535, 65535}}), 1);
    EXPECT_EQ(far.Right, 131070);
    EXPECT_EQ(far.Bottom - far.Top, 65535);
}

TEST(MosaicGeometryTest, CanvasTruncatesAndKeepsOnePixel) {
    const float s = FitScale(200, 80, 112, 96);  // 0.56
    const TThumbSize size = MosaicSize(200, 80, s);
    EXPECT_EQ(size.Width, 112);
    EXPECT_EQ(size.Height, 44);  // 44.8 truncated
    // A layout 1 unit wide scales to 0.096 pixels: still one pixel.
    const TThumbSize thin = MosaicSize(1, 1000, FitScale(1, 1000, 112, 96));
    EXPECT_EQ(thin.Width, 1);
    EXPECT_EQ(thin.Height, 96);
    const TThumbSize none = MosaicSize(0, 0, FitScale(0, 0, 112, 96));
    EXPECT_EQ(none.Width, 1);
    EXPECT_EQ(none.Height, 1);
}

TEST(MosaicGeometryTest, PlacementScalesCornerAndFitsImage) {
    const TRect bounds{10, 20, 210, 70};
    const float s = FitScale(200, 50, 112, 96);  // 0.56
    // A 400 × 200 image in a 100 × 50 box: fit 0.25, so 56 × 28 on the canvas.
    const TRect r = MosaicPlacement({110, 20, 100, 50}, bounds, s, 400, 200);
    EXPECT_EQ(r.Left, 56);
    EXPECT_EQ(r.Top, 0);
    EXPECT_EQ(r.Right, 112);
    EXPECT_EQ(r.Bottom, 28);
    // An image of another shape than its box keeps its own shape inside it.
    const TRect tall = MosaicPlacement({10, 20, 100, 50}, bounds, s, 100, 200);
    EXPECT_EQ(tall.Right - tall.Left, 14);  // 100 × 0.25 × 0.56
    EXPECT_EQ(tall.Bottom - tall.Top, 28);
}

TEST(MosaicGeometryTest, CoordinatesRoundHalvesToEven) {
    const TRect bounds{0, 0, 224, 100};
    const float s = FitScale(224, 100, 112, 96);
    ASSERT_EQ(s, 0.5f);
    EXPECT_EQ(MosaicPlacement({5, 7, 10, 10}, bounds, s, 10, 10).Left, 2);  // 2.5
    EXPECT_EQ(MosaicPlacement({5, 7, 10, 10}, bounds, s, 10, 10).Top, 4);   // 3.5
    // Width 5 × 0.5 × 1 = 2.5 rounds to 2.
    const TRect r = MosaicPlacement({0, 0, 5, 5}, bounds, s, 5, 5);
    EXPECT_EQ(r.Right, 2);
    EXPECT_EQ(r.Bottom, 2);
}

// ---- Drawing into the thumbnail ----

TEST(StretchOntoTest, TakesTheSourceColourTable) {
    // An inverted grey table classifies as grey like the ramp a new thumbnail gets, so only
    // copying the table keeps the colours.
    TBmpPicture source(4, 4, pkGray256);
    FillInvGrayTable(source.Info()->Colors());
    ASSERT_EQ(source.DetectPaletteKind(), pkGray256);
    for (int y = 0; y < 4; ++y) std::memset(Row(source, y), 40, 4);
    TBmpPicture thumb(2, 2, source.DetectPaletteKind());
    StretchOnto(source, thumb);
    EXPECT_EQ(std::memcmp(thumb.Info()->Colors(), source.Info()->Colors(), 256 * sizeof(RGBQUAD)),
              0);
    EXPECT_EQ(thumb.Info()->Colors()[Row(thumb, 1)[1]].rgbGreen, 255 - 40);
}

TEST(StretchOntoTest, ReductionAveragesFineStructure) {
    // A one-pixel checkerboard reduced 8 times must come out mid grey, not black or white.
    TBmpPicture source(64, 64, pkGray256);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) Row(source, y)[x] = ((x + y) & 1) ? 255 : 0;
    TBmpPicture thumb(8, 8, pkGray256);
    StretchOnto(source, thumb);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            EXPECT_GE(Row(thumb, y)[x], 110) << x << "," << y;
            EXPECT_LE(Row(thumb, y)[x], 145) << x << "," << y;
        }
}

// ---- Entries of BMP and JPEG files ----

struct TFileCase {
    const char* Name;
    int Width, Height;
    TPaletteKind Kind;
    int DataSize, BitCount, ThumbWidth, ThumbHeight;
};

class PlainFileEntryTest : public ::testing::TestWithParam<TFileCase> {};

TEST_P(PlainFileEntryTest, TakesSizesFromThePicture) {
    const TFileCase& c = GetParam();
    test::TTempDir dir;
    const std::string path = dir.File(c.Name);
    const std::string ext = UpperCaseAscii(ExtractFileExt(path));
    if (ext == ".JPG") {
        TJpgPicture(c.Width, c.Height, c.Kind).SaveToFile(path);
    } else {
        TBmpPicture(c.Width, c.Height, c.Kind).SaveToFile(path);
    }
    TThumbInfo info;
    info.Comment = "left over";
    MakeThumbInfo(path, kDefaultThumbWidth, kDefaultThumbHeight, info);
    EXPECT_EQ(info.Width, c.Width);
    EXPECT_EQ(info.Height, c.Height);
    EXPECT_EQ(info.DataSize, c.DataSize);
    EXPECT_EQ(info.BitCount, c.BitCount);
    EXPECT_EQ(info.ImageCount, 0);
    EXPECT_EQ(info.Comment, "");
    EXPECT_EQ(info.FileDate, FileAge(path));
    EXPECT_NE(info.FileDate, -1);
    ASSERT_NE(info.Thumbnail, nullptr);
    EXPECT_EQ(info.Thumbnail->Width(), c.ThumbWidth);
    EXPECT_EQ(info.Thumbnail->Height(), c.ThumbHeight);
    EXPECT_EQ(info.Thumbnail->BitCount(), c.BitCount);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, PlainFileEntryTest,
    ::testing::Values(TFileCase{"grey.bmp", 300, 100, pkGray256, 30000, 8, 112, 37},
                      TFileCase{"rows.BMP", 5, 7, pkTrueColor, 16 * 7, 24, 69,
                                96},  // rows padded to 16 bytes
                      TFileCase{"mono.bmp", 33, 3, pkMono, 8 * 3, 1, 112, 10},
                      TFileCase{"scan.bmp", 5000, 4, pkGray256, 20000, 8, 112, 1},  // line scan
                      TFileCase{"colour.jpg", 100, 300, pkTrueColor, 300 * 300, 24, 32, 96}),
    [](const ::testing::TestParamInfo<TFileCase>& info) {
        std::string name = info.param.Name;
        for (char& ch : name)
            if (ch == '.') ch = '_';
        return name;
    });

TEST(MakeThumbInfoTest, ThumbnailShowsThePicture) {
    test::TTempDir dir;
    const std::string path = dir.File("half.bmp");
    // Left half black, right half white.
    TBmpPicture picture(200, 100, pkGray256);
    for (int y = 0; y < 100; ++y) std::memset(Row(picture, y) + 100, 255, 100);
    picture.SaveToFile(path);
    TThumbInfo info;
    MakeThumbInfo(path, 112, 96, info);
    ASSERT_NE(info.Thumbnail, nullptr);
    ASSERT_EQ(info.Thumbnail->Width(), 112);
    ASSERT_EQ(info.Thumbnail->Height(), 56);
    EXPECT_EQ(Row(*info.Thumbnail, 20)[10], 0);
    EXPECT_EQ(Row(*info.Thumbnail, 20)[100], 255);
}

TEST(MakeThumbInfoTest, FailureClearsEverythingButTheDate) {
    test::TTempDir dir;
    const std::string good = dir.File("good.bmp");
    TBmpPicture(8, 8, pkGray256).SaveToFile(good);
    const std::string bad = dir.File("bad.bmp");
    test::WriteFile(bad, "BA" + std::string(60, '\0'));

    TThumbInfo info;
    MakeThumbInfo(good, 112, 96, info);
    ASSERT_NE(info.Thumbnail, nullptr);
    info.Comment = "from before";
    info.Magnification = 5;
    try {
        MakeThumbInfo(bad, 112, 96, info);
        FAIL() << "no exception";
    } catch (const EPixError& e) {
        EXPECT_EQ(e.Id, SInvalidBmpFormat.Id);
    }
    EXPECT_EQ(info.Thumbnail, nullptr);
    EXPECT_EQ(info.Width, 0);
    EXPECT_EQ(info.DataSize, 0);
    EXPECT_EQ(info.Comment, "");
    EXPECT_EQ(info.Magnification, 0);
    EXPECT_EQ(info.FileDate, FileAge(bad));
    EXPECT_NE(info.FileDate, -1);

    EXPECT_THROW(MakeThumbInfo(dir.File("missing.jpg"), 112, 96, info), EPixError);
    EXPECT_EQ(info.FileDate, -1);
    EXPECT_EQ(info.Thumbnail, nullptr);
}

// A large JPEG is decoded reduced for its thumbnail; the entry still describes the stored
// picture, and the thumbnail is close to one made from the full decode (reduced decoding
// averages 8 × 8 blocks in the frequency domain, and chroma is resampled differently).
// Sides that are not a multiple of 8 would add a shift of up to 7 pixels at the far
// edges, under half a thumbnail pixel, which this comparison leaves out.
TEST(MakeThumbInfoTest, JpegDecodedReducedGivesTheFullDecodesThumbnail) {
    test::TTempDir dir;
    const std::string path = dir.File("photo.jpg");
    constexpr int kWidth = 1600, kHeight = 1200;
    {
        TJpgPicture picture(kWidth, kHeight, pkTrueColor);
        picture.SetQuality(90);
        // Smooth colour ramps with a fine pattern and hard edges, as photographs have.
        for (int y = 0; y < kHeight; ++y) {
            std::uint8_t* row = Row(picture, y);
            for (int x = 0; x < kWidth; ++x) {
                const int edge = ((x / 97 + y / 61) & 1) * 60;
                row[3 * x] = static_cast<std::uint8_t>(x / 9 + edge);
                row[3 * x + 1] = static_cast<std::uint8_t>(y / 6 + ((x ^ y) & 31));
                row[3 * x + 2] = static_cast<std::uint8_t>((x + y) / 15 + edge);
            }
        }
        picture.SaveToFile(path);
    }
    TThumbInfo info;
    MakeThumbInfo(path, 112, 96, info);
    EXPECT_EQ(info.Width, kWidth);
    EXPECT_EQ(info.Height, kHeight);
    EXPECT_EQ(info.DataSize, kWidth * 3 * kHeight);
    EXPECT_EQ(info.BitCount, 24);
    ASSERT_NE(info.Thumbnail, nullptr);
    ASSERT_EQ(info.Thumbnail->Width(), 112);
    ASSERT_EQ(info.Thumbnail->Height(), 84);

    TJpgPicture full;
    full.LoadFromFile(path);
    ASSERT_EQ(full.Width(), kWidth);
    TBmpPicture expected(112, 84, full.DetectPaletteKind());
    StretchOnto(full, expected);
    long total = 0;
    int worst = 0;
    for (int y = 0; y < 84; ++y) {
        for (int x = 0; x < 112 * 3; ++x) {
            const int d = std::abs(Row(*info.Thumbnail, y)[x] - Row(expected, y)[x]);
            total += d;
            worst = std::max(worst, d);
        }
    }
    EXPECT_LT(static_cast<double>(total) / (112 * 84 * 3), 1.5);
    EXPECT_LT(worst, 24);
}

}  // namespace
}  // namespace pix
