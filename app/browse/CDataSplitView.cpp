#include "CDataSplitView.h"

#include <QHeaderView>
#include <QScrollBar>

#include <algorithm>

void CDataSplitView::updateGeometries() {
    // The table's own range would cut the position back before it is widened.
    QScrollBar* bar = horizontalScrollBar();
    const int value = bar->value();
    QTableView::updateGeometries();
    if (horizontalScrollMode() != QAbstractItemView::ScrollPerPixel) return;
    const QHeaderView* header = horizontalHeader();
    for (int visual = header->count() - 1; visual >= 0; --visual) {
        const int logical = header->logicalIndex(visual);
        if (header->isSectionHidden(logical)) continue;
        bar->setRange(0, std::max(bar->maximum(), header->sectionPosition(logical)));
        break;
    }
    bar->setValue(value);
}
