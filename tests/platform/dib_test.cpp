// SPDX-License-Identifier: MIT
#include "platform/dib.h"

#include "platform/dib_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <tuple>
#include <vector>

namespace pix {
namespace {

using namespace test;

// ---- palettes and screen ----

struct TColorCountCase {
    int BitCount;
    std::uint32_t ClrUsed;
    unsigned Expected;
};

class DibColorCountTest : public ::testing::TestWithParam<TColorCountCase> {};

TEST_P(DibColorCountTest, FollowsBitCountAndClrUsed) {
    BITMAPINFOHEADER h{};
    h.biBitCount = static_cast<std::uint16_t>(GetParam().BitCount);
    h.biClrUsed = GetParam().ClrUsed;
    EXPECT_EQ(DibColorCount(h), GetParam().Expected);
}

INSTANTIATE_TEST_SUITE_P(Headers, DibColorCountTest,
                         ::testing::Values(TColorCountCase{1, 0, 2}, TColorCountCase{4, 0, 16},
                                           TColorCountCase{8, 0, 256}, TColorCountCase{8, 17, 17},
                                           TColorCountCase{4, 300, 16}, TColorCountCase{1, 1, 1},
                                           TColorCountCase{24, 0, 0}, TColorCountCase{24, 256, 0},
                                           TColorCountCase{16, 0, 0}));

TEST(Palette, HalftonePaletteHoldsStaticColoursCubeAndGreys) {
    const auto palette = CreateHalftonePalette();
    ASSERT_NE(palette, nullptr);
    EXPECT_TRUE(palette->IsHalftone());
    const auto& e = palette->Entries();
    ASSERT_EQ(e.size(), 256u);
    const auto same = [](const PALETTEENTRY& a, const PALETTEENTRY& b) {
        return a.peRed == b.peRed && a.peGreen == b.peGreen && a.peBlue == b.peBlue;
    };
    for (int i = 0; i < 10; ++i) {
        EXPECT_TRUE(same(e[i], kStaticColors[i])) << i;
        EXPECT_TRUE(same(e[246 + i], kStaticColors[10 + i])) << i;
    }
    // Every colour of the 6-level cube is there.
    for (int r = 0; r < 6; ++r)
        for (int g = 0; g < 6; ++g)
            for (int b = 0; b < 6; ++b) {
                const PALETTEENTRY want{static_cast<std::uint8_t>(51 * r),
                                        static_cast<std::uint8_t>(51 * g),
                                        static_cast<std::uint8_t>(51 * b), 0};
                EXPECT_TRUE(std::any_of(e.begin(), e.end(),
                                        [&](const PALETTEENTRY& p) { return same(p, want); }))
                    << r << g << b;
            }
    // 20 further greys, none of them a cube level, all distinct.
    std::vector<int> greys;
    for (int i = 10; i < 246; ++i)
        if (e[i].peRed == e[i].peGreen && e[i].peGreen == e[i].peBlue && e[i].peRed % 51 != 0)
            greys.push_back(e[i].peRed);
    std::sort(greys.begin(), greys.end());
    EXPECT_EQ(greys.size(), 20u);
    EXPECT_EQ(std::adjacent_find(greys.begin(), greys.end()), greys.end());
}

TEST(Palette, CreateAndReadEntries) {
    EXPECT_EQ(CreatePalette(kStaticColors, 0), nullptr);
    std::vector<PALETTEENTRY> many(257, PALETTEENTRY{1, 2, 3, 0});
    EXPECT_EQ(CreatePalette(many.data(), 257), nullptr);
    const auto palette = CreatePalette(kStaticColors, 20);
    ASSERT_NE(palette, nullptr);
    EXPECT_FALSE(palette->IsHalftone());
    EXPECT_EQ(GetPaletteEntries(palette.get(), 0, 0, nullptr), 20u);
    std::array<PALETTEENTRY, 8> out{};
    // A request past the end is cut to the entries that exist.
    EXPECT_EQ(GetPaletteEntries(palette.get(), 15, 8, out.data()), 5u);
    EXPECT_EQ(out[0].peRed, 0xFF);  // static colour 15: yellow
    EXPECT_EQ(out[0].peBlue, 0x00);
    EXPECT_EQ(out[4].peBlue, 0xFF);  // static colour 19: white
    EXPECT_EQ(GetPaletteEntries(palette.get(), 20, 8, out.data()), 0u);
    EXPECT_EQ(GetPaletteEntries(nullptr, 0, 8, out.data()), 0u);
}

// ---- sections ----

struct TRefusal {
    const char* Name;
    void (*Spoil)(BITMAPINFOHEADER&);
};

class SectionRefusalTest : public ::testing::TestWithParam<TRefusal> {};

TEST_P(SectionRefusalTest, GivesNull) {
    TTestDib dib(4, 4, 8, GrayTable(256));
    GetParam().Spoil(dib.Info()->bmiHeader);
    EXPECT_EQ(TDibSection::Create(dib.Info(), false), nullptr);
    EXPECT_EQ(TDibSection::Create(dib.Info(), true), nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Headers, SectionRefusalTest,
    ::testing::Values(TRefusal{"ShortHeader", [](BITMAPINFOHEADER& h) { h.biSize = 12; }},
                      TRefusal{"TwoPlanes", [](BITMAPINFOHEADER& h) { h.biPlanes = 2; }},
                      TRefusal{"Bits16", [](BITMAPINFOHEADER& h) { h.biBitCount = 16; }},
                      TRefusal{"Bits32", [](BITMAPINFOHEADER& h) { h.biBitCount = 32; }},
                      TRefusal{"Bits2", [](BITMAPINFOHEADER& h) { h.biBitCount = 2; }},
                      TRefusal{"Compressed", [](BITMAPINFOHEADER& h) { h.biCompression = 1; }},
                      TRefusal{"ZeroWidth", [](BITMAPINFOHEADER& h) { h.biWidth = 0; }},
                      TRefusal{"NegativeWidth", [](BITMAPINFOHEADER& h) { h.biWidth = -4; }},
                      TRefusal{"ZeroHeight", [](BITMAPINFOHEADER& h) { h.biHeight = 0; }},
                      TRefusal{"MinHeight",
                               [](BITMAPINFOHEADER& h) {
                                   h.biHeight = std::numeric_limits<int>::min();
                               }},
                      TRefusal{"TooLarge",
                               [](BITMAPINFOHEADER& h) {
                                   h.biWidth = 0x10000;
                                   h.biHeight = 0x8000;  // exactly 2^31 bytes at 8 bits
                               }},
                      TRefusal{"RowsOverflow64",
                               [](BITMAPINFOHEADER& h) {
                                   h.biBitCount = 24;
                                   h.biWidth = 0x7FFFFFFF;
                                   h.biHeight = 0x7FFFFFFF;
                               }}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(Section, CopiesHeaderAndPadsColourTable) {
    std::vector<RGBQUAD> table{Quad(10, 20, 30), Quad(40, 50, 60), Quad(70, 80, 90)};
    TTestDib dib(5, 3, 8, table);
    dib.Info()->bmiHeader.biClrUsed = 3;  // the rest of the table is black
    dib.Info()->bmiHeader.biSize = 108;   // a longer header variant is accepted
    const auto s = TDibSection::Create(dib.Info(), false);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->Width(), 5);
    EXPECT_EQ(s->Height(), 3);
    EXPECT_EQ(s->BytesPerLine(), 8u);
    EXPECT_EQ(s->ImageSize(), 24u);
    EXPECT_EQ(s->Header().biSizeImage, 24u);
    EXPECT_EQ(s->Header().biSize, 40u);
    ASSERT_EQ(s->ColorCount(), 256u);
    EXPECT_EQ(s->Colors()[2].rgbRed, 70);
    EXPECT_EQ(s->Colors()[3].rgbRed, 0);
    EXPECT_EQ(s->Colors()[255].rgbGreen, 0);
    EXPECT_TRUE(
        std::all_of(s->Bits(), s->Bits() + s->ImageSize(), [](std::uint8_t b) { return b == 0; }));

    TTestDib rgb(5, 7, 24);
    const auto t = TDibSection::Create(rgb.Info(), false);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->ColorCount(), 0u);
    EXPECT_EQ(t->BytesPerLine(), 16u);
    EXPECT_EQ(t->ImageSize(), 112u);
}

TEST(Section, MappedBitsAreZeroAndWritable) {
    TTestDib dib(300, 300, 24);
    const auto s = TDibSection::Create(dib.Info(), true);
    ASSERT_NE(s, nullptr);
    EXPECT_TRUE(s->UsesMapping());
    EXPECT_TRUE(
        std::all_of(s->Bits(), s->Bits() + s->ImageSize(), [](std::uint8_t b) { return b == 0; }));
    std::memset(s->Bits(), 0xAB, s->ImageSize());
    EXPECT_EQ(s->Row(299)[899], 0xAB);
    const auto heap = TDibSection::Create(dib.Info(), false);
    EXPECT_FALSE(heap->UsesMapping());
}

TEST(Section, RowsCountFromTheTopEitherWay) {
    TTestDib up(3, 4, 8, GrayTable(256), false), down(3, 4, 8, GrayTable(256), true);
    const auto a = TDibSection::Create(up.Info(), false);
    const auto b = TDibSection::Create(down.Info(), false);
    EXPECT_FALSE(a->TopDown());
    EXPECT_TRUE(b->TopDown());
    EXPECT_EQ(a->Row(0), a->Bits() + 3 * 4);  // bottom-up: the top row is stored last
    EXPECT_EQ(a->Row(3), a->Bits());
    EXPECT_EQ(b->Row(0), b->Bits());
    EXPECT_EQ(b->Row(3), b->Bits() + 3 * 4);
}

// ---- unscaled drawing ----

// A 3×2 grey source with distinct values: (x, y) holds 10 + 10 * (3 * y + x).
TTestDib SmallGraySource(int bitCount, bool topDown) {
    TTestDib src(3, 2, bitCount, bitCount == 8 ? GrayTable(256) : std::vector<RGBQUAD>{}, topDown);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) src.SetGray(x, y, 10 + 10 * (3 * y + x));
    return src;
}

struct TPlacement {
    const char* Name;
    int XDest, YDest;
    unsigned Width, Height;
    int XSrc, YSrc;
    int BitCount;
    bool TopDown;
};

class SetDIBitsPlacementTest : public ::testing::TestWithParam<TPlacement> {};

// Whatever the placement, each target pixel holds either the source pixel that lands there
// or the untouched background, and nothing outside the target is written (ASan build).
TEST_P(SetDIBitsPlacementTest, PlacesAndClips) {
    const TPlacement& p = GetParam();
    TTestDib src = SmallGraySource(p.BitCount, p.TopDown);
    TTarget t(4, 3, 24);
    t.FillRgb24(0xEE);
    const int lines = SetDIBitsToDevice(t.Dc, p.XDest, p.YDest, p.Width, p.Height, p.XSrc, p.YSrc,
                                        0, 2, src.Bits.data(), src.Info(), DIB_RGB_COLORS);
    int expectedLines = 0;
    for (int y = 0; y < 3; ++y) {
        bool rowDrawn = false;
        for (int x = 0; x < 4; ++x) {
            const long long sx = p.XSrc + (x - p.XDest), sy = p.YSrc + (y - p.YDest);
            const long long w = p.Width, h = p.Height;
            const bool inside = x >= p.XDest && y >= p.YDest && x - p.XDest < w &&
                                y - p.YDest < h && sx >= 0 && sx < 3 && sy >= 0 && sy < 2;
            const int want = inside ? 10 + 10 * static_cast<int>(3 * sy + sx) : 0xEE;
            EXPECT_EQ(t.Gray(x, y), want) << p.Name << " at " << x << "," << y;
            rowDrawn = rowDrawn || (sy >= 0 && sy < 2 && y >= p.YDest && y - p.YDest < h && w > 0 &&
                                    p.XDest < 4 && p.XDest + w > 0);
        }
        expectedLines += rowDrawn;
    }
    EXPECT_EQ(lines, expectedLines) << p.Name;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SetDIBitsPlacementTest,
    ::testing::Values(TPlacement{"Origin8", 0, 0, 3, 2, 0, 0, 8, false},
                      TPlacement{"Origin8TopDown", 0, 0, 3, 2, 0, 0, 8, true},
                      TPlacement{"Origin24", 0, 0, 3, 2, 0, 0, 24, false},
                      TPlacement{"Origin24TopDown", 0, 0, 3, 2, 0, 0, 24, true},
                      TPlacement{"Origin32", 1, 1, 3, 2, 0, 0, 32, false},
                      TPlacement{"Offset", 1, 1, 3, 2, 0, 0, 24, false},
                      TPlacement{"PastRightAndBottom", 2, 2, 3, 2, 0, 0, 8, false},
                      TPlacement{"NegativeDest", -2, -1, 3, 2, 0, 0, 24, true},
                      TPlacement{"SourceOffset", 0, 0, 2, 1, 1, 1, 8, false},
                      TPlacement{"SourceBeyondPicture", 0, 0, 4, 3, -1, -1, 24, false},
                      TPlacement{"HugeSize", 0, 0, 0xFFFFFFFFu, 0xFFFFFFFFu, 0, 0, 8, false},
                      TPlacement{"ZeroWidth", 0, 0, 0, 2, 0, 0, 24, false},
                      TPlacement{"FarAway", 1000, 1000, 3, 2, 0, 0, 24, false}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(SetDIBits, DrawsOnlyTheBandItIsGiven) {
    // A 1-wide, 4-high picture; the caller hands over the two rows 1..2 from the bottom.
    TTestDib whole(1, 4, 8, GrayTable(256));
    for (int y = 0; y < 4; ++y) whole.SetIndex(0, y, static_cast<unsigned>(100 + y));
    // Bottom-up storage: rows from the bottom 1 and 2 are picture rows 2 and 1 from the top.
    std::vector<std::uint8_t> band(whole.Bits.begin() + 4, whole.Bits.begin() + 12);
    TTarget t(1, 4, 8, GrayTable(256));
    const int lines =
        SetDIBitsToDevice(t.Dc, 0, 0, 1, 4, 0, 0, 1, 2, band.data(), whole.Info(), DIB_RGB_COLORS);
    EXPECT_EQ(lines, 2);
    EXPECT_EQ(t.Index(0, 0), 0u);
    EXPECT_EQ(t.Index(0, 1), 101u);
    EXPECT_EQ(t.Index(0, 2), 102u);
    EXPECT_EQ(t.Index(0, 3), 0u);
}

TEST(SetDIBits, RefusesUnusableArguments) {
    TTestDib src = SmallGraySource(8, false);
    TTarget t(4, 3, 24);
    EXPECT_EQ(SetDIBitsToDevice(t.Dc, 0, 0, 3, 2, 0, 0, 0, 2, nullptr, src.Info(), 0), 0);
    EXPECT_EQ(SetDIBitsToDevice(t.Dc, 0, 0, 3, 2, 0, 0, 0, 2, src.Bits.data(), src.Info(), 1), 0);
    EXPECT_EQ(SetDIBitsToDevice(t.Dc, 0, 0, 3, 2, 0, 0, 2, 2, src.Bits.data(), src.Info(), 0), 0);
    src.Info()->bmiHeader.biBitCount = 16;
    EXPECT_EQ(SetDIBitsToDevice(t.Dc, 0, 0, 3, 2, 0, 0, 0, 2, src.Bits.data(), src.Info(), 0), 0);
    TDeviceContext empty;
    TTestDib ok = SmallGraySource(8, false);
    EXPECT_EQ(SetDIBitsToDevice(empty, 0, 0, 3, 2, 0, 0, 0, 2, ok.Bits.data(), ok.Info(), 0), 0);
    EXPECT_EQ(t.Gray(0, 0), 0);
}

// ---- colour on colour ----

struct TPickCase {
    int SrcLen, DestLen, SrcPos;
    std::vector<int> Picks;  // source index per target pixel, -1: left alone
};

class ColorOnColorPickTest : public ::testing::TestWithParam<TPickCase> {};

// The same picks must hold across and down.
TEST_P(ColorOnColorPickTest, TakesThePixelUnderEachCentre) {
    const TPickCase& c = GetParam();
    TTestDib across(c.SrcLen, 1, 8, GrayTable(256)), down(1, c.SrcLen, 8, GrayTable(256), true);
    for (int i = 0; i < c.SrcLen; ++i) {
        across.SetIndex(i, 0, static_cast<unsigned>(10 + i));
        down.SetIndex(0, i, static_cast<unsigned>(10 + i));
    }
    TTarget a(c.DestLen, 1, 8, GrayTable(256)), d(1, c.DestLen, 8, GrayTable(256));
    Stretch(a, COLORONCOLOR, 0, 0, c.DestLen, 1, c.SrcPos, 0, c.SrcLen, 1, across);
    Stretch(d, COLORONCOLOR, 0, 0, 1, c.DestLen, 0, c.SrcPos, 1, c.SrcLen, down);
    for (int i = 0; i < c.DestLen; ++i) {
        const unsigned want = c.Picks[i] < 0 ? 0u : static_cast<unsigned>(10 + c.Picks[i]);
        EXPECT_EQ(a.Index(i, 0), want) << "across " << i;
        EXPECT_EQ(d.Index(0, i), want) << "down " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ColorOnColorPickTest,
    ::testing::Values(TPickCase{4, 2, 0, {1, 3}},  // centres at 1.0 and 3.0
                      TPickCase{4, 4, 0, {0, 1, 2, 3}},
                      TPickCase{2, 5, 0, {0, 0, 1, 1, 1}},  // 0.2 0.6 1.0 1.4 1.8
                      TPickCase{3, 2, 0, {0, 2}},           // 0.75 and 2.25
                      TPickCase{4, 4, 2, {2, 3, -1, -1}},   // the source runs off the picture
                      TPickCase{4, 4, -2, {-1, -1, 0, 1}}));

TEST(ColorOnColor, KeepsIndicesWithIdenticalTableEvenForDuplicateColours) {
    // Entries 0 and 1 are both black; index 1 must stay 1, as nearest-colour would give 0.
    std::vector<RGBQUAD> table = GrayTable(256);
    table[1] = Quad(0, 0, 0);
    TTestDib src(4, 2, 8, table);
    // The 2×1 target's centres fall on row 1.
    for (int x = 0; x < 4; ++x) src.SetIndex(x, 0, 200), src.SetIndex(x, 1, 1);
    TTarget same(2, 1, 8, table);
    Stretch(same, COLORONCOLOR, 0, 0, 2, 1, 0, 0, 4, 2, src);
    EXPECT_EQ(same.Index(0, 0), 1u);
    // The same table but for one entry: colours are mapped, and black is entry 0.
    std::vector<RGBQUAD> other = table;
    other[255] = Quad(1, 2, 3);
    TTarget mapped(2, 1, 8, other);
    Stretch(mapped, COLORONCOLOR, 0, 0, 2, 1, 0, 0, 4, 2, src);
    EXPECT_EQ(mapped.Index(0, 0), 0u);
    // Unscaled copies keep indices too (the block-copy path).
    TTarget blit(4, 2, 8, table);
    SetDIBitsToDevice(blit.Dc, 0, 0, 4, 2, 0, 0, 0, 2, src.Bits.data(), src.Info(), DIB_RGB_COLORS);
    EXPECT_EQ(blit.Index(3, 0), 200u);
    EXPECT_EQ(blit.Index(3, 1), 1u);
}

// An independent nearest-colour search.
unsigned ReferenceNearest(const std::vector<RGBQUAD>& table, int r, int g, int b) {
    unsigned best = 0;
    long bestD = -1;
    for (unsigned i = 0; i < table.size(); ++i) {
        const long d = (table[i].rgbRed - r) * (table[i].rgbRed - r) +
                       (table[i].rgbGreen - g) * (table[i].rgbGreen - g) +
                       (table[i].rgbBlue - b) * (table[i].rgbBlue - b);
        if (bestD < 0 || d < bestD) bestD = d, best = i;
    }
    return best;
}

TEST(ColorOnColor, MapsOntoThePaletteEntryNearestEachColour) {
    std::vector<RGBQUAD> table{Quad(0, 0, 0),   Quad(255, 0, 0),     Quad(0, 0, 255),
                               Quad(255, 0, 0), Quad(100, 100, 100), Quad(0, 0, 255)};
    table.resize(16, Quad(0, 0, 0));
    TTestDib src(5, 1, 24);
    src.SetRgb(0, 0, 250, 10, 10);  // red: entry 1, not its duplicate 3
    src.SetRgb(1, 0, 90, 110, 95);  // grey: 4
    src.SetRgb(2, 0, 10, 0, 10);    // near black: 0
    src.SetRgb(3, 0, 20, 20, 240);  // blue: 2
    src.SetRgb(4, 0, 50, 50, 50);   // as near black as the grey: the first, 0
    TTarget t(5, 1, 4, table);
    SetDIBitsToDevice(t.Dc, 0, 0, 5, 1, 0, 0, 0, 1, src.Bits.data(), src.Info(), DIB_RGB_COLORS);
    const std::vector<unsigned> want{1, 4, 0, 2, 0};
    for (int x = 0; x < 5; ++x) EXPECT_EQ(t.Index(x, 0), want[x]) << x;

    // Equally near entries on either side in green: still the first one.
    TTestDib mid(1, 1, 24);
    mid.SetRgb(0, 0, 100, 100, 100);
    TTarget two(1, 1, 1, {Quad(100, 90, 100), Quad(100, 110, 100)});
    TTarget reversed(1, 1, 1, {Quad(100, 110, 100), Quad(100, 90, 100)});
    for (TTarget* target : {&two, &reversed}) {
        SetDIBitsToDevice(target->Dc, 0, 0, 1, 1, 0, 0, 0, 1, mid.Bits.data(), mid.Info(),
                          DIB_RGB_COLORS);
        EXPECT_EQ(target->Index(0, 0), 0u);
    }
}

// Many colours through the remembered lookups must give exactly the searched answers.
TEST(ColorOnColor, CachedLookupsEqualAFullSearch) {
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> byte(0, 255);
    std::vector<RGBQUAD> table;
    for (int i = 0; i < 256; ++i) table.push_back(Quad(byte(rng), byte(rng), byte(rng)));
    // Duplicates, some of them with the higher index first in green order.
    for (int i = 0; i < 40; ++i)
        table[static_cast<std::size_t>(200 + i)] = table[static_cast<std::size_t>(5 * i)];
    TTestDib src(256, 64, 24);
    std::vector<std::array<int, 3>> colours;
    // Enough colours that many of them share a cache slot.
    for (int i = 0; i < 3000; ++i) colours.push_back({byte(rng), byte(rng), byte(rng)});
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 256; ++x) {
            const auto& c = colours[rng() % colours.size()];
            src.SetRgb(x, y, c[0], c[1], c[2]);
        }
    TTarget t(256, 64, 8, table);
    SetDIBitsToDevice(t.Dc, 0, 0, 256, 64, 0, 0, 0, 64, src.Bits.data(), src.Info(),
                      DIB_RGB_COLORS);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 256; ++x) {
            const std::uint8_t* p = src.Row(y) + 3 * x;
            ASSERT_EQ(t.Index(x, y), ReferenceNearest(table, p[2], p[1], p[0])) << x << "," << y;
        }
}

// ---- halftone ----

TEST(Halftone, CheckerOfBlackAndWhiteBecomesMidGreyRoundedUp) {
    TTestDib src(2, 2, 24);
    src.SetGray(0, 0, 0), src.SetGray(1, 0, 255), src.SetGray(0, 1, 255), src.SetGray(1, 1, 0);
    TTarget t(1, 1, 24);
    EXPECT_EQ(Stretch(t, HALFTONE, 0, 0, 1, 1, 0, 0, 2, 2, src), 1);
    EXPECT_EQ(t.Rgb(0, 0), 0x808080u);  // 127.5 rounds up
    TTestDib pair(2, 1, 8, GrayTable(256));
    pair.SetIndex(0, 0, 0), pair.SetIndex(1, 0, 1);
    Stretch(t, HALFTONE, 0, 0, 1, 1, 0, 0, 2, 1, pair);
    EXPECT_EQ(t.Rgb(0, 0), 0x010101u);  // 0.5 rounds up
}

struct TAverageCase {
    const char* Name;
    std::vector<int> Source;
    int DestLen;
    std::vector<int> Expected;
};

class HalftoneWeightTest : public ::testing::TestWithParam<TAverageCase> {};

// Weights by shared length, across and down, onto a grey palette target.
TEST_P(HalftoneWeightTest, WeighsByOverlap) {
    const TAverageCase& c = GetParam();
    const int n = static_cast<int>(c.Source.size());
    TTestDib across(n, 1, 8, GrayTable(256)), down(1, n, 24);
    for (int i = 0; i < n; ++i) {
        across.SetIndex(i, 0, static_cast<unsigned>(c.Source[i]));
        down.SetGray(0, i, c.Source[i]);
    }
    TTarget a(c.DestLen, 1, 8, GrayTable(256)), d(1, c.DestLen, 24);
    Stretch(a, HALFTONE, 0, 0, c.DestLen, 1, 0, 0, n, 1, across);
    Stretch(d, HALFTONE, 0, 0, 1, c.DestLen, 0, 0, 1, n, down);
    for (int i = 0; i < c.DestLen; ++i) {
        EXPECT_EQ(a.Gray(i, 0), c.Expected[i]) << c.Name << " across " << i;
        EXPECT_EQ(d.Gray(0, i), c.Expected[i]) << c.Name << " down " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, HalftoneWeightTest,
                         ::testing::Values(
                             // [0, 1.5) and [1.5, 3): (0 + 45) / 1.5 and (45 + 255) / 1.5.
                             TAverageCase{"ThreeToTwo", {0, 90, 255}, 2, {30, 200}},
                             // Enlarging: [0, 2/3), [2/3, 4/3), [4/3, 2).
                             TAverageCase{"TwoToThree", {0, 255}, 3, {0, 128, 255}},
                             TAverageCase{"OneToFour", {77}, 4, {77, 77, 77, 77}},
                             TAverageCase{"Identity", {3, 200, 17, 90}, 4, {3, 200, 17, 90}},
                             TAverageCase{"FourToOne", {10, 20, 30, 41}, 1, {25}}),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(Halftone, GratingReducesToUniformGreyNotStripes) {
    TTestDib src(4000, 2, 8, GrayTable(256));
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 4000; ++x) src.SetIndex(x, y, x % 2 ? 255u : 0u);
    TTarget t(112, 1, 24);
    Stretch(t, HALFTONE, 0, 0, 112, 1, 0, 0, 4000, 2, src);
    int lo = 255, hi = 0;
    for (int x = 0; x < 112; ++x) lo = std::min(lo, t.Gray(x, 0)), hi = std::max(hi, t.Gray(x, 0));
    // Each target pixel covers 35.7 columns, so its share of white is half, give or take
    // half a column.
    EXPECT_GE(lo, 123);
    EXPECT_LE(hi, 132);
    // Nearest-pixel sampling of the same grating gives pure black or white.
    Stretch(t, COLORONCOLOR, 0, 0, 112, 1, 0, 0, 4000, 2, src);
    EXPECT_TRUE(t.Gray(0, 0) == 0 || t.Gray(0, 0) == 255);
}

// The target's red against exact area weights computed in floating point, for a source of
// sw × sh grey values v.
void ExpectBoxFilter(const std::vector<int>& v, int sw, int sh, const TTarget& t, int dw, int dh) {
    for (int ty = 0; ty < dh; ++ty)
        for (int tx = 0; tx < dw; ++tx) {
            double sum = 0, area = 0;
            const double x0 = tx * double(sw) / dw, x1 = (tx + 1) * double(sw) / dw;
            const double y0 = ty * double(sh) / dh, y1 = (ty + 1) * double(sh) / dh;
            for (int y = static_cast<int>(y0); y < sh && y < y1; ++y)
                for (int x = static_cast<int>(x0); x < sw && x < x1; ++x) {
                    const double wx = std::max(0.0, std::min(x1, x + 1.0) - std::max(x0, 1.0 * x));
                    const double wy = std::max(0.0, std::min(y1, y + 1.0) - std::max(y0, 1.0 * y));
                    sum += wx * wy * v[static_cast<std::size_t>(y) * sw + x];
                    area += wx * wy;
                }
            const double mean = sum / area;
            const int red = static_cast<int>(t.Rgb(tx, ty) >> 16);
            ASSERT_LE(std::abs(red - mean), 0.5 + 1e-6)
                << sw << "x" << sh << "->" << dw << "x" << dh << " at " << tx << "," << ty;
            if (std::abs(mean - std::floor(mean) - 0.5) > 1e-6) {
                ASSERT_EQ(red, static_cast<int>(std::lround(mean)));
            }
        }
}

// Random pictures and rectangles of every source kind.
TEST(Halftone, MatchesAFloatingPointBoxFilter) {
    std::mt19937 rng(11);
    for (int round = 0; round < 40; ++round) {
        const int sw = 1 + static_cast<int>(rng() % 23), sh = 1 + static_cast<int>(rng() % 17);
        const int dw = 1 + static_cast<int>(rng() % 19), dh = 1 + static_cast<int>(rng() % 13);
        const int bits = std::array{4, 8, 24}[round % 3];
        TTestDib src(sw, sh, bits, GrayTable(16), round % 4 == 0);
        std::vector<int> v(static_cast<std::size_t>(sw * sh));
        for (int y = 0; y < sh; ++y)
            for (int x = 0; x < sw; ++x) {
                const int idx = static_cast<int>(rng() % 16);
                v[static_cast<std::size_t>(y * sw + x)] = idx * 17;
                if (bits != 24)
                    src.SetIndex(x, y, static_cast<unsigned>(idx));
                else
                    src.SetRgb(x, y, idx * 17, 255 - idx * 17, idx);
            }
        TTarget t(dw, dh, 24);
        ASSERT_EQ(Stretch(t, HALFTONE, 0, 0, dw, dh, 0, 0, sw, sh, src), dh);
        ExpectBoxFilter(v, sw, sh, t, dw, dh);
    }
}

// Prime sides make 255 × the units across × the units down exceed 32 bits: the sums
// are then kept wider.
TEST(Halftone, SumsBeyond32BitsStayExact) {
    const int sw = 65521, sh = 263, dw = 3, dh = 2;
    TTestDib src(sw, sh, 8, GrayTable(256));
    std::vector<int> v(static_cast<std::size_t>(sw) * sh);
    std::mt19937 rng(3);
    for (int y = 0; y < sh; ++y)
        for (int x = 0; x < sw; ++x) {
            const int level =
                x < sw / 2 ? 250 + static_cast<int>(rng() % 6) : static_cast<int>(rng() % 9);
            v[static_cast<std::size_t>(y) * sw + x] = level;
            src.SetIndex(x, y, static_cast<unsigned>(level));
        }
    TTarget t(dw, dh, 24);
    ASSERT_EQ(Stretch(t, HALFTONE, 0, 0, dw, dh, 0, 0, sw, sh, src), dh);
    ExpectBoxFilter(v, sw, sh, t, dw, dh);
}

// A clip limits drawing to its rectangle: bands drawn through clipped contexts make up the
// unclipped drawing, in both modes, and leave everything outside their band alone.
TEST(Clip, BandsMakeUpTheWholeDrawingAndNothingOutside) {
    std::mt19937 rng(5);
    TTestDib src(37, 29, 8, GrayTable(256));
    for (std::uint8_t& b : src.Bits) b = static_cast<std::uint8_t>(rng());
    for (const int mode : {HALFTONE, COLORONCOLOR}) {
        TTarget whole(16, 13, 24), banded(16, 13, 24);
        whole.FillRgb24(7);
        banded.FillRgb24(7);
        Stretch(whole, mode, -1, 0, 17, 13, 0, 0, 37, 29, src);
        TTarget middle(16, 13, 24);
        middle.FillRgb24(7);
        middle.Dc.IntersectClipRect(TRect{2, 4, 30, 9});
        middle.Dc.IntersectClipRect(TRect{-5, 5, 14, 40});
        Stretch(middle, mode, -1, 0, 17, 13, 0, 0, 37, 29, src);
        for (const TRect band : {TRect{0, 0, 16, 5}, TRect{0, 5, 16, 9}, TRect{0, 9, 16, 13}}) {
            banded.Dc.SelectClipNone();
            banded.Dc.IntersectClipRect(band);
            Stretch(banded, mode, -1, 0, 17, 13, 0, 0, 37, 29, src);
        }
        for (int y = 0; y < 13; ++y)
            for (int x = 0; x < 16; ++x) {
                ASSERT_EQ(banded.Rgb(x, y), whole.Rgb(x, y)) << mode << " " << x << "," << y;
                const bool inside = x >= 2 && x < 14 && y >= 5 && y < 9;
                ASSERT_EQ(middle.Rgb(x, y), inside ? whole.Rgb(x, y) : 0x070707u) << x << "," << y;
            }
    }
}

TEST(Halftone, SourceOutsideThePictureLeavesTargetPixelsAlone) {
    TTestDib src(2, 2, 24);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 2; ++x) src.SetGray(x, y, 100);
    TTarget t(4, 4, 24);
    t.FillRgb24(0xEE);
    // The right half of the rectangle lies beyond the picture: only the left half is drawn,
    // from the pixels that exist.
    Stretch(t, HALFTONE, 0, 0, 4, 4, 0, 0, 4, 4, src);
    EXPECT_EQ(t.Gray(1, 1), 100);
    EXPECT_EQ(t.Gray(2, 1), 0xEE);
    EXPECT_EQ(t.Gray(1, 3), 0xEE);
    // The same with the rectangle starting above and left of the picture.
    t.FillRgb24(0xEE);
    Stretch(t, HALFTONE, 0, 0, 4, 4, -2, -2, 4, 4, src);
    EXPECT_EQ(t.Gray(1, 1), 0xEE);
    EXPECT_EQ(t.Gray(1, 2), 0xEE);
    EXPECT_EQ(t.Gray(2, 2), 100);
    EXPECT_EQ(t.Gray(3, 3), 100);
    // Absurd rectangles neither crash nor hang.
    Stretch(t, HALFTONE, -5, -5, 0x7FFFFFFF, 0x7FFFFFFF, -0x7FFFFFF, 3, 0x7FFFFFFF, 0x7FFFFFFF,
            src);
    Stretch(t, HALFTONE, 0, 0, 4, 4, std::numeric_limits<int>::min(), 0, 0x7FFFFFFF, 2, src);
    Stretch(t, COLORONCOLOR, 0, 0, 0x7FFFFFFF, 0x7FFFFFFF, 0, 0, 0x7FFFFFFF, 0x7FFFFFFF, src);
}

TEST(Stretch, RefusesUnusableArguments) {
    TTestDib src = SmallGraySource(24, false);
    TTarget t(4, 3, 24);
    t.Dc.SetStretchBltMode(COLORONCOLOR);
    const auto call = [&](int wd, int hd, int ws, int hs, unsigned use, std::uint32_t rop) {
        return StretchDIBits(t.Dc, 0, 0, wd, hd, 0, 0, ws, hs, src.Bits.data(), src.Info(), use,
                             rop);
    };
    EXPECT_EQ(call(0, 3, 3, 2, DIB_RGB_COLORS, SRCCOPY), 0);
    EXPECT_EQ(call(-4, 3, 3, 2, DIB_RGB_COLORS, SRCCOPY), 0);
    EXPECT_EQ(call(4, 3, 3, -2, DIB_RGB_COLORS, SRCCOPY), 0);
    EXPECT_EQ(call(4, 3, 3, 2, 1, SRCCOPY), 0);
    EXPECT_EQ(call(4, 3, 3, 2, DIB_RGB_COLORS, 0x00EE0086), 0);
    EXPECT_EQ(t.Gray(0, 0), 0);
    EXPECT_EQ(call(4, 3, 3, 2, DIB_RGB_COLORS, SRCCOPY), 3);
}

// ---- packing of 1 and 4 bits ----

struct TPackCase {
    int SrcBits, DstBits, XDest;
};

class PackingTest : public ::testing::TestWithParam<TPackCase> {};

// Indices go through the colour tables (grey ramps of the respective sizes) and land in the
// right bit positions, without touching neighbouring pixels of the same byte.
TEST_P(PackingTest, ReadsAndWritesSubBytePixels) {
    const TPackCase& c = GetParam();
    const int levelsIn = 1 << c.SrcBits, levelsOut = 1 << c.DstBits;
    TTestDib src(13, 2, c.SrcBits, GrayTable(levelsIn));
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 13; ++x)
            src.SetIndex(x, y, static_cast<unsigned>((x * 7 + y) % levelsIn));
    const int width = 13 + c.XDest + 3;
    TTarget t(width, 2, c.DstBits, GrayTable(levelsOut));
    const unsigned background = static_cast<unsigned>(levelsOut - 1);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < width; ++x) {
            std::uint8_t* r = t.Section->Row(y);
            if (c.DstBits == 8) r[x] = static_cast<std::uint8_t>(background);
            if (c.DstBits == 4) r[x / 2] = 0xFF;
            if (c.DstBits == 1) r[x / 8] = 0xFF;
        }
    SetDIBitsToDevice(t.Dc, c.XDest, 0, 13, 2, 0, 0, 0, 2, src.Bits.data(), src.Info(),
                      DIB_RGB_COLORS);
    const std::vector<RGBQUAD> outTable = GrayTable(levelsOut);
    const std::vector<RGBQUAD> inTable = GrayTable(levelsIn);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < width; ++x) {
            unsigned want = background;
            if (x >= c.XDest && x < c.XDest + 13) {
                const RGBQUAD q =
                    inTable[static_cast<std::size_t>(((x - c.XDest) * 7 + y) % levelsIn)];
                want = ReferenceNearest(outTable, q.rgbRed, q.rgbGreen, q.rgbBlue);
            }
            EXPECT_EQ(t.Index(x, y), want) << c.SrcBits << "->" << c.DstBits << " at " << x;
        }
}

INSTANTIATE_TEST_SUITE_P(Cases, PackingTest,
                         ::testing::Values(TPackCase{1, 8, 0}, TPackCase{4, 8, 1},
                                           TPackCase{8, 1, 3}, TPackCase{8, 4, 1},
                                           TPackCase{4, 4, 0}, TPackCase{4, 4, 1},
                                           TPackCase{1, 1, 0}, TPackCase{1, 1, 5},
                                           TPackCase{4, 1, 2}, TPackCase{1, 4, 3}));

// ---- BitBlt and colour tables ----

TEST(BitBlt, Copies24And8BitSourcesOntoTrueColour) {
    TTestDib rgb(3, 2, 24);
    rgb.SetRgb(0, 0, 1, 2, 3), rgb.SetRgb(2, 1, 250, 128, 7);
    TTarget from24(3, 2, 24);
    SetDIBitsToDevice(from24.Dc, 0, 0, 3, 2, 0, 0, 0, 2, rgb.Bits.data(), rgb.Info(), 0);
    TTarget to(4, 3, 24, {}, true);
    EXPECT_TRUE(BitBlt(to.Dc, 1, 1, 3, 2, from24.Dc, 0, 0, SRCCOPY));
    EXPECT_EQ(to.Rgb(1, 1), 0x010203u);
    EXPECT_EQ(to.Rgb(3, 2), 0xFA8007u);
    EXPECT_EQ(to.Rgb(0, 0), 0u);

    std::vector<RGBQUAD> table(256, Quad(0, 0, 0));
    table[5] = Quad(9, 8, 7);
    TTarget from8(2, 2, 8, table);
    from8.Section->Row(1)[1] = 5;
    EXPECT_TRUE(BitBlt(to.Dc, 0, 0, 2, 2, from8.Dc, 0, 0, SRCCOPY));
    EXPECT_EQ(to.Rgb(1, 1), 0x090807u);
    EXPECT_EQ(to.Rgb(0, 0), 0u);

    TDeviceContext none;
    EXPECT_FALSE(BitBlt(to.Dc, 0, 0, 2, 2, none, 0, 0, SRCCOPY));
    EXPECT_FALSE(BitBlt(to.Dc, 0, 0, 2, 2, from8.Dc, 0, 0, 0x00EE0086));
}

TEST(BitBlt, OverlappingCopyWithinOneBitmapReadsTheOriginal) {
    TTarget t(6, 1, 8, GrayTable(256));
    for (int x = 0; x < 6; ++x) t.Section->Row(0)[x] = static_cast<std::uint8_t>(x + 1);
    EXPECT_TRUE(BitBlt(t.Dc, 1, 0, 5, 1, t.Dc, 0, 0, SRCCOPY));
    const std::vector<unsigned> want{1, 1, 2, 3, 4, 5};
    for (int x = 0; x < 6; ++x) EXPECT_EQ(t.Index(x, 0), want[x]) << x;
}

TEST(ColorTable, SetDIBColorTableRecoloursAndClips) {
    TTarget t(2, 1, 4, GrayTable(16));
    t.Section->Row(0)[0] = 0xF3;  // pixels 15 and 3
    std::array<RGBQUAD, 4> colours{Quad(1, 2, 3), Quad(4, 5, 6), Quad(7, 8, 9), Quad(10, 11, 12)};
    EXPECT_EQ(SetDIBColorTable(t.Dc, 14, 4, colours.data()), 2u);
    EXPECT_EQ(t.Rgb(0, 0), 0x040506u);
    EXPECT_EQ(SetDIBColorTable(t.Dc, 3, 1, colours.data() + 3), 1u);
    EXPECT_EQ(t.Rgb(1, 0), 0x0A0B0Cu);
    EXPECT_EQ(SetDIBColorTable(t.Dc, 16, 1, colours.data()), 0u);
    TTarget rgb(1, 1, 24);
    EXPECT_EQ(SetDIBColorTable(rgb.Dc, 0, 1, colours.data()), 0u);
    TDeviceContext none;
    EXPECT_EQ(SetDIBColorTable(none, 0, 1, colours.data()), 0u);
}

// ---- a target far smaller than the drawing ----

// Every drawing path into a 3×2 target from a 40×30 source at awkward positions. The ASan
// build catches any write past the target; the visible pixels are checked as well.
TEST(Clipping, SmallTargetIsNotOverrun) {
    for (int bits : {1, 4, 8, 24}) {
        TTestDib src(40, 30, 24);
        for (int y = 0; y < 30; ++y)
            for (int x = 0; x < 40; ++x) src.SetGray(x, y, 255);
        TTarget t(3, 2, bits, GrayTable(bits == 24 ? 0 : 1 << bits));
        for (int mode : {COLORONCOLOR, HALFTONE})
            for (int pos : {-7, -1, 0, 1, 2}) {
                Stretch(t, mode, pos, pos, 41, 33, 0, 0, 40, 30, src);
                Stretch(t, mode, pos, -pos, 5, 4, 3, 3, 40, 30, src);
            }
        SetDIBitsToDevice(t.Dc, -3, -3, 40, 30, 0, 0, 0, 30, src.Bits.data(), src.Info(), 0);
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 3; ++x) EXPECT_EQ(t.Gray(x, y), 255) << bits;
    }
}

}  // namespace
}  // namespace pix
