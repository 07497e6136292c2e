#include "CBrowseGrid.h"

#include "CBrowseHeader.h"
#include "CDataSplitView.h"
#include "ErrorGuard.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QTableView>

namespace {

// Split 0 paints a row in the colour its row style asks for.
class RowStyleDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        const QVariant color = index.data(CBrowseModel::RowStyleRole);
        if (color.isValid()) option->palette.setColor(QPalette::Text, color.value<QColor>());
    }
};

// No type-ahead: a view searches its model as keys are typed (Space among
// them), which here would read every row of the table at each key and move the
// current row. The grid is searched with its Find dialog.
template <class View>
class NoTypeAhead : public View {
public:
    using View::View;
    void keyboardSearch(const QString&) override {}
};

}  // namespace

CBrowseGrid::CBrowseGrid(QWidget* parent) : QWidget(parent), mModel(new CBrowseModel(this)) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    for (int s = 0; s < 2; ++s) {
        QTableView* view = s == 0 ? static_cast<QTableView*>(new NoTypeAhead<QTableView>(this))
                                   : new NoTypeAhead<CDataSplitView>(this);
        mViews[s] = view;
        view->setObjectName(s == 0 ? QStringLiteral("Split0") : QStringLiteral("Split1"));
        view->setModel(mModel);
        view->setSelectionMode(QAbstractItemView::SingleSelection);
        view->setSelectionBehavior(QAbstractItemView::SelectItems);
        view->setEditTriggers(QAbstractItemView::NoEditTriggers);
        view->setWordWrap(false);
        view->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
        view->setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
        view->setAlternatingRowColors(true);
        QPalette pal = view->palette();
        pal.setColor(QPalette::Base, QColor(0xFF, 0xFF, 0xFF));
        pal.setColor(QPalette::AlternateBase, QColor(0xEA, 0xFF, 0xEA));
        view->setPalette(pal);
        // Fixed row height: a million rows are never measured.
        QHeaderView* vh = view->verticalHeader();
        vh->setSectionResizeMode(QHeaderView::Fixed);
        vh->setDefaultSectionSize(fontMetrics().height() + 6);
        vh->setFixedWidth(14);
        view->setHorizontalHeader(new CBrowseHeader(view));
        QHeaderView* hh = view->horizontalHeader();
        hh->setSectionsClickable(false);
        hh->setSectionsMovable(false);
        hh->setMinimumSectionSize(4);
        hh->setHighlightSections(false);
        view->viewport()->installEventFilter(this);
        view->installEventFilter(this);
        hh->viewport()->installEventFilter(this);
        connect(hh, &QHeaderView::sectionResized, this,
                [this, s](int logical, int oldSize, int newSize) { SectionResized(s, logical, oldSize, newSize); });
        layout->addWidget(view, s == 0 ? 0 : 1);
    }
    mViews[0]->setItemDelegate(new RowStyleDelegate(mViews[0]));
    mViews[1]->setSelectionModel(mViews[0]->selectionModel());
    mViews[1]->verticalHeader()->hide();
    mViews[1]->hide();
    // One vertical position for both splits.
    QScrollBar* left = mViews[0]->verticalScrollBar();
    QScrollBar* right = mViews[1]->verticalScrollBar();
    connect(right, &QScrollBar::valueChanged, left, &QScrollBar::setValue);
    connect(left, &QScrollBar::valueChanged, right, &QScrollBar::setValue);
    connect(mModel, &QAbstractItemModel::modelReset, this, [this] {
        // A new model loses the shared selection model of the second split.
        mViews[1]->setSelectionModel(mViews[0]->selectionModel());
        ApplyLayout();
    });
    auto watchCurrent = [this] {
        connect(mViews[0]->selectionModel(), &QItemSelectionModel::currentChanged, this,
                [this](const QModelIndex& now, const QModelIndex& before) {
                    if (now.isValid()) KeepCol(now.column());
                    if (now.row() != before.row()) emit CurrentRowChanged(now.isValid() ? now.row() : -1);
                });
    };
    watchCurrent();
}

QTableView* CBrowseGrid::SplitView(int split) const { return mViews[split == 0 ? 0 : 1]; }

void CBrowseGrid::AddSplit() {
    if (mSplits >= 2) return;
    mSplits = 2;
    mViews[1]->show();
    mViews[0]->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Both splits keep a horizontal bar, so that their rows have the same
    // height to scroll in and stay side by side down to the last row.
    mViews[0]->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    mViews[1]->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    ApplyLayout();
}

void CBrowseGrid::SetSplit(int split) {
    mSplit = split <= 0 || mSplits < 2 ? 0 : 1;
    mViews[mSplit]->setFocus();
}

void CBrowseGrid::SetRecordSelectors(int split, bool on) { SplitView(split)->verticalHeader()->setVisible(on); }

CBrowseHeader* CBrowseGrid::Header(int split) const {
    return static_cast<CBrowseHeader*>(SplitView(split)->horizontalHeader());
}

void CBrowseGrid::SetHeadLines(int lines) {
    for (QTableView* v : mViews) static_cast<CBrowseHeader*>(v->horizontalHeader())->SetLines(lines);
}

int CBrowseGrid::Row() const {
    const QModelIndex i = mViews[0]->selectionModel()->currentIndex();
    return i.isValid() ? i.row() : -1;
}

void CBrowseGrid::SetRow(int row) {
    if (row < 0) return;
    if (row >= mModel->rowCount() && !mModel->CountKnown()) mModel->Count();
    if (row >= mModel->rowCount()) return;
    const int col = mCol >= 0 && mCol < mModel->columnCount() ? mCol : 0;
    const QModelIndex i = mModel->index(row, col);
    // The data split is not drawn to the row's cell: one made current while the
    // grid is hidden would be scrolled to once it shows, past the first column
    // the layout chose.
    QTableView* data = mViews[1];
    const bool autoScroll = data->hasAutoScroll();
    if (mSplits > 1) data->setAutoScroll(false);
    mViews[0]->selectionModel()->setCurrentIndex(i, QItemSelectionModel::ClearAndSelect);
    data->setAutoScroll(autoScroll);
    ViewShowing(col)->scrollTo(i, QAbstractItemView::EnsureVisible);
}

void CBrowseGrid::SetCol(int col) {
    if (col < 0 || col >= mModel->columnCount()) return;
    KeepCol(col);
    const int row = Row();
    if (row >= 0)
        mViews[0]->selectionModel()->setCurrentIndex(mModel->index(row, col), QItemSelectionModel::ClearAndSelect);
}

void CBrowseGrid::KeepCol(int col) {
    mCol = col;
    const auto& cols = mModel->Columns();
    mColField = col >= 0 && col < int(cols.size()) ? cols[size_t(col)].dataField : QString();
}

int CBrowseGrid::LeftCol(int split) const {
    const QHeaderView* h = SplitView(split)->horizontalHeader();
    return h->logicalIndexAt(0);
}

void CBrowseGrid::SetLeftCol(int split, int col) {
    QTableView* v = SplitView(split);
    if (col < 0 || col >= mModel->columnCount()) return;
    // The range of a layout just changed is otherwise computed only later.
    v->doItemsLayout();
    v->horizontalScrollBar()->setValue(v->horizontalHeader()->sectionPosition(col));
}

void CBrowseGrid::ScrollToTop(int row) {
    // A row near the end of the first page needs the full count for its scroll
    // range; one well inside it does not wait for the count.
    const QTableView* v = mViews[0];
    const int visible = v->viewport()->height() / std::max(1, v->verticalHeader()->defaultSectionSize()) + 1;
    if (!mModel->CountKnown() && row + visible >= mModel->rowCount()) mModel->Count();
    if (row < 0 || row >= mModel->rowCount()) return;
    // After a reset the scroll range is laid out lazily; the scroll needs it now.
    for (QTableView* v : mViews) v->doItemsLayout();
    const QModelIndex i = mModel->index(row, mCol >= 0 ? mCol : 0);
    ViewShowing(i.column())->scrollTo(i, QAbstractItemView::PositionAtTop);
}

QTableView* CBrowseGrid::ViewShowing(int col) const {
    // A view does not scroll to a cell of a column it hides.
    return mSplits > 1 && !mViews[1]->isColumnHidden(col) ? mViews[1] : mViews[0];
}

int CBrowseGrid::FirstRow() const { return mModel->rowCount() > 0 ? mViews[0]->rowAt(0) : -1; }

int CBrowseGrid::ColumnAt(int split, int x) const { return SplitView(split)->columnAt(x); }

int CBrowseGrid::RowAt(int split, int y) const { return SplitView(split)->rowAt(y); }

void CBrowseGrid::ApplyLayout() {
    mApplying = true;
    const auto& cols = mModel->Columns();
    // The current column stays with its field when the columns change.
    if (!mColField.isEmpty() && (mCol < 0 || mCol >= int(cols.size()) || cols[size_t(mCol)].dataField != mColField))
        for (int i = 0; i < int(cols.size()); ++i)
            if (cols[size_t(i)].dataField == mColField) {
                mCol = i;
                break;
            }
    for (int s = 0; s < 2; ++s) {
        QTableView* v = mViews[s];
        for (int i = 0; i < int(cols.size()); ++i) {
            const bool shown = mSplits == 1 ? s == 0 : cols[size_t(i)].visible[s];
            v->setColumnHidden(i, !shown);
            if (shown) v->setColumnWidth(i, cols[size_t(i)].width);
        }
    }
    mApplying = false;
    FitFixedSplit();
}

void CBrowseGrid::ReBind() {
    if (mHeld) ApplyLayout();
    mHeld = false;
}

void CBrowseGrid::FitFixedSplit() {
    QTableView* v = mViews[0];
    if (mSplits < 2) {
        v->setMinimumWidth(0);
        v->setMaximumWidth(QWIDGETSIZE_MAX);
        return;
    }
    // isHidden, not isVisible: the layout runs while the grid itself is hidden.
    int width = 2 * v->frameWidth() + (v->verticalHeader()->isHidden() ? 0 : v->verticalHeader()->width());
    const auto& cols = mModel->Columns();
    for (int i = 0; i < int(cols.size()); ++i)
        if (cols[size_t(i)].visible[0]) width += cols[size_t(i)].width;
    v->setFixedWidth(width);
}

void CBrowseGrid::SectionResized(int split, int logical, int oldSize, int newSize) {
    if (mApplying || logical < 0 || logical >= int(mModel->Columns().size())) return;
    bool cancel = false;
    if (events.colResize) {
        base::RecordErrors("CBrowseGrid::SectionResized", [&] {
            events.colResize(logical, cancel);
        });
    }
    mApplying = true;
    if (cancel) SplitView(split)->setColumnWidth(logical, oldSize);
    else mModel->Columns()[size_t(logical)].width = newSize;
    mApplying = false;
    if (!cancel && split == 0) FitFixedSplit();
}

int CBrowseGrid::SplitOf(QObject* watched) const {
    for (int s = 0; s < 2; ++s)
        if (watched == mViews[s] || watched == mViews[s]->viewport() ||
            watched == mViews[s]->horizontalHeader()->viewport())
            return s;
    return -1;
}

bool CBrowseGrid::eventFilter(QObject* watched, QEvent* event) {
    const int s = SplitOf(watched);
    if (s < 0) return QWidget::eventFilter(watched, event);
    const bool heading = watched == mViews[s]->horizontalHeader()->viewport();
    const bool cells = watched == mViews[s]->viewport();
    try {
        switch (event->type()) {
            case QEvent::MouseButtonPress: {
                if (!heading && !cells) break;
                auto* me = static_cast<QMouseEvent*>(event);
                const QPoint p = me->position().toPoint();
                mSplit = s;
                const int col = heading ? mViews[s]->horizontalHeader()->logicalIndexAt(p.x()) : ColumnAt(s, p.x());
                const int row = heading ? -1 : RowAt(s, p.y());
                if (events.mouseDown) events.mouseDown(me->button(), col, row, heading);
                // The view handles the right button itself (current cell, menu).
                if (me->button() == Qt::RightButton) return true;
                break;
            }
            case QEvent::MouseButtonDblClick:
                if ((heading || cells) && events.dblClick) events.dblClick();
                break;
            case QEvent::KeyPress: {
                if (watched != mViews[s]) break;
                auto* ke = static_cast<QKeyEvent*>(event);
                int key = 0;
                if (ke->key() == Qt::Key_Space) key = 32;
                else if (!ke->text().isEmpty()) key = ke->text().at(0).unicode();
                if (key && events.keyPress) events.keyPress(key);
                break;
            }
            default:
                break;
        }
    } catch (...) {
        // Grid events ignore failures.
        base::RecordCaught("CBrowseGrid::eventFilter");
    }
    return QWidget::eventFilter(watched, event);
}
