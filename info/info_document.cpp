// SPDX-License-Identifier: MIT
#include "info/info_document.h"

#include "platform/code_page.h"
#include "platform/file_system.h"
#include "platform/res_strings.h"

#include <QDate>
#include <QLocale>
#include <QString>
#include <QTime>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <utility>
#include <vector>

namespace pix {
namespace {

// One font (MS Sans Serif, 9 points), a colour table of black, ivory and green, and black
// text on ivory for everything that follows.
constexpr std::string_view kDocumentHead =
    "{\\rtf1 \\deff1{\\fonttbl {\\f1 \\fnil MS Sans Serif;}}\r\n"
    "{\\colortbl\\red0\\green0\\blue0;\\red255\\green255\\blue240;\\red0\\green128\\blue0;}\r\n"
    "{\\f1\\fs18\\cf0\\cb1 ";
static_assert(kDocumentHead.size() == 148);

// Widths and precisions above this are refused: a format comes from the image file, and
// "%.999999999f" must not make a gigabyte of zeros.
constexpr int kMaxFieldSize = 1000;
// The formatted parameters may not grow past this; a file naming a parameter many times
// with a wide format could otherwise ask for gigabytes.
constexpr std::size_t kMaxParamText = 1 << 20;

// ---- Floating-point conversions with exact halves rounded away from zero ----

// The exact decimal value of a finite, non-zero magnitude: Digits[0].Digits[1..] x 10^Exp,
// with no trailing zeros. A double's expansion has at most 767 significant digits, so a
// precision of 780 prints it without any rounding.
struct TDecimal {
    std::string Digits = "0";
    int Exp = 0;
};

TDecimal ExactDecimal(double magnitude) {
    TDecimal d;
    if (magnitude == 0) return d;
    char buffer[800];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, magnitude,
                                      std::chars_format::scientific, 780);
    const std::string_view text(buffer, static_cast<std::size_t>(result.ptr - buffer));
    const std::size_t e = text.find('e');
    d.Digits.assign(1, text[0]);
    d.Digits.append(text.substr(2, e - 2));  // after "d."
    while (d.Digits.size() > 1 && d.Digits.back() == '0') d.Digits.pop_back();
    std::from_chars(text.data() + e + (text[e + 1] == '+' ? 2 : 1), text.data() + text.size(),
                    d.Exp);
    return d;
}

// Keeps `keep` significant digits. The first digit dropped decides: since the digits are
// exact, a 5 there means "half or more", and rounding it up rounds halves away from zero.
TDecimal RoundTo(const TDecimal& value, int keep) {
    if (keep < 0 || value.Digits == "0") return {};
    if (keep == 0) return value.Digits[0] >= '5' ? TDecimal{"1", value.Exp + 1} : TDecimal{};
    if (static_cast<std::size_t>(keep) >= value.Digits.size()) return value;
    TDecimal r{value.Digits.substr(0, static_cast<std::size_t>(keep)), value.Exp};
    if (value.Digits[static_cast<std::size_t>(keep)] >= '5') {
        std::size_t i = r.Digits.size();
        while (i > 0 && r.Digits[i - 1] == '9') r.Digits[--i] = '0';
        if (i == 0) {
            r.Digits.insert(r.Digits.begin(), '1');
            r.Digits.pop_back();
            ++r.Exp;
        } else {
            ++r.Digits[i - 1];
        }
    }
    return r;
}

char DigitAt(const TDecimal& d, int index) {
    return index >= 0 && static_cast<std::size_t>(index) < d.Digits.size()
               ? d.Digits[static_cast<std::size_t>(index)]
               : '0';
}

// Fixed notation of an already rounded value; `point` puts the separator in even when no
// digits follow it.
std::string FixedText(const TDecimal& d, int precision, bool point) {
    std::string s;
    if (d.Exp < 0) {
        s = "0";
    } else {
        for (int i = 0; i <= d.Exp; ++i) s += DigitAt(d, i);
    }
    if (precision > 0 || point) s += '.';
    for (int i = 1; i <= precision; ++i) s += DigitAt(d, d.Exp + i);
    return s;
}

std::string ExponentText(const TDecimal& d, int precision, bool point, char letter) {
    std::string s(1, d.Digits[0]);
    if (precision > 0 || point) s += '.';
    for (int i = 1; i <= precision; ++i) s += DigitAt(d, i);
    const int exp = d.Digits == "0" ? 0 : d.Exp;
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%c%c%02d", letter, exp < 0 ? '-' : '+',
                  exp < 0 ? -exp : exp);
    return s + buffer;
}

// Drops trailing zeros of the fraction, and the point when nothing is left after it.
void StripFraction(std::string& s, std::size_t end) {
    const std::size_t point = s.find('.');
    if (point == std::string::npos || point >= end) return;
    std::size_t cut = end;
    while (cut > point + 1 && s[cut - 1] == '0') --cut;
    if (cut == point + 1) cut = point;
    s.erase(cut, end - cut);
}

struct TConversion {
    bool Left = false, Plus = false, Space = false, Alternate = false, Zero = false;
    int Width = 0;
    int Precision = -1;
    char Type = 'f';
};

std::string FormatFloat(const TConversion& c, double value, char decimalSeparator) {
    const bool upper = c.Type == 'F' || c.Type == 'E' || c.Type == 'G';
    std::string sign = std::signbit(value) ? "-" : c.Plus ? "+" : c.Space ? " " : "";
    std::string body;
    const bool finite = std::isfinite(value);
    if (!finite) {
        body = std::isnan(value) ? (upper ? "NAN" : "nan") : (upper ? "INF" : "inf");
    } else {
        const TDecimal exact = ExactDecimal(std::fabs(value));
        const int precision = c.Precision < 0 ? 6 : c.Precision;
        switch (c.Type) {
            case 'f':
            case 'F':
                body = FixedText(RoundTo(exact, exact.Exp + 1 + precision), precision, c.Alternate);
                break;
            case 'e':
            case 'E':
                body = ExponentText(RoundTo(exact, precision + 1), precision, c.Alternate, c.Type);
                break;
            default: {
                const int p = precision == 0 ? 1 : precision;
                const TDecimal rounded = RoundTo(exact, p);
                const int x = rounded.Digits == "0" ? 0 : rounded.Exp;
                if (p > x && x >= -4) {
                    const int fraction = p - 1 - x;
                    body =
                        FixedText(RoundTo(exact, exact.Exp + 1 + fraction), fraction, c.Alternate);
                } else {
                    body = ExponentText(rounded, p - 1, c.Alternate, upper ? 'E' : 'e');
                }
                if (!c.Alternate) {
                    const std::size_t e = body.find_first_of("eE");
                    StripFraction(body, e == std::string::npos ? body.size() : e);
                }
            }
        }
        for (char& ch : body) {
            if (ch == '.') ch = decimalSeparator;
        }
    }
    const std::size_t length = sign.size() + body.size();
    const std::size_t width = static_cast<std::size_t>(c.Width);
    if (length >= width) return sign + body;
    const std::string pad(width - length, c.Zero && !c.Left && finite ? '0' : ' ');
    if (c.Left) return sign + body + pad;
    return c.Zero && finite ? sign + pad + body : pad + sign + body;
}

// Digits of a width or precision; false past kMaxFieldSize.
bool ReadField(std::string_view format, std::size_t& i, int& value) {
    value = 0;
    while (i < format.size() && format[i] >= '0' && format[i] <= '9') {
        value = value * 10 + (format[i] - '0');
        if (value > kMaxFieldSize) return false;
        ++i;
    }
    return true;
}

// ---- Texts ----

// A backslash and the braces would otherwise read as control words and groups.
std::string Escape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char ch : text) {
        if (ch == '\\' || ch == '{' || ch == '}') out += '\\';
        out += ch;
    }
    return out;
}

// Lines end at CR, LF or CR LF; a break at the very end opens no further line.
std::vector<std::string_view> SplitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t start = i;
        while (i < text.size() && text[i] != '\r' && text[i] != '\n') ++i;
        lines.push_back(text.substr(start, i - start));
        if (i < text.size() && text[i] == '\r') ++i;
        if (i < text.size() && text[i] == '\n') ++i;
    }
    return lines;
}

// The number of lines SplitLines makes of `text`, without making them.
std::size_t CountLines(std::string_view text) {
    std::size_t lines = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' || (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n')))
            ++lines;
    }
    const char last = text.empty() ? '\n' : text.back();
    return lines + (last != '\r' && last != '\n' ? 1 : 0);
}

// A text cut to a limit: the part kept and what was left out.
struct TClippedText {
    std::string_view Kept;
    std::size_t LinesLeftOut = 0;  // lines not begun in Kept
    std::size_t BytesLeftOut = 0;
};

TClippedText ClipText(std::string_view text, const TTextLimit& limit) {
    std::size_t end = text.size();
    if (limit.MaxBytes > 0 && end > limit.MaxBytes) end = limit.MaxBytes;
    if (limit.MaxLines > 0) {
        // Up to and with the break that ends the last line kept.
        std::size_t lines = 0;
        for (std::size_t i = 0; i < end; ++i) {
            if (text[i] != '\r' && text[i] != '\n') continue;
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            if (++lines == limit.MaxLines) {
                end = std::min(end, i + 1);
                break;
            }
        }
    }
    TClippedText clipped{text.substr(0, end)};
    if (end < text.size()) {
        // A line cut in its middle counts as shown; the rest of it is in the bytes.
        clipped.LinesLeftOut = CountLines(text) - CountLines(clipped.Kept);
        clipped.BytesLeftOut = text.size() - end;
    }
    return clipped;
}

bool IsBlank(char ch) { return static_cast<unsigned char>(ch) <= ' '; }

// A comma-separated list in which blanks separate items as well and double quotes group
// (a doubled quote inside stands for one); a comma at the very end adds an empty item.
std::vector<std::string> SplitNames(std::string_view text) {
    std::vector<std::string> names;
    std::size_t i = 0;
    const auto skipBlanks = [&] {
        while (i < text.size() && IsBlank(text[i])) ++i;
    };
    skipBlanks();
    while (i < text.size()) {
        std::string name;
        if (text[i] == '"') {
            ++i;
            while (i < text.size()) {
                if (text[i] == '"') {
                    if (i + 1 < text.size() && text[i + 1] == '"') {
                        name += '"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                name += text[i++];
            }
        } else {
            while (i < text.size() && !IsBlank(text[i]) && text[i] != ',') name += text[i++];
        }
        names.push_back(std::move(name));
        skipBlanks();
        if (i < text.size() && text[i] == ',') {
            if (i + 1 == text.size()) names.emplace_back();
            ++i;
            skipBlanks();
        }
    }
    return names;
}

std::string UpperTrimmed(std::string_view text) {
    std::size_t begin = 0, end = text.size();
    while (begin < end && IsBlank(text[begin])) ++begin;
    while (end > begin && IsBlank(text[end - 1])) --end;
    std::string out(text.substr(begin, end - begin));
    for (char& ch : out) {
        if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
    }
    return out;
}

int DaysInMonth(int year, int month) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

bool IsValid(const TLocalDateTime& t) {
    return t.Year >= 1 && t.Year <= 9999 && t.Month >= 1 && t.Month <= 12 && t.Day >= 1 &&
           t.Day <= DaysInMonth(t.Year, t.Month) && t.Hour >= 0 && t.Hour < 24 && t.Minute >= 0 &&
           t.Minute < 60 && t.Second >= 0 && t.Second < 60 && t.Millisecond >= 0 &&
           t.Millisecond < 1000;
}

// ---- The document ----

// A text of the message table in the document's Windows-1252 bytes, passed over by the
// caller's translation.
std::string Translated(const TResString& string, const TTranslate& translate) {
    std::string text = Utf8ToCp1252(LoadResString(string));
    return translate ? translate(text) : text;
}

class TDocumentWriter {
public:
    TDocumentWriter(const TTranslate& translate) : FTranslate(translate) {}

    std::string Label(const TResString& label) const { return Translated(label, FTranslate); }
    static std::string Bold(std::string_view text) { return "\\b1 " + std::string(text) + "\\b0 "; }
    static void Line(std::string& out, std::string_view text) {
        out += text;
        out += "\\line ";
    }

private:
    const TTranslate& FTranslate;
};

// The line after a text cut short, from the translated SInfoLeftOut.
std::string LeftOutText(const TClippedText& clipped, const TTranslate& translate) {
    std::string text = Translated(SInfoLeftOut, translate);
    for (const std::size_t count : {clipped.LinesLeftOut, clipped.BytesLeftOut}) {
        const std::size_t at = text.find("%s");
        if (at == std::string::npos) break;
        text.replace(at, 2, std::to_string(count));
    }
    return Escape(text);
}

std::string IntText(const char* format, int a, int b = 0, int c = 0) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, format, a, b, c);
    return buffer;
}

// The parameter lines, or nothing at all when the names or the format do not fit.
std::string ParameterLines(const TThumbInfo& entry, char decimalSeparator, const TTextLimit& limit,
                           const TTranslate& translate) {
    std::vector<std::string> names = SplitNames(UpperTrimmed(entry.ParamNames));
    std::string_view format = entry.ParamFormat;
    std::string defaultFormat;
    if (names.empty()) {
        // A translation that takes other values than the native format is not used.
        defaultFormat = Utf8ToCp1252(LoadResString(SInfoDefaultParamFormat));
        if (!SameConversions(defaultFormat, SInfoDefaultParamFormat.Text))
            defaultFormat = SInfoDefaultParamFormat.Text;
        names = SplitNames(kInfoDefaultParamNames);
        format = defaultFormat;
    }
    std::vector<double> values;
    for (const std::string& name : names) {
        if (name == "WD") {
            values.push_back(entry.WorkingDistance);
        } else if (name == "HV") {
            values.push_back(entry.HighVoltage);
        } else if (name == "MAG") {
            values.push_back(entry.Magnification);
        } else {
            return {};
        }
    }
    std::string text;
    if (!FormatParams(format, values, decimalSeparator, text)) return {};
    std::string out;
    const TClippedText clipped = ClipText(text, limit);
    for (const std::string_view line : SplitLines(clipped.Kept)) {
        const std::string escaped = Escape(line);
        const std::size_t colon = escaped.find(':');
        if (colon == std::string::npos) {
            TDocumentWriter::Line(out, escaped);
        } else {
            TDocumentWriter::Line(out, TDocumentWriter::Bold(escaped.substr(0, colon + 1)) +
                                           escaped.substr(colon + 1));
        }
    }
    if (clipped.BytesLeftOut > 0) TDocumentWriter::Line(out, LeftOutText(clipped, translate));
    return out;
}

// Windows' long time format names no time zone; Qt's long formats add one ("t").
QString TimeFormatWithoutZone(const QString& format) {
    QString out;
    bool quoted = false;
    for (const QChar ch : format) {
        if (ch == u'\'') quoted = !quoted;
        if (!quoted && ch == u't') continue;
        out += ch;
    }
    return out.simplified();
}

}  // namespace

bool FormatParams(std::string_view format, std::span<const double> values, char decimalSeparator,
                  std::string& out) {
    out.clear();
    std::size_t next = 0;
    std::size_t i = 0;
    while (i < format.size()) {
        const char ch = format[i++];
        if (ch != '%') {
            out += ch;
            continue;
        }
        if (i < format.size() && format[i] == '%') {
            out += '%';
            ++i;
            continue;
        }
        TConversion c;
        for (; i < format.size(); ++i) {
            const char flag = format[i];
            if (flag == '-') {
                c.Left = true;
            } else if (flag == '+') {
                c.Plus = true;
            } else if (flag == ' ') {
                c.Space = true;
            } else if (flag == '#') {
                c.Alternate = true;
            } else if (flag == '0') {
                c.Zero = true;
            } else {
                break;
            }
        }
        if (!ReadField(format, i, c.Width)) return false;
        if (i < format.size() && format[i] == '.') {
            ++i;
            if (!ReadField(format, i, c.Precision)) return false;
        }
        if (i >= format.size()) return false;
        c.Type = format[i++];
        if (c.Type != 'f' && c.Type != 'F' && c.Type != 'e' && c.Type != 'E' && c.Type != 'g' &&
            c.Type != 'G') {
            return false;
        }
        if (next >= values.size()) return false;
        out += FormatFloat(c, values[next++], decimalSeparator);
        if (out.size() > kMaxParamText) return false;
    }
    return true;
}

std::string DateTimeText(const TLocalDateTime& time, const TInfoLocale& locale) {
    char buffer[64];
    std::string text;
    if (locale.ShortDate) {
        text = locale.ShortDate(time);
    } else {
        std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d", time.Year, time.Month, time.Day);
        text = buffer;
    }
    if (time.Hour == 0 && time.Minute == 0 && time.Second == 0 && time.Millisecond == 0) {
        return text;
    }
    text += ' ';
    if (locale.LongTime) {
        text += locale.LongTime(time);
    } else {
        std::snprintf(buffer, sizeof buffer, "%02d:%02d:%02d", time.Hour, time.Minute, time.Second);
        text += buffer;
    }
    return text;
}

bool UtcToLocal(const SYSTEMTIME& utc, TLocalDateTime& local) {
    const TLocalDateTime parts{utc.wYear,   utc.wMonth,  utc.wDay,         utc.wHour,
                               utc.wMinute, utc.wSecond, utc.wMilliseconds};
    if (!IsValid(parts)) return false;
    std::tm tm{};
    tm.tm_year = parts.Year - 1900;
    tm.tm_mon = parts.Month - 1;
    tm.tm_mday = parts.Day;
    tm.tm_hour = parts.Hour;
    tm.tm_min = parts.Minute;
    tm.tm_sec = parts.Second;
    const std::time_t seconds = timegm(&tm);
    std::tm converted{};
    if (localtime_r(&seconds, &converted) == nullptr) return false;
    local = {converted.tm_year + 1900, converted.tm_mon + 1, converted.tm_mday, converted.tm_hour,
             converted.tm_min,         converted.tm_sec,     parts.Millisecond};
    // A time zone can carry the last or first hours of the calendar past its ends.
    return IsValid(local);
}

TInfoLocale SystemInfoLocale() {
    const QLocale system = QLocale::system();
    TInfoLocale locale;
    const std::string point = Utf8ToCp1252(system.decimalPoint().toStdString());
    if (point.size() == 1 && point != "?") locale.DecimalSeparator = point[0];
    locale.ShortDate = [system](const TLocalDateTime& t) {
        const QString text = system.toString(QDate(t.Year, t.Month, t.Day), QLocale::ShortFormat);
        return Utf8ToCp1252(text.toStdString());
    };
    const QString timeFormat = TimeFormatWithoutZone(system.timeFormat(QLocale::LongFormat));
    locale.LongTime = [system, timeFormat](const TLocalDateTime& t) {
        const QString text =
            system.toString(QTime(t.Hour, t.Minute, t.Second, t.Millisecond), timeFormat);
        return Utf8ToCp1252(text.toStdString());
    };
    return locale;
}

std::string BuildInfoDocument(const TThumbInfo& entry, const TTranslate& translate,
                              const TInfoLocale& locale, const TTextLimit& limit) {
    const TDocumentWriter w(translate);
    std::string out(kDocumentHead);
    const auto labelled = [&](const TResString& label, std::string_view value) {
        TDocumentWriter::Line(out, TDocumentWriter::Bold(w.Label(label)) + std::string(value));
    };

    if (entry.RecordTime.wYear != 0) {
        TLocalDateTime local{};
        if (UtcToLocal(entry.RecordTime, local)) {
            labelled(SInfoRecordTime, " " + DateTimeText(local, locale));
        }
    }
    if (entry.FileDate != 0 && entry.FileDate != -1) {
        const TDosDateTime d = UnpackDosDateTime(entry.FileDate);
        const TLocalDateTime local{d.Year, d.Month, d.Day, d.Hour, d.Minute, d.Second, 0};
        // A cache file can hold any 32 bits; a date that is none leaves its line out.
        if (IsValid(local)) labelled(SInfoFileDate, " " + DateTimeText(local, locale));
    }
    if (entry.ImageNumber != 0) labelled(SInfoImageNumber, IntText(" %d", entry.ImageNumber));
    if (entry.ImageCount > 1 && entry.DataSize > 0) {
        const double kilobytes = entry.DataSize / 1024.0;
        std::string size;
        FormatParams(" %.0f KB", std::span(&kilobytes, 1), locale.DecimalSeparator, size);
        labelled(SInfoFileSize, size);
    }
    if (entry.ImageCount > 1) {
        labelled(SInfoSingleImages, IntText(" %d", entry.ImageCount));
    } else if (entry.Width != 0 && entry.Height != 0) {
        labelled(SInfoFormat, entry.BitCount != 0 ? IntText(" %d x %d x %d", entry.Width,
                                                            entry.Height, entry.BitCount)
                                                  : IntText(" %d x %d", entry.Width, entry.Height));
    }
    const auto leftOut = [&](const TClippedText& clipped, std::string_view indent) {
        if (clipped.BytesLeftOut > 0)
            TDocumentWriter::Line(out, std::string(indent) + LeftOutText(clipped, translate));
    };
    for (const auto& [label, text] :
         {std::pair{SInfoAuthor, &entry.Author}, std::pair{SInfoCopyright, &entry.Copyright}}) {
        if (text->empty()) continue;
        const TClippedText clipped = ClipText(*text, limit);
        labelled(label, " " + Escape(clipped.Kept));
        leftOut(clipped, "");
    }
    if (!entry.Comment.empty()) {
        labelled(SInfoComment, "");
        const TClippedText clipped = ClipText(entry.Comment, limit);
        for (const std::string_view line : SplitLines(clipped.Kept)) {
            TDocumentWriter::Line(out, "   " + Escape(line));
        }
        leftOut(clipped, "   ");
    }
    out += ParameterLines(entry, locale.DecimalSeparator, limit, translate);
    if (entry.LinescanData != 0) labelled(SInfoLinescan, "");
    if (entry.PointscanData != 0) labelled(SInfoPointscan, "");
    if (entry.MeasurementData != 0) labelled(SInfoMeasurement, "");
    out += "}}";
    return out;
}

}  // namespace pix
