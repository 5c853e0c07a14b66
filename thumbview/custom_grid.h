// SPDX-License-Identifier: MIT
// A scrollable grid of equal cells that its descendants draw themselves.
#pragma once

#include <QAbstractScrollArea>
#include <QColor>
#include <QString>

#include <functional>

class QPainter;

namespace pix {

// A block of cells, inclusive on all sides.
struct TGridRect {
    int Left = 0;
    int Top = 0;
    int Right = 0;
    int Bottom = 0;

    bool Contains(int col, int row) const {
        return col >= Left && col <= Right && row >= Top && row <= Bottom;
    }
    bool operator==(const TGridRect&) const = default;
};

// How a cell is to be drawn: inside the selection, and the current cell of a grid that has
// the keyboard focus.
struct TGridDrawState {
    bool Selected = false;
    bool Focused = false;
};

enum TGridOption : unsigned {
    goDrawFocusSelected = 1u << 0,  // the focused cell is drawn selected as well
    goThumbTracking = 1u << 1,      // the view follows the scroll bar while it is dragged
};
using TGridOptions = unsigned;

// Columns all DefaultColWidth wide and rows all DefaultRowHeight high, scrolled vertically
// by whole rows. Columns that do not fit are cut off; the grid has no horizontal scrolling.
// Coordinates given to and taken from the grid are the viewport's (ClientWidth ×
// ClientHeight), without the frame and scroll bar.
class TCustomGrid : public QAbstractScrollArea {
public:
    explicit TCustomGrid(QWidget* parent = nullptr);
    ~TCustomGrid() override;

    int ColCount() const { return FColCount; }
    int RowCount() const { return FRowCount; }
    // Counts below 1 count as 1. The current cell and the selection are pulled inside.
    void SetColCount(int value);
    void SetRowCount(int value);
    int DefaultColWidth() const { return FDefaultColWidth; }
    int DefaultRowHeight() const { return FDefaultRowHeight; }
    // Sizes below 1 count as 1.
    void SetDefaultColWidth(int value);
    void SetDefaultRowHeight(int value);

    // The first row shown; kept between 0 and the top row that shows the last row in full.
    int TopRow() const { return FTopRow; }
    void SetTopRow(int value);
    // Rows shown in full (at least 1) and columns shown in full.
    int VisibleRowCount() const;
    int VisibleColCount() const;

    // The current cell; setting it asks SelectCell first and scrolls it into view.
    int Col() const { return FCol; }
    int Row() const { return FRow; }
    void SetCol(int value) { FocusCell(value, FRow); }
    void SetRow(int value) { FocusCell(FCol, value); }
    // Setting the selection makes its top-left cell current without asking SelectCell and
    // without scrolling.
    const TGridRect& Selection() const { return FSelection; }
    void SetSelection(const TGridRect& value);

    TGridOptions Options() const { return FOptions; }
    void SetOptions(TGridOptions value);
    QColor Color() const { return FColor; }
    void SetColor(const QColor& value);

    // The tooltip text, shown only while ShowHint is set.
    const QString& Hint() const { return FHint; }
    void SetHint(const QString& value);
    bool ShowHint() const { return FShowHint; }
    void SetShowHint(bool value);

    int ClientWidth() const;
    int ClientHeight() const;
    // The cell's rectangle in viewport coordinates (empty for a column or row out of range).
    QRect CellRect(int col, int row) const;
    // The cell under a viewport point; false, and -1 for both, outside every cell.
    bool MouseToCell(int x, int y, int& col, int& row) const;
    // Repaints one cell when it shows. The grid's own repaints (selection, focus) bypass
    // it, so that a descendant can tell the repaints it asks for itself.
    virtual void InvalidateCell(int col, int row);

    std::function<void(int col, int row, bool& canSelect)> OnSelectCell;
    std::function<void()> OnTopLeftChanged;
    std::function<void()> OnClick;
    std::function<void()> OnDblClick;
    std::function<void(Qt::KeyboardModifiers modifiers, int x, int y)> OnMouseMove;
    // Before the grid's own key handling; setting `handled` skips it.
    std::function<void(int key, Qt::KeyboardModifiers modifiers, bool& handled)> OnKeyDown;

protected:
    // Asked before a cell becomes current; the default lets OnSelectCell decide.
    virtual bool SelectCell(int col, int row);
    // OnSelectCell's answer, starting from `canSelect`.
    bool AskSelectCell(int col, int row, bool canSelect);
    // Paints one visible cell; `rect` is the cell in viewport coordinates.
    virtual void DrawCell(int col, int row, const QRect& rect, TGridDrawState state,
                          QPainter& painter) = 0;
    // Called first whenever the viewport's size changes.
    virtual void Resized() {}
    // Called when TopRow has changed, before OnTopLeftChanged.
    virtual void TopLeftChanged() {}
    // Makes a cell current through SelectCell and scrolls it into view; false when refused
    // or out of range.
    bool FocusCell(int col, int row);

    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    bool viewportEvent(QEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    int MaxTopRow() const;
    void UpdateScrollBar();
    void UpdateCell(int col, int row);
    void InvalidateSelection();
    TGridDrawState StateOf(int col, int row) const;

    int FColCount = 1;
    int FRowCount = 1;
    int FDefaultColWidth = 64;
    int FDefaultRowHeight = 24;
    int FTopRow = 0;
    int FCol = 0;
    int FRow = 0;
    TGridRect FSelection;
    TGridOptions FOptions = 0;
    QColor FColor = Qt::white;
    QString FHint;
    bool FShowHint = true;
    // Set while the grid moves the scroll bar itself, so that the bar's echo is ignored.
    bool FSyncingBar = false;
};

}  // namespace pix
