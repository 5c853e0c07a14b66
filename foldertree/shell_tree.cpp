// SPDX-License-Identifier: MIT
#include "foldertree/shell_tree.h"

#include "platform/file_system.h"

#include <QHeaderView>
#include <QStandardItemModel>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace pix {
namespace {

// Data of a node: its folder's full path as the file system's bytes, whether its children
// have been read, and whether it has any listed subfolder (known before it is read).
constexpr int kPathRole = Qt::UserRole + 1;
constexpr int kReadRole = Qt::UserRole + 2;
constexpr int kHasChildrenRole = Qt::UserRole + 3;

bool IsListed(const std::filesystem::directory_entry& entry) {
    const std::string name = entry.path().filename().string();
    if (name.empty() || name[0] == '.') return false;  // hidden folders
    std::error_code ec;
    return entry.is_directory(ec) && !ec;  // follows links to folders
}

// Folder names in the tree's order: without regard to case, then by their bytes.
bool NameLess(const std::string& a, const std::string& b) {
    const int c = QString::fromStdString(a).compare(QString::fromStdString(b), Qt::CaseInsensitive);
    return c != 0 ? c < 0 : a < b;
}

// Names of the listed subfolders of a folder, in name order. An unreadable folder has none.
std::vector<std::string> ListFolders(const std::string& dir) {
    std::vector<std::string> names;
    std::error_code ec;
    std::filesystem::directory_iterator it(dir, ec), end;
    for (; !ec && it != end; it.increment(ec))
        if (IsListed(*it)) names.push_back(it->path().filename().string());
    std::sort(names.begin(), names.end(), NameLess);
    return names;
}

// Stops at the first listed subfolder, so that a folder full of files costs one pass.
bool HasFolders(const std::string& dir) {
    std::error_code ec;
    std::filesystem::directory_iterator it(dir, ec), end;
    for (; !ec && it != end; it.increment(ec))
        if (IsListed(*it)) return true;
    return false;
}

std::string NodePath(const QStandardItem* item) {
    return item == nullptr ? std::string() : item->data(kPathRole).toByteArray().toStdString();
}

QStandardItem* MakeNode(const std::string& path, const std::string& text) {
    auto item = std::make_unique<QStandardItem>(QString::fromStdString(text));
    item->setEditable(false);
    item->setData(QByteArray::fromStdString(path), kPathRole);
    item->setData(false, kReadRole);
    item->setData(HasFolders(path), kHasChildrenRole);
    item->setToolTip(QString::fromStdString(path));
    return item.release();  // the model takes it
}

bool IsBelow(const std::string& path, const std::string& folder) {
    if (folder == "/") return path.size() > 1 && path[0] == '/';
    return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
           path[folder.size()] == '/';
}

}  // namespace

// Children are read on demand: a node that has not been read yet reports children when its
// folder has subfolders, and the view asks for them when the node is expanded.
class TFolderModel : public QStandardItemModel {
public:
    using QStandardItemModel::QStandardItemModel;

    bool hasChildren(const QModelIndex& parent) const override {
        const QStandardItem* item = itemFromIndex(parent);
        if (item != nullptr && !item->data(kReadRole).toBool())
            return item->data(kHasChildrenRole).toBool();
        return QStandardItemModel::hasChildren(parent);
    }
    bool canFetchMore(const QModelIndex& parent) const override {
        const QStandardItem* item = itemFromIndex(parent);
        return item != nullptr && !item->data(kReadRole).toBool();
    }
    void fetchMore(const QModelIndex& parent) override { Read(itemFromIndex(parent)); }

    void Read(QStandardItem* item) {
        if (item == nullptr || item->data(kReadRole).toBool()) return;
        item->setData(true, kReadRole);
        const std::string dir = NodePath(item);
        for (const std::string& name : ListFolders(dir))
            item->appendRow(MakeNode(JoinPath(dir, name), name));
        item->setData(item->rowCount() > 0, kHasChildrenRole);
    }
};

TShellTree::TShellTree(QWidget* parent) : QTreeView(parent) {
    FModel = new TFolderModel(this);
    setModel(FModel);
    setHeaderHidden(true);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setIndentation(19);
    connect(selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this] { CurrentChanged(); });
    const char* home = std::getenv("HOME");
    std::vector<std::string> roots;
    if (home != nullptr && *home != '\0') {
        const std::string folder = NormalizePath(home);
        if (folder != "/") roots.push_back(folder);
    }
    roots.push_back("/");
    SetRootFolders(roots);
}

TShellTree::~TShellTree() = default;

void TShellTree::SetRootFolders(const std::vector<std::string>& folders) {
    const bool refreshing = FRefreshing;
    FRefreshing = true;  // clearing the model is no change the user made
    FModel->clear();
    FRoots.clear();
    for (const std::string& folder : folders) {
        const std::string path = NormalizePath(folder);
        FRoots.push_back(path);
        FModel->appendRow(MakeNode(path, path == "/" ? path : ExtractFileName(path)));
    }
    FRefreshing = refreshing;
}

std::string TShellTree::NormalizePath(const std::string& path) {
    std::string result = AbsolutePath(path);
    while (result.size() > 1 && result.back() == '/') result.pop_back();
    while (result != "/" && !DirectoryExists(result)) result = ExtractFileDir(result);
    return result.empty() ? "/" : result;
}

std::string TShellTree::Path() const {
    return NodePath(FModel->itemFromIndex(selectionModel()->currentIndex()));
}

// The node of a folder, reading the way down; without exact, the deepest listed ancestor.
QStandardItem* TShellTree::FindNode(const std::string& path, bool exact) {
    // The top-level folder that holds the path most closely.
    QStandardItem* node = nullptr;
    std::size_t best = 0;
    for (int row = 0; row < FModel->rowCount(); ++row) {
        QStandardItem* top = FModel->item(row);
        const std::string root = NodePath(top);
        if ((root == path || IsBelow(path, root)) && (node == nullptr || root.size() > best)) {
            node = top;
            best = root.size();
        }
    }
    while (node != nullptr && NodePath(node) != path) {
        FModel->Read(node);
        QStandardItem* next = nullptr;
        for (int row = 0; row < node->rowCount() && next == nullptr; ++row) {
            const std::string child = NodePath(node->child(row));
            if (child == path || IsBelow(path, child)) next = node->child(row);
        }
        if (next == nullptr) return exact ? nullptr : node;
        node = next;
    }
    return node;
}

void TShellTree::SelectNode(QStandardItem* item) {
    if (item == nullptr) {
        selectionModel()->clearCurrentIndex();
        selectionModel()->clearSelection();
        return;
    }
    const QModelIndex index = FModel->indexFromItem(item);
    for (QModelIndex up = index.parent(); up.isValid(); up = up.parent()) expand(up);
    expand(index);
    selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
    scrollTo(index);
}

void TShellTree::SetPath(const std::string& path) {
    if (path.empty()) {
        if (FModel->rowCount() > 0) SelectNode(FModel->item(0));
        return;
    }
    const std::string folder = NormalizePath(path);
    if (folder == Path()) return;
    SelectNode(FindNode(folder, false));
}

void TShellTree::CurrentChanged() {
    if (!FRefreshing && OnChange) OnChange();
}

// Brings one read node's children in line with its folder. keep is the selected folder: the
// nodes on its way stay read even when collapsed, so that the selection survives.
void TShellTree::RefreshNode(QStandardItem* item, const std::string& keep) {
    if (!item->data(kReadRole).toBool()) {
        item->setData(HasFolders(NodePath(item)), kHasChildrenRole);
        return;
    }
    const std::string dir = NodePath(item);
    const std::vector<std::string> names = ListFolders(dir);
    // Drop the children whose folders went away, then merge the new ones in name order.
    for (int row = item->rowCount() - 1; row >= 0; --row) {
        const std::string name = ExtractFileName(NodePath(item->child(row)));
        if (!std::binary_search(names.begin(), names.end(), name, NameLess)) item->removeRow(row);
    }
    int row = 0;
    for (const std::string& name : names) {
        QStandardItem* child = row < item->rowCount() ? item->child(row) : nullptr;
        if (child == nullptr || ExtractFileName(NodePath(child)) != name)
            item->insertRow(row, MakeNode(JoinPath(dir, name), name));
        ++row;
    }
    item->setData(item->rowCount() > 0, kHasChildrenRole);

    for (int r = 0; r < item->rowCount(); ++r) {
        QStandardItem* child = item->child(r);
        const std::string path = NodePath(child);
        if (keep == path || IsBelow(keep, path) || isExpanded(FModel->indexFromItem(child))) {
            RefreshNode(child, keep);
        } else if (child->data(kReadRole).toBool()) {
            child->removeRows(0, child->rowCount());
            child->setData(false, kReadRole);
            child->setData(HasFolders(NodePath(child)), kHasChildrenRole);
        }
    }
}

void TShellTree::RefreshTree() {
    const std::string before = Path();
    FRefreshing = true;
    setUpdatesEnabled(false);
    for (int row = 0; row < FModel->rowCount(); ++row) RefreshNode(FModel->item(row), before);
    // The selected folder may have gone: its nearest remaining ancestor takes its place.
    if (!before.empty() && Path() != before) SelectNode(FindNode(NormalizePath(before), false));
    setUpdatesEnabled(true);
    FRefreshing = false;
    if (Path() != before && OnChange) OnChange();
}

}  // namespace pix
