#include "CDataControl.h"
#include "ErrorGuard.h"

CDataControl::CDataControl(QObject* parent) : QObject(parent) {}

CDataControl::~CDataControl() = default;

void CDataControl::SetDatabaseName(const std::string& name) {
    if (name != mDatabaseName) Close();
    mDatabaseName = name;
}

void CDataControl::Close() {
    mRecordset.reset();
    if (mDatabase) {
        base::RecordErrors("CDataControl::Close", [&] {
            mDatabase->Close();
        });
        mDatabase.reset();
    }
}

void CDataControl::Refresh() {
    mRecordset.reset();
    try {
        if (!mDatabaseName.empty() && !mRecordSource.empty()) {
            if (!mDatabase) mDatabase = dao::DBEngine::OpenDatabase(mDatabaseName, false, mReadOnly);
            // A sorted view shows its first rows before all of them are sorted.
            mRecordset = mDatabase->OpenRecordset(mRecordSource, dao::RecordsetType::Dynaset,
                                                  (mReadOnly ? dao::dbReadOnly : 0) | dao::dbFirstRowsFast);
        }
    } catch (...) {
        // No half-opened record set is kept.
        mRecordset.reset();
        throw;
    }
}

bool CDataControl::Find(void (dao::Recordset::*find)(const std::string&), const std::string& criteria) {
    if (!mRecordset) return false;
    ((*mRecordset).*find)(criteria);
    const bool found = !mRecordset->NoMatch();
    if (found) emit Moved();
    return found;
}

bool CDataControl::FindFirst(const std::string& c) { return Find(&dao::Recordset::FindFirst, c); }
bool CDataControl::FindLast(const std::string& c) { return Find(&dao::Recordset::FindLast, c); }
bool CDataControl::FindNext(const std::string& c) { return Find(&dao::Recordset::FindNext, c); }
bool CDataControl::FindPrevious(const std::string& c) { return Find(&dao::Recordset::FindPrevious, c); }

void CDataControl::SetBookmark(int64_t bookmark) {
    if (!mRecordset) return;
    mRecordset->SetBookmark(bookmark);
    emit Moved();
}

