// SPDX-License-Identifier: MIT
#include "i18n/dict_file.h"

#include "test_support.h"

#include "platform/res_strings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

namespace pix {
namespace {

struct TDictRow {
    int Version;
    bool BigEndian, Unicode;
    std::uint8_t Options;
};

// Writes dictionaries byte by byte. Texts are UTF-16; in 8-bit files each code unit (all
// below 256 here, so Windows-1252) is one byte.
struct TDictWriter {
    TDictRow Row;
    std::vector<std::uint8_t> Bytes = std::vector<std::uint8_t>(kIvdHeaderSize, 0);

    void Put16(std::size_t at, std::size_t v) {
        Bytes[at + Row.BigEndian] = static_cast<std::uint8_t>(v);
        Bytes[at + !Row.BigEndian] = static_cast<std::uint8_t>(v >> 8);
    }
    void Header(std::size_t at, std::size_t count) {  // a record kind's count, its offset here
        Put16(at, count);
        Put16(at + 2 + 2 * Row.BigEndian, Bytes.size());
    }
    void U8(unsigned v) { Bytes.push_back(static_cast<std::uint8_t>(v)); }
    void U16(std::size_t v) { Bytes.resize(Bytes.size() + 2), Put16(Bytes.size() - 2, v); }
    void Chars(std::u16string_view text) {
        for (const char16_t c : text) Row.Unicode ? U16(c) : U8(c);
    }
    void Str(std::u16string_view text) { U16(text.size()), Chars(text); }
    void Id(std::u16string_view codeAndId) {  // a 16-bit identifier, its code from version 2
        U16(codeAndId[2]);
        if (Row.Version >= 2) Chars(codeAndId.substr(0, 2));
    }
    // A record with its size in version 3, where `padding` bytes of later fields follow.
    template <class TFill>
    void Record(int padding, TFill fill) {
        const std::size_t start = Bytes.size();
        if (Row.Version >= 3) U16(0);
        fill();
        if (Row.Version < 3) return;
        Bytes.insert(Bytes.end(), padding, 0xEE);
        Put16(start, Bytes.size() - start);
    }
};

struct TRecord {
    std::u16string_view Native, Owner, Name, German, English;
};
constexpr TRecord kRecords[] = {
    {u" - Dock zone has no control", u"", u"65317", u" - Andockzone besitzt kein Steuerelement",
     u""},
    {u"OK", u"TAboutForm", u"OKButton", u"", u"Okay"},
    {u"Gr\u00f6\u00dfe:", u"", u"", u"Gr\u00f6\u00dfe:", u""},
    {u"Author:", u"TInfoForm", u"", u"", u""},
};

std::string Latin1(std::u16string_view text) { return {text.begin(), text.end()}; }

// Three languages (German's record has 5 bytes of later fields), the records above and one
// custom locale.
std::vector<std::uint8_t> Dictionary(const TDictRow& row) {
    TDictWriter w{row};
    std::memcpy(w.Bytes.data(), "IVD", 3);
    w.Bytes[3] = static_cast<std::uint8_t>(row.Version);
    w.Bytes[4] = !row.BigEndian;
    w.Bytes[row.Version == 1 ? 7 : 5] = !row.Unicode;
    w.Bytes[6] = row.Options;
    w.Header(12, 3);
    for (const auto& [ids, subs, name, padding] : {std::tuple{u"xx\0XX\0", u"", u"Native", 0},
                                                   {u"de\7DE\1", u"2,3", u"Deutsch", 5},
                                                   {u"en\11US\1", u"", u"English", 0}}) {
        w.Record(padding, [&, ids = std::u16string_view(ids, 6)] {
            w.Id(ids.substr(0, 3)), w.Id(ids.substr(3)), w.Str(subs);
            if (row.Version >= 2) w.Str(u"AT,CH");
            if (row.Version >= 3) w.U16(0xBEEF);
            w.U16(1252), w.U8(3), w.Str(name), w.Str(name), w.Str(u""), w.U8(0);
        });
    }
    w.Header(18, std::size(kRecords));
    for (const TRecord& r : kRecords) {
        w.Str(r.Native);
        if (row.Options == 1 || row.Options == 3) w.Str(r.Owner);
        if (row.Options == 1 || row.Options == 2) w.Str(r.Name);
        w.Str(r.German), w.Str(r.English);
    }
    w.Header(24, 1);
    w.Record(3, [&] {
        w.Id(u"de\7"), w.Id(u"LU\3");
        if (row.Version >= 3) w.U16(0);
        w.U16(1252);
        // Bytes (the last one 7), strings and characters in stored order, then 38 names.
        for (const char* kind = "bssssssbsbbbcccsscssbbbbbbb"; *kind; ++kind)
            *kind == 'b' ? w.U8(kind[1] ? 1 : 7) : *kind == 'c' ? w.Chars(u"\u00e9") : w.Str(u"s");
        for (int i = 0; i < 38; ++i) w.Str(i == 37 ? u"Sonntag" : u"n");
    });
    return w.Bytes;
}

class DictFileTest : public ::testing::TestWithParam<TDictRow> {};

// Everything a dictionary holds, read back from a file.
TEST_P(DictFileTest, ReadsLanguagesTranslationsAndLocales) {
    const TDictRow row = GetParam();
    const std::vector<std::uint8_t> bytes = Dictionary(row);
    test::TTempDir dir;
    test::WriteFile(dir.File("d.ivd"), std::string(bytes.begin(), bytes.end()));
    TIvDictFile dict;
    dict.Open(dir.File("d.ivd"));
    EXPECT_EQ(dict.LanguageCount() * 100 + dict.TranslationCount() * 10 + dict.LocaleCount(), 341);
    const auto text = [&](int index) {
        const TIvDictLanguage l = dict.ReadLanguage(index);
        return std::to_string(l.PrimaryLanguage) + l.LanguageCode + std::to_string(l.SubLanguage) +
               l.CountryCode + " " + l.SubLanguages + " " + l.CountryCodes + " " +
               std::to_string(l.CodePage) + " " + std::to_string(l.Flags) + " " + l.NativeName;
    };
    const bool v2 = row.Version >= 2;
    EXPECT_EQ(text(0), v2 ? "00  AT,CH 1252 3 Native" : "00   1252 3 Native");  // codes ignored
    EXPECT_EQ(text(1), v2 ? "7de1DE 2,3 AT,CH 1252 3 Deutsch" : "71 2,3  1252 3 Deutsch");
    EXPECT_EQ(text(2), v2 ? "9en1US  AT,CH 1252 3 English" : "91   1252 3 English");

    // German with English as fallback, then English without fallback.
    for (const auto& [target, fallback, statuses] : {std::tuple{1, 2, "TFTM"}, {2, 0, "MTMM"}}) {
        dict.SeekTranslations();
        for (std::size_t i = 0; i < std::size(kRecords); ++i) {
            const TRecord& r = kRecords[i];
            const TIvDictTranslation t = dict.ReadTranslation(target, 1252, fallback);
            const std::u16string_view owner = row.Options % 2 ? r.Owner : u"";
            const std::u16string_view name = row.Options == 1 || row.Options == 2 ? r.Name : u"";
            const std::u16string_view translated = statuses[i] == 'M'                 ? u""
                                                   : target == 1 && !r.German.empty() ? r.German
                                                                                      : r.English;
            EXPECT_EQ(t.Native + "|" + t.Owner + "|" + t.Name + "|" + t.Text + "TFM"[t.Status],
                      Latin1(r.Native) + "|" + Latin1(owner) + "|" + Latin1(name) + "|" +
                          Latin1(translated) + statuses[i])
                << "target " << target << " record " << i;
        }
    }
    const TIvDictLocale l = dict.ReadLocale(0);
    EXPECT_EQ(std::to_string(l.SubLanguage) + l.CountryCode + std::to_string(l.Bytes[11]) +
                  std::string(l.Chars.begin(), l.Chars.end()) + l.Strings[10] + l.Names[37],
              (v2 ? "3LU7" : "37") + std::string(4, '\xE9') + "sSonntag");
}

// A stream cut anywhere raises the stream's read error and nothing else.
TEST_P(DictFileTest, EveryTruncationIsAReadError) {
    const std::vector<std::uint8_t> bytes = Dictionary(GetParam());
    for (std::size_t cut = 0; cut < bytes.size(); ++cut) {
        TSpanStream stream(std::span<const std::uint8_t>(bytes).first(cut));
        TIvDictFile dict;
        try {
            dict.Open(stream);
            for (int i = 0; i < dict.LanguageCount(); ++i) dict.ReadLanguage(i);
            dict.SeekTranslations();
            for (int i = 0; i < dict.TranslationCount(); ++i) dict.ReadTranslation(1, 1252, 2);
            dict.ReadLocale(0);
            ADD_FAILURE() << "no error at cut " << cut;
        } catch (const EStreamError& e) {
            EXPECT_EQ(e.Id, SReadError.Id) << "cut at " << cut;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, DictFileTest,
                         ::testing::Values(TDictRow{1, false, false, 1},
                                           TDictRow{2, true, false, 2},
                                           TDictRow{3, false, false, 1},
                                           TDictRow{3, true, false, 3}, TDictRow{1, true, true, 0},
                                           TDictRow{2, false, true, 3}, TDictRow{3, false, true, 1},
                                           TDictRow{3, true, true, 2}));

// Header faults and positioning: the header bytes cleared, what is asked (0 nothing, 1 a
// language, 2 the translations, 3 a locale, 4 language 3), the message.
TEST(DictFile, PositioningErrors) {
    const struct {
        std::size_t At, Width;
        int Ask;
        TResString Message;
    } rows[] = {
        {2, 1, 0, SInvalidIvdStream},          {14, 4, 1, SInvalidLanguageOffset},
        {20, 4, 2, SInvalidTranslationOffset}, {24, 2, 3, SNoCustomLocales},
        {26, 4, 3, SInvalidLocaleOffset},      {0, 0, 4, SDictIndexOutOfBounds},
    };
    for (const auto& r : rows) {
        std::vector<std::uint8_t> bytes = Dictionary({3, false, false, 1});
        std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(r.At), r.Width, 0);
        TSpanStream stream(bytes);
        TIvDictFile dict;
        try {
            dict.Open(stream);
            r.Ask == 1   ? void(dict.ReadLanguage(0))
            : r.Ask == 2 ? dict.SeekTranslations()
            : r.Ask == 3 ? void(dict.ReadLocale(0))
                         : void(dict.ReadLanguage(3));
            ADD_FAILURE() << r.Message.Text << ": no error";
        } catch (const EIvMulti& e) {
            EXPECT_EQ(e.Id, r.Message.Id) << e.what();
        }
    }
}

// UTF-16 texts in the code page asked for: (code page, UTF-16 text, 8-bit text).
TEST(DictFile, Utf16TextsInTheCodePage) {
    const std::tuple<int, std::u16string, std::string> rows[] = {
        {1252, u"Gr\u00f6\u00dfe \u20ac\u0416",
         "Gr\xF6\xDF"
         "e \x80?"},
        {850, u"\u00f6\u00df\u00f8", "\x94\xE1\x9B"},
        {437, u"\u00e9\u00f8", "\x82?"},
        {1250, u"A\u00e9", "A?"},
        {1252, std::u16string(u"a\0b\U0001F600", 5), std::string("a\0b?", 4)},
    };
    for (const auto& [codePage, text, expected] : rows) {
        TDictWriter w{{3, false, true, 0}};
        std::memcpy(w.Bytes.data(), "IVD\3\1", 5);
        w.Put16(12, 2);  // two languages; one translation record right after the header
        w.Header(18, 1);
        w.Str(u"key"), w.Str(text);
        TSpanStream stream(w.Bytes);
        TIvDictFile dict;
        dict.Open(stream);
        dict.SeekTranslations();
        EXPECT_EQ(dict.ReadTranslation(1, codePage, 0).Text, expected) << codePage;
    }
}

}  // namespace
}  // namespace pix
