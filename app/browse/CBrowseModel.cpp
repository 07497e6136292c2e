#include "CBrowseModel.h"

#include "ErrorGuard.h"
#include "dao/dao.h"

#include <QBrush>
#include <QFont>


namespace {

long RunCount(const DatabasePtr& db, const std::string& sql) {
    auto rs = db->OpenRecordset(sql, dao::RecordsetType::Snapshot);
    return dao::VarToLong(rs->Fields(0).Value());
}

}  // namespace

CBrowseModel::CBrowseModel(QObject* parent) : QAbstractTableModel(parent) {}

CBrowseModel::~CBrowseModel() { StopCount(); }

void CBrowseModel::StopCount() {
    if (mCountJob.valid()) {
        // A sorted view's background sort may run for seconds; nobody waits for it now.
        if (mCountStop) mCountStop->store(true);
        if (mCountDb) mCountDb->Interrupt();
        base::RecordErrors("CBrowseModel::StopCount", [&] {
            mCountJob.get();
        });
    }
    mCountDb.reset();
}

void CBrowseModel::Release() {
    StopCount();
    beginResetModel();
    ++mGeneration;
    mRs.reset();
    mReader.reset();
    mDb.reset();
    mPages.clear();
    mCount = 0;
    mProvisional = 0;
    endResetModel();
}

void CBrowseModel::SetRecordset(RecordsetPtr rs, const DatabasePtr& db, const std::string& countSql, bool holdFields) {
    StopCount();
    beginResetModel();
    ++mGeneration;
    mRs = std::move(rs);
    mReader.reset();
    mDb = db;
    mPages.clear();
    mCount = -1;
    mProvisional = 0;
    mCountFailed = false;
    mCountSql = countSql;
    int fields = 0;
    if (!base::RecordErrors("CBrowseModel::SetRecordset", [&] {
        if (mRs) {
            fields = mRs->Fields().Count();
            mReader = mRs->Clone();
        }
    })) {
        mReader.reset();
    }
    const bool keep = holdFields && fields == mFields && fields > 0;
    mFields = fields;
    if (!keep) ResetColumns();
    if (!mReader) {
        mCount = 0;
    } else {
        // The first page tells whether the view has rows at all; the count follows.
        const Page* first = PageOf(0);
        mProvisional = first ? long(first->rows.size()) : 0;
        if (mProvisional < PageRows) {
            mCount = mProvisional;
            if (!base::RecordErrors("CBrowseModel::SetRecordset", [&] {
                RunCount(db, countSql);
            })) {
                mCountFailed = true;
            }
        }
        else StartCount(db, countSql);
    }
    endResetModel();
}

void CBrowseModel::StartCount(const DatabasePtr& db, const std::string& countSql) {
    if (!base::RecordErrors("CBrowseModel::StartCount", [&] {
        // A connection of its own, opened here: the engine's list of open
        // databases is kept by this thread.
        mCountDb = dao::DBEngine::OpenDatabase(db->Name(), false, true);
        mCountDb->ReadWithoutMapping();  // the grid's own connection maps the file already
        // An ODBC source is read from the grid's copy of it: the same rows, by the same keys.
        mCountDb->ShareLinkCopies(*db);
    })) {
        mCountDb.reset();
    }
    if (!mCountDb) {
        TakeCount();
        return;
    }
    const unsigned generation = mGeneration;
    mCountStop = std::make_shared<std::atomic<bool>>(false);
    std::string source;
    if (!base::RecordErrors("CBrowseModel::StartCount", [&] {
        if (mReader->KeysShareable()) source = mReader->Name();
    })) {
        source.clear();
    }
    mCountJob = std::async(std::launch::async, [this, generation, countDb = mCountDb, countSql, source,
                                                stop = mCountStop]() {
        CountResult result;
        if (!base::RecordErrors("CBrowseModel::StartCount", [&] {
            if (!source.empty()) {
                // Counting the rows is one pass over them; reading their keys
                // as well costs little more when split among a few connections.
                std::vector<DatabasePtr> helpers;
                for (int i = 0; i < KeyHelpers; ++i) {
                    helpers.push_back(dao::DBEngine::OpenDatabase(countDb->Name(), false, true));
                    helpers.back()->ReadWithoutMapping();
                    helpers.back()->ShareLinkCopies(*countDb);
                }
                RecordsetPtr rs = countDb->OpenRecordset(source, dao::RecordsetType::Dynaset, dao::dbReadOnly);
                if (rs->ReadAllKeys(helpers)) {
                    result.count = rs->RecordCount();
                    result.keys = std::move(rs);
                }
            }
        })) {
            result = CountResult();
        }
        if (result.count < 0 && !stop->load()) {
            base::RecordErrors("CBrowseModel::StartCount", [&] {
                result.count = RunCount(countDb, countSql);
            });
        }
        // Delivered on the model's thread; the destructor waits for this job first.
        QMetaObject::invokeMethod(
            this, [this, generation] { if (generation == mGeneration) TakeCount(); }, Qt::QueuedConnection);
        return result;
    });
}

void CBrowseModel::TakeCount() {
    if (mCount >= 0) return;
    long n = -2;
    if (mCountJob.valid()) {
        base::RecordErrors("CBrowseModel::TakeCount", [&] {
            CountResult result = mCountJob.get();
            n = result.count;
            // The rows read here keep their places and the others follow: the
            // view has as many rows as the reader then holds.
            if (result.keys && mReader && mReader->TakeKeys(*result.keys)) n = mReader->RecordCount();
        });
    }
    mCountDb.reset();
    if (n < 0) {
        // No separate count: walk the keys instead.
        n = 0;
        if (!base::RecordErrors("CBrowseModel::TakeCount", [&] {
            if (mDb && !mCountSql.empty()) n = RunCount(mDb, mCountSql);
        })) {
            mCountFailed = true;
            if (!base::RecordErrors("CBrowseModel::TakeCount", [&] {
                if (mReader) {
                    mReader->MoveLast();
                    n = mReader->RecordCount();
                }
            })) {
                n = 0;
            }
        }
    }
    ApplyCount(n);
}

void CBrowseModel::ApplyCount(long count) {
    const long shown = mProvisional;
    if (count > shown) {
        beginInsertRows(QModelIndex(), int(shown), int(count - 1));
        mCount = count;
        endInsertRows();
    } else if (count < shown) {
        beginRemoveRows(QModelIndex(), int(count), int(shown - 1));
        mCount = count;
        endRemoveRows();
    } else {
        mCount = count;
    }
}

long CBrowseModel::Count() {
    if (mCount < 0) TakeCount();
    return mCount;
}

void CBrowseModel::InvalidateRows(int first, int last) {
    mPages.remove_if([&](const Page& p) { return p.first <= last && p.first + long(p.rows.size()) > first; });
    if (first <= last && columnCount() > 0)
        emit dataChanged(index(first, 0), index(last, columnCount() - 1));
}

void CBrowseModel::InvalidateAll() {
    mPages.clear();
    if (rowCount() > 0 && columnCount() > 0) emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1));
}

void CBrowseModel::ResetColumns() {
    mColumns.assign(size_t(mFields), GridColumn());
    for (int i = 0; i < mFields; ++i) {
        base::RecordErrors("CBrowseModel::ResetColumns", [&] {
            dao::Field f = mRs->Fields(i);
            GridColumn& c = mColumns[size_t(i)];
            c.dataField = QString::fromStdString(f.Name());
            c.caption = c.dataField;
            c.sourceField = QString::fromStdString(f.SourceField());
            c.sourceTable = QString::fromStdString(f.SourceTable());
        });
    }
}

void CBrowseModel::LayoutChanged() {
    if (mFields > 0) emit headerDataChanged(Qt::Horizontal, 0, mFields - 1);
    InvalidateAll();
}

const CBrowseModel::Page* CBrowseModel::PageOf(int row) const {
    if (!mReader || row < 0) return nullptr;
    const long first = long(row) / PageRows * PageRows;
    for (auto it = mPages.begin(); it != mPages.end(); ++it)
        if (it->first == first) {
            if (it != mPages.begin()) mPages.splice(mPages.begin(), mPages, it);
            return &mPages.front();
        }
    Page page;
    page.first = first;
    // Past the end (the rows changed) or a failing read: what was read stays.
    base::RecordErrors("CBrowseModel::PageOf", [&] {
        mReader->SetAbsolutePosition(first);
        for (int r = 0; r < PageRows && !mReader->Eof(); ++r) {
            std::vector<Cell> cells(static_cast<size_t>(mFields));
            try {
                for (int c = 0; c < mFields; ++c) {
                    com::Variant v = mReader->Fields(c).Value();
                    Cell& cell = cells[size_t(c)];
                    if (v.IsNull()) continue;
                    if (v.vt == VT_I2 || v.vt == VT_I4 || v.vt == VT_R4 || v.vt == VT_R8 || v.vt == VT_UI1 ||
                        v.vt == VT_BOOL || v.vt == VT_CY) {
                        cell.kind = Cell::Number;
                        cell.num = dao::VarToDouble(v);
                    } else {
                        cell.kind = Cell::Other;
                    }
                    if (v.vt == (VT_ARRAY | VT_UI1)) cell.text = QStringLiteral("<Binary>");
                    else cell.text = QString::fromStdString(dao::VarToString(v));
                }
            } catch (const dao::DaoError& e) {
                // Another program deleted the row after its key was read: it
                // keeps its place, empty, and the rows after it are shown.
                if (e.Number() != 3167) throw;
                cells.assign(static_cast<size_t>(mFields), Cell());
            }
            page.rows.push_back(std::move(cells));
            // Not past the page's last row: a sorted view's first page would sort every row.
            if (r + 1 < PageRows) mReader->MoveNext();
        }
    });
    // The page is kept here: the connection holds no read of the file until the next one.
    if (mDb) mDb->EndReads();
    mPages.push_front(std::move(page));
    if (int(mPages.size()) > CachePages) mPages.pop_back();
    return &mPages.front();
}

const CBrowseModel::Cell* CBrowseModel::CellAt(int row, int col) const {
    if (col < 0 || col >= mFields) return nullptr;
    const Page* p = PageOf(row);
    if (!p) return nullptr;
    const long i = row - p->first;
    if (i < 0 || i >= long(p->rows.size())) return nullptr;
    return &p->rows[size_t(i)][size_t(col)];
}

const GridValueItem* CBrowseModel::ItemOf(const GridColumn& c, const Cell& cell) const {
    if (!c.translate || cell.kind != Cell::Number) return nullptr;
    for (const GridValueItem& item : c.valueItems)
        if (item.value == cell.num) return &item;
    return nullptr;
}

QVariant CBrowseModel::Value(int row, int col) const {
    const Cell* cell = CellAt(row, col);
    if (!cell || cell->kind == Cell::Null) return {};
    if (cell->kind == Cell::Number) return cell->num;
    return cell->text;
}

QString CBrowseModel::Text(int row, int col) const {
    const Cell* cell = CellAt(row, col);
    if (!cell) return {};
    QVariant value;
    if (const GridValueItem* item = ItemOf(mColumns[size_t(col)], *cell)) {
        if (!item->picture.isNull()) return {};
        value = item->display;
    } else if (cell->kind != Cell::Null) {
        value = cell->text;
    }
    if (formatText) {
        base::RecordErrors("CBrowseModel::Text", [&] {
            formatText(col, value);
        });
    }
    return value.isValid() ? value.toString() : QString();
}

int CBrowseModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid()) return 0;
    return int(mCount >= 0 ? mCount : mProvisional);
}

int CBrowseModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : mFields; }

Qt::ItemFlags CBrowseModel::flags(const QModelIndex& index) const {
    // The grid never edits the user's data.
    return index.isValid() ? Qt::ItemIsSelectable | Qt::ItemIsEnabled : Qt::NoItemFlags;
}

QVariant CBrowseModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.column() >= int(mColumns.size())) return {};
    const GridColumn& c = mColumns[size_t(index.column())];
    try {
        switch (role) {
            case Qt::DisplayRole:
                return Text(index.row(), index.column());
            case Qt::DecorationRole: {
                const Cell* cell = CellAt(index.row(), index.column());
                const GridValueItem* item = cell ? ItemOf(c, *cell) : nullptr;
                if (item && !item->picture.isNull()) return item->picture;
                return {};
            }
            case Qt::ForegroundRole:
                return c.foreColor.isValid() ? QVariant(QBrush(c.foreColor)) : QVariant();
            case Qt::BackgroundRole:
                return c.backColor.isValid() ? QVariant(QBrush(c.backColor)) : QVariant();
            case Qt::TextAlignmentRole:
                return QVariant::fromValue(c.alignment);
            case Qt::ToolTipRole:
                return cellTip ? cellTip(index.row()) : QVariant();
            case RowStyleRole: {
                if (!rowStyle) return {};
                const QColor color = rowStyle(index.row());
                return color.isValid() ? QVariant(color) : QVariant();
            }
            default:
                return {};
        }
    } catch (...) {
        // A cell that cannot be read shows empty.
        base::RecordCaught("CBrowseModel::data");
        return {};
    }
}

QVariant CBrowseModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Vertical) {
        if (role == Qt::DisplayRole) return QString();
        return {};
    }
    if (section < 0 || section >= int(mColumns.size())) return {};
    const GridColumn& c = mColumns[size_t(section)];
    switch (role) {
        case Qt::DisplayRole:
            return c.caption;
        case Qt::FontRole: {
            QFont font;
            font.setBold(true);
            font.setUnderline(c.underline);
            return font;
        }
        case Qt::BackgroundRole:
            return c.headColor.isValid() ? QVariant(QBrush(c.headColor)) : QVariant();
        case Qt::TextAlignmentRole:
            return QVariant::fromValue(c.headAlignment);
        case Qt::ToolTipRole:
            return headTip.isEmpty() ? QVariant() : QVariant(headTip);
        default:
            return {};
    }
}
