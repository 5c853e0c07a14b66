// SPDX-License-Identifier: MIT
#include "platform/gui/framework_translator.h"

#include "gui_support.h"

#include "platform/res_strings.h"

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QKeySequence>
#include <QPushButton>

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace pix {
namespace {

const std::map<int, std::string> kGerman = {
    {SKeyDel.Id, "Entf"}, {SKeyCtrl.Id, "Strg"},        {SKeyShift.Id, "Umschalt"},
    {SMsgYes.Id, "&Ja"},  {SMsgCancel.Id, "Abbrechen"}, {SKeyF.Id, "Taste %1"},
};

void German(void*, int id, std::string& text) {
    if (const auto it = kGerman.find(id); it != kGerman.end()) text = it->second;
}

QString Native(const QKeySequence& keys) { return keys.toString(QKeySequence::NativeText); }

TEST(FrameworkTranslator, KeyNamesAndStandardButtonsFollowTheDictionary) {
    test::EnsureGuiApplication();
    TFrameworkTranslator translator;
    QCoreApplication::installTranslator(&translator);
    const QKeySequence del(Qt::Key_Delete);
    const QKeySequence cut(Qt::CTRL | Qt::SHIFT | Qt::Key_X);
    const QKeySequence f5(Qt::Key_F5);
    const auto buttonTexts = [] {
        QDialogButtonBox box(QDialogButtonBox::Yes | QDialogButtonBox::Cancel |
                             QDialogButtonBox::No);
        return QStringList{box.button(QDialogButtonBox::Yes)->text(),
                           box.button(QDialogButtonBox::Cancel)->text(),
                           box.button(QDialogButtonBox::No)->text()};
    };

    // Without a dictionary the framework keeps its own texts.
    EXPECT_EQ(Native(del), "Del");
    EXPECT_EQ(Native(cut), "Ctrl+Shift+X");
    EXPECT_EQ(buttonTexts(), (QStringList{"&Yes", "Cancel", "&No"}));

    SetResStringHook(&German, nullptr);
    EXPECT_EQ(Native(del), "Entf");
    EXPECT_EQ(Native(cut), "Strg+Umschalt+X");
    EXPECT_EQ(Native(f5), "Taste 5");
    // Untranslated entries and portable texts stay as they are.
    EXPECT_EQ(Native(QKeySequence(Qt::ALT | Qt::Key_Home)), "Alt+Home");
    EXPECT_EQ(cut.toString(QKeySequence::PortableText), "Ctrl+Shift+X");
    EXPECT_EQ(buttonTexts(), (QStringList{"&Ja", "Abbrechen", "&No"}));
    EXPECT_EQ(LoadResQString(SMsgYes), "&Ja");

    SetResStringHook(nullptr, nullptr);
    QCoreApplication::removeTranslator(&translator);
    EXPECT_EQ(Native(del), "Del");
}

}  // namespace
}  // namespace pix
