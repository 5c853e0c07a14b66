// SPDX-License-Identifier: MIT
#include "i18n/dict_file.h"

#include "imaging/mapped_memory.h"
#include "platform/code_page.h"
#include "platform/file_io.h"
#include "platform/res_strings.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

namespace pix {

namespace {

// Header fields by offset.
constexpr std::uint64_t hoVersion = 3;
constexpr std::uint64_t hoByteOrder = 4;
constexpr std::uint64_t hoEncoding = 5;
constexpr std::uint64_t hoRecordOptions = 6;
constexpr std::uint64_t hoEncodingVersion1 = 7;
constexpr std::uint64_t hoLanguageCount = 12;
constexpr std::uint64_t hoLanguageOffset = 14;
constexpr std::uint64_t hoTranslationCount = 18;
constexpr std::uint64_t hoTranslationOffset = 20;
constexpr std::uint64_t hoLocaleCount = 24;
constexpr std::uint64_t hoLocaleOffset = 26;
constexpr std::uint64_t hoProjectSize = 30;
constexpr std::uint64_t hoProjectOffset = 32;

// The code page of codes and of the strings before a record's code page: they hold
// letters, digits and commas, which every table has.
constexpr int kAsciiCodePage = 1252;

// Little-endian UTF-16 code units as 8-bit text in `codePage`. Null characters stay: the
// platform's conversion ends at one, so the runs between them are converted one by one.
std::string Utf16ToCodePage(std::span<const std::uint8_t> units, int codePage) {
    std::string out;
    std::size_t start = 0;
    for (std::size_t at = 0; at <= units.size(); at += 2) {
        const bool end = at + 1 >= units.size();
        if (!end && (units[at] != 0 || units[at + 1] != 0)) continue;
        const std::string run = Utf8ToCp1252(Utf16LeToUtf8(units.subspan(start, at - start)));
        out += AnsiToCodePage(run, codePage);
        if (!end) out += '\0';
        start = at + 2;
    }
    return out;
}

}  // namespace

void TIvDictFile::Open(TStream& stream) {
    Close();
    try {
        Attach(stream);
    } catch (...) {
        Close();
        throw;
    }
}

void TIvDictFile::Open(const std::string& fileName) {
    Close();
    try {
        FOwnStream = std::make_unique<TLwMappedStream>(fileName, fmOpenRead | fmShareDenyNone);
        Attach(*FOwnStream);
    } catch (...) {
        Close();
        throw;
    }
}

void TIvDictFile::Close() {
    FReader = TSpanReader({});
    FPosition = 0;
    FHeader = {};
    FCopy.clear();
    FCopy.shrink_to_fit();
    FOwnStream.reset();
}

void TIvDictFile::Attach(TStream& stream) {
    stream.SetPosition(0);
    std::span<const std::uint8_t> bytes = RemainingBytes(stream);
    if (bytes.empty()) {
        // A stream that keeps its bytes elsewhere: copy them, at most as many as a file holds.
        std::uint8_t chunk[65536];
        for (std::int64_t n; (n = stream.Read(chunk, sizeof chunk)) > 0;) {
            if (static_cast<std::int64_t>(FCopy.size()) > kMaxFileSize - n)
                throw EStreamError(SReadError);
            FCopy.insert(FCopy.end(), chunk, chunk + n);
        }
        bytes = FCopy;
    }

    const TSpanReader raw(bytes);
    const std::span<const std::uint8_t> head = raw.SubSpan(0, kIvdHeaderSize);
    if (std::memcmp(head.data(), "IVD", 3) != 0) throw EIvMulti(SInvalidIvdStream);
    TIvDictHeader header;
    header.Version = head[hoVersion];
    header.BigEndian = head[hoByteOrder] == 0;
    // Version 1 kept the encoding flag one field further on.
    header.Unicode = head[header.Version <= 1 ? hoEncodingVersion1 : hoEncoding] == 0;
    header.RecordOptions = head[hoRecordOptions];
    const TSpanReader reader(bytes, header.BigEndian);
    header.LanguageCount = reader.U16(hoLanguageCount);
    header.LanguageOffset = reader.U32(hoLanguageOffset);
    header.TranslationCount = reader.U16(hoTranslationCount);
    header.TranslationOffset = reader.U32(hoTranslationOffset);
    header.LocaleCount = reader.U16(hoLocaleCount);
    header.LocaleOffset = reader.U32(hoLocaleOffset);
    if (header.Version > 1) {
        header.ProjectSize = reader.U16(hoProjectSize);
        header.ProjectOffset = reader.U32(hoProjectOffset);
    }
    FReader = reader;
    FHeader = header;
    FPosition = kIvdHeaderSize;
}

void TIvDictFile::SeekTo(std::uint32_t offset) {
    // An offset past the end is taken as it stands: the first read there fails.
    FPosition = offset;
}

void TIvDictFile::SeekLanguages() {
    if (FHeader.LanguageOffset == 0) throw EIvMulti(SInvalidLanguageOffset);
    SeekTo(FHeader.LanguageOffset);
}

void TIvDictFile::SeekTranslations() {
    if (FHeader.TranslationOffset == 0) throw EIvMulti(SInvalidTranslationOffset);
    SeekTo(FHeader.TranslationOffset);
}

void TIvDictFile::SeekLocales() {
    if (FHeader.LocaleCount == 0) throw EIvMulti(SNoCustomLocales);
    if (FHeader.LocaleOffset == 0) throw EIvMulti(SInvalidLocaleOffset);
    SeekTo(FHeader.LocaleOffset);
}

// A record's size counts from its first byte. Bytes the reader did not take (fields of a
// later version) are passed over; a size smaller than the fields read changes nothing.
void TIvDictFile::SkipRecordRest(std::uint64_t start, std::uint16_t size) {
    const std::uint64_t end = start + size;
    if (end <= FPosition) return;
    if (end > FReader.Size()) throw EStreamError(SReadError);
    FPosition = end;
}

std::uint8_t TIvDictFile::ReadByte() {
    const std::uint8_t value = FReader.U8(FPosition);
    FPosition += 1;
    return value;
}

std::uint16_t TIvDictFile::ReadWord() {
    const std::uint16_t value = FReader.U16(FPosition);
    FPosition += 2;
    return value;
}

// `count` characters: bytes, or UTF-16 code units in the header's byte order. The span
// reader checks them all against the buffer before anything is allocated.
std::string TIvDictFile::ReadChars(std::uint32_t count, int codePage) {
    if (!FHeader.Unicode) {
        const std::span<const std::uint8_t> bytes = FReader.SubSpan(FPosition, count);
        FPosition += count;
        return {bytes.begin(), bytes.end()};
    }
    const std::span<const std::uint8_t> units = FReader.SubSpan(FPosition, 2ull * count);
    FPosition += 2ull * count;
    if (!FHeader.BigEndian) return Utf16ToCodePage(units, codePage);
    std::vector<std::uint8_t> swapped(units.begin(), units.end());
    for (std::size_t at = 0; at + 1 < swapped.size(); at += 2)
        std::swap(swapped[at], swapped[at + 1]);
    return Utf16ToCodePage(swapped, codePage);
}

std::string TIvDictFile::ReadString(int codePage) { return ReadChars(ReadWord(), codePage); }

template <typename TRecord>
void TIvDictFile::ReadIdentifiers(TRecord& record) {
    const bool codes = FHeader.Version >= 2;
    record.PrimaryLanguage = ReadWord();
    if (codes) record.LanguageCode = ReadChars(2, kAsciiCodePage);
    record.SubLanguage = ReadWord();
    if (codes) record.CountryCode = ReadChars(2, kAsciiCodePage);
}

TIvDictLanguage TIvDictFile::ReadLanguageRecord() {
    const std::uint64_t start = FPosition;
    const int version = FHeader.Version;
    const std::uint16_t size = version >= 3 ? ReadWord() : 0;
    TIvDictLanguage language;
    ReadIdentifiers(language);
    // The codes mean nothing without their identifiers.
    if (language.PrimaryLanguage == 0) language.LanguageCode.clear();
    if (language.SubLanguage == 0) language.CountryCode.clear();
    language.SubLanguages = ReadString(kAsciiCodePage);
    if (version >= 2) language.CountryCodes = ReadString(kAsciiCodePage);
    if (version >= 3) language.Unused = ReadWord();
    language.CodePage = ReadWord();
    language.Flags = ReadByte();
    language.EnglishName = ReadString(language.CodePage);
    language.NativeName = ReadString(language.CodePage);
    language.OtherName = ReadString(language.CodePage);
    language.Extra = ReadByte();
    if (version >= 3) SkipRecordRest(start, size);
    return language;
}

TIvDictLocale TIvDictFile::ReadLocaleRecord() {
    const std::uint64_t start = FPosition;
    const int version = FHeader.Version;
    const std::uint16_t size = version >= 3 ? ReadWord() : 0;
    TIvDictLocale locale;
    ReadIdentifiers(locale);
    if (version >= 3) locale.Unused = ReadWord();
    locale.CodePage = ReadWord();
    const int codePage = locale.CodePage;
    std::size_t byte = 0, chr = 0, string = 0;
    const auto bytes = [&](int n) {
        while (n-- > 0) locale.Bytes[byte++] = ReadByte();
    };
    const auto strings = [&](int n) {
        while (n-- > 0) locale.Strings[string++] = ReadString(codePage);
    };
    const auto chars = [&](int n) {
        while (n-- > 0) locale.Chars[chr++] = ReadChars(1, codePage)[0];
    };
    bytes(1);
    strings(6);
    bytes(1);
    strings(1);
    bytes(3);
    chars(3);
    strings(2);
    chars(1);
    strings(2);
    bytes(7);
    for (std::string& name : locale.Names) name = ReadString(codePage);
    if (version >= 3) SkipRecordRest(start, size);
    return locale;
}

TIvDictLanguage TIvDictFile::ReadLanguage(int index) {
    SeekLanguages();
    if (index < 0 || index >= FHeader.LanguageCount) throw EIvMulti(SDictIndexOutOfBounds, index);
    TIvDictLanguage language;
    for (int i = 0; i <= index; ++i) language = ReadLanguageRecord();
    return language;
}

std::vector<TIvDictLanguage> TIvDictFile::ReadLanguages() {
    SeekLanguages();
    std::vector<TIvDictLanguage> languages;
    for (int i = 0; i < FHeader.LanguageCount; ++i) languages.push_back(ReadLanguageRecord());
    return languages;
}

TIvDictLocale TIvDictFile::ReadLocale(int index) {
    SeekLocales();
    if (index < 0 || index >= FHeader.LocaleCount) throw EIvMulti(SDictIndexOutOfBounds, index);
    TIvDictLocale locale;
    for (int i = 0; i <= index; ++i) locale = ReadLocaleRecord();
    return locale;
}

TIvDictTranslation TIvDictFile::ReadTranslation(int target, int codePage, int fallback) {
    const std::uint8_t options = FHeader.RecordOptions;
    TIvDictTranslation record;
    record.Native = ReadString(codePage);
    if (options == roOwnerName || options == roOwner) record.Owner = ReadString(codePage);
    if (options == roOwnerName || options == roName) record.Name = ReadString(codePage);
    std::string targetText, fallbackText;
    for (int i = 1; i < FHeader.LanguageCount; ++i) {
        std::string text = ReadString(codePage);
        if (i == target)
            targetText = std::move(text);
        else if (i == fallback)
            fallbackText = std::move(text);
    }
    if (!targetText.empty()) {
        record.Text = std::move(targetText);
        record.Status = tsTranslated;
    } else if (!fallbackText.empty()) {
        record.Text = std::move(fallbackText);
        record.Status = tsFallback;
    }
    return record;
}

}  // namespace pix
