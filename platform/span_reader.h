// SPDX-License-Identifier: MIT
// Bounds-checked reading of a byte buffer in a fixed byte order.
#pragma once

#include "platform/byte_order.h"
#include "platform/error.h"
#include "platform/res_strings.h"

#include <cstddef>
#include <cstdint>
#include <span>

namespace pix {

// Every read checks `count <= size - offset`, which cannot overflow, and throws
// EStreamError("Stream read error") when the bytes are not all inside the buffer.
class TSpanReader {
public:
    explicit TSpanReader(std::span<const std::uint8_t> data, bool bigEndian = false)
        : FData(data), FBigEndian(bigEndian) {}

    std::size_t Size() const { return FData.size(); }
    bool BigEndian() const { return FBigEndian; }
    std::span<const std::uint8_t> Data() const { return FData; }

    bool Contains(std::uint64_t offset, std::uint64_t count) const {
        return offset <= FData.size() && count <= FData.size() - offset;
    }
    std::span<const std::uint8_t> SubSpan(std::uint64_t offset, std::uint64_t count) const {
        Check(offset, count);
        return FData.subspan(static_cast<std::size_t>(offset), static_cast<std::size_t>(count));
    }
    std::uint8_t U8(std::uint64_t at) const {
        Check(at, 1);
        return FData[static_cast<std::size_t>(at)];
    }
    std::uint16_t U16(std::uint64_t at) const {
        Check(at, 2);
        const std::uint8_t* p = FData.data() + at;
        return FBigEndian ? LoadBE16(p) : LoadLE16(p);
    }
    std::uint32_t U32(std::uint64_t at) const {
        Check(at, 4);
        const std::uint8_t* p = FData.data() + at;
        return FBigEndian ? LoadBE32(p) : LoadLE32(p);
    }

private:
    void Check(std::uint64_t offset, std::uint64_t count) const {
        if (!Contains(offset, count)) throw EStreamError(SReadError);
    }

    std::span<const std::uint8_t> FData;
    bool FBigEndian;
};

}  // namespace pix
