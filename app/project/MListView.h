// List-view helpers for the class and field statistics lists, with the numeric
// column sort: texts compare by their value rounded to a 32-bit integer, and a
// text that is not a number counts as 0.
#pragma once

#include <QString>

#include <cstdint>

class QAbstractItemView;
class QTreeWidget;
class QWidget;

namespace MListView {

// Set by a panel before each sort: the column compared and 0 ascending, 1 descending.
extern int16_t gSortColumn;
extern int16_t gSortOrder;

void SetFullRowSelect(QAbstractItemView& view, bool on);
void SetRedraw(QWidget* control, bool on);

// The number a cell text sorts by.
int32_t ItemNumber(const QString& text);
// A strict ordering: true when the item with text a goes before the one with b
// under gSortOrder. Equal numbers are not ordered (the sort keeps their order).
bool CompareItems(const QString& a, const QString& b);
// Sorts the list's top-level items by column gSortColumn under gSortOrder,
// stable for equal numbers.
void SortItems(QTreeWidget& list);

// The item whose data (column 0, Qt::UserRole) equals itemData: its first
// column's text (at most 32 characters) and the number of column gSortColumn.
// False when no item has that data.
bool GetItemText(const QTreeWidget& list, qlonglong itemData, QString& text, int32_t& number);

}  // namespace MListView
