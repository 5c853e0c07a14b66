// SPDX-License-Identifier: MIT
#include "settings/form_placement.h"

#include "platform/error.h"
#include "platform/gui/monitors.h"
#include "platform/gui/window_placement.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileInfo>
#include <QMainWindow>
#include <QMdiArea>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <array>

namespace pix {
namespace {

// Value names of the placement.
constexpr const char* siVersion = "FormVersion";
constexpr const char* siFlags = "Flags";
constexpr const char* siShowCmd = "ShowCmd";
constexpr const char* siPixels = "PixelsPerInch";
constexpr const char* siMinMaxPos = "MinMaxPos";
constexpr const char* siNormPos = "NormPos";
constexpr const char* siVisible = "Visible";
constexpr const char* siActiveCtrl = "ActiveControl";

std::string ClassNameOf(const QObject& object) {
    const std::string name = object.metaObject()->className();
    const std::size_t colon = name.rfind("::");
    return colon == std::string::npos ? name : name.substr(colon + 2);
}

HKEY RootKeyOf(TPlacementRegRoot root) {
    switch (root) {
        case prLocalMachine:
            return HKEY_LOCAL_MACHINE;
        case prCurrentConfig:
            return HKEY_CURRENT_CONFIG;
        case prClassesRoot:
            return HKEY_CLASSES_ROOT;
        case prUsers:
            return HKEY_USERS;
        case prDynData:
            return HKEY_DYN_DATA;
        default:
            return HKEY_CURRENT_USER;
    }
}

// Four numbers separated by commas; a part that is not a number (or is missing) takes its
// default.
std::array<std::int32_t, 4> SplitPos(const std::string& text,
                                     const std::array<std::int32_t, 4>& defaults) {
    std::array<std::int32_t, 4> result = defaults;
    std::size_t start = 0;
    for (std::size_t i = 0; i < 4 && start <= text.size(); ++i) {
        std::size_t comma = text.find(',', start);
        if (comma == std::string::npos) comma = text.size();
        std::int32_t v = 0;
        if (TryStrToInt(text.substr(start, comma - start), v)) result[i] = v;
        start = comma + 1;
    }
    return result;
}

bool IsMainForm(const QWidget* form) {
    const QWidget* main = ApplicationMainForm();
    return main == nullptr || main == form;
}

}  // namespace

std::string DefaultSection(const QObject& component) {
    const std::string name = component.objectName().toStdString();
    if (const auto* widget = qobject_cast<const QWidget*>(&component)) {
        if (widget->isWindow()) return ClassNameOf(*widget);
        return ClassNameOf(*widget->window()) + name;
    }
    const auto* owner = qobject_cast<const QWidget*>(component.parent());
    if (owner != nullptr && owner->isWindow()) return ClassNameOf(*owner) + "." + name;
    return name;
}

// Opens the accessor for a save or restore unless one is open, and frees what it opened.
class TFormPlacement::TIniGuard {
public:
    explicit TIniGuard(TFormPlacement& placement) : FPlacement(placement) {
        if (!placement.FIniFile) {
            placement.FIniFile = placement.OpenIniFile();
            FOpened = true;
        }
    }
    ~TIniGuard() {
        if (FOpened) FPlacement.FIniFile.reset();
    }
    TIniGuard(const TIniGuard&) = delete;
    TIniGuard& operator=(const TIniGuard&) = delete;

private:
    TFormPlacement& FPlacement;
    bool FOpened = false;
};

TFormPlacement::TFormPlacement(QWidget* form) : QObject(form), FForm(form) {
    if (form == nullptr) return;
    if (!form->isWindow()) FOptions = 0;
    form->installEventFilter(this);
}

TFormPlacement::~TFormPlacement() { Unhook(); }

void TFormPlacement::Unhook() {
    if (FUnhooked) return;
    FUnhooked = true;
    if (FForm) FForm->removeEventFilter(this);
}

std::string TFormPlacement::IniFileName() const {
    if (!FIniFileName.empty()) return FIniFileName;
    const QString program = QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
    if (!FUseRegistry) return program.toStdString() + ".INI";
    QString title = QCoreApplication::applicationName();
    if (title.isEmpty()) title = program;
    const QString company = QCoreApplication::organizationName();
    return "Software\\" + (company.isEmpty() ? QString() : company + "\\").toStdString() +
           title.toStdString();
}

std::string TFormPlacement::IniSection() const {
    if (!FIniSection.empty() || !FForm) return FIniSection;
    return DefaultSection(*FForm);
}

void TFormPlacement::SetMinMaxInfo(const TWinMinMaxInfo& info) {
    FMinMaxInfo = info;
    ApplyLimits(false);
}

void TFormPlacement::SetPreventResize(bool prevent) {
    FPreventResize = prevent;
    ApplyLimits(true);
}

void TFormPlacement::SetScreens(const TScreens* screens) { FScreens = screens; }

const TScreens& TFormPlacement::Screens() const {
    return FScreens != nullptr ? *FScreens : SystemScreens();
}

std::unique_ptr<TCustomIniFile> TFormPlacement::OpenIniFile() const {
    if (FUseRegistry)
        return std::make_unique<TRegistryIniFile>(RootKeyOf(FRegistryRoot), IniFileName());
    return std::make_unique<TIniFile>(IniFileName());
}

TCustomIniFile& TFormPlacement::Ini() { return *FIniFile; }

std::string TFormPlacement::DoReadString(const std::string& section, const std::string& name,
                                         const std::string& defaultValue) {
    const TIniGuard guard(*this);
    return Ini().ReadString(section, name, defaultValue);
}

void TFormPlacement::DoWriteString(const std::string& section, const std::string& name,
                                   const std::string& value) {
    const TIniGuard guard(*this);
    Ini().WriteString(section, name, value);
}

std::string TFormPlacement::ReadString(const std::string& section, const std::string& name,
                                       const std::string& defaultValue) {
    return DoReadString(section, name, defaultValue);
}

void TFormPlacement::WriteString(const std::string& section, const std::string& name,
                                 const std::string& value) {
    DoWriteString(section, name, value);
}

std::int32_t TFormPlacement::ReadInteger(const std::string& section, const std::string& name,
                                         std::int32_t defaultValue) {
    std::int32_t value = 0;
    return TryStrToInt(ReadString(section, name, {}), value) ? value : defaultValue;
}

void TFormPlacement::WriteInteger(const std::string& section, const std::string& name,
                                  std::int32_t value) {
    WriteString(section, name, std::to_string(value));
}

void TFormPlacement::EraseSection(const std::string& section) {
    const TIniGuard guard(*this);
    Ini().EraseSection(section);
}

bool TFormPlacement::ValueExists(const std::string& section, const std::string& name) {
    const TIniGuard guard(*this);
    return Ini().ValueExists(section, name);
}

// The hooks.

bool TFormPlacement::eventFilter(QObject* watched, QEvent* event) {
    if (watched != FForm || FUnhooked) return false;
    switch (event->type()) {
        // Only the form's own showing and hiding count, not the window system's
        // minimizing and restoring.
        case QEvent::Show:
            if (!event->spontaneous()) FormShow();
            break;
        case QEvent::Hide:
            if (!event->spontaneous()) FormHide();
            break;
        case QEvent::Close:
            return FormCloseQuery(static_cast<QCloseEvent*>(event));
        default:
            break;
    }
    return false;
}

void TFormPlacement::FormShow() {
    FSavedOnClose = false;
    if (!FActive) return;
    try {
        ApplyLimits(false);
        Restore();
    } catch (...) {
        HandleException();
    }
}

void TFormPlacement::FormHide() {
    if (FSavedOnClose) {
        FSavedOnClose = false;
        return;
    }
    if (!FActive || FForm->windowHandle() == nullptr) return;
    try {
        Save();
    } catch (...) {
        HandleException();
    }
}

bool TFormPlacement::FormCloseQuery(QCloseEvent* event) {
    // The form's own handler decides first; the event stops here, answered.
    static_cast<QObject*>(FForm.data())->event(event);
    if (event->isAccepted() && FActive && FForm && FForm->windowHandle() != nullptr) {
        try {
            Save();
        } catch (...) {
            HandleException();
        }
        FSavedOnClose = true;
    }
    return true;
}

void TFormPlacement::FormDestroy() {
    if (FUnhooked) return;
    if (FActive && !FSaved && FForm) {
        FDestroying = true;
        try {
            Save();
        } catch (...) {
            HandleException();
        }
        FDestroying = false;
    }
    Unhook();
}

// Save and restore.

void TFormPlacement::Save() {
    if (!FRestored && FActive) return;
    const TIniGuard guard(*this);
    WriteInteger(IniSection(), siVersion, FVersion);
    SavePlacement();
    emit OnSavePlacement(this);
    FSaved = true;
}

void TFormPlacement::SavePlacement() {
    if (!FForm) return;
    const std::string section = IniSection();
    if (FOptions & (fpState | fpPosition)) {
        WINDOWPLACEMENT placement;
        GetWindowPlacement(*FForm, placement);
        const TScreens& screens = Screens();
        const std::string screenSize = Fmt("(%dx%d)", ScreenWidth(screens), ScreenHeight(screens));
        WriteInteger(section, siFlags, static_cast<std::int32_t>(placement.flags));
        WriteInteger(section, siShowCmd, static_cast<std::int32_t>(placement.showCmd));
        WriteInteger(section, siPixels, screens.PixelsPerInch());
        const std::string minMax =
            Fmt("%d,%d,%d,%d", placement.ptMinPosition.x, placement.ptMinPosition.y,
                placement.ptMaxPosition.x, placement.ptMaxPosition.y);
        WriteString(section, siMinMaxPos + screenSize, minMax);
        WriteString(section, siMinMaxPos, minMax);
        const TRect& r = placement.rcNormalPosition;
        const std::string norm = Fmt("%d,%d,%d,%d", r.Left, r.Top, r.Right, r.Bottom);
        WriteString(section, siNormPos + screenSize, norm);
        WriteString(section, siNormPos, norm);
        WriteString(section, siVisible, FDestroying ? "1" : "0");
    }
    if (FOptions & fpActiveControl) {
        const QWidget* focus = FForm->focusWidget();
        if (focus != nullptr && !focus->objectName().isEmpty())
            WriteString(section, siActiveCtrl, focus->objectName().toStdString());
    }
}

void TFormPlacement::Restore() {
    FSaved = false;
    {
        const TIniGuard guard(*this);
        if (ReadInteger(IniSection(), siVersion, 0) >= FVersion) {
            RestorePlacement();
            FRestored = true;
            emit OnRestorePlacement(this);
            if (FOptions & fpActiveControl) RestoreActiveControl();
        }
        FRestored = true;
    }
    // The maximized position keeps the frame off the screen, as the window system's own
    // maximized windows do.
    if (FMinMaxInfo.DefaultMinMaxInfo() && !FPreventResize && FForm) {
        WINDOWPLACEMENT placement;
        GetWindowPlacement(*FForm, placement);
        if (!FForm->isVisible()) placement.showCmd = SW_HIDE;
        const POINT frame = WindowFrameSize(*FForm);
        placement.ptMaxPosition = {-frame.x, -frame.y};
        SetWindowPlacement(*FForm, placement);
    }
}

void TFormPlacement::RestorePlacement() {
    if (!FForm || !(FOptions & (fpState | fpPosition))) return;
    const std::string section = IniSection();
    const TScreens& screens = Screens();
    WINDOWPLACEMENT placement;
    GetWindowPlacement(*FForm, placement);
    if (!FForm->isVisible()) placement.showCmd = SW_HIDE;

    bool found = false;
    const int pixelsPerInch = screens.PixelsPerInch();
    int storedPixels = pixelsPerInch;
    if (FOptions & fpPosition) {
        const std::string screenSize = Fmt("(%dx%d)", ScreenWidth(screens), ScreenHeight(screens));
        placement.flags = static_cast<std::uint32_t>(
            ReadInteger(section, siFlags, static_cast<std::int32_t>(placement.flags)));
        std::string text = ReadString(section, siMinMaxPos + screenSize, {});
        if (text.empty()) text = ReadString(section, siMinMaxPos, {});
        if (!text.empty()) {
            found = true;
            const auto p = SplitPos(text, {0, 0, 0, 0});
            placement.ptMinPosition = {p[0], p[1]};
            placement.ptMaxPosition = {p[2], p[3]};
        }
        text = ReadString(section, siNormPos + screenSize, {});
        if (text.empty()) text = ReadString(section, siNormPos, {});
        if (!text.empty()) {
            found = true;
            const QRect g =
                FForm->normalGeometry().isNull() ? FForm->geometry() : FForm->normalGeometry();
            const auto p =
                SplitPos(text, {g.left(), g.top(), g.left() + g.width(), g.top() + g.height()});
            placement.rcNormalPosition = {p[0], p[1], p[2], p[3]};
        }
        storedPixels = ReadInteger(section, siPixels, pixelsPerInch);
    }
    if (found && storedPixels == pixelsPerInch) {
        TRect& r = placement.rcNormalPosition;
        r = FitIntoWorkArea(r);
        if (!IsSizeable(*FForm)) {
            r.Right = r.Left + FForm->width();
            r.Bottom = r.Top + FForm->height();
        }
        if (r.Left < r.Right) SetWindowPlacement(*FForm, placement);
    }
    if (FOptions & fpState) RestoreState();
    FForm->update();
}

void TFormPlacement::RestoreState() {
    Qt::WindowStates state = Qt::WindowNoState;
    // A main form the program did not place itself opens maximized, as does an MDI frame.
    const auto* frame = qobject_cast<const QMainWindow*>(FForm.data());
    const bool mdi = frame != nullptr && qobject_cast<QMdiArea*>(frame->centralWidget()) != nullptr;
    if (IsMainForm(FForm) && (mdi || !FForm->testAttribute(Qt::WA_Moved)))
        state = Qt::WindowMaximized;
    switch (ReadInteger(IniSection(), siShowCmd, 0)) {
        case SW_SHOWNORMAL:
        case SW_SHOW:
        case SW_RESTORE:
            state = Qt::WindowNoState;
            break;
        case SW_SHOWMINIMIZED:
        case SW_MINIMIZE:
        case SW_SHOWMINNOACTIVE:
            state = Qt::WindowMinimized;
            break;
        case SW_SHOWMAXIMIZED:
            state = Qt::WindowMaximized;
            break;
        default:
            break;
    }
    if (state == Qt::WindowMinimized && IsMainForm(FForm)) {
        // The program has no window of its own to minimize: the main form opens normal and
        // minimizes once it is on the screen.
        FForm->setWindowState(Qt::WindowNoState);
        QTimer::singleShot(0, FForm, [form = FForm] {
            if (form) form->setWindowState(form->windowState() | Qt::WindowMinimized);
        });
        return;
    }
    FForm->setWindowState(state);
}

void TFormPlacement::RestoreActiveControl() {
    const std::string name = ReadString(IniSection(), siActiveCtrl, {});
    if (name.empty()) return;
    for (QWidget* control : FForm->findChildren<QWidget*>()) {
        if (control->objectName().toStdString() != name) continue;
        if (control->focusPolicy() != Qt::NoFocus && control->isEnabled())
            control->setFocus(Qt::OtherFocusReason);
        return;
    }
}

TRect TFormPlacement::FitIntoWorkArea(const TRect& rect) const {
    const TRect work = MonitorFromRect(Screens(), rect).WorkArea;
    // In 64 bits: the stored numbers may be anything.
    std::int64_t left = rect.Left, top = rect.Top, right = rect.Right, bottom = rect.Bottom;
    if (right - left > std::int64_t{work.Right} - work.Left) {
        left = work.Left;
        right = work.Right;
    }
    if (bottom - top > std::int64_t{work.Bottom} - work.Top) {
        top = work.Top;
        bottom = work.Bottom;
    }
    const auto shift = [](std::int64_t& low, std::int64_t& high, std::int64_t by) {
        low += by;
        high += by;
    };
    if (right > work.Right) shift(left, right, work.Right - right);
    if (left < work.Left) shift(left, right, work.Left - left);
    if (bottom > work.Bottom) shift(top, bottom, work.Bottom - bottom);
    if (top < work.Top) shift(top, bottom, work.Top - top);
    // Within the work area now, unless the rectangle was turned inside out.
    const auto clamp = [](std::int64_t v) {
        return static_cast<std::int32_t>(std::clamp<std::int64_t>(v, INT32_MIN, INT32_MAX));
    };
    return {clamp(left), clamp(top), clamp(right), clamp(bottom)};
}

void TFormPlacement::ApplyLimits(bool buttons) {
    if (!FForm) return;
    const bool limited = FPreventResize || !FMinMaxInfo.DefaultMinMaxInfo();
    if (!FLimitsApplied) {
        if (!limited) return;
        FOwnMinimumSize = FForm->minimumSize();
        FOwnMaximumSize = FForm->maximumSize();
        FLimitsApplied = true;
    }
    QSize minimum = FOwnMinimumSize, maximum = FOwnMaximumSize;
    if (FPreventResize) {
        minimum = maximum = FForm->size();
    } else {
        if (FMinMaxInfo.MinTrackWidth != 0) minimum.setWidth(FMinMaxInfo.MinTrackWidth);
        if (FMinMaxInfo.MinTrackHeight != 0) minimum.setHeight(FMinMaxInfo.MinTrackHeight);
        if (FMinMaxInfo.MaxTrackWidth != 0) maximum.setWidth(FMinMaxInfo.MaxTrackWidth);
        if (FMinMaxInfo.MaxTrackHeight != 0) maximum.setHeight(FMinMaxInfo.MaxTrackHeight);
    }
    FForm->setMinimumSize(minimum);
    FForm->setMaximumSize(maximum);
    // A frozen window offers no maximize button either.
    const bool button = !FPreventResize;
    if (buttons && FForm->isWindow() &&
        FForm->windowFlags().testFlag(Qt::WindowMaximizeButtonHint) != button) {
        const bool visible = FForm->isVisible();
        FForm->setWindowFlag(Qt::WindowMaximizeButtonHint, button);
        if (visible) FForm->show();
    }
    if (!limited) FLimitsApplied = false;
}

// Stored values.

void TStoredValues::Clear() { FItems.clear(); }

TStoredValue* TStoredValues::Add() {
    FItems.push_back(std::make_unique<TStoredValue>());
    return FItems.back().get();
}

TStoredValue* TStoredValues::Find(const QString& name) const {
    for (const auto& item : FItems)
        if (item->Name().compare(name, Qt::CaseInsensitive) == 0) return item.get();
    return nullptr;
}

void TStoredValues::SaveValues(TFormPlacement& placement) {
    const std::string section = placement.IniSection();
    for (const auto& item : FItems) {
        if (item->Name().isEmpty()) continue;
        QVariant value = item->Value();
        if (item->OnSave) item->OnSave(*item, value);
        placement.WriteString(section, item->Name().toStdString(), VariantText(value));
    }
}

void TStoredValues::RestoreValues(TFormPlacement& placement) {
    const std::string section = placement.IniSection();
    for (const auto& item : FItems) {
        if (item->Name().isEmpty()) continue;
        QVariant value = QString::fromStdString(
            placement.ReadString(section, item->Name().toStdString(), VariantText(item->Value())));
        if (item->OnRestore) item->OnRestore(*item, value);
        item->SetValue(value);
    }
}

// The form storage.

TFormStorage::TFormStorage(QWidget* form)
    : TFormPlacement(form), FStoredValues(new TStoredValues(this)) {}

std::vector<std::string> TFormStorage::StoredProps() const {
    std::vector<std::string> props;
    for (const TStoredProp& p : FStoredProps) props.push_back(p.Component + "." + p.Property);
    return props;
}

void TFormStorage::SetStoredProps(const std::vector<std::string>& props) {
    FStoredProps.clear();
    for (const std::string& text : props) {
        const std::size_t dot = text.find('.');
        if (dot == std::string::npos) continue;
        FStoredProps.push_back({text.substr(0, dot), text.substr(dot + 1), nullptr, false});
    }
}

void TFormStorage::UpdateStoredList() {
    std::vector<TStoredProp> kept;
    for (TStoredProp& p : FStoredProps) {
        if (!p.Resolved) {
            p.Resolved = true;
            if (Form() != nullptr)
                for (QObject* child : Form()->findChildren<QObject*>())
                    if (child->objectName().compare(QString::fromStdString(p.Component),
                                                    Qt::CaseInsensitive) == 0) {
                        p.Object = child;
                        break;
                    }
        }
        if (!p.Object) continue;
        p.Component = p.Object->objectName().toStdString();
        kept.push_back(std::move(p));
    }
    FStoredProps = std::move(kept);
}

std::unique_ptr<TPropsStorage> TFormStorage::CreateStorage() {
    auto storage = std::make_unique<TPropsStorage>();
    storage->OwnerForm = Form();
    storage->Section = IniSection();
    storage->OnReadString = [this](const std::string& s, const std::string& n,
                                   const std::string& d) { return ReadString(s, n, d); };
    storage->OnWriteString = [this](const std::string& s, const std::string& n,
                                    const std::string& v) { WriteString(s, n, v); };
    storage->OnEraseSection = [this](const std::string& s) { EraseSection(s); };
    storage->OnValueExists = [this](const std::string& s, const std::string& n) {
        return ValueExists(s, n);
    };
    return storage;
}

void TFormStorage::ForEachStoredProperty(
    const std::function<void(TPropsStorage&, const QMetaProperty&)>& apply) {
    UpdateStoredList();
    auto storage = CreateStorage();
    for (const TStoredProp& p : FStoredProps) {
        const TPropInfoList list(*p.Object->metaObject());
        const QMetaProperty* property = list.Find(p.Property);
        if (property == nullptr) continue;
        storage->AObject = p.Object;
        storage->Prefix = p.Component + "_";
        apply(*storage, *property);
    }
}

void TFormStorage::SaveProperties() {
    ForEachStoredProperty([](TPropsStorage& storage, const QMetaProperty& property) {
        storage.StoreAnyProperty(property);
    });
}

void TFormStorage::RestoreProperties() {
    ForEachStoredProperty([](TPropsStorage& storage, const QMetaProperty& property) {
        try {
            storage.LoadAnyProperty(property);
        } catch (...) {
            // One property that cannot be restored does not keep the others.
        }
    });
}

void TFormStorage::SavePlacement() {
    TFormPlacement::SavePlacement();
    SaveProperties();
    FStoredValues->SaveValues(*this);
}

void TFormStorage::RestorePlacement() {
    TFormPlacement::RestorePlacement();
    try {
        RestoreProperties();
    } catch (...) {
        // Stored properties are a convenience: whatever fails, the form opens.
    }
    FStoredValues->RestoreValues(*this);
}

}  // namespace pix
