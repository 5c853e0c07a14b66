// SPDX-License-Identifier: MIT
#include "platform/code_page.h"

#include <gtest/gtest.h>

namespace pix {
namespace {

TEST(Cp1252Test, EveryByteSurvivesTheRoundTripThroughUtf8) {
    std::string all;
    for (int b = 1; b < 256; ++b) all += static_cast<char>(b);
    EXPECT_EQ(Utf8ToCp1252(Cp1252ToUtf8(all)), all);
}

TEST(Cp1252Test, KnownCharacters) {
    EXPECT_EQ(Cp1252ToUtf8("\x80"), "\u20AC");
    EXPECT_EQ(Cp1252ToUtf8("\x9F"), "\u0178");
    EXPECT_EQ(Cp1252ToUtf8("Gr\xFC\xDF"), "Gr\u00FC\u00DF");
    EXPECT_EQ(Cp1252ToUtf8("\xB5m"), "\u00B5m");
    // The five unassigned bytes become the C1 control of the same number.
    EXPECT_EQ(Cp1252ToUtf8("\x81\x8D"), "\u0081\u008D");
    EXPECT_EQ(Utf8ToCp1252("\u20AC \u2122 \u00FC"), "\x80 \x99 \xFC");
}

TEST(Cp1252Test, MissingAndMalformedCharactersBecomeQuestionMarks) {
    EXPECT_EQ(Utf8ToCp1252("\u03B1\u2500"), "??");     // alpha, box line
    EXPECT_EQ(Utf8ToCp1252("\u0080"), "?");            // a C1 control 1252 maps elsewhere
    EXPECT_EQ(Utf8ToCp1252("\xF0\x9F\x98\x80"), "?");  // beyond the BMP
    EXPECT_EQ(Utf8ToCp1252("a\xC3"), "a?");            // truncated sequence
    EXPECT_EQ(Utf8ToCp1252("\xC0\xAF"), "??");         // overlong "/"
    EXPECT_EQ(Utf8ToCp1252("\xED\xA0\x80"), "???");    // a surrogate
    EXPECT_EQ(Utf8ToCp1252("\xFF"
                           "b"),
              "?b");
}

struct TOemCase {
    int codePage;
    unsigned char oem;
    unsigned char ansi;
};

class OemTest : public ::testing::TestWithParam<TOemCase> {};

TEST_P(OemTest, MapsToWindows1252) {
    const auto& t = GetParam();
    const std::string in(1, static_cast<char>(t.oem));
    EXPECT_EQ(static_cast<unsigned char>(OemToAnsi(in, t.codePage)[0]), t.ansi)
        << "code page " << t.codePage << " byte " << int(t.oem);
}

INSTANTIATE_TEST_SUITE_P(Table, OemTest,
                         ::testing::Values(TOemCase{437, 0x81, 0xFC},  // ü
                                           TOemCase{437, 0xE1, 0xDF},  // ß
                                           TOemCase{437, 0x8E, 0xC4},  // Ä
                                           TOemCase{437, 0xE6, 0xB5},  // µ
                                           TOemCase{437, 0xF8, 0xB0},  // °
                                           TOemCase{437, 0x9F,
                                                    0x83},  // ƒ, in 1252's own high range
                                           TOemCase{437, 0x9B, 0xA2},  // ¢
                                           TOemCase{437, 0xC4, '?'},   // box line: no equivalent
                                           TOemCase{437, 0xE0, '?'},   // alpha
                                           TOemCase{850, 0x9B, 0xF8},  // ø
                                           TOemCase{850, 0x9D, 0xD8},  // Ø
                                           TOemCase{850, 0xB8, 0xA9},  // ©
                                           TOemCase{850, 0xE1, 0xDF},  // ß
                                           TOemCase{850, 0xD5, '?'},   // dotless i
                                           TOemCase{850, 0xF2, '?'},   // double low line
                                           TOemCase{1234, 0x9B, 0xA2}  // unknown pages read as 437
                                           ));

TEST(OemTest, AsciiIsKeptAndLengthPreserved) {
    EXPECT_EQ(OemToAnsi("WD = 10 mm\t"), "WD = 10 mm\t");
    EXPECT_EQ(OemToAnsi("Gr\x81\xE1"), "Gr\xFC\xDF");
    EXPECT_EQ(OemToAnsi("\xB0\xB1\xB2", 850).size(), 3u);
}

}  // namespace
}  // namespace pix
