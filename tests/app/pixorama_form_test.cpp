// SPDX-License-Identifier: MIT
#include "app/pixorama_form.h"

#include "gui_support.h"
#include "test_support.h"
#include "thread_support.h"

#include "foldertree/shell_tree.h"
#include "formats/bmp_picture.h"
#include "platform/error.h"
#include "platform/registry.h"
#include "settings/registry_ex.h"
#include "thumbview/thumb_grid.h"

#include <QAction>
#include <QLabel>
#include <QStatusBar>
#include <QTest>
#include <QTextEdit>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace pix {
namespace {

namespace fs = std::filesystem;

void WriteBmp(const fs::path& path, int width, int height) {
    TBmpPicture picture(width, height, pkGray256);
    picture.SaveToFile(path.string());
}

class PixoramaFormTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        test::EnsureGuiApplication();
        test::EnsureApplication();
    }

    void SetUp() override {
        // The stored last folder goes to a settings folder of the test's own.
        SetRegistryRootFolderForTesting(FSettings.Path().string());
        WriteBmp(FDir.Path() / "a.bmp", 40, 30);
        WriteBmp(FDir.Path() / "b.bmp", 30, 40);
        std::ofstream(FDir.Path() / "broken.jpg") << "not a picture";
    }

    void TearDown() override {
        EXPECT_TRUE(test::AllThreadsEnded());
        SetRegistryRootFolderForTesting({});
    }

    // A window on the test folder, shown, with its first entries in.
    std::unique_ptr<TPixorama> Open(const std::string& argument) {
        auto form = std::make_unique<TPixorama>(argument);
        form->OnOpenImage = [this](const std::string& path) { FOpened.push_back(path); };
        form->OnError = [this](const QString& message) { FErrors.push_back(message); };
        form->show();
        return form;
    }

    bool WaitForEntries(TPixorama& form) {
        return test::WaitUntil(
            [&] { return TThread::RunningCount() == 0 && form.Grid()->Thumbs().Count() > 0; });
    }

    std::string Dir() const { return FDir.Path().string(); }

    test::TTempDir FDir;
    test::TTempDir FSettings;
    std::vector<std::string> FOpened;
    std::vector<QString> FErrors;
};

TEST_F(PixoramaFormTest, StartsInTheFolderOfAFileArgumentWithTheCaptionForms) {
    auto form = Open((FDir.Path() / "b.bmp").string());
    ASSERT_TRUE(WaitForEntries(*form));
    EXPECT_EQ(form->ShellTree()->Path(), Dir());
    ASSERT_EQ(form->Grid()->Files().size(), 3u);
    // The first file is focused once its entry is in: title, path and file name.
    ASSERT_TRUE(test::WaitUntil([&] { return form->SelectedIndex() == 0; }));
    EXPECT_EQ(form->windowTitle().toStdString(), "Pixorama 1.0 - " + Dir() + "/a.bmp");
    EXPECT_TRUE(form->OpenAction()->isEnabled());
    EXPECT_TRUE(form->DeleteAction()->isEnabled());
    EXPECT_FALSE(form->Memo()->toPlainText().isEmpty());
}

TEST_F(PixoramaFormTest, OpenAndDeleteWaitForTheFirstEntryAfterAFolderChange) {
    auto form = Open((FDir.Path() / "a.bmp").string());
    ASSERT_TRUE(WaitForEntries(*form));
    form->Grid()->ReloadDirectory(true);
    // Right after the change the commands do nothing.
    EXPECT_FALSE(form->OpenAction()->isEnabled());
    EXPECT_FALSE(form->DeleteAction()->isEnabled());
    EXPECT_EQ(form->SelectedIndex(), -1);
    EXPECT_EQ(form->windowTitle().toStdString(), "Pixorama 1.0 - " + Dir());
    form->miOpenClick();
    EXPECT_TRUE(FOpened.empty());
    ASSERT_TRUE(test::WaitUntil([&] { return form->OpenAction()->isEnabled(); }));
}

TEST_F(PixoramaFormTest, ShortcutsActWhileTheTreeHasTheFocus) {
    auto form = Open((FDir.Path() / "a.bmp").string());
    ASSERT_TRUE(WaitForEntries(*form));
    ASSERT_TRUE(test::WaitUntil([&] { return form->OpenAction()->isEnabled(); }));
    form->activateWindow();
    form->ShellTree()->setFocus();
    // The menu names the key "Enter"; the main keyboard's key and the keypad's both act.
    EXPECT_EQ(form->OpenAction()->shortcut().toString(QKeySequence::NativeText), "Enter");
    QTest::keyClick(form->ShellTree(), Qt::Key_Return);
    QTest::keyClick(form->ShellTree(), Qt::Key_Enter, Qt::KeypadModifier);
    ASSERT_EQ(FOpened.size(), 2u);
    EXPECT_EQ(FOpened[0], Dir() + "/a.bmp");
    bool asked = false;
    form->OnConfirmDelete = [&](const QString& question) {
        asked = true;
        EXPECT_TRUE(question.contains("Do you really want to delete file"));
        return false;
    };
    QTest::keyClick(form->ShellTree(), Qt::Key_Delete);
    EXPECT_TRUE(asked);
    EXPECT_TRUE(fs::exists(FDir.Path() / "a.bmp"));
}

TEST_F(PixoramaFormTest, StatusBarShowsTheHintOfTheControlUnderThePointer) {
    auto form = Open((FDir.Path() / "a.bmp").string());
    ASSERT_TRUE(WaitForEntries(*form));
    form->Grid()->Thumbs().Items(0).Comment = "short|the comment";
    QWidget* grid = form->Grid()->viewport();
    const QPoint cell = form->Grid()->CellRect(0, 0).center();
    const auto status = [&] { return form->statusBar()->currentMessage().toStdString(); };
    // Onto the tree, the panel, or out of the window: controls without a hint clear it.
    QWidget* tree = form->ShellTree()->viewport();
    QWidget* memo = form->Memo()->viewport();
    for (QWidget* other : {tree, memo, static_cast<QWidget*>(nullptr)}) {
        QTest::mouseMove(grid, cell);
        EXPECT_EQ(status(), "the comment");
        if (other != nullptr) {
            QTest::mouseMove(other, other->rect().center());
        } else {
            QEvent leave(QEvent::Leave);
            QApplication::sendEvent(form.get(), &leave);
        }
        EXPECT_EQ(status(), "");
    }
}

TEST_F(PixoramaFormTest, StatusBarCountsTheEntriesWhileAFolderLoads) {
    auto form = Open((FDir.Path() / "a.bmp").string());
    ASSERT_TRUE(WaitForEntries(*form));
    const QLabel* label = form->ProgressLabel();
    EXPECT_TRUE(label->isHidden());
    // What the right part shows after each step of a load ("" = nothing).
    std::vector<std::string> seen;
    form->Grid()->OnLoadProgress = [&, formHandler = form->Grid()->OnLoadProgress] {
        formHandler();
        seen.push_back(label->isHidden() ? "" : label->text().toStdString());
    };
    form->Grid()->ReloadDirectory(true);
    ASSERT_TRUE(WaitForEntries(*form));
    // broken.jpg never gets an entry.
    EXPECT_EQ(seen, (std::vector<std::string>{"", "0 / 3", "1 / 3", "2 / 3", ""}));
    // An empty folder shows nothing.
    test::TTempDir empty;
    seen.clear();
    form->Grid()->SetDirectory(empty.Path().string());
    ASSERT_TRUE(test::WaitUntil([&] { return TThread::RunningCount() == 0; }));
    EXPECT_EQ(seen, (std::vector<std::string>{"", "", ""}));
}

TEST_F(PixoramaFormTest, DeleteAnsweredYesRemovesTheFileAndKeepsThePosition) {
    auto form = Open((FDir.Path() / "a.bmp").string());
    ASSERT_TRUE(WaitForEntries(*form));
    ASSERT_TRUE(test::WaitUntil([&] { return form->DeleteAction()->isEnabled(); }));
    form->OnConfirmDelete = [](const QString&) { return true; };
    form->miDeleteClick();
    EXPECT_FALSE(fs::exists(FDir.Path() / "a.bmp"));
    EXPECT_TRUE(FErrors.empty());
    ASSERT_TRUE(test::WaitUntil([&] { return form->Grid()->Files().size() == 2u; }));
}

TEST_F(PixoramaFormTest, AFailedDeleteIsReported) {
    auto form = Open((FDir.Path() / "a.bmp").string());
    ASSERT_TRUE(WaitForEntries(*form));
    ASSERT_TRUE(test::WaitUntil([&] { return form->DeleteAction()->isEnabled(); }));
    // The file goes away behind the program's back, so the delete itself fails.
    fs::remove(FDir.Path() / "a.bmp");
    form->OnConfirmDelete = [](const QString&) { return true; };
    form->miDeleteClick();
    ASSERT_EQ(FErrors.size(), 1u);
    EXPECT_TRUE(FErrors[0].contains("a.bmp"));
}

TEST_F(PixoramaFormTest, StartsInTheStoredLastFolderAndStoresItAtClose) {
    const std::string key = std::string(kFormStorageKey) + "\\TPixorama";
    RegistryWriteString(HKEY_CURRENT_USER, key, "DirTree_Directory", Dir());
    test::TTempDir other;
    WriteBmp(other.Path() / "c.bmp", 8, 8);
    // A first argument that names no existing file is ignored.
    auto form = Open((FDir.Path() / "missing.bmp").string());
    ASSERT_TRUE(WaitForEntries(*form));
    EXPECT_EQ(form->ShellTree()->Path(), Dir());

    form->ShellTree()->SetPath(other.Path().string());
    ASSERT_TRUE(WaitForEntries(*form));
    form->close();
    EXPECT_EQ(RegistryReadString(HKEY_CURRENT_USER, key, "DirTree_Directory", ""),
              other.Path().string());
    // Beside it the window placement and the pane sizes.
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey(key, false));
    EXPECT_EQ(reg.GetValueNames().size(), 12u);
    EXPECT_EQ(reg.ReadString("Visible"), "0");
    EXPECT_EQ(reg.ReadString("Panel1_Width"),
              std::to_string(form->findChild<QWidget*>("Panel1")->width()));
}

TEST_F(PixoramaFormTest, AStoredPanelWidthThatIsNoNumberGivesWidthZero) {
    RegistryWriteString(HKEY_CURRENT_USER, std::string(kFormStorageKey) + "\\TPixorama",
                        "Panel1_Width", "wide");
    auto form = Open((FDir.Path() / "a.bmp").string());
    ASSERT_TRUE(WaitForEntries(*form));
    EXPECT_EQ(form->findChild<QWidget*>("Panel1")->width(), 0);
}

TEST_F(PixoramaFormTest, AnUnwritableSettingsFileIsReportedAndTheWindowClosesAnyway) {
    auto form = Open((FDir.Path() / "a.bmp").string());
    ASSERT_TRUE(WaitForEntries(*form));
    const test::TPermissionsHold permissions;
    if (!permissions.Active()) GTEST_SKIP() << "cannot make a read-only file hold for root";
    fs::permissions(RegistryFileName(HKEY_CURRENT_USER), fs::perms::owner_read);
    fs::permissions(FSettings.Path(), fs::perms::owner_read | fs::perms::owner_exec);
    std::vector<std::string> reported;
    SetApplicationErrorReport([&](const std::string& m) { reported.push_back(m); });
    form->close();
    SetApplicationErrorReport({});
    fs::permissions(FSettings.Path(), fs::perms::owner_all);
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(reported, std::vector<std::string>{"Could not set data for 'FormVersion'"});
}

TEST_F(PixoramaFormTest, ABrokenFirstFileDoesNotKeepOpenAndDeleteOffForTheOthers) {
    std::ofstream(FDir.Path() / "0-broken.jpg") << "not a picture either";
    auto form = Open((FDir.Path() / "a.bmp").string());
    ASSERT_TRUE(WaitForEntries(*form));
    ASSERT_EQ(form->Grid()->Files()[0], "0-broken.jpg");
    // The focused first file never gets an entry.
    EXPECT_FALSE(form->OpenAction()->isEnabled());
    // The user picks the next file: it can be opened and deleted at once.
    const QRect cell = form->Grid()->CellRect(1, 0);
    QTest::mouseClick(form->Grid()->viewport(), Qt::LeftButton, {}, cell.center());
    EXPECT_EQ(form->Grid()->FileIndex(), 1);
    EXPECT_TRUE(form->OpenAction()->isEnabled());
    EXPECT_TRUE(form->DeleteAction()->isEnabled());
    // Back on the broken file, it can still be deleted.
    const QRect first = form->Grid()->CellRect(0, 0);
    QTest::mouseClick(form->Grid()->viewport(), Qt::LeftButton, {}, first.center());
    EXPECT_EQ(form->Grid()->FileIndex(), 0);
    EXPECT_TRUE(form->DeleteAction()->isEnabled());
}

}  // namespace
}  // namespace pix
