// SPDX-License-Identifier: MIT
#include "imaging/field_list.h"

#include "platform/error.h"
#include "platform/res_strings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

namespace pix {
namespace {

// Tags in list order, to check the sorted invariant and what a change did to the list.
std::vector<std::uint16_t> Tags(const TFieldList& list) {
    std::vector<std::uint16_t> tags;
    for (int i = 0; i < list.Count(); ++i) tags.push_back(list.Items(i).Tag);
    return tags;
}

std::uint32_t InlineValue(const char* bytes, std::size_t count) {
    std::uint32_t value = 0;
    std::memcpy(&value, bytes, count);
    return value;
}

TEST(KnownTagsTest, TableIsAscendingWithTheDocumentedGaps) {
    EXPECT_TRUE(std::is_sorted(std::begin(KnownTags), std::end(KnownTags)));
    EXPECT_EQ(std::adjacent_find(std::begin(KnownTags), std::end(KnownTags)), std::end(KnownTags));
    EXPECT_EQ(KnownTags[0], 254);
    EXPECT_EQ(KnownTags[71], 33432);
    for (const std::uint16_t tag : KnownTags) EXPECT_TRUE(IsKnownTag(tag)) << tag;
    // DocumentName, TileOffsets, the private VEXA tags and the edges of the range.
    for (const std::uint16_t tag : {0, 253, 269, 324, 533, 33431, 33433, 65520, 65521, 65535})
        EXPECT_FALSE(IsKnownTag(tag)) << tag;
}

struct TSizeCase {
    std::uint16_t type;
    std::uint32_t count;
    std::uint32_t size;
    std::uint64_t size64;
};

class FieldSizeTest : public ::testing::TestWithParam<TSizeCase> {};

TEST_P(FieldSizeTest, CountTimesElementSize) {
    const auto& t = GetParam();
    const TFieldEntry entry{1, t.type, t.count, 0, nullptr};
    EXPECT_EQ(FieldDataSize(entry), t.size);
    EXPECT_EQ(FieldDataSize64(entry), t.size64);
}

INSTANTIATE_TEST_SUITE_P(Table, FieldSizeTest,
                         ::testing::Values(TSizeCase{ftByte, 3, 3, 3}, TSizeCase{ftAscii, 5, 5, 5},
                                           TSizeCase{ftShort, 2, 4, 4},
                                           TSizeCase{ftSShort, 3, 6, 6}, TSizeCase{ftLong, 1, 4, 4},
                                           TSizeCase{ftIfd, 2, 8, 8}, TSizeCase{ftFloat, 1, 4, 4},
                                           TSizeCase{ftRational, 1, 8, 8},
                                           TSizeCase{ftSRational, 2, 16, 16},
                                           TSizeCase{ftDouble, 1, 8, 8},
                                           TSizeCase{ftUndefined, 7, 7, 7},
                                           TSizeCase{ftSByte, 1, 1, 1}, TSizeCase{ftSLong, 2, 8, 8},
                                           // Unknown types have no data, whatever the count.
                                           TSizeCase{0, 100, 0, 0}, TSizeCase{14, 100, 0, 0},
                                           TSizeCase{0xFFFF, 0xFFFFFFFF, 0, 0},
                                           // 32-bit arithmetic wraps; the 64-bit form does not.
                                           TSizeCase{ftRational, 0x20000001, 8, 0x100000008ull},
                                           TSizeCase{ftLong, 0x40000000, 0, 0x100000000ull}));

TEST(FieldListTest, SetFieldKeepsTheListSortedAndReplacesInPlace) {
    TFieldList list;
    for (const std::uint16_t tag : {273, 256, 33432, 259, 257}) list.SetShort(tag, 1);
    EXPECT_EQ(Tags(list), (std::vector<std::uint16_t>{256, 257, 259, 273, 33432}));

    list.SetRational(282, 300, 1);
    auto oldBlock = list.Items(list.IndexOfTag(282)).Data;
    std::weak_ptr<TLwMappedMemory> watch = oldBlock;
    oldBlock.reset();
    list.SetRational(282, 600, 1);  // replaces: count and order stay
    EXPECT_EQ(Tags(list), (std::vector<std::uint16_t>{256, 257, 259, 273, 282, 33432}));
    EXPECT_TRUE(watch.expired()) << "the replaced Data block was not freed";
    std::uint32_t num = 0, den = 0;
    ASSERT_TRUE(list.GetRational(282, num, den));
    EXPECT_EQ(num, 600u);
    EXPECT_EQ(den, 1u);
}

TEST(FieldListTest, SetShortIsOneInlineShort) {
    TFieldList list;
    list.SetShort(259, 1);
    TFieldEntry entry;
    ASSERT_EQ(list.GetField(259, entry), 0);
    EXPECT_EQ(entry.FieldType, ftShort);
    EXPECT_EQ(entry.Count, 1u);
    EXPECT_EQ(entry.Value, 1u);
    EXPECT_EQ(entry.Data, nullptr);
    list.SetLong(256, 0x12345678);
    ASSERT_EQ(list.GetField(256, entry), 0);
    EXPECT_EQ(entry.FieldType, ftLong);
    EXPECT_EQ(entry.Value, 0x12345678u);
}

TEST(FieldListTest, AbsentTagsLeaveOutputsAlone) {
    TFieldList list;
    EXPECT_EQ(list.IndexOfTag(270), -1);  // empty list
    list.SetShort(259, 1);
    list.SetShort(262, 1);
    TFieldEntry entry{7, 8, 9, 10, nullptr};
    EXPECT_EQ(list.GetField(258, entry), -1);
    EXPECT_EQ(list.GetField(1, entry), -1);
    EXPECT_EQ(list.GetField(65535, entry), -1);
    EXPECT_EQ(entry.Tag, 7);
    EXPECT_EQ(entry.Value, 10u);
    std::uint32_t num = 11, den = 12;
    EXPECT_FALSE(list.GetRational(282, num, den));
    EXPECT_EQ(list.GetAscii(270), "");
    EXPECT_FALSE(list.DeleteField(270));
    EXPECT_TRUE(list.DeleteField(259));
    EXPECT_EQ(Tags(list), (std::vector<std::uint16_t>{262}));
}

TEST(FieldListTest, IndexOfTagFindsEveryTagOfALongList) {
    TFieldList list;
    for (int tag = 65535; tag >= 1; tag -= 97) list.SetShort(static_cast<std::uint16_t>(tag), 0);
    for (int i = 0; i < list.Count(); ++i) {
        EXPECT_EQ(list.IndexOfTag(list.Items(i).Tag), i);
        EXPECT_EQ(list.IndexOfTag(static_cast<std::uint16_t>(list.Items(i).Tag + 1)), -1);
    }
}

TEST(FieldListTest, GetRationalNeedsTheTypeAndAFullBlock) {
    TFieldList list;
    list.SetField({282, ftRational, 1, 0, nullptr});
    std::uint32_t num = 11, den = 12;
    EXPECT_FALSE(list.GetRational(282, num, den));
    list.SetField({283, ftRational, 1, 0, std::make_shared<TLwMappedMemory>(4)});
    EXPECT_FALSE(list.GetRational(283, num, den));  // a block too short for two words
    list.SetLong(284, 5);
    EXPECT_FALSE(list.GetRational(284, num, den));
    EXPECT_EQ(num, 11u);
    EXPECT_EQ(den, 12u);
}

TEST(FieldListTest, UnknownTypesNeverKeepABlock) {
    TFieldList list;
    list.SetField({700, 99, 10, 0, std::make_shared<TLwMappedMemory>(16)});
    TFieldEntry entry;
    ASSERT_GE(list.GetField(700, entry), 0);
    EXPECT_EQ(entry.Data, nullptr);
    EXPECT_EQ(FieldDataSize(entry), 0u);
}

TEST(FieldListTest, ShortTextsLiveInTheEntryLongerOnesInABlock) {
    TFieldList list;
    list.SetAscii(315, "abc");
    TFieldEntry entry;
    ASSERT_GE(list.GetField(315, entry), 0);
    EXPECT_EQ(entry.FieldType, ftAscii);
    EXPECT_EQ(entry.Count, 4u);
    EXPECT_EQ(entry.Data, nullptr);
    EXPECT_EQ(entry.Value, InlineValue("abc", 4));
    EXPECT_EQ(list.GetAscii(315), "abc");

    list.SetAscii(315, "abcd");
    ASSERT_GE(list.GetField(315, entry), 0);
    EXPECT_EQ(entry.Count, 5u);
    ASSERT_NE(entry.Data, nullptr);
    EXPECT_EQ(entry.Data->Size(), 5);
    EXPECT_EQ(std::memcmp(entry.Data->Bytes(), "abcd", 5), 0);
    EXPECT_EQ(list.GetAscii(315), "abcd");

    list.SetAscii(315, "");
    ASSERT_GE(list.GetField(315, entry), 0);
    EXPECT_EQ(entry.Count, 1u);
    EXPECT_EQ(entry.Value, 0u);
    EXPECT_EQ(list.GetAscii(315), "");
}

struct TAsciiCase {
    std::uint32_t count;
    std::uint32_t value;
    const char* block;  // nullptr: no Data block
    std::size_t blockSize;
    const char* expected;
};

class GetAsciiTest : public ::testing::TestWithParam<TAsciiCase> {};

// Entries as a hostile file could make them: GetAscii never reads past Count or the block.
TEST_P(GetAsciiTest, StopsAtNulCountOrBlockEnd) {
    const auto& t = GetParam();
    TFieldEntry entry{270, ftAscii, t.count, t.value, nullptr};
    if (t.block != nullptr) {
        entry.Data = std::make_shared<TLwMappedMemory>(static_cast<std::int64_t>(t.blockSize));
        std::memcpy(entry.Data->Bytes(), t.block, t.blockSize);
    }
    TFieldList list;
    list.SetField(entry);
    EXPECT_EQ(list.GetAscii(270), t.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, GetAsciiTest,
    ::testing::Values(
        // Inline without a NUL: Count characters, at most 4.
        TAsciiCase{4, InlineValue("WXYZ", 4), nullptr, 0, "WXYZ"},
        TAsciiCase{2, InlineValue("WXYZ", 4), nullptr, 0, "WX"},
        TAsciiCase{0, InlineValue("WXYZ", 4), nullptr, 0, ""},
        TAsciiCase{4, InlineValue("W\0YZ", 4), nullptr, 0, "W"},
        // Long texts: up to the NUL, the Count, or the block's end.
        TAsciiCase{6, 0, "Hello\0", 6, "Hello"}, TAsciiCase{6, 0, "Hi\0lo\0", 6, "Hi"},
        TAsciiCase{8, 0, "Hello!!!", 8, "Hello!!!"}, TAsciiCase{5, 0, "Hello!!!", 8, "Hello"},
        TAsciiCase{100, 0, "Short", 5, "Short"}, TAsciiCase{0xFFFFFFFF, 0, "Short", 5, "Short"},
        TAsciiCase{9, 0, nullptr, 0, ""}));

TEST(FieldListTest, SetAsciiOnANonAsciiTagThrowsAndChangesNothing) {
    TFieldList list;
    list.SetShort(270, 7);
    list.SetAscii(271, "Maker");
    try {
        list.SetAscii(270, "text");
        FAIL() << "text stored in a SHORT field";
    } catch (const EPixError& e) {
        EXPECT_EQ(e.Id, STagAsciiNeeded.Id);
    }
    TFieldEntry entry;
    ASSERT_GE(list.GetField(270, entry), 0);
    EXPECT_EQ(entry.FieldType, ftShort);
    EXPECT_EQ(entry.Value, 7u);
    EXPECT_EQ(list.Count(), 2);
    EXPECT_EQ(list.GetAscii(270), "");  // not ASCII: no text
}

TEST(FieldListTest, SortByTagIsStableForRepeatedTags) {
    // A loaded directory may repeat a tag; both entries stay, in their original order.
    TFieldList list;
    list.Add({300, ftShort, 1, 1, nullptr});
    list.Add({256, ftShort, 1, 2, nullptr});
    list.Add({300, ftShort, 1, 3, nullptr});
    list.SortByTag();
    EXPECT_EQ(Tags(list), (std::vector<std::uint16_t>{256, 300, 300}));
    EXPECT_EQ(list.Items(1).Value, 1u);
    EXPECT_EQ(list.Items(2).Value, 3u);
    EXPECT_GE(list.IndexOfTag(300), 1);
}

TEST(MacUmlautsTest, ReplacesExactlySevenBytes) {
    EXPECT_EQ(MacUmlautsToAnsi("\x80\x85\x86\x8A\x9A\x9F\xA7"), "\xC4\xD6\xDC\xE4\xF6\xFC\xDF");
    EXPECT_EQ(MacUmlautsToAnsi("Spot 3, WD 10mm"), "Spot 3, WD 10mm");
    std::string others;
    for (int b = 0; b < 256; ++b) {
        if (b == 0x80 || b == 0x85 || b == 0x86 || b == 0x8A || b == 0x9A || b == 0x9F || b == 0xA7)
            continue;
        others += static_cast<char>(b);
    }
    EXPECT_EQ(MacUmlautsToAnsi(others), others);  // 0x81 among them stays
}

}  // namespace
}  // namespace pix
