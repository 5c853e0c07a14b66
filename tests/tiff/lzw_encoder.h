// SPDX-License-Identifier: MIT
// A plain TIFF LZW encoder for tests: codes most significant bit first, widths growing one
// code early, Clear at the start and End of Information at the end.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace pix::test {

// Appends codes of a given width, most significant bit first.
class TBitWriter {
public:
    void Put(std::uint32_t code, int width) {
        FBits = (FBits << width) | code;
        FHeld += width;
        while (FHeld >= 8) {
            FHeld -= 8;
            FOut += static_cast<char>((FBits >> FHeld) & 0xFF);
        }
    }
    std::string Finish() {
        if (FHeld > 0) FOut += static_cast<char>((FBits << (8 - FHeld)) & 0xFF);
        FHeld = 0;
        return FOut;
    }

private:
    std::uint64_t FBits = 0;
    int FHeld = 0;
    std::string FOut;
};

// With `clearWhenFull` a Clear code starts a new table before the old one fills, as
// libtiff's encoder does; without it the table stays full and the codes stay 12 bits wide.
inline std::string LzwEncode(const std::string& data, bool clearWhenFull = true) {
    TBitWriter out;
    std::unordered_map<std::uint32_t, std::uint32_t> table;
    int width = 9;
    std::uint32_t next = 258;
    // The decoder adds an entry for every code but the first after a Clear; the encoder
    // counts the same way and widens its codes when the next free code reaches 2^width.
    auto added = [&] {
        if (next < 4096) ++next;
        if (next == (1u << width) && width < 12) ++width;
    };
    out.Put(256, width);
    std::int64_t w = -1;
    for (unsigned char c : data) {
        if (w < 0) {
            w = c;
            continue;
        }
        const std::uint32_t key = static_cast<std::uint32_t>(w) << 8 | c;
        if (auto it = table.find(key); it != table.end()) {
            w = it->second;
            continue;
        }
        out.Put(static_cast<std::uint32_t>(w), width);
        if (next < 4096) table[key] = next;
        added();
        w = c;
        if (clearWhenFull && next >= 4094) {
            out.Put(256, width);
            table.clear();
            next = 258;
            width = 9;
        }
    }
    if (w >= 0) {
        out.Put(static_cast<std::uint32_t>(w), width);
        added();
    }
    out.Put(257, width);
    return out.Finish();
}

inline std::vector<std::uint8_t> ToBytes(const std::string& s) {
    return std::vector<std::uint8_t>(s.begin(), s.end());
}

}  // namespace pix::test
