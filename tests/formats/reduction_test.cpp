// SPDX-License-Identifier: MIT
// Thumbnails are drawn by averaging what each target pixel covers. These cases reduce
// pictures of every bit count by the large factors thumbnails use (and beyond the run
// length the packed colour sums can hold), and compare every target pixel with an exact
// integer box average computed here.
#include "formats/bmp_picture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>

namespace pix {
namespace {

struct TReductionCase {
    const char* Name;
    int Width, Height;
    TPaletteKind Kind;
    int TargetWidth, TargetHeight;
};

class ReductionTest : public ::testing::TestWithParam<TReductionCase> {};

// The colour of pixel (x, y) as 0xRRGGBB, read from the raw rows and the colour table.
std::uint32_t PixelColour(const TDibPicture& picture, int x, int y) {
    const std::uint8_t* row = picture.Section()->Row(y);
    const int bits = picture.BitCount();
    if (bits == 24) {
        const std::uint8_t* p = row + 3 * x;
        return std::uint32_t{p[2]} << 16 | std::uint32_t{p[1]} << 8 | p[0];
    }
    unsigned index = 0;
    if (bits == 8) index = row[x];
    if (bits == 4) index = (row[x / 2] >> (x % 2 ? 0 : 4)) & 0xF;
    if (bits == 1) index = (row[x / 8] >> (7 - x % 8)) & 1;
    const RGBQUAD& q = picture.Info()->Colors()[index];
    return std::uint32_t{q.rgbRed} << 16 | std::uint32_t{q.rgbGreen} << 8 | q.rgbBlue;
}

// Overlap of source pixel s with target pixel t, in units of 1 / (source × target length):
// source pixel s spans [s × target, (s + 1) × target), target pixel t
// [t × source, (t + 1) × source).
std::int64_t Overlap(std::int64_t s, std::int64_t t, std::int64_t source, std::int64_t target) {
    const std::int64_t lo = std::max(s * target, t * source);
    const std::int64_t hi = std::min((s + 1) * target, (t + 1) * source);
    return std::max<std::int64_t>(hi - lo, 0);
}

TEST_P(ReductionTest, EveryPixelIsTheExactAreaAverageRoundedHalfUp) {
    const TReductionCase& c = GetParam();
    TBmpPicture source(c.Width, c.Height, c.Kind);
    std::mt19937 rng(static_cast<unsigned>(c.Width * 31 + c.Height));
    // Random bytes in every row: random indices for palette pictures (whose tables hold
    // colours, so the three channels differ), random colours for 24 bits.
    const std::size_t stride = source.BytesPerLine();
    for (std::size_t i = 0; i < stride * static_cast<std::size_t>(c.Height); ++i)
        source.Bits()[i] = static_cast<std::uint8_t>(rng());

    TBmpPicture target(c.TargetWidth, c.TargetHeight, pkTrueColor);
    source.StretchDraw(target.Canvas(), TRect{0, 0, c.TargetWidth, c.TargetHeight}, true);

    for (int ty = 0; ty < c.TargetHeight; ++ty) {
        for (int tx = 0; tx < c.TargetWidth; ++tx) {
            std::int64_t sum[3] = {0, 0, 0}, area = 0;
            for (int y = 0; y < c.Height; ++y) {
                const std::int64_t wy = Overlap(y, ty, c.Height, c.TargetHeight);
                if (wy == 0) continue;
                for (int x = 0; x < c.Width; ++x) {
                    const std::int64_t wx = Overlap(x, tx, c.Width, c.TargetWidth);
                    if (wx == 0) continue;
                    const std::uint32_t rgb = PixelColour(source, x, y);
                    for (int ch = 0; ch < 3; ++ch)
                        sum[ch] += wx * wy * ((rgb >> (16 - 8 * ch)) & 0xFF);
                    area += wx * wy;
                }
            }
            const std::uint32_t got = PixelColour(target, tx, ty);
            for (int ch = 0; ch < 3; ++ch) {
                const std::int64_t mean = (2 * sum[ch] + area) / (2 * area);
                ASSERT_EQ((got >> (16 - 8 * ch)) & 0xFF, static_cast<std::uint32_t>(mean))
                    << "channel " << ch << " of target pixel " << tx << "," << ty;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReductionTest,
    ::testing::Values(TReductionCase{"Colour8Bit", 2048, 6, pk256Colors, 112, 1},
                      TReductionCase{"Grey236", 300, 20, pkGray236, 112, 7},
                      TReductionCase{"TrueColour", 4000, 5, pkTrueColor, 112, 2},
                      TReductionCase{"SixteenColours", 1001, 9, pk16Colors, 13, 4},
                      TReductionCase{"Mono", 997, 3, pkMono, 7, 2},
                      // Spans of 10000 pixels: longer than a packed sum may run.
                      TReductionCase{"LongSpans8Bit", 20000, 2, pk256Colors, 2, 1},
                      TReductionCase{"LongSpans24Bit", 20000, 2, pkTrueColor, 3, 1},
                      // Target lengths that divide the source: every span is whole pixels only.
                      TReductionCase{"WholeSpans", 1120, 8, pk256Colors, 112, 4}),
    [](const ::testing::TestParamInfo<TReductionCase>& info) { return info.param.Name; });

}  // namespace
}  // namespace pix
