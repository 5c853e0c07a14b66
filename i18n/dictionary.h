// SPDX-License-Identifier: MIT
// The dictionary component: chooses the language from the user's locale, holds the
// translations of that language read from an IVD dictionary, and while it is open sends
// every resource string of the program through them.
#pragma once

#include "i18n/dict_file.h"
#include "platform/user_locale.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace pix {

class TIvCustomTranslator;

enum TIvStorage { ivsFile, ivsEmbedded, ivsResource };
enum TIvBinding { ivbiNone, ivbiLocaleToLanguage, ivbiLanguageToLocale };
enum TIvMissingTranslation { ivmtUseNative, ivmtUseNull, ivmtTagNative, ivmtRaiseException };
enum TIvEuro { iveNormal, iveBusiness, iveIgnore };
enum TIvCheckLevel { ivclNone, ivclSystem, ivclCodePage };

enum TIvDictionaryOption : unsigned {
    ivdoConvertNativeString = 1u << 0,
    ivdoUpdateLocaleVariables = 1u << 1,
    ivdoAutoTranslate = 1u << 2,
    ivdoYear2000 = 1u << 3,
    ivdoTranslateResourceStrings = 1u << 4,
    ivdoRecreateMDIChild = 1u << 5,
    ivdoUseFlatTranslation = 1u << 6,
};
inline constexpr unsigned kIvdoAll = 0x7F;

// Language indexes meaning the user's and the system's default locale.
inline constexpr int kIvUserLanguage = -1;
inline constexpr int kIvSystemLanguage = -2;

// The separator between native text and owner in a translation key.
inline constexpr char kIvKeySeparator = '\x7F';

// One translation of the open dictionary; texts are UTF-8.
struct TIvTranslationEntry {
    std::string Native, Owner, Name, Text;
    std::string Key;  // Native + 127 + Owner + Name, or Native alone without owners and names
};

// The base of dictionaries: properties, the process-wide list, the language choice, the
// sorted translation table and its lookups, and resource-string translation. Derived classes
// give the IVD stream. Main thread, except the lookups, which any thread may call while the
// dictionary is open (resource strings are loaded by worker threads too).
class TIvDictionary {
public:
    TIvDictionary();
    virtual ~TIvDictionary();
    TIvDictionary(const TIvDictionary&) = delete;
    TIvDictionary& operator=(const TIvDictionary&) = delete;

    // Every dictionary alive, in creation order.
    static const std::vector<TIvDictionary*>& Dictionaries();

    bool Enabled = true;
    std::string DictionaryName;
    int MasterLanguage = 0;
    TIvBinding Binding = ivbiLocaleToLanguage;
    unsigned Options = kIvdoAll;
    TIvMissingTranslation MissingTranslation = ivmtUseNative;
    TIvEuro Euro = iveNormal;
    TIvCheckLevel CheckLevel = ivclCodePage;
    std::function<void()> OnBeforeOpen, OnAfterOpen, OnBeforeClose, OnAfterClose, OnLanguageChange,
        OnLocaleChange;

    // −1 the user's default locale, −2 the system's, else a language index. Setting a value
    // below −2, or beyond the last language of an open dictionary, raises EIvMulti.
    int Language() const { return FLanguage; }
    void SetLanguage(int language);
    // The locale in use: the chosen language's while open with ivbiLocaleToLanguage.
    int PrimaryLanguage() const { return FLocale.Primary; }
    int SubLanguage() const { return FLocale.Sub; }

    // Opens with the language and translations (nothing when not Enabled); EIvMulti or the
    // format's errors when that fails, leaving the dictionary closed.
    void Open();
    void Close();
    bool Active() const { return FActive; }

    // Of an open dictionary: the chosen and fallback language indexes and the records.
    int LanguageIndex() const { return FLanguageIndex; }
    int FallbackIndex() const { return FFallbackIndex; }
    const TIvDictLanguage& LanguageRecord() const { return FLanguageRecord; }
    int NativeCodePage() const { return FNativeCodePage; }
    const std::vector<TIvTranslationEntry>& Table() const { return FTable; }
    bool HasOwnersAndNames() const { return FOwnersAndNames; }

    // The translation of the exact key, or of any entry with that native text.
    std::optional<std::string> Lookup(const std::string& text, const std::string& owner,
                                      const std::string& name) const;
    std::optional<std::string> LookupText(const std::string& text) const;
    // The text to show for `text`: the translation found, else by MissingTranslation.
    std::string Resolve(const std::string& text, const std::optional<std::string>& found) const;
    // A text built at run time: by its text with empty owner and name, then by text alone.
    std::string TranslateRunTimeText(const std::string& text) const;

    // Translators that took texts from this dictionary; they let go when it closes.
    void RegisterTranslator(TIvCustomTranslator* translator);
    void UnregisterTranslator(TIvCustomTranslator* translator);

    // The language index matching a locale (0 for the neutral one), or −1.
    int FindLanguage(TLocaleId locale);
    // Whether the system can show the language's texts.
    bool LanguageSupported(const TIvDictLanguage& language) const;

protected:
    // Positions `file` on the dictionary's IVD stream.
    virtual void OpenFile(TIvDictFile& file) = 0;

private:
    // The translation of the entry whose key is `key`, or (prefix) starts with it.
    std::optional<std::string> Find(const std::string& key, bool prefix) const;
    static void ResourceStringHook(void* context, int id, std::string& text);
    int ChooseLanguage(TIvDictFile& file);
    void LoadTable(TIvDictFile& file);

    int FLanguage = kIvUserLanguage;
    TLocaleId FLocale{0, 1};
    bool FActive = false;
    int FLanguageIndex = 0;
    int FFallbackIndex = 0;
    int FNativeCodePage = 1252;
    int FLanguageCount = 0;
    TIvDictLanguage FLanguageRecord;
    std::vector<TIvDictLanguage> FLanguages;
    std::vector<TIvTranslationEntry> FTable;
    bool FOwnersAndNames = false;
    bool FHooked = false;
    std::vector<TIvCustomTranslator*> FTranslators;
};

// A dictionary read from a file or from the program's resources (type "DICTIONARY", name
// "IvDictionary").
class TIvBinaryDictionary : public TIvDictionary {
public:
    std::string FileName;
    TIvStorage Storage = ivsFile;

protected:
    void OpenFile(TIvDictFile& file) override;

private:
    std::unique_ptr<TStream> FStream;
};

}  // namespace pix
