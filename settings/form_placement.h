// SPDX-License-Identifier: MIT
// The window placement of a form kept in the registry (or an INI file): restored when the
// form is shown, saved when it is hidden, closed or destroyed; and the form storage, which
// keeps named properties of the form's objects and named values beside it.
#pragma once

#include "platform/dib.h"
#include "platform/ini_file.h"
#include "settings/props_storage.h"

#include <QObject>
#include <QPointer>
#include <QSize>
#include <QVariant>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QCloseEvent;

namespace pix {

class TScreens;

// What the placement covers.
enum TPlacementOption : unsigned { fpState = 1, fpPosition = 2, fpActiveControl = 4 };
using TPlacementOptions = unsigned;

// The root key of the registry the placement lives under.
enum TPlacementRegRoot {
    prCurrentUser,
    prLocalMachine,
    prCurrentConfig,
    prClassesRoot,
    prUsers,
    prDynData,
};

// Size and position limits of a window; 0 means no limit, all 0 none at all.
struct TWinMinMaxInfo {
    std::int32_t MaxPosLeft = 0;
    std::int32_t MaxPosTop = 0;
    std::int32_t MaxSizeHeight = 0;
    std::int32_t MaxSizeWidth = 0;
    std::int32_t MaxTrackHeight = 0;
    std::int32_t MaxTrackWidth = 0;
    std::int32_t MinTrackHeight = 0;
    std::int32_t MinTrackWidth = 0;
    bool DefaultMinMaxInfo() const { return *this == TWinMinMaxInfo{}; }
    bool operator==(const TWinMinMaxInfo&) const = default;
};

// The section a component's values lie in by default: a window's class name (without its
// namespace); for a control, its window's class name followed by the control's name; for
// another object whose parent is a window, "<window class>.<name>".
std::string DefaultSection(const QObject& component);

// Restores a form's placement when the form is shown and saves it when the form is hidden,
// closed or destroyed, watching the form's events. Qt has no destroy event that comes
// while the window still exists: a form with a placement calls FormDestroy() first thing in
// its destructor (after that the placement stays quiet). Errors in the hooks go to the
// application's error report (HandleException) and the form opens or closes anyway.
class TFormPlacement : public QObject {
    Q_OBJECT
public:
    // Hooks the form; the placement is the form's child. Options default to fpState and
    // fpPosition for a window, to none for a control.
    explicit TFormPlacement(QWidget* form);
    ~TFormPlacement() override;

    QWidget* Form() const { return FForm; }

    bool Active() const { return FActive; }
    void SetActive(bool active) { FActive = active; }
    // The registry key under the root (or the INI file's name); empty means the default:
    // "Software\" and the application's name (with its organisation's in front when set),
    // or the program's file name with ".INI".
    std::string IniFileName() const;
    void SetIniFileName(const std::string& name) { FIniFileName = name; }
    // The section; empty means the form's default section.
    std::string IniSection() const;
    void SetIniSection(const std::string& section) { FIniSection = section; }
    const TWinMinMaxInfo& MinMaxInfo() const { return FMinMaxInfo; }
    void SetMinMaxInfo(const TWinMinMaxInfo& info);
    TPlacementOptions Options() const { return FOptions; }
    void SetOptions(TPlacementOptions options) { FOptions = options; }
    bool PreventResize() const { return FPreventResize; }
    void SetPreventResize(bool prevent);
    TPlacementRegRoot RegistryRoot() const { return FRegistryRoot; }
    void SetRegistryRoot(TPlacementRegRoot root) { FRegistryRoot = root; }
    bool UseRegistry() const { return FUseRegistry; }
    void SetUseRegistry(bool use) { FUseRegistry = use; }
    std::int32_t Version() const { return FVersion; }
    void SetVersion(std::int32_t version) { FVersion = version; }
    // The desktop that restored windows are fitted into; the window system's by default.
    void SetScreens(const TScreens* screens);

    // Restores the placement, the properties and the stored values, then raises
    // OnRestorePlacement.
    void Restore();
    // Saves the version, the placement, the properties and the stored values, then raises
    // OnSavePlacement. Does nothing unless a restore came first (or the placement is not
    // active).
    void Save();
    // The destroy hook: saves unless saved since the last restore, with "Visible" "1".
    void FormDestroy();

    // Texts by section and name on the open registry or INI file, or on one opened for the
    // call. Integers are decimal texts; one that is not a number reads as the default.
    std::string ReadString(const std::string& section, const std::string& name,
                           const std::string& defaultValue);
    void WriteString(const std::string& section, const std::string& name, const std::string& value);
    std::int32_t ReadInteger(const std::string& section, const std::string& name,
                             std::int32_t defaultValue);
    void WriteInteger(const std::string& section, const std::string& name, std::int32_t value);
    void EraseSection(const std::string& section);
    bool ValueExists(const std::string& section, const std::string& name);

signals:
    void OnSavePlacement(pix::TFormPlacement* sender);
    void OnRestorePlacement(pix::TFormPlacement* sender);

protected:
    virtual void SavePlacement();
    virtual void RestorePlacement();
    virtual std::string DoReadString(const std::string& section, const std::string& name,
                                     const std::string& defaultValue);
    virtual void DoWriteString(const std::string& section, const std::string& name,
                               const std::string& value);

    bool eventFilter(QObject* watched, QEvent* event) override;

    // True while the save of the destroy hook runs.
    bool Destroying() const { return FDestroying; }
    bool Restored() const { return FRestored; }

private:
    // The accessor for one save or restore, freed by the guard's end.
    class TIniGuard;
    std::unique_ptr<TCustomIniFile> OpenIniFile() const;
    TCustomIniFile& Ini();

    void FormShow();
    void FormHide();
    bool FormCloseQuery(QCloseEvent* event);
    void Unhook();
    // Fits a rectangle into the work area of its nearest monitor.
    TRect FitIntoWorkArea(const TRect& rect) const;
    void RestoreState();
    void RestoreActiveControl();
    // The sizes the limits allow, applied to the form; with `buttons` also whether it has
    // a maximize button, which changes the window (Qt hides a visible one for that).
    void ApplyLimits(bool buttons);
    const TScreens& Screens() const;

    QPointer<QWidget> FForm;
    bool FActive = true;
    std::string FIniFileName;
    std::string FIniSection;
    TWinMinMaxInfo FMinMaxInfo;
    TPlacementOptions FOptions = fpState | fpPosition;
    bool FPreventResize = false;
    TPlacementRegRoot FRegistryRoot = prCurrentUser;
    bool FUseRegistry = false;
    std::int32_t FVersion = 0;
    const TScreens* FScreens = nullptr;

    bool FRestored = false;
    bool FSaved = false;
    bool FDestroying = false;
    bool FUnhooked = false;
    // A close saved: the hide that follows it does not save again.
    bool FSavedOnClose = false;
    std::unique_ptr<TCustomIniFile> FIniFile;
    // The form's own size limits, put back when the placement's are lifted.
    bool FLimitsApplied = false;
    QSize FOwnMinimumSize;
    QSize FOwnMaximumSize;
};

// A named value kept as text beside the placement.
class TStoredValue : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString Name READ Name WRITE SetName)
    Q_PROPERTY(QVariant Value READ Value WRITE SetValue)
    Q_PROPERTY(QString KeyString READ KeyString WRITE SetKeyString)
public:
    using QObject::QObject;
    QString Name() const { return FName; }
    void SetName(const QString& name) { FName = name; }
    QVariant Value() const { return FValue; }
    void SetValue(const QVariant& value) { FValue = value; }
    QString KeyString() const { return FKeyString; }
    void SetKeyString(const QString& key) { FKeyString = key; }
    // Called with the value before it is written, and with the text read (as a string
    // variant) before it becomes the value; either may change it.
    std::function<void(TStoredValue& sender, QVariant& value)> OnSave;
    std::function<void(TStoredValue& sender, QVariant& value)> OnRestore;

private:
    QString FName;
    QVariant FValue;
    QString FKeyString;
};

// The stored values of a form storage.
class TStoredValues : public TCollection {
    Q_OBJECT
public:
    using TCollection::TCollection;
    int Count() const override { return static_cast<int>(FItems.size()); }
    TStoredValue* Item(int index) const override {
        return FItems[static_cast<std::size_t>(index)].get();
    }
    void Clear() override;
    TStoredValue* Add() override;
    const QMetaObject& ItemClass() const override { return TStoredValue::staticMetaObject; }
    // The value of that name (without regard to case), or null.
    TStoredValue* Find(const QString& name) const;

    // Each named value as text under its name in the placement's section.
    void SaveValues(TFormPlacement& placement);
    void RestoreValues(TFormPlacement& placement);

private:
    std::vector<std::unique_ptr<TStoredValue>> FItems;
};

// The placement and named properties of the form's objects ("Component.Property"), and
// stored values. An entry's object is looked up by name among the form's descendants at
// the first save or restore; entries whose object is missing then, or freed later, are
// dropped, and each save or restore writes the entries with the objects' current names.
class TFormStorage : public TFormPlacement {
    Q_OBJECT
public:
    explicit TFormStorage(QWidget* form);

    std::vector<std::string> StoredProps() const;
    void SetStoredProps(const std::vector<std::string>& props);
    TStoredValues& StoredValues() { return *FStoredValues; }

    // Each entry's property under "<component>_<property>" in the section. Entries whose
    // property does not exist are passed over; an error restoring one is dropped and the
    // next one follows.
    virtual void SaveProperties();
    virtual void RestoreProperties();

protected:
    void SavePlacement() override;
    void RestorePlacement() override;

private:
    struct TStoredProp {
        std::string Component;
        std::string Property;
        QPointer<QObject> Object;
        bool Resolved = false;
    };
    // Looks up the objects not yet looked up, drops the missing and freed ones and takes
    // the objects' current names.
    void UpdateStoredList();
    std::unique_ptr<TPropsStorage> CreateStorage();
    // Calls `apply` with a storage set to each existing stored property's object and name.
    void ForEachStoredProperty(
        const std::function<void(TPropsStorage&, const QMetaProperty&)>& apply);

    std::vector<TStoredProp> FStoredProps;
    TStoredValues* FStoredValues = nullptr;
};

}  // namespace pix
