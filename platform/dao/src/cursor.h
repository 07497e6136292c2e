// Record-set internals shared by the record set and its fields; their bodies
// are in cursor.cpp, but for the calls a record set makes for every row it
// reads (the row's statement and the move to the next), kept inline below.
#pragma once

#include <limits>
#include <unordered_set>

#include "engine.h"

namespace dao::detail {

inline constexpr size_t kNone = std::numeric_limits<size_t>::max();
inline constexpr int kSortThreads = 4;

struct Source;
// The statement that reads a stream's rows after the row in src.lastRow; "" when there is none.
std::string ResumeSql(const Source& src);

struct ColMeta {
    std::string name;
    short type = 0;
    long size = 0;
    bool autoIncrement = false;
    bool required = false;
    std::string sourceTable, sourceField;
    int keyIndex = -1;
    std::string schema, table, column;
    bool updatable = false;
};

struct Source {
    std::shared_ptr<Core> core;
    std::string name;
    RecordsetType type = RecordsetType::Dynaset;
    bool readOnlyOpt = false;
    SelectInfo sel;
    std::vector<TableRef> keyTables;
    int nKeys = 0;
    int nCols = 0;
    std::vector<ColMeta> cols;
    bool keyed = false, materialized = false, forwardOnly = false;
    bool keysOnly = false;  // the stream yields keys only; rows are read by key
    bool parallelSort = false;  // the stream's order is total, so its sort may use worker threads
    // A sorted stream's first rows can be read by the same join with a LIMIT
    // (headSql), for which SQLite keeps only the top rows instead of sorting
    // them all; its keys start at column headKeyBase.
    std::string headSql;
    int headKeyBase = 0;
    size_t headRows = 0;
    bool headFirst = false;  // opened so (kept by a requery)
    int keyBase = 0;        // first key column of the stream
    std::string fetchSql, findInner;
    sqlite3_stmt* stream = nullptr;
    std::string streamSql;
    bool streamDone = false;
    bool suspended = false;
    // The stream holds a row it has not produced yet (met by a resume).
    bool pendingRow = false;
    // The rows came otherwise when the stream ran again (another program
    // added or removed some): rows already known are told apart by key.
    bool byKeys = false;
    // A keyed stream is in a total order: its sort (the first table's key
    // when nothing else), then the keys. After a suspension it goes on from
    // the last row it produced, by that row's sort values and keys, instead
    // of walking again the rows before it. The values are the stream's
    // orderCols columns after the keys, taken when it is suspended.
    std::vector<std::pair<std::string, bool>> order;  // the sort's terms, descending or not
    int orderCols = 0;
    bool onRow = false;                    // the stream stands on the last row it produced
    std::vector<sqlite3_value*> lastRow;   // that row's sort values, then its keys
    sqlite3_stmt* fromStart = nullptr;     // the stream as made, while a resumed one runs
    uint64_t streamGen = 0;
    uint64_t streamStartWriteGen = 0;
    size_t streamProduced = 0;
    size_t streamPos = kNone;
    size_t known = 0;
    std::vector<int64_t> keys;
    std::vector<uint8_t> deleted;
    long deletedCount = 0;
    std::unordered_multimap<uint64_t, size_t> keyPos;
    size_t keyPosBuilt = 0;
    // Keys taken whole that rise in one of their tables' keys are searched
    // by it, not hashed: a million entries of hash cost more than the keys.
    int sortedKey = -1;
    size_t sortedCount = 0;
    bool monotonic = true;
    int64_t lastStreamKey = kNullKey;
    std::unordered_set<int64_t> addedSet;
    std::vector<std::vector<sqlite3_value*>> rows;
    bool tableType = false;
    std::string baseSchema, baseTable, indexName;
    long tableCount = 0;

    ~Source();
    const int64_t* KeyAt(size_t pos) const { return &keys[pos * size_t(nKeys)]; }

    void ForgetLastRow();
    void Suspend();
    void Resume();

    // Runs the stream on from the row in lastRow; false when it cannot.
    bool ResumeAfterLastRow();

    // A stream of rows without keys can only pass over as many rows as it produced.
    void ResumeByCount();

    bool StreamKeyIs(const int64_t* k) const;
    void BuildKeyPos();
    size_t FindKnown(const int64_t* k);
    int Step(bool fresh);

    // Reads the first headRows keys with headSql. The order is total (the
    // keys end it), so the stream, when it runs, yields them first and passes
    // over them as after a suspension. False when the query cannot run; the
    // stream then reads as usual.
    bool ReadHead();

    // Produces the next row of the stream (or the head's rows); false at its end.
    bool StepStream();

    bool EnsureRow(size_t pos);
    void FinishStream();

    // Takes a list of all the keys, read in one pass of the same statement.
    // The rows known here keep their places (they may have been shown, marked
    // or changed since); the list's other rows follow in the list's order.
    bool TakeAllKeys(std::vector<int64_t>& all);

    size_t PositionOf(const int64_t* k);
};

struct Cursor : std::enable_shared_from_this<Cursor> {
    std::shared_ptr<Source> src;
    std::shared_ptr<Core> core;
    long pos = -1;
    bool bof = true, eof = true;
    sqlite3_stmt* fetch = nullptr;
    enum Mode { NoRow, StreamRow, FetchRow } mode = NoRow;
    uint64_t modeStreamGen = 0, modeWriteGen = 0;
    int editMode = dbEditNone;
    std::vector<com::Variant> buffer;
    std::vector<char> dirty;
    bool noMatch = false;
    int64_t lastModified = 0;
    bool closed = false;
    std::unordered_map<std::string, std::string> updateSql;  // by table and changed columns
    dao::Fields::Impl fieldsImpl;
    std::unique_ptr<dao::Fields> fields;

    ~Cursor();
    void CheckOpen() const;
    bool Updatable() const;
    void Land(size_t p);
    void SetBof();
    void SetEof();
    bool IsDeleted(size_t p) const { return p < src->deleted.size() && src->deleted[p]; }

    // The statement (or stored row) holding the current record.
    sqlite3_stmt* RowStmt();

    com::Variant Value(int col);

    // Movement.
    void MoveFirst();
    void MoveLast();
    void MoveNext();
    void MovePrevious();
    void Move(long n, long from);
    void CancelEdit();

    // Editing.
    void SetValue(int col, const VARIANT& v);
    void Update();

    // The row is read again when next asked for; its statement holds no read meanwhile.
    void LetRowGo();

    void Delete();

    // Find.
    void Find(const std::string& criteria, int direction /* 0 first, 1 last, 2 next, 3 previous */);
    void FindMaterialized(const std::string& cond, int direction);
};

inline bool Source::EnsureRow(size_t pos) {
    while (known <= pos)
        if (!StepStream()) return false;
    return true;
}

inline void Cursor::CheckOpen() const {
    if (closed || !src) Raise(3420);
    core->CheckOpen();
}

inline void Cursor::Land(size_t p) {
    pos = long(p);
    bof = eof = false;
    if (src->streamPos == p && src->stream && !src->keysOnly) {
        mode = StreamRow;
        modeStreamGen = src->streamGen;
        modeWriteGen = core->writeGen;
    } else {
        mode = NoRow;
    }
}

inline void Cursor::SetEof() {
    pos = long(src->known);
    eof = true;
    bof = src->known == 0;
    mode = NoRow;
}

inline sqlite3_stmt* Cursor::RowStmt() {
    if (bof || eof || pos < 0) Raise(3021);
    size_t p = size_t(pos);
    if (IsDeleted(p)) Raise(3167);
    if (src->forwardOnly) {
        if (src->suspended) src->Resume();  // back on the current row
        if (src->streamPos != p) Raise(3021);
        return src->stream;
    }
    if (src->materialized) return nullptr;
    if (mode == StreamRow && src->streamPos == p && modeStreamGen == src->streamGen &&
        modeWriteGen == core->writeGen && !src->suspended)
        return src->stream;
    if (mode == FetchRow && modeWriteGen == core->writeGen) return fetch;
    if (!fetch) fetch = core->Prepare(src->fetchSql);
    sqlite3_reset(fetch);
    const int64_t* k = src->KeyAt(p);
    for (int i = 0; i < src->nKeys; ++i) {
        if (k[i] == kNullKey) sqlite3_bind_null(fetch, i + 1);
        else sqlite3_bind_int64(fetch, i + 1, k[i]);
    }
    int rc = sqlite3_step(fetch);
    if (rc == SQLITE_DONE) {
        sqlite3_reset(fetch);
        Raise(3167);
    }
    if (rc != SQLITE_ROW) {
        sqlite3_reset(fetch);
        RaiseSqlite(core->db, rc, src->name);
    }
    mode = FetchRow;
    modeWriteGen = core->writeGen;
    return fetch;
}

inline void Cursor::MoveNext() {
    CheckOpen();
    if (eof) Raise(3021);
    CancelEdit();
    if (src->forwardOnly) {
        if (src->StepStream()) Land(src->known - 1);
        else SetEof();
        return;
    }
    size_t p = bof ? 0 : size_t(pos) + 1;
    while (src->EnsureRow(p) && IsDeleted(p)) ++p;
    if (src->EnsureRow(p)) Land(p);
    else SetEof();
}

inline void Cursor::CancelEdit() {
    editMode = dbEditNone;
    std::fill(dirty.begin(), dirty.end(), 0);
}

}  // namespace dao::detail
