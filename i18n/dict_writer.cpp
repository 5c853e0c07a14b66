// SPDX-License-Identifier: MIT
#include "i18n/dict_writer.h"

#include "i18n/dict_file.h"
#include "platform/code_page.h"
#include "platform/res_string.h"

#include <set>
#include <stdexcept>
#include <tuple>

namespace pix {
namespace {

[[noreturn]] void Fail(int line, const std::string& what) {
    throw std::runtime_error("line " + std::to_string(line) + ": " + what);
}

std::string Unescape(std::string_view field, int line) {
    std::string result;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] != '\\') {
            result += field[i];
            continue;
        }
        if (++i == field.size()) Fail(line, "a backslash ends a field");
        switch (field[i]) {
            case 't':
                result += '\t';
                break;
            case 'n':
                result += '\n';
                break;
            case 'r':
                result += '\r';
                break;
            case '\\':
                result += '\\';
                break;
            default:
                Fail(line, std::string("unknown escape \\") + field[i]);
        }
    }
    return result;
}

// The %1 .. %99 markers of a text taken through QString::arg, in order.
std::string ArgMarkers(std::string_view text) {
    std::multiset<std::string> markers;
    for (std::size_t i = 0; i + 1 < text.size(); ++i)
        if (text[i] == '%' && text[i + 1] >= '1' && text[i + 1] <= '9') {
            std::size_t end = i + 1;
            while (end < text.size() && text[end] >= '0' && text[end] <= '9') ++end;
            markers.insert(std::string(text.substr(i, end - i)));
        }
    std::string result;
    for (const std::string& marker : markers) result += marker + ' ';
    return result;
}

// Whether the text is UTF-8 that Windows-1252 can hold.
bool FitsCp1252(std::string_view text) {
    const std::string back = Cp1252ToUtf8(Utf8ToCp1252(text));
    return back == text;
}

void CheckTranslation(const TIvSourceRecord& record, const std::string& text, const char* column) {
    if (text.empty()) return;
    if (!FitsCp1252(text))
        Fail(record.Line, std::string(column) + " text is not UTF-8 or lacks Windows-1252");
    // Texts with %1 markers are filled through QString::arg, the others through printf.
    const std::string markers = ArgMarkers(record.Native);
    if (markers.empty() ? !SameConversions(record.Native, text) : markers != ArgMarkers(text))
        Fail(record.Line,
             std::string(column) + " text has other conversions than \"" + record.Native + "\"");
}

class TWriter {
public:
    std::vector<std::uint8_t> Bytes;
    void U8(unsigned v) { Bytes.push_back(static_cast<std::uint8_t>(v)); }
    void U16(unsigned v) {
        U8(v & 0xFF);
        U8(v >> 8);
    }
    void Put16(std::size_t at, std::size_t v) {
        Bytes[at] = static_cast<std::uint8_t>(v);
        Bytes[at + 1] = static_cast<std::uint8_t>(v >> 8);
    }
    void Put32(std::size_t at, std::size_t v) {
        Put16(at, v & 0xFFFF);
        Put16(at + 2, v >> 16);
    }
    void Chars(std::string_view text) { Bytes.insert(Bytes.end(), text.begin(), text.end()); }
    void String(std::string_view utf8) {
        const std::string text = Utf8ToCp1252(utf8);
        if (text.size() > 0xFFFF) throw std::runtime_error("a text of more than 65535 characters");
        U16(static_cast<unsigned>(text.size()));
        Chars(text);
    }
    void Language(unsigned primary, std::string_view code, unsigned sub, std::string_view country,
                  unsigned codePage, std::string_view english, std::string_view native) {
        const std::size_t start = Bytes.size();
        U16(0);  // the record's size, set below
        U16(primary);
        Chars(code.empty() ? std::string_view("\0\0", 2) : code);
        U16(sub);
        Chars(country.empty() ? std::string_view("\0\0", 2) : country);
        String("");  // further sublanguages
        String("");  // further country codes
        U16(0);
        U16(codePage);
        U8(0);  // flags
        String(english);
        String(native);
        String("");
        U8(0);
        Put16(start, Bytes.size() - start);
    }
};

}  // namespace

std::vector<TIvSourceRecord> ParseDictionarySource(std::string_view text) {
    std::vector<TIvSourceRecord> records;
    std::set<std::tuple<std::string, std::string, std::string>> seen;
    int line = 0;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        std::string_view row = text.substr(pos, end - pos);
        pos = end + 1;
        ++line;
        if (!row.empty() && row.back() == '\r') row.remove_suffix(1);
        if (row.empty() || row.front() == '#') continue;
        std::vector<std::string> fields;
        std::size_t start = 0;
        for (;;) {
            const std::size_t tab = row.find('\t', start);
            fields.push_back(Unescape(row.substr(start, tab - start), line));
            if (tab == std::string_view::npos) break;
            start = tab + 1;
        }
        if (fields.size() < 3 || fields.size() > 5)
            Fail(line, "a record has native, owner, name, German and English");
        fields.resize(5);
        TIvSourceRecord record{fields[0], fields[1], fields[2], fields[3], fields[4], line};
        if (record.Native.empty()) Fail(line, "the native text is empty");
        if (!FitsCp1252(record.Native) || !FitsCp1252(record.Owner) || !FitsCp1252(record.Name))
            Fail(line, "native text, owner or name is not UTF-8 or lacks Windows-1252");
        CheckTranslation(record, record.German, "the German");
        CheckTranslation(record, record.English, "the English");
        if (!seen.insert({record.Native, record.Owner, record.Name}).second)
            Fail(line, "the record is given twice");
        records.push_back(std::move(record));
    }
    return records;
}

std::vector<std::uint8_t> WriteProgramDictionary(const std::vector<TIvSourceRecord>& records,
                                                 std::string_view projectName) {
    if (records.size() > 0xFFFF) throw std::runtime_error("more than 65535 records");
    TWriter out;
    // "IVD", version 3, little-endian, 8-bit strings, records with owner and name.
    out.Bytes = {'I', 'V', 'D', 3, 1, 1, 1};
    out.Bytes.resize(kIvdHeaderSize, 0);
    out.Put16(12, 3);
    out.Put32(14, out.Bytes.size());
    out.Language(0, "", 0, "", 1252, "Native", "Native");
    out.Language(7, "de", 1, "DE", 1252, "German", "Deutsch");
    out.Language(9, "en", 1, "US", 1252, "English", "English");
    out.Put16(18, records.size());
    out.Put32(20, out.Bytes.size());
    for (const TIvSourceRecord& record : records) {
        out.String(record.Native);
        out.String(record.Owner);
        out.String(record.Name);
        out.String(record.German);
        out.String(record.English);
    }
    const std::size_t project = out.Bytes.size();
    out.String(projectName);
    out.String("");
    out.String("");
    out.String("");  // no time stamp: the same source always gives the same bytes
    out.Put16(30, out.Bytes.size() - project);
    out.Put32(32, project);
    return out.Bytes;
}

}  // namespace pix
