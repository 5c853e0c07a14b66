// SPDX-License-Identifier: MIT
// Entries of TIFF files: image count, depth, numbered comments and the mosaic of a layout.
#include "test_support.h"
#include "tiff_builder.h"

#include "platform/error.h"
#include "platform/file_system.h"
#include "thumbs/thumb_maker.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace pix {
namespace {

using test::TTiffBuilder;

void Put16(std::string& block, std::size_t at, std::uint16_t v) {
    block[at] = static_cast<char>(v & 0xFF);
    block[at + 1] = static_cast<char>(v >> 8);
}

// The private layout tag: version 256, P placed images, and their boxes.
TTiffBuilder::TEntry LayoutTag(std::uint16_t placed, const std::vector<TVexaPlacement>& items,
                               std::uint16_t version = 256) {
    std::string block(708, '\0');
    Put16(block, 0, version);
    Put16(block, 66, placed);
    for (std::size_t i = 0; i < items.size(); ++i) {
        const std::size_t at = 68 + 10 * i;
        Put16(block, at + 2, items[i].Left);
        Put16(block, at + 4, items[i].Top);
        Put16(block, at + 6, items[i].Width);
        Put16(block, at + 8, items[i].Height);
    }
    return TTiffBuilder::Bytes(65520, 1, block);
}

// An 8-bit grey image (BlackIsZero) with an optional description.
TTiffBuilder::TImage Grey(int width, int height, const std::string& pixels,
                          const std::string& description = "") {
    TTiffBuilder::TImage image = TTiffBuilder::Simple(width, height, {8}, 1, pixels);
    if (!description.empty()) image.Entries.push_back(TTiffBuilder::Ascii(270, description));
    return image;
}

TTiffBuilder::TImage Solid(int width, int height, char value, const std::string& description = "") {
    return Grey(
        width, height,
        std::string(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), value),
        description);
}

const std::uint8_t* Pixel(const TDibPicture& picture, int x, int y) {
    return picture.Section()->Row(y) + static_cast<std::size_t>(x) * (picture.BitCount() / 8);
}

class TiffEntryTest : public ::testing::Test {
protected:
    std::string Write(const TTiffBuilder& builder, const std::string& name = "image.tif") {
        const std::string path = FDir.File(name);
        test::WriteFile(path, builder.Build());
        return path;
    }
    test::TTempDir FDir;
};

TEST_F(TiffEntryTest, SingleImageTakesSizesTextsAndHeader) {
    TTiffBuilder tiff;
    TTiffBuilder::TImage image = Solid(30, 10, 100,
                                       "Sch\x8A"
                                       "del");  // Mac Roman "ä"
    image.Entries.push_back(TTiffBuilder::Ascii(315, "Ann"));
    image.Entries.push_back(TTiffBuilder::Ascii(33432, "Corvane \xA9"));
    std::string header(2, '\0');
    Put16(header, 0, 256);
    const double magnification = 5000;
    header += std::string("\x02\x00\x08\x00\x00\x00", 6);
    header.append(reinterpret_cast<const char*>(&magnification), 8);
    header += std::string("\x0F\x00\x04\x00\x00\x00\x2A\x00\x00\x00", 10);  // image number 42
    image.Entries.push_back(TTiffBuilder::Bytes(65521, 1, header));
    tiff.Add(image);
    const std::string path = Write(tiff);

    TThumbInfo info;
    MakeThumbInfo(path, 112, 96, info);
    EXPECT_EQ(info.ImageCount, 1);
    EXPECT_EQ(info.Width, 30);
    EXPECT_EQ(info.Height, 10);
    EXPECT_EQ(info.DataSize, 32 * 10);  // rows padded to 4 bytes
    EXPECT_EQ(info.BitCount, 8);
    EXPECT_EQ(info.Comment,
              "Sch\xE4"
              "del");
    EXPECT_EQ(info.Author, "Ann");
    EXPECT_EQ(info.Copyright, "Corvane \xA9");
    EXPECT_EQ(info.Magnification, 5000);
    EXPECT_EQ(info.ImageNumber, 42);
    EXPECT_EQ(info.FileDate, FileAge(path));
    ASSERT_NE(info.Thumbnail, nullptr);
    EXPECT_EQ(info.Thumbnail->Width(), 112);
    EXPECT_EQ(info.Thumbnail->Height(), 37);
    EXPECT_EQ(info.Thumbnail->BitCount(), 8);
}

TEST_F(TiffEntryTest, SixteenBitSamplesGiveBitCount16) {
    TTiffBuilder tiff;
    std::string samples;
    for (int i = 0; i < 16; ++i) {
        samples += static_cast<char>(0);
        samples += static_cast<char>(i * 16);
    }
    tiff.Add(TTiffBuilder::Simple(4, 4, {16}, 1, samples));
    TThumbInfo info;
    MakeThumbInfo(Write(tiff), 112, 96, info);
    EXPECT_EQ(info.BitCount, 16);
    EXPECT_EQ(info.DataSize, 16);  // the 8-bit picture that shows the samples
    ASSERT_NE(info.Thumbnail, nullptr);
    EXPECT_EQ(info.Thumbnail->BitCount(), 8);
}

TEST_F(TiffEntryTest, TwoImagesWithoutLayoutShowTheFirst) {
    TTiffBuilder tiff;
    tiff.Add(Solid(20, 10, 0, "first"));
    tiff.Add(Solid(8, 8, 50, "second"));
    const std::string path = Write(tiff);
    TThumbInfo info;
    MakeThumbInfo(path, 112, 96, info);
    EXPECT_EQ(info.ImageCount, 2);
    EXPECT_EQ(info.Width, 0);
    EXPECT_EQ(info.Height, 0);
    EXPECT_EQ(info.BitCount, 0);
    EXPECT_EQ(info.DataSize, FileSize(path));
    EXPECT_EQ(info.Comment, "[1] first");  // further images are not read
    ASSERT_NE(info.Thumbnail, nullptr);
    EXPECT_EQ(info.Thumbnail->Width(), 112);
    EXPECT_EQ(info.Thumbnail->Height(), 56);
}

TEST_F(TiffEntryTest, LayoutOfAnotherVersionIsIgnored) {
    TTiffBuilder tiff;
    TTiffBuilder::TImage first = Solid(20, 10, 0);
    first.Entries.push_back(LayoutTag(2, {{0, 0, 10, 10}, {10, 0, 10, 10}}, 255));
    tiff.Add(first);
    tiff.Add(Solid(8, 8, 50));
    TThumbInfo info;
    MakeThumbInfo(Write(tiff), 112, 96, info);
    EXPECT_EQ(info.Width, 0);
    ASSERT_NE(info.Thumbnail, nullptr);
    EXPECT_EQ(info.Thumbnail->Height(), 56);  // the first image, 20 × 10
}

struct TCommentCase {
    const char* Name;
    std::vector<std::string> Descriptions;
    std::string Expect;
};

class TiffCommentTest : public TiffEntryTest, public ::testing::WithParamInterface<TCommentCase> {};

TEST_P(TiffCommentTest, NumbersTheDescriptionsOfPlacedImages) {
    const TCommentCase& c = GetParam();
    TTiffBuilder tiff;
    for (std::size_t i = 0; i < c.Descriptions.size(); ++i) {
        TTiffBuilder::TImage image = Solid(4, 4, 0, c.Descriptions[i]);
        if (i == 0)
            image.Entries.push_back(LayoutTag(3, {{0, 0, 4, 4}, {4, 0, 4, 4}, {8, 0, 4, 4}}));
        tiff.Add(image);
    }
    TThumbInfo info;
    MakeThumbInfo(Write(tiff), 112, 96, info);
    EXPECT_EQ(info.Comment, c.Expect);
    EXPECT_EQ(info.ImageCount, 3);
    EXPECT_EQ(info.Width, 12);
    EXPECT_EQ(info.Height, 4);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TiffCommentTest,
    ::testing::Values(TCommentCase{"All", {"a", "b", "c"}, "[1] a\r\n[2] b\r\n[3] c"},
                      TCommentCase{"EmptyFirst", {"", "b", "c"}, "[2] b\r\n[3] c"},
                      TCommentCase{"EmptyMiddle", {"a", "", "c"}, "[1] a\r\n[3] c"},
                      TCommentCase{"NoneButLast", {"", "", "c"}, "[3] c"},
                      TCommentCase{"None", {"", "", ""}, ""}),
    [](const ::testing::TestParamInfo<TCommentCase>& info) { return info.param.Name; });

// Two images in a layout that places three: a 200 × 200 checkerboard in the left box and a
// 50 × 25 grey image in the right box, on a canvas of 112 × 56 pixels.
class TiffMosaicTest : public TiffEntryTest, public ::testing::WithParamInterface<bool> {
protected:
    std::string MosaicFile() {
        TTiffBuilder tiff(GetParam());
        std::string checker(200 * 200, '\0');
        for (int y = 0; y < 200; ++y)
            for (int x = 0; x < 200; ++x)
                checker[static_cast<std::size_t>(y * 200 + x)] = ((x + y) & 1) ? '\xFF' : '\0';
        TTiffBuilder::TImage first = Grey(200, 200, checker, "left");
        first.Entries.push_back(
            LayoutTag(3, {{0, 0, 100, 100}, {100, 0, 100, 100}, {0, 100, 200, 100}}));
        tiff.Add(first);
        tiff.Add(Solid(50, 25, static_cast<char>(200), "right"));
        return Write(tiff);
    }
};

TEST_P(TiffMosaicTest, PlacesTheImagesOnWhite) {
    TThumbInfo info;
    MakeThumbInfo(MosaicFile(), 112, 96, info);
    EXPECT_EQ(info.ImageCount, 2);
    // The third placement has no image: the box spans the first two only.
    EXPECT_EQ(info.Width, 200);
    EXPECT_EQ(info.Height, 100);
    EXPECT_EQ(info.BitCount, 0);
    EXPECT_EQ(info.Comment, "[1] left\r\n[2] right");
    ASSERT_NE(info.Thumbnail, nullptr);
    const TBmpPicture& thumb = *info.Thumbnail;
    ASSERT_EQ(thumb.Width(), 112);
    ASSERT_EQ(thumb.Height(), 56);
    ASSERT_EQ(thumb.BitCount(), 24);
    // Left: the checkerboard reduced to 56 × 56 averages to mid grey.
    for (int y = 0; y < 56; y += 5)
        for (int x = 0; x < 56; x += 5) {
            const std::uint8_t* p = Pixel(thumb, x, y);
            EXPECT_TRUE(p[0] > 100 && p[0] < 155 && p[0] == p[1] && p[1] == p[2])
                << x << "," << y << ": " << int{p[0]};
        }
    // Right top: the grey image fitted to 56 × 28.
    for (const auto& [x, y] : {std::pair{56, 0}, std::pair{111, 27}, std::pair{80, 10}})
        EXPECT_EQ(Pixel(thumb, x, y)[1], 200) << x << "," << y;
    // Right bottom: nothing placed, white.
    for (const auto& [x, y] : {std::pair{56, 28}, std::pair{111, 55}, std::pair{80, 40}}) {
        const std::uint8_t* p = Pixel(thumb, x, y);
        EXPECT_TRUE(p[0] == 255 && p[1] == 255 && p[2] == 255) << x << "," << y;
    }
}

INSTANTIATE_TEST_SUITE_P(ByteOrders, TiffMosaicTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "BigEndian" : "LittleEndian";
                         });

TEST_F(TiffEntryTest, TinyLayoutStillMakesAThumbnail) {
    // A layout one unit wide and 1000 high scales its width to under one pixel.
    TTiffBuilder tiff;
    TTiffBuilder::TImage first = Solid(1, 100, 0);
    first.Entries.push_back(LayoutTag(2, {{0, 0, 1, 500}, {0, 500, 1, 500}}));
    tiff.Add(first);
    tiff.Add(Solid(1, 100, 0));
    TThumbInfo info;
    MakeThumbInfo(Write(tiff), 112, 96, info);
    EXPECT_EQ(info.Width, 1);
    EXPECT_EQ(info.Height, 1000);
    ASSERT_NE(info.Thumbnail, nullptr);
    EXPECT_EQ(info.Thumbnail->Width(), 1);
    EXPECT_EQ(info.Thumbnail->Height(), 96);
}

TEST_F(TiffEntryTest, BrokenSecondImageFailsTheEntry) {
    TTiffBuilder tiff;
    TTiffBuilder::TImage first = Solid(4, 4, 0, "a");
    first.Entries.push_back(LayoutTag(2, {{0, 0, 4, 4}, {4, 0, 4, 4}}));
    tiff.Add(first);
    TTiffBuilder::TImage second = Solid(4, 4, 0, "b");
    second.Entries.erase(second.Entries.begin());  // no ImageWidth
    tiff.Add(second);
    TThumbInfo info;
    EXPECT_THROW(MakeThumbInfo(Write(tiff), 112, 96, info), EPixError);
    EXPECT_EQ(info.Thumbnail, nullptr);
    EXPECT_EQ(info.Comment, "");
    EXPECT_EQ(info.ImageCount, 0);
}

}  // namespace
}  // namespace pix
