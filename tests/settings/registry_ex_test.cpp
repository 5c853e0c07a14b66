// SPDX-License-Identifier: MIT
#include "settings/registry_ex.h"

#include "test_support.h"

#include "platform/res_strings.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace pix {
namespace {

constexpr const char* kKey = "Software\\Corvane\\Pixorama\\TPixorama";

class RegistryExTest : public ::testing::Test {
protected:
    void SetUp() override { SetRegistryRootFolderForTesting(FDir.Path().string()); }
    void TearDown() override { SetRegistryRootFolderForTesting(""); }
    test::TTempDir FDir;
};

TEST_F(RegistryExTest, WrittenValuesReadBackInTheirTypes) {
    RegistryWriteString(HKEY_CURRENT_USER, kKey, "DirTree_Directory", "/data/scans");
    RegistryWriteInteger(HKEY_CURRENT_USER, kKey, "Count", -7);
    RegistryWriteFloat(HKEY_CURRENT_USER, kKey, "Scale", 0.125);
    RegistryWriteBool(HKEY_CURRENT_USER, kKey, "Flag", true);
    // With or without a leading "\", the key path starts at the root.
    const std::string fromRoot = std::string("\\") + kKey;
    EXPECT_EQ(RegistryReadString(HKEY_CURRENT_USER, fromRoot, "DirTree_Directory", "x"),
              "/data/scans");
    EXPECT_EQ(RegistryReadInteger(HKEY_CURRENT_USER, kKey, "Count", 0), -7);
    EXPECT_DOUBLE_EQ(RegistryReadFloat(HKEY_CURRENT_USER, kKey, "Scale", 1), 0.125);
    EXPECT_TRUE(RegistryReadBool(HKEY_CURRENT_USER, kKey, "Flag", false));
    // A second write replaces the value.
    RegistryWriteString(HKEY_CURRENT_USER, fromRoot, "DirTree_Directory", "/other");
    EXPECT_EQ(RegistryReadString(HKEY_CURRENT_USER, kKey, "DirTree_Directory", ""), "/other");
}

TEST_F(RegistryExTest, MissingKeysAndValuesGiveTheDefaultWithoutMakingTheKey) {
    EXPECT_EQ(RegistryReadString(HKEY_CURRENT_USER, kKey, "DirTree_Directory", "/home"), "/home");
    EXPECT_EQ(RegistryReadInteger(HKEY_LOCAL_MACHINE, "Software\\Corvane\\VEXA 4.0\\Hardware",
                                  "REMType", 0),
              0);
    EXPECT_FALSE(std::filesystem::exists(RegistryFileName(HKEY_LOCAL_MACHINE)));
    RegistryWriteInteger(HKEY_CURRENT_USER, kKey, "Other", 1);
    EXPECT_EQ(RegistryReadString(HKEY_CURRENT_USER, kKey, "DirTree_Directory", "/home"), "/home");
    EXPECT_FALSE(RegistryReadBool(HKEY_CURRENT_USER, kKey, "Missing", false));
}

TEST_F(RegistryExTest, ValueOfAnotherTypeRaisesTheRegistryError) {
    RegistryWriteString(HKEY_LOCAL_MACHINE, "Software\\Corvane\\VEXA 4.0\\Hardware", "REMType",
                        "512");
    try {
        RegistryReadInteger(HKEY_LOCAL_MACHINE, "Software\\Corvane\\VEXA 4.0\\Hardware", "REMType",
                            0);
        FAIL() << "no exception";
    } catch (const ERegistryException& e) {
        EXPECT_EQ(e.Id, SInvalidRegType.Id);
        EXPECT_NE(std::string(e.what()).find("REMType"), std::string::npos);
    }
}

TEST_F(RegistryExTest, UnknownRootMeansTheCurrentUser) {
    RegistryWriteString(static_cast<HKEY>(42), kKey, "V", "user");
    EXPECT_EQ(RegistryReadString(HKEY_CURRENT_USER, kKey, "V", ""), "user");
    EXPECT_EQ(RegistryReadString(static_cast<HKEY>(0x80000010u), kKey, "V", ""), "user");
}

TEST_F(RegistryExTest, KeyThatCannotBeMadeFailsTheWriteNamingTheValue) {
    // A folder in place of the settings file: nothing can be written there.
    std::filesystem::create_directories(RegistryFileName(HKEY_CURRENT_USER));
    try {
        RegistryWriteString(HKEY_CURRENT_USER, kKey, "DirTree_Directory", "/x");
        FAIL() << "no exception";
    } catch (const ERegistryException& e) {
        EXPECT_EQ(e.Id, SRegSetDataFailed.Id);
        EXPECT_NE(std::string(e.what()).find("DirTree_Directory"), std::string::npos);
        EXPECT_EQ(std::string(e.what()).rfind("Could not set data for ", 0), 0u);
    }
}

}  // namespace
}  // namespace pix
