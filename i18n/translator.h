// SPDX-License-Identifier: MIT
// The translator component: rewrites the texts of its form with the translations of a
// dictionary when the form has been built. Design property names map onto the Qt
// properties that hold those texts:
//   "Caption": window titles, button, label and action texts, menu and group-box titles;
//   "Hint": tool tips and status tips;
//   "Items": the items of combo boxes and list widgets;
//   "Lines": the lines of plain-text boxes;
//   "Text": the whole text of a rich-text box.
#pragma once

#include "i18n/dictionary.h"

#include <QObject>
#include <QPointer>
#include <QVariantList>

#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <vector>

class QWidget;

namespace pix {

enum TIvTargetKind { tkInclude = 0, tkExclude = 1 };

struct TIvTargetProperty {
    std::string ClassName;     // empty: any class
    std::string PropertyName;  // empty: every property of the class
    TIvTargetKind Kind = tkInclude;
    bool operator==(const TIvTargetProperty&) const = default;
};

// Which properties of which classes a translator rewrites.
class TIvTargetProperties {
public:
    void Add(std::string className, std::string propertyName, TIvTargetKind kind = tkInclude);
    void Clear() { FItems.clear(); }
    const std::vector<TIvTargetProperty>& Items() const { return FItems; }

    // The stored form "TargetsData": {version, count, {class, property, kind}, ...}. Class
    // "*" is read as any class; an item equal to one already read is dropped; a version above
    // 1 raises EIvMulti. Items that are not a list of two texts and a number are skipped.
    void ReadData(const QVariantList& data);
    QVariantList WriteData() const;

    // Whether a property of an object with these class names is translated: no exclude item
    // matches and an include item does. Names are compared without regard to case.
    bool Translates(const std::vector<std::string>& classNames, const std::string& property) const;

private:
    std::vector<TIvTargetProperty> FItems;
};

enum TIvTranslatorOption : unsigned {
    ivtoAutoTranslate = 1u << 0,
    ivtoCheckFont = 1u << 1,
    ivtoScaleMultiByte = 1u << 2,
    ivtoMirrorBiDirectional = 1u << 3,
    ivtoChangeFontCharset = 1u << 4,
    ivtoUpdateLocaleProperty = 1u << 5,
    ivtoAutoOpen = 1u << 6,
    ivtoTranslateSystemMenu = 1u << 7,
    ivtoTranslateOCX = 1u << 8,
    ivtoForceCharsetChange = 1u << 9,
};
inline constexpr unsigned kIvtoDefault = ivtoAutoTranslate | ivtoCheckFont | ivtoScaleMultiByte |
                                         ivtoMirrorBiDirectional | ivtoAutoOpen |
                                         ivtoTranslateSystemMenu | ivtoTranslateOCX;
enum TIvCharsetChange { ivccNormal, ivccForce, ivccNone };
enum TIvReadingOrder { ivroLeftToRight, ivroRightToLeft };

// Removes a menu text's hot-key markers: "(&X)" groups whole, then every other '&'.
std::string StripHotKey(const std::string& text);

// The translator sits on its form as a child object. Main thread.
class TIvCustomTranslator : public QObject {
    Q_OBJECT
public:
    explicit TIvCustomTranslator(QWidget* form);
    ~TIvCustomTranslator() override;

    std::string DictionaryName;
    TIvTargetProperties Targets;
    unsigned Options = kIvtoDefault;
    TIvCharsetChange CharsetChange = ivccNormal;
    TIvReadingOrder NativeReadingOrder = ivroLeftToRight;
    int MultiByteScale = 100;
    std::function<void()> OnBeforeTranslate, OnAfterTranslate, OnLanguageChange, OnLocaleChange;

    // Called when the form has been built: opens when auto-open is set and a dictionary
    // exists.
    void Loaded();
    // Finds the dictionary, opens it and translates the form. EIvMulti without dictionary.
    void Open();
    // Translates the form with the open dictionary (again); texts it set before are taken
    // back to their native texts first.
    void Translate();
    TIvDictionary* Dictionary() const { return FDictionary; }
    // The dictionary is closing: the translator lets go of it.
    void DictionaryClosing(TIvDictionary* dictionary);

private:
    struct TRecord {
        std::string Native, Set;
    };
    void FindDictionary();
    void TranslateObject(QObject* object, bool isForm);
    std::string TranslateText(QObject* object, const std::string& slot, const std::string& text,
                              const std::string& componentName, bool menuItem);

    QWidget* FForm;
    TIvDictionary* FDictionary = nullptr;
    std::vector<std::string> FFormClasses;
    std::map<std::pair<QObject*, std::string>, TRecord> FRecords;
};

class TIvTranslator : public TIvCustomTranslator {
    Q_OBJECT
public:
    using TIvCustomTranslator::TIvCustomTranslator;
};

// The programs' dictionary: "Dictionary", read from the resources built into the program.
std::unique_ptr<TIvBinaryDictionary> MakeProgramDictionary();

// Puts a translator named "IvTranslator" with these targets (all of kind include; a class
// of "" is any class) on a form that has been built, and translates it with the dictionary
// "Dictionary" when one exists. A dictionary that cannot be opened leaves the texts native
// and goes to the application's error report.
TIvTranslator* TranslateForm(QWidget* form,
                             std::initializer_list<std::pair<const char*, const char*>> targets);

// Installs, when no application error report is set yet, the dictionaries' report: the
// message translated as a run-time text, a "." appended unless it ends in one (or in a
// character at or below it), in an error message box with an OK button.
void InstallDictionaryErrorReport();
// The report's text for a message.
std::string DictionaryErrorText(const std::string& message);

}  // namespace pix
