// SPDX-License-Identifier: MIT
// 16-bit samples with their translation table to 8-bit palette indices.
#pragma once

#include "imaging/mapped_memory.h"

#include <array>
#include <cstdint>

namespace pix {

// Samples are 16-bit unsigned, rows top to bottom, without padding. Table[s] is the
// palette index shown for sample value s.
class TImgData16 : public TLwMappedMemory {
public:
    explicit TImgData16(std::int64_t size) : TLwMappedMemory(size) {}
    TImgData16(std::int64_t size, const std::string& name, std::int32_t threshold)
        : TLwMappedMemory(size, name, threshold) {}

    // Min and Max become the smallest and largest sample; an empty store gives 65535 and 0.
    void ComputeMinMax();
    // Values up to Low show OutLow, values above High OutHigh, and those between are
    // spread linearly (MulDiv rounding). Bounds above 65535 are taken as 65535.
    void BuildTable(std::uint32_t low, std::uint32_t high, std::uint8_t outLow,
                    std::uint8_t outHigh);
    std::int64_t SampleCount() const { return Size() / 2; }

    std::uint16_t Min = 0;
    std::uint16_t Max = 0;
    bool Keep16 = true;
    std::array<std::uint8_t, 65536> Table{};
};

}  // namespace pix
