// SPDX-License-Identifier: MIT
#include "thumbview/custom_grid.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QToolTip>

#include <algorithm>

namespace pix {

TCustomGrid::TCustomGrid(QWidget* parent) : QAbstractScrollArea(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    viewport()->setMouseTracking(true);
    // The cells paint every pixel themselves, over the background filled in paintEvent.
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    verticalScrollBar()->setSingleStep(1);
    verticalScrollBar()->setTracking(false);
    UpdateScrollBar();
}

TCustomGrid::~TCustomGrid() = default;

void TCustomGrid::SetColCount(int value) {
    value = std::max(1, value);
    if (value == FColCount) return;
    FColCount = value;
    FCol = std::min(FCol, FColCount - 1);
    FSelection.Left = std::min(FSelection.Left, FColCount - 1);
    FSelection.Right = std::min(FSelection.Right, FColCount - 1);
    viewport()->update();
}

void TCustomGrid::SetRowCount(int value) {
    value = std::max(1, value);
    if (value == FRowCount) return;
    FRowCount = value;
    FRow = std::min(FRow, FRowCount - 1);
    FSelection.Top = std::min(FSelection.Top, FRowCount - 1);
    FSelection.Bottom = std::min(FSelection.Bottom, FRowCount - 1);
    UpdateScrollBar();
    SetTopRow(FTopRow);
    viewport()->update();
}

void TCustomGrid::SetDefaultColWidth(int value) {
    value = std::max(1, value);
    if (value == FDefaultColWidth) return;
    FDefaultColWidth = value;
    viewport()->update();
}

void TCustomGrid::SetDefaultRowHeight(int value) {
    value = std::max(1, value);
    if (value == FDefaultRowHeight) return;
    FDefaultRowHeight = value;
    UpdateScrollBar();
    SetTopRow(FTopRow);
    viewport()->update();
}

int TCustomGrid::VisibleRowCount() const { return std::max(1, ClientHeight() / FDefaultRowHeight); }

int TCustomGrid::VisibleColCount() const {
    return std::min(FColCount, ClientWidth() / FDefaultColWidth);
}

int TCustomGrid::MaxTopRow() const { return std::max(0, FRowCount - VisibleRowCount()); }

void TCustomGrid::SetTopRow(int value) {
    value = std::clamp(value, 0, MaxTopRow());
    if (value != FTopRow) {
        FTopRow = value;
        viewport()->update();
        TopLeftChanged();
        if (OnTopLeftChanged) OnTopLeftChanged();
    }
    if (verticalScrollBar()->value() != FTopRow) {
        FSyncingBar = true;
        verticalScrollBar()->setValue(FTopRow);
        FSyncingBar = false;
    }
}

void TCustomGrid::UpdateScrollBar() {
    QScrollBar* bar = verticalScrollBar();
    FSyncingBar = true;
    bar->setRange(0, MaxTopRow());
    bar->setPageStep(VisibleRowCount());
    bar->setValue(FTopRow);
    FSyncingBar = false;
}

void TCustomGrid::scrollContentsBy(int /*dx*/, int /*dy*/) {
    if (!FSyncingBar) SetTopRow(verticalScrollBar()->value());
}

void TCustomGrid::SetSelection(const TGridRect& value) {
    TGridRect rect{
        std::clamp(value.Left, 0, FColCount - 1), std::clamp(value.Top, 0, FRowCount - 1),
        std::clamp(value.Right, 0, FColCount - 1), std::clamp(value.Bottom, 0, FRowCount - 1)};
    if (rect.Right < rect.Left) rect.Right = rect.Left;
    if (rect.Bottom < rect.Top) rect.Bottom = rect.Top;
    InvalidateSelection();
    UpdateCell(FCol, FRow);
    FSelection = rect;
    FCol = rect.Left;
    FRow = rect.Top;
    InvalidateSelection();
    UpdateCell(FCol, FRow);
}

void TCustomGrid::SetOptions(TGridOptions value) {
    FOptions = value;
    verticalScrollBar()->setTracking((FOptions & goThumbTracking) != 0);
    viewport()->update();
}

void TCustomGrid::SetColor(const QColor& value) {
    FColor = value;
    viewport()->update();
}

void TCustomGrid::SetHint(const QString& value) {
    FHint = value;
    if (FShowHint && QToolTip::isVisible() && underMouse()) {
        if (FHint.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(QCursor::pos(), FHint, this);
    }
}

void TCustomGrid::SetShowHint(bool value) {
    FShowHint = value;
    if (!FShowHint && QToolTip::isVisible()) QToolTip::hideText();
}

int TCustomGrid::ClientWidth() const { return viewport()->width(); }
int TCustomGrid::ClientHeight() const { return viewport()->height(); }

QRect TCustomGrid::CellRect(int col, int row) const {
    if (col < 0 || col >= FColCount || row < 0 || row >= FRowCount) return {};
    return QRect(col * FDefaultColWidth, (row - FTopRow) * FDefaultRowHeight, FDefaultColWidth,
                 FDefaultRowHeight);
}

bool TCustomGrid::MouseToCell(int x, int y, int& col, int& row) const {
    col = -1;
    row = -1;
    if (x < 0 || y < 0) return false;
    const int c = x / FDefaultColWidth;
    const int r = FTopRow + y / FDefaultRowHeight;
    if (c >= FColCount || r >= FRowCount) return false;
    col = c;
    row = r;
    return true;
}

void TCustomGrid::InvalidateCell(int col, int row) { UpdateCell(col, row); }

void TCustomGrid::UpdateCell(int col, int row) {
    const QRect rect = CellRect(col, row);
    if (!rect.isEmpty() && rect.intersects(viewport()->rect())) viewport()->update(rect);
}

void TCustomGrid::InvalidateSelection() {
    const QRect first = CellRect(FSelection.Left, FSelection.Top);
    const QRect last = CellRect(FSelection.Right, FSelection.Bottom);
    if (!first.isEmpty() && !last.isEmpty()) viewport()->update(first.united(last));
}

bool TCustomGrid::SelectCell(int col, int row) { return AskSelectCell(col, row, true); }

bool TCustomGrid::AskSelectCell(int col, int row, bool canSelect) {
    if (OnSelectCell) OnSelectCell(col, row, canSelect);
    return canSelect;
}

bool TCustomGrid::FocusCell(int col, int row) {
    if (col < 0 || col >= FColCount || row < 0 || row >= FRowCount) return false;
    if (!SelectCell(col, row)) return false;
    SetSelection({col, row, col, row});
    if (row < FTopRow)
        SetTopRow(row);
    else if (row >= FTopRow + VisibleRowCount())
        SetTopRow(row - VisibleRowCount() + 1);
    return true;
}

TGridDrawState TCustomGrid::StateOf(int col, int row) const {
    TGridDrawState state;
    state.Focused = hasFocus() && col == FCol && row == FRow;
    // Without goDrawFocusSelected the focused cell stands out by not being drawn selected.
    state.Selected =
        FSelection.Contains(col, row) && (!state.Focused || (FOptions & goDrawFocusSelected));
    return state;
}

void TCustomGrid::paintEvent(QPaintEvent* event) {
    QPainter painter(viewport());
    const QRect dirty = event->rect();
    painter.fillRect(dirty, FColor);
    const int firstRow = FTopRow + std::max(0, dirty.top()) / FDefaultRowHeight;
    for (int row = firstRow; row < FRowCount; ++row) {
        const int y = (row - FTopRow) * FDefaultRowHeight;
        if (y > dirty.bottom()) break;
        for (int col = 0; col < FColCount; ++col) {
            const QRect rect = CellRect(col, row);
            if (rect.left() > dirty.right()) break;
            if (!rect.intersects(dirty)) continue;
            painter.save();
            painter.setClipRect(rect.intersected(dirty));
            DrawCell(col, row, rect, StateOf(col, row), painter);
            painter.restore();
        }
    }
}

void TCustomGrid::resizeEvent(QResizeEvent* event) {
    Resized();
    UpdateScrollBar();
    SetTopRow(FTopRow);
    QAbstractScrollArea::resizeEvent(event);
}

void TCustomGrid::keyPressEvent(QKeyEvent* event) {
    const Qt::KeyboardModifiers modifiers = event->modifiers();
    if (OnKeyDown) {
        bool handled = false;
        OnKeyDown(event->key(), modifiers, handled);
        if (handled) return;
    }
    const bool ctrl = modifiers & Qt::ControlModifier;
    const int page = VisibleRowCount();
    int col = FCol;
    int row = FRow;
    switch (event->key()) {
        case Qt::Key_Left:
            --col;
            break;
        case Qt::Key_Right:
            ++col;
            break;
        case Qt::Key_Up:
            --row;
            break;
        case Qt::Key_Down:
            ++row;
            break;
        case Qt::Key_PageUp:
            row -= page;
            break;
        case Qt::Key_PageDown:
            row += page;
            break;
        case Qt::Key_Home:
            col = 0;
            if (ctrl) row = 0;
            break;
        case Qt::Key_End:
            col = FColCount - 1;
            if (ctrl) row = FRowCount - 1;
            break;
        default:
            QAbstractScrollArea::keyPressEvent(event);
            return;
    }
    col = std::clamp(col, 0, FColCount - 1);
    row = std::clamp(row, 0, FRowCount - 1);
    if (col != FCol || row != FRow) {
        // A page key whose target is refused still moves the view, as a page should.
        if (!FocusCell(col, row)) {
            if (event->key() == Qt::Key_PageDown) SetTopRow(FTopRow + page);
            if (event->key() == Qt::Key_PageUp) SetTopRow(FTopRow - page);
        }
    }
    event->accept();
}

void TCustomGrid::mousePressEvent(QMouseEvent* event) {
    if (!hasFocus()) setFocus(Qt::MouseFocusReason);
    if (event->button() != Qt::LeftButton) return;
    const QPoint at = event->position().toPoint();
    int col, row;
    if (MouseToCell(at.x(), at.y(), col, row) && (col != FCol || row != FRow)) FocusCell(col, row);
    if (OnClick) OnClick();
}

void TCustomGrid::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && OnDblClick) OnDblClick();
}

void TCustomGrid::mouseMoveEvent(QMouseEvent* event) {
    if (OnMouseMove) {
        const QPoint at = event->position().toPoint();
        OnMouseMove(event->modifiers(), at.x(), at.y());
    }
}

void TCustomGrid::focusInEvent(QFocusEvent* event) {
    UpdateCell(FCol, FRow);
    QAbstractScrollArea::focusInEvent(event);
}

void TCustomGrid::focusOutEvent(QFocusEvent* event) {
    UpdateCell(FCol, FRow);
    QAbstractScrollArea::focusOutEvent(event);
}

bool TCustomGrid::viewportEvent(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        if (FShowHint && !FHint.isEmpty())
            QToolTip::showText(help->globalPos(), FHint, this);
        else
            QToolTip::hideText();
        return true;
    }
    return QAbstractScrollArea::viewportEvent(event);
}

}  // namespace pix
