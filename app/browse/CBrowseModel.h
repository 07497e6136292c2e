// The rows of a browse record set as a table model. Never loads the table:
// rows are read a page at a time through a clone of the record set (so reading
// never moves the row that callers treat as current) and kept in a small page
// cache; the row count is the statement's COUNT(*), run on a connection of its
// own in the background while the first page is already shown.
#pragma once

#include "MdbUtils.h"

#include <QAbstractTableModel>
#include <QColor>
#include <QPixmap>

#include <atomic>
#include <functional>
#include <future>
#include <list>
#include <string>
#include <vector>

// One entry of a column's value list: a stored value shown as a text or a picture.
struct GridValueItem {
    double value = 0;
    QString display;
    QPixmap picture;
};

// The layout of one grid column; the column shows the record-set field of its position.
struct GridColumn {
    QString caption;
    QString dataField;    // the record-set field's name
    QString sourceField;  // its name in its base table
    QString sourceTable;
    bool visible[2] = {true, true};  // per split
    int width = 80;                  // pixels
    QColor headColor, foreColor, backColor;  // invalid: the view's own
    Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignVCenter;
    Qt::Alignment headAlignment = Qt::AlignLeft | Qt::AlignVCenter;
    std::vector<GridValueItem> valueItems;
    bool translate = false;
    bool underline = false;
};

class CBrowseModel : public QAbstractTableModel {
    Q_OBJECT
public:
    // The colour a row style asks for, read by the fixed split only.
    static constexpr int RowStyleRole = Qt::UserRole + 1;
    static constexpr int PageRows = 128;
    static constexpr int CachePages = 8;
    // Connections beside the count's that read parts of an unsorted view's keys.
    static constexpr int KeyHelpers = 3;

    explicit CBrowseModel(QObject* parent = nullptr);
    ~CBrowseModel() override;

    // A new record set (or none). countSql counts its rows; holdFields keeps
    // the column layout when the record set has the same number of fields.
    void SetRecordset(RecordsetPtr rs, const DatabasePtr& db, const std::string& countSql, bool holdFields);
    const RecordsetPtr& Recordset() const { return mRs; }
    // Lets go of the record set (its open statements would keep the connection
    // reading an old state of the file) and keeps the column layout.
    void Release();

    // The rows of the view, waiting for the background count when needed;
    // errors count as 0 rows.
    long Count();
    bool CountKnown() const { return mCount >= 0; }
    // The statement's COUNT(*) could not run (the rows were counted by walking them).
    bool CountFailed() const { return mCountFailed; }
    // Drops cached rows so that the next paint reads them again.
    void InvalidateRows(int first, int last);
    void InvalidateAll();

    std::vector<GridColumn>& Columns() { return mColumns; }
    // One column per record-set field, captioned with its name, shown in every split.
    void ResetColumns();
    // Tells the views that the column settings changed.
    void LayoutChanged();

    // The stored value of a cell (Null as an invalid QVariant, numbers as double, else text).
    QVariant Value(int row, int col) const;
    // The cell as the grid shows it (value list and format hook applied; "" for a picture).
    QString Text(int row, int col) const;

    // Hooks of the bound view.
    std::function<void(int col, QVariant& value)> formatText;
    std::function<QColor(int row)> rowStyle;
    std::function<QString(int row)> cellTip;
    QString headTip;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    struct Cell {
        QString text;
        double num = 0;
        enum Kind : uint8_t { Null, Number, Other } kind = Null;
    };
    struct Page {
        long first = 0;
        std::vector<std::vector<Cell>> rows;
    };

    const Page* PageOf(int row) const;
    const Cell* CellAt(int row, int col) const;
    const GridValueItem* ItemOf(const GridColumn& c, const Cell& cell) const;
    void StartCount(const DatabasePtr& db, const std::string& countSql);
    void TakeCount();
    void ApplyCount(long count);
    void StopCount();

    RecordsetPtr mRs;
    RecordsetPtr mReader;  // clone used for the pages
    int mFields = 0;
    std::vector<GridColumn> mColumns;
    long mCount = -1;         // -1 while unknown
    long mProvisional = 0;    // rows shown while the count runs
    bool mCountFailed = false;
    mutable std::list<Page> mPages;  // most recently used first
    // The background count reads the keys of every row in the same pass (for
    // a sorted view, the sort the first page did without), and the reader
    // takes them over, so that a jump to the last rows does not read them all
    // a second time.
    struct CountResult {
        long count = -2;  // -2: no count
        RecordsetPtr keys;
    };
    std::future<CountResult> mCountJob;
    // Set when the count is no longer wanted (another record set, or none).
    std::shared_ptr<std::atomic<bool>> mCountStop;
    DatabasePtr mCountDb;
    std::string mCountSql;
    DatabasePtr mDb;
    unsigned mGeneration = 0;
};
