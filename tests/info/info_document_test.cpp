// SPDX-License-Identifier: MIT
#include "info/info_document.h"

#include "platform/file_system.h"
#include "platform/gui/rtf_reader.h"

#include <QTextDocument>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <limits>
#include <ostream>
#include <string>
#include <vector>

namespace pix {
namespace {

const std::string kHead =
    "{\\rtf1 \\deff1{\\fonttbl {\\f1 \\fnil MS Sans Serif;}}\r\n"
    "{\\colortbl\\red0\\green0\\blue0;\\red255\\green255\\blue240;\\red0\\green128\\blue0;}\r\n"
    "{\\f1\\fs18\\cf0\\cb1 ";
const std::string kDefaultParams =
    "\\b1 Magnification:\\b0  0x\\line \\b1 Working Distance:\\b0  0 mm\\line "
    "\\b1 High Voltage:\\b0  0 kV\\line ";

// Dates as "YYYY-MM-DD" and times as "hh:mm:ss", so that the expected bytes do not depend
// on the machine's locale.
TInfoLocale FixedLocale(char decimalSeparator = '.') {
    TInfoLocale locale;
    locale.DecimalSeparator = decimalSeparator;
    return locale;
}

// Runs a test body under a fixed time zone and restores the machine's afterwards.
class TZoneGuard {
public:
    explicit TZoneGuard(const char* zone) {
        if (const char* old = std::getenv("TZ")) FOld = old;
        FHadOld = std::getenv("TZ") != nullptr;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~TZoneGuard() {
        if (FHadOld) {
            setenv("TZ", FOld.c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }

private:
    std::string FOld;
    bool FHadOld = false;
};

struct TDocumentCase {
    const char* Name;
    std::function<void(TThumbInfo&)> Fill;
    std::string Body;  // between the head and the closing "}}"
    char DecimalSeparator = '.';
    TTextLimit Limit = {};
};

void PrintTo(const TDocumentCase& c, std::ostream* os) { *os << c.Name; }

class InfoDocumentTest : public testing::TestWithParam<TDocumentCase> {};

TEST_P(InfoDocumentTest, WritesExpectedBytes) {
    const TDocumentCase& c = GetParam();
    TThumbInfo entry;
    c.Fill(entry);
    EXPECT_EQ(BuildInfoDocument(entry, {}, FixedLocale(c.DecimalSeparator), c.Limit),
              kHead + c.Body + "}}");
}

std::int32_t Dos(int year, int month, int day, int hour, int minute, int second) {
    return PackDosDateTime({year, month, day, hour, minute, second});
}

void Params(TThumbInfo& e, const char* names, const char* format) {
    e.ParamNames = names;
    e.ParamFormat = format;
    e.Magnification = 2500;
    e.WorkingDistance = 8.5;
    e.HighVoltage = 15;
}

const TDocumentCase kDocumentCases[] = {
    {"PlainBmp",
     [](TThumbInfo& e) {
         e.FileDate = Dos(2024, 3, 5, 14, 7, 32);
         e.Width = 640;
         e.Height = 480;
         e.BitCount = 8;
         e.DataSize = 640 * 480;
     },
     "\\b1 File date:\\b0  2024-03-05 14:07:32\\line \\b1 Format:\\b0  640 x 480 x 8\\line " +
         kDefaultParams},
    {"EmptyEntry", [](TThumbInfo&) {}, kDefaultParams},
    {"MissingFileAndNoBitCount",
     [](TThumbInfo& e) {
         e.FileDate = -1;
         e.Width = 10;
         e.Height = 20;
     },
     "\\b1 Format:\\b0  10 x 20\\line " + kDefaultParams},
    {"InvalidFileDateLeftOut", [](TThumbInfo& e) { e.FileDate = Dos(2001, 13, 31, 0, 0, 0); },
     kDefaultParams},
    {"MultiImage",
     [](TThumbInfo& e) {
         e.ImageCount = 4;
         e.DataSize = 1600;
         e.Width = 300;
         e.Height = 200;
         e.BitCount = 8;
     },
     "\\b1 File size:\\b0  2 KB\\line \\b1 Single images:\\b0  4\\line " + kDefaultParams},
    {"FileSizeHalfRoundsUp",
     [](TThumbInfo& e) {
         e.ImageCount = 2;
         e.DataSize = 2560;
     },
     "\\b1 File size:\\b0  3 KB\\line \\b1 Single images:\\b0  2\\line " + kDefaultParams},
    {"AuthorWithTwoBackslashes",
     [](TThumbInfo& e) {
         e.Author = "Lab\\B\\12";
         e.Copyright = "\xA9 2024";
     },
     "\\b1 Author:\\b0  Lab\\\\B\\\\12\\line \\b1 Copyright:\\b0  \xA9 2024\\line " +
         kDefaultParams},
    {"ThreeLineComment", [](TThumbInfo& e) { e.Comment = "first\r\nsecond\nthird\r"; },
     "\\b1 Comment:\\b0 \\line    first\\line    second\\line    third\\line " + kDefaultParams},
    {"CommentWithEmptyLinesAndLfCr", [](TThumbInfo& e) { e.Comment = "a\n\rb\r\n\r\n"; },
     "\\b1 Comment:\\b0 \\line    a\\line    \\line    b\\line    \\line " + kDefaultParams},
    {"BracesInComment", [](TThumbInfo& e) { e.Comment = "{\\b1 x}"; },
     "\\b1 Comment:\\b0 \\line    \\{\\\\b1 x\\}\\line " + kDefaultParams},
    {"NumberAndNotes",
     [](TThumbInfo& e) {
         e.ImageNumber = -5;
         e.LinescanData = -1;
         e.PointscanData = -2;
         e.MeasurementData = -1;
     },
     "\\b1 Image number:\\b0  -5\\line " + kDefaultParams +
         "\\b1 Linescan data present\\b0 \\line \\b1 Pointscan data present\\b0 \\line "
         "\\b1 Measurement data present\\b0 \\line "},
    {"LowerCaseNamesWithBlanks",
     [](TThumbInfo& e) { Params(e, "  hv, mag ,wd ", "Beam: %.1f kV\r\nx%.0f\nWD: %.2f mm"); },
     "\\b1 Beam:\\b0  15.0 kV\\line x2500\\line \\b1 WD:\\b0  8.50 mm\\line "},
    {"QuotedNamesAndOnlyFirstColonBold",
     [](TThumbInfo& e) { Params(e, "\"MAG\" HV", "A: b: %.0f\\%.0f"); },
     "\\b1 A:\\b0  b: 2500\\\\15\\line "},
    {"UnrecognisedName", [](TThumbInfo& e) { Params(e, "MAG,XX,HV", "%.0f %.0f %.0f"); }, ""},
    {"EmptyNameFromTrailingComma", [](TThumbInfo& e) { Params(e, "MAG,", "%.0f"); }, ""},
    {"IntegerConversionRefused", [](TThumbInfo& e) { Params(e, "MAG", "Mag: %d"); }, ""},
    {"MoreConversionsThanNames", [](TThumbInfo& e) { Params(e, "MAG,WD", "%.0f %.0f %.0f"); }, ""},
    {"HalvesAwayFromZero",
     [](TThumbInfo& e) {
         Params(e, "MAG,WD,HV", "M: %.0f\nW: %.1f\nH: %.0f");
         e.Magnification = 0.5;
         e.WorkingDistance = 0.25;
         e.HighVoltage = -2.5;
     },
     "\\b1 M:\\b0  1\\line \\b1 W:\\b0  0.3\\line \\b1 H:\\b0  -3\\line "},
    {"CommaDecimalSeparator",
     [](TThumbInfo& e) {
         Params(e, "WD", "Working Distance: %.2f mm");
         e.ImageCount = 2;
         e.DataSize = 1536;
     },
     "\\b1 File size:\\b0  2 KB\\line \\b1 Single images:\\b0  2\\line "
     "\\b1 Working Distance:\\b0  8,50 mm\\line ",
     ','},
    {"LongParameterLineIsNotCut",
     [](TThumbInfo& e) { Params(e, "MAG", ("Note: " + std::string(300, 'n') + " %.0f").c_str()); },
     "\\b1 Note:\\b0  " + std::string(300, 'n') + " 2500\\line "},
    // Every text is cut at the line and byte limits, with a line saying what is left out.
    {"TextsCutAtTwoLines",
     [](TThumbInfo& e) {
         e.Comment = "a\nb\r\nc\r\nd";
         e.Copyright = "one\ntwo\n";
     },
     "\\b1 Copyright:\\b0  one\ntwo\n\\line \\b1 Comment:\\b0 \\line    a\\line    b\\line "
     "   [2 more lines, 4 bytes left out]\\line \\b1 Magnification:\\b0  0x\\line "
     "\\b1 Working Distance:\\b0  0 mm\\line [1 more lines, 18 bytes left out]\\line ",
     '.',
     {2, 0}},
    {"TextsCutAtFourBytes",
     [](TThumbInfo& e) {
         e.Author = "ab\\\\cdefg";
         e.Comment = "abcd";
     },
     "\\b1 Author:\\b0  ab\\\\\\\\\\line [0 more lines, 5 bytes left out]\\line "
     "\\b1 Comment:\\b0 \\line    abcd\\line Magn\\line [2 more lines, 57 bytes left out]\\line ",
     '.',
     {0, 4}},
};

INSTANTIATE_TEST_SUITE_P(Entries, InfoDocumentTest, testing::ValuesIn(kDocumentCases),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(InfoDocument, TranslatesLabelsButNotParameters) {
    TThumbInfo entry;
    entry.Width = 1;
    entry.Height = 2;
    entry.LinescanData = -1;
    const TTranslate translate = [](const std::string& text) { return "<" + text + ">"; };
    EXPECT_EQ(BuildInfoDocument(entry, translate, FixedLocale()),
              kHead + "\\b1 <Format:>\\b0  1 x 2\\line " + kDefaultParams +
                  "\\b1 <Linescan data present>\\b0 \\line }}");
}

// The record time is UTC; the panel shows it with the zone's offset for that date.
TEST(InfoDocument, RecordTimeInLocalTimeOfItsDate) {
    const TZoneGuard zone("CET-1CEST,M3.5.0,M10.5.0/3");
    const auto recordLine = [](SYSTEMTIME time, const TInfoLocale& locale) {
        TThumbInfo entry;
        entry.RecordTime = time;
        const std::string doc = BuildInfoDocument(entry, {}, locale);
        return doc.substr(kHead.size(), doc.size() - kHead.size() - kDefaultParams.size() - 2);
    };
    const TInfoLocale locale = FixedLocale();
    EXPECT_EQ(recordLine({2024, 7, 0, 1, 12, 0, 5, 0}, locale),
              "\\b1 Record time:\\b0  2024-07-01 14:00:05\\line ");
    EXPECT_EQ(recordLine({2024, 1, 3, 15, 12, 0, 5, 0}, locale),
              "\\b1 Record time:\\b0  2024-01-15 13:00:05\\line ");
    // Local midnight leaves the time out; a millisecond past it does not.
    EXPECT_EQ(recordLine({2024, 1, 0, 14, 23, 0, 0, 0}, locale),
              "\\b1 Record time:\\b0  2024-01-15\\line ");
    EXPECT_EQ(recordLine({2024, 1, 0, 14, 23, 0, 0, 1}, locale),
              "\\b1 Record time:\\b0  2024-01-15 00:00:00\\line ");
    // Invalid records leave the line out.
    EXPECT_EQ(recordLine({2023, 2, 0, 29, 10, 0, 0, 0}, locale), "");
    EXPECT_EQ(recordLine({2024, 13, 0, 1, 10, 0, 0, 0}, locale), "");
    EXPECT_EQ(recordLine({2024, 1, 0, 1, 24, 0, 0, 0}, locale), "");
    EXPECT_EQ(recordLine({2024, 1, 0, 1, 1, 0, 0, 1000}, locale), "");
    EXPECT_EQ(recordLine({9999, 12, 0, 31, 23, 30, 0, 0}, locale), "");  // past year 9999
    // The locale's hooks decide the texts.
    TInfoLocale custom = FixedLocale();
    custom.ShortDate = [](const TLocalDateTime& t) { return std::to_string(t.Day) + "/x"; };
    custom.LongTime = [](const TLocalDateTime& t) { return std::to_string(t.Hour) + "h"; };
    EXPECT_EQ(recordLine({2024, 7, 0, 1, 12, 0, 5, 0}, custom),
              "\\b1 Record time:\\b0  1/x 14h\\line ");
}

struct TFormatCase {
    const char* Format;
    std::vector<double> Values;
    bool Ok;
    const char* Expected = "";
    char Separator = '.';
};

void PrintTo(const TFormatCase& c, std::ostream* os) { *os << '"' << c.Format << '"'; }

class FormatParamsTest : public testing::TestWithParam<TFormatCase> {};

TEST_P(FormatParamsTest, FormatsOrRefuses) {
    const TFormatCase& c = GetParam();
    std::string out;
    ASSERT_EQ(FormatParams(c.Format, c.Values, c.Separator, out), c.Ok) << c.Format;
    if (c.Ok) {
        EXPECT_EQ(out, c.Expected) << c.Format;
    }
}

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNan = std::numeric_limits<double>::quiet_NaN();

const TFormatCase kFormatCases[] = {
    // Exact halves round away from zero; values only near a half round to nearest.
    {"%.0f %.0f %.0f %.0f", {0.5, 1.5, 2.5, -0.5}, true, "1 2 3 -1"},
    {"%.2f %.2f %.3f", {0.125, 1.005, 0.0005}, true, "0.13 1.00 0.001"},
    {"%.0f", {0.49999999999999994}, true, "0"},
    {"%.1f %.1f", {9.95, 9.75}, true, "9.9 9.8"},  // 9.95 lies below the half
    {"%.0f", {99.5}, true, "100"},
    {"%f|%.0f", {0, 1e20}, true, "0.000000|100000000000000000000"},
    {"%.0e %e %.1E", {2.5, 12345.678, 0.25}, true, "3e+00 1.234568e+04 2.5E-01"},
    {"%.1e %e", {9.96, 0}, true, "1.0e+01 0.000000e+00"},
    {"%e", {1e-300}, true, "1.000000e-300"},
    {"%g %g %g %g %g", {100000, 1000000, 0.0001, 0.00001, 0}, true, "100000 1e+06 0.0001 1e-05 0"},
    {"%.2g %.1g %.3g %G", {0.125, 2.5, 999.5, 1e-10}, true, "0.13 3 1e+03 1E-10"},
    {"%#g %#.0f %#.0e %.0g", {1, 3, 4, 7}, true, "1.00000 3. 4.e+00 7"},
    {"%+08.2f|%-8.1f|% f|%8.3f",
     {3.14159, 2.25, 1, -1.5},
     true,
     "+0003.14|2.3     | 1.000000|  -1.500"},
    {"%010.3e|%-+6.0f|%+ .0f", {-1.5, 2, 2}, true, "-1.500e+00|+2    |+2"},
    {"%f %E %05f %g", {kInf, kNan, -kInf, -kNan}, true, "inf NAN  -inf -nan"},
    {"%F %.1F %08.2F %F", {0.5, 2.25, -3, kInf}, true, "0.500000 2.3 -0003.00 INF"},
    {"%%%.0f%% 100%%", {5}, true, "%5% 100%"},
    {"no conversions", {}, true, "no conversions"},
    {"%.0f", {1, 2}, true, "1"},  // values left over are ignored
    {"a.b %.2f %g %.1e", {1.25, 1.5, 1.5}, true, "a.b 1,25 1,5 1,5e+00", ','},
    {"%d", {1}, false},
    {"%s", {1}, false},
    {"%n", {1}, false},
    {"%lf", {1}, false},
    {"%*f", {1, 2}, false},
    {"%.*f", {1, 2}, false},
    {"%1$f", {1}, false},
    {"abc %", {1}, false},
    {"%5.", {1}, false},
    {"%.0f %.0f", {1}, false},
    {"%f", {}, false},
    {"%.99999999999f", {1}, false},
    {"%99999999999f", {1}, false},
};

INSTANTIATE_TEST_SUITE_P(Formats, FormatParamsTest, testing::ValuesIn(kFormatCases));

// A file can name one parameter many times with a wide format; the text stays bounded.
TEST(FormatParams, RefusesAHugeResult) {
    std::string format;
    for (int i = 0; i < 2000; ++i) format += "%1000.0f";
    const std::vector<double> values(2000, 1.0);
    std::string out;
    EXPECT_FALSE(FormatParams(format, values, '.', out));
    ASSERT_TRUE(FormatParams(format.substr(0, format.size() / 2), values, '.', out));
    EXPECT_EQ(out.size(), 1000u * 1000u);
    TThumbInfo entry;
    entry.ParamFormat = format;
    for (int i = 0; i < 2000; ++i) entry.ParamNames += "MAG,";
    entry.ParamNames.pop_back();
    EXPECT_EQ(BuildInfoDocument(entry, {}, FixedLocale()), kHead + "}}");
}

// What the panel shows: the document read back by the rich-text reader.
TEST(InfoDocument, ReadsBackAsThePanelShowsIt) {
    TThumbInfo entry;
    entry.Width = 5;
    entry.Height = 6;
    entry.Author = "A\\B {C}";
    entry.Comment = "line one\r\n\xE4rger";
    const std::string rtf = BuildInfoDocument(entry, {}, FixedLocale());
    QTextDocument document;
    LoadRtf(rtf, document);
    EXPECT_EQ(document.toPlainText().toStdString(),
              "Format: 5 x 6\nAuthor: A\\B {C}\nComment:\n   line one\n   \xC3\xA4rger\n"
              "Magnification: 0x\nWorking Distance: 0 mm\nHigh Voltage: 0 kV\n");
}

}  // namespace
}  // namespace pix
