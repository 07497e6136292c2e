// The data split of the browse grid: its horizontal scroll range reaches every
// column's left edge, so that any column can be the leftmost one, whole, even
// when the columns after it do not fill the split.
#pragma once

#include <QTableView>

class CDataSplitView : public QTableView {
    Q_OBJECT
public:
    using QTableView::QTableView;

protected:
    void updateGeometries() override;
};
