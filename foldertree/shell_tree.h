// SPDX-License-Identifier: MIT
// The folder tree: the user's home and the file system's root, listed folder by folder as
// nodes are expanded.
#pragma once

#include <QTreeView>

#include <functional>
#include <string>
#include <vector>

class QStandardItem;

namespace pix {

class TFolderModel;

// A tree of folders only (hidden ones left out), read lazily: a node's children are read
// when it is first expanded. Setting Path selects the folder, expanding the way down.
class TShellTree : public QTreeView {
public:
    explicit TShellTree(QWidget* parent = nullptr);
    ~TShellTree() override;

    // The selected folder, without a trailing "/" (except "/" itself); empty when none.
    std::string Path() const;
    // Selects a folder. The path is made absolute; a file selects its folder and a missing
    // folder its nearest existing ancestor; a folder that is hidden or lies below a hidden
    // one selects the deepest listed ancestor. Empty text selects the first top-level node.
    // Nothing happens when the result is the current Path.
    void SetPath(const std::string& path);
    // Raised whenever the selected node changes, also through SetPath and RefreshTree.
    std::function<void()> OnChange;
    // Reads the listed folders again, keeping the selection and the expanded nodes: folders
    // that went away disappear, new ones appear; read nodes that are not expanded are read
    // again when next expanded.
    void RefreshTree();

    // The top-level folders, in order; by default the user's home and "/". Replaces the
    // whole tree and clears the selection.
    void SetRootFolders(const std::vector<std::string>& folders);

    // The form SetPath selects: absolute, no trailing "/", the nearest existing folder.
    static std::string NormalizePath(const std::string& path);

private:
    QStandardItem* FindNode(const std::string& path, bool exact);
    void SelectNode(QStandardItem* item);
    void RefreshNode(QStandardItem* item, const std::string& keep);
    void CurrentChanged();

    TFolderModel* FModel = nullptr;
    std::vector<std::string> FRoots;
    bool FRefreshing = false;
};

}  // namespace pix
