// SPDX-License-Identifier: MIT
#include "app/panes.h"

#include <algorithm>

namespace pix {

int PaneExtent(const QWidget& pane, Qt::Orientation orientation) {
    return orientation == Qt::Horizontal ? pane.width() : pane.height();
}

void SetPaneExtent(QWidget& pane, Qt::Orientation orientation, int extent) {
    extent = std::max(extent, 0);
    auto* splitter = qobject_cast<QSplitter*>(pane.parentWidget());
    if (splitter == nullptr || splitter->orientation() != orientation) {
        if (orientation == Qt::Horizontal)
            pane.resize(extent, pane.height());
        else
            pane.resize(pane.width(), extent);
        return;
    }
    QList<int> sizes = splitter->sizes();
    const int index = splitter->indexOf(&pane);
    if (index < 0 || index >= sizes.size()) return;
    const int neighbour = index + 1 < sizes.size() ? index + 1 : index - 1;
    if (neighbour >= 0) {
        // In 64 bits: the extent may be any stored number.
        const long long rest = static_cast<long long>(sizes[neighbour]) + sizes[index] - extent;
        sizes[neighbour] = static_cast<int>(std::max(0LL, rest));
    }
    sizes[index] = extent;
    splitter->setSizes(sizes);
}

}  // namespace pix
