// SPDX-License-Identifier: MIT
#include "tiff/lzw_encoder.h"
#include "tiff/tiff_reader.h"

#include <gtest/gtest.h>

#include <random>
#include <span>
#include <string>
#include <vector>

namespace pix {
namespace {

using test::LzwEncode;
using test::TBitWriter;
using test::ToBytes;

struct TDecoded {
    bool Ok;
    std::string Out;
};

TDecoded Decode(const std::string& in, std::size_t room) {
    const std::vector<std::uint8_t> bytes = ToBytes(in);
    // Guard bytes behind the buffer the decoder is given must stay untouched.
    constexpr std::size_t kGuard = 64;
    std::vector<std::uint8_t> out(room + kGuard, 0xEE);
    std::size_t produced = 12345;
    const bool ok = DecodeLzwStrip(bytes, std::span(out.data(), room), produced);
    EXPECT_LE(produced, room);
    for (std::size_t i = room; i < room + kGuard; ++i) EXPECT_EQ(out[i], 0xEE) << "byte " << i;
    return {ok, std::string(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(produced))};
}

std::string Noise(std::size_t size, unsigned seed, int alphabet) {
    std::mt19937 random(seed);
    std::string s(size, '\0');
    for (char& c : s) c = static_cast<char>(random() % static_cast<unsigned>(alphabet));
    return s;
}

// Data shapes that drive the table through its states: runs (a code equal to the next
// free code), text-like repetition, noise that fills the table and forces Clear codes,
// and a table that fills without any Clear.
struct TRoundTrip {
    const char* Name;
    std::string Data;
    bool ClearWhenFull;
};

class LzwRoundTrip : public testing::TestWithParam<TRoundTrip> {};

TEST_P(LzwRoundTrip, DecodesWhatTheEncoderWrote) {
    const TRoundTrip& c = GetParam();
    const TDecoded d = Decode(LzwEncode(c.Data, c.ClearWhenFull), c.Data.size());
    EXPECT_TRUE(d.Ok);
    EXPECT_EQ(d.Out, c.Data);
}

std::string Repeated(const std::string& unit, int times) {
    std::string s;
    for (int i = 0; i < times; ++i) s += unit;
    return s;
}

INSTANTIATE_TEST_SUITE_P(
    Lzw, LzwRoundTrip,
    testing::Values(TRoundTrip{"Empty", "", true}, TRoundTrip{"OneByte", "x", true},
                    TRoundTrip{"Run", std::string(5000, 'a'), true},
                    TRoundTrip{"ShortRunKwKwK", "aaaaaaa", true},
                    TRoundTrip{"Text", Repeated("the quick brown fox, the lazy dog; ", 300), true},
                    TRoundTrip{"NoiseWithClears", Noise(60000, 1, 256), true},
                    TRoundTrip{"SmallAlphabet", Noise(60000, 2, 3), true},
                    TRoundTrip{"FullTableWithoutClear", Noise(40000, 3, 256), false},
                    TRoundTrip{"FullTableLongStrings", Noise(200000, 4, 4), false}),
    [](const testing::TestParamInfo<TRoundTrip>& info) { return info.param.Name; });

// The width grows one code early: after the 254th code of a table the decoder has 253
// entries and its next free code is 511, so the 255th code is read with 10 bits.
TEST(LzwTest, WidthGrowsOneCodeBeforeTheTableNeedsIt) {
    TBitWriter w;
    w.Put(256, 9);
    std::string expected;
    for (int i = 0; i < 254; ++i) {
        w.Put(static_cast<std::uint32_t>(i), 9);
        expected += static_cast<char>(i);
    }
    w.Put(7, 10);
    w.Put(257, 10);
    expected += '\7';
    const TDecoded d = Decode(w.Finish(), 1000);
    EXPECT_TRUE(d.Ok);
    EXPECT_EQ(d.Out, expected);
}

TEST(LzwTest, ClearResetsTheWidth) {
    // Fill past 511 entries, Clear (sent at 10 bits), then 9-bit codes again.
    TBitWriter w;
    w.Put(256, 9);
    std::string expected;
    for (int i = 0; i < 300; ++i) {
        w.Put(static_cast<std::uint32_t>(i & 0xFF), i < 254 ? 9 : 10);
        expected += static_cast<char>(i & 0xFF);
    }
    w.Put(256, 10);
    w.Put('A', 9);
    w.Put('B', 9);
    w.Put(258, 9);  // "AB"
    w.Put(257, 9);
    expected += "ABAB";
    const TDecoded d = Decode(w.Finish(), 1000);
    EXPECT_TRUE(d.Ok);
    EXPECT_EQ(d.Out, expected);
}

// Streams that must be refused, and what was decoded before the bad code.
struct TBadStream {
    const char* Name;
    std::vector<std::pair<std::uint32_t, int>> Codes;  // code, width
};

class LzwInvalid : public testing::TestWithParam<TBadStream> {};

TEST_P(LzwInvalid, Refused) {
    TBitWriter w;
    for (auto [code, width] : GetParam().Codes) w.Put(code, width);
    EXPECT_FALSE(Decode(w.Finish(), 100).Ok);
}

INSTANTIATE_TEST_SUITE_P(
    Lzw, LzwInvalid,
    testing::Values(
        // Next free code is 259 after two literals; 300 names nothing.
        TBadStream{"CodeBeyondNextFree", {{256, 9}, {'a', 9}, {'b', 9}, {300, 9}}},
        // Right after a Clear the table holds only literals.
        TBadStream{"TableCodeFirst", {{256, 9}, {258, 9}}},
        TBadStream{"TableCodeAtStart", {{258, 9}, {'a', 9}}}),
    [](const testing::TestParamInfo<TBadStream>& info) { return info.param.Name; });

TEST(LzwTest, OldStyleStripsAreRefused) {
    // Least-significant-bit-first Clear code: bytes 0x00 0x01.
    EXPECT_FALSE(Decode(std::string("\x00\x01\x02\x03", 4), 16).Ok);
    // A new-style strip that happens to start with a 0 literal is not mistaken for one.
    TBitWriter w;
    w.Put(0, 9);
    w.Put('a', 9);
    w.Put(257, 9);
    const TDecoded d = Decode(w.Finish(), 16);
    EXPECT_TRUE(d.Ok);
    EXPECT_EQ(d.Out, std::string("\0a", 2));
}

TEST(LzwTest, OutputLongerThanTheBufferIsCut) {
    const std::string data = Repeated("abcabcabd", 500);
    for (std::size_t room : {0u, 1u, 7u, 100u, 1000u, 4499u}) {
        const TDecoded d = Decode(LzwEncode(data), room);
        EXPECT_TRUE(d.Ok) << room;
        EXPECT_EQ(d.Out, data.substr(0, room)) << room;
    }
    // Runs decode through the code being defined; cut in the middle of one.
    const std::string run(3000, 'z');
    const TDecoded d = Decode(LzwEncode(run), 2017);
    EXPECT_EQ(d.Out, run.substr(0, 2017));
}

TEST(LzwTest, InputWithoutEndOfInformationEndsWhereTheBytesEnd) {
    const std::string data = Repeated("0123456789", 40);
    std::string encoded = LzwEncode(data);
    encoded.resize(encoded.size() / 2);
    const TDecoded d = Decode(encoded, data.size());
    EXPECT_TRUE(d.Ok);
    EXPECT_GT(d.Out.size(), 0u);
    EXPECT_LT(d.Out.size(), data.size());
    EXPECT_EQ(d.Out, data.substr(0, d.Out.size()));
}

TEST(LzwTest, CodesAfterEndOfInformationAreIgnored) {
    TBitWriter w;
    w.Put(256, 9);
    w.Put('q', 9);
    w.Put(257, 9);
    w.Put(500, 9);  // would be invalid
    const TDecoded d = Decode(w.Finish(), 16);
    EXPECT_TRUE(d.Ok);
    EXPECT_EQ(d.Out, "q");
}

TEST(LzwTest, ArbitraryBytesNeverWriteOutsideTheBuffer) {
    std::mt19937 random(7);
    for (int i = 0; i < 2000; ++i) {
        std::string in = Noise(static_cast<std::size_t>(random() % 300), random(), 256);
        if (in.size() >= 2 && i % 2 == 0) in[0] = static_cast<char>(0x80);
        Decode(in, static_cast<std::size_t>(random() % 600));  // checks the bounds itself
    }
}

}  // namespace
}  // namespace pix
