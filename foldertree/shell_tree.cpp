// SPDX-License-Identifier: MIT
#include "foldertree/shell_tree.h"

#include "platform/file_system.h"
#include "platform/gui/shell_context_menu.h"
#include "platform/gui/shell_icons.h"
#include "platform/res_strings.h"

#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QHeaderView>
#include <QMenu>
#include <QScrollBar>
#include <QWheelEvent>

#include <algorithm>
#include <new>
#include <system_error>
#include <unordered_map>

namespace pix {
namespace {

// The attributes asked of every listed item.
constexpr std::uint32_t kAttributeMask = 0xF60B0177;
// One wheel notch; larger deltas are cut to a few pages.
constexpr int kWheelStep = 120;
constexpr int kWheelLimit = 8 * kWheelStep;

bool IsFileSystemItem(std::uint32_t attributes) {
    return (attributes & (SFGAO_FILESYSTEM | SFGAO_FILESYSANCESTOR)) != 0;
}

std::string Trim(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

}  // namespace

// The nodes from one node up to the root; each is set to null when it is deleted, so that
// the nearest one still in the tree can be found after the node list changed.
class TShellTree::TNodeChain {
public:
    TNodeChain(TShellTree& tree, TShellnode* node) : FTree(tree), Original(node) {
        for (TShellnode* n = node; n != nullptr; n = n->ParentNode()) FNodes.push_back(n);
        FTree.FWatches.push_back(&FNodes);
    }
    ~TNodeChain() { std::erase(FTree.FWatches, &FNodes); }
    TNodeChain(const TNodeChain&) = delete;
    TNodeChain& operator=(const TNodeChain&) = delete;

    bool Lost() const { return Original != nullptr && FNodes.front() == nullptr; }
    TShellnode* NearestAlive() const {
        for (TShellnode* n : FNodes)
            if (n != nullptr) return n;
        return nullptr;
    }

private:
    TShellTree& FTree;
    std::vector<TShellnode*> FNodes;

public:
    // Only compared with, never used: it may have been deleted.
    const QTreeWidgetItem* const Original;
};

// Holds OnChange back while the node list changes. Finish, in the outermost bracket, selects
// the nearest remaining ancestor when the selected node was deleted and raises OnChange once
// when the selected node is another than before.
class TShellTree::TQuietChange {
public:
    explicit TQuietChange(TShellTree& tree)
        : FTree(tree), FOuter(tree.FQuiet == 0), FChain(tree, FOuter ? tree.Selected() : nullptr) {
        ++FTree.FQuiet;
    }
    ~TQuietChange() {
        if (!FFinished) --FTree.FQuiet;
    }
    TQuietChange(const TQuietChange&) = delete;
    TQuietChange& operator=(const TQuietChange&) = delete;

    void Finish() {
        if (FFinished) return;
        FFinished = true;
        --FTree.FQuiet;
        if (!FOuter || FTree.FDestroying) return;
        const bool lost = FChain.Lost();
        if (lost) {
            if (TShellnode* nearest = FChain.NearestAlive()) FTree.SelectQuietly(nearest);
        }
        if (lost || FTree.currentItem() != FChain.Original) FTree.CurrentChanged();
    }

private:
    TShellTree& FTree;
    const bool FOuter;
    bool FFinished = false;
    TNodeChain FChain;
};

// Painting held back and the wait cursor shown while nodes are read; nested brackets count.
class TShellTree::TUpdateBracket {
public:
    explicit TUpdateBracket(TShellTree& tree) : FTree(tree) {
        if (FTree.FUpdateDepth++ > 0) return;
        FUpdates = FTree.updatesEnabled();
        FTree.setUpdatesEnabled(false);
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    }
    ~TUpdateBracket() {
        if (--FTree.FUpdateDepth > 0) return;
        QGuiApplication::restoreOverrideCursor();
        FTree.setUpdatesEnabled(FUpdates);
    }
    TUpdateBracket(const TUpdateBracket&) = delete;
    TUpdateBracket& operator=(const TUpdateBracket&) = delete;

private:
    TShellTree& FTree;
    bool FUpdates = true;
};

// ---- TShellnode ----

TShellnode::TShellnode(TShellTree* tree) : FTree(tree) {
    setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
}

TShellnode::~TShellnode() {
    // First the monitor: once it has stopped no report can reach this node. The children
    // (and their monitors) go after this body, in the base class's destructor.
    Monitor.reset();
    FTree->NodeDestroyed(this);
}

bool TShellnode::operator<(const QTreeWidgetItem& other) const {
    const auto& that = static_cast<const TShellnode&>(other);
    if (!ParentFolder || RelativePIDL.Empty() || that.RelativePIDL.Empty())
        return text(0) < that.text(0);
    const bool files = (Attributes & SFGAO_FOLDER) == 0 && (that.Attributes & SFGAO_FOLDER) == 0;
    const int column = files ? static_cast<int>(FTree->FFileSortType) : 0;
    int result = ParentFolder->CompareIDs(column, RelativePIDL, that.RelativePIDL);
    result = result > 0 ? 1 : result < 0 ? -1 : 0;
    if (files && FTree->FFileSortOrder == so_Descending) result = -result;
    return result < 0;
}

void TShellnode::setData(int column, int role, const QVariant& value) {
    // The editor commits with the edit role; the tree sets texts with the display role.
    if (role == Qt::EditRole && column == 0) {
        FTree->NodeEdited(this, value.toString());
        return;
    }
    QTreeWidgetItem::setData(column, role, value);
}

void TShellnode::FolderChanged(TDiscMonitorThread& sender) {
    if (&sender == Monitor.get()) FTree->MonitorReport(this);
}

// ---- TShellTree ----

TShellTree::TShellTree(QWidget* parent) : QTreeWidget(parent), FDesktop(SHGetDesktopFolder()) {
    if (!FDesktop) throw std::bad_alloc();
    setColumnCount(1);
    setHeaderHidden(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setUniformRowHeights(true);
    resize(170, 270);
    SetReadOnly(false);
    SetHideSelection(false);
    connect(this, &QTreeWidget::currentItemChanged, this, [this] { CurrentChanged(); });
    connect(this, &QTreeWidget::itemExpanded, this, [this](QTreeWidgetItem* item) {
        if (FExpanding == 0) NodeExpanded(static_cast<TShellnode*>(item));
    });
    FVolumes = BrowsableVolumes();
    FMountMonitor = std::make_unique<TMountMonitor>([this] { MountsChanged(); });
    BuildRoot();
}

TShellTree::~TShellTree() {
    FMountMonitor.reset();
    FDestroying = true;
    clear();
    FRoot = nullptr;
}

// ---- properties ----

void TShellTree::SetShowVirtualFolders(bool value) {
    if (value == FShowVirtualFolders) return;
    FShowVirtualFolders = value;
    RefreshTree();
}

void TShellTree::SetShowSharedOverlay(bool value) {
    if (value == FShowSharedOverlay) return;
    FShowSharedOverlay = value;
    ForEachNode([this](TShellnode* node) { SetNodeIcons(node); });
}

void TShellTree::SetShowLinkOverlay(bool value) {
    if (value == FShowLinkOverlay) return;
    FShowLinkOverlay = value;
    ForEachNode([this](TShellnode* node) { SetNodeIcons(node); });
}

void TShellTree::SetShowIcons(bool value) {
    if (value == FShowIcons) return;
    FShowIcons = value;
    ForEachNode([this](TShellnode* node) { SetNodeIcons(node); });
}

void TShellTree::SetRootUsePIDL(bool value) {
    if (value == FRootUsePIDL) return;
    FRootUsePIDL = value;
    RebuildRoot(false);
}

void TShellTree::SetRootPIDL(TPidls value) {
    if (value == FRootPIDL) return;
    FRootPIDL = value;
    if (FRootUsePIDL) RebuildRoot(false);
}

void TShellTree::SetUserDefinedPIDL(const TItemIdList& value) {
    if (value == FUserDefinedPIDL) return;
    FUserDefinedPIDL = value;
    if (FRootUsePIDL && FRootPIDL == PIDL_USERDEFINED) RebuildRoot(false);
}

void TShellTree::SetRootDir(const std::string& value) {
    if (value == FRootDir) return;
    FRootDir = value;
    if (!FRootUsePIDL) RebuildRoot(true);
}

void TShellTree::SetOptions(TVisOptions value) {
    value &= TF_FOLDERS | TF_NONFOLDERS | TF_HIDDEN;
    if (value == FOptions) return;
    FOptions = value;
    const std::uint32_t filter =
        ((value & TF_FOLDERS) != 0 ? FILE_NOTIFY_CHANGE_DIR_NAME | FILE_NOTIFY_CHANGE_ATTRIBUTES
                                   : FILE_NOTIFY_CHANGE_ATTRIBUTES) |
        ((value & TF_NONFOLDERS) != 0 ? FILE_NOTIFY_CHANGE_FILE_NAME : 0);
    if (filter != FChangeFilter) {
        FChangeFilter = filter;
        ForEachNode([filter](TShellnode* node) {
            if (node->Monitor && !node->Monitor->Failed()) node->Monitor->SetFilter(filter);
        });
    }
    RefreshTree();
}

std::string TShellTree::FileMask() const {
    std::string text;
    for (const std::string& mask : FFileMasks) text += (text.empty() ? "" : ";") + mask;
    return text;
}

void TShellTree::SetFileMask(const std::string& value) {
    std::vector<std::string> masks;
    std::size_t start = 0;
    while (start <= value.size()) {
        const std::size_t end = std::min(value.find(';', start), value.size());
        const std::string mask = Trim(value.substr(start, end - start));
        if (!mask.empty()) masks.push_back(mask);
        start = end + 1;
    }
    if (masks.empty()) masks.emplace_back("*.*");
    if (masks == FFileMasks) return;
    FFileMasks = std::move(masks);
    if ((FOptions & TF_NONFOLDERS) != 0) RefreshTree();
}

void TShellTree::SetFileMaskUse(bool value) {
    if (value == FFileMaskUse) return;
    FFileMaskUse = value;
    if ((FOptions & TF_NONFOLDERS) != 0) RefreshTree();
}

void TShellTree::SetFileSortType(TFileSortType value) {
    if (value == FFileSortType) return;
    FFileSortType = value;
    ForEachNode([](TShellnode* node) { node->sortChildren(0, Qt::AscendingOrder); });
}

void TShellTree::SetFileSortOrder(TFileSortOrder value) {
    if (value == FFileSortOrder) return;
    FFileSortOrder = value;
    ForEachNode([](TShellnode* node) { node->sortChildren(0, Qt::AscendingOrder); });
}

void TShellTree::SetReadOnly(bool value) {
    FReadOnly = value;
    setEditTriggers(value ? QAbstractItemView::NoEditTriggers
                          : QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked);
}

void TShellTree::SetHideSelection(bool value) {
    // Hidden: the inactive colours of the application's palette; shown: the active ones.
    QPalette colours = palette();
    for (const auto role : {QPalette::Highlight, QPalette::HighlightedText})
        colours.setColor(QPalette::Inactive, role,
                         value ? QPalette().color(QPalette::Inactive, role)
                               : colours.color(QPalette::Active, role));
    setPalette(colours);
}

// ---- paths ----

std::string TShellTree::NormalizePath(const std::string& path) {
    if (path.empty()) return {};
    std::string result = AbsolutePath(path);
    while (result.size() > 1 && result.back() == '/') result.pop_back();
    while (result.size() > 1 && !DirectoryExists(result)) result = ExtractFileDir(result);
    return result.empty() ? "/" : result;
}

bool TShellTree::MatchesFileMask(const std::string& name, const std::string& mask) {
    if (mask == "*") return true;
    if (mask == "*.*") return name.find('.') != std::string::npos;
    return MatchesWildcard(name, mask);
}

std::string TShellTree::Path() const {
    const TShellnode* node = Selected();
    return node == nullptr ? std::string() : SHGetPathFromIDList(node->AbsolutePIDL);
}

void TShellTree::SetPath(const std::string& value) {
    const std::string path = NormalizePath(value);
    if (path.empty()) {
        if (FRoot != nullptr) setCurrentItem(FRoot);
        return;
    }
    if (path == Path()) return;
    if (FRoot == nullptr) {
        FPendingPath = path;
        return;
    }
    SelectPath(path);
}

// Walks the path's identifier down from the root, reading and expanding the nodes on the
// way, and selects the deepest node that matches.
void TShellTree::SelectPath(const std::string& path) {
    if (FRoot == nullptr) return;
    const std::optional<TItemIdList> absolute = ParseDisplayName(path);
    if (!absolute) return;
    TQuietChange quiet(*this);
    TShellnode* node = FRoot;
    const int rootCount = FRoot->AbsolutePIDL.Count();
    // A path outside the root selects the root.
    if (absolute->Count() >= rootCount && absolute->Head(rootCount) == FRoot->AbsolutePIDL) {
        for (int level = rootCount; level < absolute->Count(); ++level) {
            ExpandNode(node);
            if (!BindFolder(node)) break;
            const TItemIdList item({(*absolute)[level]});
            TShellnode* next = nullptr;
            // The same bytes first: names that the folder's order holds equal may still differ.
            for (int i = 0; i < node->childCount() && next == nullptr; ++i)
                if (node->Child(i)->RelativePIDL == item) next = node->Child(i);
            for (int i = 0; i < node->childCount() && next == nullptr; ++i)
                if (node->Folder->CompareIDs(0, item, node->Child(i)->RelativePIDL) == 0)
                    next = node->Child(i);
            if (next == nullptr) break;
            node = next;
        }
    }
    ExpandNode(node);
    setCurrentItem(node);
    scrollToItem(node);
    quiet.Finish();
}

// ---- building and reading ----

void TShellTree::RebuildRoot(bool keepPath) {
    if (keepPath) FPendingPath = Path();
    BuildRoot();
}

void TShellTree::BuildRoot() {
    TQuietChange quiet(*this);
    {
        TUpdateBracket bracket(*this);
        clear();
        FRoot = nullptr;
        FIcons.clear();
        TItemIdList absolute;
        if (FRootUsePIDL) {
            if (FRootPIDL == PIDL_USERDEFINED)
                absolute = FUserDefinedPIDL;
            else if (const auto location = SHGetSpecialFolderLocation(FRootPIDL))
                absolute = *location;
        } else {
            std::optional<TItemIdList> parsed;
            const std::string dir = NormalizePath(FRootDir);
            if (!dir.empty()) parsed = ParseDisplayName(dir);
            if (!parsed) parsed = ParseDisplayName("/");
            if (parsed) absolute = *parsed;
        }
        auto owned = std::make_unique<TShellnode>(this);
        TShellnode* root = owned.get();
        root->ParentFolder = FDesktop;
        if (!absolute.Empty()) {
            std::shared_ptr<TShellFolder> parentFolder = FDesktop;
            if (absolute.Count() > 1)
                parentFolder = FDesktop->BindToObject(absolute.Head(absolute.Count() - 1));
            std::uint32_t attributes = kAttributeMask;
            // An identifier whose folder has gone leaves the Desktop as the root.
            if (parentFolder && parentFolder->GetAttributesOf(absolute.Last(), attributes)) {
                root->ParentFolder = parentFolder;
                root->RelativePIDL = TItemIdList({absolute.Last()});
                root->AbsolutePIDL = absolute;
                root->Attributes = attributes;
            }
        }
        if (!FRootUsePIDL) {
            const std::string rootPath = SHGetPathFromIDList(root->AbsolutePIDL);
            if (!rootPath.empty()) FRootDir = rootPath;
        }
        addTopLevelItem(owned.release());
        FRoot = root;
        SetNodeText(root);
        SetNodeIcons(root);
        FillNode(root, true);
        if (FRoot == root) {
            root->ChildrenRead = true;
            SetHasChildren(root, true);
            ++FExpanding;
            root->setExpanded(true);
            --FExpanding;
            setCurrentItem(root);
        }
        if (!FPendingPath.empty()) {
            const std::string pending = std::move(FPendingPath);
            FPendingPath.clear();
            SelectPath(pending);
        }
    }
    quiet.Finish();
}

bool TShellTree::BindFolder(TShellnode* node) {
    if (node->FolderBound && node->Folder) return true;
    node->FolderBound = false;
    node->Folder.reset();
    if (!node->ParentFolder) return false;
    node->Folder = node->RelativePIDL.Empty()
                       ? node->ParentFolder
                       : node->ParentFolder->BindToObject(node->RelativePIDL);
    node->FolderBound = node->Folder != nullptr;
    return node->FolderBound;
}

// Reads a node's children again; with `all` false it stops at the first child that is taken
// (which tells whether the node has any).
void TShellTree::FillNode(TShellnode* node, bool all) {
    if (node == nullptr || !BindFolder(node)) return;
    TQuietChange quiet(*this);
    {
        TUpdateBracket bracket(*this);
        std::uint32_t flags = FOptions * 32;
        if (node->RelativePIDL.Empty()) flags |= SHCONTF_FOLDERS;
        // The children there are, by their item, so that a folder of thousands is read
        // again in one pass.
        std::unordered_multimap<TItemId, TShellnode*> existing;
        for (int i = 0; i < node->childCount(); ++i) {
            TShellnode* child = node->Child(i);
            child->Seen = false;
            if (child->RelativePIDL.Count() == 1) existing.emplace(child->RelativePIDL[0], child);
        }
        if (const std::unique_ptr<TEnumIdList> list = node->Folder->EnumObjects(flags)) {
            list->Reset();
            TItemId item;
            while (list->Next(item))
                if (AddChild(node, item, existing) && !all) break;
        }
        for (int i = node->childCount() - 1; i >= 0; --i)
            if (!node->Child(i)->Seen) delete node->child(i);
        SetHasChildren(node, node->childCount() > 0);
        node->sortChildren(0, Qt::AscendingOrder);
    }
    quiet.Finish();
}

// Takes one enumerated item into the node's children, updating the child it already has;
// false when the item is not listed.
bool TShellTree::AddChild(TShellnode* node, const TItemId& item,
                          std::unordered_multimap<TItemId, TShellnode*>& existing) {
    const TItemIdList relative({item});
    TShellnode* child = nullptr;
    for (auto [at, end] = existing.equal_range(item); at != end && child == nullptr; ++at) {
        if (!at->second->Seen) {
            child = at->second;
            child->Seen = true;
        }
    }
    std::uint32_t attributes = kAttributeMask;
    if (!node->Folder->GetAttributesOf(item, attributes)) attributes = 0;

    bool keep = FShowVirtualFolders || IsFileSystemItem(attributes);
    const bool isFile = (FOptions & TF_NONFOLDERS) != 0 && IsFileSystemItem(attributes) &&
                        (attributes & SFGAO_FOLDER) == 0;
    if (keep && isFile) {
        const std::string fullName =
            node->Folder->GetDisplayNameOf(item, SHGDN_FORPARSING).value_or(std::string());
        if (FFileMaskUse) {
            const std::string name = ExtractFileName(fullName);
            keep = std::any_of(FFileMasks.begin(), FFileMasks.end(), [&](const std::string& mask) {
                return MatchesFileMask(name, mask);
            });
        }
        if (keep && OnFileAdd) OnFileAdd(*this, fullName, attributes, keep);
    }
    if (!keep) {
        if (child != nullptr) child->Seen = false;  // deleted with the other unseen children
        return false;
    }

    if (child == nullptr) {
        auto owned = std::make_unique<TShellnode>(this);
        child = owned.get();
        node->addChild(owned.release());
        // The first child of a node has the node's folder watched.
        StartMonitor(node);
    }
    child->RelativePIDL = relative;
    child->AbsolutePIDL = node->AbsolutePIDL.Append(item);
    if (child->ParentFolder != node->Folder) {
        child->ParentFolder = node->Folder;
        child->FolderBound = false;
        child->Folder.reset();
    }
    child->Seen = true;
    child->Attributes = attributes;
    child->setFlags((attributes & SFGAO_CANRENAME) != 0
                        ? Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemIsEditable
                        : Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    SetNodeText(child);
    SetNodeIcons(child);

    // The namespace's subfolder mark counts neither files nor hidden folders: when the tree
    // lists either, a folder without the mark is looked into.
    bool hasChildren = (attributes & SFGAO_HASSUBFOLDER) != 0;
    if (!hasChildren && (FOptions & (TF_NONFOLDERS | TF_HIDDEN)) != 0 &&
        (attributes & SFGAO_FOLDER) != 0) {
        if (child->isExpanded()) {
            hasChildren = true;
        } else if (FProbing) {
            // Inside a probe the answer does not matter yet: the node is read when expanded.
            hasChildren = true;
        } else {
            FProbing = true;
            FillNode(child, false);
            FProbing = false;
            hasChildren = child->childCount() > 0;
            child->ChildrenRead = false;
        }
    }
    if (hasChildren) {
        SetHasChildren(child, true);
    } else {
        DropChildren(child);
        SetHasChildren(child, false);
        // A folder without children is watched so that its first subfolder shows.
        if ((attributes & SFGAO_FOLDER) != 0) StartMonitor(child);
    }
    return true;
}

void TShellTree::SetHasChildren(TShellnode* node, bool value) {
    node->setChildIndicatorPolicy(value ? QTreeWidgetItem::ShowIndicator
                                        : QTreeWidgetItem::DontShowIndicatorWhenChildless);
}

void TShellTree::DropChildren(TShellnode* node) {
    for (int i = node->childCount() - 1; i >= 0; --i) delete node->child(i);
}

void TShellTree::SetNodeText(TShellnode* node) {
    std::optional<std::string> name;
    const TItemId item = node->RelativePIDL.Empty() ? TItemId() : node->RelativePIDL.Last();
    if (node->ParentFolder) {
        // A root folder chosen by path shows its whole path.
        const bool forParsing = node == FRoot && !FRootUsePIDL;
        name = node->ParentFolder->GetDisplayNameOf(item,
                                                    forParsing ? SHGDN_FORPARSING : SHGDN_NORMAL);
        if (!name || name->empty())
            name = node->ParentFolder->GetDisplayNameOf(item, SHGDN_FORPARSING);
    }
    if ((!name || name->empty()) && node->RelativePIDL.Empty()) name = LoadResString(SDesktopName);
    node->setText(0, QString::fromStdString(name.value_or(std::string())));
}

QIcon TShellTree::IconFor(TShellIconKind kind, TShellIconKind open, int overlay) {
    const auto key = std::make_tuple(static_cast<int>(kind), static_cast<int>(open), overlay);
    const auto found = FIcons.find(key);
    if (found != FIcons.end()) return found->second;
    const auto shellOverlay = static_cast<TShellOverlay>(overlay);
    QIcon icon = ShellIcon(kind, shellOverlay);
    if (open != kind) {
        // The open folder is drawn for the selected node.
        const QIcon selected = ShellIcon(open, shellOverlay);
        QIcon both;
        for (const int size : {16, 24, 32}) {
            both.addPixmap(icon.pixmap(QSize(size, size)), QIcon::Normal);
            both.addPixmap(selected.pixmap(QSize(size, size)), QIcon::Selected);
        }
        icon = both;
    }
    FIcons.emplace(key, icon);
    return icon;
}

void TShellTree::SetNodeIcons(TShellnode* node) {
    if (!FShowIcons) {
        node->setIcon(0, QIcon());
        return;
    }
    TShellIconKind kind = ikDesktop;
    TShellIconKind open = ikDesktop;
    if (!node->RelativePIDL.Empty() && node->ParentFolder) {
        kind = node->ParentFolder->IconOf(node->RelativePIDL.Last(), false);
        open = (node->Attributes & SFGAO_FOLDER) != 0
                   ? node->ParentFolder->IconOf(node->RelativePIDL.Last(), true)
                   : kind;
    }
    TShellOverlay overlay = ovNone;
    if (FShowSharedOverlay && (node->Attributes & SFGAO_SHARE) != 0)
        overlay = ovShared;
    else if (FShowLinkOverlay && (node->Attributes & SFGAO_LINK) != 0)
        overlay = ovLink;
    node->setIcon(0, IconFor(kind, open, overlay));
}

void TShellTree::StartMonitor(TShellnode* node) {
    if (node->Monitored) return;
    node->Monitored = true;  // never a second one, even when this one fails
    const std::string path = SHGetPathFromIDList(node->AbsolutePIDL);
    if (path.empty()) return;
    try {
        node->Monitor = std::make_unique<TDiscMonitorThread>(node, path, FChangeFilter);
        node->Monitor->Resume();
    } catch (const std::system_error&) {
        // No thread could be started (the system's limit): the folder is not watched, as
        // one that cannot be watched; a refresh still reads it.
        node->Monitor.reset();
    }
}

// ---- expanding and refreshing ----

void TShellTree::ExpandNode(TShellnode* node) {
    if (!node->isExpanded() || !node->ChildrenRead) NodeExpanded(node);
    ++FExpanding;
    node->setExpanded(true);
    --FExpanding;
}

void TShellTree::NodeExpanded(TShellnode* node) {
    if (FRoot == nullptr || node == nullptr) return;
    if (!FUpdAuto && node->ChildrenRead) return;
    FillNode(node, true);
    node->ChildrenRead = true;
    if (FUpdAutoRec) ReadExpanded(node);
}

void TShellTree::ReadExpanded(TShellnode* node) {
    for (int i = 0; i < node->childCount(); ++i) {
        TShellnode* child = node->Child(i);
        if (!child->isExpanded()) continue;
        FillNode(child, true);
        child->ChildrenRead = true;
        ReadExpanded(child);
    }
}

void TShellTree::RefreshNode(TShellnode* node) {
    FillNode(node, true);
    node->ChildrenRead = true;
    for (int i = 0; i < node->childCount(); ++i) {
        TShellnode* child = node->Child(i);
        if (child->isExpanded() && child->childCount() > 0)
            RefreshNode(child);
        else
            child->ChildrenRead = false;
    }
}

void TShellTree::RefreshTree() {
    if (FRoot == nullptr) return;
    TQuietChange quiet(*this);
    {
        TUpdateBracket bracket(*this);
        RefreshNode(FRoot);
    }
    quiet.Finish();
}

void TShellTree::MonitorReport(TShellnode* node) {
    if (!FUpdAutoThread) return;
    // No dialog for a change nobody asked for.
    QWidget* const owner = FMessageOwner;
    FMessageOwner = nullptr;
    struct TRestore {
        TShellTree& Tree;
        QWidget* Owner;
        ~TRestore() { Tree.FMessageOwner = Owner; }
    } restore{*this, owner};
    FillNode(node, true);
}

// ---- volumes ----

void TShellTree::MountsChanged() {
    std::vector<TMountEntry> after = BrowsableVolumes();
    // Mount points that were removed, mounted anew or mounted from another source.
    std::vector<std::string> changed;
    const auto samePoint = [](const std::string& point) {
        return [&point](const TMountEntry& entry) { return entry.MountPoint == point; };
    };
    for (const TMountEntry& before : FVolumes) {
        const auto now = std::find_if(after.begin(), after.end(), samePoint(before.MountPoint));
        if (now == after.end() || now->Source != before.Source)
            changed.push_back(before.MountPoint);
    }
    for (const TMountEntry& now : after)
        if (std::none_of(FVolumes.begin(), FVolumes.end(), samePoint(now.MountPoint)))
            changed.push_back(now.MountPoint);
    FVolumes = std::move(after);
    if (changed.empty() || FRoot == nullptr) return;
    const auto isChanged = [&changed](const std::string& path) {
        return !path.empty() && std::find(changed.begin(), changed.end(), path) != changed.end();
    };

    const std::optional<TItemIdList> computer = SHGetSpecialFolderLocation(CSIDL_DRIVES);
    if (!computer || computer->Count() != 1) return;
    std::uint32_t validate = SFGAO_VALIDATE;
    FDesktop->GetAttributesOf(computer->Last(), validate);

    TQuietChange quiet(*this);
    {
        TUpdateBracket bracket(*this);
        const TItemIdList& rootAbsolute = FRoot->AbsolutePIDL;
        if (rootAbsolute.Count() < 2) {
            // The root is the Desktop or one of its items: the volumes under "Computer".
            TShellnode* computerNode = rootAbsolute == *computer ? FRoot : nullptr;
            for (int i = 0; i < FRoot->childCount() && computerNode == nullptr; ++i)
                if (FRoot->Child(i)->AbsolutePIDL == *computer) computerNode = FRoot->Child(i);
            if (computerNode != nullptr) {
                for (int i = 0; i < computerNode->childCount(); ++i) {
                    TShellnode* volume = computerNode->Child(i);
                    if (isChanged(SHGetPathFromIDList(volume->AbsolutePIDL))) ResetVolume(volume);
                }
                if (computerNode->ChildrenRead) FillNode(computerNode, true);
            }
        } else if (rootAbsolute.Count() == 2 && rootAbsolute.Head(1) == *computer &&
                   isChanged(SHGetPathFromIDList(rootAbsolute))) {
            // The root is a volume itself.
            TShellnode* root = FRoot;
            ResetVolume(root);
            FillNode(root, true);
            root->ChildrenRead = true;
            SetHasChildren(root, true);
        }
    }
    quiet.Finish();
}

// A volume node whose mount changed: its children and its monitor belong to what was
// mounted before, so they go; the node is read again when next expanded.
void TShellTree::ResetVolume(TShellnode* node) {
    DropChildren(node);
    ++FExpanding;
    node->setExpanded(false);
    --FExpanding;
    node->Monitor.reset();
    node->Monitored = false;
    node->Folder.reset();
    node->FolderBound = false;
    node->ChildrenRead = false;
    SetHasChildren(node, true);
    if (!node->ParentFolder || node->RelativePIDL.Empty()) return;
    std::uint32_t attributes = kAttributeMask | SFGAO_VALIDATE;
    if (node->ParentFolder->GetAttributesOf(node->RelativePIDL.Last(), attributes))
        node->Attributes = attributes & kAttributeMask;
    SetNodeText(node);
    SetNodeIcons(node);
}

// ---- renaming ----

void TShellTree::NodeEdited(TShellnode* node, const QString& text) {
    if (FReadOnly || (node->Attributes & SFGAO_CANRENAME) == 0 || node->RelativePIDL.Empty() ||
        !node->ParentFolder)
        return;
    std::string name = text.toStdString();
    if (OnEdited) OnEdited(*this, node, name);
    TItemId newItem;
    // On failure the node keeps its old text.
    if (name.empty() || !node->ParentFolder->SetNameOf(node->RelativePIDL.Last(), name, newItem))
        return;
    TQuietChange quiet(*this);
    {
        TUpdateBracket bracket(*this);
        const bool expanded = node->isExpanded();
        node->RelativePIDL = TItemIdList({newItem});
        node->AbsolutePIDL =
            node->AbsolutePIDL.Head(node->AbsolutePIDL.Count() - 1).Append(newItem);
        // The folder, the monitor and the children all name the old path.
        node->Folder.reset();
        node->FolderBound = false;
        const bool monitored = node->Monitor != nullptr;
        node->Monitor.reset();
        node->Monitored = false;
        DropChildren(node);
        node->ChildrenRead = false;
        std::uint32_t attributes = kAttributeMask;
        if (node->ParentFolder->GetAttributesOf(newItem, attributes)) node->Attributes = attributes;
        if (node == FRoot && !FRootUsePIDL) FRootDir = SHGetPathFromIDList(node->AbsolutePIDL);
        SetNodeText(node);
        SetNodeIcons(node);
        if (expanded) {
            FillNode(node, true);
            node->ChildrenRead = true;
        } else {
            SetHasChildren(node, (node->Attributes & SFGAO_HASSUBFOLDER) != 0);
        }
        if (monitored) StartMonitor(node);
        if (TShellnode* parent = node->ParentNode()) parent->sortChildren(0, Qt::AscendingOrder);
    }
    quiet.Finish();
}

// ---- selection ----

void TShellTree::NodeDestroyed(TShellnode* node) {
    for (std::vector<TShellnode*>* watch : FWatches)
        std::replace(watch->begin(), watch->end(), node, static_cast<TShellnode*>(nullptr));
    if (node == FRoot) FRoot = nullptr;
}

void TShellTree::CurrentChanged() {
    if (FQuiet > 0 || FMenuSelect > 0 || FDestroying) return;
    ++FChangeCount;
    if (OnChange) OnChange();
}

void TShellTree::SelectQuietly(QTreeWidgetItem* item) {
    ++FMenuSelect;
    setCurrentItem(item);
    --FMenuSelect;
}

void TShellTree::ForEachNode(const std::function<void(TShellnode*)>& action) {
    const std::function<void(TShellnode*)> walk = [&](TShellnode* node) {
        action(node);
        for (int i = 0; i < node->childCount(); ++i) walk(node->Child(i));
    };
    for (int i = 0; i < topLevelItemCount(); ++i) walk(static_cast<TShellnode*>(topLevelItem(i)));
}

QWidget* TShellTree::MessageOwner() const {
    if (!FShowMessages) return nullptr;
    return FMessageOwner != nullptr ? FMessageOwner : window();
}

// ---- events ----

void TShellTree::contextMenuEvent(QContextMenuEvent* event) {
    event->accept();
    TShellnode* node = nullptr;
    QPoint at;
    if (event->reason() == QContextMenuEvent::Keyboard) {
        node = Selected();
        if (node != nullptr) at = viewport()->mapToGlobal(visualItemRect(node).center());
    } else {
        node = static_cast<TShellnode*>(itemAt(event->pos()));
        at = event->globalPos();
    }
    if (node == nullptr) return;
    bool allow = true;
    if (OnPopupMenu) OnPopupMenu(*this, node, allow);
    if (!allow) return;

    // The node is selected while its menu is open; the selection is put back afterwards,
    // unless what was selected went away meanwhile (then its nearest ancestor is selected).
    const TNodeChain previous(*this, Selected());
    const int changes = FChangeCount;
    SelectQuietly(node);
    const std::string path = SHGetPathFromIDList(node->AbsolutePIDL);
    if (FPopupMenuMode == pmm_System)
        ShowShellContextMenu(MessageOwner(), path, at);
    else if (FPopupMenu != nullptr)
        FPopupMenu->exec(at);
    if (TShellnode* back = previous.NearestAlive()) SelectQuietly(back);
    if (previous.Lost() || FChangeCount != changes) CurrentChanged();
}

void TShellTree::wheelEvent(QWheelEvent* event) {
    const int delta = event->angleDelta().y();
    if (delta == 0) {
        QTreeWidget::wheelEvent(event);
        return;
    }
    // Small deltas (touchpads, fine wheels) add up to whole notches; a turn the other way
    // starts over.
    if ((delta > 0) != (FWheelDelta > 0)) FWheelDelta = 0;
    FWheelDelta = static_cast<int>(std::clamp<std::int64_t>(
        static_cast<std::int64_t>(FWheelDelta) + delta, -kWheelLimit, kWheelLimit));
    for (; FWheelDelta >= kWheelStep; FWheelDelta -= kWheelStep)
        verticalScrollBar()->triggerAction(QAbstractSlider::SliderPageStepSub);
    for (; FWheelDelta <= -kWheelStep; FWheelDelta += kWheelStep)
        verticalScrollBar()->triggerAction(QAbstractSlider::SliderPageStepAdd);
    event->accept();
}

void TShellTree::showEvent(QShowEvent* event) {
    QTreeWidget::showEvent(event);
    FMessageOwner = window();
    if (FShowIcons) {
        FIcons.clear();
        ForEachNode([this](TShellnode* node) { SetNodeIcons(node); });
    }
    RefreshTree();
}

}  // namespace pix
