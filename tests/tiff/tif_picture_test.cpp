// SPDX-License-Identifier: MIT
#include "tiff/tif_picture.h"

#include "test_support.h"
#include "tiff_builder.h"

#include "platform/byte_order.h"
#include "platform/error.h"
#include "tiff/tiff_reader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace pix {
namespace {

using test::TTiffBuilder;

TMemoryStream StreamOf(const std::string& bytes) {
    return TMemoryStream(
        std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

// 16-bit samples as the bytes of a file in the given byte order.
std::string Samples16(const std::vector<std::uint16_t>& samples, bool bigEndian) {
    std::string s;
    for (std::uint16_t v : samples) {
        const char hi = static_cast<char>(v >> 8), lo = static_cast<char>(v & 0xFF);
        s += bigEndian ? hi : lo;
        s += bigEndian ? lo : hi;
    }
    return s;
}

const std::vector<std::uint16_t> kSamples = {1000, 2000, 3000, 1500, 2500, 1000};

std::string File16(bool bigEndian, int photometric = 1) {
    TTiffBuilder b(bigEndian);
    b.Add(TTiffBuilder::Simple(3, 2, {16}, photometric, Samples16(kSamples, bigEndian)));
    return b.Build();
}

std::vector<int> Indices(const TDibPicture& picture) {
    std::vector<int> v;
    for (int y = 0; y < picture.Height(); ++y)
        for (int x = 0; x < picture.Width(); ++x) v.push_back(picture.Section()->Row(y)[x]);
    return v;
}

void Load(TTifPicture& picture, const std::string& bytes) {
    TMemoryStream stream = StreamOf(bytes);
    picture.ReadFileHeader(stream);
    picture.LoadFromStream(stream);
}

class TifPicture16 : public testing::TestWithParam<bool> {};

TEST_P(TifPicture16, SamplesAreKeptAndShownThroughTheWindow) {
    TTifPicture picture;
    Load(picture, File16(GetParam()));
    ASSERT_EQ(picture.BitCount(), 8);
    ASSERT_NE(picture.ImgData16(), nullptr);
    const TImgData16& store = *picture.ImgData16();
    EXPECT_TRUE(store.Keep16);
    EXPECT_EQ(std::vector<std::uint16_t>(store.Words(), store.Words() + 6), kSamples);
    EXPECT_EQ(store.Min, 1000);
    EXPECT_EQ(store.Max, 3000);
    // 2000 is half way: 10 + MulDiv(235, 1000, 2000) = 128; 1500 gives 10 + 58.75 -> 69.
    EXPECT_EQ(Indices(picture), (std::vector<int>{10, 128, 245, 69, 186, 10}));
    EXPECT_EQ(picture.DetectPaletteKind(), pkGray236);
    const RGBQUAD* table = picture.Info()->Colors();
    EXPECT_EQ(table[10].rgbRed, 0);
    EXPECT_EQ(table[245].rgbRed, 255);
}

TEST_P(TifPicture16, WhiteIsZeroInvertsTheGreys) {
    TTifPicture picture;
    Load(picture, File16(GetParam(), 0));
    EXPECT_EQ(Indices(picture), (std::vector<int>{10, 128, 245, 69, 186, 10}));
    const RGBQUAD* table = picture.Info()->Colors();
    EXPECT_EQ(table[10].rgbRed, 255);
    EXPECT_EQ(table[245].rgbRed, 0);
}

TEST_P(TifPicture16, RangeHandlerChoosesTheWindow) {
    TTifPicture picture;
    std::uint16_t seenMin = 1, seenMax = 1;
    picture.OnRange = [&](TDibPicture&, std::uint16_t& min, std::uint16_t& max, bool& handled) {
        seenMin = min;
        seenMax = max;
        min = 2000;
        max = 2000;
        handled = true;
    };
    Load(picture, File16(GetParam()));
    // The store's fields are offered as they stand before the window is chosen.
    EXPECT_EQ(seenMin, 0);
    EXPECT_EQ(seenMax, 0);
    EXPECT_EQ(picture.ImgData16()->Min, 2000);
    EXPECT_EQ(Indices(picture), (std::vector<int>{10, 10, 245, 10, 245, 10}));

    // A handler that leaves Handled false gets the computed window.
    TTifPicture other;
    other.OnRange = [](TDibPicture&, std::uint16_t& min, std::uint16_t&, bool&) { min = 5; };
    Load(other, File16(GetParam()));
    EXPECT_EQ(other.ImgData16()->Min, 1000);
    EXPECT_EQ(Indices(other), (std::vector<int>{10, 128, 245, 69, 186, 10}));
}

INSTANTIATE_TEST_SUITE_P(ByteOrder, TifPicture16, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& info) {
                             return info.param ? "BigEndian" : "LittleEndian";
                         });

TEST(TifPictureTest, EightBitImagesHaveNoSampleStore) {
    TTifPicture picture;
    TTiffBuilder b;
    b.Add(TTiffBuilder::Simple(2, 1, {8}, 1, std::string("\x05\x06", 2)));
    Load(picture, b.Build());
    EXPECT_EQ(picture.ImgData16(), nullptr);
    EXPECT_EQ(picture.DetectPaletteKind(), pkGray256);
}

// Second image of a multi-image file, and the chain's end.
TEST(TifPictureTest, MultiImageStreamsLoadOneImageAfterTheOther) {
    TTiffBuilder b;
    b.Add(TTiffBuilder::Simple(2, 1, {8}, 1, std::string("\x01\x02", 2)));
    b.Add(TTiffBuilder::Simple(3, 1, {8}, 1, std::string("\x07\x08\x09", 3)));
    const std::string file = b.Build();
    TMemoryStream stream = StreamOf(file);
    TTifPicture picture;
    picture.ReadFileHeader(stream);
    EXPECT_TRUE(picture.LoadFromStream(stream));
    EXPECT_EQ(picture.Width(), 2);
    EXPECT_FALSE(picture.LoadFromStream(stream));
    EXPECT_EQ(picture.Width(), 3);
    EXPECT_EQ(Indices(picture), (std::vector<int>{7, 8, 9}));
    EXPECT_EQ(stream.Position(), stream.Size());

    // A second directory that points back to the first ends the chain.
    std::string looped = file;
    const std::uint32_t second = LoadLE32(reinterpret_cast<const std::uint8_t*>(looped.data()) + 8 +
                                          2 + 12 * static_cast<std::uint8_t>(looped[8]));
    const std::size_t secondNext = second + 2 + 12 * static_cast<std::uint8_t>(looped[second]);
    StoreLE32(reinterpret_cast<std::uint8_t*>(looped.data()) + secondNext, 8);
    TMemoryStream loopStream = StreamOf(looped);
    TTifPicture again;
    again.ReadFileHeader(loopStream);
    EXPECT_TRUE(again.LoadFromStream(loopStream));
    EXPECT_FALSE(again.LoadFromStream(loopStream));
}

// What the picture saves, it reads back: 16-bit samples, colours and private tags.
TEST(TifPictureTest, SavedFilesReadBack) {
    test::TTempDir dir;
    for (bool big : {false, true}) {
        TTifPicture picture;
        Load(picture, File16(big));
        picture.Fields().SetAscii(65521, "acquisition header");
        const std::string path = dir.File(big ? "big16.tif" : "little16.tif");
        picture.SaveToFile(path);
        TTifPicture back;
        back.LoadFromFile(path);
        ASSERT_NE(back.ImgData16(), nullptr);
        EXPECT_EQ(
            std::vector<std::uint16_t>(back.ImgData16()->Words(), back.ImgData16()->Words() + 6),
            kSamples);
        EXPECT_EQ(Indices(back), Indices(picture));
        EXPECT_EQ(back.Fields().GetAscii(65521), "acquisition header");
    }

    TTiffBuilder b;
    b.Add(TTiffBuilder::Simple(2, 2, {8, 8, 8}, 2,
                               "\x10\x20\x30\x40\x50\x60\x70\x80\x90\xa0\xb0\xc0"));
    TTifPicture rgb;
    Load(rgb, b.Build());
    const std::string path = dir.File("rgb.tif");
    rgb.SaveToFile(path);
    TTifPicture back;
    back.LoadFromFile(path);
    ASSERT_EQ(back.BitCount(), 24);
    EXPECT_EQ(std::memcmp(back.Bits(), rgb.Bits(), static_cast<std::size_t>(rgb.ImageSize())), 0);
    EXPECT_EQ(back.Section()->Row(0)[2], 0x10);  // red of the top-left pixel, in BGR order
}

TEST(TifPictureTest, RefusedFilesLeaveNoPicture) {
    TTiffBuilder b;
    auto image = TTiffBuilder::Simple(2, 1, {8}, 1, std::string("\x01\x02", 2));
    for (auto& e : image.Entries)
        if (e.Tag == 259) e = TTiffBuilder::Short(259, {6});
    b.Add(image);
    TTifPicture picture;
    EXPECT_THROW(Load(picture, b.Build()), EPixError);
    EXPECT_EQ(picture.Info(), nullptr);
    EXPECT_FALSE(picture.Loading());
}

}  // namespace
}  // namespace pix
