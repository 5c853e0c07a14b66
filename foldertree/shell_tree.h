// SPDX-License-Identifier: MIT
// The folder tree over the folder namespace: the folders below a root (by default the
// Desktop), sorted as the namespace sorts them, kept current by a change monitor per listed
// folder and by the mount table's changes.
#pragma once

#include "platform/disc_monitor.h"
#include "platform/shell_folder.h"

#include <QTreeWidget>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <unordered_map>
#include <vector>

class QMenu;

namespace pix {

class TShellTree;

// Special folders a tree may have as its root; the values are the CSIDL numbers.
// PIDL_USERDEFINED uses the identifier set with SetUserDefinedPIDL.
enum TPidls : int {
    PIDL_USERDEFINED = -1,
    PIDL_DESKTOP = 0,
    PIDL_PROGRAMS = 2,
    PIDL_CONTROLS = 3,
    PIDL_PRINTERS = 4,
    PIDL_PERSONAL = 5,
    PIDL_FAVORITES = 6,
    PIDL_STARTUP = 7,
    PIDL_RECENT = 8,
    PIDL_SENDTO = 9,
    PIDL_BITBUCKET = 10,
    PIDL_STARTMENU = 11,
    PIDL_DESKTOPDIRECTORY = 16,
    PIDL_DRIVES = 17,
    PIDL_NETWORK = 18,
    PIDL_NETHOOD = 19,
    PIDL_FONTS = 20,
    PIDL_TEMPLATES = 21,
};

// What the tree lists: a set of these bits. Times 32 they are the SHCONTF flags.
using TVisOptions = std::uint32_t;
constexpr TVisOptions TF_FOLDERS = 0x1;
constexpr TVisOptions TF_NONFOLDERS = 0x2;
constexpr TVisOptions TF_HIDDEN = 0x4;

// The sort key and order of files (folders are always sorted by name, ascending); the key's
// value is the namespace's CompareIDs column.
enum TFileSortType : std::uint8_t { so_Name, so_Size, so_Type, so_Date };
enum TFileSortOrder : std::uint8_t { so_Ascending, so_Descending };
enum TPopupMenuMode : std::uint8_t { pmm_System, pmm_PopupMenu };

// One item of the tree: a folder (or, with TF_NONFOLDERS, a file) of the namespace. It owns
// its identifiers and the change monitor of its folder; deleting it stops the monitor and
// waits for it before anything else of the node goes.
class TShellnode : public QTreeWidgetItem, public TMonitoredNode {
public:
    explicit TShellnode(TShellTree* tree);
    ~TShellnode() override;
    TShellnode(const TShellnode&) = delete;
    TShellnode& operator=(const TShellnode&) = delete;

    TShellTree* Tree() const { return FTree; }
    TShellnode* ParentNode() const { return static_cast<TShellnode*>(parent()); }
    TShellnode* Child(int index) const { return static_cast<TShellnode*>(child(index)); }

    bool FolderBound = false;  // Folder has been bound
    bool Monitored = false;    // a monitor was started for this node (it may have failed)
    TItemIdList RelativePIDL;  // relative to ParentFolder; empty for the Desktop itself
    TItemIdList AbsolutePIDL;  // relative to the Desktop
    std::shared_ptr<TShellFolder> ParentFolder;
    std::shared_ptr<TShellFolder> Folder;  // the item's own folder, bound on first use
    std::uint32_t Attributes = 0;          // SFGAO flags
    bool ChildrenRead = false;             // the children were read since the last refresh
    bool Seen = false;                     // mark while the parent is re-read
    std::unique_ptr<TDiscMonitorThread> Monitor;

    // Siblings in the parent folder's order (files by the tree's file sort key and order).
    bool operator<(const QTreeWidgetItem& other) const override;
    // An edit of the text is a rename; other data is stored as usual.
    void setData(int column, int role, const QVariant& value) override;

    void FolderChanged(TDiscMonitorThread& sender) override;

private:
    TShellTree* const FTree;
};

class TShellTree : public QTreeWidget {
public:
    using TOnFileAddEvent = std::function<void(TShellTree& sender, const std::string& fileName,
                                               std::uint32_t attributes, bool& allow)>;
    using TOnPopupMenuEvent =
        std::function<void(TShellTree& sender, TShellnode* node, bool& allow)>;
    using TSysCMenuPopupEvent =
        std::function<void(TShellTree& sender, TShellnode* node, QMenu* menu)>;
    using TOnEditedEvent =
        std::function<void(TShellTree& sender, TShellnode* node, std::string& text)>;

    // Builds the root at once (the Desktop unless the properties are changed).
    explicit TShellTree(QWidget* parent = nullptr);
    // Deletes every node first, so that every monitor has stopped before anything else goes.
    ~TShellTree() override;

    bool ShowVirtualFolders() const { return FShowVirtualFolders; }
    void SetShowVirtualFolders(bool value);
    bool ShowSharedOverlay() const { return FShowSharedOverlay; }
    void SetShowSharedOverlay(bool value);
    bool ShowLinkOverlay() const { return FShowLinkOverlay; }
    void SetShowLinkOverlay(bool value);
    bool RootUsePIDL() const { return FRootUsePIDL; }
    void SetRootUsePIDL(bool value);
    TPidls RootPIDL() const { return FRootPIDL; }
    void SetRootPIDL(TPidls value);
    const TItemIdList& UserDefinedPIDL() const { return FUserDefinedPIDL; }
    void SetUserDefinedPIDL(const TItemIdList& value);
    // The root folder when RootUsePIDL is false; after the root is built, its path.
    const std::string& RootDir() const { return FRootDir; }
    void SetRootDir(const std::string& value);
    TVisOptions Options() const { return FOptions; }
    void SetOptions(TVisOptions value);

    // The selected node's file-system path ("/" or without a trailing "/"); empty when nothing
    // or a virtual item is selected.
    std::string Path() const;
    // Selects the folder of the normalised path, or its deepest listed ancestor; empty text
    // selects the root. Nothing happens when the result is the current Path.
    void SetPath(const std::string& value);

    bool UpdAutoThread() const { return FUpdAutoThread; }
    void SetUpdAutoThread(bool value) { FUpdAutoThread = value; }
    bool UpdAuto() const { return FUpdAuto; }
    void SetUpdAuto(bool value) { FUpdAuto = value; }
    bool UpdAutoRec() const { return FUpdAutoRec; }
    void SetUpdAutoRec(bool value) { FUpdAutoRec = value; }
    bool ShowIcons() const { return FShowIcons; }
    void SetShowIcons(bool value);
    // ";"-separated masks of the files listed with TF_NONFOLDERS and FileMaskUse.
    std::string FileMask() const;
    void SetFileMask(const std::string& value);
    bool FileMaskUse() const { return FFileMaskUse; }
    void SetFileMaskUse(bool value);
    TFileSortType FileSortType() const { return FFileSortType; }
    void SetFileSortType(TFileSortType value);
    TFileSortOrder FileSortOrder() const { return FFileSortOrder; }
    void SetFileSortOrder(TFileSortOrder value);
    TPopupMenuMode PopupMenuMode() const { return FPopupMenuMode; }
    void SetPopupMenuMode(TPopupMenuMode value) { FPopupMenuMode = value; }
    QMenu* PopupMenu() const { return FPopupMenu; }
    void SetPopupMenu(QMenu* value) { FPopupMenu = value; }
    // Whether the folder menu's dialogs get the tree's window as their owner.
    bool ShowMessages() const { return FShowMessages; }
    void SetShowMessages(bool value) { FShowMessages = value; }
    // Without it (the default) a node that may be renamed is edited by F2 or a click on the
    // selected node.
    bool ReadOnly() const { return FReadOnly; }
    void SetReadOnly(bool value);
    // Off: the selection keeps its colours while the tree has no focus.
    void SetHideSelection(bool value);

    // Asked for every file item before it is listed; may refuse it.
    TOnFileAddEvent OnFileAdd;
    // Asked before a context menu is shown; may refuse it.
    TOnPopupMenuEvent OnPopupMenu;
    // Kept for handlers that build on the folder menu; the tree does not raise it.
    TSysCMenuPopupEvent OnSystemContextMenu;
    // Gets a rename's text before the folder is renamed, and may change it.
    TOnEditedEvent OnEdited;
    // The selected node changed (also through SetPath and when a selected folder went away).
    std::function<void()> OnChange;

    // Reads the root and every expanded node again in one update: nodes of folders that went
    // away disappear, new ones appear, the others keep their state; read nodes that are not
    // expanded are read again when next expanded.
    void RefreshTree();

    TShellnode* RootNode() const { return FRoot; }
    TShellnode* Selected() const { return static_cast<TShellnode*>(currentItem()); }
    // The filter of the monitors, from Options.
    std::uint32_t ChangeFilter() const { return FChangeFilter; }

    // Absolute, "/" as the root, no trailing "/" except in "/" itself, cut back to the nearest
    // existing folder; a relative path is taken against the current directory. Empty stays
    // empty.
    static std::string NormalizePath(const std::string& path);
    // A file name against one mask, without regard to case: "*" matches every name, "*.*"
    // every name with a dot; else "*" is any run of characters and "?" one character.
    static bool MatchesFileMask(const std::string& name, const std::string& mask);

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    friend class TShellnode;
    class TNodeChain;
    class TQuietChange;
    class TUpdateBracket;

    void BuildRoot();
    void RebuildRoot(bool keepPath);
    bool BindFolder(TShellnode* node);
    void FillNode(TShellnode* node, bool all);
    bool AddChild(TShellnode* node, const TItemId& item,
                  std::unordered_multimap<TItemId, TShellnode*>& existing);
    void SetHasChildren(TShellnode* node, bool value);
    void DropChildren(TShellnode* node);
    void SetNodeText(TShellnode* node);
    void SetNodeIcons(TShellnode* node);
    QIcon IconFor(TShellIconKind kind, TShellIconKind open, int overlay);
    void StartMonitor(TShellnode* node);
    void SelectPath(const std::string& path);
    void ExpandNode(TShellnode* node);
    void NodeExpanded(TShellnode* node);
    void ReadExpanded(TShellnode* node);
    void RefreshNode(TShellnode* node);
    void MonitorReport(TShellnode* node);
    void MountsChanged();
    void ResetVolume(TShellnode* node);
    void NodeEdited(TShellnode* node, const QString& text);
    void NodeDestroyed(TShellnode* node);
    void CurrentChanged();
    void SelectQuietly(QTreeWidgetItem* item);
    void ForEachNode(const std::function<void(TShellnode*)>& action);
    QWidget* MessageOwner() const;

    std::shared_ptr<TShellFolder> FDesktop;
    TShellnode* FRoot = nullptr;
    bool FShowVirtualFolders = true;
    bool FShowSharedOverlay = true;
    bool FShowLinkOverlay = true;
    bool FRootUsePIDL = true;
    TPidls FRootPIDL = PIDL_DESKTOP;
    TItemIdList FUserDefinedPIDL;
    std::string FRootDir = "/";
    TVisOptions FOptions = TF_FOLDERS;
    std::uint32_t FChangeFilter = 6;
    bool FUpdAutoThread = true;
    bool FUpdAuto = true;
    bool FUpdAutoRec = false;
    bool FShowIcons = true;
    std::vector<std::string> FFileMasks{"*.*"};
    bool FFileMaskUse = false;
    TFileSortType FFileSortType = so_Name;
    TFileSortOrder FFileSortOrder = so_Ascending;
    TPopupMenuMode FPopupMenuMode = pmm_System;
    QMenu* FPopupMenu = nullptr;
    bool FShowMessages = true;
    bool FReadOnly = false;
    QWidget* FMessageOwner = nullptr;
    std::string FPendingPath;

    // OnChange is held back while the node list is rebuilt or re-read (FQuiet) and while a
    // context menu selects its node (FMenuSelect); FChangeCount counts the raised ones.
    int FQuiet = 0;
    int FMenuSelect = 0;
    int FChangeCount = 0;
    bool FDestroying = false;
    bool FProbing = false;
    int FExpanding = 0;
    int FUpdateDepth = 0;
    // Nodes whose deletion is being watched (set to null when deleted).
    std::vector<std::vector<TShellnode*>*> FWatches;
    int FWheelDelta = 0;
    std::vector<TMountEntry> FVolumes;
    std::unique_ptr<TMountMonitor> FMountMonitor;
    std::map<std::tuple<int, int, int>, QIcon> FIcons;
};

}  // namespace pix
