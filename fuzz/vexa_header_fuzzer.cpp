// The acquisition system's private tags: the microscope header with its point blocks and
// the layout of multi-image files, decoded from a field list made of the input. The first
// byte picks the field type the tags are held with; the rest are the tags' bytes.
#include "fuzz/fuzz_support.h"

#include "imaging/field_list.h"
#include "imaging/mapped_memory.h"
#include "platform/error.h"
#include "tiff/tiff_reader.h"
#include "tiff/vexa_tags.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>

namespace {

// The types a TIFF reader can hand over for these tags, the legal ones first.
constexpr std::uint16_t kTypes[] = {pix::ftByte, pix::ftAscii, pix::ftSByte, 7, 3, 4};

pix::TFieldEntry MakeEntry(std::uint16_t tag, std::uint16_t type, const std::uint8_t* data,
                           std::size_t size) {
    pix::TFieldEntry entry;
    entry.Tag = tag;
    entry.FieldType = type;
    const std::uint32_t elementSize = pix::FieldTypeSize(type);
    entry.Count = static_cast<std::uint32_t>(size / (elementSize == 0 ? 1 : elementSize));
    // As the directory reader does: up to four bytes sit in the entry, more in a block of
    // their own that holds exactly the values.
    if (size <= 4) {
        std::memcpy(&entry.Value, data, size);
    } else {
        auto block = std::make_shared<pix::TLwMappedMemory>(static_cast<std::int64_t>(size));
        std::memcpy(block->Memory(), data, size);
        entry.Data = std::move(block);
    }
    return entry;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::uint16_t type = kTypes[data[0] % std::size(kTypes)];
    const std::uint8_t* body = data + 1;
    const std::size_t bodySize = size - 1;
    try {
        pix::TFieldList fields;
        fields.Add(MakeEntry(pix::tagVexaLayout, type, body, bodySize));
        fields.Add(MakeEntry(pix::tagVexaHeader, type, body, bodySize));
        fields.SortByTag();

        pix::TAcquisitionInfo info;
        pix::ReadVexaHeader(fields, info);
        const bool valid = pix::IsValidPointBlock(info.PointPositions);
        if (const auto layout = pix::ReadVexaLayout(fields)) {
            for (int i = 0; i < layout->Count; ++i)
                pix::fuzz::GSink =
                    pix::fuzz::GSink + layout->Items[static_cast<std::size_t>(i)].Width;
        }
        pix::fuzz::GSink = pix::fuzz::GSink + valid + info.PointPositions.size();
    } catch (const pix::EPixError&) {
    }
    pix::fuzz::GSink = pix::fuzz::GSink + pix::IsValidPointBlock(std::string_view(
                                              reinterpret_cast<const char*>(body), bodySize));
    return 0;
}
