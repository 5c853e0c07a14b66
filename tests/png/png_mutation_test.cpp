// SPDX-License-Identifier: MIT
// Hostile input: files of every colour type, depth and interlace method with random bytes
// changed inside their chunks (CRCs made right again, so that the damage reaches the
// parsers and the inflater) or cut short. Each must load or fail with the decoder's
// exception, and a loaded one must draw, whatever the rectangle.
#include "png_builder.h"
#include "test_support.h"

#include "png/png_object.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

namespace pix {
namespace {

using test::TBytes;

// Recomputes the CRC of every whole chunk after the signature.
void FixCrcs(TBytes& f) {
    std::size_t pos = 8;
    while (pos + 12 <= f.size()) {
        const std::uint32_t length =
            (std::uint32_t{f[pos]} << 24) | (f[pos + 1] << 16) | (f[pos + 2] << 8) | f[pos + 3];
        if (length > f.size() - pos - 12) break;
        const std::uint32_t crc = PngCrc32(0, f.data() + pos + 4, length + 4);
        for (int i = 0; i < 4; ++i)
            f[pos + 8 + length + i] = static_cast<std::uint8_t>(crc >> (24 - 8 * i));
        pos += 12 + length;
    }
}

TBytes Pattern(std::size_t n, std::uint32_t seed) {
    TBytes b(n);
    for (auto& v : b) v = static_cast<std::uint8_t>((seed = seed * 1103515245 + 12345) >> 16);
    return b;
}

// Small valid files of every kind.
std::vector<TBytes> Seeds() {
    std::vector<TBytes> seeds;
    struct TKind {
        int Depth, Type;
    };
    const TKind kinds[] = {{1, 0}, {2, 0}, {4, 0}, {8, 0}, {16, 0}, {8, 2}, {16, 2}, {1, 3},
                           {2, 3}, {4, 3}, {8, 3}, {8, 4}, {16, 4}, {8, 6}, {16, 6}};
    const int channels[] = {1, 0, 3, 1, 2, 0, 4};
    for (const TKind& k : kinds)
        for (int interlace = 0; interlace <= 1; ++interlace) {
            const int w = 11, h = 9;
            // Enough raw bytes for either layout; the rest of the stream is unused.
            const std::size_t rowBytes = (w * k.Depth * channels[k.Type] + 7) / 8 + 1;
            TBytes raw =
                Pattern(rowBytes * h * 2, static_cast<std::uint32_t>(k.Depth * 7 + k.Type));
            for (std::size_t i = 0; i < raw.size(); i += rowBytes) raw[i] %= 5;
            TBytes extra;
            if (k.Type == 3) {
                test::Append(extra, test::PngChunk("PLTE", Pattern(3 * (1 << k.Depth), 3)));
                test::Append(extra, test::PngChunk("tRNS", {0, 128, 255}));
            } else if (k.Type == 0 || k.Type == 2) {
                test::Append(extra, test::PngChunk("tRNS", Pattern(k.Type == 0 ? 2 : 6, 5)));
            }
            TBytes gama;
            test::PutBE32(gama, 70000);
            test::Append(extra, test::PngChunk("gAMA", gama));
            seeds.push_back(
                test::SimplePng(test::IhdrData(w, h, k.Depth, k.Type, interlace), raw, extra));
        }
    return seeds;
}

void LoadAndDraw(const TBytes& f) {
    TSpanStream stream(f);
    TPNGObject png;
    try {
        png.LoadFromStream(stream);
    } catch (const EPngError&) {
        return;
    }
    for (const TRect r :
         {TRect{-5, -5, 7, 4}, TRect{0, 0, png.Width(), png.Height()}, TRect{3, 3, 40, 40}}) {
        BITMAPINFO info{};
        info.bmiHeader = {40, 13, 10, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
        auto target = TDibSection::Create(&info, false);
        TDeviceContext dc;
        dc.SelectBitmap(target.get());
        try {
            png.Draw(dc, r);
        } catch (const EPngError&) {
        }
    }
}

TEST(PngMutation, ChangedBytesInsideChunksLoadOrFailCleanly) {
    std::mt19937 random(20261208);
    for (const TBytes& seed : Seeds()) {
        ASSERT_NO_THROW({
            TSpanStream s(seed);
            TPNGObject png;
            png.LoadFromStream(s);
        });
        for (int round = 0; round < 150; ++round) {
            TBytes f = seed;
            const int changes = 1 + static_cast<int>(random() % 4);
            for (int i = 0; i < changes; ++i)
                f[8 + random() % (f.size() - 8)] = static_cast<std::uint8_t>(random());
            FixCrcs(f);
            LoadAndDraw(f);
        }
    }
}

TEST(PngMutation, EveryTruncationFailsCleanly) {
    for (const TBytes& seed : Seeds())
        for (std::size_t n = 0; n < seed.size(); ++n) {
            const TBytes f(seed.begin(), seed.begin() + static_cast<std::ptrdiff_t>(n));
            TSpanStream s(f);
            TPNGObject png;
            EXPECT_THROW(png.LoadFromStream(s), EPngError) << n;
        }
}

TEST(PngMutation, SuiteFilesWithChangedBytes) {
    PIX_REQUIRE_CORPUS();
    const auto dir = test::CorpusDir() / "pngsuite";
    if (!std::filesystem::is_directory(dir)) GTEST_SKIP() << "no PNG suite under " << dir;
    std::mt19937 random(7);
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
        if (e.path().extension() != ".png") continue;
        std::ifstream in(e.path(), std::ios::binary);
        const TBytes original((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
        if (original.size() < 16) continue;
        for (int round = 0; round < 20; ++round) {
            TBytes f = original;
            f[8 + random() % (f.size() - 8)] = static_cast<std::uint8_t>(random());
            FixCrcs(f);
            LoadAndDraw(f);
        }
    }
}

}  // namespace
}  // namespace pix
