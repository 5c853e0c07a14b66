// SPDX-License-Identifier: MIT
// Rasters built and read independently of the code under test, for the raster tests and
// the conversion of rasters for the screen.
#pragma once

#include "platform/dib.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace pix::test {

inline RGBQUAD Quad(int r, int g, int b) {
    return {static_cast<std::uint8_t>(b), static_cast<std::uint8_t>(g),
            static_cast<std::uint8_t>(r), 0};
}

inline std::vector<RGBQUAD> GrayTable(int entries) {
    std::vector<RGBQUAD> t;
    for (int i = 0; i < entries; ++i) {
        const int v = entries == 256 ? i : i * 255 / (entries - 1);
        t.push_back(Quad(v, v, v));
    }
    return t;
}

// A packed picture as a caller hands it over: header with table, and separate bits.
struct TTestDib {
    std::vector<std::uint32_t> InfoBlock;  // 32-bit units keep the header aligned
    std::vector<std::uint8_t> Bits;
    int Width, Height, BitCount;
    bool TopDown;
    std::size_t Bpl;

    TTestDib(int width, int height, int bitCount, const std::vector<RGBQUAD>& table = {},
             bool topDown = false)
        : InfoBlock((40 + 256 * 4) / 4, 0),
          Width(width),
          Height(height),
          BitCount(bitCount),
          TopDown(topDown),
          Bpl(static_cast<std::size_t>(((width * bitCount + 31) / 32) * 4)) {
        BITMAPINFOHEADER& h = Info()->bmiHeader;
        h.biSize = 40;
        h.biWidth = width;
        h.biHeight = topDown ? -height : height;
        h.biPlanes = 1;
        h.biBitCount = static_cast<std::uint16_t>(bitCount);
        h.biCompression = BI_RGB;
        if (!table.empty()) std::memcpy(ColorBytes(), table.data(), table.size() * sizeof(RGBQUAD));
        Bits.assign(Bpl * static_cast<std::size_t>(height), 0);
    }
    BITMAPINFO* Info() { return reinterpret_cast<BITMAPINFO*>(InfoBlock.data()); }
    std::uint8_t* ColorBytes() { return reinterpret_cast<std::uint8_t*>(InfoBlock.data()) + 40; }
    RGBQUAD Color(unsigned i) {
        RGBQUAD q;
        std::memcpy(&q, ColorBytes() + 4 * i, 4);
        return q;
    }
    std::uint8_t* Row(int y) {
        return Bits.data() + static_cast<std::size_t>(TopDown ? y : Height - 1 - y) * Bpl;
    }
    void SetIndex(int x, int y, unsigned v) {
        std::uint8_t* r = Row(y);
        if (BitCount == 8) r[x] = static_cast<std::uint8_t>(v);
        if (BitCount == 4) {
            const int shift = (x % 2) ? 0 : 4;
            r[x / 2] = static_cast<std::uint8_t>((r[x / 2] & ~(0xF << shift)) | (v << shift));
        }
        if (BitCount == 1) {
            const int bit = 7 - x % 8;
            r[x / 8] = static_cast<std::uint8_t>((r[x / 8] & ~(1 << bit)) | ((v & 1) << bit));
        }
    }
    void SetRgb(int x, int y, int red, int green, int blue) {
        const int bytes = BitCount / 8;
        std::uint8_t* p = Row(y) + x * bytes;
        p[0] = static_cast<std::uint8_t>(blue);
        p[1] = static_cast<std::uint8_t>(green);
        p[2] = static_cast<std::uint8_t>(red);
        if (bytes == 4) p[3] = 0x5A;  // the unused byte must not matter
    }
    void SetGray(int x, int y, int v) {
        if (BitCount >= 24)
            SetRgb(x, y, v, v, v);
        else
            SetIndex(x, y, static_cast<unsigned>(v));
    }
};

// A section selected into a device context.
struct TTarget {
    std::unique_ptr<TDibSection> Section;
    TDeviceContext Dc;

    TTarget(int width, int height, int bitCount, const std::vector<RGBQUAD>& table = {},
            bool topDown = false) {
        TTestDib header(width, height, bitCount, table, topDown);
        Section = TDibSection::Create(header.Info(), false);
        EXPECT_NE(Section, nullptr);
        Dc.SelectBitmap(Section.get());
    }
    unsigned Index(int x, int y) const {
        const std::uint8_t* r = Section->Row(y);
        switch (Section->BitCount()) {
            case 8:
                return r[x];
            case 4:
                return (r[x / 2] >> ((x % 2) ? 0 : 4)) & 0xF;
            default:
                return (r[x / 8] >> (7 - x % 8)) & 1;
        }
    }
    // 0xRRGGBB of a pixel, through the colour table for palette targets.
    std::uint32_t Rgb(int x, int y) const {
        if (Section->BitCount() == 24) {
            const std::uint8_t* p = Section->Row(y) + 3 * x;
            return (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[1]} << 8) | p[0];
        }
        const RGBQUAD q = Section->Colors()[Index(x, y)];
        return (std::uint32_t{q.rgbRed} << 16) | (std::uint32_t{q.rgbGreen} << 8) | q.rgbBlue;
    }
    int Gray(int x, int y) const { return static_cast<int>(Rgb(x, y) & 0xFF); }
    void FillRgb24(std::uint8_t value) {
        std::memset(Section->Bits(), value, Section->ImageSize());
    }
};

inline int Stretch(TTarget& t, int mode, int xd, int yd, int wd, int hd, int xs, int ys, int ws, int hs,
            TTestDib& src) {
    t.Dc.SetStretchBltMode(mode);
    return StretchDIBits(t.Dc, xd, yd, wd, hd, xs, ys, ws, hs, src.Bits.data(), src.Info(),
                         DIB_RGB_COLORS, SRCCOPY);
}

}  // namespace pix::test
