// The data grid: one model shown in up to two splits side by side (split 0
// the fixed columns with the record selectors, split 1 the data columns),
// scrolling together. It reports its mouse, key and resize events to the
// bound view through GridEvents and keeps the current row and column.
#pragma once

#include "CBrowseModel.h"

#include <QWidget>

#include <functional>

class QTableView;
class QHeaderView;
class CBrowseHeader;

struct GridEvents {
    std::function<void()> dblClick;
    std::function<void(int key)> keyPress;
    // column and row under the pointer (-1: none; row -1 over the headings)
    std::function<void(Qt::MouseButton button, int col, int row, bool heading)> mouseDown;
    std::function<void(int col, bool& cancel)> colResize;
};

class CBrowseGrid : public QWidget {
    Q_OBJECT
public:
    explicit CBrowseGrid(QWidget* parent = nullptr);

    CBrowseModel* Model() const { return mModel; }
    QTableView* SplitView(int split) const;
    GridEvents events;

    int Splits() const { return mSplits; }
    void AddSplit();  // a second split at position 1
    int Split() const { return mSplit; }
    void SetSplit(int split);

    // Current row and column; -1 when there is none.
    int Row() const;
    void SetRow(int row);
    int Col() const { return mCol; }
    void SetCol(int col);
    // First visible column of a split; setting scrolls it there.
    int LeftCol(int split) const;
    void SetLeftCol(int split, int col);
    // Scrolls so that row is the first visible row.
    void ScrollToTop(int row);
    // First visible row (display row 0); -1 when there are no rows.
    int FirstRow() const;
    // Column and row under a point of the grid (-1: none).
    int ColumnAt(int split, int x) const;
    int RowAt(int split, int y) const;

    // Applies the model's column settings (widths, splits, hidden columns).
    void ApplyLayout();
    // The held layout comes back after the model was reset.
    void HoldFields() { mHeld = true; }
    void ReBind();

    void SetRecordSelectors(int split, bool on);
    // Lines of the column headings (both splits).
    void SetHeadLines(int lines);
    CBrowseHeader* Header(int split) const;
    // The view whose handlers are installed (so that a view dropped later
    // does not remove the handlers of the one bound after it).
    const void* BoundView() const { return mBound; }
    void SetBoundView(const void* view) { mBound = view; }

signals:
    void CurrentRowChanged(int row);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void SectionResized(int split, int logical, int oldSize, int newSize);
    void FitFixedSplit();
    int SplitOf(QObject* watched) const;
    QTableView* ViewShowing(int col) const;
    void KeepCol(int col);

    CBrowseModel* mModel;
    QTableView* mViews[2];
    int mSplits = 1;
    int mSplit = 0;
    int mCol = -1;
    QString mColField;  // the current column's field, by which it is found again
    const void* mBound = nullptr;
    bool mHeld = false;
    bool mApplying = false;
};
