// SPDX-License-Identifier: MIT
#include "tiff/vexa_tags.h"

#include "platform/byte_order.h"
#include "tiff/tiff_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace pix {
namespace {

std::string U16(std::uint16_t v) {
    std::string s(2, '\0');
    StoreLE16(reinterpret_cast<std::uint8_t*>(s.data()), v);
    return s;
}
std::string U32(std::uint32_t v) {
    std::string s(4, '\0');
    StoreLE32(reinterpret_cast<std::uint8_t*>(s.data()), v);
    return s;
}
std::string I32(std::int32_t v) { return U32(static_cast<std::uint32_t>(v)); }
std::string F64(double v) {
    const auto bits = std::bit_cast<std::uint64_t>(v);
    return U32(static_cast<std::uint32_t>(bits)) + U32(static_cast<std::uint32_t>(bits >> 32));
}

// One item of the microscope header: id, signed length, data. `length` defaults to the size
// of the data.
std::string Item(std::uint16_t id, const std::string& data, std::int32_t length = -999) {
    return U16(id) + I32(length == -999 ? static_cast<std::int32_t>(data.size()) : length) + data;
}

std::string Header(const std::string& items, std::uint16_t version = 256) {
    return U16(version) + items;
}

TFieldList WithTag(std::uint16_t tag, const std::string& bytes, std::uint16_t type = ftByte) {
    TFieldList fields;
    auto block = std::make_shared<TLwMappedMemory>(static_cast<std::int64_t>(bytes.size()));
    if (!bytes.empty()) std::memcpy(block->Bytes(), bytes.data(), bytes.size());
    fields.SetField({tag, type, static_cast<std::uint32_t>(bytes.size()), 0, std::move(block)});
    return fields;
}

TAcquisitionInfo Decode(const std::string& header, std::uint16_t type = ftByte) {
    TAcquisitionInfo info;
    ReadVexaHeader(WithTag(tagVexaHeader, header, type), info);
    return info;
}

// A point record: 36-byte head (length-prefixed name in 20 bytes, A, unused, C, B), then
// A + B data bytes.
std::string PointRecord(const std::string& name, std::int32_t a, std::int32_t c, std::int32_t b,
                        std::size_t dataBytes) {
    std::string head(20, '\0');
    head[0] = static_cast<char>(name.size());
    head.replace(1, name.size(), name);
    return head + I32(a) + I32(0) + I32(c) + I32(b) + std::string(dataBytes, 'd');
}

std::string ValidPoints() { return PointRecord("Pos", 4, 2, 16, 20); }

bool IsEmpty(const TAcquisitionInfo& i) {
    const SYSTEMTIME zero{};
    return i.ParamValue3 == 0 && i.ParamValue4 == 0 && i.ParamValue6 == 0 && i.Magnification == 0 &&
           i.HighVoltage == 0 && i.WorkingDistance == 0 && i.ParamFormat.empty() &&
           i.ParamNames.empty() && i.LinescanData == 0 && i.PointscanData == 0 &&
           std::memcmp(&i.RecordTime, &zero, sizeof zero) == 0 && i.ImageNumber == 0 &&
           i.MeasurementData == 0 && i.PointPositions.empty();
}

TEST(VexaHeaderTest, DecodesEveryItem) {
    std::string time;
    for (std::uint16_t w : {2026, 12, 2, 8, 13, 45, 30, 250}) time += U16(w);
    const std::string items =
        Item(2, F64(5000.5)) + Item(3, F64(-1.25)) + Item(4, F64(1e-9)) + Item(6, I32(-7)) +
        Item(7, F64(20.0)) + Item(8, F64(8.5)) + Item(9, std::string("MAG=%.0f\0junk", 13)) +
        Item(10, std::string("MAG,WD\0", 7)) + Item(11, "x") + Item(12, "yy") + Item(14, time) +
        Item(15, I32(42)) + Item(18, "z") + Item(99, "ignored");
    const TAcquisitionInfo info = Decode(Header(items));
    EXPECT_EQ(info.Magnification, 5000.5);
    EXPECT_EQ(info.ParamValue3, -1.25);
    EXPECT_EQ(info.ParamValue4, 1e-9);
    EXPECT_EQ(info.ParamValue6, -7);
    EXPECT_EQ(info.HighVoltage, 20.0);
    EXPECT_EQ(info.WorkingDistance, 8.5);
    EXPECT_EQ(info.ParamFormat, "MAG=%.0f");
    EXPECT_EQ(info.ParamNames, "MAG,WD");
    EXPECT_EQ(info.LinescanData, -1);
    EXPECT_EQ(info.PointscanData, -1);
    EXPECT_EQ(info.MeasurementData, -1);
    EXPECT_EQ(info.ImageNumber, 42);
    EXPECT_EQ(info.RecordTime.wYear, 2026);
    EXPECT_EQ(info.RecordTime.wMonth, 12);
    EXPECT_EQ(info.RecordTime.wDayOfWeek, 2);
    EXPECT_EQ(info.RecordTime.wDay, 8);
    EXPECT_EQ(info.RecordTime.wHour, 13);
    EXPECT_EQ(info.RecordTime.wMinute, 45);
    EXPECT_EQ(info.RecordTime.wSecond, 30);
    EXPECT_EQ(info.RecordTime.wMilliseconds, 250);
    EXPECT_TRUE(info.PointPositions.empty());
}

// Blocks that set nothing at all.
struct TIgnoredCase {
    const char* Name;
    std::string Bytes;
    std::uint16_t Tag = tagVexaHeader;
    std::uint16_t Type = ftByte;
};

class VexaHeaderIgnoredTest : public ::testing::TestWithParam<TIgnoredCase> {};

TEST_P(VexaHeaderIgnoredTest, LeavesTheRecordEmpty) {
    const TIgnoredCase& c = GetParam();
    TAcquisitionInfo info;
    ReadVexaHeader(WithTag(c.Tag, c.Bytes, c.Type), info);
    EXPECT_TRUE(IsEmpty(info));
}

const std::string kMagItem = Item(2, F64(100)) + Item(15, I32(3));

INSTANTIATE_TEST_SUITE_P(
    Blocks, VexaHeaderIgnoredTest,
    ::testing::Values(TIgnoredCase{"Version255", Header(kMagItem, 255)},
                      TIgnoredCase{"Version1", Header(kMagItem, 1)},
                      TIgnoredCase{"OtherTag", Header(kMagItem), 65522},
                      TIgnoredCase{"TypeShort", Header(kMagItem), tagVexaHeader, ftShort},
                      TIgnoredCase{"TypeUndefined", Header(kMagItem), tagVexaHeader, ftUndefined},
                      TIgnoredCase{"Empty", ""}, TIgnoredCase{"OneByte", "\x01"},
                      // Version only, or an item head without its last byte.
                      TIgnoredCase{"VersionOnly", Header("")},
                      TIgnoredCase{"TruncatedHead", Header(std::string("\x02\0\x08\0\0", 5))},
                      // The first item claims more bytes than follow: nothing after it is
                      // found.
                      TIgnoredCase{"LongFirstItem", Header(Item(11, "ab", 1000) + kMagItem)},
                      TIgnoredCase{"MaxLength", Header(Item(11, "", 0x7FFFFFFF) + kMagItem)}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(VexaHeaderTest, AcceptsAsciiAndSignedByteTypes) {
    for (const std::uint16_t type : {ftAscii, ftSByte})
        EXPECT_EQ(Decode(Header(kMagItem), type).Magnification, 100) << type;
}

// Items of the wrong length are skipped and the walk goes on after them.
TEST(VexaHeaderTest, SkipsItemsOfTheWrongLength) {
    const std::string items = Item(15, U16(9)) + Item(2, F64(1.0).substr(0, 7)) +
                              Item(6, I32(5) + "x") + Item(14, std::string(15, '\1')) +
                              Item(15, I32(77)) + Item(8, F64(4.0));
    const TAcquisitionInfo info = Decode(Header(items));
    EXPECT_EQ(info.ImageNumber, 77);
    EXPECT_EQ(info.WorkingDistance, 4.0);
    EXPECT_EQ(info.Magnification, 0);
    EXPECT_EQ(info.ParamValue6, 0);
    EXPECT_EQ(info.RecordTime.wYear, 0);
}

// A non-positive length moves on by the 6-byte head only: the "data" is read as the next
// item.
TEST(VexaHeaderTest, NegativeLengthSkipsOnlyTheHead) {
    const TAcquisitionInfo info = Decode(Header(Item(18, "", -5) + Item(15, I32(8))));
    EXPECT_EQ(info.ImageNumber, 8);
    EXPECT_EQ(info.MeasurementData, 0);
}

TEST(VexaHeaderTest, LaterItemsOverrideEarlierOnes) {
    // Item 11 of length 0 clears the flag an earlier one set; item 18 likewise. An item is
    // read only while its head ends before the block does, hence the items that follow.
    const std::string tail = Item(15, I32(1));
    EXPECT_EQ(Decode(Header(Item(11, "a") + Item(11, "") + tail)).LinescanData, 0);
    EXPECT_EQ(Decode(Header(Item(18, "a") + Item(18, "", -1) + tail)).MeasurementData, 0);
    // Item 12 only ever sets the flag.
    EXPECT_EQ(Decode(Header(Item(12, "a") + Item(12, ""))).PointscanData, -1);
    EXPECT_EQ(Decode(Header(Item(12, ""))).PointscanData, 0);
    EXPECT_EQ(Decode(Header(Item(15, I32(1)) + Item(15, I32(2)))).ImageNumber, 2);
}

struct TTextCase {
    const char* Name;
    std::string Items;
    std::string Format;
    std::string Names;
};

class VexaHeaderTextTest : public ::testing::TestWithParam<TTextCase> {};

TEST_P(VexaHeaderTextTest, FormatAndNames) {
    const TTextCase& c = GetParam();
    const TAcquisitionInfo info = Decode(Header(c.Items));
    EXPECT_EQ(info.ParamFormat, c.Format);
    EXPECT_EQ(info.ParamNames, c.Names);
}

INSTANTIATE_TEST_SUITE_P(
    Items, VexaHeaderTextTest,
    ::testing::Values(
        TTextCase{"Both", Item(9, std::string("%g\0", 3)) + Item(10, std::string("HV\0", 3)), "%g",
                  "HV"},
        // An empty format drops the names, whether it is empty text or absent.
        TTextCase{"EmptyFormat",
                  Item(9, std::string("\0\0", 2)) + Item(10, std::string("MAG\0", 4)), "", ""},
        TTextCase{"FormatOfOneByte", Item(9, std::string("\0", 1)) + Item(10, "MAG"), "", ""},
        TTextCase{"NoFormat", Item(10, std::string("MAG,WD\0", 7)), "", ""},
        // Without a NUL the text is the whole item and nothing of the next one.
        TTextCase{"NoNul", Item(9, "%.1f") + Item(10, "WD") + Item(15, I32(0x41414141)), "%.1f",
                  "WD"},
        // A text that is the last item of the block ends with the block.
        TTextCase{"NoNulAtEnd", Item(10, "MAG") + Item(9, "%f %f"), "%f %f", "MAG"},
        TTextCase{"OneCharacterIsTooShort", Item(9, "x") + Item(10, "MAG"), "", ""}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(VexaHeaderTest, PointBlockSetsPositionsAndTheFlagInWalkOrder) {
    const std::string points = ValidPoints();
    TAcquisitionInfo info = Decode(Header(Item(12, "p") + Item(22, points)));
    EXPECT_EQ(info.PointPositions, points);
    EXPECT_EQ(info.PointscanData, -2);
    // Item 12 after the block sets the plain presence value, as the walk meets it.
    info = Decode(Header(Item(22, points) + Item(12, "p")));
    EXPECT_EQ(info.PointPositions, points);
    EXPECT_EQ(info.PointscanData, -1);

    // A damaged block is discarded as if absent: the earlier valid one stays.
    info = Decode(Header(Item(22, points) + Item(22, points + "e")));
    EXPECT_EQ(info.PointPositions, points);
    EXPECT_EQ(info.PointscanData, -2);
    info = Decode(Header(Item(12, "p") + Item(22, points + "e")));
    EXPECT_TRUE(info.PointPositions.empty());
    EXPECT_EQ(info.PointscanData, -1);

    // Exactly 36 bytes are too few to be taken at all.
    info = Decode(Header(Item(22, PointRecord("Pos", 0, 0, 0, 0))));
    EXPECT_TRUE(info.PointPositions.empty());
    EXPECT_EQ(info.PointscanData, 0);
}

struct TPointCase {
    const char* Name;
    std::string Block;
    bool Valid;
};

class PointBlockTest : public ::testing::TestWithParam<TPointCase> {};

TEST_P(PointBlockTest, Structure) {
    EXPECT_EQ(IsValidPointBlock(GetParam().Block), GetParam().Valid);
}

INSTANTIATE_TEST_SUITE_P(
    Blocks, PointBlockTest,
    ::testing::Values(
        TPointCase{"Pos", ValidPoints(), true},
        TPointCase{"LowerCase", PointRecord("pOS", 0, 3, 24, 24), true},
        TPointCase{"HeadOnly", PointRecord("POS", 0, 0, 0, 0), true},
        TPointCase{"TwoRecords", ValidPoints() + PointRecord("Other", 2, 99, 1, 3), true},
        TPointCase{"Empty", "", false},
        TPointCase{"OtherName", PointRecord("Pts", 4, 2, 16, 20), false},
        TPointCase{"LongerName", PointRecord("Post", 4, 2, 16, 20), false},
        TPointCase{"PointsDisagree", PointRecord("Pos", 4, 2, 15, 19), false},
        TPointCase{"OneByteShort", ValidPoints().substr(0, ValidPoints().size() - 1), false},
        TPointCase{"OneByteOver", ValidPoints() + "x", false},
        TPointCase{"ShortSecondHead", ValidPoints() + std::string(35, '\0'), false},
        TPointCase{"NegativeA", PointRecord("Pos", -1, 0, 0, 0) + "x", false},
        TPointCase{"NegativeB", ValidPoints() + PointRecord("x", 0, 0, -36, 0), false},
        // C × 8 must not wrap around in 32 bits.
        TPointCase{"HugeCount", PointRecord("Pos", 0, 0x20000000, 0, 0), false},
        // Later records may say anything about their points.
        TPointCase{"SecondRecordFree", ValidPoints() + PointRecord("Pos", 0, 5, 0, 0), true},
        // Lengths that would run far past the block end.
        TPointCase{"HugeLengths", PointRecord("Pos", 0x7FFFFFFF, 0x0FFFFFFF, 0x7FFFFFF8, 0),
                   false}),
    [](const auto& info) { return std::string(info.param.Name); });

// Random blocks with the right version word and small item lengths: whatever they hold, the
// walk stays inside the block (the sanitizer builds check this) and ends.
TEST(VexaHeaderTest, RandomBlocksStayInBounds) {
    std::mt19937 random(20261208);
    for (int round = 0; round < 3000; ++round) {
        std::string bytes = U16(256);
        const std::size_t size = random() % 200;
        while (bytes.size() < size) {
            const auto id = static_cast<std::uint16_t>(random() % 24);
            const auto length = static_cast<std::int32_t>(random() % 80) - 8;
            std::string data(static_cast<std::size_t>(std::max(0, length)), '\0');
            for (char& c : data) c = static_cast<char>(random() % 4 == 0 ? 0 : random());
            if (id == 22 && random() % 2) data = ValidPoints();
            bytes += Item(id, data, id == 22 ? static_cast<std::int32_t>(data.size()) : length);
        }
        bytes.resize(size);
        TAcquisitionInfo info;
        ReadVexaHeader(WithTag(tagVexaHeader, bytes), info);
        EXPECT_LE(info.ParamFormat.size(), bytes.size());
        EXPECT_TRUE(info.PointPositions.empty() || IsValidPointBlock(info.PointPositions));
        EXPECT_TRUE(info.PointscanData == 0 || info.PointscanData == -1 ||
                    (info.PointscanData == -2 && !info.PointPositions.empty()));
    }
}

std::string Layout(std::uint16_t version, std::uint16_t count, std::size_t size = 708) {
    std::string bytes(size, '\0');
    auto* p = reinterpret_cast<std::uint8_t*>(bytes.data());
    if (size >= 2) StoreLE16(p, version);
    if (size >= 68) StoreLE16(p + 66, count);
    for (std::size_t i = 0; i < 64 && 68 + 10 * i + 10 <= size; ++i) {
        const auto k = static_cast<std::uint16_t>(i);
        StoreLE16(p + 68 + 10 * i, 0xDEAD);
        StoreLE16(p + 70 + 10 * i, static_cast<std::uint16_t>(k * 10));
        StoreLE16(p + 72 + 10 * i, static_cast<std::uint16_t>(k * 20));
        StoreLE16(p + 74 + 10 * i, static_cast<std::uint16_t>(100 + k));
        StoreLE16(p + 76 + 10 * i, static_cast<std::uint16_t>(0xFFFF - k));
    }
    return bytes;
}

TEST(VexaLayoutTest, ReadsThePlacements) {
    const auto layout = ReadVexaLayout(WithTag(tagVexaLayout, Layout(256, 3)));
    ASSERT_TRUE(layout);
    EXPECT_EQ(layout->Count, 3);
    for (std::size_t i : {0u, 2u, 63u}) {
        const TVexaPlacement& p = layout->Items[i];
        EXPECT_EQ(p.Left, i * 10);
        EXPECT_EQ(p.Top, i * 20);
        EXPECT_EQ(p.Width, 100 + i);
        EXPECT_EQ(p.Height, 0xFFFF - i);
    }
    EXPECT_EQ(ReadVexaLayout(WithTag(tagVexaLayout, Layout(256, 64), ftSByte))->Count, 64);
    // A longer block is fine; only its first 708 bytes count.
    EXPECT_EQ(ReadVexaLayout(WithTag(tagVexaLayout, Layout(256, 1, 900), ftAscii))->Count, 1);
}

struct TLayoutCase {
    const char* Name;
    TFieldList Fields;
};

class VexaLayoutAbsentTest : public ::testing::TestWithParam<TLayoutCase> {};

TEST_P(VexaLayoutAbsentTest, IsTreatedAsAbsent) {
    EXPECT_FALSE(ReadVexaLayout(GetParam().Fields).has_value());
}

TFieldList CountBeyondBlock() {
    // Count says 708 bytes, the block holds 707: the block bounds the read.
    TFieldList fields = WithTag(tagVexaLayout, Layout(256, 2, 707));
    TFieldEntry entry;
    fields.GetField(tagVexaLayout, entry);
    entry.Count = 708;
    fields.SetField(entry);
    return fields;
}

INSTANTIATE_TEST_SUITE_P(
    Fields, VexaLayoutAbsentTest,
    ::testing::Values(TLayoutCase{"NoTag", TFieldList{}},
                      TLayoutCase{"OtherTag", WithTag(tagVexaHeader, Layout(256, 2))},
                      TLayoutCase{"Short", WithTag(tagVexaLayout, Layout(256, 2, 707))},
                      TLayoutCase{"BlockShorterThanCount", CountBeyondBlock()},
                      TLayoutCase{"Version", WithTag(tagVexaLayout, Layout(255, 2))},
                      TLayoutCase{"NoImages", WithTag(tagVexaLayout, Layout(256, 0))},
                      TLayoutCase{"TooMany", WithTag(tagVexaLayout, Layout(256, 65))},
                      TLayoutCase{"TypeShort", WithTag(tagVexaLayout, Layout(256, 2), ftShort)},
                      TLayoutCase{"TypeUndefined",
                                  WithTag(tagVexaLayout, Layout(256, 2), ftUndefined)}),
    [](const auto& info) { return std::string(info.param.Name); });

}  // namespace
}  // namespace pix
