// SPDX-License-Identifier: MIT
#include "platform/ini_file.h"

#include "platform/file_io.h"
#include "platform/res_strings.h"

#include <QStandardPaths>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <limits>
#include <system_error>

namespace pix {
namespace {

constexpr std::size_t kMaxIniFileSize = 16u << 20;

std::string Trim(const std::string& text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    std::size_t begin = 0, end = text.size();
    while (begin < end && blank(text[begin])) ++begin;
    while (end > begin && blank(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

bool SameText(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

// A line break inside a name or value would end it and start another line.
std::string OneLine(std::string text) {
    std::replace_if(
        text.begin(), text.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
    return text;
}

// The section a "[name]" line opens, or false for any other line.
bool SectionOf(const std::string& line, std::string& section) {
    const std::string t = Trim(line);
    if (t.size() < 2 || t.front() != '[') return false;
    const std::size_t close = t.find(']');
    if (close == std::string::npos) return false;
    section = Trim(t.substr(1, close - 1));
    return true;
}

// The name and value of a "name=value" line, or false.
bool EntryOf(const std::string& line, std::string& name, std::string& value) {
    const std::string t = Trim(line);
    if (t.empty() || t.front() == ';') return false;
    const std::size_t eq = t.find('=');
    if (eq == std::string::npos) return false;
    name = Trim(t.substr(0, eq));
    value = Trim(t.substr(eq + 1));
    return true;
}

}  // namespace

bool TryStrToInt(const std::string& text, std::int32_t& value) {
    std::size_t i = 0, end = text.size();
    while (i < end && (text[i] == ' ' || text[i] == '\t')) ++i;
    while (end > i && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
    bool negative = false;
    if (i < end && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    int base = 10;
    if (i < end && text[i] == '$') {
        base = 16;
        ++i;
    } else if (i + 1 < end && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i == end) return false;
    // Hex may spell the whole 32-bit pattern ($FFFFFFFF is -1); decimal must fit.
    const std::int64_t limit = base == 16 ? 0xFFFFFFFFll : 0x80000000ll;
    std::int64_t v = 0;
    for (; i < end; ++i) {
        const char c = text[i];
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (base == 16 && std::isxdigit(static_cast<unsigned char>(c)))
            d = std::tolower(static_cast<unsigned char>(c)) - 'a' + 10;
        else
            return false;
        v = v * base + d;
        if (v > limit) return false;
    }
    if (base == 16) {
        value = static_cast<std::int32_t>(static_cast<std::uint32_t>(v));
        if (negative) value = static_cast<std::int32_t>(0u - static_cast<std::uint32_t>(value));
        return true;
    }
    if (!negative && v > std::numeric_limits<std::int32_t>::max()) return false;
    value = static_cast<std::int32_t>(negative ? -v : v);
    return true;
}

std::int32_t TCustomIniFile::ReadInteger(const std::string& section, const std::string& name,
                                         std::int32_t defaultValue) {
    std::int32_t value = 0;
    return TryStrToInt(ReadString(section, name, {}), value) ? value : defaultValue;
}

void TCustomIniFile::WriteInteger(const std::string& section, const std::string& name,
                                  std::int32_t value) {
    WriteString(section, name, std::to_string(value));
}

bool TCustomIniFile::ReadBool(const std::string& section, const std::string& name,
                              bool defaultValue) {
    return ReadInteger(section, name, defaultValue ? 1 : 0) != 0;
}

void TCustomIniFile::WriteBool(const std::string& section, const std::string& name, bool value) {
    WriteString(section, name, value ? "1" : "0");
}

// The registry.

TRegistryIniFile::TRegistryIniFile(HKEY root, const std::string& key) {
    FRegistry.SetRootKey(root);
    // Counted from the root however it is spelled.
    FKey = key;
    while (!FKey.empty() && FKey.front() == '\\') FKey.erase(0, 1);
    if (!FRegistry.OpenKey("\\" + FKey, true)) FRegistry.CloseKey();
}

bool TRegistryIniFile::OpenSection(const std::string& section, bool canCreate) {
    return FRegistry.OpenKey("\\" + FKey + "\\" + section, canCreate);
}

std::string TRegistryIniFile::ReadString(const std::string& section, const std::string& name,
                                         const std::string& defaultValue) {
    if (!OpenSection(section, false)) return defaultValue;
    const TRegDataType type = FRegistry.GetDataType(name);
    if (type != rdString && type != rdExpandString) return defaultValue;
    return FRegistry.ReadString(name);
}

void TRegistryIniFile::WriteString(const std::string& section, const std::string& name,
                                   const std::string& value) {
    if (!OpenSection(section, true)) throw ERegistryException(SRegSetDataFailed, name.c_str());
    FRegistry.WriteString(name, value);
}

bool TRegistryIniFile::ValueExists(const std::string& section, const std::string& name) {
    return OpenSection(section, false) && FRegistry.ValueExists(name);
}

void TRegistryIniFile::EraseSection(const std::string& section) {
    FRegistry.CloseKey();
    FRegistry.DeleteKey("\\" + FKey + "\\" + section);
}

// The INI file.

TIniFile::TIniFile(const std::string& fileName) : FFileName(fileName) {
    if (FFileName.find('/') == std::string::npos) {
        FFileName =
            QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation).toStdString() +
            "/" + FFileName;
    }
    std::error_code error;
    if (!std::filesystem::exists(FFileName, error)) {
        // Missing: empty. Unknown (a folder on the way cannot be searched): keep off it.
        FUnreadable = static_cast<bool>(error);
        return;
    }
    try {
        const TFileHead head = ReadFileHead(FFileName, kMaxIniFileSize + 1);
        if (head.Size > static_cast<std::int64_t>(kMaxIniFileSize)) {
            FUnreadable = true;
            return;
        }
        std::string line;
        for (std::uint8_t byte : head.Bytes) {
            if (byte == '\n') {
                FLines.push_back(std::move(line));
                line.clear();
            } else {
                line += static_cast<char>(byte);
            }
        }
        if (!line.empty()) FLines.push_back(std::move(line));
        for (std::string& l : FLines)
            if (!l.empty() && l.back() == '\r') l.pop_back();
    } catch (const EPixError&) {
        FLines.clear();
        FUnreadable = true;
    }
}

std::ptrdiff_t TIniFile::FindValue(const std::string& section, const std::string& name) const {
    bool inSection = false;
    for (std::size_t i = 0; i < FLines.size(); ++i) {
        std::string current, key, value;
        if (SectionOf(FLines[i], current)) {
            inSection = SameText(current, section);
        } else if (inSection && EntryOf(FLines[i], key, value) && SameText(key, name)) {
            return static_cast<std::ptrdiff_t>(i);
        }
    }
    return -1;
}

std::string TIniFile::ReadString(const std::string& section, const std::string& name,
                                 const std::string& defaultValue) {
    const std::ptrdiff_t at = FindValue(section, name);
    if (at < 0) return defaultValue;
    std::string key, value;
    EntryOf(FLines[static_cast<std::size_t>(at)], key, value);
    return value;
}

bool TIniFile::ValueExists(const std::string& section, const std::string& name) {
    return FindValue(section, name) >= 0;
}

void TIniFile::WriteString(const std::string& section, const std::string& name,
                           const std::string& value) {
    std::vector<std::string> lines = FLines;
    const std::string entry = OneLine(name) + "=" + OneLine(value);
    const std::ptrdiff_t at = FindValue(section, name);
    if (at >= 0) {
        lines[static_cast<std::size_t>(at)] = entry;
    } else {
        // After the last value of the section's first occurrence, else a new section.
        std::ptrdiff_t insertAt = -1;
        bool inSection = false;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            std::string current, key, v;
            if (SectionOf(lines[i], current)) {
                if (inSection) break;
                inSection = SameText(current, section);
                if (inSection) insertAt = static_cast<std::ptrdiff_t>(i) + 1;
            } else if (inSection && !Trim(lines[i]).empty()) {
                insertAt = static_cast<std::ptrdiff_t>(i) + 1;
            }
        }
        if (insertAt >= 0) {
            lines.insert(lines.begin() + insertAt, entry);
        } else {
            if (!lines.empty() && !Trim(lines.back()).empty()) lines.emplace_back();
            lines.push_back("[" + OneLine(section) + "]");
            lines.push_back(entry);
        }
    }
    Save(lines);
}

void TIniFile::EraseSection(const std::string& section) {
    std::vector<std::string> lines;
    bool inSection = false, erased = false;
    for (const std::string& line : FLines) {
        std::string current;
        if (SectionOf(line, current)) inSection = SameText(current, section);
        if (inSection)
            erased = true;
        else
            lines.push_back(line);
    }
    if (erased) Save(lines);
}

void TIniFile::Save(const std::vector<std::string>& lines) {
    if (FUnreadable) throw EPixError(SIniFileWriteError, FFileName.c_str());
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    try {
        std::error_code ignored;
        std::filesystem::create_directories(std::filesystem::path(FFileName).parent_path(),
                                            ignored);
        TAtomicFile file(FFileName);
        file.Write(text.data(), text.size());
        file.Commit();
    } catch (const EPixError&) {
        throw EPixError(SIniFileWriteError, FFileName.c_str());
    }
    FLines = lines;
}

}  // namespace pix
