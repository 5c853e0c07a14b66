// SPDX-License-Identifier: MIT
// The program's dictionary from its source text: parsing the editable record list and
// writing it as an IVD stream (format version 3, little-endian, 8-bit strings) with three
// languages: 0 the native texts, 1 German, 2 English.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pix {

// One line of the source: UTF-8 texts. Owner and name identify a form's component, or
// (owner empty) a message by its decimal identifier.
struct TIvSourceRecord {
    std::string Native, Owner, Name, German, English;
    int Line = 0;
};

// Parses the source: one record per line, five tab-separated fields (native, owner, name,
// German, English; trailing empty fields may be left out), with \t, \n, \r and \\ escapes.
// Lines starting with '#' and empty lines are skipped. Faults raise std::runtime_error
// with the line number: a wrong number of fields, an empty native text, an unknown escape,
// a record given twice (same native, owner and name), a translation whose printf
// conversions or %1 markers differ from the native text's, and text that is not UTF-8 or
// does not fit Windows-1252.
std::vector<TIvSourceRecord> ParseDictionarySource(std::string_view text);

// The IVD bytes of the records, in the order given, with the project name in the project
// section. Texts are written in Windows-1252.
std::vector<std::uint8_t> WriteProgramDictionary(const std::vector<TIvSourceRecord>& records,
                                                 std::string_view projectName);

}  // namespace pix
