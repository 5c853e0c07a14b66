// SPDX-License-Identifier: MIT
#include "tiff/vexa_tags.h"

#include "platform/byte_order.h"
#include "tiff/tiff_reader.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <span>

namespace pix {

namespace {

// Both private blocks start with this version word; any other value means a layout this
// program does not know, and the block is ignored.
constexpr std::uint16_t kVexaVersion = 256;

// Item ids of the microscope header.
enum : std::uint16_t {
    itMagnification = 2,
    itParamValue3 = 3,
    itParamValue4 = 4,
    itParamValue6 = 6,
    itHighVoltage = 7,
    itWorkingDistance = 8,
    itParamFormat = 9,
    itParamNames = 10,
    itLinescan = 11,
    itPointscan = 12,
    itRecordTime = 14,
    itImageNumber = 15,
    itMeasurement = 18,
    itPointPositions = 22,
};

constexpr std::size_t kLayoutSize = 708;
constexpr std::size_t kLayoutCountAt = 66;
constexpr std::size_t kLayoutItemsAt = 68;
constexpr std::size_t kLayoutItemSize = 10;
constexpr int kLayoutMaxItems = 64;

// Each point record starts with a 36-byte head: a length-prefixed name in 20 bytes, then
// the length A of the first data part, a word not used here, the number of points C and
// the length B of the point data.
constexpr std::size_t kPointHeadSize = 36;

// The bytes of a private tag's data, or nothing. The directory reader keeps entries of
// tags it does not know only when they are BYTE, ASCII or SBYTE, so the acquisition system
// writes its blocks with one of those types; the bytes are those of the Data block, never
// more than Count of them.
std::span<const std::uint8_t> PrivateBlock(const TFieldList& fields, std::uint16_t tag) {
    TFieldEntry entry;
    if (fields.GetField(tag, entry) < 0) return {};
    if (entry.FieldType != ftByte && entry.FieldType != ftAscii && entry.FieldType != ftSByte)
        return {};
    if (!entry.Data || entry.Data->Size() <= 0) return {};
    const std::uint64_t size =
        std::min<std::uint64_t>(entry.Count, static_cast<std::uint64_t>(entry.Data->Size()));
    // The entry is a copy that shares the block with the list, which outlives this call.
    return {entry.Data->Bytes(), static_cast<std::size_t>(size)};
}

double LoadDouble(const std::uint8_t* p) {
    const std::uint64_t bits = std::uint64_t{LoadLE32(p)} | (std::uint64_t{LoadLE32(p + 4)} << 32);
    return std::bit_cast<double>(bits);
}

std::int32_t LoadInt32(const std::uint8_t* p) { return static_cast<std::int32_t>(LoadLE32(p)); }

// Text up to the first NUL; all of the bytes when there is none.
std::string Text(std::span<const std::uint8_t> bytes) {
    const auto* begin = reinterpret_cast<const char*>(bytes.data());
    const void* nul = std::memchr(begin, '\0', bytes.size());
    return std::string(begin, nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - begin)
                                  : bytes.size());
}

bool IsPosName(const std::uint8_t* head) {
    if (head[0] != 3) return false;
    static const char kName[] = "pos";
    for (int i = 0; i < 3; ++i) {
        const char c = static_cast<char>(head[1 + i]);
        if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c) != kName[i]) return false;
    }
    return true;
}

}  // namespace

bool IsValidPointBlock(std::string_view block) {
    if (block.empty()) return false;
    const auto* data = reinterpret_cast<const std::uint8_t*>(block.data());
    const std::uint64_t size = block.size();
    std::uint64_t start = 0;
    bool first = true;
    // Every record is at least 36 bytes long, so the walk ends.
    while (start != size) {
        if (size - start < kPointHeadSize) return false;
        const std::uint8_t* head = data + start;
        const std::int32_t a = LoadInt32(head + 20);
        const std::int32_t c = LoadInt32(head + 28);
        const std::int32_t b = LoadInt32(head + 32);
        if (a < 0 || b < 0) return false;
        if (first && (!IsPosName(head) || std::int64_t{c} * 8 != b)) return false;
        first = false;
        start += kPointHeadSize + static_cast<std::uint64_t>(a) + static_cast<std::uint64_t>(b);
        if (start > size) return false;
    }
    return true;
}

void ReadVexaHeader(const TFieldList& fields, TAcquisitionInfo& info) {
    const std::span<const std::uint8_t> block = PrivateBlock(fields, tagVexaHeader);
    if (block.size() < 2 || LoadLE16(block.data()) != kVexaVersion) return;

    const std::uint64_t size = block.size();
    // Each item: id (16 bits), length L (signed 32 bits), L bytes.
    for (std::uint64_t start = 2; start + 6 < size;) {
        const std::uint8_t* item = block.data() + start;
        const std::uint16_t id = LoadLE16(item);
        const std::int32_t length = LoadInt32(item + 2);
        const std::uint64_t dataAt = start + 6;
        // An item that claims more bytes than the block holds ends the walk: whatever
        // follows it cannot be found.
        if (length > 0 && static_cast<std::uint64_t>(length) > size - dataAt) break;
        const std::span<const std::uint8_t> data = block.subspan(
            static_cast<std::size_t>(dataAt), length > 0 ? static_cast<std::size_t>(length) : 0);
        switch (id) {
            case itMagnification:
            case itParamValue3:
            case itParamValue4:
            case itHighVoltage:
            case itWorkingDistance: {
                if (length != 8) break;
                const double value = LoadDouble(data.data());
                if (id == itMagnification) info.Magnification = value;
                if (id == itParamValue3) info.ParamValue3 = value;
                if (id == itParamValue4) info.ParamValue4 = value;
                if (id == itHighVoltage) info.HighVoltage = value;
                if (id == itWorkingDistance) info.WorkingDistance = value;
                break;
            }
            case itParamValue6:
                if (length == 4) info.ParamValue6 = LoadInt32(data.data());
                break;
            case itImageNumber:
                if (length == 4) info.ImageNumber = LoadInt32(data.data());
                break;
            case itParamFormat:
                if (length > 1) info.ParamFormat = Text(data);
                break;
            case itParamNames:
                if (length > 1) info.ParamNames = Text(data);
                break;
            case itLinescan:
                info.LinescanData = length > 0 ? -1 : 0;
                break;
            case itPointscan:
                if (length > 0) info.PointscanData = -1;
                break;
            case itMeasurement:
                info.MeasurementData = length > 0 ? -1 : 0;
                break;
            case itRecordTime:
                if (length == 16) {
                    std::uint16_t w[8];
                    for (int i = 0; i < 8; ++i) w[i] = LoadLE16(data.data() + 2 * i);
                    info.RecordTime = {w[0], w[1], w[2], w[3], w[4], w[5], w[6], w[7]};
                }
                break;
            case itPointPositions:
                if (length > static_cast<std::int32_t>(kPointHeadSize)) {
                    const std::string_view bytes(reinterpret_cast<const char*>(data.data()),
                                                 data.size());
                    // A damaged block is discarded as if absent: it neither replaces nor
                    // clears one that came before it.
                    if (IsValidPointBlock(bytes)) {
                        info.PointPositions.assign(bytes);
                        info.PointscanData = -2;
                    }
                }
                break;
            default:
                break;
        }
        start = dataAt + (length > 0 ? static_cast<std::uint64_t>(length) : 0);
    }
    // Names without a format text to use them in are meaningless.
    if (info.ParamFormat.empty()) info.ParamNames.clear();
}

std::optional<TVexaLayout> ReadVexaLayout(const TFieldList& fields) {
    const std::span<const std::uint8_t> block = PrivateBlock(fields, tagVexaLayout);
    if (block.size() < kLayoutSize || LoadLE16(block.data()) != kVexaVersion) return std::nullopt;
    const int count = LoadLE16(block.data() + kLayoutCountAt);
    if (count < 1 || count > kLayoutMaxItems) return std::nullopt;
    TVexaLayout layout;
    layout.Count = count;
    for (int i = 0; i < kLayoutMaxItems; ++i) {
        // A word the layout does not use, then left, top, width and height.
        const std::uint8_t* p =
            block.data() + kLayoutItemsAt + kLayoutItemSize * static_cast<std::size_t>(i);
        layout.Items[static_cast<std::size_t>(i)] = {LoadLE16(p + 2), LoadLE16(p + 4),
                                                     LoadLE16(p + 6), LoadLE16(p + 8)};
    }
    return layout;
}

}  // namespace pix
