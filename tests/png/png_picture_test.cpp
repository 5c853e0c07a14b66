// SPDX-License-Identifier: MIT
#include "png/png_picture.h"

#include "png_builder.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <utility>
#include <vector>

namespace pix {
namespace {

using test::Append;
using test::IhdrData;
using test::PngChunk;
using test::SimplePng;
using test::TBytes;

std::unique_ptr<TPngPicture> LoadPicture(const TBytes& file) {
    auto picture = std::make_unique<TPngPicture>();
    TSpanStream stream(file);
    picture->LoadFromStream(stream);
    return picture;
}

// Colour of pixel (x, y) of a picture as 0x00RRGGBB, through its own colour table.
std::uint32_t PixelColour(const TDibPicture& p, int x, int y) {
    const std::uint8_t* row = p.Section()->Row(y);
    if (p.BitCount() == 24) {
        const std::uint8_t* q = row + x * 3;
        return (std::uint32_t{q[2]} << 16) | (std::uint32_t{q[1]} << 8) | q[0];
    }
    unsigned index = 0;
    switch (p.BitCount()) {
        case 8:
            index = row[x];
            break;
        case 4:
            index = (x & 1) ? row[x / 2] & 15u : row[x / 2] >> 4u;
            break;
        default:
            index = (row[x / 8] >> (7 - x % 8)) & 1u;
    }
    const RGBQUAD& c = p.Info()->Colors()[index];
    return (std::uint32_t{c.rgbRed} << 16) | (std::uint32_t{c.rgbGreen} << 8) | c.rgbBlue;
}

struct TPaletteCase {
    int Depth;
    int Bits;
};

class PngPicturePalette : public ::testing::TestWithParam<TPaletteCase> {};

// Colour palettes with colours no default table holds come out exactly, index for index.
TEST_P(PngPicturePalette, KeepsTheFilesOwnColours) {
    const int depth = GetParam().Depth;
    const int entries = 1 << depth;
    TBytes plte;
    for (int i = 0; i < entries; ++i)
        plte.insert(plte.end(),
                    {static_cast<std::uint8_t>(13 + i * 7), static_cast<std::uint8_t>(200 - i * 3),
                     static_cast<std::uint8_t>(i * 11 % 256)});
    const int w = 16;
    TBytes raw = {0};
    TBytes bits((w * depth + 7) / 8, 0);
    for (int x = 0; x < w; ++x) {
        const int v = x % entries;
        const int bit = x * depth;
        bits[bit / 8] = static_cast<std::uint8_t>(bits[bit / 8] | (v << (8 - depth - bit % 8)));
    }
    Append(raw, bits);
    const auto p = LoadPicture(SimplePng(IhdrData(w, 1, depth, 3), raw, PngChunk("PLTE", plte)));
    EXPECT_EQ(p->BitCount(), GetParam().Bits);
    for (int x = 0; x < w; ++x) {
        const std::uint8_t* e = plte.data() + 3 * (x % entries);
        EXPECT_EQ(PixelColour(*p, x, 0), (std::uint32_t{e[0]} << 16) | (e[1] << 8) | e[2]) << x;
    }
}

INSTANTIATE_TEST_SUITE_P(Depths, PngPicturePalette,
                         ::testing::Values(TPaletteCase{1, 1}, TPaletteCase{2, 4},
                                           TPaletteCase{4, 4}, TPaletteCase{8, 8}));

TEST(PngPicture, GreyAndColourFormats) {
    // 16-bit grey: an 8-bit grey picture of the high bytes.
    auto p = LoadPicture(SimplePng(IhdrData(2, 1, 16, 0), {0, 0x10, 0xFF, 0xF0, 0x00}));
    EXPECT_EQ(p->BitCount(), 8);
    EXPECT_EQ(p->PaletteKind(), pkGray256);
    EXPECT_EQ(PixelColour(*p, 0, 0), 0x101010u);
    EXPECT_EQ(PixelColour(*p, 1, 0), 0xF0F0F0u);

    // RGB: 24 bits, rows in order.
    p = LoadPicture(SimplePng(IhdrData(1, 2, 8, 2), {0, 1, 2, 3, 0, 4, 5, 6}));
    EXPECT_EQ(p->BitCount(), 24);
    EXPECT_EQ(p->PaletteKind(), pkTrueColor);
    EXPECT_EQ(PixelColour(*p, 0, 0), 0x010203u);
    EXPECT_EQ(PixelColour(*p, 0, 1), 0x040506u);

    // RGB + alpha: blended over the picture's black start.
    p = LoadPicture(SimplePng(IhdrData(1, 1, 8, 6), {0, 200, 100, 0, 128}));
    EXPECT_EQ(PixelColour(*p, 0, 0), 0x643200u);

    // Grey + alpha with gamma 1.0: each sample through the gamma rule, then blended over
    // black to the exact grey, not to the nearest entry of a gamma-shaped table.
    const std::vector<std::pair<int, int>> samples = {{100, 128}, {30, 200}, {200, 60},
                                                      {7, 250},   {250, 255}, {90, 0}};
    TBytes raw = {0};
    for (const auto& [v, a] : samples) raw.insert(raw.end(), {std::uint8_t(v), std::uint8_t(a)});
    TBytes gamma;
    test::PutBE32(gamma, 100000);
    p = LoadPicture(SimplePng(IhdrData(static_cast<std::uint32_t>(samples.size()), 1, 8, 4), raw,
                              PngChunk("gAMA", gamma)));
    EXPECT_EQ(p->PaletteKind(), pkGray256);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const auto [v, a] = samples[i];
        const int g = static_cast<int>(std::lround(255 * std::pow(v / 255.0, 1 / 2.2)));
        const std::uint32_t grey = static_cast<std::uint32_t>((g * a + 255) >> 8);
        EXPECT_EQ(PixelColour(*p, static_cast<int>(i), 0), grey * 0x010101u) << v << "/" << a;
    }
}

// A palette whose first entry is the transparent colour: transparent pixels show black, not
// that colour.
TEST(PngPicture, TransparentPartsOfPaletteImagesShowBlack) {
    TBytes extra = PngChunk("PLTE", {200, 10, 10, 0, 0, 0, 10, 200, 10});
    Append(extra, PngChunk("tRNS", {0}));
    auto p = LoadPicture(SimplePng(IhdrData(3, 1, 8, 3), {0, 0, 1, 2}, extra));
    EXPECT_EQ(PixelColour(*p, 0, 0), 0u);
    EXPECT_EQ(PixelColour(*p, 2, 0), 0x0AC80Au);
    // Blended entries land on the nearest colour of the file's own table.
    extra = PngChunk("PLTE", {255, 255, 255, 0, 0, 0, 130, 130, 130});
    Append(extra, PngChunk("tRNS", {128, 255, 255}));
    p = LoadPicture(SimplePng(IhdrData(3, 1, 8, 3), {0, 0, 1, 2}, extra));
    EXPECT_EQ(PixelColour(*p, 0, 0), 0x828282u);
}

TEST(PngPicture, LoadsFromAFileAndPassesErrorsOn) {
    test::TTempDir dir;
    const TBytes file = SimplePng(IhdrData(3, 2, 8, 0), {0, 1, 2, 3, 0, 4, 5, 6});
    test::WriteFile(dir.File("a.png"), std::string(file.begin(), file.end()));
    TPngPicture p;
    p.LoadFromFile(dir.File("a.png"));
    EXPECT_EQ(p.Width(), 3);
    EXPECT_EQ(p.Height(), 2);
    EXPECT_EQ(PixelColour(p, 2, 1), 0x060606u);

    test::WriteFile(dir.File("b.png"), "not a png");
    EXPECT_THROW(p.LoadFromFile(dir.File("b.png")), EPNGInvalidFileHeader);
    EXPECT_FALSE(p.Loading());
}

}  // namespace
}  // namespace pix
