// SPDX-License-Identifier: MIT
#include "tiff/tiff_reader.h"

#include "imaging/mapped_memory.h"
#include "platform/byte_order.h"
#include "platform/error.h"
#include "platform/res_strings.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <unordered_set>
#include <vector>

namespace pix {

namespace {

constexpr std::uint16_t kTiffVersion = 42;
constexpr std::uint32_t kCompressionNone = 1;
constexpr std::uint32_t kCompressionLzw = 5;

// One IFD entry on disk: tag, type, count, value or offset.
constexpr std::uint64_t kEntrySize = 12;
// A chain longer than this is not a real multi-image file but a crafted one.
constexpr int kMaxIfdChain = 1 << 20;

std::uint16_t Load16(const std::uint8_t* p, bool bigEndian) {
    return bigEndian ? LoadBE16(p) : LoadLE16(p);
}
std::uint32_t Load32(const std::uint8_t* p, bool bigEndian) {
    return bigEndian ? LoadBE32(p) : LoadLE32(p);
}

// The whole content of a stream that keeps its bytes in memory, so strips can be used in
// place; empty for any other stream.
std::span<const std::uint8_t> WholeBytes(TStream& stream) {
    if (auto* mapped = dynamic_cast<TLwMappedStream*>(&stream)) return mapped->Bytes();
    if (auto* memory = dynamic_cast<TMemoryStream*>(&stream)) return memory->Data();
    if (auto* span = dynamic_cast<TSpanStream*>(&stream)) return span->Data();
    return {};
}

// Reads exactly `count` bytes at `offset`, or returns false; never throws for a range
// outside the stream.
bool ReadAt(TStream& stream, std::uint64_t offset, void* buffer, std::uint64_t count) {
    const std::int64_t size = stream.Size();
    if (size < 0 || offset > static_cast<std::uint64_t>(size) ||
        count > static_cast<std::uint64_t>(size) - offset)
        return false;
    stream.Seek(static_cast<std::int64_t>(offset), soFromBeginning);
    return stream.Read(buffer, static_cast<std::int64_t>(count)) ==
           static_cast<std::int64_t>(count);
}

// Converts the 4 value bytes of an entry into host order by its type: an offset or a
// LONG-sized value as one 32-bit number, SHORT values as two 16-bit halves, bytes as stored.
std::uint32_t ConvertValue(const std::uint8_t* raw, const TFieldEntry& entry, bool bigEndian) {
    std::uint32_t value = 0;
    if (FieldDataSize64(entry) > 4) return Load32(raw, bigEndian);
    switch (entry.FieldType) {
        case ftShort:
        case ftSShort: {
            const std::uint16_t halves[2] = {Load16(raw, bigEndian), Load16(raw + 2, bigEndian)};
            std::memcpy(&value, halves, 4);
            return value;
        }
        case ftLong:
        case ftSLong:
        case ftFloat:
        case ftIfd:
            return Load32(raw, bigEndian);
        default:
            std::memcpy(&value, raw, 4);
            return value;
    }
}

// Turns the elements of a big-endian data block into host order, in place.
void SwapBlock(TLwMappedMemory& block, std::uint16_t fieldType) {
    std::uint8_t* p = block.Bytes();
    const auto size = static_cast<std::size_t>(block.Size());
    std::size_t element;
    switch (fieldType) {
        case ftShort:
        case ftSShort:
            element = 2;
            break;
        case ftLong:
        case ftSLong:
        case ftFloat:
        case ftIfd:
        case ftRational:  // two 32-bit words per value
        case ftSRational:
            element = 4;
            break;
        case ftDouble:
            element = 8;
            break;
        default:
            return;
    }
    for (std::size_t i = 0; i + element <= size; i += element) std::reverse(p + i, p + i + element);
}

// A short text counts as held in the entry itself when it ends in NUL at its last byte and
// has no control characters before it.
bool IsValidShortText(const std::uint8_t* bytes, std::uint32_t size) {
    if (bytes[size - 1] != 0) return false;
    for (std::uint32_t i = 0; i + 1 < size; ++i)
        if (bytes[i] < 0x20) return false;
    return true;
}

// Element `index` of an entry read by its stored type (BYTE, SHORT, LONG and their signed
// and undefined kin); false when the entry holds no such element.
bool ElementOf(const TFieldEntry& entry, std::uint32_t index, std::uint32_t& out) {
    const std::uint32_t size = FieldTypeSize(entry.FieldType);
    if (index >= entry.Count || (size != 1 && size != 2 && size != 4)) return false;
    const std::uint64_t dataSize = FieldDataSize64(entry);
    const std::uint64_t held =
        entry.Data ? static_cast<std::uint64_t>(entry.Data->Size()) : (dataSize <= 4 ? 4 : 0);
    const std::uint64_t end = (std::uint64_t{index} + 1) * size;
    if (end > held) return false;
    const std::uint8_t* p = entry.ValueBytes() + std::uint64_t{index} * size;
    if (size == 1) {
        out = *p;
    } else if (size == 2) {
        std::uint16_t v;
        std::memcpy(&v, p, 2);
        out = v;
    } else {
        std::memcpy(&out, p, 4);
    }
    return true;
}

const TFieldEntry* FindField(const TFieldList& fields, std::uint16_t tag) {
    const int index = fields.IndexOfTag(tag);
    return index < 0 ? nullptr : &fields.Items(index);
}

// The single value of a tag: its first element by stored type, 0 when it has none.
std::uint32_t FirstValue(const TFieldEntry& entry) {
    std::uint32_t value = 0;
    return ElementOf(entry, 0, value) ? value : 0;
}

// Strip offsets or byte counts: one value from the entry itself when its count is 0 or 1,
// two SHORTs from the entry itself, or 16- or 32-bit elements of its data block.
class TStripList {
public:
    TStripList(const TFieldEntry& entry, const TResString& missingBlockMessage) : FEntry(entry) {
        FWide = entry.FieldType == ftLong || entry.FieldType == ftSLong;
        if (entry.Count <= 1) {
            FCount = 1;
        } else if (FieldDataSize64(entry) <= 4) {
            FCount = 2;
        } else {
            if (!entry.Data) throw EPixError(missingBlockMessage);
            // A block of an odd type may hold fewer elements of this width than its count.
            const std::uint64_t elements =
                static_cast<std::uint64_t>(entry.Data->Size()) / (FWide ? 4 : 2);
            FCount = std::min<std::uint64_t>(entry.Count, elements);
            FInBlock = true;
        }
    }
    std::uint64_t Count() const { return FCount; }
    std::uint32_t At(std::uint64_t i) const {
        if (FInBlock) {
            const std::uint8_t* p = FEntry.Data->Bytes() + i * (FWide ? 4 : 2);
            if (FWide) {
                std::uint32_t v;
                std::memcpy(&v, p, 4);
                return v;
            }
            std::uint16_t v;
            std::memcpy(&v, p, 2);
            return v;
        }
        if (FCount == 1 && FWide) return FEntry.Value;
        std::uint16_t halves[2];
        std::memcpy(halves, &FEntry.Value, 4);
        return halves[i & 1];
    }

private:
    const TFieldEntry& FEntry;
    std::uint64_t FCount = 0;
    bool FWide = false;
    bool FInBlock = false;
};

// Progress of the strip loop: after each strip whose whole-number percentage rose, with the
// band of rows stored since the last report.
class TStripProgress {
public:
    TStripProgress(TDibPicture& picture, std::uint64_t rows) : FPicture(picture), FRows(rows) {}
    void Stored(std::uint64_t rowsDone) {
        const auto percent = static_cast<int>(rowsDone * 100 / FRows);
        if (percent <= FLastPercent) return;
        FPicture.Progress(static_cast<int>(FFirst), static_cast<int>(rowsDone - FFirst), percent);
        FFirst = rowsDone;
        FLastPercent = percent;
    }

private:
    TDibPicture& FPicture;
    std::uint64_t FRows;
    std::uint64_t FFirst = 0;
    int FLastPercent = -1;
};

// Horizontal differencing undone: each sample gets the same sample of the pixel before it
// added, modulo 256. `step` is the bytes per pixel (1 or 3). The running sums stay in
// registers: reading each back from the row just written would wait for the store.
void UndoPredictor(std::uint8_t* row, std::size_t bytes, std::size_t step) {
    if (bytes <= step) return;
    if (step == 1) {
        std::uint8_t sum = row[0];
        for (std::size_t i = 1; i < bytes; ++i)
            row[i] = sum = static_cast<std::uint8_t>(sum + row[i]);
        return;
    }
    std::uint8_t r = row[0], g = row[1], b = row[2];
    std::size_t i = 3;
    for (; i + 3 <= bytes; i += 3) {
        row[i] = r = static_cast<std::uint8_t>(r + row[i]);
        row[i + 1] = g = static_cast<std::uint8_t>(g + row[i + 1]);
        row[i + 2] = b = static_cast<std::uint8_t>(b + row[i + 2]);
    }
    // A row cut inside a pixel keeps the samples it has.
    if (i < bytes) row[i] = static_cast<std::uint8_t>(r + row[i]);
    if (i + 1 < bytes) row[i + 1] = static_cast<std::uint8_t>(g + row[i + 1]);
}

// The file stores red, green, blue; the bitmap blue, green, red.
void SwapRedBlue(std::uint8_t* row, std::size_t bytes) {
    for (std::size_t i = 0; i + 3 <= bytes; i += 3) std::swap(row[i], row[i + 2]);
}

}  // namespace

void ReadTiffHeader(TStream& stream, bool& bigEndian) {
    std::uint8_t header[8];
    // A file too short for a header is not a TIFF file, whatever its first bytes.
    if (stream.Read(header, 8) != 8) throw EPixError(SInvalidTiffIdentifier);
    if (header[0] == 0x49 && header[1] == 0x49)
        bigEndian = false;
    else if (header[0] == 0x4D && header[1] == 0x4D)
        bigEndian = true;
    else
        throw EPixError(SInvalidTiffIdentifier);
    if (Load16(header + 2, bigEndian) != kTiffVersion) throw EPixError(SInvalidTiffIdentifier);
    const std::uint32_t first = Load32(header + 4, bigEndian);
    // An offset past the end names a directory that is not there either.
    if (first == 0 || static_cast<std::int64_t>(first) >= stream.Size())
        throw EPixError(SMissingIfdEntry);
    stream.Seek(first, soFromBeginning);
}

std::int64_t ReadDirectory(TStream& stream, TFieldList& fields, bool bigEndian) {
    const std::int64_t start = stream.Position();
    const std::int64_t size = stream.Size();
    std::uint8_t countBytes[2];
    stream.ReadBuffer(countBytes, 2);
    const std::uint16_t declared = Load16(countBytes, bigEndian);
    // A directory cut by the end of the file keeps the entries it still holds whole.
    const std::uint64_t room =
        static_cast<std::uint64_t>(std::max<std::int64_t>(size - start - 2, 0));
    const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(declared, room / kEntrySize));
    std::vector<std::uint8_t> raw(n * kEntrySize);
    stream.ReadBuffer(raw.data(), static_cast<std::int64_t>(raw.size()));

    std::vector<TFieldEntry> entries;
    entries.reserve(n);
    std::vector<bool> keep;
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint8_t* e = raw.data() + i * kEntrySize;
        TFieldEntry entry;
        entry.Tag = Load16(e, bigEndian);
        entry.FieldType = Load16(e + 2, bigEndian);
        entry.Count = Load32(e + 4, bigEndian);
        entry.Value = ConvertValue(e + 8, entry, bigEndian);
        const std::uint16_t t = entry.FieldType;
        if (t == ftByte || t == ftAscii || t == ftSByte || IsKnownTag(entry.Tag))
            entries.push_back(std::move(entry));
    }
    std::stable_sort(entries.begin(), entries.end(),
                     [](const TFieldEntry& a, const TFieldEntry& b) { return a.Tag < b.Tag; });

    // The next-IFD offset; a truncated one or one outside the file ends the chain.
    std::int64_t next = 0;
    const std::uint64_t nextAt = static_cast<std::uint64_t>(start) + 2 + declared * kEntrySize;
    std::uint8_t nextBytes[4];
    if (n == declared && ReadAt(stream, nextAt, nextBytes, 4)) {
        next = Load32(nextBytes, bigEndian);
        if (next >= size) next = 0;
    }

    keep.assign(entries.size(), true);
    for (std::size_t k = 0; k < entries.size(); ++k) {
        TFieldEntry& entry = entries[k];
        const std::uint64_t dataSize = FieldDataSize64(entry);
        if (dataSize > 4) {
            // Data outside the file is dropped with its entry (below), as unknown tags are:
            // a broken private or descriptive tag should not cost the picture. The size is
            // checked against the file before anything is allocated for it.
            if (entry.Value > static_cast<std::uint64_t>(size) ||
                dataSize > static_cast<std::uint64_t>(size) - entry.Value) {
                keep[k] = false;
                continue;
            }
            auto block = std::make_shared<TLwMappedMemory>(static_cast<std::int64_t>(dataSize));
            stream.Seek(entry.Value, soFromBeginning);
            stream.ReadBuffer(block->Bytes(), static_cast<std::int64_t>(dataSize));
            if (bigEndian) SwapBlock(*block, entry.FieldType);
            entry.Data = std::move(block);
        } else if (entry.FieldType == ftAscii && entry.Count > 0) {
            // Some writers put the offset of a short text where the text belongs.
            const auto textSize = static_cast<std::uint32_t>(dataSize);
            std::uint8_t bytes[4];
            std::memcpy(bytes, &entry.Value, 4);
            if (IsValidShortText(bytes, textSize)) continue;
            std::uint8_t text[4] = {0, 0, 0, 0};
            if (ReadAt(stream, Load32(bytes, bigEndian), text, textSize) && text[textSize - 1] == 0)
                std::memcpy(&entry.Value, text, 4);
        }
    }
    for (std::size_t k = 0; k < entries.size(); ++k)
        if (keep[k]) fields.Add(std::move(entries[k]));
    fields.SortByTag();
    return next;
}

std::uint32_t BuildTiffImageInfo(const TFieldList& fields, std::unique_ptr<TDibInfo>& info) {
    const TFieldEntry* width = FindField(fields, tagImageWidth);
    if (!width) throw EPixError(SMissingImageWidth);
    const TFieldEntry* height = FindField(fields, tagImageLength);
    if (!height) throw EPixError(SMissingImageHeight);
    // Without the tag the TIFF default applies: no compression.
    const TFieldEntry* compressionField = FindField(fields, tagCompression);
    const std::uint32_t compression =
        compressionField ? FirstValue(*compressionField) : kCompressionNone;
    switch (compression) {
        case kCompressionNone:
        case kCompressionLzw:
            break;
        case 2:
            throw EPixError(SCcittNotSupported);
        case 3:
            throw EPixError(SFax3NotSupported);
        case 4:
            throw EPixError(SFax4NotSupported);
        case 6:
            throw EPixError(SJpegCompressionNotSupported);
        case 32773:
            throw EPixError(SPackbitsNotSupported);
        default:
            throw EPixError(SUnknownCompression);
    }
    if (const auto* f = FindField(fields, tagFillOrder); f && FirstValue(*f) != 1)
        throw EPixError(SFillOrderNotSupported);
    if (const auto* f = FindField(fields, tagPlanarConfiguration); f && FirstValue(*f) != 1)
        throw EPixError(SPlanarNotSupported);
    // The entry's own 32 bits: beyond one or two values they are an offset, never 0.
    if (const auto* f = FindField(fields, tagExtraSamples); f && f->Value != 0)
        throw EPixError(SExtraSamplesNotSupported);
    const TFieldEntry* tileWidth = FindField(fields, tagTileWidth);
    const TFieldEntry* tileLength = FindField(fields, tagTileLength);
    if ((tileWidth && FirstValue(*tileWidth) != 0) || (tileLength && FirstValue(*tileLength) != 0))
        throw EPixError(STiledNotSupported);
    const TFieldEntry* offsets = FindField(fields, tagStripOffsets);
    if (!offsets) throw EPixError(SMissingStripOffsets);
    if (offsets->Count > 1) {
        const TFieldEntry* counts = FindField(fields, tagStripByteCounts);
        if (!counts) throw EPixError(SMissingStripByteCounts);
        if (counts->Count != offsets->Count) throw EPixError(SInvalidStripData);
    }
    const TFieldEntry* photometricField = FindField(fields, tagPhotometric);
    const std::uint32_t photometric = photometricField ? FirstValue(*photometricField) : 1;
    switch (photometric) {
        case 4:
            throw EPixError(STransparencyMaskNotSupported);
        case 5:
            throw EPixError(SCmykNotSupported);
        case 6:
            throw EPixError(SYCbCrNotSupported);
        case 8:
            throw EPixError(SCieLabNotSupported);
        default:
            break;
    }
    // Without the tag the TIFF default applies: one sample of 1 bit. libtiff leaves the
    // tag out of the bilevel files it writes.
    const TFieldEntry defaultBits{tagBitsPerSample, ftShort, 1, 1, nullptr};
    const TFieldEntry* bitsField = FindField(fields, tagBitsPerSample);
    if (!bitsField) bitsField = &defaultBits;

    int bitCount = 0;
    int samples = 1;
    // Table entries as red, green, blue; empty for 24 bits.
    std::vector<RGBQUAD> table;
    bool grey236 = false;
    bool inverted = false;
    if (bitsField->Count == 1) {
        const std::uint32_t bps = FirstValue(*bitsField);
        switch (bps) {
            case 1:
            case 4:
            case 8:
                bitCount = static_cast<int>(bps);
                break;
            case 16:
                if (compression == kCompressionLzw) throw EPixError(SLzw16NotSupported);
                bitCount = 8;
                grey236 = true;
                break;
            default:
                throw EPixError(STiffFormatNotSupported);
        }
        if (photometric == 0 || photometric == 1) {
            inverted = photometric == 0;
            if (!grey236) {
                const unsigned n = 1u << bitCount;
                table.resize(n);
                for (unsigned i = 0; i < n; ++i) {
                    const auto g = static_cast<std::uint8_t>(i * 255 / (n - 1));
                    const auto v = inverted ? static_cast<std::uint8_t>(255 - g) : g;
                    table[i] = RGBQUAD{v, v, v, 0};
                }
            }
        } else if (photometric == 3) {
            if (bps == 1) throw EPixError(SInvalidColorInformation);
            // A palette of 65536 colours cannot become the table of an 8-bit bitmap.
            if (bps == 16) throw EPixError(SPalette16NotSupported);
            const TFieldEntry* colorMap = FindField(fields, tagColorMap);
            if (!colorMap) throw EPixError(SMissingColorMap);
            // The map holds n reds, then n greens, then n blues; a short map leaves the
            // remaining entries black, a long one is cut to the table's 2^bits entries.
            const unsigned size = 1u << bitCount;
            const std::uint32_t n = colorMap->Count / 3;
            table.assign(size, RGBQUAD{0, 0, 0, 0});
            for (std::uint32_t i = 0; i < std::min<std::uint32_t>(n, size); ++i) {
                std::uint32_t r = 0, g = 0, b = 0;
                ElementOf(*colorMap, i, r);
                ElementOf(*colorMap, n + i, g);
                ElementOf(*colorMap, 2 * n + i, b);
                table[i] = RGBQUAD{static_cast<std::uint8_t>((b >> 8) & 0xFF),
                                   static_cast<std::uint8_t>((g >> 8) & 0xFF),
                                   static_cast<std::uint8_t>((r >> 8) & 0xFF), 0};
            }
        } else {
            throw EPixError(SPhotometricNotSupported);
        }
    } else {
        if (bitsField->Count != 3) throw EPixError(SRgbSamplesPerPixel);
        for (std::uint32_t i = 0; i < 3; ++i) {
            std::uint32_t bps = 0;
            if (!ElementOf(*bitsField, i, bps) || bps != 8) throw EPixError(SRgbBitsPerSample);
        }
        if (const auto* f = FindField(fields, tagSamplesPerPixel); f && FirstValue(*f) != 3)
            throw EPixError(SRgbSamplesPerPixel);
        if (photometric != 2) throw EPixError(SInvalidColorInformation);
        bitCount = 24;
        samples = 3;
    }
    // Signed or floating-point samples would pass every check above and show as noise.
    if (const auto* f = FindField(fields, tagSampleFormat)) {
        for (std::uint32_t i = 0; i < static_cast<std::uint32_t>(samples); ++i) {
            std::uint32_t format = 1;
            if (ElementOf(*f, i, format) && format != 1) throw EPixError(SSampleFormatNotSupported);
        }
    }

    const std::uint32_t w = FirstValue(*width);
    const std::uint32_t h = FirstValue(*height);
    if (w == 0 || h == 0 || w > INT32_MAX || h > INT32_MAX)
        throw EPixError(SInvalidImageSize, static_cast<int>(std::min<std::uint32_t>(w, INT32_MAX)),
                        static_cast<int>(std::min<std::uint32_t>(h, INT32_MAX)));
    const std::uint64_t imageSize = DibBytesPerLine(w, bitCount) * h;
    const std::uint64_t samplesSize = grey236 ? std::uint64_t{w} * h * 2 : 0;
    if (imageSize > kMaxImageSize || samplesSize > kMaxImageSize)
        throw EPixError(SImageTooLarge, static_cast<int>(w), static_cast<int>(h));
    CheckPictureMemory(imageSize + samplesSize);

    const std::size_t entries = bitCount <= 8 ? (std::size_t{1} << bitCount) : 0;
    auto record = std::make_unique<TDibInfo>(40 + 4 * entries);
    BITMAPINFOHEADER& header = record->Header();
    header.biSize = 40;
    header.biWidth = static_cast<std::int32_t>(w);
    header.biHeight = static_cast<std::int32_t>(h);
    header.biPlanes = 1;
    header.biBitCount = static_cast<std::uint16_t>(bitCount);
    header.biCompression = BI_RGB;
    if (grey236) {
        if (inverted)
            FillSystemInvGrayTable(record->Colors());
        else
            FillSystemGrayTable(record->Colors());
    } else if (!table.empty()) {
        std::memcpy(record->Colors(), table.data(), table.size() * sizeof(RGBQUAD));
    }
    info = std::move(record);
    return compression;
}

// The picture's size and the strip rows, as both the strip check and the strip reader see
// them. Width or height 0 leaves nothing to read.
struct TStripLayout {
    std::uint64_t Width = 0;
    std::uint64_t Height = 0;
    std::uint64_t RowBytes = 0;  // one row in the file
    std::uint64_t RowsPerStrip = 0;
};

TStripLayout StripLayout(const BITMAPINFOHEADER& header, const TFieldList& fields, bool samples16) {
    TStripLayout layout;
    layout.Width = static_cast<std::uint64_t>(header.biWidth < 0 ? 0 : header.biWidth);
    const std::int64_t signedHeight = header.biHeight;
    layout.Height = static_cast<std::uint64_t>(signedHeight < 0 ? -signedHeight : signedHeight);
    layout.RowBytes = samples16
                          ? layout.Width * 2
                          : (layout.Width * static_cast<std::uint64_t>(header.biBitCount) + 7) / 8;
    layout.RowsPerStrip = layout.Height;
    if (const auto* f = FindField(fields, tagRowsPerStrip)) {
        const std::uint32_t v = FirstValue(*f);
        // 0 would never advance; 0xFFFFFFFF and anything past the height mean one strip.
        if (v != 0 && v < layout.Height) layout.RowsPerStrip = v;
    }
    return layout;
}

void CheckStripData(TStream& stream, const TDibInfo& info, const TFieldList& fields, bool samples16,
                    std::uint32_t compression) {
    const TStripLayout layout = StripLayout(info.Header(), fields, samples16);
    const std::uint64_t height = layout.Height;
    if (layout.Width == 0 || height == 0) return;
    const std::uint64_t rowBytes = layout.RowBytes;
    const std::uint64_t rowsPerStrip = layout.RowsPerStrip;
    const TFieldEntry* offsetsField = FindField(fields, tagStripOffsets);
    if (!offsetsField) throw EPixError(SMissingStripOffsets);
    const TStripList offsets(*offsetsField, SInvalidStripOffsets);
    const TFieldEntry* countsField = FindField(fields, tagStripByteCounts);
    std::unique_ptr<TStripList> counts;
    if (countsField) counts = std::make_unique<TStripList>(*countsField, SInvalidStripByteCounts);
    const std::uint64_t fileSize =
        static_cast<std::uint64_t>(std::max<std::int64_t>(stream.Size(), 0));

    // The most image bytes the strips inside the file can produce, walked as ReadStrips
    // walks them: an uncompressed strip gives at most its bytes in the file; an LZW strip at
    // most kMaxLzwExpansion times its input, as every code takes 9 bits or more and stands
    // for at most 4096 bytes.
    constexpr std::uint64_t kMaxLzwExpansion = 4096 * 8 / 9 + 1;
    const std::uint64_t needTotal = height * rowBytes;
    std::uint64_t deliverable = 0;
    std::uint64_t row = 0;
    for (std::uint64_t i = 0; i < offsets.Count() && row < height; ++i) {
        const std::uint64_t rows = std::min(rowsPerStrip, height - row);
        const std::uint64_t need = rows * rowBytes;
        const std::uint64_t offset = offsets.At(i);
        row += rows;
        if (compression == kCompressionNone) {
            if (offset >= fileSize) throw EPixError(SStripOutsideFile);
            deliverable += std::min(need, fileSize - offset);
        } else {
            const std::uint64_t byteCount =
                counts && i < counts->Count() ? counts->At(i) : height * rowBytes;
            if (byteCount == 0) continue;
            if (offset >= fileSize) throw EPixError(SStripOutsideFile);
            const std::uint64_t input = std::min(byteCount, fileSize - offset);
            deliverable += std::min(need, input * kMaxLzwExpansion);
        }
    }
    // A file cut short still shows the rows it holds; one that could not fill even half the
    // picture declares a size its data does not back, and is refused before the picture's
    // memory is made.
    if (deliverable < needTotal / 2) throw EPixError(SStripDataMissing);
}

void ReadStrips(TStream& stream, const TDibInfo& info, const TFieldList& fields,
                TDibPicture& picture, std::uint16_t* samples16, std::uint8_t* bits,
                std::uint32_t compression, bool bigEndian) {
    const BITMAPINFOHEADER& header = info.Header();
    const TStripLayout layout = StripLayout(header, fields, samples16 != nullptr);
    const std::uint64_t width = layout.Width;
    const std::uint64_t height = layout.Height;
    if (width == 0 || height == 0) return;
    const int bitCount = header.biBitCount;
    // Bytes of one row in the file, and in the bitmap (padded to 4 bytes).
    const std::uint64_t rowBytes = layout.RowBytes;
    const std::uint64_t stride = DibBytesPerLine(static_cast<std::int64_t>(width), bitCount);
    const std::uint64_t rowsPerStrip = layout.RowsPerStrip;
    const TFieldEntry* predictorField = FindField(fields, tagPredictor);
    const bool predictor = compression == kCompressionLzw && predictorField &&
                           FirstValue(*predictorField) == 2 && (bitCount == 8 || bitCount == 24) &&
                           !samples16;

    if (compression != kCompressionNone && compression != kCompressionLzw)
        throw EPixError(SUnknownCompression);
    const TFieldEntry* offsetsField = FindField(fields, tagStripOffsets);
    if (!offsetsField) throw EPixError(SMissingStripOffsets);
    const TStripList offsets(*offsetsField, SInvalidStripOffsets);
    const TFieldEntry* countsField = FindField(fields, tagStripByteCounts);
    std::unique_ptr<TStripList> counts;
    if (countsField) counts = std::make_unique<TStripList>(*countsField, SInvalidStripByteCounts);

    const std::span<const std::uint8_t> whole = WholeBytes(stream);
    const std::uint64_t fileSize =
        static_cast<std::uint64_t>(std::max<std::int64_t>(stream.Size(), 0));
    const bool inPlace = whole.size() == fileSize && fileSize > 0;

    // Rows the file does not deliver are 0. The section starts zeroed; the sample store (a
    // heap block when small) does not, so its rows are cleared as the loop passes them and,
    // however the loop ends, behind the last row written.
    struct TZeroRest {
        std::uint16_t* Samples;
        std::uint64_t Width, Height, From = 0;
        void Upto(std::uint64_t row) {
            if (Samples && row > From)
                std::memset(Samples + From * Width, 0,
                            static_cast<std::size_t>((row - From) * Width * 2));
            From = std::max(From, row);
        }
        ~TZeroRest() { Upto(Height); }
    } zeroRest{samples16, width, height};

    std::vector<std::uint8_t> stripBuffer;
    std::vector<std::uint8_t> inputBuffer;
    TStripProgress progress(picture, height);
    std::uint64_t row = 0;
    for (std::uint64_t i = 0; i < offsets.Count() && row < height; ++i) {
        const std::uint64_t rows = std::min(rowsPerStrip, height - row);
        const std::uint64_t need = rows * rowBytes;
        const std::uint64_t offset = offsets.At(i);
        std::span<const std::uint8_t> data;
        if (compression == kCompressionNone) {
            if (offset >= fileSize) throw EPixError(SStripOutsideFile);
            // A file cut inside its last strip gives the rows it still holds.
            const std::uint64_t available = std::min(need, fileSize - offset);
            if (inPlace) {
                data = whole.subspan(static_cast<std::size_t>(offset),
                                     static_cast<std::size_t>(available));
            } else {
                stripBuffer.resize(static_cast<std::size_t>(available));
                stream.Seek(static_cast<std::int64_t>(offset), soFromBeginning);
                stream.ReadBuffer(stripBuffer.data(), static_cast<std::int64_t>(available));
                data = stripBuffer;
            }
        } else {
            const std::uint64_t byteCount =
                counts && i < counts->Count() ? counts->At(i) : height * rowBytes;
            std::span<const std::uint8_t> input;
            if (byteCount > 0) {
                if (offset >= fileSize) throw EPixError(SStripOutsideFile);
                const std::uint64_t available = std::min(byteCount, fileSize - offset);
                if (inPlace) {
                    input = whole.subspan(static_cast<std::size_t>(offset),
                                          static_cast<std::size_t>(available));
                } else {
                    inputBuffer.resize(static_cast<std::size_t>(available));
                    stream.Seek(static_cast<std::int64_t>(offset), soFromBeginning);
                    stream.ReadBuffer(inputBuffer.data(), static_cast<std::int64_t>(available));
                    input = inputBuffer;
                }
            }
            stripBuffer.resize(static_cast<std::size_t>(need));
            std::size_t produced = 0;
            if (!DecodeLzwStrip(input, stripBuffer, produced)) throw EPixError(SInvalidLzwCode);
            // A strip that ends early leaves the rest of its rows 0.
            std::fill(stripBuffer.begin() + static_cast<std::ptrdiff_t>(produced),
                      stripBuffer.end(), std::uint8_t{0});
            data = stripBuffer;
        }

        for (std::uint64_t r = 0; r < rows && r * rowBytes < data.size(); ++r) {
            // A whole image may be one strip: a stopped load ends within it.
            if ((r & 255) == 255 && picture.LoadCancelled()) return;
            const std::uint8_t* src = data.data() + r * rowBytes;
            const auto n = static_cast<std::size_t>(std::min(rowBytes, data.size() - r * rowBytes));
            const std::uint64_t fileRow = row + r;
            if (samples16) {
                zeroRest.Upto(fileRow);
                std::uint16_t* dst = samples16 + fileRow * width;
                if (n < rowBytes) std::memset(dst, 0, static_cast<std::size_t>(rowBytes));
                zeroRest.From = fileRow + 1;
                if (bigEndian == (std::endian::native == std::endian::big))
                    std::memcpy(dst, src, n & ~std::size_t{1});
                else if (bigEndian)
                    for (std::size_t x = 0; x < n / 2; ++x) dst[x] = LoadBE16(src + 2 * x);
                else
                    for (std::size_t x = 0; x < n / 2; ++x) dst[x] = LoadLE16(src + 2 * x);
                continue;
            }
            // File row 0 is the top row, which a bottom-up bitmap keeps last.
            std::uint8_t* dst = bits + (height - 1 - fileRow) * stride;
            std::memcpy(dst, src, n);
            if (predictor) UndoPredictor(dst, n, bitCount == 24 ? 3 : 1);
            if (bitCount == 24) SwapRedBlue(dst, n);
        }
        row += rows;
        progress.Stored(row);
        if (picture.LoadCancelled()) return;
    }
}

bool DecodeLzwStrip(std::span<const std::uint8_t> in, std::span<std::uint8_t> out,
                    std::size_t& produced) {
    constexpr std::uint32_t kClear = 256;
    constexpr std::uint32_t kEndOfInformation = 257;
    constexpr std::uint32_t kFirstFree = 258;
    constexpr std::uint32_t kTableSize = 4096;
    constexpr int kMaxWidth = 12;
    produced = 0;
    // Old-style strips pack their codes least-significant bit first, so their leading Clear
    // code comes out as these two bytes; read the new way they would decode to noise.
    if (in.size() >= 2 && in[0] == 0 && (in[1] & 1)) return false;

    // Every string of the table is a stretch of the output already written: a new entry is
    // the previous string followed by the first byte of the current one, which was written
    // right after it. So an entry is just where that stretch starts and how long it is, and
    // decoding a code copies bytes from earlier in the output.
    struct TEntry {
        std::uint32_t Pos;
        std::uint32_t Len;
    };
    TEntry table[kTableSize];

    std::uint8_t* const dst = out.data();
    // Positions are kept in 32 bits; no strip buffer comes near that.
    const std::size_t cap = std::min<std::size_t>(out.size(), UINT32_MAX);
    const std::uint8_t* const src = in.data();
    const std::size_t inSize = in.size();
    std::size_t ip = 0;
    std::size_t op = 0;
    std::uint64_t bitBuffer = 0;
    int held = 0;
    int width = 9;
    std::uint32_t mask = (1u << width) - 1;
    std::uint32_t nextFree = kFirstFree;
    bool havePrevious = false;
    std::size_t previousPos = 0;
    std::uint32_t previousLen = 0;

    for (;;) {
        if (held < width) {
            // Codes are read most significant bit first: new bytes go below the held bits.
            if (inSize - ip >= 4) {
                bitBuffer = (bitBuffer << 32) | LoadBE32(src + ip);
                ip += 4;
                held += 32;
            } else {
                while (held < width && ip < inSize) {
                    bitBuffer = (bitBuffer << 8) | src[ip++];
                    held += 8;
                }
                if (held < width) break;  // input used up without End of Information
            }
        }
        held -= width;
        const std::uint32_t code = static_cast<std::uint32_t>(bitBuffer >> held) & mask;

        if (code == kClear) {
            width = 9;
            mask = (1u << width) - 1;
            nextFree = kFirstFree;
            havePrevious = false;
            continue;
        }
        if (code == kEndOfInformation) break;
        if (code > nextFree) {
            produced = op;
            return false;
        }
        if (op == cap) break;  // the strip is full; whatever follows belongs to no row
        const std::size_t pos = op;
        std::uint32_t len;
        if (code < kClear) {
            dst[op++] = static_cast<std::uint8_t>(code);
            len = 1;
        } else if (!havePrevious) {
            // After a Clear only a literal can follow: the table holds nothing else yet.
            produced = op;
            return false;
        } else {
            std::size_t from;
            if (code < nextFree) {
                from = table[code].Pos;
                len = table[code].Len;
            } else {
                // The code being defined: the previous string and its own first byte.
                from = previousPos;
                len = previousLen + 1;
            }
            const std::size_t room = cap - op;
            if (len <= 16 && room >= 16 && code < nextFree) {
                // Short strings: one fixed-size copy through a temporary. The bytes past
                // `len` are overwritten by the strings that follow; those past the end of
                // the decoded data are left for the caller to clear.
                std::uint8_t t[16];
                std::memcpy(t, dst + from, 16);
                std::memcpy(dst + op, t, 16);
                op += len;
            } else if (code < nextFree) {
                const std::size_t n = std::min<std::size_t>(len, room);
                std::memcpy(dst + op, dst + from, n);
                op += n;
                if (n < len) break;
            } else {
                const std::size_t n = std::min<std::size_t>(previousLen, room);
                std::memcpy(dst + op, dst + from, n);
                op += n;
                if (n < previousLen || op == cap) break;
                dst[op++] = dst[from];
            }
        }
        if (havePrevious && nextFree < kTableSize) {
            table[nextFree] = TEntry{static_cast<std::uint32_t>(previousPos), previousLen + 1};
            ++nextFree;
            // Early change: the width grows one code before the table needs it.
            if (nextFree == mask && width < kMaxWidth) {
                ++width;
                mask = (1u << width) - 1;
            }
        }
        havePrevious = true;
        previousPos = pos;
        previousLen = len;
    }
    produced = op;
    return true;
}

int CountTiffImages(TStream& stream) {
    bool bigEndian = false;
    ReadTiffHeader(stream, bigEndian);
    const std::int64_t size = stream.Size();
    std::int64_t at = stream.Position();
    std::unordered_set<std::int64_t> visited;
    int count = 0;
    try {
        while (at > 0 && at < size && count < kMaxIfdChain && visited.insert(at).second) {
            std::uint8_t bytes[4];
            if (!ReadAt(stream, static_cast<std::uint64_t>(at), bytes, 2)) break;
            const std::uint16_t n = Load16(bytes, bigEndian);
            // An image counts only with its whole entry table in the file: a file cut short
            // (still being written, or copied short) shows the images it holds whole.
            const std::uint64_t tableEnd = static_cast<std::uint64_t>(at) + 2 + n * kEntrySize;
            if (tableEnd > static_cast<std::uint64_t>(size)) break;
            ++count;
            if (!ReadAt(stream, tableEnd, bytes, 4)) break;
            at = Load32(bytes, bigEndian);
        }
    } catch (const EPixError&) {
        // A read error after the header ends the walk with the images counted so far.
    }
    return count;
}

}  // namespace pix
