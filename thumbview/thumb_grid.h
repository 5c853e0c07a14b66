// SPDX-License-Identifier: MIT
// The grid of a folder's thumbnails: one framed cell per image file, named underneath.
#pragma once

#include "platform/thread.h"
#include "thumbs/thumb_info.h"
#include "thumbview/custom_grid.h"

#include <QPixmap>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace pix {

class TThumbPriority;
class TThumbThread;

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
class TLwThumbGrid : public TCustomGrid {
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

    // The folder was loaded, reloaded or cleared.
    std::function<void()> OnDirChange;
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
    // Threads call in through this; once it is gone their calls are dropped.
    TSyncTarget FTarget;
};

}  // namespace pix
