// SPDX-License-Identifier: MIT
#include "png/png_object.h"

#include "png_builder.h"

#include "imaging/dib_picture.h"
#include "platform/res_strings.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <functional>
#include <random>

namespace pix {
namespace {

using test::Append;
using test::FilterRows;
using test::IhdrData;
using test::PngChunk;
using test::PngSignature;
using test::SimplePng;
using test::TBytes;

std::unique_ptr<TPNGObject> Load(const TBytes& file) {
    auto png = std::make_unique<TPNGObject>();
    TSpanStream stream(file);
    png->LoadFromStream(stream);
    return png;
}

// A 24-bit raster filled with one colour, the target of Draw.
struct TCanvas24 {
    TCanvas24(int w, int h, std::uint32_t background) {
        BITMAPINFO info{};
        info.bmiHeader = {40, w, h, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
        Section = TDibSection::Create(&info, false);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) Set(x, y, background);
        Dc.SelectBitmap(Section.get());
    }
    std::uint32_t At(int x, int y) const {
        const std::uint8_t* p = Section->Row(y) + x * 3;
        return (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[1]} << 8) | p[0];
    }
    void Set(int x, int y, std::uint32_t c) {
        std::uint8_t* p = Section->Row(y) + x * 3;
        p[0] = static_cast<std::uint8_t>(c);
        p[1] = static_cast<std::uint8_t>(c >> 8);
        p[2] = static_cast<std::uint8_t>(c >> 16);
    }
    std::unique_ptr<TDibSection> Section;
    TDeviceContext Dc;
};

TCanvas24 DrawOver(const TPNGObject& png, std::uint32_t background) {
    TCanvas24 canvas(png.Width(), png.Height(), background);
    png.Draw(canvas.Dc, TRect{0, 0, png.Width(), png.Height()});
    return canvas;
}

// Rows of 8-bit RGB test pixels with a pattern that every filter predicts differently.
TBytes RgbPattern(int w, int h) {
    TBytes rows;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            rows.push_back(static_cast<std::uint8_t>(x * 37 + y * 11));
            rows.push_back(static_cast<std::uint8_t>(x * x + 3 * y));
            rows.push_back(static_cast<std::uint8_t>((x ^ y) * 29));
        }
    return rows;
}

// Raw data (filter 0) of a 1×1 8-bit grey image.
TBytes OneGreyPixel(std::uint8_t v) { return {0, v}; }

// ---- refusals --------------------------------------------------------------------------

struct TRefusal {
    const char* Name;
    std::function<TBytes()> File;
    const TResString* Message;  // the message, or null to check only the class
    std::function<void(const TBytes&)> Expect;
};

template <class E>
std::function<void(const TBytes&)> Throws() {
    return [](const TBytes& f) { EXPECT_THROW(Load(f), E); };
}

class PngRefusalTest : public ::testing::TestWithParam<TRefusal> {};

TEST_P(PngRefusalTest, FailsWithItsClassAndMessage) {
    const TRefusal& r = GetParam();
    const TBytes file = r.File();
    r.Expect(file);
    try {
        Load(file);
        FAIL() << "loaded";
    } catch (const EPngError& e) {
        if (r.Message) {
            EXPECT_EQ(e.Id, r.Message->Id) << e.what();
        }
    }
}

TBytes WithChunks(const TBytes& ihdr, std::initializer_list<TBytes> chunks) {
    TBytes f = PngSignature();
    Append(f, PngChunk("IHDR", ihdr));
    for (const TBytes& c : chunks) Append(f, c);
    return f;
}

const TBytes kGrey1x1 = IhdrData(1, 1, 8, 0);

INSTANTIATE_TEST_SUITE_P(
    Files, PngRefusalTest,
    ::testing::Values(
        TRefusal{"BadSignature",
                 [] {
                     TBytes f = SimplePng(kGrey1x1, OneGreyPixel(1));
                     f[1] = 'p';
                     return f;
                 },
                 &SPngInvalidFileHeader, Throws<EPNGInvalidFileHeader>()},
        TRefusal{"EmptyFile", [] { return TBytes{}; }, &SPngInvalidFileHeader,
                 Throws<EPNGInvalidFileHeader>()},
        TRefusal{"FirstChunkNotIhdr",
                 [] {
                     TBytes f = PngSignature();
                     Append(f, PngChunk("gAMA", {0, 0, 0xB1, 0x8F}));
                     Append(f, PngChunk("IHDR", kGrey1x1));
                     return f;
                 },
                 &SPngIHDRNotFirst, Throws<EPNGIHDRNotFirst>()},
        TRefusal{"ShortIhdr",
                 [] {
                     TBytes h = kGrey1x1;
                     h.pop_back();
                     return SimplePng(h, OneGreyPixel(1));
                 },
                 &SPngInvalidIHDR, Throws<EPngInvalidIHDR>()},
        TRefusal{"ZeroWidth", [] { return SimplePng(IhdrData(0, 1, 8, 0), {}); }, &SPngInvalidIHDR,
                 Throws<EPngInvalidIHDR>()},
        TRefusal{"TooWide", [] { return SimplePng(IhdrData(70000, 10, 8, 0), {}); },
                 &SPngSizeExceeds, Throws<EPNGSizeExceeds>()},
        TRefusal{"TooHigh", [] { return SimplePng(IhdrData(1, 65536, 1, 0), {}); },
                 &SPngSizeExceeds, Throws<EPNGSizeExceeds>()},
        TRefusal{"BitmapPastLimit", [] { return SimplePng(IhdrData(65535, 65535, 8, 6), {}); },
                 &SPngSizeExceeds, Throws<EPNGSizeExceeds>()},
        TRefusal{"Compression1",
                 [] { return SimplePng(IhdrData(1, 1, 8, 0, 0, 1), OneGreyPixel(1)); },
                 &SPngUnknownCompression, Throws<EPNGUnknownCompression>()},
        TRefusal{"Interlace2", [] { return SimplePng(IhdrData(1, 1, 8, 0, 2), OneGreyPixel(1)); },
                 &SPngUnknownInterlace, Throws<EPNGUnknownInterlace>()},
        TRefusal{"GreyDepth3", [] { return SimplePng(IhdrData(1, 1, 3, 0), {}); },
                 &SPngInvalidColorFormat, Throws<EPNGInvalidColorFormat>()},
        TRefusal{"RgbDepth4", [] { return SimplePng(IhdrData(1, 1, 4, 2), {}); },
                 &SPngInvalidColorFormat, Throws<EPNGInvalidColorFormat>()},
        TRefusal{"PaletteDepth16", [] { return SimplePng(IhdrData(1, 1, 16, 3), {}); },
                 &SPngInvalidColorFormat, Throws<EPNGInvalidColorFormat>()},
        TRefusal{"ColorType1", [] { return SimplePng(IhdrData(1, 1, 8, 1), {}); },
                 &SPngInvalidColorFormat, Throws<EPNGInvalidColorFormat>()},
        TRefusal{"PaletteNotTriples",
                 [] {
                     return SimplePng(IhdrData(1, 1, 8, 3), OneGreyPixel(0),
                                      PngChunk("PLTE", TBytes(7, 1)));
                 },
                 &SPngInvalidPalette, Throws<EPNGInvalidPalette>()},
        TRefusal{"Palette257",
                 [] {
                     return SimplePng(IhdrData(1, 1, 8, 3), OneGreyPixel(0),
                                      PngChunk("PLTE", TBytes(257 * 3, 1)));
                 },
                 &SPngInvalidPalette, Throws<EPNGInvalidPalette>()},
        TRefusal{"Trns257",
                 [] {
                     TBytes extra = PngChunk("PLTE", TBytes(6, 1));
                     Append(extra, PngChunk("tRNS", TBytes(257, 0)));
                     return SimplePng(IhdrData(1, 1, 8, 3), OneGreyPixel(0), extra);
                 },
                 &SPngInvalidPalette, Throws<EPNGInvalidPalette>()},
        TRefusal{"UnknownCritical",
                 [] { return SimplePng(kGrey1x1, OneGreyPixel(1), PngChunk("QxYz", {1})); },
                 &SPngUnknownCriticalChunk, Throws<EPNGUnknownCriticalChunk>()},
        TRefusal{"BadCrcOfAncillary",
                 [] {
                     return SimplePng(kGrey1x1, OneGreyPixel(1), PngChunk("tEXt", {'a', 0}, 1));
                 },
                 &SPngInvalidCRC, Throws<EPngInvalidCRC>()},
        TRefusal{"BadCrcOfIdat",
                 [] {
                     return WithChunks(kGrey1x1,
                                       {PngChunk("IDAT", test::Deflate(OneGreyPixel(1)), 4),
                                        PngChunk("IEND", {})});
                 },
                 &SPngInvalidCRC, Throws<EPngInvalidCRC>()},
        TRefusal{"IdatThenText",
                 [] {
                     const TBytes z = test::Deflate(TBytes(1 + 64, 7));
                     const TBytes half(z.begin(), z.begin() + 5);
                     return WithChunks(IhdrData(64, 1, 8, 0),
                                       {PngChunk("IDAT", half), PngChunk("tEXt", {'a', 0})});
                 },
                 &SPngMissingMultipleIDAT, Throws<EPNGMissingMultipleIDAT>()},
        TRefusal{"NotZlib",
                 [] {
                     return WithChunks(
                         kGrey1x1, {PngChunk("IDAT", {0x12, 0x34, 0x56}), PngChunk("IEND", {})});
                 },
                 nullptr,
                 [](const TBytes& f) {
                     try {
                         Load(f);
                         ADD_FAILURE() << "loaded";
                     } catch (const EPNGZLIBError& e) {
                         // zlib's own description follows the program's text.
                         const std::string prefix =
                             std::string(SPngZLIBError.Text) + SPngZLIBDescription.Text;
                         EXPECT_EQ(e.Id, SPngZLIBError.Id);
                         EXPECT_GT(std::string(e.what()).size(), prefix.size());
                     }
                 }},
        TRefusal{"CompressedStreamTooShort",
                 [] { return SimplePng(IhdrData(4, 4, 8, 0), TBytes(5 * 2, 0)); },
                 &SPngUnexpectedEnd, Throws<EPngUnexpectedEnd>()},
        TRefusal{"NoImageData", [] { return WithChunks(kGrey1x1, {PngChunk("IEND", {})}); },
                 &SPngNoImageData, Throws<EPNGNoImageData>()},
        TRefusal{"NoIend",
                 [] {
                     TBytes f = SimplePng(kGrey1x1, OneGreyPixel(1));
                     f.resize(f.size() - 12);
                     return f;
                 },
                 &SPngUnexpectedEnd, Throws<EPngUnexpectedEnd>()},
        TRefusal{"EndsInsideIdat",
                 [] {
                     TBytes f = SimplePng(IhdrData(32, 32, 8, 2),
                                          FilterRows(RgbPattern(32, 32), 96, 3, 0));
                     f.resize(8 + 25 + 30);
                     return f;
                 },
                 &SPngUnexpectedEnd, Throws<EPngUnexpectedEnd>()},
        TRefusal{"HugeChunkLength",
                 [] {
                     TBytes f = SimplePng(kGrey1x1, OneGreyPixel(1));
                     TBytes bad = PngChunk("tEXt", {});
                     bad[0] = 0x7F;
                     f.insert(f.begin() + 33, bad.begin(), bad.end());
                     return f;
                 },
                 &SPngUnexpectedEnd, Throws<EPngUnexpectedEnd>()}),
    [](const auto& info) { return std::string(info.param.Name); });

// ---- accepted files ------------------------------------------------------------------------

TEST(PngObject, LoadsTheWidestAllowedImage) {
    const auto png = Load(SimplePng(IhdrData(65535, 1, 1, 0), TBytes(1 + 8192, 0)));
    EXPECT_EQ(png->Width(), 65535);
    EXPECT_EQ(png->Height(), 1);
}

TEST(PngObject, EveryFilterTypeGivesTheSamePixels) {
    const int w = 13, h = 7;
    const TBytes rows = RgbPattern(w, h);
    {
        for (int filter = 0; filter <= 4; ++filter) {
            SCOPED_TRACE(filter);
            const auto png =
                Load(SimplePng(IhdrData(w, h, 8, 2), FilterRows(rows, w * 3, 3, filter)));
            const TCanvas24 c = DrawOver(*png, 0);
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    const std::uint8_t* p = rows.data() + (y * w + x) * 3;
                    ASSERT_EQ(c.At(x, y), (std::uint32_t{p[0]} << 16) | (p[1] << 8) | p[2]);
                }
        }
    }
}

// Every filter undone gives the pixels (and alpha) of the unfiltered file, for each pixel
// size the filters step by. Rows alternate between random bytes and bytes from a small set,
// where the Paeth predictor's three distances often tie.
struct TFilterCase {
    const char* Name;
    int ColorType, Depth, Bpp;
};

class FilterRoundTripTest : public ::testing::TestWithParam<TFilterCase> {};

TEST_P(FilterRoundTripTest, EveryFilterGivesTheUnfilteredPixels) {
    const TFilterCase& c = GetParam();
    const int w = 37, h = 12;
    const std::size_t rowBytes = static_cast<std::size_t>(w) * c.Bpp;
    std::mt19937 rng(static_cast<unsigned>(c.ColorType * 100 + c.Depth));
    TBytes rows(rowBytes * h);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const bool ties = (i / rowBytes) % 2 == 1;
        rows[i] = ties ? std::array<std::uint8_t, 4>{0, 1, 2, 255}[rng() % 4]
                       : static_cast<std::uint8_t>(rng());
    }
    const auto plain =
        Load(SimplePng(IhdrData(w, h, c.Depth, c.ColorType), FilterRows(rows, rowBytes, c.Bpp, 0)));
    for (int filter = 1; filter <= 4; ++filter) {
        SCOPED_TRACE(filter);
        const auto png = Load(SimplePng(IhdrData(w, h, c.Depth, c.ColorType),
                                        FilterRows(rows, rowBytes, c.Bpp, filter)));
        ASSERT_EQ(std::memcmp(png->Bitmap()->Bits(), plain->Bitmap()->Bits(),
                              plain->Bitmap()->ImageSize()),
                  0);
        ASSERT_EQ(png->AlphaPlane(), plain->AlphaPlane());
    }
}

INSTANTIATE_TEST_SUITE_P(
    PixelSizes, FilterRoundTripTest,
    ::testing::Values(TFilterCase{"Grey8", 0, 8, 1}, TFilterCase{"GreyAlpha8", 4, 8, 2},
                      TFilterCase{"Rgb8", 2, 8, 3}, TFilterCase{"Rgba8", 6, 8, 4},
                      TFilterCase{"Rgb16", 2, 16, 6}, TFilterCase{"Rgba16", 6, 16, 8}),
    [](const ::testing::TestParamInfo<TFilterCase>& info) { return info.param.Name; });

// Compressed data split over IDATs of every size from 1 byte decodes as one chunk does.
TEST(PngObject, SplitImageDataDecodes) {
    const int w = 40, h = 30;
    const TBytes rows = RgbPattern(w, h);
    const TBytes z = test::Deflate(FilterRows(rows, w * 3, 3, 4));
    const auto whole = Load(SimplePng(IhdrData(w, h, 8, 2), FilterRows(rows, w * 3, 3, 4)));
    for (std::size_t piece : {std::size_t{1}, std::size_t{7}, z.size() - 1}) {
        SCOPED_TRACE(piece);
        TBytes f = PngSignature();
        Append(f, PngChunk("IHDR", IhdrData(w, h, 8, 2)));
        Append(f, PngChunk("IDAT", {}));  // an empty chunk first
        for (std::size_t at = 0; at < z.size(); at += piece)
            Append(f, PngChunk("IDAT",
                               TBytes(z.begin() + at, z.begin() + std::min(z.size(), at + piece))));
        Append(f, PngChunk("IEND", {}));
        const auto png = Load(f);
        ASSERT_EQ(std::memcmp(png->Bitmap()->Bits(), whole->Bitmap()->Bits(),
                              whole->Bitmap()->ImageSize()),
                  0);
    }
}

TEST(PngObject, SkipsAncillaryChunksAndCHRMUnread) {
    TBytes extra = PngChunk("prIv", {1, 2, 3});
    Append(extra, PngChunk("cHRM", TBytes(32, 9), 0xDEAD));  // wrong CRC, never read
    Append(extra, PngChunk("tEXt", {'K', 'e', 'y', 0, 'v', 'a', 'l'}));
    TBytes ztxt = {'Z', 0, 0};
    Append(ztxt, test::Deflate({'h', 'i'}));
    Append(extra, PngChunk("zTXt", ztxt));
    Append(extra, PngChunk("zTXt", {'B', 0, 0, 1, 2, 3}));  // text that does not inflate
    const auto png = Load(SimplePng(kGrey1x1, OneGreyPixel(200), extra));
    std::vector<std::string> texts;
    for (const auto& c : png->Chunks())
        if (const auto* t = dynamic_cast<const TChunktEXt*>(c.get()))
            texts.push_back(t->Keyword + "=" + t->Text);
    EXPECT_EQ(texts, (std::vector<std::string>{"Key=val", "Z=hi", "B="}));
    EXPECT_EQ(png->Bitmap()->Row(0)[0], 200);
}

// Compressed data that ends before its IDAT does: the rest of the chunk is read for its CRC,
// and IDAT chunks after the image are skipped.
TEST(PngObject, ImageDataEndingBeforeItsChunk) {
    TBytes z = test::Deflate(OneGreyPixel(77));
    z.insert(z.end(), {1, 2, 3, 4});
    TBytes f = WithChunks(kGrey1x1,
                          {PngChunk("IDAT", z), PngChunk("IDAT", {9, 9}, 5), PngChunk("IEND", {})});
    EXPECT_EQ(Load(f)->Bitmap()->Row(0)[0], 77);
    f = WithChunks(kGrey1x1, {PngChunk("IDAT", z, 1), PngChunk("IEND", {})});
    EXPECT_THROW(Load(f), EPngInvalidCRC);
}

// A stream that records how it is read.
class TWatchedStream : public TSpanStream {
public:
    using TSpanStream::TSpanStream;
    std::int64_t Read(void* buffer, std::int64_t count) override {
        Largest = std::max(Largest, count);
        return TSpanStream::Read(buffer, count);
    }
    std::int64_t Largest = 0;
};

TEST(PngObject, ReadsInputInBlocksOfAtMost65535Bytes) {
    const int w = 300, h = 300;
    TBytes rows(static_cast<std::size_t>(w) * h * 3);
    std::uint32_t seed = 1;
    for (auto& b : rows) b = static_cast<std::uint8_t>((seed = seed * 1103515245 + 12345) >> 16);
    const TBytes file = SimplePng(IhdrData(w, h, 8, 2), FilterRows(rows, w * 3, 3, 0));
    ASSERT_GT(file.size(), 200000u);
    TWatchedStream stream(file);
    TPNGObject png;
    png.LoadFromStream(stream);
    EXPECT_LE(stream.Largest, 65535);
    EXPECT_EQ(png.Bitmap()->Row(299)[299 * 3 + 2], rows[(299 * w + 299) * 3]);
}

// ---- samples -------------------------------------------------------------------------------

// 2-bit grey: each of the four samples shows as exactly 0, 85, 170 or 255, interlaced or not.
TEST(PngObject, TwoBitGreyShowsFourLevels) {
    const int w = 9, h = 5;
    for (int interlace = 0; interlace <= 1; ++interlace) {
        SCOPED_TRACE(interlace);
        TBytes raw;
        // Sample (x + y) mod 4 at each pixel, passed through the encoder's row layout.
        auto packRow = [](const std::vector<int>& s) {
            TBytes out((s.size() * 2 + 7) / 8, 0);
            for (std::size_t i = 0; i < s.size(); ++i)
                out[i / 4] = static_cast<std::uint8_t>(out[i / 4] | (s[i] << (6 - 2 * (i % 4))));
            return out;
        };
        if (interlace == 0) {
            for (int y = 0; y < h; ++y) {
                std::vector<int> s;
                for (int x = 0; x < w; ++x) s.push_back((x + y) % 4);
                raw.push_back(0);
                Append(raw, packRow(s));
            }
        } else {
            const int p[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                 {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
            for (const auto& q : p) {
                if (q[0] >= w || q[1] >= h) continue;
                for (int y = q[1]; y < h; y += q[3]) {
                    std::vector<int> s;
                    for (int x = q[0]; x < w; x += q[2]) s.push_back((x + y) % 4);
                    raw.push_back(0);
                    Append(raw, packRow(s));
                }
            }
        }
        const auto png = Load(SimplePng(IhdrData(w, h, 2, 0, interlace), raw));
        EXPECT_EQ(png->Bitmap()->BitCount(), 4);
        const TCanvas24 c = DrawOver(*png, 0x123456);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const std::uint32_t v = 85u * ((x + y) % 4);
                ASSERT_EQ(c.At(x, y), v * 0x010101u) << x << "," << y;
            }
    }
}

TEST(PngObject, GammaTable) {
    const TBytes raw = {0, 0, 64, 128, 255};
    // 45455 is the identity (exponent 1 / (0.45455 × 2.2) ≈ 1).
    TBytes gama;
    test::PutBE32(gama, 45455);
    auto png = Load(SimplePng(IhdrData(4, 1, 8, 0), raw, PngChunk("gAMA", gama)));
    for (int i = 0; i < 256; ++i) ASSERT_EQ(png->GammaTable()[i], i);
    // 100000: 255 × (i / 255)^(1 / 2.2); it reaches the grey ramp of the bitmap.
    gama.clear();
    test::PutBE32(gama, 100000);
    png = Load(SimplePng(IhdrData(4, 1, 8, 0), raw, PngChunk("gAMA", gama)));
    const TCanvas24 c = DrawOver(*png, 0);
    for (int x = 0; x < 4; ++x) {
        const int v = raw[1 + x];
        const auto want =
            static_cast<std::uint32_t>(std::lround(255 * std::pow(v / 255.0, 1 / 2.2)));
        EXPECT_EQ(c.At(x, 0), want * 0x010101u) << v;
    }
    EXPECT_EQ(png->GammaTable()[64], 136);
    EXPECT_EQ(png->InverseGammaTable()[136], 64);
}

TEST(PngObject, SixteenBitSamplesKeepHighAndLowBytes) {
    // Grey + alpha, 16 bits: 0x1234 grey, 0xFF00 alpha.
    auto png = Load(SimplePng(IhdrData(1, 1, 16, 4), {0, 0x12, 0x34, 0xFF, 0x00}));
    EXPECT_EQ(png->Bitmap()->Row(0)[0], 0x12);
    EXPECT_EQ(png->LowBytePlane(), TBytes{0x34});
    EXPECT_EQ(png->AlphaPlane(), TBytes{0xFF});
    // RGB 16.
    png = Load(SimplePng(IhdrData(1, 1, 16, 2), {0, 0xA1, 0xA2, 0xB1, 0xB2, 0xC1, 0xC2}));
    const std::uint8_t* p = png->Bitmap()->Row(0);
    EXPECT_EQ((TBytes{p[0], p[1], p[2]}), (TBytes{0xC1, 0xB1, 0xA1}));
    EXPECT_EQ(png->LowBytePlane(), (TBytes{0xA2, 0xB2, 0xC2}));
}

// ---- transparency --------------------------------------------------------------------------

TBytes Palette3() { return {255, 0, 0, 0, 255, 0, 0, 0, 255}; }

TEST(PngObject, PaletteWithOneClearEntryIsAColourKey) {
    // Pixels: entries 0, 1, 2.
    TBytes extra = PngChunk("PLTE", Palette3());
    Append(extra, PngChunk("tRNS", {255, 0}));
    const auto png = Load(SimplePng(IhdrData(3, 1, 8, 3), {0, 0, 1, 2}, extra));
    EXPECT_EQ(png->TransparencyMode(), ptmBit);
    const TCanvas24 c = DrawOver(*png, 0x808080);
    EXPECT_EQ(c.At(0, 0), 0xFF0000u);
    EXPECT_EQ(c.At(1, 0), 0x808080u);
    EXPECT_EQ(c.At(2, 0), 0x0000FFu);
}

TEST(PngObject, PaletteWithTwoTranslucentEntriesBlends) {
    TBytes extra = PngChunk("PLTE", Palette3());
    Append(extra, PngChunk("tRNS", {128, 0}));
    const auto png = Load(SimplePng(IhdrData(3, 1, 8, 3), {0, 0, 1, 2}, extra));
    EXPECT_EQ(png->TransparencyMode(), ptmPartial);
    const TCanvas24 c = DrawOver(*png, 0x404040);
    // (255 × 128 + 127 × 64 + 255) div 256 = 160; (128 × 64 + 255) div 256 = 32.
    EXPECT_EQ(c.At(0, 0), 0xA02020u);
    EXPECT_EQ(c.At(1, 0), 0x404040u);
    EXPECT_EQ(c.At(2, 0), 0x0000FFu);
}

TEST(PngObject, TransparentPaletteIndexPastThePaletteFails) {
    TBytes extra = PngChunk("PLTE", Palette3());
    Append(extra, PngChunk("tRNS", {255, 255, 255, 0}));
    const auto png = Load(SimplePng(IhdrData(1, 1, 8, 3), {0, 0}, extra));
    TCanvas24 c(1, 1, 0);
    try {
        png->Draw(c.Dc, TRect{0, 0, 1, 1});
        FAIL();
    } catch (const EPngError& e) {
        EXPECT_EQ(e.Id, SPngNoSuchPaletteEntry.Id);
    }
}

// Grey and RGB keys: 16-bit values match the pixels by their high bytes.
TEST(PngObject, GreyAndRgbColourKeys) {
    auto png = Load(SimplePng(IhdrData(2, 1, 16, 0), {0, 0x40, 0x01, 0x41, 0x00},
                              PngChunk("tRNS", {0x40, 0xFF})));
    TCanvas24 c = DrawOver(*png, 0xABCDEF);
    EXPECT_EQ(c.At(0, 0), 0xABCDEFu);
    EXPECT_EQ(c.At(1, 0), 0x414141u);

    png = Load(SimplePng(IhdrData(2, 1, 16, 2), {0, 1, 0, 2, 0, 3, 0, 1, 0, 2, 0, 4, 0},
                         PngChunk("tRNS", {1, 9, 2, 9, 3, 9})));
    c = DrawOver(*png, 0xABCDEF);
    EXPECT_EQ(c.At(0, 0), 0xABCDEFu);
    EXPECT_EQ(c.At(1, 0), 0x010204u);

    // 8-bit RGB: the key is the low byte of each field and is matched before gamma, which
    // shows 254 and 255 alike.
    TBytes extra;
    test::PutBE32(extra, 100000);
    extra = PngChunk("gAMA", extra);
    Append(extra, PngChunk("tRNS", {0, 255, 0, 255, 0, 255}));
    png = Load(SimplePng(IhdrData(2, 1, 8, 2), {0, 255, 255, 255, 254, 254, 254}, extra));
    c = DrawOver(*png, 0xABCDEF);
    EXPECT_EQ(c.At(0, 0), 0xABCDEFu);
    EXPECT_EQ(c.At(1, 0), 0xFFFFFFu);

    // 2-bit grey: the key is a sample value, shown at level 85.
    png = Load(SimplePng(IhdrData(4, 1, 2, 0), {0, 0x1B}, PngChunk("tRNS", {0, 1})));
    c = DrawOver(*png, 0x0000FF);
    EXPECT_EQ(c.At(0, 0), 0u);
    EXPECT_EQ(c.At(1, 0), 0x0000FFu);
    EXPECT_EQ(c.At(2, 0), 0xAAAAAAu);
}

// Alpha drawing into rectangles that stick out of the target on every side writes only
// inside it, scaled by the nearest source pixel.
TEST(PngObject, AlphaDrawClipsToTheTarget) {
    const int w = 4, h = 4;
    TBytes raw;
    for (int y = 0; y < h; ++y) {
        raw.push_back(0);
        for (int x = 0; x < w; ++x) {
            raw.insert(raw.end(), {static_cast<std::uint8_t>(x * 60), 0,
                                   static_cast<std::uint8_t>(y * 60), 255});
        }
    }
    const auto png = Load(SimplePng(IhdrData(w, h, 8, 6), raw));
    for (const TRect r : {TRect{-3, -5, 5, 3}, TRect{2, 2, 12, 9}, TRect{-100, -100, 200, 200},
                          TRect{6, 6, 10, 10}, TRect{3, 0, 3, 6}}) {
        TCanvas24 c(6, 6, 0x111111);
        png->Draw(c.Dc, r);
        const int dw = r.Right - r.Left, dh = r.Bottom - r.Top;
        for (int y = 0; y < 6; ++y)
            for (int x = 0; x < 6; ++x) {
                std::uint32_t want = 0x111111;
                if (dw > 0 && dh > 0 && x >= r.Left && x < r.Right && y >= r.Top && y < r.Bottom) {
                    const int sx = ((2 * (x - r.Left) + 1) * w) / (2 * dw);
                    const int sy = ((2 * (y - r.Top) + 1) * h) / (2 * dh);
                    want = (std::uint32_t(sx * 60) << 16) | std::uint32_t(sy * 60);
                }
                ASSERT_EQ(c.At(x, y), want) << x << "," << y;
            }
    }
}

}  // namespace
}  // namespace pix
