// SPDX-License-Identifier: MIT
#include "i18n/translator.h"

#include "gui_support.h"

#include "i18n/dict_writer.h"
#include "platform/res_strings.h"

#include <QAction>
#include <QDialog>
#include <QLabel>
#include <QMenu>
#include <QPushButton>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <thread>

namespace pix {
namespace {

// A dictionary of the test's own records, in the program dictionary's layout.
class TTestDictionary : public TIvDictionary {
public:
    explicit TTestDictionary(std::string_view source)
        : FBytes(WriteProgramDictionary(ParseDictionarySource(source), "test")) {}

protected:
    void OpenFile(TIvDictFile& file) override {
        FStream = std::make_unique<TMemoryStream>(FBytes);
        file.Open(*FStream);
    }

private:
    std::vector<std::uint8_t> FBytes;
    std::unique_ptr<TStream> FStream;
};

constexpr std::string_view kSource =
    "Open\tTForm1\tButton1\tÖffnen eins\n"
    "Open\tTOther\tButton9\tÖffnen neun\n"
    "Elsewhere\tTOther\tLabel9\tAnderswo\n"
    "Stream read error\t\t1001\tLesefehler eins\n"
    "Stream read error\t\t2002\tLesefehler zwei\n"
    "&Close\tTForm1\tmiClose\t&Schließen\n"
    "Close\t\t\tZumachen\n"
    "English only\t\t\t\tEnglish only\n";

class LocaleTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { test::EnsureGuiApplication(); }
    void SetLocale(const char* name) { setenv("LC_ALL", name, 1); }
    void TearDown() override { setenv("LC_ALL", "C.UTF-8", 1); }
};

struct TChoice {
    const char* Locale;
    int Language;
    const char* File;  // what "&File" of the main window becomes
};

class LanguageChoiceTest : public LocaleTest, public ::testing::WithParamInterface<TChoice> {};

// The program's own dictionary, as built into it.
TEST_P(LanguageChoiceTest, TheUsersLocaleChoosesTheLanguage) {
    SetLocale(GetParam().Locale);
    TIvBinaryDictionary dictionary;
    dictionary.FileName = "Pixorama.ivd";
    dictionary.Storage = ivsResource;
    dictionary.Open();
    ASSERT_TRUE(dictionary.Active());
    EXPECT_EQ(dictionary.LanguageIndex(), GetParam().Language);
    EXPECT_EQ(dictionary.Resolve("&File", dictionary.Lookup("&File", "TPixorama", "miFile")),
              GetParam().File);
    // English has no column of its own: every record is missing for it.
    if (GetParam().Language != 1) {
        EXPECT_TRUE(dictionary.Table().empty());
    }
    if (GetParam().Language > 0) {
        EXPECT_EQ(dictionary.PrimaryLanguage(), GetParam().Language == 1 ? 7 : 9);
    }
}

INSTANTIATE_TEST_SUITE_P(Locales, LanguageChoiceTest,
                         ::testing::Values(TChoice{"de_DE.UTF-8", 1, "&Datei"},
                                           TChoice{"de_AT.UTF-8", 1, "&Datei"},
                                           TChoice{"en_US.UTF-8", 2, "&File"},
                                           TChoice{"fr_FR.UTF-8", 0, "&File"},
                                           TChoice{"C.UTF-8", 0, "&File"}));

TEST_F(LocaleTest, ResourceStringsTakeTheirOwnIdentifierThenTheText) {
    SetLocale("de_DE.UTF-8");
    TTestDictionary dictionary(kSource);
    EXPECT_EQ(LoadResString({2002, "Stream read error"}), "Stream read error");
    dictionary.Open();
    EXPECT_EQ(LoadResString({2002, "Stream read error"}), "Lesefehler zwei");
    EXPECT_EQ(LoadResString({1001, "Stream read error"}), "Lesefehler eins");
    EXPECT_NE(LoadResString({3003, "Stream read error"}), "Stream read error");  // by its text
    EXPECT_EQ(LoadResString({3003, "Untranslated"}), "Untranslated");
    // A missing translation that raises gives an empty string, never an exception.
    dictionary.MissingTranslation = ivmtRaiseException;
    EXPECT_EQ(LoadResString({3003, "Untranslated"}), "");
    dictionary.Close();
    EXPECT_EQ(LoadResString({2002, "Stream read error"}), "Stream read error");
}

TEST_F(LocaleTest, MissingTranslationModes) {
    SetLocale("de_DE.UTF-8");
    TTestDictionary dictionary(kSource);
    dictionary.Open();
    const std::optional<std::string> none;
    EXPECT_EQ(dictionary.Resolve("Gone", none), "Gone");
    dictionary.MissingTranslation = ivmtUseNull;
    EXPECT_EQ(dictionary.Resolve("Gone", none), "");
    dictionary.MissingTranslation = ivmtTagNative;
    EXPECT_EQ(dictionary.Resolve("Gone", none), "@Gone@");
    dictionary.MissingTranslation = ivmtRaiseException;
    try {
        dictionary.Resolve("Gone", none);
        ADD_FAILURE() << "no exception";
    } catch (const EIvMulti& e) {
        EXPECT_EQ(e.Id, SNoTranslation.Id);
        EXPECT_STREQ(e.what(), "Dictionary does not contain a translation for the word \"Gone\"");
    }
    EXPECT_EQ(dictionary.Resolve("Gone", std::string("Weg")), "Weg");
    // An English user: the record with an English text only is the one left.
    dictionary.Close();
    SetLocale("en_GB.UTF-8");
    dictionary.Open();
    EXPECT_EQ(dictionary.LanguageIndex(), 2);
    ASSERT_EQ(dictionary.Table().size(), 1u);
}

// A form of the test: a dialog known by its name, with a button, labels and a menu.
struct TTestForm {
    QDialog Form;
    QPushButton* Button = new QPushButton("Open", &Form);
    QLabel* Other = new QLabel("Elsewhere", &Form);
    QLabel* Nowhere = new QLabel("Nowhere", &Form);
    QLabel* Marked = new QLabel("C&lose", &Form);
    QMenu* Menu = new QMenu("&Close", &Form);
    QAction* Close = Menu->addAction("&Close");
    QAction* Stripped = Menu->addAction("C&lose");
    TIvTranslator* Translator = new TIvTranslator(&Form);
    TTestForm() {
        Form.setObjectName("TForm1");
        Form.setWindowTitle("Open");
        Button->setObjectName("Button1");
        Button->setToolTip("Close");
        Close->setObjectName("miClose");
        Translator->Targets.Add({}, "Caption");
        Translator->Targets.Add({}, "Hint");
    }
};

TEST_F(LocaleTest, TranslatorWalksTheFormByOwnerAndNameThenFlat) {
    SetLocale("de_DE.UTF-8");
    TTestDictionary dictionary(kSource);
    TTestForm form;
    form.Translator->Loaded();
    EXPECT_TRUE(dictionary.Active());
    EXPECT_EQ(form.Button->text().toStdString(), "Öffnen eins");      // its own owner and name
    EXPECT_EQ(form.Form.windowTitle().toStdString(), "Öffnen eins");  // flat: any "Open"
    EXPECT_EQ(form.Other->text().toStdString(), "Anderswo");          // another owner, flat
    EXPECT_EQ(form.Button->toolTip().toStdString(), "Zumachen");
    EXPECT_EQ(form.Menu->title().toStdString(), "&Schließen");
    EXPECT_EQ(form.Close->text().toStdString(), "&Schließen");
    EXPECT_EQ(form.Stripped->text().toStdString(), "Zumachen");  // menu items lose "&"
    EXPECT_EQ(form.Marked->text().toStdString(), "C&lose");      // labels do not

    // Texts the translator set are taken back to their native texts on the next pass.
    dictionary.MissingTranslation = ivmtTagNative;
    form.Translator->Translate();
    form.Translator->Translate();
    EXPECT_EQ(form.Nowhere->text().toStdString(), "@Nowhere@");
    EXPECT_EQ(form.Button->text().toStdString(), "Öffnen eins");
}

TEST_F(LocaleTest, TargetsDecideWhatIsTranslated) {
    SetLocale("de_DE.UTF-8");
    TTestDictionary dictionary(kSource);
    TTestForm form;
    form.Translator->Targets.ReadData({1, 3, QVariantList{"*", "caption", 0},
                                       QVariantList{"tlabel", "CAPTION", 1},
                                       QVariantList{"*", "caption", 0}});
    EXPECT_EQ(form.Translator->Targets.Items().size(), 2u);
    EXPECT_EQ(form.Translator->Targets.Items()[0].ClassName, "");
    form.Translator->Open();
    EXPECT_EQ(form.Button->text().toStdString(), "Öffnen eins");
    EXPECT_EQ(form.Other->text().toStdString(), "Elsewhere");  // excluded by class
    EXPECT_EQ(form.Button->toolTip().toStdString(), "Close");  // no "Hint" target
    try {
        form.Translator->Targets.ReadData({2, 0});
        ADD_FAILURE() << "no exception";
    } catch (const EIvMulti& e) {
        EXPECT_EQ(e.Id, SUnknownTargetsVersion.Id);
    }
}

TEST_F(LocaleTest, ErrorsWithoutDictionaryAndTheErrorReportText) {
    TTestForm form;
    try {
        form.Translator->Open();
        ADD_FAILURE() << "no exception";
    } catch (const EIvMulti& e) {
        EXPECT_EQ(e.Id, SNoDictionary.Id);
    }
    form.Translator->Loaded();  // no dictionary: nothing to open, no error
    EXPECT_EQ(DictionaryErrorText("Not found"), "Not found.");
    EXPECT_EQ(DictionaryErrorText("Done."), "Done.");
    EXPECT_EQ(DictionaryErrorText("Why (2)"), "Why (2)");
    EXPECT_EQ(DictionaryErrorText(""), "");
    SetLocale("de_DE.UTF-8");
    TTestDictionary dictionary(kSource);
    dictionary.Open();
    EXPECT_EQ(DictionaryErrorText("Elsewhere"), "Anderswo.");
    try {
        dictionary.SetLanguage(3);
        ADD_FAILURE() << "no exception";
    } catch (const EIvMulti& e) {
        EXPECT_EQ(e.Id, SLanguageIndexOutOfRange.Id);
    }
}

// Worker threads load messages while the main thread opens and closes the dictionary: each
// load gives the native or the German text, never a torn one.
TEST_F(LocaleTest, ResourceStringThreadsWhileTheDictionaryOpensAndCloses) {
    SetLocale("de_DE.UTF-8");
    TTestDictionary dictionary(kSource);
    std::atomic<bool> stop{false};
    std::atomic<int> wrong{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < 2; ++t)
        workers.emplace_back([&] {
            while (!stop) {
                const std::string text = LoadResString({1001, "Stream read error"});
                if (text != "Stream read error" && text != "Lesefehler eins") ++wrong;
            }
        });
    for (int i = 0; i < 200; ++i) {
        dictionary.Open();
        dictionary.Close();
    }
    stop = true;
    for (std::thread& worker : workers) worker.join();
    EXPECT_EQ(wrong, 0);
}

TEST(DictionarySource, FaultsNameTheirLine) {
    for (const char* bad :
         {"Only\ttwo\n", "Count %d\t\t\tZahl %s\n", "Count %1\t\t\tZahl\n", "A\t\t\tB\nA\t\t\tC\n",
          "Bad\\q\t\t\tX\n", "Omega\t\t\tΩ\n", "\tTForm\tName\tLeer\n"}) {
        EXPECT_THROW(ParseDictionarySource(bad), std::runtime_error) << bad;
    }
    const auto records = ParseDictionarySource("# comment\n\nTab\\there\tT\tN\tTab\\tda\\\\\n");
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].Native, "Tab\there");
    EXPECT_EQ(records[0].German, "Tab\tda\\");
}

}  // namespace
}  // namespace pix
