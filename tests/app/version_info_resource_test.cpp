// SPDX-License-Identifier: MIT
#include "app/version_info_resource.h"

#include "elf_builder.h"
#include "gui_support.h"
#include "test_support.h"

#include "app/about_form.h"
#include "app/splash_form.h"
#include "platform/version_block.h"

#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace pix {
namespace {

// This test program carries a version block of its own (tests/CMakeLists.txt): 1.0.0.5,
// debug and pre-release.
TEST(AboutForm, AboutBoxAndSplashShowTheProgramsFileVersion) {
    test::EnsureGuiApplication();
    TAboutForm about;
    EXPECT_EQ(about.VersionLabel()->text(), "Version x.x");
    EXPECT_EQ(about.size(), QSize(340, 186));
    QString shown;
    QTimer::singleShot(0, &about, [&] {
        shown = about.VersionLabel()->text();
        about.OKButton()->click();
    });
    EXPECT_EQ(about.exec(), QDialog::Accepted);
    EXPECT_EQ(shown, "Version 1.0.0.5");

    TSplashForm splash;
    splash.ShowAtOnce();
    EXPECT_EQ(splash.VersionLabel()->text(), "Version 1.0.0.5");
}

std::vector<std::pair<QString, QString>> Rows(const QTreeWidget& view) {
    std::vector<std::pair<QString, QString>> rows;
    for (int i = 0; i < view.topLevelItemCount(); ++i)
        rows.emplace_back(view.topLevelItem(i)->text(0), view.topLevelItem(i)->text(1));
    return rows;
}

TEST(VersionInfoResource, FillsLabelsAndTheListViewFromTheProgramsBlock) {
    test::EnsureGuiApplication();
    TVersionInfoResourceHack info;
    QTreeWidget view;
    info.SetVersionListView(&view);
    info.Refresh();
    EXPECT_EQ(info.BuildFlagsText(), "Debug, Pre-Release");
    EXPECT_EQ(view.headerItem()->text(0), "Resource");
    EXPECT_EQ(view.headerItem()->text(1), "Value");
    const std::vector<std::pair<QString, QString>> expected = {
        {"ProductName", "Pixorama"},       {"ProductVersion", "1.0.0.5"},
        {"CompanyName", "Corvane"},        {"LegalCopyright", QString::fromUtf8(SSplashCopyright)},
        {"LegalTrademarks", ""},           {"FileDescription", "Pixorama application tests"},
        {"FileVersion", "1.0.0.5"},        {"InternalName", "app_tests"},
        {"OriginalFilename", "app_tests"}, {"BuildFlags", "Debug, Pre-Release"}};
    EXPECT_EQ(Rows(view), expected);

    // A linked label shows its value instead of the list view's row; freed, it is unlinked.
    auto* label = new QLabel;
    info.SetVersionLabel(label);
    EXPECT_EQ(label->text(), "1.0.0.5");
    EXPECT_EQ(view.topLevelItemCount(), 9);
    EXPECT_EQ(view.topLevelItem(6)->text(0), "InternalName");
    delete label;
    info.Refresh();
    EXPECT_EQ(info.VersionLabel(), nullptr);
}

struct TOtherFile {
    const char* Name;
    std::string Version;
    std::string CompanyName;
};

TEST(VersionInfoResource, BlocksWithoutTranslationOrFixedInformationAndDamagedFiles) {
    constexpr TVersionString strings[] = {{"CompanyName", "Corvane"}};
    TVersionDefinition definition;
    definition.FileVersion = {3, 2, 1, 0};
    definition.Strings = strings;
    test::TTempDir dir;
    auto write = [&](const char* name, const std::vector<std::uint8_t>& block, std::size_t cut) {
        const std::string file = test::ElfWithSection(kVersionSectionName, block);
        test::WriteFile(dir.File(name), file.substr(0, file.size() - cut));
    };
    definition.WriteTranslation = false;
    write("untranslated", WriteVersionBlock(definition), 0);
    definition.WriteTranslation = true;
    std::vector<std::uint8_t> unsigned_ = WriteVersionBlock(definition);
    unsigned_[40] ^= 0xFF;  // the fixed information's signature
    write("unsigned", unsigned_, 0);
    write("truncated", WriteVersionBlock(definition), 200);

    for (const TOtherFile& row :
         {TOtherFile{"untranslated", "3.2.1.0", ""}, TOtherFile{"unsigned", "", "Corvane"},
          TOtherFile{"truncated", "", ""}}) {
        SCOPED_TRACE(row.Name);
        TVersionInfoResourceHack info;
        info.SetFilename(dir.File(row.Name));
        EXPECT_EQ(info.FileVersionText(), row.Version);
        EXPECT_EQ(info.ProductVersionText(), row.Version.empty() ? "" : "0.0.0.0");
        EXPECT_EQ(info.CompanyName(), row.CompanyName);
        EXPECT_EQ(info.StringByIndex(11), "");
    }
}

// The build gives each program its own block, with the project's version.
TEST(VersionInfoResource, EachProgramCarriesItsOwnBlock) {
    for (const char* name : {"pixorama", "pixorama-cli", "pixorama-view"}) {
        SCOPED_TRACE(name);
        TVersionInfoResourceHack info;
        info.SetFilename((std::filesystem::path(PIXORAMA_PROGRAMS_DIR) / name).string());
        EXPECT_EQ(info.FileVersionText(), PIXORAMA_VERSION);
        EXPECT_EQ(info.InternalName(), name);
        EXPECT_EQ(info.OriginalFilename(), name);
        EXPECT_EQ(info.ProductName(), "Pixorama");
    }
}

}  // namespace
}  // namespace pix
