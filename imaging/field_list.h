// SPDX-License-Identifier: MIT
// A picture's header fields, kept as TIFF directory entries sorted by tag.
#pragma once

#include "imaging/mapped_memory.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace pix {

// TIFF field types; 13 is IFD.
enum : std::uint16_t {
    ftByte = 1,
    ftAscii = 2,
    ftShort = 3,
    ftLong = 4,
    ftRational = 5,
    ftSByte = 6,
    ftUndefined = 7,
    ftSShort = 8,
    ftSLong = 9,
    ftSRational = 10,
    ftFloat = 11,
    ftDouble = 12,
    ftIfd = 13,
};

// One directory entry. The first four members are the 12-byte TIFF entry (after byte-order
// conversion); Value holds the values themselves, left-justified in host order, when the
// data size is at most 4 bytes, else the file offset the data came from. Data holds the
// values when the data size exceeds 4 bytes. Data is shared between copies of an entry
// (GetField hands out a reference, not a copy).
struct TFieldEntry {
    std::uint16_t Tag = 0;
    std::uint16_t FieldType = 0;
    std::uint32_t Count = 0;
    std::uint32_t Value = 0;
    std::shared_ptr<TLwMappedMemory> Data;

    // The bytes of the values: Data when present, else the Value bytes, limited to the
    // entry's data size.
    const std::uint8_t* ValueBytes() const;
};

// Element size in bytes of a field type; 0 for unknown types.
std::uint32_t FieldTypeSize(std::uint16_t fieldType);
// Count × element size in 32 bits (wrapping as the stored format's 32-bit arithmetic does);
// 0 for an unknown type.
std::uint32_t FieldDataSize(const TFieldEntry& entry);
// The same size without wrapping, for bounds checks on untrusted entries.
std::uint64_t FieldDataSize64(const TFieldEntry& entry);

// The 72 known tags in ascending order.
extern const std::uint16_t KnownTags[72];
bool IsKnownTag(std::uint16_t tag);

// Replaces the seven Mac OS Roman bytes of Ä Ö Ü ä ö ü ß by their Windows-1252 codes.
std::string MacUmlautsToAnsi(std::string_view text);

class TFieldList {
public:
    void Clear() { FItems.clear(); }
    int Count() const { return static_cast<int>(FItems.size()); }
    const TFieldEntry& Items(int index) const { return FItems.at(static_cast<std::size_t>(index)); }
    TFieldEntry& Items(int index) { return FItems.at(static_cast<std::size_t>(index)); }

    // Appends without sorting, as a directory loader does; call SortByTag afterwards.
    void Add(TFieldEntry entry) { FItems.push_back(std::move(entry)); }
    // Stable ascending sort by unsigned tag.
    void SortByTag();
    int IndexOfTag(std::uint16_t tag) const;
    // Copies the entry into `out` when present (Data shared) and returns its index, else -1
    // with `out` untouched.
    int GetField(std::uint16_t tag, TFieldEntry& out) const;
    // Replaces the entry of the tag or inserts it in order; takes the Data block over.
    void SetField(TFieldEntry entry);
    bool DeleteField(std::uint16_t tag);
    void SetShort(std::uint16_t tag, std::uint16_t value);
    void SetLong(std::uint16_t tag, std::uint32_t value);
    bool GetRational(std::uint16_t tag, std::uint32_t& numerator, std::uint32_t& denominator) const;
    void SetRational(std::uint16_t tag, std::uint32_t numerator, std::uint32_t denominator);
    // The text of an ASCII entry, ending at its first NUL or at its Count, whichever comes
    // first; empty when absent or not ASCII.
    std::string GetAscii(std::uint16_t tag) const;
    // Throws EPixError(STagAsciiNeeded) when the tag is held with another type.
    void SetAscii(std::uint16_t tag, std::string_view text);

private:
    std::vector<TFieldEntry> FItems;
};

}  // namespace pix
