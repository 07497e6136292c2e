// The grid's data binding: a database file, an SQL text and the updatable
// record set (a dynaset) over them. Moves made through it are announced, so
// that the grid follows the record set's current row.
#pragma once

#include "MdbUtils.h"

#include <QObject>

#include <string>

class CDataControl : public QObject {
    Q_OBJECT
public:
    explicit CDataControl(QObject* parent = nullptr);
    ~CDataControl() override;

    const std::string& DatabaseName() const { return mDatabaseName; }
    void SetDatabaseName(const std::string& name);  // closes what is open; opens on Refresh
    const std::string& RecordSource() const { return mRecordSource; }
    void SetRecordSource(const std::string& sql) { mRecordSource = sql; }
    bool ReadOnly() const { return mReadOnly; }
    void SetReadOnly(bool readOnly) { mReadOnly = readOnly; }

    // Opens the database when needed and the record set over RecordSource
    // (none for an empty text). Errors reach the caller with no record set left.
    void Refresh();
    const DatabasePtr& Database() const { return mDatabase; }
    const RecordsetPtr& Recordset() const { return mRecordset; }
    // Closes the record set and the database.
    void Close();

    // Find and move on the record set; the grid follows. False when nothing matched.
    bool FindFirst(const std::string& criteria);
    bool FindLast(const std::string& criteria);
    bool FindNext(const std::string& criteria);
    bool FindPrevious(const std::string& criteria);
    void SetBookmark(int64_t bookmark);

signals:
    void Moved();      // the current row was moved from code

private:
    bool Find(void (dao::Recordset::*find)(const std::string&), const std::string& criteria);

    std::string mDatabaseName, mRecordSource;
    bool mReadOnly = false;
    DatabasePtr mDatabase;
    RecordsetPtr mRecordset;
};
