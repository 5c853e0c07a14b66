// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>

namespace pix {

// A calendar time in eight 16-bit fields, the layout image files and the cache store.
struct SYSTEMTIME {
    std::uint16_t wYear;
    std::uint16_t wMonth;
    std::uint16_t wDayOfWeek;
    std::uint16_t wDay;
    std::uint16_t wHour;
    std::uint16_t wMinute;
    std::uint16_t wSecond;
    std::uint16_t wMilliseconds;
};
static_assert(sizeof(SYSTEMTIME) == 16);

}  // namespace pix
