// SPDX-License-Identifier: MIT
#include "imaging/img_data16.h"

#include "platform/mul_div.h"

#include <algorithm>

namespace pix {

void TImgData16::ComputeMinMax() {
    std::uint16_t lo = 65535;
    std::uint16_t hi = 0;
    const std::uint16_t* samples = Words();
    const std::int64_t count = SampleCount();
    // Plain min/max over the block; the compiler vectorises this loop.
    for (std::int64_t i = 0; i < count; ++i) {
        lo = std::min(lo, samples[i]);
        hi = std::max(hi, samples[i]);
    }
    Min = lo;
    Max = hi;
}

void TImgData16::BuildTable(std::uint32_t low, std::uint32_t high, std::uint8_t outLow,
                            std::uint8_t outHigh) {
    low = std::min<std::uint32_t>(low, 65535);
    high = std::min<std::uint32_t>(high, 65535);
    std::fill(Table.begin(), Table.begin() + low + 1, outLow);
    const std::int32_t span = outHigh - outLow;  // negative for an inverted window
    const auto width = static_cast<std::int32_t>(high) - static_cast<std::int32_t>(low);
    // Empty when high <= low: then everything above low shows outHigh and nothing divides.
    for (std::uint32_t i = low + 1; i <= high; ++i) {
        const std::int32_t offset = static_cast<std::int32_t>(i - low);
        Table[i] = static_cast<std::uint8_t>(outLow + MulDiv(span, offset, width));
    }
    const std::uint32_t rest = std::max(low, high) + 1;
    std::fill(Table.begin() + rest, Table.end(), outHigh);
}

}  // namespace pix
