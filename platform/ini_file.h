// SPDX-License-Identifier: MIT
// Settings as texts by section and name: in the registry under a key, or in an INI file.
#pragma once

#include "platform/registry.h"

#include <cstdint>
#include <string>
#include <vector>

namespace pix {

// Texts by section and name. Integers and Booleans are stored as decimal text ("0" and "1"
// for Booleans); a text that is not a number reads as the default.
class TCustomIniFile {
public:
    virtual ~TCustomIniFile() = default;

    virtual std::string ReadString(const std::string& section, const std::string& name,
                                   const std::string& defaultValue) = 0;
    // Raises an EPixError naming the value or the file when it cannot be written.
    virtual void WriteString(const std::string& section, const std::string& name,
                             const std::string& value) = 0;
    virtual bool ValueExists(const std::string& section, const std::string& name) = 0;
    // Removes the section with all its values; a missing section is no error.
    virtual void EraseSection(const std::string& section) = 0;

    std::int32_t ReadInteger(const std::string& section, const std::string& name,
                             std::int32_t defaultValue);
    void WriteInteger(const std::string& section, const std::string& name, std::int32_t value);
    bool ReadBool(const std::string& section, const std::string& name, bool defaultValue);
    void WriteBool(const std::string& section, const std::string& name, bool value);
};

// A decimal 32-bit number with an optional sign and blanks around it, or "$" and hex digits;
// false for anything else, including numbers out of range.
bool TryStrToInt(const std::string& text, std::int32_t& value);

// The registry: each section is a subkey of `key` under `root`; values are strings.
// Opening makes the key when it is missing and can be made. A value that is not a string
// (a settings file edited by hand) reads as the default. A value that cannot be written
// raises ERegistryException(SRegSetDataFailed) naming it.
class TRegistryIniFile : public TCustomIniFile {
public:
    TRegistryIniFile(HKEY root, const std::string& key);

    std::string ReadString(const std::string& section, const std::string& name,
                           const std::string& defaultValue) override;
    void WriteString(const std::string& section, const std::string& name,
                     const std::string& value) override;
    bool ValueExists(const std::string& section, const std::string& name) override;
    void EraseSection(const std::string& section) override;

private:
    bool OpenSection(const std::string& section, bool canCreate);

    TRegistry FRegistry;
    std::string FKey;
};

// An INI file: "[section]" lines, each followed by "name=value" lines; blanks around names
// and values do not count, nor do lines that begin with ";" or hold no "=". Sections and
// names compare without regard to case. The file is read when the object is made; each
// change writes it whole, to a temporary file renamed over the old one, and a failed write
// raises EPixError(SIniFileWriteError) and changes nothing. A file that exists but cannot
// be read (or is larger than 16 MiB) reads as empty and is never written over. Line breaks
// in a written value become blanks, since a value is one line.
class TIniFile : public TCustomIniFile {
public:
    // A name without a folder lies in the user's configuration folder.
    explicit TIniFile(const std::string& fileName);

    const std::string& FileName() const { return FFileName; }

    std::string ReadString(const std::string& section, const std::string& name,
                           const std::string& defaultValue) override;
    void WriteString(const std::string& section, const std::string& name,
                     const std::string& value) override;
    bool ValueExists(const std::string& section, const std::string& name) override;
    void EraseSection(const std::string& section) override;

private:
    // Index of the line of a value, or -1.
    std::ptrdiff_t FindValue(const std::string& section, const std::string& name) const;
    void Save(const std::vector<std::string>& lines);

    std::string FFileName;
    std::vector<std::string> FLines;
    bool FUnreadable = false;
};

}  // namespace pix
