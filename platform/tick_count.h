// SPDX-License-Identifier: MIT
// A millisecond tick count that wraps around every 49.7 days, and a plain sleep.
#pragma once

#include <chrono>
#include <cstdint>
#include <thread>

namespace pix {

// Milliseconds of the monotonic clock, cut to 32 bits: differences between two ticks are
// right in unsigned 32-bit arithmetic even across the wrap-around.
inline std::uint32_t GetTickCount() {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(ms.count()));
}

inline void Sleep(std::uint32_t milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace pix
