// SPDX-License-Identifier: MIT
#include "i18n/translator.h"

#include "platform/res_strings.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QMetaObject>
#include <QPlainTextEdit>
#include <QSignalBlocker>
#include <QTextEdit>
#include <QWidget>

#include <algorithm>
#include <cctype>

namespace pix {
namespace {

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool SameName(const std::string& a, const std::string& b) { return Lower(a) == Lower(b); }

std::string Unqualified(const char* className) {
    std::string name = className;
    const std::size_t colon = name.rfind(':');
    return colon == std::string::npos ? name : name.substr(colon + 1);
}

// The framework's own classes end the owner chain of a form.
bool FrameworkClass(const QMetaObject* meta) { return meta->className()[0] == 'Q'; }

// The names a target item's class is matched against: the object's class and the name the
// component has in the form designer's terms.
std::vector<std::string> ClassNames(QObject* object) {
    std::vector<std::string> names{Unqualified(object->metaObject()->className())};
    const char* alias = nullptr;
    if (qobject_cast<QAction*>(object) || qobject_cast<QMenu*>(object))
        alias = "TMenuItem";
    else if (qobject_cast<QPlainTextEdit*>(object))
        alias = "TMemo";
    else if (qobject_cast<QTextEdit*>(object))
        alias = "TRichEdit";
    else if (qobject_cast<QLabel*>(object))
        alias = "TLabel";
    else if (qobject_cast<QComboBox*>(object))
        alias = "TComboBox";
    else if (qobject_cast<QListWidget*>(object))
        alias = "TListBox";
    else if (qobject_cast<QGroupBox*>(object))
        alias = "TGroupBox";
    else if (qobject_cast<QAbstractButton*>(object))
        alias = "TButton";
    if (alias) names.emplace_back(alias);
    return names;
}

std::string ToStd(const QString& text) { return text.toUtf8().toStdString(); }
QString ToQ(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

std::string StripHotKey(const std::string& text) {
    std::string result;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text.compare(i, 2, "(&") == 0 && i + 3 < text.size() && text[i + 3] == ')') {
            i += 3;
            continue;
        }
        if (text[i] != '&') result += text[i];
    }
    return result;
}

void TIvTargetProperties::Add(std::string className, std::string propertyName, TIvTargetKind kind) {
    TIvTargetProperty item{std::move(className), std::move(propertyName), kind};
    if (std::find(FItems.begin(), FItems.end(), item) == FItems.end())
        FItems.push_back(std::move(item));
}

void TIvTargetProperties::ReadData(const QVariantList& data) {
    FItems.clear();
    if (data.isEmpty()) return;
    const int version = data[0].toInt();
    if (version > 1) throw EIvMulti(SUnknownTargetsVersion, version);
    const qsizetype count = data.size() > 1 ? data[1].toLongLong() : 0;
    for (qsizetype i = 0; i < count && i + 2 < data.size(); ++i) {
        const QVariantList item = data[i + 2].toList();
        if (item.size() != 3) continue;
        std::string className = ToStd(item[0].toString());
        if (className == "*") className.clear();
        const int kind = item[2].toInt();
        Add(std::move(className), ToStd(item[1].toString()), kind == 1 ? tkExclude : tkInclude);
    }
}

QVariantList TIvTargetProperties::WriteData() const {
    QVariantList data{1, static_cast<qlonglong>(FItems.size())};
    for (const TIvTargetProperty& item : FItems)
        data.push_back(QVariantList{ToQ(item.ClassName.empty() ? "*" : item.ClassName),
                                    ToQ(item.PropertyName), static_cast<int>(item.Kind)});
    return data;
}

bool TIvTargetProperties::Translates(const std::vector<std::string>& classNames,
                                     const std::string& property) const {
    bool included = false;
    for (const TIvTargetProperty& item : FItems) {
        const bool classMatches =
            item.ClassName.empty() ||
            std::any_of(classNames.begin(), classNames.end(),
                        [&](const std::string& name) { return SameName(name, item.ClassName); });
        if (!classMatches) continue;
        // A class without property name covers every property of that class.
        const bool propertyMatches = item.PropertyName.empty()
                                         ? !item.ClassName.empty()
                                         : SameName(item.PropertyName, property);
        if (!propertyMatches) continue;
        if (item.Kind == tkExclude) return false;
        included = true;
    }
    return included;
}

TIvCustomTranslator::TIvCustomTranslator(QWidget* form) : QObject(form), FForm(form) {}

TIvCustomTranslator::~TIvCustomTranslator() {
    if (FDictionary) FDictionary->UnregisterTranslator(this);
}

void TIvCustomTranslator::DictionaryClosing(TIvDictionary* dictionary) {
    if (FDictionary == dictionary) FDictionary = nullptr;
}

void TIvCustomTranslator::FindDictionary() {
    if (FDictionary) return;
    const auto& all = TIvDictionary::Dictionaries();
    if (all.empty())
        throw EIvMulti(SNoDictionary, objectName().toUtf8().constData(),
                       FForm ? FForm->objectName().toUtf8().constData() : "");
    for (TIvDictionary* dictionary : all)
        if (dictionary->DictionaryName == DictionaryName) {
            FDictionary = dictionary;
            return;
        }
    FDictionary = all.front();
}

void TIvCustomTranslator::Loaded() {
    if ((Options & ivtoAutoOpen) && !TIvDictionary::Dictionaries().empty()) Open();
}

void TIvCustomTranslator::Open() {
    FindDictionary();
    if (!FDictionary->Active()) FDictionary->Open();
    if (FDictionary->Active()) Translate();
}

void TIvCustomTranslator::Translate() {
    if (!FDictionary || !FDictionary->Active() || !FForm) return;
    if (OnBeforeTranslate) OnBeforeTranslate();
    FDictionary->RegisterTranslator(this);
    FFormClasses.clear();
    for (const QMetaObject* meta = FForm->metaObject(); meta && !FrameworkClass(meta);
         meta = meta->superClass())
        FFormClasses.push_back(Unqualified(meta->className()));
    // A form without a class of its own is known by its name.
    if (FFormClasses.empty()) FFormClasses.push_back(ToStd(FForm->objectName()));

    TranslateObject(FForm, true);
    for (QObject* object : FForm->findChildren<QObject*>()) {
        if (qobject_cast<TIvCustomTranslator*>(object)) continue;
        TranslateObject(object, false);
    }
    if (OnAfterTranslate) OnAfterTranslate();
}

std::string TIvCustomTranslator::TranslateText(QObject* object, const std::string& slot,
                                               const std::string& current,
                                               const std::string& componentName, bool menuItem) {
    std::string text = current;
    const auto key = std::make_pair(object, slot);
    auto recorded = FRecords.find(key);
    if (recorded != FRecords.end() && recorded->second.Set == current)
        text = recorded->second.Native;

    const TIvDictionary& dictionary = *FDictionary;
    const bool strip = menuItem && text.find('&') != std::string::npos;
    auto attempt = [&](auto&& lookup) {
        std::optional<std::string> found = lookup(text);
        if (!found && strip) found = lookup(StripHotKey(text));
        return found;
    };
    std::optional<std::string> found;
    if (dictionary.HasOwnersAndNames()) {
        for (const std::string& owner : FFormClasses) {
            found = attempt(
                [&](const std::string& t) { return dictionary.Lookup(t, owner, componentName); });
            if (found) break;
        }
        if (!found && (dictionary.Options & ivdoUseFlatTranslation))
            found = attempt([&](const std::string& t) { return dictionary.LookupText(t); });
    } else {
        found = attempt([&](const std::string& t) { return dictionary.LookupText(t); });
    }
    std::string result = dictionary.Resolve(text, found);
    if (recorded == FRecords.end()) {
        // The records of an object are next to each other: the first one watches it.
        const auto first = FRecords.lower_bound({object, std::string()});
        if (first == FRecords.end() || first->first.first != object) {
            connect(object, &QObject::destroyed, this, [this, object] {
                auto it = FRecords.lower_bound({object, std::string()});
                while (it != FRecords.end() && it->first.first == object) it = FRecords.erase(it);
            });
        }
        FRecords.emplace(key, TRecord{text, result});
    } else {
        recorded->second = TRecord{text, result};
    }
    return result;
}

void TIvCustomTranslator::TranslateObject(QObject* object, bool isForm) {
    const std::vector<std::string> classes = ClassNames(object);
    const std::string name = isForm ? std::string() : ToStd(object->objectName());
    auto translates = [&](const char* property) { return Targets.Translates(classes, property); };
    // One text of the object: read, translated, written back when it changed.
    auto one = [&](const char* slot, const QString& value, bool menuItem, auto&& write) {
        if (value.isEmpty()) return;
        const std::string native = ToStd(value);
        const std::string text = TranslateText(object, slot, native, name, menuItem);
        if (text != native) write(ToQ(text));
    };

    if (translates("Caption")) {
        if (auto* action = qobject_cast<QAction*>(object)) {
            // A menu's own action carries the menu's title, which the menu translates.
            if (!action->isSeparator() && !action->menu())
                one("text", action->text(), true, [&](const QString& t) { action->setText(t); });
        } else if (auto* menu = qobject_cast<QMenu*>(object)) {
            one("title", menu->title(), true, [&](const QString& t) { menu->setTitle(t); });
        } else if (isForm) {
            one("windowTitle", FForm->windowTitle(), false,
                [&](const QString& t) { FForm->setWindowTitle(t); });
        } else if (auto* button = qobject_cast<QAbstractButton*>(object)) {
            one("text", button->text(), false, [&](const QString& t) { button->setText(t); });
        } else if (auto* label = qobject_cast<QLabel*>(object)) {
            one("text", label->text(), false, [&](const QString& t) { label->setText(t); });
        } else if (auto* group = qobject_cast<QGroupBox*>(object)) {
            one("title", group->title(), false, [&](const QString& t) { group->setTitle(t); });
        }
    }
    if (translates("Hint")) {
        if (auto* action = qobject_cast<QAction*>(object)) {
            one("statusTip", action->statusTip(), false,
                [&](const QString& t) { action->setStatusTip(t); });
        } else if (auto* widget = qobject_cast<QWidget*>(object)) {
            one("toolTip", widget->toolTip(), false,
                [&](const QString& t) { widget->setToolTip(t); });
            one("statusTip", widget->statusTip(), false,
                [&](const QString& t) { widget->setStatusTip(t); });
        }
    }
    if (translates("Items")) {
        if (auto* combo = qobject_cast<QComboBox*>(object)) {
            const QSignalBlocker block(combo);
            for (int i = 0; i < combo->count(); ++i)
                one(("item:" + std::to_string(i)).c_str(), combo->itemText(i), false,
                    [&](const QString& t) { combo->setItemText(i, t); });
        } else if (auto* list = qobject_cast<QListWidget*>(object)) {
            const QSignalBlocker block(list);
            for (int i = 0; i < list->count(); ++i)
                one(("item:" + std::to_string(i)).c_str(), list->item(i)->text(), false,
                    [&](const QString& t) { list->item(i)->setText(t); });
        }
    }
    if (translates("Lines")) {
        if (auto* edit = qobject_cast<QPlainTextEdit*>(object)) {
            QStringList lines = edit->toPlainText().split(QLatin1Char('\n'));
            bool changed = false;
            for (qsizetype i = 0; i < lines.size(); ++i)
                one(("line:" + std::to_string(i)).c_str(), lines[i], false, [&](const QString& t) {
                    lines[i] = t;
                    changed = true;
                });
            // One update of the whole list.
            if (changed) edit->setPlainText(lines.join(QLatin1Char('\n')));
        }
    }
    if (translates("Text")) {
        if (auto* edit = qobject_cast<QTextEdit*>(object))
            one("plainText", edit->toPlainText(), false,
                [&](const QString& t) { edit->setPlainText(t); });
    }
}

std::unique_ptr<TIvBinaryDictionary> MakeProgramDictionary() {
    auto dictionary = std::make_unique<TIvBinaryDictionary>();
    dictionary->DictionaryName = "Dictionary";
    dictionary->FileName = "Pixorama.ivd";
    dictionary->Storage = ivsResource;
    return dictionary;
}

TIvTranslator* TranslateForm(QWidget* form,
                             std::initializer_list<std::pair<const char*, const char*>> targets) {
    auto* translator = new TIvTranslator(form);
    translator->setObjectName(QStringLiteral("IvTranslator"));
    translator->DictionaryName = "Dictionary";
    for (const auto& [className, property] : targets) translator->Targets.Add(className, property);
    try {
        translator->Loaded();
    } catch (...) {
        HandleException();
    }
    return translator;
}

std::string DictionaryErrorText(const std::string& message) {
    std::string text = message;
    for (TIvDictionary* dictionary : TIvDictionary::Dictionaries())
        if (dictionary->Active()) {
            text = dictionary->TranslateRunTimeText(message);
            break;
        }
    if (!text.empty() && static_cast<unsigned char>(text.back()) > '.') text += '.';
    return text;
}

void InstallDictionaryErrorReport() {
    if (HasApplicationErrorReport()) return;
    SetApplicationErrorReport([](const std::string& message) {
        std::string text;
        try {
            text = DictionaryErrorText(message);
        } catch (...) {
            text = message;
        }
        QMessageBox::critical(QApplication::activeWindow(), QApplication::applicationName(),
                              ToQ(text), QMessageBox::Ok);
    });
}

}  // namespace pix
