// SPDX-License-Identifier: MIT
#include "settings/props_storage.h"

#include "platform/error.h"
#include "platform/ini_file.h"

#include <QApplication>
#include <QMetaEnum>
#include <QStringList>
#include <QWidget>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <limits>

namespace pix {
namespace {

bool SameText(const QString& a, const std::string& b) {
    return a.compare(QString::fromStdString(b), Qt::CaseInsensitive) == 0;
}

std::string Trim(const std::string& text) {
    std::size_t begin = 0, end = text.size();
    while (begin < end && std::isspace(static_cast<unsigned char>(text[begin]))) ++begin;
    while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1]))) --end;
    return text.substr(begin, end - begin);
}

bool IsUnsignedType(int id) {
    return id == QMetaType::UInt || id == QMetaType::UShort || id == QMetaType::UChar ||
           id == QMetaType::ULong || id == QMetaType::ULongLong;
}

// The range of an integer property's type.
void RangeOf(int id, long double& low, long double& high) {
    switch (id) {
        case QMetaType::Short:
            low = std::numeric_limits<short>::min(), high = std::numeric_limits<short>::max();
            break;
        case QMetaType::UShort:
            low = 0, high = std::numeric_limits<unsigned short>::max();
            break;
        case QMetaType::SChar:
            low = std::numeric_limits<signed char>::min();
            high = std::numeric_limits<signed char>::max();
            break;
        case QMetaType::UChar:
            low = 0, high = std::numeric_limits<unsigned char>::max();
            break;
        case QMetaType::UInt:
            low = 0, high = std::numeric_limits<unsigned>::max();
            break;
        case QMetaType::Long:
            low = std::numeric_limits<long>::min(), high = std::numeric_limits<long>::max();
            break;
        case QMetaType::ULong:
            low = 0, high = std::numeric_limits<unsigned long>::max();
            break;
        case QMetaType::LongLong:
            low = std::numeric_limits<long long>::min();
            high = std::numeric_limits<long long>::max();
            break;
        case QMetaType::ULongLong:
            low = 0, high = std::numeric_limits<unsigned long long>::max();
            break;
        default:
            low = std::numeric_limits<int>::min(), high = std::numeric_limits<int>::max();
            break;
    }
}

// A decimal integer that fits the property's type, optionally signed; false otherwise.
bool ParseInteger(const std::string& text, int id, QVariant& value) {
    if (text.empty()) return false;
    const bool negative = text[0] == '-';
    const std::size_t digits = text[0] == '-' || text[0] == '+' ? 1 : 0;
    if (digits == text.size()) return false;
    for (std::size_t i = digits; i < text.size(); ++i)
        if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
    long double low = 0, high = 0;
    RangeOf(id, low, high);
    errno = 0;
    if (negative) {
        const long long v = std::strtoll(text.c_str(), nullptr, 10);
        if (errno == ERANGE || static_cast<long double>(v) < low) return false;
        value = QVariant::fromValue(static_cast<qlonglong>(v));
    } else {
        const unsigned long long v = std::strtoull(text.c_str() + digits, nullptr, 10);
        if (errno == ERANGE || static_cast<long double>(v) > high) return false;
        value = QVariant::fromValue(static_cast<qulonglong>(v));
    }
    return true;
}

// A single flag of a set: one bit.
bool IsMember(int value) {
    const auto v = static_cast<unsigned>(value);
    return v != 0 && (v & (v - 1)) == 0;
}

// The object's window, or the root of its parents; null for a window or an object without
// a parent.
const QObject* OwnerOf(const QObject* target) {
    if (const auto* w = qobject_cast<const QWidget*>(target); w != nullptr && w->isWindow())
        return nullptr;
    for (const QObject* p = target->parent(); p != nullptr; p = p->parent()) {
        if (const auto* w = qobject_cast<const QWidget*>(p); w != nullptr && w->isWindow())
            return p;
        if (p->parent() == nullptr) return p;
    }
    return nullptr;
}

QObject* FindDescendant(const QObject* root, const std::string& name) {
    if (root == nullptr || name.empty()) return nullptr;
    for (QObject* child : root->findChildren<QObject*>())
        if (SameText(child->objectName(), name)) return child;
    return nullptr;
}

QWidget* FindWindow(const std::string& name) {
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) return nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (SameText(w->objectName(), name)) return w;
    return nullptr;
}

}  // namespace

TPropKind PropKind(const QObject& object, const QMetaProperty& property) {
    if (property.isFlagType()) return tkSet;
    if (property.isEnumType()) return tkEnumeration;
    const QMetaType type = property.metaType();
    switch (type.id()) {
        case QMetaType::Bool:
            return tkEnumeration;
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::Short:
        case QMetaType::UShort:
        case QMetaType::Long:
        case QMetaType::ULong:
        case QMetaType::SChar:
        case QMetaType::UChar:
            return tkInteger;
        case QMetaType::LongLong:
        case QMetaType::ULongLong:
            return tkInt64;
        case QMetaType::Char:
            return tkChar;
        case QMetaType::QChar:
        case QMetaType::Char16:
        case QMetaType::Char32:
            return tkWChar;
        case QMetaType::Double:
        case QMetaType::Float:
            return tkFloat;
        case QMetaType::QString:
        case QMetaType::QByteArray:
            return tkString;
        case QMetaType::QVariant:
            return tkVariant;
        case QMetaType::QStringList:
            return tkStringList;
        default:
            break;
    }
    if (type.flags() & QMetaType::PointerToQObject) {
        const QObject* value = property.read(&object).value<QObject*>();
        if (qobject_cast<const TCollection*>(value) != nullptr) return tkCollection;
        if (value != nullptr && value->parent() == &object) return tkObject;
        return tkComponent;
    }
    return tkUnknown;
}

TPropInfoList::TPropInfoList(const QMetaObject& metaObject, bool withObjectName) {
    const int first = withObjectName ? 0 : QObject::staticMetaObject.propertyCount();
    for (int i = first; i < metaObject.propertyCount(); ++i)
        FItems.push_back(metaObject.property(i));
}

const QMetaProperty* TPropInfoList::Find(const std::string& name) const {
    const QMetaProperty* found = nullptr;
    for (const QMetaProperty& p : FItems) {
        if (name == p.name()) return &p;
        if (found == nullptr && SameText(QString::fromLatin1(p.name()), name)) found = &p;
    }
    return found;
}

std::string VariantText(const QVariant& value) {
    switch (value.typeId()) {
        case QMetaType::Double:
            return QString::number(value.toDouble(), 'g', 15).toStdString();
        case QMetaType::Float:
            return QString::number(static_cast<double>(value.toFloat()), 'g', 7).toStdString();
        case QMetaType::QByteArray:
            return value.toByteArray().toStdString();
        default:
            return value.toString().toStdString();
    }
}

std::string TPropsStorage::ReadString(const std::string& section, const std::string& name,
                                      const std::string& defaultValue) {
    return OnReadString ? OnReadString(section, name, defaultValue) : defaultValue;
}

void TPropsStorage::WriteString(const std::string& section, const std::string& name,
                                const std::string& value) {
    if (OnWriteString) OnWriteString(section, name, value);
}

void TPropsStorage::EraseSection(const std::string& section) {
    if (OnEraseSection) OnEraseSection(section);
}

bool TPropsStorage::ValueExists(const std::string& section, const std::string& name) {
    return OnValueExists && OnValueExists(section, name);
}

std::string TPropsStorage::GetItemName(const std::string& propName) const {
    return Prefix + propName;
}

std::unique_ptr<TPropsStorage> TPropsStorage::CreateInfoStorage() const {
    auto storage = std::make_unique<TPropsStorage>();
    storage->OwnerForm = OwnerForm;
    storage->Section = Section;
    storage->OnReadString = OnReadString;
    storage->OnWriteString = OnWriteString;
    storage->OnEraseSection = OnEraseSection;
    storage->OnValueExists = OnValueExists;
    return storage;
}

std::vector<QMetaProperty> TPropsStorage::StoredProperties(const QMetaObject& metaObject) {
    std::vector<QMetaProperty> result;
    const TPropInfoList list(metaObject, false);
    for (int i = 0; i < list.Count(); ++i) {
        const QMetaProperty& p = list.Items(i);
        if (!p.isReadable() || !p.isStored()) continue;
        if (p.isWritable() || (p.metaType().flags() & QMetaType::PointerToQObject))
            result.push_back(p);
    }
    return result;
}

void TPropsStorage::StoreProperties() {
    if (AObject == nullptr) return;
    for (const QMetaProperty& p : StoredProperties(*AObject->metaObject())) StoreAnyProperty(p);
}

void TPropsStorage::LoadProperties() {
    if (AObject == nullptr) return;
    for (const QMetaProperty& p : StoredProperties(*AObject->metaObject())) LoadAnyProperty(p);
}

void TPropsStorage::StoreAnyProperty(const QMetaProperty& property) {
    if (AObject == nullptr) return;
    const TPropKind kind = PropKind(*AObject, property);
    const std::string name = GetItemName(property.name());
    switch (kind) {
        case tkUnknown:
            return;
        case tkStringList:
            StoreStringList(property);
            return;
        case tkCollection:
            StoreCollection(*qobject_cast<TCollection*>(property.read(AObject).value<QObject*>()),
                            name);
            return;
        case tkObject: {
            auto storage = CreateInfoStorage();
            storage->AObject = property.read(AObject).value<QObject*>();
            storage->Prefix = name;
            storage->StoreProperties();
            return;
        }
        default:
            WriteString(Section, name, StoreValue(property, kind));
    }
}

void TPropsStorage::LoadAnyProperty(const QMetaProperty& property) {
    if (AObject == nullptr) return;
    const TPropKind kind = PropKind(*AObject, property);
    const std::string name = GetItemName(property.name());
    switch (kind) {
        case tkUnknown:
            return;
        case tkStringList:
            LoadStringList(property);
            return;
        case tkCollection:
            LoadCollection(*qobject_cast<TCollection*>(property.read(AObject).value<QObject*>()),
                           name);
            return;
        case tkObject: {
            auto storage = CreateInfoStorage();
            storage->AObject = property.read(AObject).value<QObject*>();
            storage->Prefix = name;
            storage->LoadProperties();
            return;
        }
        default:
            LoadValue(property, kind, Trim(ReadString(Section, name, StoreValue(property, kind))));
    }
}

std::string TPropsStorage::StoreValue(const QMetaProperty& property, TPropKind kind) const {
    const QVariant value = property.read(AObject);
    const int id = property.metaType().id();
    switch (kind) {
        case tkInteger:
        case tkInt64:
            return IsUnsignedType(id) ? std::to_string(value.toULongLong())
                                      : std::to_string(value.toLongLong());
        case tkChar: {
            const char c = value.value<char>();
            return c != 0 ? std::string(1, c) : std::string();
        }
        case tkWChar: {
            QString text;
            if (id == QMetaType::Char32) {
                const char32_t c = value.value<char32_t>();
                text = QString::fromUcs4(&c, 1);
            } else if (id == QMetaType::Char16) {
                text = QChar(value.value<char16_t>());
            } else {
                text = value.toChar();
            }
            return text == QChar(0) ? std::string() : text.toStdString();
        }
        case tkEnumeration: {
            if (id == QMetaType::Bool) return value.toBool() ? "True" : "False";
            const int n = value.toInt();
            const char* key = property.enumerator().valueToKey(n);
            return key != nullptr ? key : std::to_string(n);
        }
        case tkSet: {
            const QMetaEnum e = property.enumerator();
            const int n = value.toInt();
            std::string text = "[";
            for (int i = 0; i < e.keyCount(); ++i) {
                if (!IsMember(e.value(i)) || (n & e.value(i)) == 0) continue;
                if (text.size() > 1) text += ",";
                text += e.key(i);
            }
            return text + "]";
        }
        case tkFloat:
        case tkVariant:
        case tkString:
            return VariantText(value);
        case tkComponent:
            return ReferenceName(value.value<QObject*>());
        default:
            return {};
    }
}

void TPropsStorage::LoadValue(const QMetaProperty& property, TPropKind kind,
                              const std::string& text) {
    const int id = property.metaType().id();
    QVariant value;
    switch (kind) {
        case tkInteger:
        case tkInt64:
            if (!ParseInteger(text, id, value)) value = QVariant::fromValue(0);
            break;
        case tkChar:
            if (text.empty()) return;
            value = QVariant::fromValue(text[0]);
            break;
        case tkWChar: {
            const QList<uint> chars = QString::fromStdString(text).toUcs4();
            if (chars.isEmpty()) return;
            if (id == QMetaType::Char32)
                value = QVariant::fromValue(static_cast<char32_t>(chars[0]));
            else if (id == QMetaType::Char16)
                value = QVariant::fromValue(static_cast<char16_t>(chars[0]));
            else
                value = QVariant::fromValue(QString::fromStdString(text).at(0));
            break;
        }
        case tkEnumeration: {
            if (id == QMetaType::Bool) {
                if (SameText(QStringLiteral("True"), text))
                    value = true;
                else if (SameText(QStringLiteral("False"), text))
                    value = false;
                else
                    return;
                break;
            }
            const QMetaEnum e = property.enumerator();
            for (int i = 0; i < e.keyCount() && !value.isValid(); ++i)
                if (SameText(QString::fromLatin1(e.key(i)), text)) value = e.value(i);
            if (!value.isValid()) return;
            break;
        }
        case tkSet: {
            std::string inner = text;
            if (inner.size() >= 2 && inner.front() == '[' && inner.back() == ']')
                inner = inner.substr(1, inner.size() - 2);
            const QMetaEnum e = property.enumerator();
            int flags = 0;
            for (const QString& part : QString::fromStdString(inner).split(u',')) {
                const std::string name = Trim(part.toStdString());
                if (name.empty()) continue;
                bool known = false;
                for (int i = 0; i < e.keyCount() && !known; ++i) {
                    if (SameText(QString::fromLatin1(e.key(i)), name)) {
                        flags |= e.value(i);
                        known = true;
                    }
                }
                if (!known) return;
            }
            value = flags;
            break;
        }
        case tkFloat: {
            bool ok = false;
            const double d = QString::fromStdString(text).toDouble(&ok);
            if (!ok) return;
            value = d;
            break;
        }
        case tkString:
            value = id == QMetaType::QByteArray ? QVariant(QByteArray::fromStdString(text))
                                                : QVariant(QString::fromStdString(text));
            break;
        case tkVariant:
            value = QString::fromStdString(text);
            break;
        case tkComponent: {
            QObject* target = nullptr;
            if (text != "(null)") {
                target = FindReference(text);
                const QMetaObject* wanted = property.metaType().metaObject();
                if (target == nullptr ||
                    (wanted != nullptr && !target->metaObject()->inherits(wanted)))
                    return;
            }
            value = QVariant::fromValue(target);
            break;
        }
        default:
            return;
    }
    property.write(AObject, value);
}

void TPropsStorage::StoreStringList(const QMetaProperty& property) {
    const std::string section = Section + "." + GetItemName(property.name());
    const QStringList list = property.read(AObject).toStringList();
    EraseSection(section);
    if (!list.isEmpty()) WriteString(section, "Count", std::to_string(list.size()));
    for (qsizetype i = 0; i < list.size(); ++i)
        WriteString(section, Fmt("Item%d", static_cast<int>(i)), list[i].toStdString());
}

void TPropsStorage::LoadStringList(const QMetaProperty& property) {
    const std::string section = Section + "." + GetItemName(property.name());
    std::int32_t count = 0;
    if (!TryStrToInt(ReadString(section, "Count", "0"), count)) count = 0;
    QStringList list;
    // A count beyond the lines stored ends with them.
    for (int i = 0; i < count; ++i) {
        const std::string name = Fmt("Item%d", i);
        if (!ValueExists(section, name)) break;
        list.append(QString::fromStdString(ReadString(section, name, {})));
    }
    property.write(AObject, list);
}

void TPropsStorage::StoreCollection(TCollection& collection, const std::string& name) {
    WriteString(Section, name + ".Count", std::to_string(collection.Count()));
    const std::string section = Section + "." + name;
    EraseSection(section);
    for (int i = 0; i < collection.Count(); ++i) {
        auto storage = CreateInfoStorage();
        storage->AObject = collection.Item(i);
        storage->Section = section;
        storage->Prefix = Fmt("Item%d_", i);
        storage->StoreProperties();
    }
}

void TPropsStorage::LoadCollection(TCollection& collection, const std::string& name) {
    // Nothing stored leaves the items as they are.
    std::int32_t count = 0;
    if (!ValueExists(Section, name + ".Count") ||
        !TryStrToInt(ReadString(Section, name + ".Count", {}), count))
        return;
    const std::string section = Section + "." + name;
    const std::vector<QMetaProperty> itemProperties = StoredProperties(collection.ItemClass());
    collection.Clear();
    for (int i = 0; i < count; ++i) {
        // A count beyond the items stored ends with them.
        const std::string prefix = Fmt("Item%d_", i);
        bool stored = false;
        for (const QMetaProperty& p : itemProperties)
            stored = stored || ValueExists(section, prefix + p.name());
        if (!stored) break;
        auto storage = CreateInfoStorage();
        storage->AObject = collection.Add();
        storage->Section = section;
        storage->Prefix = prefix;
        storage->LoadProperties();
    }
}

std::string TPropsStorage::ReferenceName(const QObject* target) const {
    if (target == nullptr) return "(null)";
    const std::string name = target->objectName().toStdString();
    const QObject* owner = OwnerOf(target);
    if (owner != nullptr && owner != OwnerForm)
        return owner->objectName().toStdString() + "." + name;
    return name;
}

QObject* TPropsStorage::FindReference(const std::string& name) const {
    const std::size_t dot = name.find('.');
    if (dot == std::string::npos) {
        if (QObject* found = FindDescendant(OwnerForm, name)) return found;
        return FindWindow(name);
    }
    const std::string ownerName = name.substr(0, dot);
    const QObject* owner = OwnerForm != nullptr && SameText(OwnerForm->objectName(), ownerName)
                               ? OwnerForm
                               : FindWindow(ownerName);
    return FindDescendant(owner, name.substr(dot + 1));
}

}  // namespace pix
