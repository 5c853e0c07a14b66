// SPDX-License-Identifier: MIT
// With a German locale, every text of every form and every message has its German text.
#include "gui_support.h"
#include "test_support.h"
#include "viewer/image_view.h"
#include "viewer/viewer_form.h"
#include "viewer/window_dialog.h"

#include "app/about_form.h"
#include "app/pixorama_form.h"
#include "i18n/translator.h"
#include "platform/gui/framework_translator.h"
#include "platform/registry.h"
#include "platform/res_strings.h"

#include <QAbstractButton>
#include <QAction>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QRegularExpression>
#include <QTextEdit>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <set>

namespace pix {
namespace {

// The texts a user can see on a form: titles, captions, menu items and hints.
std::vector<std::string> VisibleTexts(QWidget* form) {
    std::vector<QString> texts{form->windowTitle()};
    for (QObject* object : form->findChildren<QObject*>()) {
        if (auto* action = qobject_cast<QAction*>(object)) {
            if (action->isSeparator() || action->menu()) continue;
            texts.insert(texts.end(), {action->text(), action->statusTip()});
        } else if (auto* menu = qobject_cast<QMenu*>(object)) {
            texts.push_back(menu->title());
        } else if (auto* button = qobject_cast<QAbstractButton*>(object)) {
            texts.push_back(button->text());
        } else if (auto* label = qobject_cast<QLabel*>(object)) {
            texts.push_back(label->text());
        } else if (auto* group = qobject_cast<QGroupBox*>(object)) {
            texts.push_back(group->title());
        }
        if (auto* widget = qobject_cast<QWidget*>(object))
            texts.insert(texts.end(), {widget->toolTip(), widget->statusTip()});
    }
    std::vector<std::string> result;
    // A menu item's text carries its shortcut after a tab; that part is checked apart.
    for (const QString& text : texts)
        if (!text.isEmpty()) result.push_back(text.section(QLatin1Char('\t'), 0, 0).toStdString());
    return result;
}

class TranslationTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { test::EnsureGuiApplication(); }
    void SetUp() override {
        SetRegistryRootFolderForTesting(FSettings.Path().string());
        setenv("LC_ALL", "de_DE.UTF-8", 1);
    }
    void TearDown() override {
        setenv("LC_ALL", "C.UTF-8", 1);
        SetRegistryRootFolderForTesting({});
    }

    // What is not German on the form: texts that are no German text of the dictionary.
    static std::vector<std::string> Untranslated(QWidget* form, const TIvDictionary& dictionary) {
        std::set<std::string> german;
        std::vector<QRegularExpression> formats;  // texts filled through QString::arg
        for (const TIvTranslationEntry& entry : dictionary.Table()) {
            german.insert(entry.Text);
            const QString pattern = QRegularExpression::escape(QString::fromStdString(entry.Text));
            if (pattern.contains(QLatin1String("%1")))
                formats.emplace_back(QRegularExpression::anchoredPattern(
                    QString(pattern).replace(QRegularExpression(R"(\\%[0-9])"), ".*")));
        }
        std::vector<std::string> missing;
        for (const std::string& text : VisibleTexts(form))
            if (!german.count(text) &&
                std::none_of(formats.begin(), formats.end(), [&](const QRegularExpression& f) {
                    return f.match(QString::fromStdString(text)).hasMatch();
                }))
                missing.push_back(text);
        return missing;
    }

    test::TTempDir FSettings;
};

TEST_F(TranslationTest, EveryFormTextIsGerman) {
    {
        // Each program has one dictionary: the viewer's form brings its own.
        TViewerForm viewer;
        ASSERT_EQ(viewer.Dictionary()->LanguageIndex(), 1);
        EXPECT_EQ(Untranslated(&viewer, *viewer.Dictionary()), std::vector<std::string>{});
        TWindowDialog dialog(*viewer.View(), &viewer);
        EXPECT_EQ(Untranslated(&dialog, *viewer.Dictionary()), std::vector<std::string>{});
    }
    TPixorama form(FSettings.Path().string());
    const TIvDictionary& dictionary = *form.Dictionary();
    ASSERT_TRUE(dictionary.Active());
    ASSERT_EQ(dictionary.LanguageIndex(), 1);
    EXPECT_EQ(form.OpenAction()->text().toStdString(), "Bild ö&ffnen");
    EXPECT_EQ(Untranslated(&form, dictionary), std::vector<std::string>{});
    TAboutForm about(&form);
    EXPECT_EQ(Untranslated(&about, dictionary), std::vector<std::string>{});

    // The menu's shortcut texts, as the framework turns them into text.
    TFrameworkTranslator framework;
    QCoreApplication::installTranslator(&framework);
    EXPECT_EQ(form.DeleteAction()->shortcut().toString(QKeySequence::NativeText).toStdString(),
              "Entf");
    EXPECT_EQ(form.OpenAction()->shortcut().toString(QKeySequence::NativeText).toStdString(),
              "Eingabe");
    // The framework's own menus, as the information panel's context menu.
    const std::unique_ptr<QMenu> menu(form.Memo()->createStandardContextMenu());
    EXPECT_EQ(Untranslated(menu.get(), dictionary), std::vector<std::string>{});
    QCoreApplication::removeTranslator(&framework);

    // Every message finds its German text the way loading it does.
    std::vector<std::string> missing;
    for (const TResString& message : MessageTable()) {
        std::optional<std::string> found =
            dictionary.Lookup(message.Text, {}, std::to_string(message.Id));
        if (!found) found = dictionary.LookupText(message.Text);
        if (!found) missing.push_back(std::to_string(message.Id) + " " + message.Text);
    }
    EXPECT_EQ(missing, std::vector<std::string>{});
    EXPECT_EQ(LoadResString(SConfirmCaption), "Bestätigen");
}

}  // namespace
}  // namespace pix
