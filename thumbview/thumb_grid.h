// SPDX-License-Identifier: MIT
// The grid of a folder's thumbnails: one framed cell per image file, named underneath.
#pragma once

#include "thumbview/custom_grid.h"

#include "platform/disc_monitor.h"
#include "platform/thread.h"
#include "thumbs/thumb_info.h"

#include <QPixmap>
#include <QString>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace pix {

class TThumbPriority;
class TThumbThread;
struct TThumbCarry;

// A name fitted into a cell's text strip.
struct TFittedText {
    QString Text;
    bool Cut = false;  // shortened and ended with ".."; drawn left-aligned instead of centred
};

// When `text` is wider than `maxWidth`, drops characters from its end until it fits, then
// two more, and appends "..". `widthOf` measures a text in pixels.
TFittedText FitCellText(const QString& text, int maxWidth,
                        const std::function<int(const QString&)>& widthOf);

// Cell colours as the program stores them: Windows COLORREF values, 0x00BBGGRR.
constexpr std::uint32_t kColorTeal = 8421376;
constexpr std::uint32_t kColorGray = 8421504;
constexpr std::uint32_t kColorSilver = 12632256;
QColor ColorOfColorRef(std::uint32_t colorRef);

// Shows the image files of Directory. Setting the folder (or ReloadDirectory) starts a
// generation thread whose file list and entries the grid takes over as they come; the
// columns follow the control's width and a file index c + r × ColCount addresses cell
// (c, r), Files() and Thumbs() alike.
//
// The grid follows its folder while it shows it: files added, written, renamed or removed
// reload it, keeping the selected file (or, when that went, its position) and the top row,
// at most once a second while changes go on. Such a reload reuses what the grid has: cells
// keep their pictures until their entries arrive again, and only new or changed files are
// made. Because each write of the cache file rewrites it whole, reloads write it at most
// every 30 seconds; what they made meanwhile is carried from load to load, and written when
// the grid leaves the folder, at FlushCache, or once the changes have rested.
class TLwThumbGrid : public TCustomGrid, private TMonitoredNode {
public:
    explicit TLwThumbGrid(QWidget* parent = nullptr);
    ~TLwThumbGrid() override;

    static constexpr int kDefaultFrameBorder = 5;
    static constexpr int kDefaultTextBorder = 16;
    static constexpr int kDefaultCellBorder = 2;

    // The thumbnail box, the frame derived from it, and the borders around and under it.
    int ThumbWidth() const { return FThumbWidth; }
    int ThumbHeight() const { return FThumbHeight; }
    void SetThumbWidth(int value);
    void SetThumbHeight(int value);
    int FrameWidth() const { return FFrameWidth; }
    int FrameHeight() const { return FFrameHeight; }
    int FrameBorder() const { return FFrameBorder; }
    void SetFrameBorder(int value);
    int TextBorder() const { return FTextBorder; }
    void SetTextBorder(int value);
    int CellBorder() const { return FCellBorder; }
    // Takes effect at the next change of the cell size.
    void SetCellBorder(int value);

    // The folder shown (a path; a trailing "/" is optional). Setting a different text
    // reloads.
    const std::string& Directory() const { return FDirectory; }
    void SetDirectory(const std::string& value);
    // Starts a new load of Directory; with keepPosition the selected index (clamped to the
    // new number of files) and the top row stay.
    void ReloadDirectory(bool keepPosition);
    // Writes the folder's cache file now when reloads left records for it (a thread does
    // it; the program's end waits for it as for a load). Before the program ends.
    void FlushCache();

    // How the grid follows its folder; tests and benchmarks shorten the times.
    struct TFollowTimes {
        std::chrono::milliseconds Settle{200};        // from a change to its reload at least
        std::chrono::milliseconds ReloadEvery{1000};  // between the starts of two reloads
        std::chrono::milliseconds WriteEvery{30000};  // between two writes of the cache file
    };
    void SetFollowTimes(const TFollowTimes& times) { FFollowTimes = times; }
    // Reloads started because the folder changed.
    int FollowReloads() const { return FFollowReloads; }

    TThumbList& Thumbs() { return FThumbs; }
    const TThumbList& Thumbs() const { return FThumbs; }
    const std::vector<std::string>& Files() const { return FFiles; }
    // The selected file, -1 for none.
    int FileIndex() const { return FFileIndex; }
    std::int32_t Generation() const { return FGeneration; }
    // True from the arrival of the current load's file list until its thread has ended.
    bool Loading() const { return FLoading; }
    // The files of the current load whose entries have arrived.
    int LoadedCount() const { return FLoadedCount; }

    int CellToFileIndex(int col, int row) const;
    // Selects the file, clamped to the entries (nothing when there are none).
    void SelectFileIndex(int index);
    // True while more than CellBorder + FrameBorder pixels of the file's row show.
    bool IsFileIndexVisible(int index) const;
    bool CellAtPoint(int x, int y, int& col, int& row) const { return MouseToCell(x, y, col, row); }

    // The folder was loaded, reloaded or cleared. A reload that follows the folder raises it
    // only when the selected file went.
    std::function<void()> OnDirChange;
    // The folder itself was removed or renamed: the grid is empty now.
    std::function<void()> OnDirGone;
    // The entry of a file has arrived.
    std::function<void(int fileIndex)> OnNewThumb;
    // Loading or LoadedCount changed: a load started or ended, its list or an entry came.
    std::function<void()> OnLoadProgress;
    // Replaces the grid's own drawing of every cell when assigned.
    std::function<void(int col, int row, const QRect& rect, TGridDrawState state,
                       QPainter& painter)>
        OnDrawCell;

protected:
    bool SelectCell(int col, int row) override;
    void DrawCell(int col, int row, const QRect& rect, TGridDrawState state,
                  QPainter& painter) override;
    void Resized() override;
    void TopLeftChanged() override;

private:
    // A change reported by the folder's monitor.
    void FolderChanged(TDiscMonitorThread& sender) override;
    // Watches Directory (again), or nothing for an empty one.
    void WatchDirectory();
    void ScheduleFollow();
    void FollowChange();
    // Starts the load of Directory; `follow` for a reload caused by a change.
    void StartLoad(bool follow);
    // Writes the carried records into `directory`'s cache file on a thread of its own.
    void StartFlush(const std::string& directory, std::shared_ptr<const TThumbCarry> carry);
    // The thread of the load makes the cells on screen first.
    void ShowVisibleCells();
    // Drops the pixels of cells far from the screen once many cells have them.
    void TrimPixmaps();
    void ComputeCellSize();
    void ThreadFileList(TThumbThread& sender, const std::vector<std::string>& list);
    void ThreadNewThumb(TThumbThread& sender, int index);
    void ThreadEnded(const TThumbThread& sender);
    void LoadProgress();
    // The entry's thumbnail as a pixmap, converted on first use.
    const QPixmap* ThumbPixmap(int index);
    void DrawCellContent(int index, const QRect& rect, TGridDrawState state, QPainter& painter);

    int FThumbWidth;
    int FThumbHeight;
    int FFrameWidth = 0;
    int FFrameHeight = 0;
    int FFrameBorder = kDefaultFrameBorder;
    int FTextBorder = kDefaultTextBorder;
    int FCellBorder = kDefaultCellBorder;
    TThumbList FThumbs;
    int FFileIndex = -1;
    std::vector<std::string> FFiles;
    // One pixmap per entry, made from its thumbnail when drawn; null until then, and again
    // once the cell is far from the screen. FDrawn lists the entries that have one.
    std::vector<QPixmap> FPixmaps;
    std::vector<int> FDrawn;
    std::shared_ptr<TThumbPriority> FVisible;
    std::string FDirectory;
    std::int32_t FGeneration = 0;
    bool FLoading = false;
    int FLoadedCount = 0;
    // Recursive: a handler's event (a message box, say) may run a nested event loop in
    // which the next delivery arrives on the same thread.
    std::recursive_mutex FListLock;
    std::recursive_mutex FThumbLock;
    bool FKeepPosition = false;

    // Following the folder.
    std::unique_ptr<TDiscMonitorThread> FMonitor;
    QTimer FFollowTimer;
    QTimer FFlushTimer;
    TFollowTimes FFollowTimes;
    std::chrono::steady_clock::time_point FLastReload;
    std::chrono::steady_clock::time_point FLastWrite;
    bool FFollowPending = false;  // a change waits for the running load to end
    bool FFollowing = false;      // the current load follows a change
    std::string FKeepName;        // the selected file when that load started
    // Per file of the current list: its entry has arrived (in this load, or kept from the
    // one before), and it was kept from before.
    std::vector<bool> FArrived;
    std::vector<bool> FKept;
    int FFollowReloads = 0;
    std::shared_ptr<const TThumbCarry> FCarry;
    bool FCarryFlushing = false;  // a flush writes FCarry; reloads take it until it has ended
    // The thread of the current load until its end is reported; null when none runs.
    TThumbThread* FThread = nullptr;
    // Threads call in through this; once it is gone their calls are dropped.
    TSyncTarget FTarget;
};

}  // namespace pix
