#include "CListSort.h"

#include "MListView.h"
#include "dao/dao.h"

#include <QTreeWidget>

#include <algorithm>
#include <vector>

void CListSort::SortText(QTreeWidget& list, int column, bool descending) {
    std::vector<QTreeWidgetItem*> items;
    while (list.topLevelItemCount() > 0) items.push_back(list.takeTopLevelItem(0));
    std::stable_sort(items.begin(), items.end(), [&](QTreeWidgetItem* a, QTreeWidgetItem* b) {
        const int c = dao::CompareText(a->text(column).toStdU16String(), b->text(column).toStdU16String());
        return descending ? c > 0 : c < 0;
    });
    for (QTreeWidgetItem* item : items) list.addTopLevelItem(item);
}

void CListSort::HeaderClick(QTreeWidget& list, int column, int numericColumn) {
    mOrder = mOrder == 0 ? 1 : 0;
    if (numericColumn < 0) {
        SortText(list, column, mOrder != 0);
        return;
    }
    MListView::gSortColumn = int16_t(numericColumn);
    MListView::gSortOrder = mOrder;
    MListView::SortItems(list);
}
