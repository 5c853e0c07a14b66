// SPDX-License-Identifier: MIT
#include "thumbview/thumb_grid.h"

#include "platform/file_system.h"
#include "platform/gui/dib_qimage.h"
#include "thumbs/thumb_maker.h"
#include "thumbs/thumb_thread.h"

#include <QApplication>
#include <QFontMetrics>
#include <QPainter>

#include <algorithm>
#include <cstdint>
#include <memory>

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
}

// FTarget is declared last and so destroyed first: a thread's call arriving during or after the
// destruction is dropped; no thread holds anything else of the grid.
TLwThumbGrid::~TLwThumbGrid() = default;

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
    FDirectory = value;
    ReloadDirectory(false);
}

void TLwThumbGrid::ReloadDirectory(bool keepPosition) {
    TWaitCursor wait;
    FKeepPosition = keepPosition;
    // Files keeps the old names until the new list arrives; meanwhile every cell maps to -1.
    FThumbs.Clear();
    FPixmaps.clear();
    FDrawn.clear();
    FLoading = false;
    FLoadedCount = 0;
    if (!FDirectory.empty() && DirectoryExists(FDirectory)) {
        ++FGeneration;
        auto thread = std::make_unique<TThumbThread>(FDirectory);
        thread->Generation = FGeneration;
        thread->ThumbWidth = FThumbWidth;
        thread->ThumbHeight = FThumbHeight;
        // Each load has its own: a thread still ending never sees the next load's screen.
        FVisible = std::make_shared<TThumbPriority>();
        thread->Visible = FVisible;
        thread->SetSyncTarget(FTarget);
        thread->OnFileList = [this](TThumbThread& sender, const std::vector<std::string>& list) {
            ThreadFileList(sender, list);
        };
        thread->OnThumb = [this](TThumbThread& sender, int index) {
            ThreadNewThumb(sender, index);
        };
        thread->OnTerminate = [this](TThread& sender) {
            ThreadEnded(static_cast<const TThumbThread&>(sender));
        };
        // The thread frees itself when its body has ended.
        thread.release()->Resume();
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
        FFiles = list;
        FThumbs.Clear();
        for (std::size_t i = 0; i < list.size(); ++i) FThumbs.Add(std::make_unique<TThumbInfo>());
        FPixmaps.assign(list.size(), QPixmap());
        FDrawn.clear();
        if (list.empty()) {
            SetColCount(1);
            SetRowCount(1);
        } else {
            const int count = FThumbs.Count();
            const int cols = std::max(1, ClientWidth() / DefaultColWidth());
            SetColCount(cols);
            SetRowCount(static_cast<int>((std::int64_t{count} + cols - 1) / cols));
        }
        if (!FKeepPosition) {
            FFileIndex = -1;
            SetTopRow(0);
        }
        SelectFileIndex(FFileIndex);
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
