// SPDX-License-Identifier: MIT
// The main window's panes with the sizes its form storage keeps: the left panel's width
// and the folder tree's height, as properties of the meta-object system.
#pragma once

#include "foldertree/shell_tree.h"

#include <QSplitter>

namespace pix {

// The extent of a pane across a splitter of that orientation (its width in a horizontal
// one): setting it moves the splitter handle after the pane (before it for the last pane),
// so that its neighbour gives or takes the difference. A negative extent counts as 0, which
// collapses the pane. Outside such a splitter the widget itself is resized.
int PaneExtent(const QWidget& pane, Qt::Orientation orientation);
void SetPaneExtent(QWidget& pane, Qt::Orientation orientation, int extent);

// A panel whose children lie one below the other, divided by splitter handles.
class TPanel : public QSplitter {
    Q_OBJECT
    Q_PROPERTY(int Width READ Width WRITE SetWidth)
    Q_PROPERTY(int Height READ Height WRITE SetHeight)
public:
    using QSplitter::QSplitter;
    int Width() const { return PaneExtent(*this, Qt::Horizontal); }
    void SetWidth(int width) { SetPaneExtent(*this, Qt::Horizontal, width); }
    int Height() const { return PaneExtent(*this, Qt::Vertical); }
    void SetHeight(int height) { SetPaneExtent(*this, Qt::Vertical, height); }
};

// The folder tree as a pane.
class TFolderTree : public TShellTree {
    Q_OBJECT
    Q_PROPERTY(int Width READ Width WRITE SetWidth)
    Q_PROPERTY(int Height READ Height WRITE SetHeight)
public:
    using TShellTree::TShellTree;
    int Width() const { return PaneExtent(*this, Qt::Horizontal); }
    void SetWidth(int width) { SetPaneExtent(*this, Qt::Horizontal, width); }
    int Height() const { return PaneExtent(*this, Qt::Vertical); }
    void SetHeight(int height) { SetPaneExtent(*this, Qt::Vertical, height); }
};

}  // namespace pix
