// The record set's bodies: the stream of a source's rows and keys, read on,
// suspended and resumed; and a cursor's movement, editing and find on it.
// Apart from cursor.h so that each file including it does not compile them.
#include "cursor.h"

#include <algorithm>
#include <cstring>

namespace dao::detail {

namespace {

uint64_t HashKey(const int64_t* k, int n) {
    uint64_t h = 1469598103934665603ull;
    for (int i = 0; i < n; ++i) {
        h ^= static_cast<uint64_t>(k[i]);
        h *= 1099511628211ull;
        h ^= h >> 29;
    }
    return h;
}

}  // namespace

Source::~Source() {
    if (core) core->sources.erase(this);
    if (fromStart && fromStart != stream) sqlite3_finalize(fromStart);
    if (stream) sqlite3_finalize(stream);
    ForgetLastRow();
    for (auto& r : rows)
        for (auto* v : r) sqlite3_value_free(v);
}

void Source::ForgetLastRow() {
    for (auto* v : lastRow) sqlite3_value_free(v);
    lastRow.clear();
}

void Source::Suspend() {
    if (stream && !streamDone && !suspended) {
        if (onRow && orderCols > 0) {
            ForgetLastRow();
            for (int i = 0; i < orderCols; ++i)
                lastRow.push_back(sqlite3_value_dup(sqlite3_column_value(stream, keyBase + nKeys + i)));
            for (int i = 0; i < nKeys; ++i) lastRow.push_back(sqlite3_value_dup(sqlite3_column_value(stream, keyBase + i)));
            for (auto* v : lastRow)
                if (!v) ForgetLastRow();  // out of memory: the stream runs from its start
        }
        onRow = false;
        sqlite3_reset(stream);
        suspended = true;
        pendingRow = false;
        streamPos = kNone;
    }
}

void Source::Resume() {
    sqlite3_reset(stream);
    suspended = false;
    streamStartWriteGen = core->writeGen;
    if (!keyed || forwardOnly) return ResumeByCount();
    // Rows are known by their keys: none is passed over by counting, since
    // the file may have changed meanwhile (rows gone, or added before).
    if (!lastRow.empty() && ResumeAfterLastRow()) return;
    if (fromStart && stream != fromStart) {
        sqlite3_finalize(stream);
        stream = fromStart;
    }
    // The stream runs from its start: the rows known pass while they come
    // in the order they were read; from the first that differs, by key.
    for (size_t i = 0; i < known; ++i) {
        const int rc = Step(i == 0);
        if (rc != SQLITE_ROW) {
            sqlite3_reset(stream);
            if (rc != SQLITE_DONE) {
                suspended = true;
                RaiseSqlite(core->db, rc, name);
            }
            streamDone = true;
            return;
        }
        if (!StreamKeyIs(KeyAt(i))) {
            pendingRow = byKeys = true;
            return;
        }
    }
    onRow = known > 0;
}

bool Source::ResumeAfterLastRow() {
    const std::string sql = ResumeSql(*this);
    sqlite3_stmt* st = nullptr;
    if (sql.empty() || sqlite3_prepare_v2(core->db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
        sqlite3_finalize(st);
        return false;
    }
    for (size_t i = 0; i < lastRow.size(); ++i)
        if (sqlite3_value_type(lastRow[i]) != SQLITE_NULL) sqlite3_bind_value(st, int(i + 1), lastRow[i]);
    if (!fromStart) fromStart = stream;
    else if (stream != fromStart) sqlite3_finalize(stream);
    stream = st;
    // Rows whose sort values changed since they were read may come again.
    byKeys = true;
    return true;
}

void Source::ResumeByCount() {
    for (size_t i = 0; i < streamProduced; ++i) {
        if (Step(i == 0) != SQLITE_ROW) {
            streamDone = true;
            sqlite3_reset(stream);
            return;
        }
    }
    if (forwardOnly && streamProduced > 0) streamPos = known - 1;
}

bool Source::StreamKeyIs(const int64_t* k) const {
    for (int i = 0; i < nKeys; ++i) {
        const int64_t v = sqlite3_column_type(stream, keyBase + i) == SQLITE_NULL
                              ? kNullKey
                              : sqlite3_column_int64(stream, keyBase + i);
        if (v != k[i]) return false;
    }
    return true;
}

void Source::BuildKeyPos() {
    for (; keyPosBuilt < known; ++keyPosBuilt) keyPos.emplace(HashKey(KeyAt(keyPosBuilt), nKeys), keyPosBuilt);
}

size_t Source::FindKnown(const int64_t* k) {
    if (sortedKey >= 0) {
        const int64_t v = k[sortedKey];
        size_t lo = 0, hi = sortedCount;
        while (lo < hi) {
            const size_t mid = lo + (hi - lo) / 2;
            if (KeyAt(mid)[sortedKey] < v) lo = mid + 1;
            else hi = mid;
        }
        if (lo < sortedCount && std::memcmp(KeyAt(lo), k, sizeof(int64_t) * size_t(nKeys)) == 0) return lo;
        keyPosBuilt = std::max(keyPosBuilt, sortedCount);
    }
    BuildKeyPos();
    auto range = keyPos.equal_range(HashKey(k, nKeys));
    for (auto it = range.first; it != range.second; ++it)
        if (std::memcmp(KeyAt(it->second), k, sizeof(int64_t) * size_t(nKeys)) == 0) return it->second;
    return kNone;
}

int Source::Step(bool fresh) {
    // The sort of a large result runs on several threads; the count is
    // read when the sort starts, on the first step.
    if (!parallelSort || !fresh) return sqlite3_step(stream);
    const int was = sqlite3_limit(core->db, SQLITE_LIMIT_WORKER_THREADS, kSortThreads);
    const int rc = sqlite3_step(stream);
    sqlite3_limit(core->db, SQLITE_LIMIT_WORKER_THREADS, was);
    return rc;
}

bool Source::ReadHead() {
    const size_t n = headRows;
    headRows = 0;
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(core->db, headSql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
        sqlite3_finalize(st);
        return false;
    }
    std::vector<int64_t> got;
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW)
        for (int i = 0; i < nKeys; ++i)
            got.push_back(sqlite3_column_type(st, headKeyBase + i) == SQLITE_NULL
                              ? kNullKey
                              : sqlite3_column_int64(st, headKeyBase + i));
    sqlite3_finalize(st);
    if (rc != SQLITE_DONE) return false;
    const size_t rows = got.size() / size_t(nKeys);
    for (size_t r = 0; r < rows && nKeys == 1; ++r) {
        if (got[r] <= lastStreamKey) monotonic = false;
        lastStreamKey = std::max(lastStreamKey, got[r]);
    }
    keys = std::move(got);
    deleted.assign(rows, 0);
    known = streamProduced = rows;
    ++streamGen;
    streamPos = kNone;
    streamStartWriteGen = core->writeGen;
    if (rows < n) streamDone = true;
    else suspended = true;
    return true;
}

bool Source::StepStream() {
    if (headRows && known == 0 && streamProduced == 0 && !suspended && !streamDone && stream && ReadHead())
        return known > 0;
    if (streamDone || !stream) return false;
    if (suspended) {
        Resume();
        if (streamDone) return false;
    }
    for (;;) {
        const int rc = pendingRow ? SQLITE_ROW : Step(streamProduced == 0);
        pendingRow = false;
        if (rc == SQLITE_DONE) {
            streamDone = true;
            streamPos = kNone;
            sqlite3_reset(stream);
            return false;
        }
        if (rc != SQLITE_ROW) {
            sqlite3_reset(stream);
            suspended = true;
            onRow = false;
            ForgetLastRow();  // rows came after it: the stream runs from its start
            RaiseSqlite(core->db, rc, name);
        }
        ++streamProduced;
        ++streamGen;
        if (keyed) {
            int64_t k[8];
            for (int i = 0; i < nKeys; ++i)
                k[i] = sqlite3_column_type(stream, keyBase + i) == SQLITE_NULL ? kNullKey
                                                                               : sqlite3_column_int64(stream, keyBase + i);
            // A row may come round again when it was changed or added while
            // the stream ran, or when the stream ran again after a suspension.
            bool check;
            if (nKeys == 1 && monotonic && k[0] > lastStreamKey) check = addedSet.count(k[0]) != 0;
            else check = byKeys || core->writeGen != streamStartWriteGen || !addedSet.empty();
            if (nKeys == 1) {
                if (k[0] <= lastStreamKey) monotonic = false;
                lastStreamKey = std::max(lastStreamKey, k[0]);
            }
            if (check && FindKnown(k) != kNone) continue;
            onRow = true;
            keys.insert(keys.end(), k, k + nKeys);
        } else if (materialized) {
            std::vector<sqlite3_value*> row(static_cast<size_t>(nCols));
            for (int i = 0; i < nCols; ++i) row[size_t(i)] = sqlite3_value_dup(sqlite3_column_value(stream, i));
            rows.push_back(std::move(row));
        }
        deleted.push_back(0);
        streamPos = known++;
        return true;
    }
}

void Source::FinishStream() {
    while (StepStream()) {
    }
}

bool Source::TakeAllKeys(std::vector<int64_t>& all) {
    const size_t n = known * size_t(nKeys);
    if (all.size() < n || (n && std::memcmp(keys.data(), all.data(), n * sizeof(int64_t)) != 0)) {
        std::vector<int64_t> merged(keys.begin(), keys.begin() + std::ptrdiff_t(n));
        merged.reserve(std::max(all.size(), n));
        for (size_t i = 0; i < all.size(); i += size_t(nKeys))
            if (FindKnown(&all[i]) == kNone) merged.insert(merged.end(), &all[i], &all[i] + nKeys);
        all.swap(merged);
    }
    const size_t was = known;
    known = all.size() / size_t(nKeys);
    keys = std::move(all);
    all.clear();
    for (int c = 0; c < nKeys && sortedKey < 0; ++c) {
        bool rising = true;
        for (size_t i = 1; i < known && rising; ++i) rising = KeyAt(i - 1)[c] < KeyAt(i)[c];
        if (rising) sortedKey = c, sortedCount = known;
    }
    deleted.resize(was);
    deleted.resize(known, 0);
    streamProduced = known;
    if (stream) sqlite3_reset(stream);
    streamDone = true;
    suspended = pendingRow = false;
    streamPos = kNone;
    ++streamGen;
    return true;
}

size_t Source::PositionOf(const int64_t* k) {
    size_t p = FindKnown(k);
    for (size_t from = known; p == kNone && StepStream(); from = known)
        for (size_t i = from; i < known && p == kNone; ++i)
            if (std::memcmp(KeyAt(i), k, sizeof(int64_t) * size_t(nKeys)) == 0) p = i;
    return p;
}

Cursor::~Cursor() {
    if (core) core->cursors.erase(this);
    if (fetch) sqlite3_finalize(fetch);
}

bool Cursor::Updatable() const {
    if (!src->keyed || src->readOnlyOpt || core->readOnly) return false;
    if (src->type != RecordsetType::Dynaset && src->type != RecordsetType::Table) return false;
    for (const auto& c : src->cols)
        if (c.updatable) return true;
    return false;
}

void Cursor::SetBof() {
    pos = -1;
    bof = true;
    eof = src->known == 0 && src->streamDone;
    mode = NoRow;
}

com::Variant Cursor::Value(int col) {
    CheckOpen();
    if (editMode != dbEditNone && dirty[size_t(col)]) return buffer[size_t(col)];
    if (editMode == dbEditAdd) return com::Variant::Null();
    sqlite3_stmt* st = RowStmt();
    short type = src->cols[size_t(col)].type;
    if (!st) return ValueToVariant(src->rows[size_t(pos)][size_t(col)], type);
    return ColumnToVariant(st, col, type);
}

void Cursor::MoveFirst() {
    CheckOpen();
    CancelEdit();
    if (src->forwardOnly) {
        if (src->known == 0 && src->StepStream()) return Land(0);
        if (src->known == 1 && !eof && !bof) return;
        Raise(3219);
    }
    size_t p = 0;
    while (src->EnsureRow(p) && IsDeleted(p)) ++p;
    if (!src->EnsureRow(p)) Raise(3021);
    Land(p);
}

void Cursor::MoveLast() {
    CheckOpen();
    CancelEdit();
    if (src->forwardOnly) Raise(3219);
    src->FinishStream();
    size_t p = src->known;
    while (p > 0 && IsDeleted(p - 1)) --p;
    if (p == 0) Raise(3021);
    Land(p - 1);
}

void Cursor::MovePrevious() {
    CheckOpen();
    if (src->forwardOnly) Raise(3219);
    if (bof) Raise(3021);
    CancelEdit();
    long p = eof ? long(src->known) - 1 : pos - 1;
    if (eof) src->FinishStream(), p = long(src->known) - 1;
    while (p >= 0 && IsDeleted(size_t(p))) --p;
    if (p < 0) SetBof();
    else Land(size_t(p));
}

void Cursor::Move(long n, long from) {
    CheckOpen();
    CancelEdit();
    if (src->forwardOnly) {
        if (n < 0) Raise(3219);
        if (bof && !eof && n > 0) --n, MoveNext();
        for (long i = 0; i < n && !eof; ++i) MoveNext();
        return;
    }
    long target = from + n;
    if (target < 0) return SetBof();
    if (!src->EnsureRow(size_t(target))) return SetEof();
    // Deleted rows are passed over in the direction of travel.
    size_t p = size_t(target);
    if (n >= 0) {
        while (src->EnsureRow(p) && IsDeleted(p)) ++p;
        if (!src->EnsureRow(p)) return SetEof();
    } else {
        while (IsDeleted(p)) {
            if (p == 0) return SetBof();
            --p;
        }
    }
    Land(p);
}

void Cursor::SetValue(int col, const VARIANT& v) {
    CheckOpen();
    if (editMode == dbEditNone) Raise(3020);
    const ColMeta& c = src->cols[size_t(col)];
    if (!c.updatable) throw DaoError(3164, "Field cannot be updated.");
    // Conversion errors surface at the assignment, as they do for fields.
    if (!core->probe) core->probe = core->Prepare("SELECT ?1");
    BindForColumn(core->probe, 1, v, c.type, c.size, c.name);
    sqlite3_clear_bindings(core->probe);
    buffer[size_t(col)] = com::Variant(v);
    dirty[size_t(col)] = 1;
}

void Cursor::Update() {
    CheckOpen();
    if (editMode == dbEditNone) Raise(3020);
    core->CheckWritable();
    if (editMode == dbEditInProgress) {
        if (bof || eof) Raise(3021);
        const int64_t* k = src->KeyAt(size_t(pos));
        for (int t = 0; t < src->nKeys; ++t) {
            std::vector<int> cols;
            for (int i = 0; i < src->nCols; ++i)
                if (dirty[size_t(i)] && src->cols[size_t(i)].keyIndex == t) cols.push_back(i);
            if (cols.empty()) continue;
            if (k[t] == kNullKey) Raise(3027);
            // Row-by-row edits repeat the same few statements: keep their text.
            std::string sig(1, char(t));
            sig.append(dirty.begin(), dirty.end());
            auto found = updateSql.find(sig);
            if (found == updateSql.end()) {
                std::string sets;
                for (size_t j = 0; j < cols.size(); ++j)
                    sets += (j ? ", " : "") + QuoteIdent(src->cols[size_t(cols[j])].column) + " = ?" + std::to_string(j + 1);
                const TableRef& tr = src->keyTables[size_t(t)];
                found = updateSql
                            .emplace(sig, "UPDATE " + QuoteIdent(tr.schema) + "." + QuoteIdent(tr.table) + " SET " + sets +
                                              " WHERE " + tr.rowid + " = ?" + std::to_string(cols.size() + 1))
                            .first;
            }
            const std::string& sql = found->second;
            sqlite3_stmt* st = core->Cached(sql);
            for (size_t j = 0; j < cols.size(); ++j) {
                const ColMeta& c = src->cols[size_t(cols[j])];
                BindForColumn(st, int(j + 1), buffer[size_t(cols[j])], c.type, c.size, c.name);
            }
            sqlite3_bind_int64(st, int(cols.size() + 1), k[t]);
            core->Step(st, src->name);
            // The row went away under the record set (or its key no longer finds it).
            if (sqlite3_changes(core->db) == 0) Raise(3167);
        }
        lastModified = pos + 1;
    } else {
        int table = -1;
        std::string names, params;
        std::vector<int> cols;
        for (int i = 0; i < src->nCols; ++i)
            if (dirty[size_t(i)]) {
                int t = src->cols[size_t(i)].keyIndex;
                if (table >= 0 && t != table) Raise(3027);
                table = t;
                names += (names.empty() ? "" : ", ") + QuoteIdent(src->cols[size_t(i)].column);
                params += (params.empty() ? "?" : ", ?") + std::to_string(cols.size() + 1);
                cols.push_back(i);
            }
        if (src->nKeys != 1) Raise(3027);
        const TableRef& tr = src->keyTables[0];
        std::string sql = "INSERT INTO " + QuoteIdent(tr.schema) + "." + QuoteIdent(tr.table) +
                          (cols.empty() ? " DEFAULT VALUES" : " (" + names + ") VALUES (" + params + ")");
        int64_t rowid = 0;
        auto insert = [&] {
            sqlite3_stmt* st = core->Cached(sql);
            for (size_t j = 0; j < cols.size(); ++j) {
                const ColMeta& c = src->cols[size_t(cols[j])];
                BindForColumn(st, int(j + 1), buffer[size_t(cols[j])], c.type, c.size, c.name);
            }
            core->Step(st, src->name);
            rowid = sqlite3_last_insert_rowid(core->db);
        };
        const std::vector<std::string> counters = core->Counters(tr.schema, tr.table);
        if (counters.empty()) {
            insert();
        } else {
            core->Atomically([&] {
                insert();
                core->NumberCounters(tr.schema, tr.table, counters, {rowid});
            });
        }
        src->keys.push_back(rowid);
        src->deleted.push_back(0);
        src->addedSet.insert(rowid);
        size_t newPos = src->known++;
        ++src->tableCount;
        lastModified = int64_t(newPos) + 1;
        if (eof) pos = long(src->known);
    }
    core->Changed(false);
    CancelEdit();
    LetRowGo();
}

void Cursor::LetRowGo() {
    mode = NoRow;
    if (fetch) sqlite3_reset(fetch);
}

void Cursor::Delete() {
    CheckOpen();
    if (!Updatable()) Raise(3027);
    if (bof || eof) Raise(3021);
    if (IsDeleted(size_t(pos))) Raise(3167);
    CancelEdit();
    const int64_t* k = src->KeyAt(size_t(pos));
    const TableRef& tr = src->keyTables[0];
    sqlite3_stmt* st = core->Cached("DELETE FROM " + QuoteIdent(tr.schema) + "." + QuoteIdent(tr.table) +
                                    " WHERE " + tr.rowid + " = ?1");
    sqlite3_bind_int64(st, 1, k[0]);
    core->Step(st, src->name);
    if (sqlite3_changes(core->db) == 0) Raise(3167);
    src->deleted[size_t(pos)] = 1;
    ++src->deletedCount;
    --src->tableCount;
    core->Changed(false);
    LetRowGo();
}

void Cursor::Find(const std::string& criteria, int direction) {
    CheckOpen();
    if (src->forwardOnly) Raise(3251);
    CancelEdit();
    std::string cond = TranslateCriteria(criteria, core.get(), true);
    noMatch = true;
    if (src->materialized) return FindMaterialized(cond, direction);
    std::string keyCols;
    for (int i = 0; i < src->nKeys; ++i) keyCols += (i ? ", " : "") + QuoteIdent("__k" + std::to_string(i));
    std::string sql = "SELECT " + keyCols + " FROM (" + src->findInner + ") WHERE " + cond;
    sqlite3_stmt* st;
    try {
        st = core->CachedFind(sql);
    } catch (const DaoError& e) {
        if (e.Number() == 3061) Raise(3070, criteria);
        throw;
    }
    if (direction == 1) src->FinishStream();
    size_t current = (bof || pos < 0) ? kNone : eof ? src->known : size_t(pos);
    size_t best = kNone;
    std::vector<int64_t> unknown;
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
        int64_t k[8];
        for (int i = 0; i < src->nKeys; ++i)
            k[i] = sqlite3_column_type(st, i) == SQLITE_NULL ? kNullKey : sqlite3_column_int64(st, i);
        size_t p = src->FindKnown(k);
        if (p == kNone) {
            unknown.insert(unknown.end(), k, k + src->nKeys);
            continue;
        }
        if (IsDeleted(p)) continue;
        bool ok = direction == 0 || direction == 1 || (direction == 2 ? (current == kNone || p > current)
                                                                      : (current != kNone && p < current));
        if (!ok) continue;
        if (best == kNone || ((direction == 0 || direction == 2) ? p < best : p > best)) best = p;
    }
    sqlite3_reset(st);
    if (rc != SQLITE_DONE) RaiseSqlite(core->db, rc, criteria);
    if (best == kNone && !unknown.empty() && (direction == 0 || direction == 2)) {
        // The first match lies beyond the rows read so far.
        std::unordered_set<uint64_t> wanted;
        for (size_t i = 0; i < unknown.size(); i += size_t(src->nKeys)) wanted.insert(HashKey(&unknown[i], src->nKeys));
        while (src->StepStream()) {
            size_t p = src->known - 1;
            if (!wanted.count(HashKey(src->KeyAt(p), src->nKeys))) continue;
            for (size_t i = 0; i < unknown.size(); i += size_t(src->nKeys))
                if (std::memcmp(&unknown[i], src->KeyAt(p), sizeof(int64_t) * size_t(src->nKeys)) == 0) {
                    best = p;
                    break;
                }
            if (best != kNone) break;
        }
    }
    if (best != kNone) {
        noMatch = false;
        Land(best);
    }
}

void Cursor::FindMaterialized(const std::string& cond, int direction) {
    std::string cols;
    for (int i = 0; i < src->nCols; ++i)
        cols += (i ? ", " : "") + std::string("?") + std::to_string(i + 1) + " AS " + QuoteIdent(src->cols[size_t(i)].name);
    sqlite3_stmt* st = core->CachedFind("SELECT 1 FROM (SELECT " + cols + ") WHERE " + cond);
    auto test = [&](size_t p) {
        sqlite3_reset(st);
        for (int i = 0; i < src->nCols; ++i) sqlite3_bind_value(st, i + 1, src->rows[p][size_t(i)]);
        int rc = sqlite3_step(st);
        sqlite3_reset(st);
        if (rc != SQLITE_ROW && rc != SQLITE_DONE) RaiseSqlite(core->db, rc);
        return rc == SQLITE_ROW;
    };
    long start, step;
    if (direction == 1 || direction == 3) src->FinishStream();
    switch (direction) {
    case 0: start = 0, step = 1; break;
    case 1: start = long(src->known) - 1, step = -1; break;
    case 2: start = bof ? 0 : pos + 1, step = 1; break;
    default: start = eof ? long(src->known) - 1 : pos - 1, step = -1; break;
    }
    for (long p = start; p >= 0; p += step) {
        if (step > 0 && !src->EnsureRow(size_t(p))) break;
        if (size_t(p) >= src->known) break;
        if (test(size_t(p))) {
            noMatch = false;
            Land(size_t(p));
            return;
        }
    }
}

}  // namespace dao::detail
