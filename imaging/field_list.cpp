// SPDX-License-Identifier: MIT
#include "imaging/field_list.h"

#include "platform/error.h"
#include "platform/res_strings.h"

#include <algorithm>
#include <cstring>

namespace pix {

// The baseline and extension tags of TIFF 6.0 from 254 to 532, without DocumentName (269)
// and TileOffsets (324), plus Copyright. The reader keeps numeric fields only of these.
const std::uint16_t KnownTags[72] = {
    254, 255, 256,    // NewSubfileType, SubfileType, ImageWidth
    257, 258, 259,    // ImageLength, BitsPerSample, Compression
    262, 263, 264,    // PhotometricInterpretation, Threshholding, CellWidth
    265, 266, 270,    // CellLength, FillOrder, ImageDescription
    271, 272, 273,    // Make, Model, StripOffsets
    274, 277, 278,    // Orientation, SamplesPerPixel, RowsPerStrip
    279, 280, 281,    // StripByteCounts, MinSampleValue, MaxSampleValue
    282, 283, 284,    // XResolution, YResolution, PlanarConfiguration
    285, 286, 287,    // PageName, XPosition, YPosition
    288, 289, 290,    // FreeOffsets, FreeByteCounts, GrayResponseUnit
    291, 292, 293,    // GrayResponseCurve, T4Options, T6Options
    296, 297, 301,    // ResolutionUnit, PageNumber, TransferFunction
    305, 306, 315,    // Software, DateTime, Artist
    316, 317, 318,    // HostComputer, Predictor, WhitePoint
    319, 320, 321,    // PrimaryChromaticities, ColorMap, HalftoneHints
    322, 323, 325,    // TileWidth, TileLength, TileByteCounts
    332, 333, 334,    // InkSet, InkNames, NumberOfInks
    336, 337, 338,    // DotRange, TargetPrinter, ExtraSamples
    339, 340, 341,    // SampleFormat, SMinSampleValue, SMaxSampleValue
    342, 512, 513,    // TransferRange, JPEGProc, JPEGInterchangeFormat
    514, 515, 517,    // JPEGInterchangeFormatLength, JPEGRestartInterval, JPEGLosslessPredictors
    518, 519, 520,    // JPEGPointTransforms, JPEGQTables, JPEGDCTables
    521, 529, 530,    // JPEGACTables, YCbCrCoefficients, YCbCrSubSampling
    531, 532, 33432,  // YCbCrPositioning, ReferenceBlackWhite, Copyright
};

namespace {

// Binary search over tags sorted ascending. It stops as soon as the sought tag is below
// the lowest candidate, so an empty range needs no special case inside the loop.
template <typename TagAt>
int SearchTag(int count, std::uint16_t tag, TagAt tagAt) {
    int lo = 0;
    int hi = count - 1;
    while (lo <= hi) {
        const int mid = (lo + hi) / 2;
        const std::uint16_t current = tagAt(mid);
        if (tag < current) {
            if (mid == lo) return -1;
            hi = mid;
        } else if (tag > current) {
            lo = mid + 1;
        } else {
            return mid;
        }
    }
    return -1;
}

std::shared_ptr<TLwMappedMemory> NewBlock(std::size_t size) {
    return std::make_shared<TLwMappedMemory>(static_cast<std::int64_t>(size));
}

}  // namespace

const std::uint8_t* TFieldEntry::ValueBytes() const {
    return Data ? Data->Bytes() : reinterpret_cast<const std::uint8_t*>(&Value);
}

std::uint32_t FieldTypeSize(std::uint16_t fieldType) {
    switch (fieldType) {
        case ftByte:
        case ftAscii:
        case ftSByte:
        case ftUndefined:
            return 1;
        case ftShort:
        case ftSShort:
            return 2;
        case ftLong:
        case ftSLong:
        case ftFloat:
        case ftIfd:
            return 4;
        case ftRational:
        case ftSRational:
        case ftDouble:
            return 8;
        default:
            return 0;
    }
}

std::uint32_t FieldDataSize(const TFieldEntry& entry) {
    return entry.Count * FieldTypeSize(entry.FieldType);
}

std::uint64_t FieldDataSize64(const TFieldEntry& entry) {
    return std::uint64_t{entry.Count} * FieldTypeSize(entry.FieldType);
}

bool IsKnownTag(std::uint16_t tag) {
    return SearchTag(72, tag, [](int i) { return KnownTags[i]; }) >= 0;
}

std::string MacUmlautsToAnsi(std::string_view text) {
    std::string result(text);
    for (char& c : result) {
        switch (static_cast<std::uint8_t>(c)) {
            case 0x80:
                c = static_cast<char>(0xC4);
                break;  // Ä
            case 0x85:
                c = static_cast<char>(0xD6);
                break;  // Ö
            case 0x86:
                c = static_cast<char>(0xDC);
                break;  // Ü
            case 0x8A:
                c = static_cast<char>(0xE4);
                break;  // ä
            case 0x9A:
                c = static_cast<char>(0xF6);
                break;  // ö
            case 0x9F:
                c = static_cast<char>(0xFC);
                break;  // ü
            case 0xA7:
                c = static_cast<char>(0xDF);
                break;  // ß
            default:
                break;
        }
    }
    return result;
}

void TFieldList::SortByTag() {
    std::stable_sort(FItems.begin(), FItems.end(),
                     [](const TFieldEntry& a, const TFieldEntry& b) { return a.Tag < b.Tag; });
}

int TFieldList::IndexOfTag(std::uint16_t tag) const {
    return SearchTag(Count(), tag,
                     [this](int i) { return FItems[static_cast<std::size_t>(i)].Tag; });
}

int TFieldList::GetField(std::uint16_t tag, TFieldEntry& out) const {
    const int index = IndexOfTag(tag);
    if (index >= 0) out = FItems[static_cast<std::size_t>(index)];
    return index;
}

void TFieldList::SetField(TFieldEntry entry) {
    // A type without an element size has no data, so a block would never be read.
    if (FieldTypeSize(entry.FieldType) == 0) entry.Data.reset();
    const int index = IndexOfTag(entry.Tag);
    if (index >= 0) {
        FItems[static_cast<std::size_t>(index)] = std::move(entry);
        return;
    }
    FItems.push_back(std::move(entry));
    SortByTag();
}

bool TFieldList::DeleteField(std::uint16_t tag) {
    const int index = IndexOfTag(tag);
    if (index < 0) return false;
    FItems.erase(FItems.begin() + index);
    return true;
}

void TFieldList::SetShort(std::uint16_t tag, std::uint16_t value) {
    SetField({tag, ftShort, 1, value, nullptr});
}

void TFieldList::SetLong(std::uint16_t tag, std::uint32_t value) {
    SetField({tag, ftLong, 1, value, nullptr});
}

bool TFieldList::GetRational(std::uint16_t tag, std::uint32_t& numerator,
                             std::uint32_t& denominator) const {
    const int index = IndexOfTag(tag);
    if (index < 0) return false;
    const TFieldEntry& entry = FItems[static_cast<std::size_t>(index)];
    if (entry.FieldType != ftRational || !entry.Data || entry.Data->Size() < 8) return false;
    std::memcpy(&numerator, entry.Data->Bytes(), 4);
    std::memcpy(&denominator, entry.Data->Bytes() + 4, 4);
    return true;
}

void TFieldList::SetRational(std::uint16_t tag, std::uint32_t numerator,
                             std::uint32_t denominator) {
    auto block = NewBlock(8);
    std::memcpy(block->Bytes(), &numerator, 4);
    std::memcpy(block->Bytes() + 4, &denominator, 4);
    SetField({tag, ftRational, 1, 0, std::move(block)});
}

std::string TFieldList::GetAscii(std::uint16_t tag) const {
    const int index = IndexOfTag(tag);
    if (index < 0) return {};
    const TFieldEntry& entry = FItems[static_cast<std::size_t>(index)];
    if (entry.FieldType != ftAscii) return {};
    const char* text;
    std::size_t limit;
    if (entry.Count < 5) {
        text = reinterpret_cast<const char*>(&entry.Value);
        limit = entry.Count;
    } else {
        // A file may claim more characters than the block it came with holds.
        if (!entry.Data) return {};
        text = reinterpret_cast<const char*>(entry.Data->Bytes());
        limit = static_cast<std::size_t>(
            std::min<std::uint64_t>(entry.Count, static_cast<std::uint64_t>(entry.Data->Size())));
    }
    const void* nul = std::memchr(text, '\0', limit);
    return std::string(
        text, nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - text) : limit);
}

void TFieldList::SetAscii(std::uint16_t tag, std::string_view text) {
    const int index = IndexOfTag(tag);
    if (index >= 0 && FItems[static_cast<std::size_t>(index)].FieldType != ftAscii)
        throw EPixError(STagAsciiNeeded);
    if (text.size() >= UINT32_MAX) throw EPixError(SNotEnoughMemory);
    TFieldEntry entry{tag, ftAscii, static_cast<std::uint32_t>(text.size() + 1), 0, nullptr};
    if (entry.Count < 5) {
        // Up to three characters and their NUL fit the entry itself.
        std::memcpy(&entry.Value, text.data(), text.size());
    } else {
        entry.Data = NewBlock(entry.Count);
        std::memcpy(entry.Data->Bytes(), text.data(), text.size());
        entry.Data->Bytes()[text.size()] = 0;
    }
    SetField(std::move(entry));
}

}  // namespace pix
