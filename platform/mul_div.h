// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>

namespace pix {

// a × b / c with a 64-bit intermediate, rounded to the nearest integer with halves away
// from zero. -1 when c is 0 or the result does not fit 32 bits, as the Windows call does.
constexpr std::int32_t MulDiv(std::int32_t a, std::int32_t b, std::int32_t c) {
    if (c == 0) return -1;
    std::int64_t num = static_cast<std::int64_t>(a) * b;
    std::int64_t den = c;
    if (den < 0) {
        num = -num;
        den = -den;
    }
    const std::int64_t half = den / 2;
    // Round the magnitude, then give back the sign: halves go away from zero.
    std::int64_t q = num >= 0 ? (num + half) / den : -((-num + half) / den);
    // With an odd divisor den / 2 is already below the half; with an even one the
    // exact half must round up in magnitude, which (num + den / 2) / den does.
    if (q > INT32_MAX || q < INT32_MIN) return -1;
    return static_cast<std::int32_t>(q);
}

}  // namespace pix
