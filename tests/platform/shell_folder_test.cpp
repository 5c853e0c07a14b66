// SPDX-License-Identifier: MIT
#include "platform/shell_folder.h"

#include "thread_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace pix {
namespace {

// A home folder of its own under a temporary folder:
//   Desktop/proj/  Desktop/note.txt
//   pics/img2/a/  pics/img10/.x/  pics/img10/f  pics/.hidden/  pics/.hfile  pics/file.txt
//   pics/link -> img2
//   cmp/: folders b_dir, files img2 img10 IMG3 a.txt A.txt x01 x1 s1 s2 big.txt b.png a.tif
//         and two names that are not UTF-8
class ShellFolderTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        test::EnsureApplication();
        char pattern[] = "/tmp/shell_folder_XXXXXX";
        Root = mkdtemp(pattern);
        Home = Root + "/home";
        if (const char* old = std::getenv("HOME")) OldHome = old;
        setenv("HOME", Home.c_str(), 1);
        unsetenv("XDG_CONFIG_HOME");
        for (const char* dir : {"", "/Desktop", "/Desktop/proj", "/pics", "/pics/img2",
                                "/pics/img2/a", "/pics/img10", "/pics/img10/.x", "/pics/.hidden",
                                "/cmp", "/cmp/b_dir", "/vol one", "/vol one/sub", "/net"})
            mkdir((Home + dir).c_str(), 0755);
        for (const char* file :
             {"/Desktop/note.txt", "/pics/img10/f", "/pics/.hfile", "/pics/file.txt", "/cmp/img2",
              "/cmp/img10", "/cmp/IMG3", "/cmp/a.txt", "/cmp/A.txt", "/cmp/x01", "/cmp/x1",
              "/cmp/s1", "/cmp/s2", "/cmp/b.png", "/cmp/a.tif", "/cmp/\xfe", "/cmp/\xff"})
            std::ofstream(Home + file) << "x";
        std::ofstream(Home + "/cmp/big.txt") << "0123456789";
        symlink("img2", (Home + "/pics/link").c_str());
        // s1 is the newer file, s2 the older one.
        const timespec s1[2] = {{2000, 0}, {2000, 0}};
        const timespec s2[2] = {{1000, 0}, {1000, 0}};
        utimensat(AT_FDCWD, (Home + "/cmp/s1").c_str(), s1, 0);
        utimensat(AT_FDCWD, (Home + "/cmp/s2").c_str(), s2, 0);
    }
    static void TearDownTestSuite() {
        std::system(("rm -rf '" + Root + "'").c_str());
        if (OldHome.empty())
            unsetenv("HOME");
        else
            setenv("HOME", OldHome.c_str(), 1);
    }

    static std::shared_ptr<TShellFolder> Bind(const std::string& path) {
        const auto id = ParseDisplayName(path);
        return id ? SHGetDesktopFolder()->BindToObject(*id) : nullptr;
    }
    static std::vector<std::string> Names(TShellFolder& folder, std::uint32_t flags) {
        std::vector<std::string> names;
        auto list = folder.EnumObjects(flags);
        TItemId item;
        while (list && list->Next(item)) names.push_back(*folder.GetDisplayNameOf(item, 0));
        return names;
    }
    static TItemId Item(TShellFolder& folder, const std::string& name) {
        auto list =
            folder.EnumObjects(SHCONTF_FOLDERS | SHCONTF_NONFOLDERS | SHCONTF_INCLUDEHIDDEN);
        TItemId item;
        while (list && list->Next(item))
            if (folder.GetDisplayNameOf(item, 0) == name) return item;
        ADD_FAILURE() << name << " is not listed";
        return {};
    }

    static inline std::string Root, Home, OldHome;
};

TEST_F(ShellFolderTest, PathsParseToTheirClosestHolderAndBack) {
    const struct {
        std::string In, Path, Holder;
        int Count;
    } rows[] = {
        {Home, Home, "Home", 1},
        {Home + "/pics/./img2/../img10/", Home + "/pics/img10", "Home", 3},
        {Home + "/Desktop/proj", Home + "/Desktop/proj", "proj", 1},
        {"/usr/bin", "/usr/bin", "Computer", 4},
        {"/", "/", "Computer", 2},
    };
    auto desktop = SHGetDesktopFolder();
    for (const auto& row : rows) {
        SCOPED_TRACE(row.In);
        const auto id = ParseDisplayName(row.In);
        ASSERT_TRUE(id);
        EXPECT_EQ(id->Count(), row.Count);
        EXPECT_EQ(SHGetPathFromIDList(*id), row.Path);
        EXPECT_EQ(desktop->GetDisplayNameOf((*id)[0], SHGDN_NORMAL), row.Holder);
        // The parent folder names the item by the same path.
        auto parent = desktop->BindToObject(id->Head(id->Count() - 1));
        ASSERT_TRUE(parent);
        EXPECT_EQ(parent->GetDisplayNameOf(id->Last(), SHGDN_FORPARSING), row.Path);
    }
    for (const std::string& bad : {Home + "/missing/pics", std::string("pics"), std::string()})
        EXPECT_FALSE(ParseDisplayName(bad)) << bad;
    EXPECT_EQ(desktop->GetDisplayNameOf("", SHGDN_NORMAL), "Desktop");
    EXPECT_EQ(SHGetSpecialFolderLocation(CSIDL_DESKTOPDIRECTORY),
              ParseDisplayName(Home + "/Desktop"));
    EXPECT_FALSE(SHGetSpecialFolderLocation(CSIDL_PERSONAL));  // no Documents folder
    EXPECT_EQ(SHGetPathFromIDList(*SHGetSpecialFolderLocation(CSIDL_DRIVES)), "");
}

TEST_F(ShellFolderTest, EnumerationFollowsTheFlags) {
    using V = std::vector<std::string>;
    auto desktop = SHGetDesktopFolder();
    EXPECT_EQ(Names(*desktop, SHCONTF_FOLDERS), (V{"Home", "Computer", "proj"}));
    EXPECT_EQ(Names(*desktop, SHCONTF_NONFOLDERS), (V{"note.txt"}));
    auto pics = Bind(Home + "/pics");
    ASSERT_TRUE(pics);
    const struct {
        std::uint32_t Flags;
        V Names;
    } rows[] = {
        {SHCONTF_FOLDERS, {"img10", "img2", "link"}},
        {SHCONTF_NONFOLDERS, {"file.txt"}},
        {SHCONTF_FOLDERS | SHCONTF_INCLUDEHIDDEN, {".hidden", "img10", "img2", "link"}},
        {SHCONTF_NONFOLDERS | SHCONTF_INCLUDEHIDDEN, {".hfile", "file.txt"}},
    };
    for (const auto& row : rows) {
        V names = Names(*pics, row.Flags);
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, row.Names) << row.Flags;
    }
    EXPECT_FALSE(
        SHGetDesktopFolder()->BindToObject(ParseDisplayName(Home + "/pics/file.txt").value()));
}

TEST_F(ShellFolderTest, AttributesDescribeTheItem) {
    auto pics = Bind(Home + "/pics");
    ASSERT_TRUE(pics);
    constexpr std::uint32_t kAsked = SFGAO_FOLDER | SFGAO_FILESYSTEM | SFGAO_FILESYSANCESTOR |
                                     SFGAO_HASSUBFOLDER | SFGAO_LINK | SFGAO_HIDDEN |
                                     SFGAO_CANRENAME;
    constexpr std::uint32_t kFolder =
        SFGAO_FOLDER | SFGAO_FILESYSTEM | SFGAO_FILESYSANCESTOR | SFGAO_CANRENAME;
    const struct {
        const char* Name;
        std::uint32_t Expected;
    } rows[] = {
        {"file.txt", SFGAO_FILESYSTEM | SFGAO_CANRENAME},
        {"img2", kFolder | SFGAO_HASSUBFOLDER},
        {"img10", kFolder},  // only a hidden subfolder
        {"link", kFolder | SFGAO_HASSUBFOLDER | SFGAO_LINK},
        {".hidden", kFolder | SFGAO_HIDDEN},
    };
    for (const auto& row : rows) {
        std::uint32_t attributes = kAsked;
        EXPECT_TRUE(pics->GetAttributesOf(Item(*pics, row.Name), attributes)) << row.Name;
        EXPECT_EQ(attributes, row.Expected) << row.Name;
    }
    std::uint32_t onlyLink = SFGAO_LINK;
    EXPECT_TRUE(pics->GetAttributesOf(Item(*pics, "link"), onlyLink));
    EXPECT_EQ(onlyLink, SFGAO_LINK);
    std::ofstream(Home + "/pics/gone") << "x";
    const TItemId gone = Item(*pics, "gone");
    unlink((Home + "/pics/gone").c_str());
    std::uint32_t attributes = kAsked;
    EXPECT_FALSE(pics->GetAttributesOf(gone, attributes));
    EXPECT_EQ(pics->IconOf(Item(*pics, "link"), true), ikFolderOpen);
}

TEST_F(ShellFolderTest, CompareIdsSortsNaturallyAndTotally) {
    auto cmp = Bind(Home + "/cmp");
    ASSERT_TRUE(cmp);
    const struct {
        int Column;
        const char *A, *B;
        int Expected;
    } rows[] = {
        {0, "img2", "img10", -1},  {0, "IMG3", "img10", -1}, {0, "b_dir", "a.txt", -1},
        {0, "A.txt", "a.txt", -1}, {0, "x01", "x1", -1},     {0, "img2", "img2", 0},
        {1, "big.txt", "s1", 1},   {1, "s1", "s2", -1},      {1, "b_dir", "s1", -1},
        {2, "b.png", "a.tif", -1}, {2, "a.txt", "s1", 1},    {3, "s1", "s2", 1},
        {0, "img2", "\xff", -1},   {0, "\xfe", "\xff", -1},  // not UTF-8
    };
    for (const auto& row : rows) {
        const TItemIdList a({Item(*cmp, row.A)});
        const TItemIdList b({Item(*cmp, row.B)});
        EXPECT_EQ(cmp->CompareIDs(row.Column, a, b), row.Expected) << row.A << " " << row.B;
        EXPECT_EQ(cmp->CompareIDs(row.Column, b, a), -row.Expected) << row.B << " " << row.A;
    }
    auto desktop = SHGetDesktopFolder();
    const auto pics = *ParseDisplayName(Home + "/pics/img2");
    const auto cmpId = *ParseDisplayName(Home + "/cmp");
    EXPECT_EQ(desktop->CompareIDs(0, cmpId, pics), -1);
    EXPECT_EQ(desktop->CompareIDs(0, pics, pics.Head(2)), 1);
    EXPECT_EQ(desktop->CompareIDs(0, *ParseDisplayName("/usr"), pics), 1);  // Computer after Home
}

TEST_F(ShellFolderTest, RenameNeverReplacesAnEntry) {
    auto cmp = Bind(Home + "/cmp");
    ASSERT_TRUE(cmp);
    TItemId renamed;
    errno = 0;
    EXPECT_FALSE(cmp->SetNameOf(Item(*cmp, "s1"), "s2", renamed));
    EXPECT_EQ(errno, EEXIST);
    for (const std::string& bad : {std::string(), std::string("a/b"), std::string("."),
                                   std::string(".."), std::string("a\0b", 3)})
        EXPECT_FALSE(cmp->SetNameOf(Item(*cmp, "s1"), bad, renamed)) << bad;
    ASSERT_TRUE(cmp->SetNameOf(Item(*cmp, "x01"), "x 02", renamed));
    EXPECT_EQ(cmp->GetDisplayNameOf(renamed, SHGDN_FORPARSING), Home + "/cmp/x 02");
    ASSERT_TRUE(cmp->SetNameOf(renamed, "x01", renamed));
    EXPECT_TRUE(ParseDisplayName(Home + "/cmp/s1") && ParseDisplayName(Home + "/cmp/s2"));
}

TEST(MountTableTest, ParseMountInfoReadsWellFormedLinesOnly) {
    const std::string text =
        "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
        "40 22 8:17 / /media/me/My\\040Disk rw shared:5 master:1 - vfat /dev/sdb1 rw\n"
        "41 22 0:50 / /mnt/back\\134slash rw - nfs4 srv:/x\\040y rw\n"
        "42 22 0:51 / /no/separator rw ext4 /dev/sdc1 rw\n"
        "43 22 0:52 / /truncated rw -\n"
        "44 22 0:53 / /truncated2 rw - ext4\n"
        "x 22 0:54 / /badid rw - ext4 /dev/sdd1 rw\n"
        "45 22 0:55 / relative rw - ext4 /dev/sdd1 rw\n"
        "46 22 0:56 / /nul\\000 rw - ext4 /dev/sdd1 rw\n"
        "47 22 0:57 / /big\\777 rw - ext4 /dev/sdd1 rw\n"
        "48 22 0:58 / /end\\04 rw - ext4 /dev/sdd1\n"
        "\n   \n";
    const std::vector<TMountEntry> expected = {
        {"/", "/dev/sda1", "ext4"},
        {"/media/me/My Disk", "/dev/sdb1", "vfat"},
        {"/mnt/back\\slash", "srv:/x y", "nfs4"},
        {"/end\\04", "/dev/sdd1", "ext4"},
    };
    EXPECT_EQ(ParseMountInfo(text), expected);
}

TEST(MountTableTest, BrowsableVolumes) {
    const std::string home = "/home/me";
    const struct {
        const char *Point, *Source, *Type;
        bool Browsable;
    } rows[] = {
        {"/media/me/USB", "/dev/sdb1", "vfat", true},
        {"/run/media/me/CD", "/dev/sr0", "iso9660", true},
        {"/mnt", "/dev/sdc1", "ext4", true},
        {"/home/me/remote", "me@host:", "fuse.sshfs", true},
        {"/data", "/dev/sdd1", "xfs", true},
        {"/net/share", "srv:/export", "nfs4", true},
        {"/", "/dev/sda1", "ext4", false},
        {"/home/me", "/dev/sda3", "ext4", false},
        {"/home", "/dev/sda2", "ext4", false},
        {"/boot/efi", "/dev/sda1", "vfat", false},
        {"/run/user/1000", "tmpfs", "tmpfs", false},
        {"/media/cgroup", "cgroup2", "cgroup2", false},
        {"/snap/core/1", "/dev/loop0", "squashfs", false},
        {"/var/lib/nfs", "srv:/x", "nfs", false},
        {"/sys/fs/bpf", "bpf", "bpf", false},
        {"/srv/tftp", "none", "ext4", false},
        {"/media/../etc", "/dev/sdb1", "vfat", false},
    };
    for (const auto& row : rows)
        EXPECT_EQ(IsBrowsableVolume({row.Point, row.Source, row.Type}, home), row.Browsable)
            << row.Point;
}

TEST_F(ShellFolderTest, ComputerListsTheVolumesOfTheMountTable) {
    const std::string table =
        "1 0 8:1 / / rw - ext4 /dev/sda1 rw\n"
        "2 1 0:5 / /proc rw - proc proc rw\n"
        "3 1 8:17 / " +
        Home +
        "/vol\\040one rw shared:1 - ext4 /dev/sdb1 rw\n"
        "4 1 0:50 / " +
        Home +
        "/net rw - nfs4 srv:/x rw\n"
        "5 1 8:18 / " +
        Home + "/net rw - ext4 /dev/sdc1 rw\n";
    SetMountTableSource([table] { return table; });
    auto computer = SHGetDesktopFolder()->BindToObject(*SHGetSpecialFolderLocation(CSIDL_DRIVES));
    ASSERT_TRUE(computer);
    EXPECT_EQ(Names(*computer, SHCONTF_FOLDERS),
              (std::vector<std::string>{"File System", "net", "vol one"}));
    // The later mount hides the network one.
    EXPECT_EQ(computer->IconOf(Item(*computer, "net"), false), ikDriveHarddisk);
    const auto sub = ParseDisplayName(Home + "/vol one/sub");
    ASSERT_TRUE(sub);
    EXPECT_EQ(sub->Count(), 3);
    EXPECT_EQ(SHGetPathFromIDList(*sub), Home + "/vol one/sub");

    int changes = 0;
    {
        TMountMonitor monitor([&] { ++changes; });
        TMountMonitor::NotifyMountsChanged();
        EXPECT_TRUE(test::WaitUntil([&] { return changes == 1; }, std::chrono::seconds(5)));
        // A report still queued when its monitor goes is dropped.
        TMountMonitor::NotifyMountsChanged();
    }
    QCoreApplication::processEvents();
    EXPECT_EQ(changes, 1);
    SetMountTableSource({});
    // The real table's watch starts and stops without a report.
    {
        TMountMonitor watching([&] { ++changes; });
    }
    EXPECT_TRUE(test::AllThreadsEnded());
}

}  // namespace
}  // namespace pix
