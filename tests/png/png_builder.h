// SPDX-License-Identifier: MIT
// Builds PNG files byte by byte for the decoder's tests: chunks with their CRCs, zlib image
// data and forward filters, so that each test can spell out exactly the file it needs.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

namespace pix::test {

using TBytes = std::vector<std::uint8_t>;

inline void PutBE32(TBytes& out, std::uint32_t v) {
    for (int s = 24; s >= 0; s -= 8) out.push_back(static_cast<std::uint8_t>(v >> s));
}

inline TBytes PngSignature() { return {137, 80, 78, 71, 13, 10, 26, 10}; }

// A chunk with its length and CRC; `crcDelta` spoils the CRC on purpose.
inline TBytes PngChunk(const std::string& name, const TBytes& data, std::uint32_t crcDelta = 0) {
    TBytes out;
    PutBE32(out, static_cast<std::uint32_t>(data.size()));
    out.insert(out.end(), name.begin(), name.end());
    out.insert(out.end(), data.begin(), data.end());
    uLong crc = crc32(0, reinterpret_cast<const Bytef*>(name.data()), 4);
    // zlib answers 0 for a null buffer, which an empty vector may give.
    if (!data.empty()) crc = crc32(crc, data.data(), static_cast<uInt>(data.size()));
    PutBE32(out, static_cast<std::uint32_t>(crc) ^ crcDelta);
    return out;
}

inline TBytes IhdrData(std::uint32_t w, std::uint32_t h, int depth, int colorType,
                       int interlace = 0, int compression = 0) {
    TBytes d;
    PutBE32(d, w);
    PutBE32(d, h);
    d.push_back(static_cast<std::uint8_t>(depth));
    d.push_back(static_cast<std::uint8_t>(colorType));
    d.push_back(static_cast<std::uint8_t>(compression));
    d.push_back(0);
    d.push_back(static_cast<std::uint8_t>(interlace));
    return d;
}

inline TBytes Deflate(const TBytes& raw) {
    uLongf size = compressBound(static_cast<uLong>(raw.size()));
    TBytes out(size);
    compress2(out.data(), &size, raw.data(), static_cast<uLong>(raw.size()), 9);
    out.resize(size);
    return out;
}

inline std::uint8_t PaethPredict(int a, int b, int c) {
    const int p = a + b - c;
    const int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    return static_cast<std::uint8_t>(pa <= pb && pa <= pc ? a : pb <= pc ? b : c);
}

// Filters rows of `rowBytes` bytes (no filter byte) with `filter` (0..4, the same for every
// row) and returns the filtered stream, filter bytes included.
inline TBytes FilterRows(const TBytes& rows, std::size_t rowBytes, std::size_t bpp, int filter) {
    TBytes out;
    TBytes zero(rowBytes, 0);
    for (std::size_t r = 0; r * rowBytes < rows.size(); ++r) {
        const std::uint8_t* cur = rows.data() + r * rowBytes;
        const std::uint8_t* prev = r == 0 ? zero.data() : cur - rowBytes;
        out.push_back(static_cast<std::uint8_t>(filter));
        for (std::size_t i = 0; i < rowBytes; ++i) {
            const int a = i >= bpp ? cur[i - bpp] : 0, b = prev[i],
                      c = i >= bpp ? prev[i - bpp] : 0;
            int pred = 0;
            switch (filter) {
                case 1:
                    pred = a;
                    break;
                case 2:
                    pred = b;
                    break;
                case 3:
                    pred = (a + b) / 2;
                    break;
                case 4:
                    pred = PaethPredict(a, b, c);
                    break;
                default:
                    break;
            }
            out.push_back(static_cast<std::uint8_t>(cur[i] - pred));
        }
    }
    return out;
}

// A whole file: signature, IHDR, the extra chunks, one IDAT of `raw` (filter bytes
// included) compressed, IEND.
inline TBytes SimplePng(const TBytes& ihdr, const TBytes& raw, const TBytes& extra = {}) {
    TBytes f = PngSignature();
    const TBytes h = PngChunk("IHDR", ihdr);
    f.insert(f.end(), h.begin(), h.end());
    f.insert(f.end(), extra.begin(), extra.end());
    const TBytes d = PngChunk("IDAT", Deflate(raw));
    f.insert(f.end(), d.begin(), d.end());
    const TBytes e = PngChunk("IEND", {});
    f.insert(f.end(), e.begin(), e.end());
    return f;
}

inline void Append(TBytes& to, const TBytes& from) {
    to.insert(to.end(), from.begin(), from.end());
}

}  // namespace pix::test
