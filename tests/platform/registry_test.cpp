// SPDX-License-Identifier: MIT
#include "platform/registry.h"

#include "test_support.h"

#include "platform/res_strings.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>
#include <limits>

namespace pix {
namespace {

// Every test writes into a temporary folder, never the user's settings.
class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override { SetRegistryRootFolderForTesting(FDir.Path().string()); }
    void TearDown() override { SetRegistryRootFolderForTesting(""); }
    test::TTempDir FDir;
};

template <typename TCall>
test::TRaised MessageOf(TCall call) {
    try {
        call();
    } catch (const ERegistryException& e) {
        return {e.Id, e.what()};
    }
    return {};
}

TEST_F(RegistryTest, ValuesOfEveryTypeSurviveANewAccessor) {
    {
        TRegistry reg;
        ASSERT_TRUE(reg.OpenKey("\\Software\\Corvane\\Pixorama\\TPixorama", true));
        reg.WriteString("DirTree_Directory", "/home/user/scans, März/a=b;c");
        reg.WriteString("Empty", "");
        reg.WriteExpandString("Expand", "%HOME%/x");
        reg.WriteInteger("Min", std::numeric_limits<std::int32_t>::min());
        reg.WriteInteger("Neg", -1);
        reg.WriteBool("Yes", true);
        reg.WriteBool("No", false);
        reg.WriteFloat("Pi", 3.141592653589793);
        reg.WriteDateTime("When", 46000.25);
        reg.WriteBinaryData("Bytes", {0, 1, 0xFF, 0x2C});
        reg.WriteString("", "default value");
        reg.WriteString("a/b\\c%41@", "odd name");
        reg.WriteString("Bytes8", "/scans/\xe4\xfc");  // a file name that is not UTF-8
        reg.WriteExpandString("HexLike", "hex-00");
    }
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey("\\Software\\Corvane\\Pixorama\\TPixorama", false));
    EXPECT_EQ(reg.ReadString("DirTree_Directory"), "/home/user/scans, März/a=b;c");
    EXPECT_EQ(reg.ReadString("Empty"), "");
    EXPECT_TRUE(reg.ValueExists("Empty"));
    EXPECT_EQ(reg.ReadString("Expand"), "%HOME%/x");
    EXPECT_EQ(reg.GetDataType("Expand"), rdExpandString);
    EXPECT_EQ(reg.ReadInteger("Min"), std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(reg.ReadInteger("Neg"), -1);
    EXPECT_TRUE(reg.ReadBool("Yes"));
    EXPECT_FALSE(reg.ReadBool("No"));
    EXPECT_EQ(reg.ReadInteger("Yes"), 1);  // Booleans are integers
    EXPECT_DOUBLE_EQ(reg.ReadFloat("Pi"), 3.141592653589793);
    EXPECT_DOUBLE_EQ(reg.ReadDateTime("When"), 46000.25);
    EXPECT_EQ(reg.ReadBinaryData("Bytes"), (std::vector<std::uint8_t>{0, 1, 0xFF, 0x2C}));
    EXPECT_EQ(reg.ReadString(""), "default value");
    EXPECT_EQ(reg.ReadString("a/b\\c%41@"), "odd name");
    EXPECT_EQ(reg.ReadString("Bytes8"), "/scans/\xe4\xfc");
    EXPECT_EQ(reg.ReadString("HexLike"), "hex-00");
    EXPECT_EQ(reg.GetDataSize("Pi"), 8);
    EXPECT_EQ(reg.GetDataSize("Empty"), 1);
    EXPECT_EQ(reg.GetDataSize("Missing"), -1);
    // The separators in the odd name did not make keys.
    EXPECT_TRUE(reg.GetKeyNames().empty());
    EXPECT_EQ(reg.GetValueNames().size(), 14u);
}

struct TWrongType {
    const char* Name;
    void (*Read)(TRegistry&);
};

class RegistryWrongTypeTest : public RegistryTest,
                              public ::testing::WithParamInterface<TWrongType> {};

TEST_P(RegistryWrongTypeTest, ReadingWithAnotherTypeNamesTheValue) {
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey("Key", true));
    reg.WriteString("Text", "12");
    reg.WriteInteger("Number", 12);
    reg.WriteBinaryData("Short", {1, 2, 3});
    const TWrongType& c = GetParam();
    EXPECT_TRUE(test::IsMessage(MessageOf([&] { c.Read(reg); }), SInvalidRegType, c.Name));
}

INSTANTIATE_TEST_SUITE_P(
    Types, RegistryWrongTypeTest,
    ::testing::Values(TWrongType{"Text", [](TRegistry& r) { r.ReadInteger("Text"); }},
                      TWrongType{"Text", [](TRegistry& r) { r.ReadBool("Text"); }},
                      TWrongType{"Text", [](TRegistry& r) { r.ReadFloat("Text"); }},
                      TWrongType{"Number", [](TRegistry& r) { r.ReadString("Number"); }},
                      TWrongType{"Number", [](TRegistry& r) { r.ReadFloat("Number"); }},
                      // A float needs exactly eight bytes.
                      TWrongType{"Short", [](TRegistry& r) { r.ReadFloat("Short"); }},
                      TWrongType{"Short", [](TRegistry& r) { r.ReadInteger("Short"); }}));

TEST_F(RegistryTest, MissingValuesAndClosedKeys) {
    TRegistry reg;
    EXPECT_TRUE(
        test::IsMessage(MessageOf([&] { reg.WriteString("V", "x"); }), SRegSetDataFailed, "V"));
    EXPECT_TRUE(test::IsMessage(MessageOf([&] { reg.ReadInteger("V"); }), SRegGetDataFailed, "V"));
    ASSERT_TRUE(reg.OpenKey("K", true));
    EXPECT_EQ(reg.ReadString("Missing"), "");  // a missing text reads as empty
    EXPECT_TRUE(test::IsMessage(MessageOf([&] { reg.ReadInteger("Missing"); }), SRegGetDataFailed,
                                "Missing"));
    EXPECT_TRUE(test::IsMessage(MessageOf([&] { reg.ReadFloat("Missing"); }), SRegGetDataFailed,
                                "Missing"));
    reg.WriteString("V", "x");
    reg.CloseKey();
    ASSERT_TRUE(reg.OpenKeyReadOnly("K"));
    EXPECT_EQ(reg.ReadString("V"), "x");
    EXPECT_TRUE(
        test::IsMessage(MessageOf([&] { reg.WriteString("V", "y"); }), SRegSetDataFailed, "V"));
    EXPECT_FALSE(reg.DeleteValue("V"));
}

TEST_F(RegistryTest, KeyPathsCountFromTheRootOrTheCurrentKey) {
    TRegistry reg;
    EXPECT_FALSE(reg.OpenKey("\\Software\\Corvane", false));
    ASSERT_TRUE(reg.OpenKey("Software\\Corvane", true));  // relative to the root when closed
    EXPECT_EQ(reg.CurrentPath(), "Software\\Corvane");
    ASSERT_TRUE(reg.OpenKey("Pixorama\\\\TPixorama\\", true));  // relative, empty parts ignored
    EXPECT_EQ(reg.CurrentPath(), "Software\\Corvane\\Pixorama\\TPixorama");
    reg.WriteInteger("Flags", 2);
    ASSERT_TRUE(reg.OpenKey("\\SOFTWARE\\corvane", false));  // from the root, any case
    EXPECT_EQ(reg.CurrentPath(), "Software\\Corvane");
    EXPECT_EQ(reg.GetKeyNames(), std::vector<std::string>{"Pixorama"});
    ASSERT_TRUE(reg.OpenKey("pixorama\\tpixorama", false));
    EXPECT_EQ(reg.ReadInteger("FLAGS"), 2);
    reg.WriteInteger("flags", 3);  // same value, whatever the case
    EXPECT_EQ(reg.GetValueNames(), std::vector<std::string>{"Flags"});

    // A key made without values still exists.
    EXPECT_TRUE(reg.CreateKey("\\Software\\Empty"));
    TRegistry other;
    EXPECT_TRUE(other.KeyExists("\\Software\\Empty"));
    EXPECT_TRUE(other.OpenKey("Software\\Empty", false));
    EXPECT_TRUE(other.GetValueNames().empty());
    EXPECT_TRUE(other.DeleteKey("\\Software\\Corvane"));
    EXPECT_FALSE(other.KeyExists("\\Software\\Corvane\\Pixorama"));
}

TEST_F(RegistryTest, RootKeysAreSeparateFiles) {
    TRegistry user;
    ASSERT_TRUE(user.OpenKey("\\Software\\Corvane\\VEXA 4.0\\Hardware", true));
    user.WriteInteger("REMType", 1);
    TRegistry machine;
    machine.SetRootKey(HKEY_LOCAL_MACHINE);
    EXPECT_FALSE(machine.OpenKey("\\Software\\Corvane\\VEXA 4.0\\Hardware", false));
    TRegistry unknown;
    unknown.SetRootKey(static_cast<HKEY>(0x12345678u));
    EXPECT_FALSE(unknown.OpenKey("Software", true));
}

// Files written by hand or damaged: unknown forms read as values of unknown type.
TEST_F(RegistryTest, HandWrittenAndDamagedValues) {
    test::WriteFile(RegistryFileName(HKEY_LOCAL_MACHINE),
                    "[Software]\n"
                    "Corvane\\VEXA%204.0\\Hardware\\REMType=dword:00000200\n"
                    "Corvane\\VEXA%204.0\\Hardware\\Bad=dword:xyz\n"
                    "Corvane\\VEXA%204.0\\Hardware\\Plain=no prefix\n"
                    "Corvane\\VEXA%204.0\\Hardware\\List=sz:a, b\n"
                    "Corvane\\VEXA%204.0\\Hardware\\Hex=hex:0a,0\n"
                    "\x01\xff[[[garbage\n");
    TRegistry reg;
    reg.SetRootKey(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(reg.OpenKeyReadOnly("\\Software\\Corvane\\VEXA 4.0\\Hardware"));
    EXPECT_EQ(reg.ReadInteger("REMType"), 512);
    EXPECT_EQ(reg.ReadString("List"), "a, b");
    for (const char* name : {"Bad", "Plain", "Hex"}) {
        EXPECT_EQ(reg.GetDataType(name), rdUnknown) << name;
        EXPECT_TRUE(
            test::IsMessage(MessageOf([&] { reg.ReadString(name); }), SInvalidRegType, name));
    }
}

TEST_F(RegistryTest, AFailedWriteRaisesLeavesTheFileAndIsNotReadBack) {
    const std::string file = RegistryFileName(HKEY_CURRENT_USER);
    {
        TRegistry reg;
        ASSERT_TRUE(reg.OpenKey("K", true));
        reg.WriteString("V", "old");
    }
    const std::string before = test::ReadFile(file);
    const test::TPermissionsHold permissions;
    if (!permissions.Active()) GTEST_SKIP() << "cannot make a read-only file hold for root";
    namespace fs = std::filesystem;
    fs::permissions(file, fs::perms::owner_read);
    fs::permissions(FDir.Path(), fs::perms::owner_read | fs::perms::owner_exec);
    {
        TRegistry reg;
        ASSERT_TRUE(reg.OpenKey("K", true));
        EXPECT_TRUE(test::IsMessage(MessageOf([&] { reg.WriteString("V", "new"); }),
                                    SRegSetDataFailed, "V"));
        EXPECT_TRUE(
            test::IsMessage(MessageOf([&] { reg.WriteInteger("W", 1); }), SRegSetDataFailed, "W"));
        EXPECT_FALSE(reg.OpenKey("\\Other", true));
    }
    // Neither this process nor the disk holds what failed.
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey("K", false));
    EXPECT_EQ(reg.ReadString("V"), "old");
    EXPECT_FALSE(reg.ValueExists("W"));
    EXPECT_FALSE(reg.KeyExists("\\Other"));
    fs::permissions(FDir.Path(), fs::perms::owner_all);
    EXPECT_EQ(test::ReadFile(file), before);
    EXPECT_EQ(std::distance(fs::directory_iterator(FDir.Path()), fs::directory_iterator()), 1);
}

TEST_F(RegistryTest, ADamagedFileIsRewrittenWithoutAFalseError) {
    test::WriteFile(RegistryFileName(HKEY_CURRENT_USER),
                    "[K]\nV=sz:old\n[a\nx=1\n\"=2\n\xff\xfe=3\n");
    {
        TRegistry reg;
        ASSERT_TRUE(reg.OpenKey("K", true));
        EXPECT_EQ(reg.ReadString("V"), "old");
        reg.WriteString("V", "new");
    }
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey("K", false));
    EXPECT_EQ(reg.ReadString("V"), "new");
}

}  // namespace
}  // namespace pix
