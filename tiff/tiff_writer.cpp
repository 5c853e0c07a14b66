// SPDX-License-Identifier: MIT
#include "tiff/tiff_writer.h"

#include "imaging/mapped_memory.h"
#include "platform/byte_order.h"
#include "platform/error.h"
#include "platform/mul_div.h"
#include "platform/res_strings.h"
#include "tiff/tiff_reader.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace pix {

// Values and data blocks of a field list are in host order, and the file is little-endian:
// both are written as they lie in memory.
static_assert(std::endian::native == std::endian::little,
              "the TIFF writer copies host-order field data into a little-endian file");

namespace {

// Offsets inside a classic TIFF file are 32 bits wide.
constexpr std::uint64_t kMaxTiffOffset = 0xFFFFFFFF;

enum TPhotometric : std::uint16_t {
    phWhiteIsZero = 0,
    phBlackIsZero = 1,
    phRgb = 2,
    phPalette = 3,
};

// How the pixels go into the file.
struct TLayout {
    std::uint16_t Photometric = phBlackIsZero;
    int FileBits = 8;         // bits per pixel in the file
    bool Expand1To4 = false;  // 1-bit pixels written as 4-bit palette indices
};

// Tags copied into the new directory with a fresh copy of their data; every tag from 65000
// on (the acquisition system's private tags among them) is copied as well.
bool IsCopiedTag(std::uint16_t tag) {
    switch (tag) {
        case tagImageDescription:
        case tagMake:
        case tagModel:
        case tagXPosition:
        case tagYPosition:
        case tagSoftware:
        case tagDateTime:
        case tagArtist:
        case tagCopyright:
            return true;
        default:
            return tag >= 65000;
    }
}

bool IsGrey(const RGBQUAD& c, int level) {
    return c.rgbRed == level && c.rgbGreen == level && c.rgbBlue == level;
}

// The colour-table entry `i`, black past the end of the record's table.
RGBQUAD TableEntry(const TDibInfo& info, unsigned i) {
    return i < info.TableEntries() ? info.Colors()[i] : RGBQUAD{0, 0, 0, 0};
}

// +1 for the rising grey ramp of 2^bits entries (entry i = i × 255 / (n − 1)), −1 for the
// falling one, 0 for any other table. These are exactly the tables the reader gives
// BlackIsZero and WhiteIsZero images, so either reads back with the same colours.
int GreyRampDirection(const TDibInfo& info, int bits) {
    const unsigned n = 1u << bits;
    bool rising = true;
    bool falling = true;
    for (unsigned i = 0; i < n && (rising || falling); ++i) {
        const RGBQUAD c = TableEntry(info, i);
        const int level = static_cast<int>(i * 255 / (n - 1));
        rising = rising && IsGrey(c, level);
        falling = falling && IsGrey(c, 255 - level);
    }
    return rising ? 1 : falling ? -1 : 0;
}

// True when the table holds the inverted 236-level grey between its static colours, the
// table the reader gives WhiteIsZero 16-bit images.
bool IsInvertedGray236(const TDibInfo& info) {
    if (info.TableEntries() < 256) return false;
    for (int k = 0; k < 236; ++k)
        if (!IsGrey(info.Colors()[10 + k], 255 - MulDiv(k, 255, 235))) return false;
    return true;
}

TLayout ChooseLayout(const TDibInfo& info, int bits) {
    TLayout layout;
    layout.FileBits = bits;
    switch (bits) {
        case 24:
            layout.Photometric = phRgb;
            break;
        case 16:
            layout.Photometric = IsInvertedGray236(info) ? phWhiteIsZero : phBlackIsZero;
            break;
        default: {
            const int ramp = GreyRampDirection(info, bits);
            if (ramp != 0) {
                layout.Photometric = ramp > 0 ? phBlackIsZero : phWhiteIsZero;
            } else {
                layout.Photometric = phPalette;
                // TIFF readers (ours among them) take no 1-bit palette images; the two
                // colours become the first entries of a 16-colour palette instead.
                if (bits == 1) {
                    layout.FileBits = 4;
                    layout.Expand1To4 = true;
                }
            }
            break;
        }
    }
    return layout;
}

std::shared_ptr<TLwMappedMemory> NewBlock(std::uint64_t size) {
    return std::make_shared<TLwMappedMemory>(static_cast<std::int64_t>(size));
}

// ColorMap: 2^bits red values, then green, then blue, each component × 256 (the reader
// divides by 256). Entries past the picture's table are black.
TFieldEntry MakeColorMap(const TDibInfo& info, int fileBits) {
    const unsigned n = 1u << fileBits;
    auto block = NewBlock(std::uint64_t{n} * 3 * 2);
    std::uint8_t* out = block->Bytes();
    for (unsigned i = 0; i < n; ++i) {
        const RGBQUAD c = TableEntry(info, i);
        const std::uint16_t rgb[3] = {c.rgbRed, c.rgbGreen, c.rgbBlue};
        for (unsigned plane = 0; plane < 3; ++plane)
            StoreLE16(out + 2 * (plane * n + i), static_cast<std::uint16_t>(rgb[plane] * 256));
    }
    return {tagColorMap, ftShort, 3 * n, 0, std::move(block)};
}

// A copy of a picture's entry that owns its own data block of exactly Count × element size
// bytes. A block shorter than that (which no file reader makes) is completed with zeros.
// Entries whose data cannot be written truthfully are left out: unknown types, and data of
// more than 4 bytes whose block is gone.
bool CopyEntry(const TFieldEntry& source, TFieldEntry& copy) {
    if (FieldTypeSize(source.FieldType) == 0) return false;
    const std::uint64_t size = FieldDataSize64(source);
    copy = {source.Tag, source.FieldType, source.Count, source.Value, nullptr};
    if (size <= 4) {
        copy.Data.reset();
        return true;
    }
    if (!source.Data) return false;
    if (size > kMaxTiffOffset) throw EPixError(SNotEnoughMemory);
    copy.Data = NewBlock(size);
    const std::uint64_t available = std::min<std::uint64_t>(
        size, static_cast<std::uint64_t>(std::max<std::int64_t>(source.Data->Size(), 0)));
    if (available > 0) std::memcpy(copy.Data->Bytes(), source.Data->Bytes(), available);
    if (available < size) std::memset(copy.Data->Bytes() + available, 0, size - available);
    return true;
}

void PutEntry(std::vector<std::uint8_t>& out, const TFieldEntry& e, std::uint32_t value) {
    std::uint8_t bytes[12];
    StoreLE16(bytes, e.Tag);
    StoreLE16(bytes + 2, e.FieldType);
    StoreLE32(bytes + 4, e.Count);
    // Inline values are left-justified host-order bytes, which is the file's order here.
    std::memcpy(bytes + 8, &value, 4);
    out.insert(out.end(), bytes, bytes + 12);
}

// Writes the pixel rows, top image row first, without the bitmap's row padding.
void WritePixels(TStream& stream, const std::uint8_t* pixels, const BITMAPINFOHEADER& header,
                 std::uint64_t width, std::uint64_t height, int bits, const TLayout& layout,
                 std::uint64_t rowSize) {
    std::vector<std::uint8_t> row(static_cast<std::size_t>(rowSize));
    if (bits == 16) {
        // The sample store holds width × height samples, top row first, in host order.
        const auto* samples = reinterpret_cast<const std::uint16_t*>(pixels);
        for (std::uint64_t y = 0; y < height; ++y) {
            const std::uint16_t* src = samples + y * width;
            for (std::uint64_t x = 0; x < width; ++x) StoreLE16(row.data() + 2 * x, src[x]);
            stream.WriteBuffer(row.data(), static_cast<std::int64_t>(rowSize));
        }
        return;
    }
    const std::uint64_t stride = DibBytesPerLine(static_cast<std::int64_t>(width), bits);
    // A positive height means bottom-up rows: the top image row is the last in memory.
    const bool bottomUp = header.biHeight > 0;
    for (std::uint64_t y = 0; y < height; ++y) {
        const std::uint8_t* src = pixels + (bottomUp ? height - 1 - y : y) * stride;
        if (bits == 24) {
            for (std::uint64_t x = 0; x < width; ++x) {
                row[3 * x] = src[3 * x + 2];
                row[3 * x + 1] = src[3 * x + 1];
                row[3 * x + 2] = src[3 * x];
            }
        } else if (layout.Expand1To4) {
            std::fill(row.begin(), row.end(), std::uint8_t{0});
            for (std::uint64_t x = 0; x < width; ++x) {
                const unsigned bit = (src[x / 8] >> (7 - x % 8)) & 1u;
                row[x / 2] |= static_cast<std::uint8_t>(bit << (x % 2 == 0 ? 4 : 0));
            }
        } else {
            std::memcpy(row.data(), src, static_cast<std::size_t>(rowSize));
        }
        stream.WriteBuffer(row.data(), static_cast<std::int64_t>(rowSize));
    }
}

}  // namespace

void WriteTiffHeader(TStream& stream) {
    const std::uint8_t header[8] = {0x49, 0x49, 42, 0, 8, 0, 0, 0};
    stream.WriteBuffer(header, sizeof header);
}

void WriteTiffImage(TStream& stream, const void* pixels, const TDibInfo& info, bool another,
                    const TFieldList& fields, int bits) {
    const BITMAPINFOHEADER& header = info.Header();
    if (bits != 16 &&
        (bits != header.biBitCount || (bits != 1 && bits != 4 && bits != 8 && bits != 24)))
        throw EPixError(SDibBitCountFormat, LoadResString(SDibNotSupported).c_str(), bits);
    const std::uint64_t width = static_cast<std::uint64_t>(std::llabs(header.biWidth));
    const std::uint64_t height = static_cast<std::uint64_t>(std::llabs(header.biHeight));
    if (width == 0 || height == 0 || pixels == nullptr)
        throw EPixError(SInvalidImageSize, header.biWidth, header.biHeight);

    const TLayout layout = ChooseLayout(info, bits);
    const std::uint64_t rowSize =
        bits == 16 ? width * 2 : (width * static_cast<std::uint64_t>(layout.FileBits) + 7) / 8;
    const std::uint64_t stripBytes = rowSize * height;  // both factors are below 2^35
    if (stripBytes > kMaxTiffOffset)
        throw EPixError(SImageTooLarge, header.biWidth, header.biHeight);

    // The new directory. StripOffsets gets its value once the data is laid out.
    TFieldList list;
    list.SetLong(tagNewSubfileType, fields.IndexOfTag(tagPageNumber) >= 0 ? 2 : 0);
    list.SetLong(tagImageWidth, static_cast<std::uint32_t>(width));
    list.SetLong(tagImageLength, static_cast<std::uint32_t>(height));
    if (bits == 24) {
        auto block = NewBlock(6);
        for (int i = 0; i < 3; ++i) StoreLE16(block->Bytes() + 2 * i, 8);
        list.SetField({tagBitsPerSample, ftShort, 3, 0, std::move(block)});
        list.SetShort(tagSamplesPerPixel, 3);
        list.SetShort(tagPlanarConfiguration, 1);
    } else {
        list.SetShort(tagBitsPerSample, static_cast<std::uint16_t>(layout.FileBits));
        list.SetShort(tagSamplesPerPixel, 1);
    }
    list.SetShort(tagCompression, 1);
    list.SetShort(tagPhotometric, layout.Photometric);
    list.SetLong(tagStripOffsets, 0);
    list.SetLong(tagRowsPerStrip, static_cast<std::uint32_t>(height));
    list.SetLong(tagStripByteCounts, static_cast<std::uint32_t>(stripBytes));
    std::uint32_t xNum = 72, xDen = 1;
    fields.GetRational(tagXResolution, xNum, xDen);
    std::uint32_t yNum = xNum, yDen = xDen;
    fields.GetRational(tagYResolution, yNum, yDen);
    list.SetRational(tagXResolution, xNum, xDen);
    list.SetRational(tagYResolution, yNum, yDen);
    list.SetShort(tagResolutionUnit, 2);
    if (layout.Photometric == phPalette) list.SetField(MakeColorMap(info, layout.FileBits));

    for (int i = 0; i < fields.Count(); ++i) {
        const TFieldEntry& source = fields.Items(i);
        if (source.Tag != tagPageNumber && !IsCopiedTag(source.Tag)) continue;
        TFieldEntry copy;
        if (CopyEntry(source, copy)) list.SetField(std::move(copy));
    }

    // Layout from the stream position P: the IFD, a pad byte to an even offset, the data
    // blocks (each padded to even), then the strip.
    const std::uint64_t start = static_cast<std::uint64_t>(stream.Position());
    const std::uint64_t entries = static_cast<std::uint64_t>(list.Count());
    std::uint64_t dataStart = start + 2 + 12 * entries + 4;
    dataStart += dataStart & 1;
    std::uint64_t dataSize = 0;
    for (int i = 0; i < list.Count(); ++i) {
        const std::uint64_t size = FieldDataSize64(list.Items(i));
        if (size > 4) dataSize += size + (size & 1);
    }
    const std::uint64_t stripOffset = dataStart + dataSize;
    const std::uint64_t end = stripOffset + stripBytes + (stripBytes & 1);
    if (end > kMaxTiffOffset) throw EPixError(SImageTooLarge, header.biWidth, header.biHeight);
    list.SetLong(tagStripOffsets, static_cast<std::uint32_t>(stripOffset));
    const std::uint32_t nextIfd = another ? static_cast<std::uint32_t>(end) : 0;

    std::vector<std::uint8_t> ifd;
    ifd.reserve(static_cast<std::size_t>(dataStart - start + dataSize));
    ifd.push_back(static_cast<std::uint8_t>(entries));
    ifd.push_back(static_cast<std::uint8_t>(entries >> 8));
    std::uint64_t dataAt = dataStart;
    for (int i = 0; i < list.Count(); ++i) {
        const TFieldEntry& e = list.Items(i);
        const std::uint64_t size = FieldDataSize64(e);
        if (size > 4) {
            PutEntry(ifd, e, static_cast<std::uint32_t>(dataAt));
            dataAt += size + (size & 1);
        } else {
            PutEntry(ifd, e, e.Value);
        }
    }
    std::uint8_t next[4];
    StoreLE32(next, nextIfd);
    ifd.insert(ifd.end(), next, next + 4);
    if ((start + ifd.size()) & 1) ifd.push_back(0);
    for (int i = 0; i < list.Count(); ++i) {
        const TFieldEntry& e = list.Items(i);
        const std::uint64_t size = FieldDataSize64(e);
        if (size <= 4) continue;
        ifd.insert(ifd.end(), e.Data->Bytes(), e.Data->Bytes() + size);
        if (size & 1) ifd.push_back(0);
    }
    stream.WriteBuffer(ifd.data(), static_cast<std::int64_t>(ifd.size()));

    WritePixels(stream, static_cast<const std::uint8_t*>(pixels), header, width, height, bits,
                layout, rowSize);
    if (another && (stripBytes & 1)) {
        const std::uint8_t pad = 0;
        stream.WriteBuffer(&pad, 1);
    }
}

}  // namespace pix
