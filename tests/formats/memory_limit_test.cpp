// SPDX-License-Identifier: MIT
// Headers that declare far more pixels than their file holds are refused before the picture's
// memory is made, and the memory limit holds at its exact boundary for every format.
#include "../png/png_builder.h"
#include "formats/bmp_picture.h"
#include "formats/jpg_picture.h"
#include "formats/psd_picture.h"
#include "jpeg_encoder.h"
#include "test_support.h"
#include "tiff_builder.h"

#include "imaging/dib_picture.h"
#include "platform/byte_order.h"
#include "platform/error.h"
#include "platform/res_strings.h"
#include "png/png_picture.h"
#include "tiff/tif_picture.h"

#include <gtest/gtest.h>
#include <jpeglib.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace pix {
namespace {

using Bytes = std::vector<std::uint8_t>;
using test::TTiffBuilder;

Bytes BytesOf(const std::string& s) { return Bytes(s.begin(), s.end()); }

// A lowered limit for one test; the default comes back however the test ends.
class TLimitGuard {
public:
    explicit TLimitGuard(std::uint64_t bytes) { SetPictureMemoryLimit(bytes); }
    ~TLimitGuard() { SetPictureMemoryLimit(0); }
    TLimitGuard(const TLimitGuard&) = delete;
    TLimitGuard& operator=(const TLimitGuard&) = delete;
};

// ---------------------------------------------------------------------------------------
// File makers.

Bytes Png(std::uint32_t w, std::uint32_t h, const Bytes& idat) {
    Bytes out = test::PngSignature();
    const auto append = [&](const Bytes& b) { out.insert(out.end(), b.begin(), b.end()); };
    append(test::PngChunk("IHDR", test::IhdrData(w, h, 8, 0)));
    append(test::PngChunk("IDAT", idat));
    append(test::PngChunk("IEND", {}));
    return out;
}

// A grey PNG whose rows are all there.
Bytes FullPng(std::uint32_t w, std::uint32_t h) {
    return Png(w, h, test::Deflate(Bytes((w + 1) * h, 0)));
}

std::string Tiff(std::uint32_t w, std::uint32_t h, std::uint16_t bits, const std::string& strip,
                 std::uint16_t compression = 1) {
    TTiffBuilder b;
    TTiffBuilder::TImage image = TTiffBuilder::Simple(1, 1, {bits}, 1, "", 0, compression);
    image.Entries[0] = TTiffBuilder::Long(256, {w});
    image.Entries[1] = TTiffBuilder::Long(257, {h});
    for (auto& e : image.Entries)
        if (e.Tag == 278) e = TTiffBuilder::Long(278, {h});
    image.Strips = {strip};
    b.Add(image);
    return b.Build();
}

Bytes Psd(std::uint16_t w, std::uint16_t h, std::size_t sampleBytes) {
    Bytes b(kPsdHeaderSize, 0);
    StoreLE16(b.data(), kPsdMagic);
    StoreLE16(b.data() + 2, w);
    StoreLE16(b.data() + 4, h);
    StoreLE16(b.data() + 8, 4095);  // window high
    StoreLE16(b.data() + 32, 64);   // ramp levels
    b.resize(b.size() + sampleBytes, 0);
    return b;
}

// An uncompressed 8-bit BMP of `pixelBytes` bytes after its 256-entry table.
Bytes Bmp(std::int32_t w, std::int32_t h, std::size_t pixelBytes) {
    Bytes b(14 + 40 + 1024, 0);
    b[0] = 'B';
    b[1] = 'M';
    StoreLE32(b.data() + 2, static_cast<std::uint32_t>(b.size() + pixelBytes));
    StoreLE32(b.data() + 10, static_cast<std::uint32_t>(b.size()));
    StoreLE32(b.data() + 14, 40);
    StoreLE32(b.data() + 18, static_cast<std::uint32_t>(w));
    StoreLE32(b.data() + 22, static_cast<std::uint32_t>(h));
    StoreLE16(b.data() + 26, 1);
    StoreLE16(b.data() + 28, 8);
    b.resize(b.size() + pixelBytes, 0);
    return b;
}

// A grey JPEG of w × h written by our own encoder, its frame header then set to the declared
// size: libjpeg reads the size long before it reaches the scan data.
Bytes Jpeg(int w, int h, std::uint16_t declaredW, std::uint16_t declaredH) {
    TJpgPicture picture;
    picture.New(w, h, pkGray256);
    TMemoryStream stream;
    picture.WriteFileHeader(stream);
    picture.WriteData(stream, false);
    Bytes b = stream.Data();
    for (std::size_t i = 0; i + 9 < b.size(); ++i) {
        if (b[i] == 0xFF && b[i + 1] == 0xC0) {
            b[i + 5] = static_cast<std::uint8_t>(declaredH >> 8);
            b[i + 6] = static_cast<std::uint8_t>(declaredH);
            b[i + 7] = static_cast<std::uint8_t>(declaredW >> 8);
            b[i + 8] = static_cast<std::uint8_t>(declaredW);
            return b;
        }
    }
    ADD_FAILURE() << "no frame header";
    return b;
}

// A progressive colour JPEG of w × h: its decoder keeps every coefficient of the image.
Bytes ProgressiveJpeg(int w, int h) {
    Bytes samples(static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * 3);
    const std::size_t stride = static_cast<std::size_t>(w) * 3;
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<std::uint8_t>((i % stride) * 7 + i / stride);
    return test::EncodeJpeg(w, h, 3, JCS_RGB, samples, 75, false, true);
}

void Load(TDibPicture& picture, const Bytes& bytes) {
    TMemoryStream stream(bytes);
    picture.ReadFileHeader(stream);
    picture.LoadFromStream(stream);
}

// The EPixError a load raises; Id -1 when the picture loaded.
test::TRaised MessageOf(TDibPicture& picture, const Bytes& bytes) {
    return test::Raised([&] { Load(picture, bytes); });
}

// ---------------------------------------------------------------------------------------
// Huge declared sizes over almost no data.

struct THostileCase {
    const char* Name;
    std::function<std::unique_ptr<TDibPicture>()> Make;
    std::function<Bytes()> File;
    TResString Message;
    const char* Argument = "";  // a value the message names
};

class HostileHeader : public testing::TestWithParam<THostileCase> {};

TEST_P(HostileHeader, IsRefusedQuicklyWithItsMessage) {
    const THostileCase& c = GetParam();
    const Bytes file = c.File();
    auto picture = c.Make();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(test::IsMessage(MessageOf(*picture, file), c.Message, c.Argument));
    // Allocating and clearing the declared hundreds of megabytes would take far longer.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));
    EXPECT_EQ(picture->Bits(), nullptr);
}

template <class T>
std::function<std::unique_ptr<TDibPicture>()> Maker() {
    return [] { return std::make_unique<T>(); };
}

INSTANTIATE_TEST_SUITE_P(
    Formats, HostileHeader,
    testing::Values(
        // 400 MB of grey from a 20-byte IDAT: deflate cannot expand that far.
        THostileCase{"PngTinyIdat", Maker<TPngPicture>(),
                     [] { return Png(20000, 20000, test::Deflate(Bytes(64, 0))); },
                     SPngMissingMultipleIDAT},
        THostileCase{"TiffTinyStrip", Maker<TTifPicture>(),
                     [] { return BytesOf(Tiff(20000, 20000, 8, std::string(16, '\0'))); },
                     SStripDataMissing},
        THostileCase{"TiffTinyLzwStrip", Maker<TTifPicture>(),
                     [] { return BytesOf(Tiff(20000, 20000, 8, std::string(16, '\0'), 5)); },
                     SStripDataMissing},
        THostileCase{"Tiff16TinyStrip", Maker<TTifPicture>(),
                     [] { return BytesOf(Tiff(16000, 16000, 16, std::string(16, '\0'))); },
                     SStripDataMissing},
        // Raster and 16-bit store together pass the limit though each alone would not.
        THostileCase{"Tiff16OverLimit", Maker<TTifPicture>(),
                     [] { return BytesOf(Tiff(20000, 20000, 16, std::string(16, '\0'))); },
                     SPictureTooLarge, "1145"},
        THostileCase{"PsdNoSamples", Maker<TPePsdPicture>(), [] { return Psd(20000, 20000, 2); },
                     SReadError},
        THostileCase{"BmpNoRows", Maker<TBmpPicture>(), [] { return Bmp(20000, 20000, 4); },
                     SBmpTruncated},
        // Our encoder writes colour: the picture's raster and the decode's bitmap, 2 × 1.7 GB.
        THostileCase{"JpegOverLimit", Maker<TJpgPicture>(),
                     [] { return Jpeg(16, 16, 24000, 24000); }, SPictureTooLarge, "3296"}),
    [](const testing::TestParamInfo<THostileCase>& info) { return info.param.Name; });

// ---------------------------------------------------------------------------------------
// The limit's exact boundary, with a lowered limit and complete small files.

struct TBoundaryCase {
    const char* Name;
    std::function<std::unique_ptr<TDibPicture>()> Make;
    std::function<Bytes()> File;
    std::uint64_t Need;  // raster + 16-bit store + full-size intermediates, in bytes
};

class LimitBoundary : public testing::TestWithParam<TBoundaryCase> {};

TEST_P(LimitBoundary, LoadsAtTheLimitAndIsRefusedOneByteBelow) {
    const TBoundaryCase& c = GetParam();
    const Bytes file = c.File();
    {
        TLimitGuard limit(c.Need);
        auto picture = c.Make();
        EXPECT_EQ(MessageOf(*picture, file).Id, -1);
    }
    {
        TLimitGuard limit(c.Need - 1);
        auto picture = c.Make();
        EXPECT_TRUE(test::IsMessage(MessageOf(*picture, file), SPictureTooLarge));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Formats, LimitBoundary,
    testing::Values(
        // 12 grey columns pad to 12 bytes a row; the decoder's own bitmap doubles it.
        TBoundaryCase{"Png", Maker<TPngPicture>(), [] { return FullPng(12, 10); }, 2 * 120},
        TBoundaryCase{"Tiff8", Maker<TTifPicture>(),
                      [] { return BytesOf(Tiff(10, 6, 8, std::string(60, '\x40'))); }, 12 * 6},
        // Two rows of 8 bytes (6 padded) and 24 bytes of 16-bit samples.
        TBoundaryCase{"Tiff16", Maker<TTifPicture>(),
                      [] { return BytesOf(Tiff(6, 2, 16, std::string(24, '\x10'))); }, 8 * 2 + 24},
        TBoundaryCase{"Psd", Maker<TPePsdPicture>(), [] { return Psd(10, 6, 120); }, 12 * 6},
        TBoundaryCase{"Bmp", Maker<TBmpPicture>(), [] { return Bmp(10, 6, 72); }, 12 * 6},
        // Our encoder writes colour: rows of 48 bytes, twice over.
        TBoundaryCase{"Jpeg", Maker<TJpgPicture>(), [] { return Jpeg(16, 8, 16, 8); }, 2 * 48 * 8}),
    [](const testing::TestParamInfo<TBoundaryCase>& info) { return info.param.Name; });

TEST(PictureMemoryLimit, ProgressiveJpegCoefficientsCountAgainstTheLimit) {
    const Bytes file = ProgressiveJpeg(256, 256);
    // The raster and the decode's bitmap, then 64 coefficients of 2 bytes for each block of
    // luma (32 × 32) and of the two 2:1 subsampled chroma components (16 × 16 each).
    const std::uint64_t pixels = 2 * 256 * 256 * 3;
    const std::uint64_t coefficients = (32 * 32 + 2 * 16 * 16) * 128;
    {
        TLimitGuard limit(pixels + coefficients - 1);
        TJpgPicture picture;
        EXPECT_TRUE(test::IsMessage(MessageOf(picture, file), SPictureTooLarge));
    }
    TLimitGuard limit(pixels + coefficients);
    TJpgPicture picture;
    EXPECT_EQ(MessageOf(picture, file).Id, -1);
}

TEST(PictureMemoryLimit, NewPicturesObeyTheLimit) {
    TLimitGuard limit(32 * 32);
    TBmpPicture picture;
    EXPECT_NO_THROW(picture.New(32, 32, pkGray256));
    EXPECT_THROW(picture.New(32, 33, pkGray256), EPixError);
    EXPECT_THROW(picture.New(32, 32, pkTrueColor), EPixError);
}

}  // namespace
}  // namespace pix
