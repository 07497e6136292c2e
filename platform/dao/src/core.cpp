// The connection's basics that every other part of it builds on: statements
// prepared, cached and run, reads let go for a write, and the connection
// closed with all it holds.
#include <unistd.h>

#include <memory>

#include "engine.h"
#include "files.h"

namespace dao::detail {

Core::~Core() { Close(); }

void Core::ReleaseStatements() {
    StopCheckpointer();
    for (auto& [sql, st] : cache) sqlite3_finalize(st);
    cache.clear();
    sqlite3_finalize(probe);
    probe = nullptr;
    for (auto& [sql, st] : findCache) sqlite3_finalize(st);
    findCache.clear();
    SuspendStreams();
}

void Core::Close() {
    if (closed) return;
    closed = true;
    NameConnection(db, {});
    ReleaseStatements();
    if (db) {
        if (transDepth > 0) sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close_v2(db);
        db = nullptr;
        DropLogsOfReads({});
        // Our own writes keep the order: the file as it is now needs no walk.
        if (orderChecked) NoteInOrder(path);
    }
    ReleaseLock(lockFd, lockPath);
    lockFd = -1;
    if (fileLockFd >= 0) ::close(fileLockFd);
    fileLockFd = -1;
    tableDefs.items.clear();
    odbc.reset();
    for (const auto& f : scratchFiles) ::unlink(f.c_str());
    scratchFiles.clear();
}

// The one text a pragma answers with, "" when it fails.
std::string PragmaText(sqlite3* db, const char* sql, int* rc) {
    sqlite3_stmt* st = nullptr;
    std::string out;
    *rc = sqlite3_prepare_v2(db, sql, -1, &st, nullptr);
    if (*rc == SQLITE_OK) {
        *rc = sqlite3_step(st);
        if (*rc == SQLITE_ROW) {
            const unsigned char* text = sqlite3_column_text(st, 0);
            out = text ? reinterpret_cast<const char*>(text) : "";
            *rc = SQLITE_OK;
        }
        if (*rc == SQLITE_DONE) *rc = SQLITE_OK;
        if (*rc != SQLITE_OK) *rc = sqlite3_extended_errcode(db);
    }
    sqlite3_finalize(st);
    return out;
}

// Pages are copied as they are, the log's included, while this connection
// holds the file: the copy is this database as it stands.
void Core::CopyTo(const std::string& file) {
    CheckOpen();
    sqlite3* to = nullptr;
    int rc = sqlite3_open_v2(file.c_str(), &to, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                             nullptr);
    std::unique_ptr<sqlite3, int (*)(sqlite3*)> toFree(to, sqlite3_close_v2);
    if (rc != SQLITE_OK) RaiseSqlite(to, rc, file);
    sqlite3_extended_result_codes(to, 1);
    sqlite3_backup* copy = sqlite3_backup_init(to, "main", db, "main");
    if (!copy) RaiseSqlite(to, sqlite3_extended_errcode(to), file);
    rc = sqlite3_backup_step(copy, -1);
    sqlite3_backup_finish(copy);
    if (rc != SQLITE_DONE) RaiseSqlite(to, sqlite3_extended_errcode(to), file);
    // A copy that cannot be closed is not known to be whole; the connection
    // is still let go, by the deleter.
    if (sqlite3_close(to) != SQLITE_OK) Raise(3043);
    toFree.release();
}

void Core::CheckOpen() const {
    if (closed || !db) Raise(3420);
}

void Core::CheckWritable() const {
    CheckOpen();
    if (readOnly) Raise(3027);
}

sqlite3_stmt* Core::Prepare(const std::string& sql) {
    CheckOpen();
    sqlite3_stmt* st = nullptr;
    int rc = sqlite3_prepare_v2(db, sql.c_str(), int(sql.size()), &st, nullptr);
    if (rc != SQLITE_OK) {
        sqlite3_finalize(st);
        RaiseSqlite(db, rc, sql);
    }
    return st;
}

sqlite3_stmt* Core::Cached(const std::string& sql) {
    auto it = cache.find(sql);
    if (it != cache.end()) {
        sqlite3_reset(it->second);
        sqlite3_clear_bindings(it->second);
        return it->second;
    }
    sqlite3_stmt* st = Prepare(sql);
    cache.emplace(sql, st);
    return st;
}

sqlite3_stmt* Core::CachedFind(const std::string& sql) {
    auto it = findCache.find(sql);
    if (it != findCache.end()) {
        sqlite3_reset(it->second);
        return it->second;
    }
    if (findCache.size() >= 32) {
        for (auto& [text, st] : findCache) sqlite3_finalize(st);
        findCache.clear();
    }
    sqlite3_stmt* st = Prepare(sql);
    findCache.emplace(sql, st);
    return st;
}

void Core::Exec(const std::string& sql) {
    CheckOpen();
    char* err = nullptr;
    int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err);
    sqlite3_free(err);
    if (rc != SQLITE_OK) RaiseSqlite(db, rc, sql);
}

void Core::Step(sqlite3_stmt* st, const std::string& context) {
    auto run = [st] {
        int rc;
        while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
        }
        return rc;
    };
    int rc = run();
    if (rc != SQLITE_DONE) {
        sqlite3_reset(st);
        if (LetReadsGo(rc)) rc = run();
    }
    if (rc != SQLITE_DONE) {
        sqlite3_reset(st);
        RaiseSqlite(db, rc, context);
    }
    sqlite3_reset(st);
}

bool Core::Reading() {
    for (sqlite3_stmt* st = sqlite3_next_stmt(db, nullptr); st; st = sqlite3_next_stmt(db, st))
        if (sqlite3_stmt_busy(st)) return true;
    return false;
}

bool Core::LetReadsGo(int rc) {
    if ((rc & 0xFF) != SQLITE_BUSY || !sqlite3_get_autocommit(db) || !Reading()) return false;
    SuspendStreams();
    return !Reading();
}

void Core::Changed(bool schema) {
    ++writeGen;
    if (schema) {
        ++schemaGen;
        infoCache.clear();
    }
}

}  // namespace dao::detail
