// SPDX-License-Identifier: MIT
#include "platform/gui/framework_translator.h"

#include "platform/res_strings.h"

#include <cstring>
#include <string_view>

namespace pix {
namespace {

struct TFrameworkText {
    const char* Context;
    const char* Source;  // as the framework passes it
    const TResString* Entry;
};

// "QPlatformTheme" names the standard buttons, "QGnomeTheme" those of the GNOME platform
// theme that differ, "QShortcut" the keys and modifiers of shortcut texts; the others the
// context menus of text boxes, spin boxes and scroll bars.
constexpr TFrameworkText kFrameworkTexts[] = {
    {"QPlatformTheme", "OK", &SMsgOk},
    {"QPlatformTheme", "Save", &SMsgSave},
    {"QPlatformTheme", "Save All", &SMsgSaveAll},
    {"QPlatformTheme", "Open", &SMsgOpen},
    {"QPlatformTheme", "&Yes", &SMsgYes},
    {"QPlatformTheme", "Yes to &All", &SMsgYesToAll},
    {"QPlatformTheme", "&No", &SMsgNo},
    {"QPlatformTheme", "N&o to All", &SMsgNoToAll},
    {"QPlatformTheme", "Abort", &SMsgAbort},
    {"QPlatformTheme", "Retry", &SMsgRetry},
    {"QPlatformTheme", "Ignore", &SMsgIgnore},
    {"QPlatformTheme", "Close", &SMsgClose},
    {"QPlatformTheme", "Cancel", &SMsgCancel},
    {"QPlatformTheme", "Discard", &SMsgDiscard},
    {"QPlatformTheme", "Help", &SMsgHelp},
    {"QPlatformTheme", "Apply", &SMsgApply},
    {"QPlatformTheme", "Reset", &SMsgReset},
    {"QPlatformTheme", "Restore Defaults", &SMsgRestoreDefaults},
    {"QGnomeTheme", "&OK", &SMsgOk},
    {"QGnomeTheme", "&Save", &SMsgSave},
    {"QGnomeTheme", "&Cancel", &SMsgCancel},
    {"QGnomeTheme", "&Close", &SMsgClose},
    {"QShortcut", "Ctrl", &SKeyCtrl},
    {"QShortcut", "Alt", &SKeyAlt},
    {"QShortcut", "Shift", &SKeyShift},
    {"QShortcut", "Meta", &SKeyMeta},
    {"QShortcut", "Num", &SKeyNum},
    {"QShortcut", "Del", &SKeyDel},
    {"QShortcut", "Ins", &SKeyIns},
    {"QShortcut", "Enter", &SKeyEnter},
    {"QShortcut", "Return", &SKeyReturn},
    {"QShortcut", "Esc", &SKeyEsc},
    {"QShortcut", "Tab", &SKeyTab},
    {"QShortcut", "Backtab", &SKeyBacktab},
    {"QShortcut", "Backspace", &SKeyBackspace},
    {"QShortcut", "Space", &SKeySpace},
    {"QShortcut", "Home", &SKeyHome},
    {"QShortcut", "End", &SKeyEnd},
    {"QShortcut", "PgUp", &SKeyPgUp},
    {"QShortcut", "PgDown", &SKeyPgDown},
    {"QShortcut", "Left", &SKeyLeft},
    {"QShortcut", "Right", &SKeyRight},
    {"QShortcut", "Up", &SKeyUp},
    {"QShortcut", "Down", &SKeyDown},
    {"QShortcut", "Pause", &SKeyPause},
    {"QShortcut", "Print", &SKeyPrint},
    {"QShortcut", "SysReq", &SKeySysReq},
    {"QShortcut", "CapsLock", &SKeyCapsLock},
    {"QShortcut", "NumLock", &SKeyNumLock},
    {"QShortcut", "ScrollLock", &SKeyScrollLock},
    {"QShortcut", "Menu", &SKeyMenu},
    {"QShortcut", "Help", &SKeyHelp},
    {"QShortcut", "F%1", &SKeyF},
    {"QWidgetTextControl", "&Undo", &SCtlUndo},
    {"QWidgetTextControl", "&Redo", &SCtlRedo},
    {"QWidgetTextControl", "Cu&t", &SCtlCut},
    {"QWidgetTextControl", "&Copy", &SCtlCopy},
    {"QWidgetTextControl", "&Paste", &SCtlPaste},
    {"QWidgetTextControl", "Delete", &SCtlDelete},
    {"QWidgetTextControl", "Select All", &SCtlSelectAll},
    {"QWidgetTextControl", "Copy &Link Location", &SCtlCopyLink},
    {"QLineEdit", "&Undo", &SCtlUndo},
    {"QLineEdit", "&Redo", &SCtlRedo},
    {"QLineEdit", "Cu&t", &SCtlCut},
    {"QLineEdit", "&Copy", &SCtlCopy},
    {"QLineEdit", "&Paste", &SCtlPaste},
    {"QLineEdit", "Delete", &SCtlDelete},
    {"QLineEdit", "Select All", &SCtlSelectAll},
    {"QAbstractSpinBox", "&Select All", &SCtlSelectAllMarked},
    {"QAbstractSpinBox", "&Step up", &SCtlStepUp},
    {"QAbstractSpinBox", "Step &down", &SCtlStepDown},
    {"QScrollBar", "Scroll here", &SScrollHere},
    {"QScrollBar", "Left edge", &SScrollLeftEdge},
    {"QScrollBar", "Top", &SScrollTop},
    {"QScrollBar", "Right edge", &SScrollRightEdge},
    {"QScrollBar", "Bottom", &SScrollBottom},
    {"QScrollBar", "Page left", &SScrollPageLeft},
    {"QScrollBar", "Page up", &SScrollPageUp},
    {"QScrollBar", "Page right", &SScrollPageRight},
    {"QScrollBar", "Page down", &SScrollPageDown},
    {"QScrollBar", "Scroll left", &SScrollLeft},
    {"QScrollBar", "Scroll up", &SScrollUp},
    {"QScrollBar", "Scroll right", &SScrollRight},
    {"QScrollBar", "Scroll down", &SScrollDown},
};

}  // namespace

QString LoadResQString(const TResString& string) {
    return QString::fromUtf8(LoadResString(string).c_str());
}

QString TFrameworkTranslator::translate(const char* context, const char* sourceText,
                                        const char* /*disambiguation*/, int /*n*/) const {
    if (context == nullptr || sourceText == nullptr) return {};
    for (const TFrameworkText& text : kFrameworkTexts) {
        if (std::strcmp(text.Context, context) != 0 || std::strcmp(text.Source, sourceText) != 0)
            continue;
        const std::string translated = LoadResString(*text.Entry);
        // An untranslated entry leaves the framework its own text (which may differ in
        // spelling, as the GNOME theme's do); "F%1" keeps its marker or is not used.
        if (translated.empty() || translated == text.Entry->Text) return {};
        if (std::string_view(text.Source).find("%1") != std::string_view::npos &&
            translated.find("%1") == std::string::npos)
            return {};
        return QString::fromUtf8(translated.c_str());
    }
    return {};
}

}  // namespace pix
