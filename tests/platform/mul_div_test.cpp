// SPDX-License-Identifier: MIT
#include "platform/mul_div.h"

#include <gtest/gtest.h>

#include <climits>

namespace pix {
namespace {

struct TMulDivCase {
    std::int32_t a, b, c, expected;
};

class MulDivTest : public ::testing::TestWithParam<TMulDivCase> {};

TEST_P(MulDivTest, RoundsHalvesAwayFromZero) {
    const auto& t = GetParam();
    EXPECT_EQ(MulDiv(t.a, t.b, t.c), t.expected) << t.a << " * " << t.b << " / " << t.c;
}

INSTANTIATE_TEST_SUITE_P(
    Table, MulDivTest,
    ::testing::Values(
        // Halves go away from zero whatever the signs.
        TMulDivCase{3, 1, 2, 2}, TMulDivCase{-3, 1, 2, -2}, TMulDivCase{3, 1, -2, -2},
        TMulDivCase{-3, 1, -2, 2}, TMulDivCase{5, 1, 2, 3}, TMulDivCase{-5, 1, 2, -3},
        // Below and above the half with an odd divisor.
        TMulDivCase{4, 1, 3, 1}, TMulDivCase{5, 1, 3, 2}, TMulDivCase{-4, 1, 3, -1},
        TMulDivCase{-5, 1, 3, -2},
        // No division possible, or a result beyond 32 bits.
        TMulDivCase{7, 9, 0, -1}, TMulDivCase{INT32_MAX, 2, 1, -1},
        TMulDivCase{INT32_MIN, -1, 1, -1}, TMulDivCase{INT32_MIN, 1, 1, INT32_MIN},
        // The product needs 64 bits but the quotient fits.
        TMulDivCase{INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX},
        TMulDivCase{100000, 100000, 100000, 100000},
        // The 236-grey display window: 235 steps over a window of samples.
        TMulDivCase{235, 1000, 2000, 118}, TMulDivCase{235, 0, 2000, 0},
        TMulDivCase{235, 2000, 2000, 235}, TMulDivCase{235, 32767, 65535, 117},
        TMulDivCase{235, 32768, 65535, 118}, TMulDivCase{235, 65535, 65535, 235},
        TMulDivCase{-235, 1000, 2000, -118}));

TEST(MulDivTest, IsUsableInConstantExpressions) {
    static_assert(MulDiv(235, 1000, 2000) == 118);
    static_assert(MulDiv(1, 1, 0) == -1);
}

}  // namespace
}  // namespace pix
