// SPDX-License-Identifier: MIT
#include "thumbview/thumb_grid.h"

#include "platform/file_system.h"
#include "platform/gui/dib_qimage.h"
#include "thumbs/thumb_cache.h"
#include "thumbs/thumb_maker.h"
#include "thumbs/thumb_thread.h"

#include <QApplication>
#include <QFontMetrics>
#include <QPainter>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <utility>

namespace pix {
namespace {

constexpr std::uint32_t kColorWhite = 16777215;
constexpr std::uint32_t kColorBlack = 0;

// Restores the screen cursor however the reload ends.
class TWaitCursor {
public:
    TWaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~TWaitCursor() { QApplication::restoreOverrideCursor(); }
    TWaitCursor(const TWaitCursor&) = delete;
    TWaitCursor& operator=(const TWaitCursor&) = delete;
};

// The outline of the rectangle from (left, top) to (right, bottom), drawn as a pen that
// starts at the bottom-left corner, goes up, right, down and back left, each line without
// its end point: the top and left lines in `first`, the right and bottom lines in `second`.
void DrawOutline(QPainter& painter, int left, int top, int right, int bottom, const QColor& first,
                 const QColor& second) {
    painter.setPen(first);
    if (bottom > top) painter.drawLine(left, bottom, left, top + 1);
    if (right > left) painter.drawLine(left, top, right - 1, top);
    painter.setPen(second);
    if (bottom > top) painter.drawLine(right, top, right, bottom - 1);
    if (right > left) painter.drawLine(right, bottom, left + 1, bottom);
}

std::string WithSlash(const std::string& directory) {
    return directory.empty() || directory.back() != '/' ? directory + '/' : directory;
}

// Removes the last character, keeping a surrogate pair whole.
void DropLast(QString& text) {
    if (text.isEmpty()) return;
    const qsizetype n = text.size();
    const bool pair = n >= 2 && text[n - 1].isLowSurrogate() && text[n - 2].isHighSurrogate();
    text.chop(pair ? 2 : 1);
}

}  // namespace

QColor ColorOfColorRef(std::uint32_t colorRef) {
    return QColor(static_cast<int>(colorRef & 0xFF), static_cast<int>((colorRef >> 8) & 0xFF),
                  static_cast<int>((colorRef >> 16) & 0xFF));
}

TFittedText FitCellText(const QString& text, int maxWidth,
                        const std::function<int(const QString&)>& widthOf) {
    TFittedText result{text, false};
    if (widthOf(text) <= maxWidth) return result;
    result.Cut = true;
    while (!result.Text.isEmpty() && widthOf(result.Text) > maxWidth) DropLast(result.Text);
    DropLast(result.Text);
    DropLast(result.Text);
    result.Text += QStringLiteral("..");
    return result;
}

TLwThumbGrid::TLwThumbGrid(QWidget* parent)
    : TCustomGrid(parent), FThumbWidth(kDefaultThumbWidth), FThumbHeight(kDefaultThumbHeight) {
    SetColor(ColorOfColorRef(kColorSilver));
    SetOptions(goThumbTracking);
    SetColCount(1);
    SetRowCount(1);
    ComputeCellSize();
    FFollowTimer.setSingleShot(true);
    QObject::connect(&FFollowTimer, &QTimer::timeout, this, [this] { FollowChange(); });
    FFlushTimer.setSingleShot(true);
    QObject::connect(&FFlushTimer, &QTimer::timeout, this, [this] {
        if (FThread != nullptr) {
            FThread->WriteCacheFile = true;
        } else if (FCarry && !FCarryFlushing) {
            // A reload that starts before this write has ended reads the cache file as it
            // was: it still takes the carried records instead of making their files again,
            // and counts this write as the last one instead of writing the file once more.
            StartFlush(FDirectory, FCarry);
            FCarryFlushing = true;
            FLastWrite = std::chrono::steady_clock::now();
        }
    });
}

// The monitor goes first, dropping a report on its way. FTarget is declared last and so
// destroyed next: a thread's call arriving during or after the destruction is dropped; no
// thread holds anything else of the grid.
TLwThumbGrid::~TLwThumbGrid() {
    FMonitor.reset();
    FThread = nullptr;
}

void TLwThumbGrid::ComputeCellSize() {
    FFrameWidth = 2 * FFrameBorder + FThumbWidth + 4;
    FFrameHeight = 2 * FFrameBorder + FThumbHeight + FTextBorder + 4;
    SetDefaultColWidth(FFrameWidth + 2 * FCellBorder);
    SetDefaultRowHeight(FFrameHeight + 2 * FCellBorder);
}

void TLwThumbGrid::SetThumbWidth(int value) {
    if (value == FThumbWidth) return;
    FThumbWidth = value;
    ComputeCellSize();
}

void TLwThumbGrid::SetThumbHeight(int value) {
    if (value == FThumbHeight) return;
    FThumbHeight = value;
    ComputeCellSize();
}

void TLwThumbGrid::SetFrameBorder(int value) {
    if (value == FFrameBorder) return;
    FFrameBorder = value;
    ComputeCellSize();
}

void TLwThumbGrid::SetTextBorder(int value) {
    if (value == FTextBorder) return;
    FTextBorder = value;
    ComputeCellSize();
}

void TLwThumbGrid::SetCellBorder(int value) {
    if (value == FCellBorder) return;
    FCellBorder = value;
    viewport()->update();
}

void TLwThumbGrid::SetDirectory(const std::string& value) {
    if (value == FDirectory) return;
    FlushCache();
    FDirectory = value;
    FLastWrite = std::chrono::steady_clock::now();
    ReloadDirectory(false);
}

void TLwThumbGrid::FlushCache() {
    FFlushTimer.stop();
    if (FThread != nullptr)
        FThread->WriteCacheFile = true;  // it took the carried records over
    else if (FCarry && !FCarryFlushing)
        StartFlush(FDirectory, FCarry);
    FCarry.reset();
    FCarryFlushing = false;
}

void TLwThumbGrid::WatchDirectory() {
    if (FMonitor && FMonitor->Path == FDirectory && !FMonitor->Failed()) return;
    FMonitor.reset();
    if (FDirectory.empty()) return;
    FMonitor = std::make_unique<TDiscMonitorThread>(
        static_cast<TMonitoredNode*>(this), FDirectory,
        FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_ATTRIBUTES | FILE_NOTIFY_CHANGE_SIZE |
            FILE_NOTIFY_CHANGE_LAST_WRITE,
        // The grid's own cache file, with the temporary names it is written under.
        std::vector<std::string>{kThumbCacheName});
    FMonitor->Resume();
}

void TLwThumbGrid::FolderChanged(TDiscMonitorThread& sender) {
    if (&sender == FMonitor.get()) ScheduleFollow();
}

void TLwThumbGrid::ScheduleFollow() {
    if (FFollowTimer.isActive()) return;
    const auto since = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - FLastReload);
    FFollowTimer.start(std::max(FFollowTimes.Settle, FFollowTimes.ReloadEvery - since));
}

void TLwThumbGrid::FollowChange() {
    if (FThread != nullptr) {
        // The running load ends first, handing on what it made; its end starts this one.
        FFollowPending = true;
        if (std::chrono::steady_clock::now() - FLastWrite < FFollowTimes.WriteEvery)
            FThread->WriteCacheFile = false;
        FThread->Terminate();
        return;
    }
    if (!DirectoryExists(FDirectory)) {
        // Removed or renamed: nothing of it is shown any more. The watch of a renamed folder
        // would follow it to its new name; a new one is set up for the path.
        FMonitor.reset();
        FCarry.reset();
        FCarryFlushing = false;
        ReloadDirectory(false);
        if (OnDirGone) OnDirGone();
        return;
    }
    ++FFollowReloads;
    StartLoad(true);
    LoadProgress();
}

void TLwThumbGrid::StartLoad(bool follow) {
    ++FGeneration;
    FLastReload = std::chrono::steady_clock::now();
    FFollowing = follow;
    FFollowPending = false;
    FKeepName.clear();
    if (follow && FFileIndex >= 0 && static_cast<std::size_t>(FFileIndex) < FFiles.size())
        FKeepName = FFiles[static_cast<std::size_t>(FFileIndex)];
    auto thread = std::make_unique<TThumbThread>(FDirectory);
    thread->Generation = FGeneration;
    thread->ThumbWidth = FThumbWidth;
    thread->ThumbHeight = FThumbHeight;
    thread->Carry = FCarry;
    // A reload that follows a change writes the cache file only when the last write is old
    // enough; the others write it as a folder's load always has.
    thread->WriteCacheFile = !follow || FLastReload - FLastWrite >= FFollowTimes.WriteEvery;
    // Each load has its own: a thread still ending never sees the next load's screen.
    FVisible = std::make_shared<TThumbPriority>();
    thread->Visible = FVisible;
    thread->SetSyncTarget(FTarget);
    thread->OnFileList = [this](TThumbThread& sender, const std::vector<std::string>& list) {
        ThreadFileList(sender, list);
    };
    thread->OnThumb = [this](TThumbThread& sender, int index) { ThreadNewThumb(sender, index); };
    thread->OnTerminate = [this](TThread& sender) {
        ThreadEnded(static_cast<const TThumbThread&>(sender));
    };
    FThread = thread.get();
    // The thread frees itself when its body has ended.
    thread.release()->Resume();
}

void TLwThumbGrid::StartFlush(const std::string& directory,
                              std::shared_ptr<const TThumbCarry> carry) {
    if (directory.empty() || !carry) return;
    auto thread = std::make_unique<TThumbThread>(directory);
    thread->ThumbWidth = carry->ThumbWidth;
    thread->ThumbHeight = carry->ThumbHeight;
    thread->Carry = std::move(carry);
    thread->MakeMissing = false;
    // Nothing comes back: the cache file is all it makes.
    thread.release()->Resume();
}

void TLwThumbGrid::ReloadDirectory(bool keepPosition) {
    TWaitCursor wait;
    FKeepPosition = keepPosition;
    FFollowTimer.stop();
    FFollowPending = false;
    // A load that runs on writes what it has instead of handing it to this one.
    if (FThread != nullptr) FThread->WriteCacheFile = true;
    FThread = nullptr;
    // Files keeps the old names until the new list arrives; meanwhile every cell maps to -1.
    FThumbs.Clear();
    FPixmaps.clear();
    FDrawn.clear();
    FLoading = false;
    FLoadedCount = 0;
    WatchDirectory();
    if (!FDirectory.empty() && DirectoryExists(FDirectory)) {
        StartLoad(false);
    } else {
        // No folder has no files: the names go too, so that Files and Thumbs stay in step.
        FFiles.clear();
        SetColCount(1);
        SetRowCount(1);
        FFileIndex = -1;
        SetTopRow(0);
        SelectFileIndex(-1);
        viewport()->update();
    }
    if (OnDirChange) OnDirChange();
    LoadProgress();
}

void TLwThumbGrid::LoadProgress() {
    if (OnLoadProgress) OnLoadProgress();
}

void TLwThumbGrid::ThreadEnded(const TThumbThread& sender) {
    const bool current = &sender == FThread;
    if (current) FThread = nullptr;
    if (sender.CacheWritten() && sender.Directory() == WithSlash(FDirectory))
        FLastWrite = std::chrono::steady_clock::now();
    if (current) {
        // What the cache file still lacks waits for the next load, or the next write.
        FCarry = sender.Carried();
        FCarryFlushing = false;
        if (FCarry) {
            const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(
                FLastWrite + FFollowTimes.WriteEvery - std::chrono::steady_clock::now());
            FFlushTimer.start(std::max(wait, std::chrono::milliseconds(0)));
        }
    } else if (sender.Carried()) {
        // A load of a folder the grid has left, or one a reload replaced.
        StartFlush(sender.Directory(), sender.Carried());
    }
    if (current && FFollowPending) {
        FFollowPending = false;
        ScheduleFollow();
    }
    if (sender.Generation != FGeneration || !FLoading) return;
    FLoading = false;
    LoadProgress();
}

void TLwThumbGrid::ThreadFileList(TThumbThread& sender, const std::vector<std::string>& list) {
    std::lock_guard lock(FListLock);
    if (sender.Generation != FGeneration) {
        sender.Terminate();
        return;
    }
    try {
        // A reload that follows a change keeps each remaining file's entry and picture until
        // its entry arrives again; the others start empty.
        TThumbList thumbs;
        std::vector<QPixmap> pixmaps(list.size());
        std::vector<int> drawn;
        std::vector<bool> arrived(list.size(), false);
        std::unordered_map<std::string_view, int> before;
        if (FFollowing) {
            const std::size_t count = std::min(
                {FFiles.size(), FArrived.size(), static_cast<std::size_t>(FThumbs.Count())});
            for (std::size_t i = 0; i < count; ++i)
                if (FArrived[i]) before.emplace(FFiles[i], static_cast<int>(i));
        }
        for (std::size_t i = 0; i < list.size(); ++i) {
            auto info = std::make_unique<TThumbInfo>();
            const auto old = before.find(list[i]);
            if (old != before.end()) {
                info->TakeFrom(FThumbs.Items(old->second));
                arrived[i] = true;
                const auto slot = static_cast<std::size_t>(old->second);
                if (slot < FPixmaps.size() && !FPixmaps[slot].isNull()) {
                    pixmaps[i] = std::move(FPixmaps[slot]);
                    drawn.push_back(static_cast<int>(i));
                }
            }
            thumbs.Add(std::move(info));
        }
        // The selected file keeps its selection where it moved to; when it went, its place
        // passes to its neighbour as after a deletion, and the owner hears of it.
        bool selectionMoved = false;
        if (FFollowing && !FKeepName.empty()) {
            const auto at = std::find(list.begin(), list.end(), FKeepName);
            const int index = at != list.end() ? static_cast<int>(at - list.begin()) : FFileIndex;
            selectionMoved = at == list.end() || index != FFileIndex;
            FFileIndex = index;
        }
        FFiles = list;
        FKept = arrived;
        FArrived = std::move(arrived);
        FThumbs = std::move(thumbs);
        FPixmaps = std::move(pixmaps);
        FDrawn = std::move(drawn);
        if (list.empty()) {
            SetColCount(1);
            SetRowCount(1);
        } else {
            const int count = FThumbs.Count();
            const int cols = std::max(1, ClientWidth() / DefaultColWidth());
            SetColCount(cols);
            SetRowCount(static_cast<int>((std::int64_t{count} + cols - 1) / cols));
        }
        if (!FKeepPosition && !FFollowing) {
            FFileIndex = -1;
            SetTopRow(0);
        }
        if (selectionMoved && OnDirChange) OnDirChange();
        SelectFileIndex(FFileIndex);
        // The entry of a moved selection is announced again when it arrives.
        if (selectionMoved && FFileIndex >= 0) FKept[static_cast<std::size_t>(FFileIndex)] = false;
        ShowVisibleCells();
        viewport()->update();
        FLoading = true;
        FLoadedCount = 0;
        LoadProgress();
    } catch (...) {
        // The thread's synchronized call hands the exception on to the program's report.
        sender.Terminate();
        throw;
    }
}

void TLwThumbGrid::ThreadNewThumb(TThumbThread& sender, int index) {
    std::lock_guard lock(FThumbLock);
    if (sender.Generation != FGeneration) {
        sender.Terminate();
        return;
    }
    try {
        if (index < 0 || index >= FThumbs.Count()) return;
        FThumbs.Items(index).TakeFrom(sender.Info);
        ++FLoadedCount;
        const auto slot = static_cast<std::size_t>(index);
        if (slot < FArrived.size()) FArrived[slot] = true;
        if (slot < FKept.size() && FKept[slot] && sender.FromCache()) {
            // The same entry as shown, read again from the cache: its picture stays.
            LoadProgress();
            return;
        }
        if (static_cast<std::size_t>(index) < FPixmaps.size())
            FPixmaps[static_cast<std::size_t>(index)] = QPixmap();
        if (IsFileIndexVisible(index)) InvalidateCell(index % ColCount(), index / ColCount());
        if (OnNewThumb) OnNewThumb(index);
        LoadProgress();
    } catch (...) {
        sender.Terminate();
        throw;
    }
}

int TLwThumbGrid::CellToFileIndex(int col, int row) const {
    if (FThumbs.Count() == 0 || col < 0 || row < 0 || col >= ColCount()) return -1;
    const std::int64_t index = std::int64_t{col} + std::int64_t{row} * ColCount();
    return index < FThumbs.Count() ? static_cast<int>(index) : -1;
}

void TLwThumbGrid::SelectFileIndex(int index) {
    const int count = FThumbs.Count();
    if (count == 0)
        index = -1;
    else if (index >= count)
        index = count - 1;
    else if (index < 0)
        index = 0;
    FFileIndex = index;
    // The selection follows even when the index stays, since a new list may have put the
    // same index into another cell.
    if (index >= 0) {
        const int col = index % ColCount();
        const int row = index / ColCount();
        SetSelection({col, row, col, row});
    }
}

bool TLwThumbGrid::IsFileIndexVisible(int index) const {
    const std::int64_t rowHeight = DefaultRowHeight();
    if (index < 0 || rowHeight <= 0 || ColCount() <= 0) return false;
    const std::int64_t row = index / ColCount();
    const std::int64_t shown =
        (std::int64_t{ClientHeight()} + rowHeight - FCellBorder - FFrameBorder) / rowHeight;
    return row >= TopRow() && row < TopRow() + shown;
}

bool TLwThumbGrid::SelectCell(int col, int row) {
    // OnSelectCell sees the cell's file as FileIndex (-1 for an empty cell); a refused
    // cell leaves the selection where it was, and FileIndex with it.
    const int previous = FFileIndex;
    FFileIndex = CellToFileIndex(col, row);
    const bool canSelect = AskSelectCell(col, row, FFileIndex >= 0);
    if (!canSelect) FFileIndex = previous;
    return canSelect;
}

void TLwThumbGrid::Resized() {
    const TGridRect& selection = Selection();
    const int index = CellToFileIndex(selection.Left, selection.Top);
    const int count = FThumbs.Count();
    int cols = ClientWidth() / DefaultColWidth();
    if (cols <= 0 || count == 0) cols = 1;
    if (cols == ColCount()) {
        ShowVisibleCells();
        return;
    }
    SetColCount(cols);
    SetRowCount(static_cast<int>((std::int64_t{count} + cols - 1) / cols));
    if (index > 0) {
        const int col = index % cols;
        const int row = index / cols;
        SetSelection({col, row, col, row});
        // A view lower than one row still shows the selected row at its top.
        const int shown = std::max(1, ClientHeight() / DefaultRowHeight());
        if (row >= TopRow() + shown)
            SetTopRow(row - shown + 1);
        else if (row < TopRow())
            SetTopRow(row);
    }
    ShowVisibleCells();
    viewport()->update();
}

void TLwThumbGrid::TopLeftChanged() {
    ShowVisibleCells();
    TrimPixmaps();
}

void TLwThumbGrid::ShowVisibleCells() {
    if (!FVisible) return;
    const int rowHeight = std::max(1, DefaultRowHeight());
    // The rows that show even in part.
    const int rows = (ClientHeight() + rowHeight - 1) / rowHeight;
    const std::int64_t first = std::int64_t{TopRow()} * ColCount();
    const std::int64_t count = std::int64_t{std::max(rows, 1)} * ColCount();
    FVisible->Set(static_cast<int>(std::min<std::int64_t>(first, INT32_MAX)),
                  static_cast<int>(std::min<std::int64_t>(count, INT32_MAX)));
}

void TLwThumbGrid::TrimPixmaps() {
    const int rowHeight = std::max(1, DefaultRowHeight());
    const std::int64_t shown =
        std::int64_t{std::max(1, (ClientHeight() + rowHeight - 1) / rowHeight)} * ColCount();
    // Up to five screens of cells keep their pixels; past that, those more than two screens
    // away drop them, and a deferred thumbnail is read from the cache file again when its
    // cell comes back.
    constexpr std::int64_t kMinKept = 512;
    if (static_cast<std::int64_t>(FDrawn.size()) <= std::max(5 * shown, kMinKept)) return;
    const std::int64_t first = std::int64_t{TopRow()} * ColCount();
    const std::int64_t keepFrom = first - 2 * shown;
    const std::int64_t keepTo = first + 3 * shown;
    std::erase_if(FDrawn, [&](int index) {
        if (index >= keepFrom && index < keepTo) return false;
        const auto slot = static_cast<std::size_t>(index);
        if (slot < FPixmaps.size()) FPixmaps[slot] = QPixmap();
        if (index < FThumbs.Count()) FThumbs.Items(index).Thumbnail.Release();
        return true;
    });
}

const QPixmap* TLwThumbGrid::ThumbPixmap(int index) {
    const auto slot = static_cast<std::size_t>(index);
    if (slot >= FPixmaps.size()) FPixmaps.resize(static_cast<std::size_t>(FThumbs.Count()));
    QPixmap& pixmap = FPixmaps[slot];
    if (!pixmap.isNull()) return &pixmap;
    TThumbnail& thumbnail = FThumbs.Items(index).Thumbnail;
    // A thumbnail still in the cache file is read here; one that can no longer be read
    // leaves the cell empty.
    const TDibPicture* picture = thumbnail.get();
    if (picture == nullptr || picture->Section() == nullptr) return nullptr;
    pixmap = QPixmap::fromImage(DibToQImage(*picture->Section()));
    if (pixmap.isNull()) return nullptr;
    // The pixmap is what is drawn; the cache file keeps the bitmap.
    thumbnail.Release();
    FDrawn.push_back(index);
    return &pixmap;
}

void TLwThumbGrid::DrawCell(int col, int row, const QRect& rect, TGridDrawState state,
                            QPainter& painter) {
    if (OnDrawCell) {
        OnDrawCell(col, row, rect, state, painter);
        return;
    }
    const int index = CellToFileIndex(col, row);
    if (index < 0) {
        painter.fillRect(rect, Color());
        return;
    }
    DrawCellContent(index, rect, state, painter);
}

void TLwThumbGrid::DrawCellContent(int index, const QRect& rect, TGridDrawState state,
                                   QPainter& painter) {
    QColor brush = ColorOfColorRef(kColorSilver);
    QColor font = ColorOfColorRef(kColorBlack);
    if (state.Selected) {
        brush = ColorOfColorRef(state.Focused ? kColorTeal : kColorGray);
        font = ColorOfColorRef(kColorWhite);
    }
    painter.setRenderHint(QPainter::Antialiasing, false);

    // The frame, as right/bottom-exclusive edges: its outline takes the right and bottom
    // edge lines, the fill stops short of them.
    int left = rect.left() + FCellBorder;
    int top = rect.top() + FCellBorder;
    const int right = left + FFrameWidth;
    int bottom = top + FFrameHeight;
    DrawOutline(painter, left, top, right, bottom, ColorOfColorRef(kColorWhite),
                ColorOfColorRef(kColorBlack));
    ++left;
    ++top;
    if (right > left && bottom > top)
        painter.fillRect(left, top, right - left, bottom - top, brush);
    bottom -= FTextBorder;

    // The thumbnail sits one pixel right of and below its centred position, inside a
    // sunken outline that covers its last column and row.
    if (const QPixmap* pixmap = ThumbPixmap(index)) {
        const int w = pixmap->width();
        const int h = pixmap->height();
        const int x = (left + right - w) / 2;
        const int y = (top + bottom - h) / 2;
        painter.drawPixmap(x + 1, y + 1, *pixmap);
        DrawOutline(painter, x, y, x + w, y + h, ColorOfColorRef(kColorGray),
                    ColorOfColorRef(kColorWhite));
    }

    const int textLeft = left + 1;
    const int textRight = right - 2;
    const QFontMetrics metrics(painter.font());
    const int textHeight = metrics.height();
    const int textTop = bottom - 2 + (FTextBorder - textHeight) / 2;
    const auto slot = static_cast<std::size_t>(index);
    const QString name = slot < FFiles.size() ? QString::fromUtf8(FFiles[slot]) : QString();
    const TFittedText fitted =
        FitCellText(name, textRight - textLeft,
                    [&metrics](const QString& s) { return metrics.horizontalAdvance(s); });
    const int textX =
        fitted.Cut ? textLeft : (textLeft + textRight - metrics.horizontalAdvance(fitted.Text)) / 2;
    painter.setPen(font);
    painter.drawText(textX, textTop + metrics.ascent(), fitted.Text);
}

}  // namespace pix
