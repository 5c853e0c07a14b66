// SPDX-License-Identifier: MIT
#include "platform/file_system.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace pix {
namespace {

namespace fs = std::filesystem;
using test::TTempDir;
using test::WriteFile;

// Sets a file's modification time to a local wall-clock time.
void SetLocalMtime(const std::string& name, int year, int month, int day, int hour, int minute,
                   int second) {
    std::tm local{};
    local.tm_year = year - 1900;
    local.tm_mon = month - 1;
    local.tm_mday = day;
    local.tm_hour = hour;
    local.tm_min = minute;
    local.tm_sec = second;
    local.tm_isdst = -1;
    const timespec times[2] = {{mktime(&local), 0}, {mktime(&local), 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, name.c_str(), times, 0), 0);
}

TEST(FileAgeTest, PacksTheLocalModificationTime) {
    TTempDir dir;
    const std::string name = dir.File("a.tif");
    WriteFile(name, "x");
    SetLocalMtime(name, 2024, 5, 17, 13, 45, 31);
    const std::int32_t age = FileAge(name);
    // 2024-05-17 13:45:31, seconds halved (31 -> 15).
    const std::uint32_t expected =
        (44u << 25) | (5u << 21) | (17u << 16) | (13u << 11) | (45u << 5) | 15u;
    EXPECT_EQ(static_cast<std::uint32_t>(age), expected);
    const TDosDateTime parts = UnpackDosDateTime(age);
    EXPECT_EQ(parts.Year, 2024);
    EXPECT_EQ(parts.Month, 5);
    EXPECT_EQ(parts.Day, 17);
    EXPECT_EQ(parts.Hour, 13);
    EXPECT_EQ(parts.Minute, 45);
    EXPECT_EQ(parts.Second, 30);
}

TEST(FileAgeTest, MissingFilesFoldersAndUnpackableDatesGiveMinusOne) {
    TTempDir dir;
    EXPECT_EQ(FileAge(dir.File("missing.tif")), -1);
    EXPECT_EQ(FileAge(dir.Path().string()), -1);
    EXPECT_EQ(FileAge(""), -1);
    const std::string old = dir.File("old.tif");
    WriteFile(old, "x");
    SetLocalMtime(old, 1975, 6, 1, 12, 0, 0);  // before the packed form's epoch
    EXPECT_EQ(FileAge(old), -1);

    // What the thumbnail cache keys on: a -1 of a file outside the packed range is told
    // from a missing one, and a file written within the last 2 seconds or in the future is
    // not settled.
    EXPECT_FALSE(ReadFileDate(dir.File("missing.tif")).Exists);
    const TFileDate past = ReadFileDate(old);
    EXPECT_TRUE(past.Exists && past.Settled && !past.InDosRange);
    const std::string fresh = dir.File("fresh.tif");
    WriteFile(fresh, "x");
    const TFileDate now = ReadFileDate(fresh);
    EXPECT_TRUE(now.Exists && now.InDosRange && !now.Settled);
    SetLocalMtime(fresh, 2099, 1, 1, 0, 0, 0);
    EXPECT_FALSE(ReadFileDate(fresh).Settled);
}

TEST(DosDateTimeTest, PackAndUnpackAreInverse) {
    EXPECT_EQ(PackDosDateTime({1980, 1, 1, 0, 0, 0}), 0x00210000);
    // From 2044 on the top bit is set; the packed value is then negative but never -1.
    const TDosDateTime late{2100, 12, 31, 23, 59, 58};
    const std::int32_t packed = PackDosDateTime(late);
    EXPECT_LT(packed, 0);
    EXPECT_NE(packed, -1);
    const TDosDateTime back = UnpackDosDateTime(packed);
    EXPECT_EQ(back.Year, 2100);
    EXPECT_EQ(back.Month, 12);
    EXPECT_EQ(back.Day, 31);
    EXPECT_EQ(back.Hour, 23);
    EXPECT_EQ(back.Minute, 59);
    EXPECT_EQ(back.Second, 58);
}

TEST(FileQueriesTest, SizeExistenceAndDeletion) {
    TTempDir dir;
    const std::string name = dir.File("b.bmp");
    WriteFile(name, "12345");
    EXPECT_EQ(FileSize(name), 5);
    EXPECT_TRUE(FileExists(name));
    EXPECT_FALSE(DirectoryExists(name));
    EXPECT_TRUE(DirectoryExists(dir.Path().string()));
    EXPECT_FALSE(FileExists(dir.Path().string()));
    EXPECT_EQ(FileSize(dir.Path().string()), -1);
    EXPECT_TRUE(DeleteFile(name));
    EXPECT_FALSE(FileExists(name));
    EXPECT_EQ(FileSize(name), -1);
    EXPECT_FALSE(DeleteFile(name));
    EXPECT_EQ(errno, ENOENT);
}

struct TWildcardCase {
    const char* name;
    const char* pattern;
    bool matches;
};

class WildcardTest : public ::testing::TestWithParam<TWildcardCase> {};

TEST_P(WildcardTest, Matches) {
    const auto& t = GetParam();
    EXPECT_EQ(MatchesWildcard(t.name, t.pattern), t.matches) << t.name << " ~ " << t.pattern;
}

INSTANTIATE_TEST_SUITE_P(
    Table, WildcardTest,
    ::testing::Values(
        // Letters match without regard to case.
        TWildcardCase{"IMAGE.TIF", "*.tif", true}, TWildcardCase{"image.tif", "*.TIF", true},
        TWildcardCase{"image.tiff", "*.tif", false}, TWildcardCase{"image.ti", "*.tif", false},
        TWildcardCase{".tif", "*.tif", true}, TWildcardCase{"a.tif.bak", "*.tif", false},
        TWildcardCase{"a.b.tif", "*.tif", true},
        // "?" is exactly one character.
        TWildcardCase{"img1.tif", "img?.tif", true}, TWildcardCase{"img.tif", "img?.tif", false},
        TWildcardCase{"img12.tif", "img?.tif", false},
        // "*" may be empty, and several stars need backtracking.
        TWildcardCase{"", "*", true}, TWildcardCase{"abc", "a*b*c", true},
        TWildcardCase{"abcbc", "a*bc", true}, TWildcardCase{"abcb", "a*bc", false},
        TWildcardCase{"aaaaaaaaaaaaaaaaaaaaaaaaaaaaab", "*a*a*a*a*a*a*a*a*c", false},
        // "*.*" is every name, with or without a dot.
        TWildcardCase{"README", "*.*", true}, TWildcardCase{"a.b", "*.*", true},
        TWildcardCase{"README", "*.", false},
        // Wildcards never reach into another folder.
        TWildcardCase{"sub/a.tif", "*.tif", false}, TWildcardCase{"a/b", "a?b", false},
        TWildcardCase{"x/y.tif", "*.*", false},
        // Non-ASCII bytes compare exactly.
        TWildcardCase{"\xC3\xA4.tif", "\xC3\x84.tif", false},
        TWildcardCase{"\xC3\xA4.tif", "?\xA4.tif", true}));

TEST(FindFilesTest, ListsRegularFilesByPatternWithoutRegardToCase) {
    TTempDir dir;
    WriteFile(dir.File("A.TIF"), "1");
    WriteFile(dir.File("b.tif"), "2");
    WriteFile(dir.File("c.bmp"), "3");
    WriteFile(dir.File("notes.txt"), "4");
    fs::create_directory(dir.File("x.tif"));
    auto names = FindFiles(dir.Path().string(), {"*.tif", "*.bmp"});
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"A.TIF", "b.tif", "c.bmp"}));
}

TEST(FindFilesTest, NamesDifferingInCaseAreTwoFiles) {
    TTempDir dir;
    WriteFile(dir.File("a.tif"), "1");
    WriteFile(dir.File("A.tif"), "2");
    auto names = FindFiles(dir.Path().string(), {"*.tif"});
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"A.tif", "a.tif"}));
}

TEST(FindFilesTest, FollowsLinksToFilesAndIgnoresDanglingOnes) {
    TTempDir dir;
    WriteFile(dir.File("real.png"), "1");
    fs::create_symlink(dir.File("real.png"), dir.File("link.png"));
    fs::create_symlink(dir.File("gone.png"), dir.File("dangling.png"));
    fs::create_directory_symlink(dir.Path(), dir.File("loop.png"));
    auto names = FindFiles(dir.Path().string(), {"*.png"});
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"link.png", "real.png"}));
}

TEST(FindFilesTest, MissingFolderGivesAnEmptyList) {
    TTempDir dir;
    EXPECT_TRUE(FindFiles(dir.File("missing"), {"*.*"}).empty());
    EXPECT_TRUE(FindFiles("", {"*.*"}).empty());
    // Why a folder lists nothing, for those who report it.
    WriteFile(dir.File("plain"), "x");
    EXPECT_EQ(DirectoryListError(dir.Path().string()), 0);
    EXPECT_EQ(DirectoryListError(dir.File("missing")), ENOENT);
    EXPECT_EQ(DirectoryListError(dir.File("plain")), ENOTDIR);
    const test::TPermissionsHold permissions;
    if (!permissions.Active()) GTEST_SKIP() << "cannot make an unreadable folder hold for root";
    fs::create_directory(dir.Path() / "closed");
    fs::permissions(dir.Path() / "closed", fs::perms::none);
    EXPECT_EQ(DirectoryListError(dir.File("closed")), EACCES);
    fs::permissions(dir.Path() / "closed", fs::perms::owner_all);
}

struct TPathCase {
    const char* path;
    const char* dir;
    const char* name;
    const char* ext;
};

class PathPartsTest : public ::testing::TestWithParam<TPathCase> {};

TEST_P(PathPartsTest, SplitsFolderNameAndExtension) {
    const auto& t = GetParam();
    EXPECT_EQ(ExtractFileDir(t.path), t.dir);
    EXPECT_EQ(ExtractFileName(t.path), t.name);
    EXPECT_EQ(ExtractFileExt(t.path), t.ext);
}

INSTANTIATE_TEST_SUITE_P(Table, PathPartsTest,
                         ::testing::Values(TPathCase{"/data/scan/img01.tif", "/data/scan",
                                                     "img01.tif", ".tif"},
                                           TPathCase{"/img.TIF", "/", "img.TIF", ".TIF"},
                                           TPathCase{"img.tar.gz", "", "img.tar.gz", ".gz"},
                                           TPathCase{"/data.d/README", "/data.d", "README", ""},
                                           TPathCase{"/data/", "/data", "", ""}));

TEST(PathTest, JoinPathPutsExactlyOneSlashBetween) {
    EXPECT_EQ(JoinPath("/data", "a.tif"), "/data/a.tif");
    EXPECT_EQ(JoinPath("/data/", "a.tif"), "/data/a.tif");
    EXPECT_EQ(JoinPath("/data//", "/a.tif"), "/data/a.tif");
    EXPECT_EQ(JoinPath("/", "a.tif"), "/a.tif");
    EXPECT_EQ(JoinPath("", "a.tif"), "a.tif");
}

TEST(PathTest, AbsolutePathNormalisesLexically) {
    EXPECT_EQ(AbsolutePath("/"), "/");
    EXPECT_EQ(AbsolutePath("//"), "/");
    EXPECT_EQ(AbsolutePath("/a/./b//c/"), "/a/b/c");
    EXPECT_EQ(AbsolutePath("/a/b/../../.."), "/");
    EXPECT_EQ(AbsolutePath("/../x"), "/x");
    const std::string cwd = fs::current_path().string();
    EXPECT_EQ(AbsolutePath("img.tif"), JoinPath(cwd, "img.tif"));
    EXPECT_EQ(AbsolutePath("./sub/../img.tif"), JoinPath(cwd, "img.tif"));
    EXPECT_EQ(AbsolutePath(""), cwd);
    // No fixed buffer limits a path's length.
    const std::string deep = "/" + std::string(5000, 'd') + "/x.tif";
    EXPECT_EQ(AbsolutePath(deep), deep);
}

TEST(PathTest, UpperCaseTouchesAsciiLettersOnly) {
    EXPECT_EQ(UpperCaseAscii(".tif"), ".TIF");
    EXPECT_EQ(UpperCaseAscii("a\xE4z"), "A\xE4Z");
}

}  // namespace
}  // namespace pix
