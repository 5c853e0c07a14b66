// SPDX-License-Identifier: MIT
#include "imaging/img_data16.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace pix {
namespace {

TEST(ImgData16Test, ComputeMinMaxFindsTheExtremes) {
    // Big enough to be a mapping, with the extremes at the block's two ends.
    TImgData16 data(2 * 40000);
    std::fill(data.Words(), data.Words() + data.SampleCount(), 1234);
    data.Words()[0] = 60000;
    data.Words()[data.SampleCount() - 1] = 7;
    data.ComputeMinMax();
    EXPECT_EQ(data.Min, 7);
    EXPECT_EQ(data.Max, 60000);
    EXPECT_TRUE(data.Keep16);
}

TEST(ImgData16Test, EmptyStoreLeavesAnInvertedRange) {
    TImgData16 data(0);
    data.ComputeMinMax();
    EXPECT_EQ(data.Min, 65535);
    EXPECT_EQ(data.Max, 0);
    // An odd byte count holds no whole trailing sample.
    TImgData16 odd(1);
    odd.Bytes()[0] = 0xFF;
    odd.ComputeMinMax();
    EXPECT_EQ(odd.Min, 65535);
    EXPECT_EQ(odd.Max, 0);
}

TEST(ImgData16Test, WindowSpreadsLinearlyOverTheGreyIndices) {
    TImgData16 data(2);
    data.BuildTable(1000, 3000, 10, 245);
    EXPECT_EQ(data.Table[0], 10);
    EXPECT_EQ(data.Table[999], 10);
    EXPECT_EQ(data.Table[1000], 10);
    EXPECT_EQ(data.Table[1001], 10);   // 235 / 2000 rounds to 0
    EXPECT_EQ(data.Table[1009], 11);   // 9 * 235 / 2000 = 1.06
    EXPECT_EQ(data.Table[2000], 128);  // 10 + 117.5 rounded up
    EXPECT_EQ(data.Table[3000], 245);
    EXPECT_EQ(data.Table[3001], 245);
    EXPECT_EQ(data.Table[65535], 245);
    EXPECT_TRUE(std::is_sorted(data.Table.begin(), data.Table.end()));
}

TEST(ImgData16Test, FlatImageShowsAsTheLowIndex) {
    TImgData16 data(2 * 100);
    std::fill(data.Words(), data.Words() + data.SampleCount(), 500);
    data.ComputeMinMax();
    ASSERT_EQ(data.Min, 500);
    ASSERT_EQ(data.Max, 500);
    data.BuildTable(data.Min, data.Max, 10, 245);
    EXPECT_EQ(data.Table[0], 10);
    EXPECT_EQ(data.Table[500], 10);
    EXPECT_EQ(data.Table[501], 245);
    EXPECT_EQ(data.Table[65535], 245);
}

TEST(ImgData16Test, FullRangeAndOversizedBounds) {
    TImgData16 data(2);
    data.BuildTable(0, 65535, 10, 245);
    EXPECT_EQ(data.Table[0], 10);
    EXPECT_EQ(data.Table[32768], 128);
    EXPECT_EQ(data.Table[65535], 245);
    // Bounds above 65535 are clipped, so the whole table stays at the low index.
    data.BuildTable(70000, 100000, 10, 245);
    EXPECT_TRUE(std::all_of(data.Table.begin(), data.Table.end(), [](auto v) { return v == 10; }));
    // High below Low: up to Low the low index, above it the high one, no division.
    data.BuildTable(300, 200, 10, 245);
    EXPECT_EQ(data.Table[300], 10);
    EXPECT_EQ(data.Table[301], 245);
}

TEST(ImgData16Test, InvertedOutputRangeFalls) {
    TImgData16 data(2);
    data.BuildTable(0, 100, 245, 10);
    EXPECT_EQ(data.Table[0], 245);
    EXPECT_EQ(data.Table[50], 127);  // 245 - 117.5, the half rounded away from zero
    EXPECT_EQ(data.Table[100], 10);
    EXPECT_EQ(data.Table[101], 10);
}

}  // namespace
}  // namespace pix
