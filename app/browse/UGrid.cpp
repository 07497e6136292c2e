#include "UGrid.h"

#include "AppErrors.h"
#include "CBrowseGrid.h"
#include "CDataControl.h"
#include "CHourglass.h"
#include "FFind.h"
#include "MBrowseSql.h"
#include "MGridKeys.h"
#include "ErrorGuard.h"
#include "ui/dialogs.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QCursor>
#include <QMenu>
#include <QPainter>
#include <QResizeEvent>

namespace {


QPixmap CheckMark() {
    QPixmap pm(13, 13);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::black, 2));
    p.drawPolyline(QPolygonF({QPointF(2, 7), QPointF(5, 10), QPointF(11, 3)}));
    return pm;
}

// A window shows "[*]" in its title as its unsaved-changes mark, which is no
// mark here: doubled, it is shown as it is.
void SetShownTitle(QWidget* window, QString title) {
    window->setWindowTitle(title.replace(QLatin1String("[*]"), QLatin1String("[*][*]")));
}

// The name of a column as the find dialog gives it: its caption, or the
// field's name when the caption names nothing (the mark column's "*").
QString FindName(const GridColumn& c) {
    for (const QChar ch : c.caption)
        if (ch.isLetterOrNumber()) return c.caption;
    return c.dataField;
}

}  // namespace

UGrid::UGrid(QWidget* parent)
    : base::IGridPanel(parent), mGrid(new CBrowseGrid(this)), mData1(new CDataControl(this)), mCheck(CheckMark()) {
    mGrid->setObjectName(QStringLiteral("Grid"));
    mGrid->setGeometry(rect());
    mPopGrid = new QMenu(this);
    mPopGrid->setObjectName(QStringLiteral("popGrid"));
    mPopCopy = new QMenu(this);
    mPopCopy->setObjectName(QStringLiteral("popCopy"));
    auto addTool = [this](QMenu* band, const char* name, const char* caption, const char* description) {
        QAction* a = band->addAction(QString::fromLatin1(caption));
        a->setObjectName(QString::fromLatin1(name));
        if (description) a->setStatusTip(QString::fromLatin1(description));
        connect(a, &QAction::triggered, this,
                [this, a] { base::RecordErrors("UGrid::ABar_Click", [&] { ABar_Click(a->objectName()); }); });
        return a;
    };
    addTool(mPopGrid, "mnuSortASC", "Sort Ascending", nullptr);
    addTool(mPopGrid, "mnuSortDESC", "Sort Descending", nullptr);
    addTool(mPopGrid, "mnuFind", "Find", nullptr);
    addTool(mPopCopy, "mnuCopyField", "Copy This Field", "Copy the current field to the clipboard");
    addTool(mPopCopy, "mnuCopyRow", "Copy This Row", "Copy the current row to the clipboard");
    mSelectRow = addTool(mPopCopy, "mnuSelectRow", "Select This Row For Live Predictions",
                         "Select the current row for Live Predictions.");
    mSelectRow->setEnabled(false);

    // The record set's current row follows the grid's, and the grid follows
    // moves made on the record set from code.
    connect(mGrid, &CBrowseGrid::CurrentRowChanged, this, [this](int row) {
        if (mSyncing || row < 0) return;
        base::RecordErrors("UGrid::tdbGrid_RowColChange", [&] {
            RecordsetPtr rs = RecordSet();
            if (rs && rs->AbsolutePosition() != row) rs->SetAbsolutePosition(row);
        });
    });
    connect(mData1, &CDataControl::Moved, this, &UGrid::SyncToRecordset);
    if (auto* dispatcher = QAbstractEventDispatcher::instance())
        connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, &UGrid::SyncToRecordset);
}

UGrid::~UGrid() {
    // The view lets go of the grid before the grid goes.
    mDataBrowse.reset();
    delete mFFind;
    mFFind = nullptr;
}

bool UGrid::ReadOnly() const { return mData1->ReadOnly(); }
void UGrid::SetReadOnly(bool readOnly) { mData1->SetReadOnly(readOnly); }
QString UGrid::DatabaseName() const { return QString::fromStdString(mData1->DatabaseName()); }
QString UGrid::RecordSource() const { return QString::fromStdString(mData1->RecordSource()); }
DatabasePtr UGrid::Database() const { return mData1->Database(); }
RecordsetPtr UGrid::RecordSet() const { return mData1->Recordset(); }

QMenu* UGrid::ActiveBar(const QString& band) const {
    if (band == QLatin1String("popGrid")) return mPopGrid;
    if (band == QLatin1String("popCopy")) return mPopCopy;
    return nullptr;
}

std::string UGrid::CountSql() const { return MBrowseSql::CountQuery(mData1->RecordSource()); }

void UGrid::Rebind(bool hold) {
    mGrid->Model()->SetRecordset(mData1->Recordset(), mData1->Database(), CountSql(), hold);
    mGrid->ReBind();
    SyncToRecordset();
}

void UGrid::Reopen(bool hold, const char* location) {
    try {
        if (hold) mGrid->HoldFields();
        mGrid->Model()->Release();
        mData1->Refresh();
        Rebind(hold);
    } catch (...) {
        // The text stays in the binding; the grid shows nothing.
        mGrid->Model()->SetRecordset(nullptr, nullptr, {}, hold);
        base::ShowCaught(location);
    }
}

void UGrid::SetDatabaseName(const QString& name) {
    mGrid->Model()->Release();  // before its database may close
    mData1->SetDatabaseName(name.toStdString());
    mData1->SetRecordSource({});
    Reopen(false, "UGrid::DatabaseName");
}

void UGrid::SetRecordSource(const QString& sql) {
    mData1->SetRecordSource(sql.toStdString());
    Reopen(mDataBrowse && !sql.isEmpty(), "UGrid::RecordSource");
    if (isVisible()) emit Show();
}

void UGrid::SetDataBrowse(std::shared_ptr<base::IDataBrowse> view) {
    if (!view) {
        mDataBrowse.reset();
        mGrid->hide();
        return;
    }
    mDataBrowse = std::move(view);
    base::RecordErrors("UGrid::SetDataBrowse", [&] { mDataBrowse->Bind(mGrid); });
    SyncToRecordset();
}

void UGrid::Refresh() { Reopen(true, "UGrid::Refresh"); }

void UGrid::Disconnect() {
    // Nothing may read the record set once its database is closed.
    mGrid->Model()->SetRecordset(nullptr, nullptr, {}, false);
    if (mData1->Database() && !mData1->DatabaseName().empty()) {
        mData1->Close();
        mData1->SetRecordSource({});
        mData1->SetDatabaseName({});
    }
    mDataBrowse.reset();
}

void UGrid::SyncToRecordset() {
    if (mSyncing) return;
    base::RecordErrors("UGrid::SyncToRecordset", [&] {
        RecordsetPtr rs = RecordSet();
        if (!rs || rs->Bof() || rs->Eof()) return;
        const long pos = rs->AbsolutePosition();
        if (pos < 0 || pos == mGrid->Row()) return;
        mSyncing = true;
        mGrid->SetRow(int(pos));
    });
    mSyncing = false;
}

void UGrid::Sort(bool descending) {
    int left = -1, c = -1;
    base::RecordErrors("UGrid::Sort", [&] {
        if (mGrid->Splits() > 1) left = mGrid->LeftCol(1);
    });
    base::RecordErrors("UGrid::Sort", [&] { c = mGrid->Col(); });
    mGrid->hide();
    base::RecordErrors("UGrid::Sort", [&] {
        const auto& cols = mGrid->Model()->Columns();
        if (c < 0 || c >= int(cols.size())) return;
        const GridColumn& col = cols[size_t(c)];
        emit AddSort(col.sourceField.isEmpty() ? col.dataField : col.sourceField, descending);
    });
    base::RecordErrors("UGrid::Sort", [&] {
        if (mGrid->Splits() > 1) mGrid->SetLeftCol(1, left);
        mGrid->SetCol(c);
    });
    base::RecordErrors("UGrid::Sort", [&] {
        auto& cols = mGrid->Model()->Columns();
        const int current = mGrid->Col();
        for (int i = 0; i < int(cols.size()); ++i) cols[size_t(i)].underline = i == current;
        mGrid->Model()->LayoutChanged();
    });
    mGrid->show();
}

QString UGrid::CellCopyText(int row, int col) const {
    const GridColumn& c = mGrid->Model()->Columns()[size_t(col)];
    // A column shown as pictures copies its stored value.
    for (const GridValueItem& item : c.valueItems)
        if (!item.picture.isNull()) {
            const QVariant v = mGrid->Model()->Value(row, col);
            return v.isValid() ? QString::number(v.toDouble()) : QString();
        }
    return mGrid->Model()->Text(row, col);
}

void UGrid::CopyCell() {
    base::RecordErrors("UGrid::CopyCell", [&] {
        const int row = mGrid->Row(), col = mGrid->Col();
        if (row < 0 || col < 0 || col >= mGrid->Model()->columnCount()) return;
        QGuiApplication::clipboard()->clear();
        QGuiApplication::clipboard()->setText(CellCopyText(row, col));
    });
}

void UGrid::CopyRecord() {
    base::ShowErrors("UGrid::CopyRecord", [&] {
        const int row = mGrid->Row();
        if (row < 0) return;
        QString line;
        for (int i = 0; i < mGrid->Model()->columnCount(); ++i) line += CellCopyText(row, i) + QLatin1Char('\t');
        if (line.endsWith(QLatin1Char('\t'))) line.chop(1);
        QGuiApplication::clipboard()->clear();
        QGuiApplication::clipboard()->setText(line);
    });
}

QVariant UGrid::GetTopRowValue(const QString& columnName) const {
    try {
        const int row = mGrid->FirstRow();
        if (row < 0) return QString();
        const auto& cols = mGrid->Model()->Columns();
        for (int i = 0; i < int(cols.size()); ++i)
            if (dao::CompareText(cols[size_t(i)].dataField.toStdU16String(), columnName.toStdU16String()) == 0) {
                const QVariant v = mGrid->Model()->Value(row, i);
                return v.isValid() ? v : QVariant(QString());
            }
    } catch (...) {
        // No value: an empty text.
        base::RecordCaught("UGrid::GetTopRowValue");
    }
    return QString();
}

void UGrid::HoldColumn() {
    if (mGrid->Splits() < 2) app::RaiseError(9);
    mHoldLeftCol = int16_t(mGrid->LeftCol(1));
    mHoldCol = int16_t(mGrid->Col());
}

void UGrid::ReleaseColumn() {
    if (mGrid->Splits() < 2) app::RaiseError(9);
    if (mGrid->LeftCol(1) != mHoldLeftCol) mGrid->SetLeftCol(1, mHoldLeftCol);
    if (mGrid->Col() != mHoldCol) mGrid->SetCol(mHoldCol);
}

int32_t UGrid::RecordCount() const {
    CHourglass busy;
    busy.SetValue(true);
    try {
        if (mData1->RecordSource().empty() || !RecordSet()) return 0;
        const long n = mGrid->Model()->Count();
        // A count query that cannot run counts 0, whatever the rows shown.
        return mGrid->Model()->CountFailed() ? 0 : int32_t(n);
    } catch (...) {
        // Shown; no rows are counted.
        base::ShowCaught("UGrid::RecordCount");
    }
    return 0;
}

bool UGrid::SpecialSelectEnable() const { return mSelectRow->isEnabled(); }
void UGrid::SetSpecialSelectEnable(bool enable) { mSelectRow->setEnabled(enable); }

void UGrid::ShowPopup(const QString& band) {
    base::RecordErrors("UGrid::ShowPopup", [&] {
        const QString name = band.isEmpty() ? QStringLiteral("popGrid") : band;
        QMenu* menu = ActiveBar(name);
        if (!menu) return;
        mLastPopup = name;
        menu->popup(QCursor::pos());
    });
}

void UGrid::ABar_Click(const QString& toolName) {
    RecordsetPtr rs = RecordSet();
    if (!rs || mGrid->Model()->rowCount() == 0) return;
    CHourglass busy;
    busy.SetValue(true);
    if (toolName == QLatin1String("mnuSortASC")) SortASC();
    else if (toolName == QLatin1String("mnuSortDESC")) SortDESC();
    else if (toolName == QLatin1String("mnuFind")) {
        busy.SetValue(false);
        ShowFind();
    } else if (toolName == QLatin1String("mnuCopyField")) CopyCell();
    else if (toolName == QLatin1String("mnuCopyRow")) CopyRecord();
    else if (toolName == QLatin1String("mnuSelectRow")) emit SelectSpecial();
}

void UGrid::ShowFind() {
    // Without a record set there is nothing to search.
    if (!RecordSet() || mGrid->Model()->Count() == 0) return;
    if (!mFFind) {
        mFFind = new FFind(this);
        mFFind->setWindowFlag(Qt::Tool);
        connect(mFFind, &FFind::FindNextRequested, this, &UGrid::mFFind_FindNext);
        connect(mFFind, &FFind::Activate, this, &UGrid::mFFind_Activate);
    }
    // A shown tool window is not activated on X, and one already open stays
    // behind: either way typed text would go to the grid.
    base::RecordErrors("UGrid::ShowFind", [&] {
        mFFind->show();
        mFFind->raise();
        mFFind->activateWindow();
    });
}

void UGrid::mFFind_Activate() {
    base::RecordErrors("UGrid::mFFind_Activate", [&] {
        const int col = mGrid->Col();
        mFindCol = int16_t(col < 0 ? 0 : col);
        const auto& cols = mGrid->Model()->Columns();
        if (mFFind && mFindCol < int(cols.size()))
            SetShownTitle(mFFind, QStringLiteral("Find in [") + FindName(cols[size_t(mFindCol)]) + QStringLiteral("]"));
    });
}

void UGrid::mFFind_FindNext(const QString& findString, bool matchCase, bool dirDown) {
    base::ShowErrors("UGrid::mFFind_FindNext", [&] {
        RecordsetPtr rs = RecordSet();
        if (!rs) return;
        const QString typed = mFFind ? mFFind->cmbFind->currentText() : findString;
        auto caption = [&](const char* outcome) {
            if (mFFind) SetShownTitle(mFFind, QStringLiteral("Find - '") + typed + QStringLiteral("' ") + outcome);
        };
        // The search starts at the grid's current row.
        const int row = mGrid->Row();
        if (row >= 0 && rs->AbsolutePosition() != row) rs->SetAbsolutePosition(row);
        const int left = mGrid->Splits() >= 2 ? mGrid->LeftCol(1) : -1;
        dao::Field field = rs->Fields(mFindCol);
        // A criterion names the first column of a name; a later namesake (a data
        // column called like a column of Test) would be searched as that one.
        for (int i = 0; i < mFindCol; ++i)
            if (dao::CompareText(rs->Fields(i).Name(), field.Name()) == 0) {
                ui::MsgBox(QStringLiteral("Column [%1] shares its name with another column and cannot be searched.")
                               .arg(QString::fromStdString(field.Name())),
                           ui::Buttons::OK, ui::Icon::Exclamation, QStringLiteral("Find"));
                return;
            }
        bool haveBookmark = false;
        int64_t bookmark = 0;
        if (rs->Bookmarkable() && !rs->Bof() && !rs->Eof()) {
            bookmark = rs->Bookmark();
            haveBookmark = true;
        }
        std::string criterion;
        switch (MBrowseSql::FindCriterion(field.Name(), field.Type(), findString.toStdString(), matchCase, criterion)) {
            case MBrowseSql::FindResult::InvalidDate:
                ui::MsgBox(QStringLiteral("Invalid Date."), ui::Buttons::OK, ui::Icon::Exclamation,
                           QStringLiteral("Find"));
                return;
            case MBrowseSql::FindResult::NotFound:
                caption("Not Found");
                QApplication::beep();
                return;
            case MBrowseSql::FindResult::Ok:
                break;
        }
        bool found = dirDown ? mData1->FindNext(criterion) : mData1->FindPrevious(criterion);
        if (!found) found = dirDown ? mData1->FindFirst(criterion) : mData1->FindLast(criterion);
        if (!found) {
            caption("Not Found");
            if (haveBookmark) mData1->SetBookmark(bookmark);
            QApplication::beep();
            return;
        }
        caption("Found");
        if (left >= 0) mGrid->SetLeftCol(1, left);
        mGrid->SetCol(mFindCol);
    });
}

void UGrid::showEvent(QShowEvent* e) {
    base::IGridPanel::showEvent(e);
    if (!e->spontaneous()) emit Show();
}

void UGrid::hideEvent(QHideEvent* e) {
    base::IGridPanel::hideEvent(e);
    if (!e->spontaneous()) emit Hide();
}

void UGrid::resizeEvent(QResizeEvent* e) {
    base::IGridPanel::resizeEvent(e);
    if (width() >= 1000 / 15 && height() >= 1000 / 15) mGrid->setGeometry(rect());
}

void UGrid::keyPressEvent(QKeyEvent* e) {
    MGridKeys::ForwardDown(*e);
    base::IGridPanel::keyPressEvent(e);
}

void UGrid::keyReleaseEvent(QKeyEvent* e) {
    MGridKeys::ForwardUp(*e);
    base::IGridPanel::keyReleaseEvent(e);
}
