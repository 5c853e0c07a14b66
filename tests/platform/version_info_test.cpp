// SPDX-License-Identifier: MIT
#include "platform/version_info.h"

#include "elf_builder.h"
#include "test_support.h"

#include "platform/byte_order.h"
#include "platform/process.h"
#include "platform/version_block.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace pix {
namespace {

constexpr TVersionString kStrings[] = {
    {"CompanyName", "Corvane"},
    {"LegalCopyright", "Copyright \u00a9 2026 \u00c7a"},
    {"Comments", "\U0001D11E clef"},  // beyond 16 bits: a surrogate pair in the block
};

std::vector<std::uint8_t> Block() {
    TVersionDefinition definition;
    definition.FileVersion = {1, 0, 0, 5};
    definition.ProductVersion = {2, 3, 4, 65535};
    definition.FileFlags = VS_FF_DEBUG | VS_FF_PRERELEASE;
    definition.Strings = kStrings;
    return WriteVersionBlock(definition);
}

std::string Text(std::span<const std::uint8_t> block, std::string_view path) {
    std::string text;
    return VerQueryValueA(block, path, text) ? text : "<none>";
}

// Both classes and byte orders of ELF files carry the block the writer made.
class VersionFileTest : public ::testing::TestWithParam<std::pair<bool, bool>> {};

TEST_P(VersionFileTest, ReadsBackWhatTheWriterMade) {
    const std::vector<std::uint8_t> block = Block();
    std::vector<std::uint8_t> section = block;
    section.resize(block.size() + 20, 0xEE);  // the section may be longer than the block
    test::TTempDir dir;
    test::WriteFile(dir.File("program"), test::ElfWithSection(kVersionSectionName, section,
                                                              GetParam().first, GetParam().second));

    ASSERT_EQ(GetFileVersionInfoSizeA(dir.File("program")), block.size());
    std::vector<std::uint8_t> read(block.size());
    ASSERT_TRUE(GetFileVersionInfoA(dir.File("program"), read));
    EXPECT_EQ(read, block);

    const std::optional<TVSFixedFileInfo> fixed = FixedFileInfo(read);
    ASSERT_TRUE(fixed);
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00000005u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0x0004FFFFu);
    EXPECT_EQ(fixed->dwFileFlags, VS_FF_DEBUG | VS_FF_PRERELEASE);
    std::span<const std::uint8_t> translation;
    ASSERT_TRUE(VerQueryValueA(read, "\\VarFileInfo\\Translation", translation));
    EXPECT_EQ(std::vector<std::uint8_t>(translation.begin(), translation.end()),
              (std::vector<std::uint8_t>{0x09, 0x04, 0xE4, 0x04}));
    // The string table is named in upper case; keys match without regard to case.
    EXPECT_EQ(Text(read, "\\StringFileInfo\\040904e4\\CompanyName"), "Corvane");
    EXPECT_EQ(Text(read, "stringfileinfo\\040904E4\\COMPANYNAME"), "Corvane");
    EXPECT_EQ(Text(read, "\\StringFileInfo\\040904e4\\LegalCopyright"),
              "Copyright \u00a9 2026 \u00c7a");
    EXPECT_EQ(Text(read, "\\StringFileInfo\\040904e4\\Comments"), "\U0001D11E clef");
    EXPECT_EQ(Text(read, "\\StringFileInfo\\040904e4\\ProductName"), "<none>");
    EXPECT_EQ(Text(read, "\\StringFileInfo\\\\CompanyName"), "<none>");
    EXPECT_EQ(Text(read, "\\StringFileInfo\\04070000\\CompanyName"), "<none>");
}

INSTANTIATE_TEST_SUITE_P(Classes, VersionFileTest,
                         ::testing::Values(std::pair{true, false}, std::pair{false, true}));

TEST(VersionFile, FilesWithoutABlockHaveNone) {
    test::TTempDir dir;
    const std::vector<std::uint8_t> block = Block();
    test::WriteFile(dir.File("empty"), "");
    test::WriteFile(dir.File("text"), std::string(4096, 'x'));
    test::WriteFile(dir.File("other"), test::ElfWithSection(".rodata", block));
    // A section whose root is not the version information's.
    std::vector<std::uint8_t> renamed = block;
    renamed[6] = 'W';
    test::WriteFile(dir.File("renamed"), test::ElfWithSection(kVersionSectionName, renamed));
    // This test program is a real ELF file built without a version block.
    for (const std::string& file :
         {dir.File("missing"), dir.Path().string(), dir.File("empty"), dir.File("text"),
          dir.File("other"), dir.File("renamed"), ProgramFileName()}) {
        SCOPED_TRACE(file);
        EXPECT_EQ(GetFileVersionInfoSizeA(file), 0u);
        std::vector<std::uint8_t> data(64);
        EXPECT_FALSE(GetFileVersionInfoA(file, data));
    }
}

// Damaged files and blocks: no read outside the bytes, no value outside the block.
TEST(VersionFile, DamagedFilesAndBlocksNeverReadPastTheirEnd) {
    const std::vector<std::uint8_t> block = Block();
    const std::string file = test::ElfWithSection(kVersionSectionName, block);
    test::TTempDir dir;
    // Every 7th cut of the file, and bytes of its ELF header and section headers set to
    // 0xFF: the whole block or none.
    std::vector<std::string> damaged;
    for (std::size_t size = 0; size < file.size(); size += 7)
        damaged.push_back(file.substr(0, size));
    for (std::size_t at : {4, 5, 0x28, 0x2F, 0x3A, 0x3C, 0x3E})
        damaged.push_back(std::string(file).replace(at, 1, "\xFF"));
    for (std::size_t at = file.size() - 3 * 64; at < file.size(); ++at)
        damaged.push_back(std::string(file).replace(at, 1, "\xFF"));
    for (const std::string& bytes : damaged) {
        test::WriteFile(dir.File("program"), bytes);
        const std::uint32_t found = GetFileVersionInfoSizeA(dir.File("program"));
        EXPECT_TRUE(found == 0 || found == block.size());
    }

    // Every cut of the block (its root then claims more than there is: nothing at all), and
    // every 16-bit field of the block as 0xFFFF, as 6 (a bare header) and as 0.
    std::vector<std::vector<std::uint8_t>> blocks;
    for (std::size_t size = 0; size < block.size(); ++size)
        blocks.emplace_back(block.begin(), block.begin() + size);
    for (std::size_t at = 0; at + 1 < block.size(); at += 2) {
        for (std::uint16_t value : {0xFFFF, 6, 0}) {
            blocks.push_back(block);
            StoreLE16(&blocks.back()[at], value);
        }
    }
    for (const std::vector<std::uint8_t>& bytes : blocks) {
        for (const char* path :
             {"\\", "\\VarFileInfo\\Translation", "\\StringFileInfo\\040904E4\\Comments"}) {
            std::span<const std::uint8_t> value;
            if (VerQueryValueA(bytes, path, value)) {
                EXPECT_EQ(bytes.size(), block.size()) << path;  // a cut block has nothing
                EXPECT_TRUE(value.data() >= bytes.data() &&
                            value.data() + value.size() <= bytes.data() + bytes.size());
            }
            std::string text;
            EXPECT_EQ(VerQueryValueA(bytes, path, text), VerQueryValueA(bytes, path, value));
        }
    }
}

}  // namespace
}  // namespace pix
