// SPDX-License-Identifier: MIT
#include "foldertree/shell_tree.h"

#include "gui_support.h"
#include "test_support.h"

#include <QTest>

#include <gtest/gtest.h>

#include <filesystem>

namespace pix {
namespace {

namespace fs = std::filesystem;

// A folder tree of its own per test: a/b/c, a/.hidden/x, a/file.txt, B, c, .dot.
class ShellTreeTest : public ::testing::Test {
protected:
    void SetUp() override {
        FRoot = fs::canonical(FDir.Path()).string();
        for (const char* dir : {"a/b/c", "a/.hidden/x", "B", "c", ".dot"})
            fs::create_directories(FRoot + "/" + dir);
        test::WriteFile(FRoot + "/a/file.txt", "x");
        FTree.SetRootFolders({FRoot});
        FTree.OnChange = [this] {
            ++FChanges;
            FSeen = FTree.Path();
        };
    }
    std::string At(const std::string& rel) const { return rel.empty() ? FRoot : FRoot + "/" + rel; }
    std::vector<std::string> ChildNames(const QModelIndex& parent) {
        std::vector<std::string> names;
        QAbstractItemModel* m = FTree.model();
        if (m->canFetchMore(parent)) m->fetchMore(parent);
        for (int r = 0; r < m->rowCount(parent); ++r)
            names.push_back(m->index(r, 0, parent).data().toString().toStdString());
        return names;
    }

    // The application object must exist before the tree is made.
    struct TApp {
        TApp() { test::EnsureGuiApplication(); }
    } FApp;
    test::TTempDir FDir;
    std::string FRoot;
    TShellTree FTree;
    int FChanges = 0;
    std::string FSeen;
};

struct TPathCase {
    const char* Given;  // relative to the test's folder
    const char* Selected;
};

class ShellTreePathTest : public ShellTreeTest, public ::testing::WithParamInterface<TPathCase> {};

TEST_P(ShellTreePathTest, SetPathSelectsTheNormalisedFolder) {
    FTree.SetPath(At(GetParam().Given));
    EXPECT_EQ(FTree.Path(), At(GetParam().Selected));
    EXPECT_EQ(FChanges, 1);
    EXPECT_EQ(FSeen, FTree.Path());  // the handler sees the new path already
}

INSTANTIATE_TEST_SUITE_P(Paths, ShellTreePathTest,
                         ::testing::Values(TPathCase{"a/b", "a/b"}, TPathCase{"a/b/", "a/b"},
                                           TPathCase{"a//./b/../b/c", "a/b/c"},
                                           TPathCase{"a/file.txt", "a"},
                                           TPathCase{"a/missing/deeper", "a"},
                                           TPathCase{"a/.hidden/x", "a"}, TPathCase{"", ""},
                                           TPathCase{"B", "B"}));

TEST_F(ShellTreeTest, SameFolderAgainRaisesNothing) {
    FTree.SetPath(At("a/b"));
    FTree.SetPath(At("a/b/"));
    FTree.SetPath(At("a/b/gone"));
    EXPECT_EQ(FChanges, 1);
    FTree.SetPath(At("a"));
    EXPECT_EQ(FChanges, 2);
    // Moving the selection with the keyboard is a change too.
    FTree.setFocus();
    QTest::keyClick(&FTree, Qt::Key_Down);
    EXPECT_EQ(FChanges, 3);
    EXPECT_EQ(FTree.Path(), At("a/b"));
}

TEST_F(ShellTreeTest, RelativePathsAndPathsOutsideTheTree) {
    const fs::path old = fs::current_path();
    fs::current_path(At("a"));
    FTree.SetPath("b/c");
    fs::current_path(old);
    EXPECT_EQ(FTree.Path(), At("a/b/c"));
    FTree.SetPath("/");  // not below any top-level folder of this tree
    EXPECT_EQ(FTree.Path(), "");
    FTree.SetPath("");  // the first top-level folder
    EXPECT_EQ(FTree.Path(), FRoot);
    EXPECT_EQ(FChanges, 3);
}

TEST_F(ShellTreeTest, ListsOnlyVisibleFoldersInNameOrderWhenExpanded) {
    QAbstractItemModel* m = FTree.model();
    const QModelIndex top = m->index(0, 0);
    EXPECT_TRUE(m->canFetchMore(top));  // nothing read before it is needed
    EXPECT_TRUE(m->hasChildren(top));
    EXPECT_EQ(ChildNames(top), (std::vector<std::string>{"a", "B", "c"}));
    const QModelIndex c = m->index(2, 0, top);
    EXPECT_FALSE(m->hasChildren(c));  // an empty folder shows no expander
    EXPECT_EQ(ChildNames(m->index(0, 0, top)), std::vector<std::string>{"b"});
}

TEST_F(ShellTreeTest, RefreshFollowsTheDiskAndKeepsTheSelection) {
    FTree.SetPath(At("a/b"));
    const QModelIndex top = FTree.model()->index(0, 0);
    fs::create_directories(At("Aa"));
    fs::remove_all(At("c"));
    fs::create_directories(At("a/b/new"));
    FTree.RefreshTree();
    EXPECT_EQ(ChildNames(top), (std::vector<std::string>{"a", "Aa", "B"}));
    EXPECT_EQ(FTree.Path(), At("a/b"));
    EXPECT_EQ(FChanges, 1);
    const QModelIndex b = FTree.currentIndex();
    EXPECT_EQ(ChildNames(b), (std::vector<std::string>{"c", "new"}));

    // The selected folder goes: its parent takes its place, raising one change.
    fs::remove_all(At("a/b"));
    FTree.RefreshTree();
    EXPECT_EQ(FTree.Path(), At("a"));
    EXPECT_EQ(FChanges, 2);
    EXPECT_EQ(FSeen, At("a"));
}

TEST(ShellTreeRoots, HomeAndTheFileSystemRootByDefault) {
    test::EnsureGuiApplication();
    TShellTree tree;
    tree.SetPath("/");
    EXPECT_EQ(tree.Path(), "/");
    test::TTempDir dir;
    const std::string folder = fs::canonical(dir.Path()).string();
    tree.SetPath(folder);
    EXPECT_EQ(tree.Path(), folder);
    EXPECT_EQ(TShellTree::NormalizePath(folder + "/no/such/folder/"), folder);
    EXPECT_EQ(TShellTree::NormalizePath("/"), "/");
}

}  // namespace
}  // namespace pix
