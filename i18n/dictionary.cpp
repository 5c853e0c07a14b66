// SPDX-License-Identifier: MIT
#include "i18n/dictionary.h"

#include "i18n/translator.h"
#include "platform/code_page.h"
#include "platform/file_system.h"
#include "platform/process.h"
#include "platform/res_strings.h"
#include "platform/resources.h"

#include <algorithm>
#include <mutex>

namespace pix {
namespace {

std::vector<TIvDictionary*>& Registered() {
    static std::vector<TIvDictionary*> list;
    return list;
}

// The dictionary whose table resource strings go through, if any.
TIvDictionary* FHookOwner = nullptr;

bool ListHas(const std::string& list, int value) {
    std::size_t start = 0;
    while (start <= list.size()) {
        std::size_t comma = list.find(',', start);
        if (comma == std::string::npos) comma = list.size();
        const std::string item = list.substr(start, comma - start);
        if (!item.empty() && item.size() < 6 &&
            std::all_of(item.begin(), item.end(), [](char c) { return c >= '0' && c <= '9'; }) &&
            std::stoi(item) == value)
            return true;
        start = comma + 1;
    }
    return false;
}

}  // namespace

TIvDictionary::TIvDictionary() {
    Registered().push_back(this);
    if (Registered().size() == 1) InstallDictionaryErrorReport();
}

TIvDictionary::~TIvDictionary() {
    Close();
    auto& list = Registered();
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
}

const std::vector<TIvDictionary*>& TIvDictionary::Dictionaries() { return Registered(); }

void TIvDictionary::SetLanguage(int language) {
    if (language < kIvSystemLanguage || (FActive && language >= FLanguageCount))
        throw EIvMulti(SLanguageIndexOutOfRange, language);
    if (language == FLanguage) return;
    FLanguage = language;
    if (FActive) {
        Close();
        Open();
    }
}

int TIvDictionary::FindLanguage(TLocaleId locale) {
    if (locale.Primary == 0) return 0;
    const int count = static_cast<int>(FLanguages.size());
    for (int i = 0; i < count; ++i) {
        const TIvDictLanguage& l = FLanguages[i];
        if (l.PrimaryLanguage == locale.Primary &&
            (l.SubLanguage == locale.Sub || ListHas(l.SubLanguages, locale.Sub)))
            return i;
    }
    for (int i = 0; i < count; ++i)
        if (FLanguages[i].PrimaryLanguage == locale.Primary && FLanguages[i].SubLanguages.empty())
            return i;
    for (int i = 0; i < count; ++i)
        if (FLanguages[i].PrimaryLanguage == locale.Primary) return i;
    return -1;
}

bool TIvDictionary::LanguageSupported(const TIvDictLanguage& language) const {
    switch (CheckLevel) {
        case ivclNone:
            return true;
        // Every language can be shown: texts are Unicode once read.
        case ivclSystem:
            return true;
        case ivclCodePage:
            return CodePageSupported(language.CodePage);
    }
    return true;
}

int TIvDictionary::ChooseLanguage(TIvDictFile& file) {
    FLanguageCount = file.LanguageCount();
    FLanguages = FLanguageCount > 0 ? file.ReadLanguages() : std::vector<TIvDictLanguage>{};
    if (FLanguageCount == 0) throw EIvMulti(SNoSupportedLanguage);
    if (FLanguage >= FLanguageCount) throw EIvMulti(SLanguageIndexOutOfRange, FLanguage);
    int index = FLanguage;
    if (FLanguage == kIvUserLanguage || FLanguage == kIvSystemLanguage) {
        index = FindLanguage(FLanguage == kIvUserLanguage ? UserDefaultLocale()
                                                          : SystemDefaultLocale());
        if (index < 0) {
            const int from =
                MasterLanguage >= 0 && MasterLanguage < FLanguageCount ? MasterLanguage : 0;
            for (int i = from; i < FLanguageCount && index < 0; ++i)
                if (LanguageSupported(FLanguages[i])) index = i;
            if (index < 0) throw EIvMulti(SNoSupportedLanguage);
        }
    }
    return index;
}

void TIvDictionary::Open() {
    if (FActive || !Enabled) return;
    if (OnBeforeOpen) OnBeforeOpen();
    TIvDictFile file;
    OpenFile(file);
    const int previousLanguage = FLanguageIndex;
    const TLocaleId previousLocale = FLocale;

    const int index = ChooseLanguage(file);
    FNativeCodePage = FLanguages.empty() ? 1252 : FLanguages[0].CodePage;
    FLanguageRecord = FLanguages[static_cast<std::size_t>(index)];
    FLanguageIndex = index;

    FFallbackIndex = 0;
    if (!FLanguageRecord.SubLanguages.empty()) {
        const int match = FindLanguage({FLanguageRecord.PrimaryLanguage, 0});
        FFallbackIndex = match < 0 ? 0 : match;
    }
    if (FFallbackIndex == 0 && MasterLanguage > 0) FFallbackIndex = MasterLanguage;

    if (CheckLevel == ivclCodePage && !CodePageSupported(FLanguageRecord.CodePage))
        throw EIvMulti(SLanguageNotSupportedByCodePage, FLanguageRecord.EnglishName.c_str());

    if (Binding == ivbiLocaleToLanguage) {
        FLocale = {FLanguageRecord.PrimaryLanguage, FLanguageRecord.SubLanguage};
        if (CheckLevel == ivclCodePage && !CodePageSupported(FLanguageRecord.CodePage))
            throw EIvMulti(SLocaleNotSupportedByCodePage, FLocale.Primary, FLocale.Sub);
    }

    LoadTable(file);
    FActive = true;
    if (Options & ivdoTranslateResourceStrings) {
        FHookOwner = this;
        FHooked = true;
        SetResStringHook(&TIvDictionary::ResourceStringHook, this);
    }
    if (previousLanguage != FLanguageIndex && OnLanguageChange) OnLanguageChange();
    if (!(previousLocale == FLocale) && OnLocaleChange) OnLocaleChange();
    if (OnAfterOpen) OnAfterOpen();
}

void TIvDictionary::LoadTable(TIvDictFile& file) {
    std::vector<TIvTranslationEntry> table;
    const int textCodePage = FLanguageRecord.CodePage;
    const bool unicode = file.Header().Unicode;
    const bool convertNative = (Options & ivdoConvertNativeString) != 0;
    const int fallbackCodePage = FFallbackIndex > 0 && FFallbackIndex < FLanguageCount
                                     ? FLanguages[static_cast<std::size_t>(FFallbackIndex)].CodePage
                                     : textCodePage;
    if (file.TranslationCount() > 0) {
        file.SeekTranslations();
        table.reserve(static_cast<std::size_t>(file.TranslationCount()));
        for (int i = 0; i < file.TranslationCount(); ++i) {
            TIvDictTranslation record =
                file.ReadTranslation(FLanguageIndex, textCodePage, FFallbackIndex);
            if (record.Status == tsMissing) continue;
            TIvTranslationEntry entry;
            // UTF-16 texts arrive in the target's code page; 8-bit ones in their own.
            const int nativeCodePage = unicode ? textCodePage : FNativeCodePage;
            const int translationCodePage =
                unicode || record.Status == tsTranslated ? textCodePage : fallbackCodePage;
            if (convertNative) {
                entry.Native = CodePageToUtf8(record.Native, nativeCodePage);
                entry.Owner = CodePageToUtf8(record.Owner, nativeCodePage);
                entry.Name = CodePageToUtf8(record.Name, nativeCodePage);
            } else {
                entry.Native = std::move(record.Native);
                entry.Owner = std::move(record.Owner);
                entry.Name = std::move(record.Name);
            }
            entry.Text = CodePageToUtf8(record.Text, translationCodePage);
            table.push_back(std::move(entry));
        }
    }
    FOwnersAndNames = file.Header().RecordOptions != roNone;
    for (TIvTranslationEntry& entry : table)
        entry.Key = FOwnersAndNames ? entry.Native + kIvKeySeparator + entry.Owner + entry.Name
                                    : entry.Native;
    std::sort(
        table.begin(), table.end(),
        [](const TIvTranslationEntry& a, const TIvTranslationEntry& b) { return a.Key < b.Key; });
    FTable = std::move(table);
}

void TIvDictionary::Close() {
    if (!FActive) return;
    if (OnBeforeClose) OnBeforeClose();
    for (TIvCustomTranslator* translator : std::vector<TIvCustomTranslator*>(FTranslators))
        translator->DictionaryClosing(this);
    FTranslators.clear();
    if (FHooked) {
        // Takes the hook's lock: no lookup of another thread is still in the table.
        if (FHookOwner == this) {
            SetResStringHook(nullptr, nullptr);
            FHookOwner = nullptr;
        }
        FHooked = false;
    }
    FTable.clear();
    FActive = false;
    if (OnAfterClose) OnAfterClose();
}

std::optional<std::string> TIvDictionary::Find(const std::string& key, bool prefix) const {
    // Sorted by key, the table is sorted by every key's first key.size() bytes as well; an
    // entry whose key is exactly `key` comes first among those that start with it.
    auto it = std::lower_bound(FTable.begin(), FTable.end(), key,
                               [](const TIvTranslationEntry& e, const std::string& k) {
                                   return e.Key.compare(0, k.size(), k) < 0;
                               });
    if (it == FTable.end() || it->Key.compare(0, key.size(), key) != 0 ||
        (!prefix && it->Key.size() != key.size()))
        return std::nullopt;
    return it->Text;
}

std::optional<std::string> TIvDictionary::Lookup(const std::string& text, const std::string& owner,
                                                 const std::string& name) const {
    if (!FOwnersAndNames) return Find(text, false);
    return Find(text + kIvKeySeparator + owner + name, false);
}

std::optional<std::string> TIvDictionary::LookupText(const std::string& text) const {
    if (!FOwnersAndNames) return Find(text, false);
    return Find(text + kIvKeySeparator, true);
}

std::string TIvDictionary::Resolve(const std::string& text,
                                   const std::optional<std::string>& found) const {
    if (found) return *found;
    switch (MissingTranslation) {
        case ivmtUseNative:
            return text;
        case ivmtUseNull:
            return {};
        case ivmtTagNative:
            return "@" + text + "@";
        case ivmtRaiseException:
            throw EIvMulti(SNoTranslation, text.c_str());
    }
    return text;
}

std::string TIvDictionary::TranslateRunTimeText(const std::string& text) const {
    if (!FActive) return text;
    std::optional<std::string> found = Lookup(text, {}, {});
    if (!found) found = LookupText(text);
    return Resolve(text, found);
}

void TIvDictionary::ResourceStringHook(void* context, int id, std::string& text) {
    const auto* dictionary = static_cast<const TIvDictionary*>(context);
    std::optional<std::string> found = dictionary->Lookup(text, {}, std::to_string(id));
    if (!found) found = dictionary->Lookup(text, {}, {});
    if (!found) found = dictionary->LookupText(text);
    text = dictionary->Resolve(text, found);
}

void TIvDictionary::RegisterTranslator(TIvCustomTranslator* translator) {
    if (std::find(FTranslators.begin(), FTranslators.end(), translator) == FTranslators.end())
        FTranslators.push_back(translator);
}

void TIvDictionary::UnregisterTranslator(TIvCustomTranslator* translator) {
    FTranslators.erase(std::remove(FTranslators.begin(), FTranslators.end(), translator),
                       FTranslators.end());
}

void TIvBinaryDictionary::OpenFile(TIvDictFile& file) {
    if (FileName.empty()) throw EIvMulti(SNoFileName);
    if (Storage == ivsResource || Storage == ivsEmbedded) {
        auto bytes = FindResource("IvDictionary", "DICTIONARY");
        if (!bytes) throw EIvMulti(SDictionaryNotFound, FileName.c_str());
        FStream = std::make_unique<TMemoryStream>(*bytes);
        file.Open(*FStream);
        return;
    }
    std::string name = FileName;
    if (!FileExists(name) && !name.empty() && name.front() != '/') {
        std::string beside = ProgramFolder();
        if (!beside.empty() && beside.back() != '/') beside += '/';
        beside += name;
        if (FileExists(beside)) name = beside;
    }
    file.Open(name);
}

}  // namespace pix
