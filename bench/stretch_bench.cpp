// SPDX-License-Identifier: MIT
// Reducing a picture to a thumbnail, as the thumbnail thread does for every new file.
#include "platform/dib.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace {

using namespace pix;

// A packed picture: header with a grey table when it has one, and pseudo-random bits that
// look like noise, so that no colour cache can get away with a handful of entries.
struct TBenchDib {
    std::vector<std::uint32_t> InfoBlock = std::vector<std::uint32_t>((40 + 256 * 4) / 4, 0);
    std::vector<std::uint8_t> Bits;

    TBenchDib(int width, int height, int bitCount) {
        BITMAPINFO* info = Info();
        info->bmiHeader.biSize = 40;
        info->bmiHeader.biWidth = width;
        info->bmiHeader.biHeight = height;
        info->bmiHeader.biPlanes = 1;
        info->bmiHeader.biBitCount = static_cast<std::uint16_t>(bitCount);
        auto* table = reinterpret_cast<std::uint8_t*>(InfoBlock.data()) + 40;
        for (int i = 0; i < 256; ++i) std::memset(table + 4 * i, i, 3);
        Bits.resize(DibBytesPerLine(width, bitCount) * static_cast<std::uint64_t>(height));
        std::uint32_t state = 12345;
        for (auto& b : Bits) {
            state = state * 1664525u + 1013904223u;
            b = static_cast<std::uint8_t>(state >> 24);
        }
    }
    BITMAPINFO* Info() { return reinterpret_cast<BITMAPINFO*>(InfoBlock.data()); }
};

std::unique_ptr<TDibSection> MakeTarget(int width, int height, int bitCount) {
    TBenchDib header(1, 1, bitCount);
    header.Info()->bmiHeader.biWidth = width;
    header.Info()->bmiHeader.biHeight = height;
    return TDibSection::Create(header.Info(), false);
}

void RunStretch(benchmark::State& state, int srcWidth, int srcHeight, int srcBits, int dstBits,
                int mode) {
    TBenchDib src(srcWidth, srcHeight, srcBits);
    const auto target = MakeTarget(112, 96, dstBits);
    TDeviceContext dc;
    dc.SelectBitmap(target.get());
    dc.SetStretchBltMode(mode);
    for (auto _ : state) {
        const int rows = StretchDIBits(dc, 0, 0, 112, 96, 0, 0, srcWidth, srcHeight,
                                       src.Bits.data(), src.Info(), DIB_RGB_COLORS, SRCCOPY);
        benchmark::DoNotOptimize(rows);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(src.Bits.size()));
}

void BM_Stretch_Halftone24(benchmark::State& state) {
    RunStretch(state, 4000, 3000, 24, 24, HALFTONE);
}
void BM_Stretch_ColorOnColor24(benchmark::State& state) {
    RunStretch(state, 4000, 3000, 24, 24, COLORONCOLOR);
}
void BM_Stretch_Halftone8(benchmark::State& state) {
    RunStretch(state, 2048, 1536, 8, 8, HALFTONE);
}
// A 24-bit picture onto a grey palette target: averaging plus nearest-colour lookups.
void BM_Stretch_Halftone24To8(benchmark::State& state) {
    RunStretch(state, 4000, 3000, 24, 8, HALFTONE);
}

BENCHMARK(BM_Stretch_Halftone24)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Stretch_ColorOnColor24)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Stretch_Halftone8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Stretch_Halftone24To8)->Unit(benchmark::kMillisecond);

}  // namespace
