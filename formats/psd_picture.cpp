// SPDX-License-Identifier: MIT
#include "formats/psd_picture.h"

#include "platform/byte_order.h"
#include "platform/code_page.h"
#include "platform/error.h"
#include "platform/mul_div.h"
#include "platform/res_strings.h"
#include "platform/resources.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace pix {
namespace {

// Header fields: little-endian signed 16-bit values at these offsets.
constexpr std::size_t kOffWidth = 2;
constexpr std::size_t kOffHeight = 4;
constexpr std::size_t kOffWindowLow = 6;
constexpr std::size_t kOffWindowHigh = 8;
constexpr std::size_t kOffRampBase = 28;
constexpr std::size_t kOffRampLast = 30;  // not in the file: the reader notes its last index
constexpr std::size_t kOffRampLevels = 32;
// The comment: a length byte, then up to 64 characters in the OEM code page.
constexpr std::size_t kOffComment = 104;
constexpr std::size_t kMaxComment = 64;

constexpr int kMaxGrey = 4095;

// Overlay code (sample >> 12) to palette index. Code 0 is no overlay; index 13 is unused.
constexpr std::array<std::uint8_t, 16> kOverlayIndex = {0, 0, 1, 2,  3,  4,  5,  6,
                                                        7, 8, 9, 10, 11, 12, 14, 15};

std::int16_t Field(const std::array<std::uint8_t, kPsdHeaderSize>& header, std::size_t at) {
    return static_cast<std::int16_t>(LoadLE16(header.data() + at));
}

// n / d rounded (halves up) to 40 significant bits, as Mantissa / 2^Shift with
// 2^39 <= Mantissa <= 2^40. Worked in integers so that no intermediate rounding can move
// a step of the ramp.
struct TScale {
    std::uint64_t Mantissa;
    int Shift;
};

TScale ScaleFactor(std::uint32_t n, std::uint32_t d) {
    using U128 = unsigned __int128;
    // The smallest shift that lifts n / d to at least 2^39; n < 2^15 and d <= 2^16 keep it
    // below 56, so the mantissa times a 12-bit value stays inside 64 bits.
    int k = 0;
    while ((U128{n} << k) < (U128{d} << 39)) ++k;
    const U128 twice = (U128{n} << (k + 1)) + d;  // 2 n 2^k + d over 2 d: n 2^k / d + 1/2
    return TScale{static_cast<std::uint64_t>(twice / (U128{2} * d)), k};
}

// Sample word to palette index for all 65536 words, so the row loop is one look-up per
// pixel: the grey table repeated for code 0, the code's overlay colour for the others.
std::vector<std::uint8_t> SampleTable(const TPsdTranslation& grey, bool overlays) {
    std::vector<std::uint8_t> table(65536);
    for (unsigned code = 0; code < 16; ++code) {
        std::uint8_t* block = table.data() + code * 4096;
        if (code == 0 || !overlays)
            std::memcpy(block, grey.data(), grey.size());
        else
            std::memset(block, kOverlayIndex[code], 4096);
    }
    return table;
}

std::optional<std::array<RGBQUAD, 256>> LoadPalette() {
    const auto bytes = FindResource("VEXA_PAL", kRtRcData);
    if (!bytes || bytes->size() != 256 * sizeof(RGBQUAD)) return std::nullopt;
    std::array<RGBQUAD, 256> table;
    std::memcpy(table.data(), bytes->data(), bytes->size());
    return table;
}

}  // namespace

TPsdTranslation BuildPsdTranslation(int low, int high, int base, int levels) {
    if (low < 0 || low > kMaxGrey || high < low) throw EPixError(SInvalidPsdFormat);
    const int n = std::max(levels, 1);
    const auto b = static_cast<unsigned>(base) & 0xFF;
    const TScale f =
        ScaleFactor(static_cast<std::uint32_t>(n), static_cast<std::uint32_t>(high - low + 1));

    TPsdTranslation t;
    std::fill(t.begin(), t.begin() + low, static_cast<std::uint8_t>(b));
    int i = low;
    std::uint64_t v = 0;
    while (i <= kMaxGrey && v < static_cast<std::uint64_t>(n)) {
        t[i] = static_cast<std::uint8_t>((b + v) & 0xFF);
        ++i;
        // The exact product f × (i - low), truncated.
        v = (f.Mantissa * static_cast<std::uint64_t>(i - low)) >> f.Shift;
    }
    std::fill(t.begin() + i, t.end(), static_cast<std::uint8_t>((b + unsigned(n) - 1) & 0xFF));
    return t;
}

std::uint8_t PsdOverlayIndex(unsigned code) { return kOverlayIndex[code & 15]; }

const std::array<RGBQUAD, 256>& VexaPalette() {
    // Read once: the resource never changes while the program runs.
    static const std::optional<std::array<RGBQUAD, 256>> palette = LoadPalette();
    if (!palette) throw EPixError(SPsdPaletteNotFound);
    return *palette;
}

void TPePsdPicture::ReadFileHeader(TStream& stream) {
    FHeader.fill(0);
    stream.ReadBuffer(FHeader.data(), kPsdHeaderSize);
    if (LoadLE16(FHeader.data()) != kPsdMagic) throw EPixError(SInvalidPsdFormat);
}

std::int64_t TPePsdPicture::ReadHeader(TStream& stream, std::unique_ptr<TDibInfo>& info) {
    // A load straight from a stream, without the file header, finds no magic here.
    if (LoadLE16(FHeader.data()) != kPsdMagic) throw EPixError(SInvalidPsdFormat);
    const int width = Field(FHeader, kOffWidth);
    const int height = Field(FHeader, kOffHeight);
    const int low = Field(FHeader, kOffWindowLow);
    const int high = Field(FHeader, kOffWindowHigh);
    // A negative height means top-down rows; a negative width means nothing.
    if (width <= 0 || height == 0) throw EPixError(SInvalidPsdFormat);
    if (low < 0 || low > kMaxGrey || high < low) throw EPixError(SInvalidPsdFormat);

    // The samples must all be there before any pixel memory is made for them.
    const std::uint64_t rows = static_cast<std::uint64_t>(height < 0 ? -height : height);
    const std::uint64_t sampleBytes = rows * static_cast<std::uint64_t>(width) * 2;
    const std::int64_t position = stream.Position();
    const std::int64_t size = stream.Size();
    if (position > size || static_cast<std::uint64_t>(size - position) < sampleBytes)
        throw EStreamError(SReadError);

    const std::array<RGBQUAD, 256>& palette = VexaPalette();
    auto record = std::make_unique<TDibInfo>(40 + sizeof palette);
    BITMAPINFOHEADER& hdr = record->Header();
    hdr.biSize = 40;
    hdr.biWidth = width;
    hdr.biHeight = height;
    hdr.biPlanes = 1;
    hdr.biBitCount = 8;
    hdr.biSizeImage = static_cast<std::uint32_t>(pix::ImageSize(hdr));
    std::memcpy(record->Colors(), palette.data(), sizeof palette);
    FPaletteKind = PaletteKindOfInfo(record->Get());
    info = std::move(record);
    return 0;
}

void TPePsdPicture::ReadBits(TStream& stream) {
    const int width = Field(FHeader, kOffWidth);
    const int height = Field(FHeader, kOffHeight);
    const int base = Field(FHeader, kOffRampBase) & 0xFF;
    const int levels = std::max<int>(Field(FHeader, kOffRampLevels), 1);
    const std::vector<std::uint8_t> table =
        SampleTable(BuildPsdTranslation(Field(FHeader, kOffWindowLow),
                                        Field(FHeader, kOffWindowHigh), base, levels),
                    FOverlayMapping);
    StoreLE16(FHeader.data() + kOffRampLast,
              static_cast<std::uint16_t>((base + levels - 1) & 0xFF));

    const int rows = height < 0 ? -height : height;
    // The section was made from this header; anything else would send rows past its end.
    if (!FBitmap || FBitmap->BitCount() != 8 || FBitmap->Width() != width ||
        FBitmap->Height() != rows)
        throw EPixError(SInvalidPsdFormat);
    const std::size_t rowBytes = static_cast<std::size_t>(width) * 2;
    // A stream that holds its bytes in memory (the mapped file) gives its rows in place;
    // any other one is read row by row.
    const std::span<const std::uint8_t> view = RemainingBytes(stream);
    const bool inPlace = !view.empty();
    if (inPlace && view.size() / rowBytes < static_cast<std::size_t>(rows))
        throw EStreamError(SReadError);
    std::vector<std::uint8_t> rowBuffer(inPlace ? 0 : rowBytes);

    int lastPercent = -1;
    int reported = 0;  // rows finished at the last report
    int done = 0;
    for (int s = 0; s < rows; ++s) {
        if (s % 16 == 15) {
            const int percent = MulDiv(100, s, rows - 1);
            if (percent > lastPercent) {
                Progress(reported, s - reported, percent);
                reported = s;
                lastPercent = percent;
            }
        }
        const std::uint8_t* src;
        if (inPlace) {
            src = view.data() + static_cast<std::size_t>(s) * rowBytes;
        } else {
            stream.ReadBuffer(rowBuffer.data(), static_cast<std::int64_t>(rowBytes));
            src = rowBuffer.data();
        }
        // File row s is picture row s from the top, in a bottom-up or a top-down section.
        std::uint8_t* dst = FBitmap->Row(s);
        for (int x = 0; x < width; ++x) dst[x] = table[LoadLE16(src + 2 * x)];
        done = s + 1;
        if (LoadCancelled()) break;
    }
    Progress(reported, done - reported, 100);

    const std::size_t length = std::min<std::size_t>(FHeader[kOffComment], kMaxComment);
    if (length != 0) {
        const std::string oem(reinterpret_cast<const char*>(FHeader.data() + kOffComment + 1),
                              length);
        SetDescription(OemToAnsi(oem));
    }
}

void TPePsdPicture::WriteFileHeader(TStream&) {}

void TPePsdPicture::WriteData(TStream&, bool) {}

}  // namespace pix
