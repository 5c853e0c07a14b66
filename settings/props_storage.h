// SPDX-License-Identifier: MIT
// Properties of objects written and read as texts: one value per property, named by a
// prefix and the property's name, in the encoding of the property's kind.
#pragma once

#include <QMetaProperty>
#include <QObject>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class QWidget;

namespace pix {

// The kinds of property, by how their values are written.
enum TPropKind {
    tkUnknown,      // not stored
    tkInteger,      // decimal
    tkInt64,        // decimal
    tkChar,         // the character (char)
    tkWChar,        // the character (QChar, char16_t, char32_t), UTF-8
    tkEnumeration,  // the value's identifier; bool is one, of False and True
    tkFloat,        // general format, "." whatever the locale
    tkString,       // the text (QString as UTF-8, QByteArray as it is)
    tkSet,          // "[" the identifiers of the flags set, joined by "," "]"
    tkVariant,      // the QVariant's text; restored as a text
    tkStringList,   // a section of its own: "Count" and "Item0", "Item1", ...
    tkCollection,   // a TCollection: its count and its items' properties
    tkComponent,    // a reference to another object: its name, or "(null)"
    tkObject,       // an object the property's owner holds: its own properties
};

// A list of objects with properties of their own, stored through a property that holds
// it: the count as "<value name>.Count" and the items' properties in the section
// "<section>.<value name>", each item's names beginning "Item<index>_".
class TCollection : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    virtual int Count() const = 0;
    virtual QObject* Item(int index) const = 0;
    virtual void Clear() = 0;
    virtual QObject* Add() = 0;
    // The class of the items, whose properties tell whether an item was stored.
    virtual const QMetaObject& ItemClass() const = 0;
};

// The kind of an object's property.
TPropKind PropKind(const QObject& object, const QMetaProperty& property);

// The published properties of a class: all of them, or those below QObject's own.
class TPropInfoList {
public:
    explicit TPropInfoList(const QMetaObject& metaObject, bool withObjectName = true);
    int Count() const { return static_cast<int>(FItems.size()); }
    const QMetaProperty& Items(int index) const { return FItems[static_cast<std::size_t>(index)]; }
    // By name without regard to case; an exact spelling wins. Null when there is none.
    const QMetaProperty* Find(const std::string& name) const;

private:
    std::vector<QMetaProperty> FItems;
};

// The text of a value as stored: floating-point numbers in the general format with "."
// (15 significant digits, 7 for float), anything else as its text.
std::string VariantText(const QVariant& value);

// Writes and reads the properties of one object. The texts go through the three
// operations of the placement component that made the worker.
class TPropsStorage {
public:
    TPropsStorage() = default;
    virtual ~TPropsStorage() = default;
    TPropsStorage(const TPropsStorage&) = delete;
    TPropsStorage& operator=(const TPropsStorage&) = delete;

    QObject* AObject = nullptr;
    // The form whose objects references are named from.
    QWidget* OwnerForm = nullptr;
    std::string Section;
    std::string Prefix;
    std::function<std::string(const std::string& section, const std::string& name,
                              const std::string& defaultValue)>
        OnReadString;
    std::function<void(const std::string& section, const std::string& name,
                       const std::string& value)>
        OnWriteString;
    std::function<void(const std::string& section)> OnEraseSection;
    std::function<bool(const std::string& section, const std::string& name)> OnValueExists;

    // One property of AObject: written, or read with its current value as the default and
    // set. Properties of an unknown kind are passed over; on restore, a text that does not
    // fit the property leaves it as it was, except that an integer that is not a number
    // becomes 0.
    void StoreAnyProperty(const QMetaProperty& property);
    void LoadAnyProperty(const QMetaProperty& property);
    // All readable, stored properties of AObject below QObject's own; a read-only one only
    // when it holds an object.
    void StoreProperties();
    void LoadProperties();

    virtual std::string ReadString(const std::string& section, const std::string& name,
                                   const std::string& defaultValue);
    virtual void WriteString(const std::string& section, const std::string& name,
                             const std::string& value);
    virtual void EraseSection(const std::string& section);
    virtual bool ValueExists(const std::string& section, const std::string& name);
    // The value name of a property: the prefix followed by the property's name.
    virtual std::string GetItemName(const std::string& propName) const;
    // A worker of the same kind, with the same operations, form and section.
    virtual std::unique_ptr<TPropsStorage> CreateInfoStorage() const;

private:
    std::string StoreValue(const QMetaProperty& property, TPropKind kind) const;
    void LoadValue(const QMetaProperty& property, TPropKind kind, const std::string& text);
    void StoreStringList(const QMetaProperty& property);
    void LoadStringList(const QMetaProperty& property);
    void StoreCollection(TCollection& collection, const std::string& name);
    void LoadCollection(TCollection& collection, const std::string& name);
    std::string ReferenceName(const QObject* target) const;
    QObject* FindReference(const std::string& name) const;
    static std::vector<QMetaProperty> StoredProperties(const QMetaObject& metaObject);
};

}  // namespace pix
