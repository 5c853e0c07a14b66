// SPDX-License-Identifier: MIT
// The reader of IVD dictionaries: the languages, translations and custom locales that the
// user interface is translated with at run time.
//
// An IVD stream is a 42-byte header ("IVD", format version 1 to 3, byte order, string
// encoding, record options, then the counts and offsets of the language, translation and
// locale records) followed by those records. Offsets count from the start of the stream.
// Scalars are 16- or 32-bit in the header's byte order. A string is a 16-bit character
// count and that many characters, single bytes or UTF-16 code units; a code is two
// characters without a count.
#pragma once

#include "imaging/stream.h"
#include "platform/error.h"
#include "platform/span_reader.h"

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace pix {

// The errors of the translation library.
class EIvMulti : public EPixError {
public:
    using EPixError::EPixError;
};

inline constexpr std::int64_t kIvdHeaderSize = 42;

// Which of owner and name the translation records carry.
enum TIvRecordOptions : std::uint8_t {
    roNone = 0,       // neither owner nor name
    roOwnerName = 1,  // both
    roName = 2,       // name only
    roOwner = 3,      // owner only
};

// The header with its 16- and 32-bit fields in host order.
struct TIvDictHeader {
    std::uint8_t Version = 0;
    bool BigEndian = false;
    bool Unicode = false;  // strings of UTF-16 code units rather than single bytes
    std::uint8_t RecordOptions = roNone;
    std::uint16_t LanguageCount = 0;
    std::uint32_t LanguageOffset = 0;
    std::uint16_t TranslationCount = 0;
    std::uint32_t TranslationOffset = 0;
    std::uint16_t LocaleCount = 0;
    std::uint32_t LocaleOffset = 0;
    std::uint16_t ProjectSize = 0;  // the project section is not read; 0 in version 1
    std::uint32_t ProjectOffset = 0;
};

// One language of the dictionary; index 0 is the native language. Codes and strings before
// the code page hold letters, digits and commas only.
struct TIvDictLanguage {
    std::uint16_t PrimaryLanguage = 0;  // 0 for the native language
    std::string LanguageCode;           // "de"; empty before version 2 and for language 0
    std::uint16_t SubLanguage = 0;
    std::string CountryCode;   // "DE"; empty before version 2 and for sublanguage 0
    std::string SubLanguages;  // further sublanguage identifiers served, "1,2,3"
    std::string CountryCodes;  // further country codes, "AT,CH"; version 2 on
    std::uint16_t Unused = 0;  // version 3
    std::uint16_t CodePage = 0;
    std::uint8_t Flags = 0;  // bits 0 and 1 are kept with the language
    std::string EnglishName;
    std::string NativeName;  // in the language's own code page
    std::string OtherName;
    std::uint8_t Extra = 0;
};

// A custom locale. Its values follow the code page in stored order; the strings and
// characters are in the locale's code page.
struct TIvDictLocale {
    std::uint16_t PrimaryLanguage = 0;
    std::string LanguageCode;  // version 2 on
    std::uint16_t SubLanguage = 0;
    std::string CountryCode;   // version 2 on
    std::uint16_t Unused = 0;  // version 3
    std::uint16_t CodePage = 0;
    std::array<std::uint8_t, 12> Bytes{};  // 1, after the first 6 strings 1, then 3 and 7
    std::array<char, 4> Chars{};           // 3 after the three bytes, 1 after two strings
    std::array<std::string, 11> Strings;   // 6, 1, 2 and 2, each group after the above
    std::array<std::string, 38> Names;     // 12, 12, 7 and 7: month and day names
};

enum TIvTranslationStatus : std::uint8_t { tsTranslated, tsFallback, tsMissing };

// One translation record, read for a target language and a fallback language.
struct TIvDictTranslation {
    std::string Native;  // the key: the text as the program writes it
    std::string Owner;   // the form's class name; empty when the record options leave it out
    std::string Name;    // the component's name or a resource string's decimal identifier
    std::string Text;    // the translation, empty when Status is tsMissing
    TIvTranslationStatus Status = tsMissing;
};

// Reads one IVD stream. Every read is checked against the stream's bytes: a record that runs
// past the end raises EStreamError(SReadError), the positioning faults EIvMulti with their
// texts. A failed read leaves nothing to repair; the next positioning starts afresh.
//
// UTF-16 strings become 8-bit text in the code page they belong to: Windows-1252 (and 0,
// the system's ANSI code page, which is Windows-1252 here), and the OEM code pages 437 and
// 850 through their tables; characters those lack become '?'. Other code pages keep the
// ASCII characters and turn the rest into '?', as there are no tables for them.
class TIvDictFile {
public:
    TIvDictFile() = default;
    TIvDictFile(const TIvDictFile&) = delete;
    TIvDictFile& operator=(const TIvDictFile&) = delete;

    // Reads the header. The stream must stay alive and unchanged while the reader is open.
    void Open(TStream& stream);
    // Opens the file read-only (shared with writers and readers) and reads the header.
    void Open(const std::string& fileName);
    void Close();

    const TIvDictHeader& Header() const { return FHeader; }
    int LanguageCount() const { return FHeader.LanguageCount; }
    int TranslationCount() const { return FHeader.TranslationCount; }
    int LocaleCount() const { return FHeader.LocaleCount; }

    // Position at the first record of a kind; EIvMulti when the header has no such records.
    void SeekLanguages();
    void SeekTranslations();
    void SeekLocales();

    // Reads the language records 0 .. index from the first and returns the last.
    TIvDictLanguage ReadLanguage(int index);
    // Every language record, in one pass.
    std::vector<TIvDictLanguage> ReadLanguages();
    // The same over the locale records.
    TIvDictLocale ReadLocale(int index);
    // Reads the translation record at the position (SeekTranslations positions at the first)
    // with its texts in `codePage`, and gives the text of language `target`, or else that of
    // `fallback` (1 .. LanguageCount - 1; other indexes never match).
    TIvDictTranslation ReadTranslation(int target, int codePage, int fallback);

private:
    void Attach(TStream& stream);
    void SeekTo(std::uint32_t offset);
    void SkipRecordRest(std::uint64_t start, std::uint16_t size);
    std::uint8_t ReadByte();
    std::uint16_t ReadWord();
    std::string ReadChars(std::uint32_t count, int codePage);
    std::string ReadString(int codePage);
    // The language and sublanguage identifiers that open language and locale records, with
    // their codes from version 2 on.
    template <typename TRecord>
    void ReadIdentifiers(TRecord& record);
    TIvDictLanguage ReadLanguageRecord();
    TIvDictLocale ReadLocaleRecord();

    std::unique_ptr<TStream> FOwnStream;  // the file Open(fileName) opened
    std::vector<std::uint8_t> FCopy;      // the bytes of a stream that keeps none in memory
    TSpanReader FReader{{}};
    std::uint64_t FPosition = 0;
    TIvDictHeader FHeader;
};

}  // namespace pix
