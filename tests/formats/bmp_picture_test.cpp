// SPDX-License-Identifier: MIT
#include "formats/bmp_picture.h"

#include "test_support.h"

#include "imaging/stream.h"
#include "platform/byte_order.h"
#include "platform/error.h"
#include "platform/res_strings.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

namespace pix {
namespace {

using Bytes = std::vector<std::uint8_t>;

void Put16(Bytes& b, std::uint16_t v) {
    b.push_back(static_cast<std::uint8_t>(v));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
}
void Put32(Bytes& b, std::uint32_t v) {
    Put16(b, static_cast<std::uint16_t>(v));
    Put16(b, static_cast<std::uint16_t>(v >> 16));
}

// A BMP file assembled field by field, so that tests can make the variants other
// writers produce. Offsets are filled in by Build().
struct TBmpBuilder {
    std::uint32_t HeaderSize = 40;
    std::int32_t Width = 1;
    std::int32_t Height = 1;
    std::uint16_t BitCount = 24;
    std::uint32_t Compression = 0;
    std::uint32_t ClrUsed = 0;
    Bytes HeaderTail;           // bytes of the header after its 40th (masks of V2+ headers)
    Bytes AfterHeader;          // masks after a 40-byte header
    Bytes Table;                // colour table bytes as stored
    std::uint32_t Gap = 0;      // bytes between table and pixels
    std::int64_t OffBits = -1;  // -1: right after table and gap
    Bytes Pixels;

    Bytes Build() const {
        Bytes h;
        if (HeaderSize == 12) {
            Put32(h, 12);
            Put16(h, static_cast<std::uint16_t>(Width));
            Put16(h, static_cast<std::uint16_t>(Height));
            Put16(h, 1);
            Put16(h, BitCount);
        } else {
            Put32(h, HeaderSize);
            Put32(h, static_cast<std::uint32_t>(Width));
            Put32(h, static_cast<std::uint32_t>(Height));
            Put16(h, 1);
            Put16(h, BitCount);
            Put32(h, Compression);
            Put32(h, static_cast<std::uint32_t>(Pixels.size()));
            Put32(h, 2835);
            Put32(h, 2835);
            Put32(h, ClrUsed);
            Put32(h, 0);
            h.insert(h.end(), HeaderTail.begin(), HeaderTail.end());
            h.resize(HeaderSize, 0);
        }
        h.insert(h.end(), AfterHeader.begin(), AfterHeader.end());
        h.insert(h.end(), Table.begin(), Table.end());
        h.resize(h.size() + Gap, 0xEE);
        const std::uint32_t off = OffBits >= 0 ? static_cast<std::uint32_t>(OffBits)
                                               : static_cast<std::uint32_t>(14 + h.size());
        Bytes f{'B', 'M'};
        Put32(f, static_cast<std::uint32_t>(14 + h.size() + Pixels.size()));
        Put32(f, 0);
        Put32(f, off);
        f.insert(f.end(), h.begin(), h.end());
        f.insert(f.end(), Pixels.begin(), Pixels.end());
        return f;
    }
};

// Loads as LoadFromFile does (file header, then the load sequence), from memory.
void Load(TBmpPicture& picture, const Bytes& file) {
    TSpanStream stream(file);
    picture.ReadFileHeader(stream);
    picture.LoadFromStream(stream);
}

Bytes GrayTable(int entries) {
    Bytes t;
    for (int i = 0; i < entries; ++i) {
        const auto v = static_cast<std::uint8_t>(entries == 256 ? i : i * 255 / (entries - 1));
        t.insert(t.end(), {v, v, v, 0});
    }
    return t;
}

std::array<std::uint8_t, 3> Bgr(const TDibPicture& p, int x, int y) {
    const std::uint8_t* px = p.Section()->Row(y) + 3 * x;
    return {px[0], px[1], px[2]};
}

int Index(const TDibPicture& p, int x, int y) {
    const std::uint8_t* row = p.Section()->Row(y);
    switch (p.BitCount()) {
        case 1:
            return (row[x >> 3] >> (7 - (x & 7))) & 1;
        case 4:
            return (x & 1) ? row[x >> 1] & 0x0F : row[x >> 1] >> 4;
        default:
            return row[x];
    }
}

// The message identifier of the EPixError `f` raises, -1 when none.
template <typename F>
int IdOf(F&& f) {
    return test::Raised(std::forward<F>(f)).Id;
}

class BmpPictureTest : public ::testing::Test {};

TEST_F(BmpPictureTest, WrongSignatureIsRefusedBeforeAnythingElseIsRead) {
    const Bytes file{'B', 'A'};
    TSpanStream stream(file);
    TBmpPicture picture;
    EXPECT_EQ(IdOf([&] { picture.ReadFileHeader(stream); }), SInvalidBmpFormat.Id);
    EXPECT_EQ(stream.Position(), 2);
}

TEST_F(BmpPictureTest, Reads24BitRowsPaddedTo16BytesForWidth5) {
    TBmpBuilder b;
    b.Width = 5;
    b.Height = 2;
    // Bottom row first; each row 15 bytes of pixels and one of padding.
    for (int row = 0; row < 2; ++row) {
        for (int x = 0; x < 5; ++x)
            b.Pixels.insert(b.Pixels.end(), {std::uint8_t(x), std::uint8_t(row), 200});
        b.Pixels.push_back(0);
    }
    TBmpPicture picture;
    Load(picture, b.Build());
    EXPECT_EQ(picture.BytesPerLine(), 16u);
    EXPECT_EQ(picture.ImageSize(), 32u);
    EXPECT_EQ(picture.PaletteKind(), pkTrueColor);
    EXPECT_EQ(Bgr(picture, 4, 1), (std::array<std::uint8_t, 3>{4, 0, 200}));  // bottom row
    EXPECT_EQ(Bgr(picture, 2, 0), (std::array<std::uint8_t, 3>{2, 1, 200}));  // top row
}

TEST_F(BmpPictureTest, ProgressOf40RowsReports25And65And100WithTheirBands) {
    TBmpBuilder b;
    b.Width = 4;
    b.Height = 40;
    b.BitCount = 8;
    b.Table = GrayTable(256);
    b.Pixels.assign(4 * 40, 7);
    std::vector<std::array<int, 3>> reports;
    TBmpPicture picture;
    picture.OnProgress = [&](TDibPicture&, int first, int count, int percent, bool&) {
        reports.push_back({first, count, percent});
    };
    Load(picture, b.Build());
    const std::vector<std::array<int, 3>> expected{{0, 10, 25}, {10, 16, 65}, {26, 14, 100}};
    EXPECT_EQ(reports, expected);
}

TEST_F(BmpPictureTest, AbortFromTheProgressHandlerStopsReadingRows) {
    TBmpBuilder b;
    b.Width = 4;
    b.Height = 40;
    b.BitCount = 8;
    b.Table = GrayTable(256);
    b.Pixels.assign(4 * 40, 9);
    TBmpPicture picture;
    picture.OnProgress = [](TDibPicture&, int, int, int, bool& abort) { abort = true; };
    Load(picture, b.Build());
    // The first report comes after file row 9 (bottom-up: picture row 30 from the top).
    EXPECT_EQ(Index(picture, 0, 30), 9);
    EXPECT_EQ(Index(picture, 0, 29), 0);
    EXPECT_EQ(Index(picture, 0, 0), 0);
}

// Write-then-read keeps size, bit count, colour table and every pixel.
class BmpRoundTripTest : public BmpPictureTest,
                         public ::testing::WithParamInterface<std::tuple<TPaletteKind, int, int>> {
};

TEST_P(BmpRoundTripTest, KeepsPixelsAndTable) {
    const auto [kind, width, height] = GetParam();
    TBmpPicture original;
    original.New(width, height, kind);
    std::uint8_t* bits = original.Bits();
    for (std::uint64_t i = 0; i < original.ImageSize(); ++i)
        bits[i] = static_cast<std::uint8_t>(i * 37 + 11);
    // A table of our own, so that a writer falling back on a default one is caught.
    const unsigned entries = original.Info()->TableEntries();
    for (unsigned i = 0; i < entries; ++i)
        original.Info()->Colors()[i] = RGBQUAD{std::uint8_t(i), std::uint8_t(255 - i), 0x5A, 0};

    test::TTempDir dir;
    const std::string path = dir.File("round.bmp");
    original.SaveToFile(path);
    const std::string file = test::ReadFile(path);
    ASSERT_EQ(file.size(), 14 + original.InfoSize() + original.ImageSize());
    EXPECT_EQ(LoadLE32(reinterpret_cast<const std::uint8_t*>(file.data()) + 10),
              14 + original.InfoSize());

    TBmpPicture copy;
    copy.LoadFromFile(path);
    ASSERT_EQ(copy.Width(), width);
    ASSERT_EQ(copy.Height(), height);
    ASSERT_EQ(copy.BitCount(), original.BitCount());
    EXPECT_EQ(std::memcmp(copy.Info()->Colors(), original.Info()->Colors(), entries * 4), 0);
    // Padding bits past the width are not part of the picture; compare whole bytes only.
    const std::size_t rowBytes = (static_cast<std::size_t>(width) * copy.BitCount()) / 8;
    for (int y = 0; y < height; ++y)
        EXPECT_EQ(std::memcmp(copy.Section()->Row(y), original.Section()->Row(y), rowBytes), 0)
            << "row " << y;
}

INSTANTIATE_TEST_SUITE_P(Kinds, BmpRoundTripTest,
                         ::testing::Values(std::make_tuple(pkMono, 67, 5),
                                           std::make_tuple(pk16Colors, 9, 4),
                                           std::make_tuple(pk256Colors, 13, 3),
                                           std::make_tuple(pkTrueColor, 7, 6),
                                           std::make_tuple(pkTrueColor, 300, 300)));

// Only loads are stopped: a save whose picture's loads were stopped still writes every row.
TEST_F(BmpPictureTest, WriterIgnoresAStopOfTheLoads) {
    TBmpPicture picture(8, 50, pkGray256);
    std::stop_source stop;
    stop.request_stop();
    picture.SetStopToken(stop.get_token());
    TMemoryStream stream;
    picture.WriteData(stream, false);
    EXPECT_EQ(stream.Size(), static_cast<std::int64_t>(picture.InfoSize() + picture.ImageSize()));
}

TEST_F(BmpPictureTest, PaletteKindFollowsTheFilesTable) {
    TBmpBuilder gray;
    gray.Width = 2;
    gray.BitCount = 8;
    gray.Table = GrayTable(256);
    gray.Pixels = {0, 255, 0, 0};
    TBmpPicture picture;
    Load(picture, gray.Build());
    EXPECT_EQ(picture.PaletteKind(), pkGray256);

    TBmpBuilder mono;
    mono.Width = 3;
    mono.BitCount = 1;
    mono.Table = {0, 0, 255, 0, 0, 255, 0, 0};  // red, green
    mono.Pixels = {0b01000000, 0, 0, 0};
    Load(picture, mono.Build());
    EXPECT_EQ(picture.PaletteKind(), pkMono);
    EXPECT_EQ(picture.Info()->Colors()[0].rgbRed, 255);
    EXPECT_EQ(picture.Info()->Colors()[1].rgbGreen, 255);
    EXPECT_EQ(Index(picture, 1, 0), 1);
}

TEST_F(BmpPictureTest, ShortTableLeavesTheRestBlackAndOffsetSkipsAGap) {
    TBmpBuilder b;
    b.Width = 4;
    b.BitCount = 8;
    b.ClrUsed = 2;
    b.Table = {10, 20, 30, 0, 40, 50, 60, 0};
    b.Gap = 6;  // pixels start 6 bytes after the table, as the stated offset says
    b.Pixels = {1, 0, 1, 5};
    TBmpPicture picture;
    Load(picture, b.Build());
    EXPECT_EQ(picture.Info()->Colors()[1].rgbRed, 60);
    EXPECT_EQ(picture.Info()->Colors()[5].rgbRed, 0);
    // Coloured entries only among 0..9 and black (grey) from 10 on: the 236-grey kind.
    EXPECT_EQ(picture.PaletteKind(), pkGray236);
    EXPECT_EQ(Index(picture, 0, 0), 1);
    EXPECT_EQ(Index(picture, 3, 0), 5);
}

TEST_F(BmpPictureTest, OffsetOutsideTheFileFallsBackToRowsAfterTheTable) {
    TBmpBuilder b;
    b.Width = 2;
    b.BitCount = 24;
    b.OffBits = 0x7FFFFFF0;
    b.Pixels = {1, 2, 3, 4, 5, 6, 0, 0};
    TBmpPicture picture;
    Load(picture, b.Build());
    EXPECT_EQ(Bgr(picture, 1, 0), (std::array<std::uint8_t, 3>{4, 5, 6}));
}

TEST_F(BmpPictureTest, TopDownRowsAndOs2CoreHeader) {
    TBmpBuilder b;
    b.HeaderSize = 12;
    b.Width = 2;
    b.Height = 2;
    b.BitCount = 4;
    b.Table.resize(16 * 3);     // three bytes per entry
    b.Table[3 * 3 + 2] = 0xAB;  // entry 3: red AB
    b.Pixels = {0x30, 0, 0, 0, 0x03, 0, 0, 0};
    TBmpPicture picture;
    Load(picture, b.Build());
    EXPECT_EQ(picture.Info()->Colors()[3].rgbRed, 0xAB);
    EXPECT_EQ(Index(picture, 0, 1), 3);  // first file row is the bottom
    EXPECT_EQ(Index(picture, 1, 0), 3);

    TBmpBuilder td;
    td.Width = 1;
    td.Height = -2;
    td.Pixels = {1, 1, 1, 0, 2, 2, 2, 0};
    Load(picture, td.Build());
    EXPECT_EQ(picture.Height(), 2);
    EXPECT_EQ(Bgr(picture, 0, 0), (std::array<std::uint8_t, 3>{1, 1, 1}));  // top row first
    EXPECT_EQ(Bgr(picture, 0, 1), (std::array<std::uint8_t, 3>{2, 2, 2}));
    // File row k stays memory row k, so a saved copy is top-down with the same rows.
    TMemoryStream saved;
    picture.WriteFileHeader(saved);
    picture.WriteData(saved, false);
    const std::span<const std::uint8_t> bytes = saved.Data();
    ASSERT_EQ(bytes.size(), 14u + 40 + 8);
    EXPECT_EQ(static_cast<std::int32_t>(LoadLE32(bytes.data() + 14 + 8)), -2);
    EXPECT_TRUE(std::equal(td.Pixels.begin(), td.Pixels.end(), bytes.begin() + 54));
}

TEST_F(BmpPictureTest, TwoBitPixelsBecomeFourBit) {
    TBmpBuilder b;
    b.Width = 5;
    b.BitCount = 2;
    b.Table = GrayTable(4);
    b.Pixels = {0b00011011, 0b11000000, 0, 0};
    TBmpPicture picture;
    Load(picture, b.Build());
    ASSERT_EQ(picture.BitCount(), 4);
    EXPECT_EQ(picture.PaletteKind(), pk16Colors);
    const int expected[5] = {0, 1, 2, 3, 3};
    for (int x = 0; x < 5; ++x) EXPECT_EQ(Index(picture, x, 0), expected[x]);
    EXPECT_EQ(picture.Info()->Colors()[3].rgbRed, 255);
    EXPECT_EQ(picture.Info()->Colors()[4].rgbRed, 0);
}

TEST_F(BmpPictureTest, Rle8RunsLiteralsDeltaAndClippedRuns) {
    TBmpBuilder b;
    b.Width = 6;
    b.Height = 3;
    b.BitCount = 8;
    b.Compression = 1;
    b.Table = GrayTable(256);
    b.Pixels = {
        3, 7,              // bottom row: 7 7 7
        0, 3, 1, 2, 4, 0,  // literal 1 2 4, padded to an even length
        0, 0,              // end of line
        0, 2, 2, 1,        // delta: right 2, down 1 (skips the middle row)
        9, 5,              // run past the row end: clipped to 4 pixels
        0, 1,              // end of bitmap
        0, 9, 9, 9,        // ignored after the end
    };
    TBmpPicture picture;
    Load(picture, b.Build());
    const int expected[3][6] = {{0, 0, 5, 5, 5, 5}, {0, 0, 0, 0, 0, 0}, {7, 7, 7, 1, 2, 4}};
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 6; ++x)
            EXPECT_EQ(Index(picture, x, y), expected[y][x]) << x << "," << y;
}

TEST_F(BmpPictureTest, Rle4AlternatesNibblesAndPadsOddLiterals) {
    TBmpBuilder b;
    b.Width = 7;
    b.Height = 2;
    b.BitCount = 4;
    b.Compression = 2;
    b.Table = GrayTable(16);
    b.Pixels = {
        5, 0x12,                       // 1 2 1 2 1
        0, 3,    0xAB, 0xC0,           // literal A B C (two bytes, already even)
        0, 0,                          // end of line
        0, 5,    0x34, 0x56, 0x70, 0,  // literal 3 4 5 6 7: three bytes plus one pad
        0, 1,
    };
    TBmpPicture picture;
    Load(picture, b.Build());
    const int expected[2][7] = {{3, 4, 5, 6, 7, 0, 0}, {1, 2, 1, 2, 1, 0xA, 0xB}};
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 7; ++x)
            EXPECT_EQ(Index(picture, x, y), expected[y][x]) << x << "," << y;
}

TEST_F(BmpPictureTest, RleDataEndingEarlyIsIncomplete) {
    TBmpBuilder b;
    b.Width = 4;
    b.Height = 4;
    b.BitCount = 8;
    b.Compression = 1;
    b.Table = GrayTable(256);
    b.Pixels = {4, 1, 0, 0, 0, 20};  // a literal of 20 bytes that are not there
    TBmpPicture picture;
    EXPECT_EQ(IdOf([&] { Load(picture, b.Build()); }), SBmpTruncated.Id);
}

TEST_F(BmpPictureTest, BitfieldsScaleEachChannelTo8Bits) {
    // 16-bit 5-6-5 after a 40-byte header.
    TBmpBuilder b;
    b.Width = 2;
    b.BitCount = 16;
    b.Compression = 3;
    for (std::uint32_t m : {0xF800u, 0x07E0u, 0x001Fu}) Put32(b.AfterHeader, m);
    b.Pixels.clear();
    Put16(b.Pixels, 0xFFFF);
    Put16(b.Pixels, (1u << 11) | (32u << 5) | 30u);
    TBmpPicture picture;
    Load(picture, b.Build());
    ASSERT_EQ(picture.BitCount(), 24);
    EXPECT_EQ(Bgr(picture, 0, 0), (std::array<std::uint8_t, 3>{255, 255, 255}));
    // 30 * 255 / 31 = 246, 32 * 255 / 63 = 129, 1 * 255 / 31 = 8 (truncated)
    EXPECT_EQ(Bgr(picture, 1, 0), (std::array<std::uint8_t, 3>{246, 129, 8}));

    // 32-bit with the masks inside a 56-byte header: red in the low byte.
    TBmpBuilder v3;
    v3.HeaderSize = 56;
    v3.Width = 1;
    v3.BitCount = 32;
    v3.Compression = 3;
    for (std::uint32_t m : {0x000000FFu, 0x0000FF00u, 0x00FF0000u, 0xFF000000u})
        Put32(v3.HeaderTail, m);
    v3.Pixels = {0x11, 0x22, 0x33, 0x44};
    Load(picture, v3.Build());
    EXPECT_EQ(Bgr(picture, 0, 0), (std::array<std::uint8_t, 3>{0x33, 0x22, 0x11}));
}

// Header fields that the reader must refuse, each with its message.
struct TRefusal {
    const char* Name;
    TBmpBuilder Builder;
    TResString Message;
    const char* Argument = "";  // a value the message names
};

TBmpBuilder With(std::function<void(TBmpBuilder&)> change) {
    TBmpBuilder b;
    b.Width = 2;
    b.Pixels.assign(8, 0);
    change(b);
    return b;
}

TBmpBuilder Masks(std::uint32_t r, std::uint32_t g, std::uint32_t bl) {
    return With([=](TBmpBuilder& b) {
        b.BitCount = 16;
        b.Compression = 3;
        for (std::uint32_t m : {r, g, bl}) Put32(b.AfterHeader, m);
    });
}

class BmpRefusalTest : public BmpPictureTest, public ::testing::WithParamInterface<TRefusal> {};

TEST_P(BmpRefusalTest, RaisesItsMessage) {
    TBmpPicture picture;
    EXPECT_TRUE(test::IsMessage(test::Raised([&] { Load(picture, GetParam().Builder.Build()); }),
                                GetParam().Message, GetParam().Argument));
}

INSTANTIATE_TEST_SUITE_P(
    Headers, BmpRefusalTest,
    ::testing::Values(
        TRefusal{"HeaderSize66", With([](TBmpBuilder& b) { b.HeaderSize = 66; }),
                 SBmpHeaderNotSupported, "66"},
        TRefusal{"BitCount3", With([](TBmpBuilder& b) { b.BitCount = 3; }),
                 SBmpBitCountNotSupported},
        TRefusal{"JpegInside", With([](TBmpBuilder& b) { b.Compression = 4; }),
                 SBmpCompressionNotSupported},
        TRefusal{"PngInside", With([](TBmpBuilder& b) { b.Compression = 5; }),
                 SBmpCompressionNotSupported},
        TRefusal{"Os2Huffman", With([](TBmpBuilder& b) {
                     b.HeaderSize = 64;
                     b.BitCount = 1;
                     b.Compression = 3;
                 }),
                 SBmpCompressionNotSupported},
        TRefusal{"Rle8With4Bits", With([](TBmpBuilder& b) {
                     b.BitCount = 4;
                     b.Compression = 1;
                 }),
                 SBmpInvalidRle},
        TRefusal{"ZeroWidth", With([](TBmpBuilder& b) { b.Width = 0; }), SInvalidImageSize},
        TRefusal{"NegativeWidth", With([](TBmpBuilder& b) { b.Width = -2; }), SInvalidImageSize},
        // Would need 6 GB of pixels: refused before anything is allocated.
        TRefusal{"Absurd", With([](TBmpBuilder& b) {
                     b.Width = 0x7FFFFFFF;
                     b.Height = 0x7FFFFFFF;
                 }),
                 SImageTooLarge},
        TRefusal{"LargerThanTheFile", With([](TBmpBuilder& b) { b.Height = 30000; }),
                 SBmpTruncated},
        TRefusal{"ShortLastRow", With([](TBmpBuilder& b) { b.Pixels.resize(5); }), SBmpTruncated},
        TRefusal{"EmptyMask", Masks(0xF800, 0, 0x1F), SBmpInvalidBitfields},
        TRefusal{"SplitMask", Masks(0xF800, 0x0520, 0x1F), SBmpInvalidBitfields},
        TRefusal{"OverlappingMasks", Masks(0xF800, 0x0FE0, 0x1F), SBmpInvalidBitfields},
        TRefusal{"MaskPastThePixel", Masks(0x1F0000, 0x07E0, 0x1F), SBmpInvalidBitfields}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(BmpPictureTest, LastRowWithoutPaddingIsAccepted) {
    TBmpBuilder b;
    b.Width = 1;
    b.Height = 2;
    b.Pixels = {1, 2, 3, 0, 4, 5, 6};  // the final pad byte is missing
    TBmpPicture picture;
    Load(picture, b.Build());
    EXPECT_EQ(Bgr(picture, 0, 0), (std::array<std::uint8_t, 3>{4, 5, 6}));
}

}  // namespace
}  // namespace pix
