// SPDX-License-Identifier: MIT
#include "foldertree/shell_tree.h"

#include "gui_support.h"
#include "test_support.h"
#include "thread_support.h"

#include "platform/file_system.h"

#include <QApplication>
#include <QMenu>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>

namespace pix {
namespace {

namespace fs = std::filesystem;
using TNames = std::vector<std::string>;

bool WaitFor(const std::function<bool()>& done) {
    return test::WaitUntil(done, std::chrono::seconds(10));
}

TNames Names(const QTreeWidgetItem* node) {
    TNames names;
    for (int i = 0; node != nullptr && i < node->childCount(); ++i)
        names.push_back(node->child(i)->text(0).toStdString());
    return names;
}

// A tree rooted at a folder of its own: a/b/c, a/.hidden/x, a/file.txt, B, c, .dot.
class ShellTreeTest : public ::testing::Test {
protected:
    void SetUp() override {
        FRoot = fs::canonical(FDir.Path()).string();
        for (const char* dir : {"a/b/c", "a/.hidden/x", "B", "c", ".dot"})
            fs::create_directories(At(dir));
        test::WriteFile(At("a/file.txt"), "x");
        FTree = std::make_unique<TShellTree>();
        FTree->SetRootDir(FRoot);
        FTree->SetRootUsePIDL(false);
        FTree->OnChange = [this] {
            ++FChanges;
            FSeen = FTree->Path();
        };
    }
    std::string At(const std::string& rel) const { return rel.empty() ? FRoot : FRoot + "/" + rel; }
    // The node of a folder below the root by its names, reading the way down.
    TShellnode* Node(const std::string& rel) {
        TShellnode* node = FTree->RootNode();
        for (const auto& part : fs::path(rel)) {
            node->setExpanded(true);
            TShellnode* next = nullptr;
            for (int i = 0; i < node->childCount(); ++i)
                if (node->child(i)->text(0).toStdString() == part.string()) next = node->Child(i);
            if (next == nullptr) return nullptr;
            node = next;
        }
        return node;
    }

    struct TApp {
        TApp() { test::EnsureGuiApplication(); }
    } FApp;
    test::TTempDir FDir;
    std::string FRoot;
    std::unique_ptr<TShellTree> FTree;
    int FChanges = 0;
    std::string FSeen;
};

struct TPathCase {
    const char* Given;  // relative to the test's folder
    const char* Selected;
};

class ShellTreePathTest : public ShellTreeTest, public ::testing::WithParamInterface<TPathCase> {};

TEST_P(ShellTreePathTest, SetPathSelectsTheNormalisedFolder) {
    FTree->SetPath(At(GetParam().Given));
    EXPECT_EQ(FTree->Path(), At(GetParam().Selected));
    EXPECT_EQ(FChanges, 1);
    EXPECT_EQ(FSeen, FTree->Path());  // the handler sees the new path already
}

INSTANTIATE_TEST_SUITE_P(Paths, ShellTreePathTest,
                         ::testing::Values(TPathCase{"a/b", "a/b"}, TPathCase{"a/b/", "a/b"},
                                           TPathCase{"a//./b/../b/c", "a/b/c"},
                                           TPathCase{"a/file.txt", "a"},
                                           TPathCase{"a/missing/deeper", "a"},
                                           TPathCase{"a/.hidden/x", "a"},
                                           TPathCase{"a/b/c/../../../B", "B"}));

TEST_F(ShellTreeTest, SameFolderAgainRaisesNothing) {
    FTree->SetPath(At("a/b"));
    FTree->SetPath(At("a/b/"));
    FTree->SetPath(At("a/b/gone"));
    EXPECT_EQ(FChanges, 1);
    FTree->SetPath(At("a"));
    EXPECT_EQ(FChanges, 2);
    // Moving the selection with the keyboard is a change too.
    FTree->setFocus();
    QTest::keyClick(FTree.get(), Qt::Key_Down);
    EXPECT_EQ(FChanges, 3);
    EXPECT_EQ(FTree->Path(), At("a/b"));
}

TEST_F(ShellTreeTest, RelativePathsAndPathsOutsideTheRoot) {
    EXPECT_EQ(FTree->Path(), FRoot);  // the root is selected once built
    const fs::path old = fs::current_path();
    fs::current_path(At("a"));
    FTree->SetPath("b/c");
    fs::current_path(old);
    EXPECT_EQ(FTree->Path(), At("a/b/c"));
    FTree->SetPath("/");  // outside the root: the root
    EXPECT_EQ(FTree->Path(), FRoot);
    FTree->SetPath("");
    EXPECT_EQ(FTree->Path(), FRoot);
    EXPECT_EQ(FChanges, 2);
    EXPECT_EQ(TShellTree::NormalizePath(At("a/b/no/such/")), At("a/b"));
    EXPECT_EQ(TShellTree::NormalizePath("/"), "/");
}

TEST_F(ShellTreeTest, HiddenFoldersOnlyWithTheirOption) {
    EXPECT_EQ(Names(FTree->RootNode()), (TNames{"a", "B", "c"}));
    EXPECT_EQ(Node("c")->childIndicatorPolicy(), QTreeWidgetItem::DontShowIndicatorWhenChildless);
    EXPECT_EQ(Node("a")->childIndicatorPolicy(), QTreeWidgetItem::ShowIndicator);
    fs::create_directories(At("B/.only"));
    FTree->SetOptions(TF_FOLDERS | TF_HIDDEN);
    EXPECT_EQ(Names(FTree->RootNode()), (TNames{".dot", "a", "B", "c"}));
    Node("a")->setExpanded(true);
    EXPECT_EQ(Names(Node("a")), (TNames{".hidden", "b"}));
    // A folder whose only subfolder is hidden can be expanded.
    EXPECT_EQ(Node("B")->childCount(), 1);
}

TEST_F(ShellTreeTest, RefreshFollowsTheDiskAndKeepsTheSelection) {
    FTree->SetUpdAutoThread(false);
    FTree->SetPath(At("a/b"));
    fs::create_directories(At("Aa"));
    fs::remove_all(At("c"));
    fs::create_directories(At("a/b/new"));
    // Without the monitors' reports nothing changes until the refresh.
    test::WaitUntil([] { return false; }, std::chrono::milliseconds(300));
    EXPECT_EQ(Names(FTree->RootNode()), (TNames{"a", "B", "c"}));
    FTree->RefreshTree();
    EXPECT_EQ(Names(FTree->RootNode()), (TNames{"a", "Aa", "B"}));
    EXPECT_EQ(FTree->Path(), At("a/b"));
    EXPECT_EQ(FChanges, 1);
    EXPECT_EQ(Names(FTree->Selected()), (TNames{"c", "new"}));

    // The selected folder goes: its parent takes its place, raising one change.
    fs::remove_all(At("a/b"));
    FTree->RefreshTree();
    EXPECT_EQ(FTree->Path(), At("a"));
    EXPECT_EQ(FChanges, 2);
    EXPECT_EQ(FSeen, At("a"));
}

TEST_F(ShellTreeTest, AnEditRenamesTheFolder) {
    FTree->SetUpdAutoThread(false);
    TShellnode* c = Node("c");
    c->setData(0, Qt::EditRole, QString("0first"));
    EXPECT_TRUE(fs::is_directory(At("0first")));
    EXPECT_EQ(Names(FTree->RootNode()), (TNames{"0first", "a", "B"}));  // sorted again
    EXPECT_EQ(SHGetPathFromIDList(c->AbsolutePIDL), At("0first"));
    c->setData(0, Qt::EditRole, QString("a"));  // taken: nothing changes
    EXPECT_EQ(c->text(0), "0first");
    FTree->SetReadOnly(true);
    c->setData(0, Qt::EditRole, QString("zz"));
    EXPECT_EQ(Names(FTree->RootNode()), (TNames{"0first", "a", "B"}));
    EXPECT_TRUE(fs::is_directory(At("0first")));
}

struct TFileCase {
    const char* Mask;
    bool MaskUse;
    TFileSortType SortType;
    TFileSortOrder SortOrder;
    TNames Listed;
};

class ShellTreeFileTest : public ShellTreeTest, public ::testing::WithParamInterface<TFileCase> {};

TEST_P(ShellTreeFileTest, FilesByMaskAndOrderAfterTheFolders) {
    const TFileCase& c = GetParam();
    test::WriteFile(At("b.tif"), std::string(30, 'x'));
    test::WriteFile(At("A.png"), std::string(10, 'x'));
    test::WriteFile(At("c.TIF"), std::string(20, 'x'));
    test::WriteFile(At("README"), std::string(5, 'x'));
    test::WriteFile(At("skip.png"), "x");
    FTree->OnFileAdd = [](TShellTree&, const std::string& name, std::uint32_t, bool& allow) {
        allow = ExtractFileName(name) != "skip.png";
    };
    FTree->SetOptions(TF_FOLDERS | TF_NONFOLDERS);
    FTree->SetFileMask(c.Mask);
    FTree->SetFileMaskUse(c.MaskUse);
    FTree->SetFileSortType(c.SortType);
    FTree->SetFileSortOrder(c.SortOrder);
    TNames expected{"a", "B", "c"};
    expected.insert(expected.end(), c.Listed.begin(), c.Listed.end());
    EXPECT_EQ(Names(FTree->RootNode()), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Files, ShellTreeFileTest,
    ::testing::Values(
        TFileCase{"*.tif", false, so_Name, so_Ascending, {"A.png", "b.tif", "c.TIF", "README"}},
        TFileCase{"*.tif", true, so_Name, so_Descending, {"c.TIF", "b.tif"}},
        TFileCase{"*.*", true, so_Size, so_Ascending, {"A.png", "c.TIF", "b.tif"}},
        TFileCase{"", true, so_Size, so_Descending, {"b.tif", "c.TIF", "A.png"}},
        TFileCase{" ?.PNG ;; readme", true, so_Name, so_Ascending, {"A.png", "README"}}));

// The wheel pages (small deltas add up to a notch); a context menu selects its node while it
// is open and puts the old selection back without OnChange, unless OnPopupMenu refuses it.
TEST_F(ShellTreeTest, WheelPagesAndTheContextMenuKeepsTheSelection) {
    for (int i = 0; i < 60; ++i) fs::create_directory(At("many" + std::to_string(100 + i)));
    FTree->resize(200, 120);
    FTree->show();
    FTree->SetPath(At("B"));
    const int changes = FChanges;
    QScrollBar* bar = FTree->verticalScrollBar();
    bar->setValue(0);
    const auto wheel = [&](int delta) {
        QWheelEvent event(QPointF(50, 50), FTree->viewport()->mapToGlobal(QPointF(50, 50)),
                          QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(FTree->viewport(), &event);
    };
    wheel(-60);
    EXPECT_EQ(bar->value(), 0);
    wheel(-60);
    EXPECT_EQ(bar->value(), bar->pageStep());
    wheel(120);
    EXPECT_EQ(bar->value(), 0);

    TShellnode* target = Node("c");
    ASSERT_NE(target, nullptr);
    QMenu menu;
    menu.addAction("x");
    FTree->SetPopupMenuMode(pmm_PopupMenu);
    FTree->SetPopupMenu(&menu);
    std::string during;
    int shown = 0;
    QObject::connect(&menu, &QMenu::aboutToShow, [&] {
        ++shown;
        during = FTree->Path();
        QTimer::singleShot(0, &menu, &QMenu::close);
    });
    bool allow = true;
    FTree->OnPopupMenu = [&](TShellTree&, TShellnode* node, bool& ok) {
        EXPECT_EQ(node, target);
        ok = allow;
    };
    const QPoint at = FTree->visualItemRect(target).center();
    QContextMenuEvent click(QContextMenuEvent::Mouse, at, FTree->viewport()->mapToGlobal(at));
    QApplication::sendEvent(FTree->viewport(), &click);
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(during, At("c"));
    EXPECT_EQ(FTree->Path(), At("B"));
    allow = false;
    QApplication::sendEvent(FTree->viewport(), &click);
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(FChanges, changes);
}

TEST_F(ShellTreeTest, FileMaskListIsTrimmedAndJoined) {
    FTree->SetFileMask(" *.tif ; ;*.png");
    EXPECT_EQ(FTree->FileMask(), "*.tif;*.png");
    FTree->SetFileMask("");
    EXPECT_EQ(FTree->FileMask(), "*.*");
    EXPECT_FALSE(TShellTree::MatchesFileMask("README", "*.*"));
    EXPECT_TRUE(TShellTree::MatchesFileMask("README", "*"));
    EXPECT_TRUE(TShellTree::MatchesFileMask("Readme", "README"));
}

// The monitor tests also run under ThreadSanitizer (tools/sanitizer-stage.sh).
class ShellTreeMonitorTest : public ShellTreeTest {};

// A monitor starts watching on its own thread a moment after its node was listed, so
// folders are made one after another until one of them is seen.
bool MakeFoldersUntil(const std::string& prefix, const std::function<bool()>& seen) {
    for (int i = 0; i < 50; ++i) {
        fs::create_directories(prefix + std::to_string(i));
        if (test::WaitUntil(seen, std::chrono::milliseconds(200))) return true;
    }
    return false;
}

TEST_F(ShellTreeMonitorTest, ChangesOnDiskShowWithoutARefresh) {
    FTree->SetPath(At("a/b/c"));
    // A new subfolder of a shown folder, and of a listed folder without children.
    TShellnode* b = Node("a/b");
    EXPECT_TRUE(MakeFoldersUntil(At("a/b/new"), [&] { return b->childCount() > 1; }));
    TShellnode* c = FTree->RootNode()->Child(2);
    EXPECT_TRUE(MakeFoldersUntil(At("c/sub"), [&] { return c->childCount() > 0; }));
    EXPECT_EQ(c->child(0)->text(0), "sub0");
    // The selected folder goes: its parent is selected, with one change.
    const int changes = FChanges;
    fs::remove_all(At("a/b/c"));
    EXPECT_TRUE(WaitFor([&] { return FTree->Path() == At("a/b"); }));
    EXPECT_EQ(FChanges, changes + 1);
    EXPECT_EQ(FSeen, At("a/b"));
    EXPECT_EQ(Names(b).front(), "new0");
}

TEST_F(ShellTreeMonitorTest, ChangingOptionsGivesRunningMonitorsTheNewFilter) {
    TShellnode* root = FTree->RootNode();
    TShellnode* leaf = Node("c");
    ASSERT_TRUE(root->Monitor && leaf->Monitor);
    const auto filters = [&] {
        return std::pair(root->Monitor->Filter(), leaf->Monitor->Filter());
    };
    EXPECT_EQ(filters(), std::pair(6u, 6u));
    FTree->SetOptions(TF_FOLDERS | TF_NONFOLDERS);
    ASSERT_EQ(FTree->RootNode(), root);
    EXPECT_EQ(filters(), std::pair(7u, 7u));
    FTree->SetOptions(TF_NONFOLDERS);  // the folders' nodes go, the root stays
    EXPECT_EQ(root->Monitor->Filter(), 5u);
}

TEST_F(ShellTreeMonitorTest, DestroyingNodesWhileTheirMonitorsReport) {
    for (int i = 0; i < 6; ++i) fs::create_directories(At("d" + std::to_string(i) + "/sub"));
    std::atomic<bool> stop{false};
    std::thread churn([&] {
        for (int n = 0; !stop; ++n) {
            const std::string dir = At("d" + std::to_string(n % 6) + "/x");
            std::error_code ec;
            fs::create_directory(dir, ec);
            fs::remove(dir, ec);
        }
    });
    for (int round = 0; round < 8; ++round) {
        for (int i = 0; i < FTree->RootNode()->childCount(); ++i)
            FTree->RootNode()->child(i)->setExpanded(true);
        for (int k = 0; k < 4; ++k) {
            for (int e = 0; e < 20; ++e) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            FTree->RefreshTree();
        }
        // The whole node list goes with reports on their way, then the tree itself.
        if (round % 2 == 0) FTree->SetRootDir(At(round % 4 == 0 ? "a" : ""));
        if (round == 5) FTree.reset();
        if (!FTree) {
            FTree = std::make_unique<TShellTree>();
            FTree->SetRootDir(FRoot);
            FTree->SetRootUsePIDL(false);
        }
    }
    stop = true;
    churn.join();
    EXPECT_EQ(FTree->Path(), FRoot);
}

TEST(ShellTreeVolumes, AMountComesAndGoesUnderComputer) {
    test::EnsureGuiApplication();
    test::TTempDir dir;
    const std::string home = fs::canonical(dir.Path()).string();
    fs::create_directories(home + "/usb/inside");
    const std::string oldHome = std::getenv("HOME") != nullptr ? std::getenv("HOME") : "";
    setenv("HOME", home.c_str(), 1);
    std::string table;
    SetMountTableSource([&table] { return table; });
    {
        TShellTree tree;  // the Desktop
        TShellnode* computer = nullptr;
        for (int i = 0; i < tree.RootNode()->childCount(); ++i)
            if (tree.RootNode()->Child(i)->AbsolutePIDL == SHGetSpecialFolderLocation(CSIDL_DRIVES))
                computer = tree.RootNode()->Child(i);
        ASSERT_NE(computer, nullptr);
        computer->setExpanded(true);
        const int before = computer->childCount();
        const auto volume = [&]() -> TShellnode* {
            for (int i = 0; i < computer->childCount(); ++i)
                if (SHGetPathFromIDList(computer->Child(i)->AbsolutePIDL) == home + "/usb")
                    return computer->Child(i);
            return nullptr;
        };
        table = "40 25 8:17 / " + home + "/usb rw,relatime shared:1 - ext4 /dev/sdz1 rw\n";
        TMountMonitor::NotifyMountsChanged();
        EXPECT_TRUE(WaitFor([&] { return volume() != nullptr; }));
        EXPECT_EQ(computer->childCount(), before + 1);
        tree.SetPath(home + "/usb/inside");
        EXPECT_EQ(tree.Path(), home + "/usb/inside");
        table.clear();
        TMountMonitor::NotifyMountsChanged();
        EXPECT_TRUE(WaitFor([&] { return volume() == nullptr; }));
        EXPECT_EQ(computer->childCount(), before);
        EXPECT_NE(tree.Path(), home + "/usb/inside");  // the selection left the volume
    }
    SetMountTableSource({});
    setenv("HOME", oldHome.c_str(), 1);
}

}  // namespace
}  // namespace pix
