// SPDX-License-Identifier: MIT
#include "platform/ini_file.h"

#include "test_support.h"

#include "platform/res_strings.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>

namespace pix {
namespace {

namespace fs = std::filesystem;

TEST(IniFileTest, AHandWrittenFileIsReadAndKeptAroundChanges) {
    test::TTempDir dir;
    const std::string file = dir.File("a.ini");
    test::WriteFile(file,
                    "; comment\r\n[Main]\r\n  Width = 200 \r\nno equals sign\r\n[main]\r\n"
                    "Height=x9\r\n[Other]\r\nX=1\r\n");
    TIniFile ini(file);
    EXPECT_EQ(ini.ReadString("MAIN", "width", "d"), "200");
    EXPECT_EQ(ini.ReadInteger("Main", "Width", 0), 200);
    EXPECT_EQ(ini.ReadInteger("Main", "Height", 5), 5);  // not a number
    EXPECT_EQ(ini.ReadString("Main", "Missing", "d"), "d");
    EXPECT_TRUE(ini.ValueExists("other", "x"));
    ini.WriteString("Main", "Width", "250");
    ini.WriteString("Main", "Caption", "two\nlines");
    ini.WriteString("New", "A", "b");
    ini.EraseSection("Other");
    EXPECT_EQ(test::ReadFile(file),
              "; comment\n[Main]\nWidth=250\nno equals sign\nCaption=two lines\n[main]\n"
              "Height=x9\n[New]\nA=b\n");
    EXPECT_EQ(TIniFile(file).ReadString("main", "caption", ""), "two lines");
}

TEST(IniFileTest, AFileThatCannotBeWrittenOrReadIsLeftAlone) {
    test::TTempDir dir;
    // A folder where the file should be reads as empty and is never written over.
    fs::create_directory(dir.Path() / "folder.ini");
    TIniFile folder(dir.File("folder.ini"));
    EXPECT_EQ(folder.ReadString("S", "N", "d"), "d");
    EXPECT_THROW(folder.WriteString("S", "N", "v"), EPixError);

    const std::string file = dir.File("a.ini");
    test::WriteFile(file, "[S]\nN=old\n");
    const test::TPermissionsHold permissions;
    if (!permissions.Active()) GTEST_SKIP() << "cannot make a read-only folder hold for root";
    fs::permissions(dir.Path(), fs::perms::owner_read | fs::perms::owner_exec);
    TIniFile ini(file);
    try {
        ini.WriteString("S", "N", "new");
        ADD_FAILURE() << "no exception";
    } catch (const EPixError& e) {
        EXPECT_EQ(e.Id, SIniFileWriteError.Id);
        EXPECT_NE(std::string(e.what()).find(file), std::string::npos);
    }
    EXPECT_EQ(ini.ReadString("S", "N", ""), "old");
    fs::permissions(dir.Path(), fs::perms::owner_all);
    EXPECT_EQ(test::ReadFile(file), "[S]\nN=old\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 2);
}

}  // namespace
}  // namespace pix
