// SPDX-License-Identifier: MIT
// Dictionaries as the translator reads them: every language, every translation record for
// one target and fallback, and every custom locale.
#include "i18n/dict_file.h"
#include "imaging/stream.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

namespace {
// Written so the compiler cannot drop the results.
volatile std::uint64_t GSink = 0;

// Reading language or locale N reads the N records before it again; a few tell as much as
// thousands.
constexpr int kMaxIndexed = 16;

template <class TRead>
void Try(TRead read) {
    try {
        read();
    } catch (const pix::EPixError&) {
    }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    pix::TSpanStream stream(std::span<const std::uint8_t>(data, size));
    pix::TIvDictFile dict;
    Try([&] { dict.Open(stream); });
    int codePage = 1252;
    for (int i = 0; i < std::min(dict.LanguageCount(), kMaxIndexed); ++i) {
        Try([&] {
            const pix::TIvDictLanguage language = dict.ReadLanguage(i);
            GSink = GSink + language.EnglishName.size() + language.NativeName.size();
            if (i == 1) codePage = language.CodePage;
        });
    }
    Try([&] {
        for (const pix::TIvDictLanguage& language : dict.ReadLanguages())
            GSink = GSink + language.SubLanguages.size();
    });
    Try([&] {
        dict.SeekTranslations();
        for (int i = 0; i < dict.TranslationCount(); ++i) {
            const pix::TIvDictTranslation t = dict.ReadTranslation(1, codePage, 2);
            GSink = GSink + t.Native.size() + t.Text.size() + t.Status;
        }
    });
    for (int i = 0; i < std::min(dict.LocaleCount(), kMaxIndexed); ++i)
        Try([&] { GSink = GSink + dict.ReadLocale(i).Names[37].size(); });
    return 0;
}
