// SPDX-License-Identifier: MIT
#include "platform/gui/dib_qimage.h"

#include "platform/dib_support.h"

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

namespace pix {
namespace {

using namespace test;


class DibToQImageTest : public ::testing::TestWithParam<std::tuple<int, bool>> {};

TEST_P(DibToQImageTest, SamePixelsAndColours) {
    const auto [bits, topDown] = GetParam();
    std::vector<RGBQUAD> table;
    if (bits <= 8)
        for (int i = 0; i < (1 << bits); ++i) table.push_back(Quad(i, 255 - i, (i * 37) & 0xFF));
    TTestDib dib(11, 5, bits, table, topDown);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 11; ++x) {
            if (bits == 24)
                dib.SetRgb(x, y, x * 20, y * 50, x + y);
            else
                dib.SetIndex(x, y, static_cast<unsigned>((x + 3 * y) % (1 << bits)));
        }
    const auto section = TDibSection::Create(dib.Info(), false);
    ASSERT_NE(section, nullptr);
    std::memcpy(section->Bits(), dib.Bits.data(), dib.Bits.size());
    for (const QImage& image : {DibToQImage(dib.Info(), dib.Bits.data()), DibToQImage(*section)}) {
        ASSERT_FALSE(image.isNull());
        EXPECT_EQ(image.format(), bits == 1    ? QImage::Format_Mono
                                  : bits == 24 ? QImage::Format_BGR888
                                               : QImage::Format_Indexed8);
        ASSERT_EQ(image.width(), 11);
        ASSERT_EQ(image.height(), 5);
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 11; ++x) {
                QRgb want;
                if (bits == 24) {
                    want = qRgb(x * 20, y * 50, x + y);
                } else {
                    const RGBQUAD q = table[static_cast<std::size_t>((x + 3 * y) % (1 << bits))];
                    want = qRgb(q.rgbRed, q.rgbGreen, q.rgbBlue);
                }
                ASSERT_EQ(image.pixel(x, y), want) << bits << " at " << x << "," << y;
            }
    }
}

INSTANTIATE_TEST_SUITE_P(BitCounts, DibToQImageTest,
                         ::testing::Combine(::testing::Values(1, 4, 8, 24), ::testing::Bool()));

TEST(DibToQImage, RefusesUnusableHeadersAndCoversEveryIndex) {
    TTestDib dib(2, 2, 8, {Quad(1, 2, 3)});
    dib.Info()->bmiHeader.biClrUsed = 1;
    dib.Bits[0] = 200;  // an index past the colours given
    const QImage image = DibToQImage(dib.Info(), dib.Bits.data());
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.colorCount(), 256);
    EXPECT_EQ(image.pixel(0, 1), qRgb(0, 0, 0));
    EXPECT_TRUE(DibToQImage(dib.Info(), nullptr).isNull());
    dib.Info()->bmiHeader.biBitCount = 16;
    EXPECT_TRUE(DibToQImage(dib.Info(), dib.Bits.data()).isNull());
    EXPECT_TRUE(DibToQImage(nullptr, dib.Bits.data()).isNull());
}

}  // namespace
}  // namespace pix
