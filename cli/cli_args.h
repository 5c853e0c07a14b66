// SPDX-License-Identifier: MIT
// Argument parsing shared by the commands of pixorama-cli.
#pragma once

#include <charconv>
#include <string_view>

namespace pix {

// Larger boxes make no sense for a thumbnail, and the cache file stores the box in 16 bits.
inline constexpr int kMaxBoxSide = 4096;
inline constexpr const char* SBadBox = "the box must be WxH with sides from 1 to %d";

// A whole decimal number from low to high.
inline bool ParseInt(std::string_view text, int low, int high, int& value) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size() && value >= low && value <= high;
}

// "WxH" with both sides in 1..kMaxBoxSide.
inline bool ParseBox(std::string_view text, int& width, int& height) {
    const std::size_t x = text.find_first_of("xX");
    if (x == std::string_view::npos) return false;
    return ParseInt(text.substr(0, x), 1, kMaxBoxSide, width) &&
           ParseInt(text.substr(x + 1), 1, kMaxBoxSide, height);
}

}  // namespace pix
