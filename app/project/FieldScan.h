// What statistics collection reads from the data table for one field, and a
// scanner that reads every field at once on connections of its own.
//
// The scans are whole-table passes (aggregates, and the grouping of a field
// with few values); on a table of a million rows they are the whole cost of
// collection, and they are independent of each other. The scanner runs them on
// worker threads, each with its own read-only connection to the project, in
// field order; collection takes the results one field at a time, so what is
// written, the order of progress events and the effect of a cancel are those
// of a field-by-field collection. Nothing is written by the workers.
#pragma once

#include "MdbUtils.h"

#include <atomic>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

struct FieldScan {
    int32_t rows = 0;     // rows of the table
    int32_t nonNull = 0;  // rows where the field has a value
    // Max, Min, Avg and StDev of a number or date field (dates as day serials);
    // nullopt for Null.
    std::optional<double> max, min, avg, stdDev;
    std::exception_ptr statsError;
    // The grouping of the field's values (at most 257 rows: value text, count)
    // in ascending text order; many is set instead when the field has more
    // than 256 distinct values, and nothing for a blob field.
    bool many = false;
    std::vector<std::pair<std::string, int32_t>> values;
    std::exception_ptr valuesError;
};

struct ScanField {
    std::string name;
    int16_t type = 0;  // as the engine reports it (positive)
};

FieldScan Scan(dao::Database& db, const std::string& table, const ScanField& field);

class FieldScanner {
public:
    // Falls back to scanning on db itself, one field at a time as asked, when
    // worker connections cannot be opened (a project held exclusively).
    FieldScanner(DatabasePtr db, std::string table, std::vector<ScanField> fields);
    ~FieldScanner();  // stops the workers after their field in hand
    FieldScanner(const FieldScanner&) = delete;
    FieldScanner& operator=(const FieldScanner&) = delete;

    // The scan of field i, waiting for it when needed.
    const FieldScan& Get(size_t i);

private:
    void Work(DatabasePtr connection);

    DatabasePtr mDb;
    std::string mTable;
    std::vector<ScanField> mFields;
    std::vector<FieldScan> mResults;
    std::vector<char> mReady;
    std::atomic<size_t> mNext{0};
    std::atomic<bool> mStop{false};
    std::mutex mMutex;
    std::condition_variable mDone;
    std::vector<DatabasePtr> mConnections;
    std::vector<std::thread> mThreads;
};
