// SPDX-License-Identifier: MIT
#include "platform/gui/rtf_reader.h"

#include <QTextBlock>
#include <QTextCharFormat>
#include <QTextDocument>
#include <QTextFragment>

#include <gtest/gtest.h>

#include <chrono>
#include <string>

namespace pix {
namespace {

// The document's text as UTF-8 with bold runs in "*", line breaks as "|" and paragraph
// ends as "/".
std::string Marked(const QTextDocument& document) {
    QString out;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        if (block != document.begin()) out += u'/';
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            QString text = fragment.text();
            text.replace(QChar(QChar::LineSeparator), u'|');
            const bool bold = fragment.charFormat().fontWeight() >= QFont::Bold;
            out += bold ? u'*' + text + u'*' : text;
        }
    }
    return out.toStdString();
}

std::string Read(std::string_view rtf) {
    QTextDocument document;
    LoadRtf(rtf, document);
    return Marked(document);
}

struct TRtfCase {
    const char* Rtf;
    const char* Expected;
};

class RtfReaderTest : public testing::TestWithParam<TRtfCase> {};

TEST_P(RtfReaderTest, ReadsTextAndBold) { EXPECT_EQ(Read(GetParam().Rtf), GetParam().Expected); }

const TRtfCase kCases[] = {
    {"{\\rtf1 plain text}", "plain text"},
    {"{\\rtf1 \\b1 Label:\\b0  value\\line next\\line }", "*Label:* value|next|"},
    {"{\\rtf1 \\b bold\\b0 x}", "*bold*x"},
    {"{\\rtf1 {\\b inner} outer}", "*inner* outer"},
    {"{\\rtf1 \\b a{\\b0 b}c\\plain d}", "*a*b*c*d"},
    {"{\\rtf1 a\\\\b\\{c\\}}", "a\\b{c}"},
    {"{\\rtf1 \\'e4\\'C4 \xE4\\'80\x80}", "\xC3\xA4\xC3\x84 \xC3\xA4\xE2\x82\xAC\xE2\x82\xAC"},
    {"{\\rtf1 one\\par two\\par}", "one/two/"},
    {"{\\rtf1 a\r\nb\\\r\nc}", "ab/c"},
    {"{\\rtf1 \\tab x\\~y}", "\tx\xC2\xA0y"},
    {"{\\rtf1 {\\fonttbl {\\f1 \\fnil MS Sans Serif;}}text}", "text"},
    {"{\\rtf1 {\\*\\generator Hidden {nested}}shown}", "shown"},
    {"{\\rtf1 {\\*\\unknown hidden\\b1 }visible}", "visible"},
    {"{\\rtf1 \\unknownword text \\x\\y1 more}", "text more"},
    {"{\\rtf1 \\u8364?x\\uc0\\u8482 y}",
     "\xE2\x82\xAC"
     "x\xE2\x84\xA2y"},
    {"{\\rtf1 \\u-4064?}", "\xEF\x80\xA0"},
    {"{\\rtf1 \\bin3 {{{after}", "after"},
    // Hostile shapes: nothing is lost that a reader could keep, and nothing breaks.
    {"}}}a{b", "ab"},
    {"{\\rtf1 x\\'4", "x"},
    {"{\\rtf1 x\\'4g", "xg"},
    {"{\\rtf1 x\\", "x"},
    {"\\fs99999999999999999999999 big \\b-99999999999999999999 c", "big *c*"},
    {"\\u99999999999 a\\uc999999999 \\u1 z {w}", "w"},
    {"\\bin-5 a\\bin99999999999999 lost", "a"},
};

INSTANTIATE_TEST_SUITE_P(Documents, RtfReaderTest, testing::ValuesIn(kCases));

TEST(RtfReader, ColoursAndSizeFromTheTables) {
    QTextDocument document;
    LoadRtf(
        "{\\rtf1 {\\colortbl;\\red255\\green255\\blue240;\\red0\\green128\\blue0;}"
        "{\\fs18\\cf2\\cb1 green}\\cf0\\cb9 auto}",
        document);
    ASSERT_EQ(Marked(document), "greenauto");
    const QTextBlock block = document.begin();
    auto it = block.begin();
    const QTextCharFormat green = it.fragment().charFormat();
    EXPECT_EQ(green.foreground().color(), QColor(0, 128, 0));
    EXPECT_EQ(green.background().color(), QColor(255, 255, 240));
    EXPECT_DOUBLE_EQ(green.fontPointSize(), 9.0);
    ++it;
    ASSERT_FALSE(it.atEnd());
    const QTextCharFormat plain = it.fragment().charFormat();
    // Entry 0 is "auto" and 9 does not exist: neither sets a colour.
    EXPECT_FALSE(plain.hasProperty(QTextFormat::ForegroundBrush));
    EXPECT_FALSE(plain.hasProperty(QTextFormat::BackgroundBrush));
    EXPECT_FALSE(plain.hasProperty(QTextFormat::FontPointSize));
}

TEST(RtfReader, LoadingReplacesTheContent) {
    QTextDocument document;
    LoadRtf("{\\rtf1 first}", document);
    LoadRtf("{\\rtf1 second}", document);
    EXPECT_EQ(document.toPlainText().toStdString(), "second");
}

// Nesting past the reader's depth keeps the outer state when the groups close again, and a
// huge input is read in linear time.
TEST(RtfReader, DeepNestingIsBoundedAndLinear) {
    const std::size_t depth = 200000;
    const std::string rtf = std::string(depth, '{') + "\\b x" + std::string(depth, '}') + "y";
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Read(rtf), "*x*y");
    const std::string words = [] {
        std::string s;
        for (int i = 0; i < 100000; ++i) s += "\\b a\\b0 b\\'e4{\\*\\x z}";
        return s;
    }();
    QTextDocument document;
    LoadRtf(words, document);
    EXPECT_EQ(document.characterCount(), 100000 * 3 + 1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
}

}  // namespace
}  // namespace pix
