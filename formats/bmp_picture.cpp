// SPDX-License-Identifier: MIT
#include "formats/bmp_picture.h"

#include "platform/byte_order.h"
#include "platform/error.h"
#include "platform/mul_div.h"
#include "platform/res_strings.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

namespace pix {
namespace {

// biCompression values. 3 and 4 mean Huffman 1D and RLE24 in OS/2 version-2 headers.
constexpr std::uint32_t kBiRgb = 0;
constexpr std::uint32_t kBiRle8 = 1;
constexpr std::uint32_t kBiRle4 = 2;
constexpr std::uint32_t kBiBitfields = 3;
constexpr std::uint32_t kBiAlphaBitfields = 6;

constexpr std::uint16_t kBmpSignature = 0x4D42;  // "BM"
constexpr std::int64_t kFileHeaderSize = 14;
constexpr std::uint32_t kCoreHeaderSize = 12;  // OS/2 1.x: 16-bit sizes, 3-byte colours
constexpr std::size_t kMaxHeaderSize = 124;    // the version-5 header

// A colour channel of 16- and 32-bit pixels: value = (pixel & Mask) >> Shift, 0..Max.
struct TChannel {
    std::uint32_t Mask = 0;
    unsigned Shift = 0;
    std::uint32_t Max = 0;

    std::uint8_t Scale(std::uint32_t pixel) const {
        const std::uint32_t v = (pixel & Mask) >> Shift;
        if (Max == 255) return static_cast<std::uint8_t>(v);
        // Truncating v * 255 / Max, as the common decoders widen 5- and 6-bit channels.
        return static_cast<std::uint8_t>(static_cast<std::uint64_t>(v) * 255 / Max);
    }
};

// A mask must be one run of set bits inside the pixel.
TChannel MakeChannel(std::uint32_t mask, unsigned bits) {
    if (mask == 0) throw EPixError(SBmpInvalidBitfields);
    if (bits < 32 && (mask >> bits) != 0) throw EPixError(SBmpInvalidBitfields);
    TChannel c;
    c.Mask = mask;
    c.Shift = static_cast<unsigned>(std::countr_zero(mask));
    c.Max = mask >> c.Shift;
    if ((c.Max & (c.Max + 1)) != 0) throw EPixError(SBmpInvalidBitfields);
    return c;
}

int OutputBitCount(unsigned sourceBits) {
    switch (sourceBits) {
        case 1:
            return 1;
        case 2:
        case 4:
            return 4;
        case 8:
            return 8;
        default:
            return 24;
    }
}

// Reports progress of a row loop: at most once every 16 rows and only when the percentage
// rose, naming the band of rows finished since the last report; 100 at the end.
class TRowProgress {
public:
    TRowProgress(TDibPicture& picture, std::int64_t rows) : FPicture(picture), FRows(rows) {}

    // `row` (counted from 0 in file order) has just been finished.
    void RowDone(std::int64_t row) {
        // u: rows still unread before this one, this one included (H down to 1).
        const std::int64_t u = FRows - row;
        if (u % 16 != 15) return;
        const int percent =
            MulDiv(100, static_cast<std::int32_t>(FRows - u + 1), static_cast<std::int32_t>(FRows));
        if (percent <= FLastPercent) return;
        Report(row + 1, percent);
    }
    void Finish(std::int64_t rowsDone) { Report(std::max(rowsDone, FFirst), 100); }

private:
    void Report(std::int64_t end, int percent) {
        FPicture.Progress(static_cast<int>(FFirst), static_cast<int>(end - FFirst), percent);
        FFirst = end;
        FLastPercent = percent;
    }

    TDibPicture& FPicture;
    std::int64_t FRows;
    std::int64_t FFirst = 0;
    int FLastPercent = 0;
};

// Writes colour index v at column x of a 4- or 8-bit row.
inline void PutIndex(std::uint8_t* row, int outBits, std::int64_t x, std::uint8_t v) {
    if (outBits == 8) {
        row[x] = v;
        return;
    }
    std::uint8_t& b = row[x >> 1];
    b = (x & 1) ? static_cast<std::uint8_t>((b & 0xF0) | (v & 0x0F))
                : static_cast<std::uint8_t>((b & 0x0F) | (v << 4));
}

}  // namespace

struct TBmpPicture::TLayout {
    // From ReadFileHeader: where the file starts and its pixel offset (relative to it).
    bool HaveFileHeader = false;
    std::int64_t FileStart = 0;
    std::uint32_t OffBits = 0;

    // From ReadHeader.
    std::int64_t PixelOffset = 0;  // stream position of the first pixel byte
    std::int64_t StreamSize = 0;
    std::int64_t Width = 0;
    std::int64_t Height = 0;  // rows, always positive
    bool TopDown = false;
    unsigned SourceBits = 0;
    int OutBits = 0;
    std::uint32_t Compression = kBiRgb;
    std::uint64_t SourceStride = 0;
    TChannel Red, Green, Blue;
};

TBmpPicture::~TBmpPicture() = default;

void TBmpPicture::ReadFileHeader(TStream& stream) {
    if (!FLayout) FLayout = std::make_shared<TLayout>();
    *FLayout = TLayout{};
    FLayout->FileStart = stream.Position();
    std::uint8_t head[kFileHeaderSize];
    // The signature alone first, so that a short non-BMP file still reports the format.
    stream.ReadBuffer(head, 2);
    if (LoadLE16(head) != kBmpSignature) throw EPixError(SInvalidBmpFormat);
    stream.ReadBuffer(head + 2, kFileHeaderSize - 2);
    FLayout->OffBits = LoadLE32(head + 10);
    FLayout->HaveFileHeader = true;
}

std::int64_t TBmpPicture::ReadHeader(TStream& stream, std::unique_ptr<TDibInfo>& info) {
    if (!FLayout) FLayout = std::make_shared<TLayout>();
    TLayout& lay = *FLayout;
    // The file header belongs to this image only; a later load without one must not use it.
    const bool haveFileHeader = lay.HaveFileHeader;
    lay.HaveFileHeader = false;

    const std::int64_t headerStart = stream.Position();
    lay.StreamSize = stream.Size();
    std::uint8_t hdr[kMaxHeaderSize] = {};
    stream.ReadBuffer(hdr, 4);
    const std::uint32_t headerSize = LoadLE32(hdr);
    const bool core = headerSize == kCoreHeaderSize;
    const bool windows = headerSize == 40 || headerSize == 52 || headerSize == 56 ||
                         headerSize == 108 || headerSize == 124;
    // OS/2 version-2 headers may stop after any field from the bit count on.
    const bool os2v2 = !windows && headerSize >= 16 && headerSize <= 64;
    if (!core && !windows && !os2v2) throw EPixError(SBmpHeaderNotSupported, headerSize);
    stream.ReadBuffer(hdr + 4, headerSize - 4);

    std::int64_t width, height;
    unsigned bits;
    std::uint32_t compression = kBiRgb, clrUsed = 0;
    std::int32_t xPels = 0, yPels = 0;
    if (core) {
        width = LoadLE16(hdr + 4);
        height = LoadLE16(hdr + 6);
        bits = LoadLE16(hdr + 10);
    } else {
        width = static_cast<std::int32_t>(LoadLE32(hdr + 4));
        height = static_cast<std::int32_t>(LoadLE32(hdr + 8));
        bits = LoadLE16(hdr + 14);
        compression = LoadLE32(hdr + 16);
        xPels = static_cast<std::int32_t>(LoadLE32(hdr + 24));
        yPels = static_cast<std::int32_t>(LoadLE32(hdr + 28));
        clrUsed = LoadLE32(hdr + 32);
    }
    lay.TopDown = height < 0;
    lay.Width = width;
    lay.Height = height < 0 ? -height : height;
    if (width <= 0 || height == 0)
        throw EPixError(SInvalidImageSize, static_cast<int>(width), static_cast<int>(height));

    // Compression and bit count.
    if (os2v2 && (compression == 3 || compression == 4))
        throw EPixError(SBmpCompressionNotSupported, compression);
    std::int64_t maskBytes = 0;
    switch (compression) {
        case kBiRgb:
            if (bits != 1 && bits != 2 && bits != 4 && bits != 8 && bits != 16 && bits != 24 &&
                bits != 32)
                throw EPixError(SBmpBitCountNotSupported, bits);
            if (bits == 16) {
                lay.Red = MakeChannel(0x7C00, 16);
                lay.Green = MakeChannel(0x03E0, 16);
                lay.Blue = MakeChannel(0x001F, 16);
            } else if (bits == 32) {
                lay.Red = MakeChannel(0xFF0000, 32);
                lay.Green = MakeChannel(0xFF00, 32);
                lay.Blue = MakeChannel(0xFF, 32);
            }
            break;
        case kBiRle8:
        case kBiRle4:
            if (bits != (compression == kBiRle8 ? 8u : 4u)) throw EPixError(SBmpInvalidRle);
            break;
        case kBiBitfields:
        case kBiAlphaBitfields: {
            if (bits != 16 && bits != 32) throw EPixError(SBmpInvalidBitfields);
            std::uint8_t masks[12];
            if (headerSize >= 52) {
                std::memcpy(masks, hdr + 40, sizeof masks);
            } else {
                // After a 40-byte header the masks follow it: red, green, blue (and alpha).
                maskBytes = compression == kBiAlphaBitfields ? 16 : 12;
                stream.ReadBuffer(masks, sizeof masks);
            }
            lay.Red = MakeChannel(LoadLE32(masks), bits);
            lay.Green = MakeChannel(LoadLE32(masks + 4), bits);
            lay.Blue = MakeChannel(LoadLE32(masks + 8), bits);
            if ((lay.Red.Mask & lay.Green.Mask) != 0 || (lay.Red.Mask & lay.Blue.Mask) != 0 ||
                (lay.Green.Mask & lay.Blue.Mask) != 0)
                throw EPixError(SBmpInvalidBitfields);
            break;
        }
        default:
            throw EPixError(SBmpCompressionNotSupported, compression);
    }
    lay.SourceBits = bits;
    lay.Compression = compression;
    lay.OutBits = OutputBitCount(bits);

    const std::uint64_t outStride = DibBytesPerLine(width, lay.OutBits);
    const std::uint64_t imageSize = outStride * static_cast<std::uint64_t>(lay.Height);
    if (lay.Height > INT32_MAX || imageSize > kMaxImageSize)
        throw EPixError(SImageTooLarge, static_cast<int>(width), static_cast<int>(height));

    // Colour table and pixel offset. The stated offset counts from the start of the file;
    // it is used when it lies inside the file and after the headers.
    const std::int64_t tableStart = headerStart + headerSize + maskBytes;
    const std::int64_t entrySize = core ? 3 : 4;
    std::int64_t stated = -1;
    if (haveFileHeader) {
        const std::int64_t off = lay.FileStart + lay.OffBits;
        if (off >= tableStart && off < lay.StreamSize) stated = off;
    }
    const std::int64_t maxEntries = bits <= 8 ? std::int64_t{1} << bits : 0;
    const std::int64_t declared = clrUsed != 0 ? clrUsed : maxEntries;
    std::int64_t entries = std::min(declared, maxEntries);
    const std::int64_t tableEnd = stated >= 0 ? stated : lay.StreamSize;
    entries = std::clamp<std::int64_t>((tableEnd - tableStart) / entrySize, 0, entries);
    if (stated >= 0) {
        lay.PixelOffset = stated;
    } else {
        const std::int64_t afterDeclared = tableStart + declared * entrySize;
        lay.PixelOffset =
            afterDeclared < lay.StreamSize ? afterDeclared : tableStart + entries * entrySize;
    }

    // Uncompressed rows must all be there; the last row may lack its padding.
    if (compression == kBiRle8 || compression == kBiRle4) {
        if (lay.PixelOffset >= lay.StreamSize) throw EPixError(SBmpTruncated);
    } else {
        lay.SourceStride = DibBytesPerLine(width, static_cast<int>(bits));
        const std::uint64_t needed = lay.SourceStride * static_cast<std::uint64_t>(lay.Height - 1) +
                                     (static_cast<std::uint64_t>(width) * bits + 7) / 8;
        if (lay.PixelOffset > lay.StreamSize ||
            needed > static_cast<std::uint64_t>(lay.StreamSize - lay.PixelOffset))
            throw EPixError(SBmpTruncated);
    }

    // The picture's own record: always the 40-byte header, with a full table (entries the
    // file does not give stay black). A top-down file stays top-down, so that file row k
    // is memory row k and a copy saved from the picture has the file's row order.
    const std::size_t tableSize = lay.OutBits <= 8 ? (std::size_t{1} << lay.OutBits) * 4 : 0;
    auto record = std::make_unique<TDibInfo>(40 + tableSize);
    BITMAPINFOHEADER& h = record->Header();
    h.biSize = 40;
    h.biWidth = static_cast<std::int32_t>(width);
    h.biHeight = static_cast<std::int32_t>(lay.TopDown ? -lay.Height : lay.Height);
    h.biPlanes = 1;
    h.biBitCount = static_cast<std::uint16_t>(lay.OutBits);
    h.biCompression = BI_RGB;
    h.biSizeImage = static_cast<std::uint32_t>(imageSize);
    h.biXPelsPerMeter = xPels;
    h.biYPelsPerMeter = yPels;
    if (entries > 0) {
        std::vector<std::uint8_t> table(static_cast<std::size_t>(entries * entrySize));
        stream.Seek(tableStart, soFromBeginning);
        stream.ReadBuffer(table.data(), static_cast<std::int64_t>(table.size()));
        RGBQUAD* colors = record->Colors();
        for (std::int64_t i = 0; i < entries; ++i) {
            const std::uint8_t* e = table.data() + i * entrySize;
            colors[i] = RGBQUAD{e[0], e[1], e[2], 0};
        }
    }
    FPaletteKind = PaletteKindOfInfo(record->Get());
    info = std::move(record);
    return 0;
}

void TBmpPicture::ReadBits(TStream& stream) {
    if (!FLayout || !FBitmap) throw EPixError(SErrCreateDibSection);
    const TLayout& lay = *FLayout;
    TDibSection& section = *FBitmap;
    TRowProgress progress(*this, lay.Height);
    // File row k is picture row k from the bottom, or from the top for top-down files.
    auto destRow = [&](std::int64_t k) {
        return section.Row(static_cast<int>(lay.TopDown ? k : lay.Height - 1 - k));
    };

    if (lay.Compression == kBiRle8 || lay.Compression == kBiRle4) {
        stream.Seek(lay.PixelOffset, soFromBeginning);
        std::span<const std::uint8_t> data = RemainingBytes(stream);
        std::vector<std::uint8_t> copy;
        if (data.empty()) {
            copy.resize(static_cast<std::size_t>(lay.StreamSize - lay.PixelOffset));
            stream.ReadBuffer(copy.data(), static_cast<std::int64_t>(copy.size()));
            data = copy;
        }
        const bool rle4 = lay.Compression == kBiRle4;
        const std::size_t size = data.size();
        std::size_t pos = 0;
        std::int64_t x = 0, y = 0;
        bool ended = false;
        auto put = [&](std::uint8_t v) {
            if (x < lay.Width && y < lay.Height) PutIndex(destRow(y), lay.OutBits, x, v);
            ++x;
        };
        // Moves down to row `to`, reporting the rows left behind as finished.
        auto advanceTo = [&](std::int64_t to) {
            for (; y < to && y < lay.Height; ++y) progress.RowDone(y);
            y = to;
        };
        while (y < lay.Height && !LoadCancelled()) {
            if (size - pos < 2) break;
            const std::uint8_t n = data[pos];
            const std::uint8_t c = data[pos + 1];
            pos += 2;
            if (n > 0) {
                // A run of n pixels; in RLE4 the byte's two nibbles alternate.
                const std::int64_t run =
                    std::min<std::int64_t>(n, std::max<std::int64_t>(0, lay.Width - x));
                for (std::int64_t i = 0; i < run; ++i)
                    put(rle4 ? static_cast<std::uint8_t>((i & 1) ? c & 0x0F : c >> 4) : c);
                x += n - run;
                continue;
            }
            if (c == 0) {  // end of line
                x = 0;
                advanceTo(y + 1);
            } else if (c == 1) {  // end of bitmap
                ended = true;
                break;
            } else if (c == 2) {  // delta: right and down
                if (size - pos < 2) break;
                x += data[pos];
                const std::int64_t down = data[pos + 1];
                pos += 2;
                if (down > 0) advanceTo(y + down);
            } else {  // c literal pixels, padded to a 16-bit boundary
                const std::size_t bytes = rle4 ? (c + 1u) / 2 : c;
                if (size - pos < bytes) {
                    pos = size;
                    break;
                }
                for (unsigned i = 0; i < c; ++i) {
                    const std::uint8_t b = data[pos + (rle4 ? i / 2 : i)];
                    put(rle4 ? static_cast<std::uint8_t>((i & 1) ? b & 0x0F : b >> 4) : b);
                }
                pos += bytes + (bytes & 1);
                pos = std::min(pos, size);
            }
        }
        if (!ended && y < lay.Height && !LoadCancelled()) throw EPixError(SBmpTruncated);
        // Rows after the end of the bitmap keep index 0; they count as read.
        if (!LoadCancelled()) advanceTo(lay.Height);
        progress.Finish(std::min(y, lay.Height));
        return;
    }

    stream.Seek(lay.PixelOffset, soFromBeginning);
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(lay.SourceStride));
    const std::size_t lastRowBytes =
        static_cast<std::size_t>((static_cast<std::uint64_t>(lay.Width) * lay.SourceBits + 7) / 8);
    const std::size_t outRowBytes =
        static_cast<std::size_t>((static_cast<std::uint64_t>(lay.Width) * lay.OutBits + 7) / 8);
    std::int64_t k = 0;
    // Rows already in the picture's format are read straight into the section.
    const bool direct = lay.SourceBits == static_cast<unsigned>(lay.OutBits);
    for (; k < lay.Height && !LoadCancelled(); ++k) {
        const bool last = k == lay.Height - 1;
        std::uint8_t* out = destRow(k);
        if (direct) {
            stream.ReadBuffer(out, static_cast<std::int64_t>(last ? lastRowBytes : outRowBytes));
            progress.RowDone(k);
            if (!last)
                stream.Seek(static_cast<std::int64_t>(lay.SourceStride - outRowBytes),
                            soFromCurrent);
            continue;
        }
        stream.ReadBuffer(buffer.data(),
                          static_cast<std::int64_t>(last ? lastRowBytes : buffer.size()));
        const std::uint8_t* in = buffer.data();
        switch (lay.SourceBits) {
            case 2:
                for (std::int64_t x = 0; x < lay.Width; ++x)
                    PutIndex(out, 4, x,
                             static_cast<std::uint8_t>((in[x >> 2] >> (6 - 2 * (x & 3))) & 3));
                break;
            case 16:
            case 32:
                for (std::int64_t x = 0; x < lay.Width; ++x) {
                    const std::uint32_t p =
                        lay.SourceBits == 16 ? LoadLE16(in + 2 * x) : LoadLE32(in + 4 * x);
                    out[3 * x] = lay.Blue.Scale(p);
                    out[3 * x + 1] = lay.Green.Scale(p);
                    out[3 * x + 2] = lay.Red.Scale(p);
                }
                break;
        }
        progress.RowDone(k);
    }
    progress.Finish(k);
}

void TBmpPicture::WriteFileHeader(TStream& stream) {
    if (!FInfo) throw EPixError(SInvalidImageSize, 0, 0);
    const std::uint64_t infoSize = pix::InfoSize(FInfo->Header());
    const std::uint64_t imageSize = pix::ImageSize(FInfo->Header());
    std::uint8_t head[kFileHeaderSize] = {};
    StoreLE16(head, kBmpSignature);
    StoreLE32(head + 2, static_cast<std::uint32_t>(kFileHeaderSize + infoSize + imageSize));
    StoreLE32(head + 10, static_cast<std::uint32_t>(kFileHeaderSize + infoSize));
    stream.WriteBuffer(head, kFileHeaderSize);
}

void TBmpPicture::WriteData(TStream& stream, bool /*option*/) {
    if (!FInfo || !FBits) throw EPixError(SInvalidImageSize, 0, 0);
    // Header and the table of the picture's bit count; a record shorter than that (which
    // this class never makes) is padded with black entries.
    const std::size_t infoSize = pix::InfoSize(FInfo->Header());
    std::vector<std::uint8_t> record(infoSize, 0);
    std::memcpy(record.data(), FInfo->Get(), std::min(infoSize, FInfo->Size()));
    stream.WriteBuffer(record.data(), static_cast<std::int64_t>(record.size()));

    // Rows in memory order, which is the order the header's sign of height states.
    const std::uint64_t stride = pix::BytesPerLine(FInfo->Header());
    const std::int64_t rows = Height();
    for (std::int64_t r = 0; r < rows; ++r)
        stream.WriteBuffer(FBits + static_cast<std::uint64_t>(r) * stride,
                           static_cast<std::int64_t>(stride));
}

}  // namespace pix
