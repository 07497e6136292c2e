#include "FieldScan.h"
#include "ErrorGuard.h"

#include <algorithm>

using MdbUtils::BracketName;

namespace {

std::optional<double> Number(const com::Variant& v) {
    if (v.IsNull() || v.IsEmpty()) return std::nullopt;
    if (v.vt == VT_BSTR && SysStringLen(v.bstrVal) == 0) return std::nullopt;
    if (v.vt == VT_DATE) return v.date;
    return dao::VarToDouble(v);
}

}  // namespace

constexpr int16_t kYesNoType = 1;  // the Boolean type code

FieldScan Scan(dao::Database& db, const std::string& table, const ScanField& field) {
    FieldScan s;
    const std::string t = BracketName(table);
    std::string c;
    try {
        c = t + "." + BracketName(field.name);
        const bool ordered = MdbUtils::IsNumericType(field.type) || MdbUtils::IsDateType(field.type);
        std::string sql = "SELECT Count(*), Count(" + c + ")";
        if (ordered) sql += ", Max(" + c + "), Min(" + c + "), Avg(" + c + "), StDev(" + c + ")";
        RecordsetPtr rs = db.OpenRecordset(sql + " FROM " + t + ";", dao::RecordsetType::ForwardOnly, dao::dbReadOnly);
        s.rows = rs->Fields(0).AsLong();
        s.nonNull = rs->Fields(1).AsLong();
        if (ordered) {
            s.max = Number(rs->Fields(2).Value());
            s.min = Number(rs->Fields(3).Value());
            s.avg = Number(rs->Fields(4).Value());
            s.stdDev = Number(rs->Fields(5).Value());
        }
        rs->Close();
    } catch (...) {
        // Kept with the field's scan; its reader reports it.
        s.statsError = std::current_exception();
    }
    if (MdbUtils::IsBlobType(field.type)) return s;
    try {
        if (c.empty()) c = t + "." + BracketName(field.name);
        // A field whose first rows already hold more than 256 values is not
        // grouped at all (DISTINCT with TOP stops reading there), which spares
        // sorting every row of a field of continuous values. The grouping
        // below still decides for any other field.
        if (s.statsError || s.nonNull > 256) {
            RecordsetPtr rs = db.OpenRecordset("SELECT DISTINCT TOP 257 v FROM (SELECT TOP 20000 " + c + " AS v FROM " +
                                                   t + " WHERE " + c + " Is Not Null) AS Head;",
                                               dao::RecordsetType::ForwardOnly, dao::dbReadOnly);
            int distinct = 0;
            for (; !rs->Eof() && distinct < 257; rs->MoveNext()) ++distinct;
            rs->Close();
            if (distinct >= 257) {
                s.many = true;
                return s;
            }
        }
        // A Yes/No value may be stored as 1 in a source file rather than as -1; group on
        // the -1/0 form so that True is "-1" and numbered first, as the engine's coding
        // of Yes/No fields assumes.
        const std::string v = field.type == kYesNoType ? "IIf(" + c + " <> 0, -1, 0)" : c;
        RecordsetPtr rs = db.OpenRecordset("SELECT TOP 257 CStr(" + v + ") As DValues, CLng(Count(*)) As Count FROM " +
                                               t + " WHERE Not IsNull(" + c + ") GROUP BY " + v + " ORDER BY CStr(" +
                                               v + ");",
                                           dao::RecordsetType::ForwardOnly, dao::dbReadOnly);
        for (; !rs->Eof(); rs->MoveNext())
            s.values.emplace_back(rs->Fields(0).AsString(), rs->Fields(1).AsLong());
        rs->Close();
    } catch (...) {
        // Kept with the field's scan; its reader reports it.
        s.valuesError = std::current_exception();
    }
    return s;
}

FieldScanner::FieldScanner(DatabasePtr db, std::string table, std::vector<ScanField> fields)
    : mDb(std::move(db)), mTable(std::move(table)), mFields(std::move(fields)), mResults(mFields.size()),
      mReady(mFields.size(), 0) {
    const size_t hardware = std::max(1u, std::thread::hardware_concurrency());
    const size_t workers = std::min<size_t>({hardware, mFields.size(), 8});
    if (workers < 2 || !mDb) return;
    if (!base::RecordErrors("FieldScanner::FieldScanner", [&] {
        // Opened here, on the calling thread: the engine's list of open
        // databases is not to be touched from several threads at once.
        for (size_t k = 0; k < workers; ++k) {
            mConnections.push_back(dao::DBEngine::OpenDatabase(mDb->Name(), false, true));
            // Each worker's mapped pages of the data file would count once more.
            mConnections.back()->ReadWithoutMapping();
        }
    })) {
        mConnections.clear();
        return;
    }
    for (const DatabasePtr& connection : mConnections) mThreads.emplace_back([this, connection] { Work(connection); });
}

FieldScanner::~FieldScanner() {
    mStop = true;
    for (std::thread& t : mThreads) t.join();
    mConnections.clear();
}

void FieldScanner::Work(DatabasePtr connection) {
    for (;;) {
        if (mStop) return;
        const size_t i = mNext++;
        if (i >= mFields.size()) return;
        FieldScan s = Scan(*connection, mTable, mFields[i]);
        std::lock_guard<std::mutex> lock(mMutex);
        mResults[i] = std::move(s);
        mReady[i] = 1;
        mDone.notify_all();
    }
}

const FieldScan& FieldScanner::Get(size_t i) {
    if (mThreads.empty()) {
        if (!mReady[i]) {
            mResults[i] = Scan(*mDb, mTable, mFields[i]);
            mReady[i] = 1;
        }
        return mResults[i];
    }
    std::unique_lock<std::mutex> lock(mMutex);
    mDone.wait(lock, [&] { return mReady[i] != 0; });
    return mResults[i];
}
