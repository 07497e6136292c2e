#include "MListView.h"

#include <QAbstractItemView>
#include <QTreeWidget>

#include <algorithm>
#include <cmath>
#include <vector>

namespace MListView {

// Process-wide: each list sets them just before its sort, for the compare routine.
int16_t gSortColumn = 0;
int16_t gSortOrder = 0;

void SetFullRowSelect(QAbstractItemView& view, bool on) {
    view.setSelectionBehavior(on ? QAbstractItemView::SelectRows : QAbstractItemView::SelectItems);
    if (auto* tree = qobject_cast<QTreeView*>(&view)) tree->setAllColumnsShowFocus(on);
}

void SetRedraw(QWidget* control, bool on) {
    if (control) control->setUpdatesEnabled(on);
}

int32_t ItemNumber(const QString& text) {
    const QString t = text.trimmed();
    if (t.isEmpty()) return 0;
    bool ok = false;
    const double d = t.toDouble(&ok);
    if (!ok || !std::isfinite(d) || d < double(INT32_MIN) || d > double(INT32_MAX)) return 0;
    return int32_t(std::nearbyint(d));
}

bool CompareItems(const QString& a, const QString& b) {
    const int32_t x = ItemNumber(a);
    const int32_t y = ItemNumber(b);
    return gSortOrder == 0 ? x < y : y < x;
}

void SortItems(QTreeWidget& list) {
    const int column = gSortColumn;
    std::vector<QTreeWidgetItem*> items;
    while (list.topLevelItemCount() > 0) items.push_back(list.takeTopLevelItem(0));
    std::stable_sort(items.begin(), items.end(), [column](QTreeWidgetItem* x, QTreeWidgetItem* y) {
        return CompareItems(x->text(column), y->text(column));
    });
    for (QTreeWidgetItem* item : items) list.addTopLevelItem(item);
}

bool GetItemText(const QTreeWidget& list, qlonglong itemData, QString& text, int32_t& number) {
    for (int i = 0; i < list.topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = list.topLevelItem(i);
        if (item->data(0, Qt::UserRole).toLongLong() != itemData) continue;
        text = item->text(0).left(32);
        const QString cell = item->text(gSortColumn);
        number = cell.isEmpty() ? 0 : ItemNumber(cell);
        return true;
    }
    return false;
}

}  // namespace MListView
