// Linked tables: other files attached read-only (Access files through their
// mirrors), ODBC tables as snapshots filled when first used, the rows of an
// opened ODBC source copied in alike, and a statement's names resolved to them.
#include <unistd.h>

#include <memory>

#include "AccessMirror.h"
#include "OdbcSource.h"
#include "engine.h"
#include "file/Error.h"
#include "files.h"

namespace dao::detail {

Link* Core::FindLink(const std::string& name) {
    for (auto& l : links)
        if (EqualsNoCase(l.name, name)) return &l;
    return nullptr;
}

std::string Core::LinkPath(const std::string& connect) const {
    // ";DATABASE=path" (other ";KEY=value" parts may come before or after).
    std::string u = Upper(connect);
    auto at = u.find("DATABASE=");
    if (at == std::string::npos) return "";
    size_t start = at + 9;
    size_t end = connect.find(';', start);
    std::string file = connect.substr(start, end == std::string::npos ? std::string::npos : end - start);
    // A relative path names the file from this database's folder, so that a
    // project and the data it links can be moved together.
    if (!file.empty() && file.front() != '/') file = ParentDir(path) + "/" + file;
    return file;
}

void Core::EnsureLinkTable() {
    if (LocalTableExists("MSysLinks")) return;
    Exec("CREATE TABLE MSysLinks (Name TEXT(255) COLLATE NOCASE NOT NULL PRIMARY KEY, Connect LONGTEXT, "
         "SourceTableName TEXT(255), Attributes LONG)");
    Changed(true);
}

namespace {

// A link whose source could not be copied into the cache folder says so when it is used, as the copy raised it.
void CacheFailed(Link& link, const std::string& source, bool diskFull) {
    link.errorArg = AccessMirror::CacheFailureArg(source, diskFull);
    link.errorDetail = AccessMirror::CacheAdvice(diskFull);
}

}  // namespace

void Core::AttachLink(Link& link) {
    link.schema.clear();
    link.error = 0;
    link.errorArg.clear();
    link.errorDetail.clear();
    if (Upper(link.connect).rfind("ODBC;", 0) == 0) {
        AttachOdbcLink(link);
        return;
    }
    std::string file = LinkPath(link.connect);
    if (file.empty()) {
        link.error = 3024;
        link.errorArg = link.connect;
        return;
    }
    if (!FileExists(file)) {
        link.error = IsDir(ParentDir(file)) ? 3024 : 3044;
        link.errorArg = file;
        return;
    }
    bool empty = false;
    // Linked data is only read: no statement can write through a link.
    std::string attachFile = file;
    if (AccessMirror::IsAccessFile(file)) {
        // Access data is read through its SQLite mirror, which is never written.
        try {
            attachFile = AccessMirror::Path(file);
        } catch (const DaoError& e) {
            link.error = e.Number();
            link.errorArg = file;
            if (e.Number() == file::kDiskFull) CacheFailed(link, file, true);
            return;
        }
    } else if (!HasDatabaseHeader(file, &empty)) {
        link.error = 3343;
        link.errorArg = file;
        return;
    }
    auto it = attached.find(file);
    if (it == attached.end()) {
        const bool logBefore = LogBeside(attachFile);
        std::string schema = Attach(ReadOnlyUri(attachFile));
        if (schema.empty()) {
            link.error = 3343;
            link.errorArg = file;
            return;
        }
        it = attached.emplace(file, schema).first;
        if (!logBefore) logsOfReads.emplace_back(schema, attachFile);
    }
    link.schema = it->second;
    try {
        if (!Info(link.schema, link.source).exists) {
            link.error = 3078;
            link.errorArg = link.source;
        } else if (StaleTextIndexes(link.schema, link.source)) {
            link.error = 3049;
            link.errorArg = file;
            link.errorDetail = "Its text indexes were written by an earlier version of this program in an order that "
                               "SQLite does not use, and a linked file is only read, so they cannot be rebuilt here. "
                               "Run REINDEX on the file with write access, or import the data again.";
        }
    } catch (const DaoError& e) {
        link.error = e.Number() == 3049 ? 3049 : 3343;
        link.errorArg = file;
    }
}

namespace {

using Snapshot = std::unique_ptr<sqlite3, int (*)(sqlite3*)>;

// An ODBC snapshot file opened to be written in one transaction, without a
// journal (it is only a copy). Failures are the cache folder's, said for the
// source named.
Snapshot OpenSnapshot(const std::string& file, bool create, const std::string& name) {
    sqlite3* snap = nullptr;
    const int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0) | SQLITE_OPEN_NOMUTEX;
    if (sqlite3_open_v2(file.c_str(), &snap, flags, nullptr) != SQLITE_OK) {
        const bool full = AccessMirror::OutOfRoom(snap);
        sqlite3_close_v2(snap);
        AccessMirror::RaiseCacheFailure(name, full);
    }
    Snapshot owned(snap, sqlite3_close_v2);
    DistrustSchema(snap);
    sqlite3_exec(snap, "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF; BEGIN", nullptr, nullptr, nullptr);
    return owned;
}

void CommitSnapshot(sqlite3* snap, const std::string& name) {
    if (sqlite3_exec(snap, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK)
        AccessMirror::RaiseCacheFailure(name, AccessMirror::OutOfRoom(snap));
}

}  // namespace

// A linked ODBC table is a snapshot in a file of its own, attached read-only
// under the link's schema: its shape is taken now, its rows when the link is
// first used, so that opening a project does not wait for a large source.
void Core::AttachOdbcLink(Link& link) {
    std::string file, name;
    try {
        auto source = std::make_shared<OdbcSource>(link.connect);
        name = source->Name();
        const std::string folder = AccessMirror::ReadyFolder(name);
        static int seq = 0;
        file = folder + "/odbc-" + std::to_string(::getpid()) + "-" + std::to_string(++seq) + ".db";
        ::unlink(file.c_str());
        Snapshot snap = OpenSnapshot(file, true, name);
        try {
            source->CreateTable(snap.get(), "main", link.source);
        } catch (const DaoError&) {
            if (AccessMirror::OutOfRoom(snap.get())) AccessMirror::RaiseCacheFailure(name, true);
            throw;
        }
        CommitSnapshot(snap.get(), name);
        link.pending = source;
        link.snapshot = file;
    } catch (const DaoError& e) {
        if (!file.empty()) ::unlink(file.c_str());
        link.error = e.Number();
        link.errorArg = e.Number() == 3151 ? link.connect : link.source;
        // Here a full disk, and 3051, are the cache folder's: the source is named, and the folder.
        if (!name.empty() && (e.Number() == file::kDiskFull || e.Number() == 3051))
            CacheFailed(link, name, e.Number() == file::kDiskFull);
        return;
    }
    scratchFiles.push_back(file);
    std::string schema = Attach(ReadOnlyUri(file));
    if (schema.empty()) {
        link.error = 3343;
        link.errorArg = file;
        return;
    }
    attached.emplace(file, schema);
    link.schema = schema;
}

std::string Core::Attach(const std::string& name) {
    std::string schema = "lnk" + std::to_string(attached.size() + 1);
    while (true) {
        bool used = false;
        for (auto& [f, s] : attached)
            if (s == schema) used = true;
        if (!used) break;
        schema += "x";
    }
    sqlite3_stmt* st = Prepare("ATTACH DATABASE ?1 AS " + QuoteIdent(schema));
    sqlite3_bind_text(st, 1, name.c_str(), -1, SQLITE_TRANSIENT);
    int rc = sqlite3_step(st);
    sqlite3_finalize(st);
    if (rc != SQLITE_DONE) return "";
    infoCache.clear();
    return schema;
}

void Core::FillOdbcLink(Link& link) {
    if (!link.pending) return;
    // Errors of the copy name the data source the person chose, and the folder.
    const std::string& name = link.pending->Name();
    Snapshot snap = OpenSnapshot(link.snapshot, false, name);
    try {
        link.pending->CopyRows(snap.get(), "main", link.source);
    } catch (...) {
        const bool full = AccessMirror::OutOfRoom(snap.get());
        sqlite3_exec(snap.get(), "ROLLBACK", nullptr, nullptr, nullptr);
        if (full) AccessMirror::RaiseCacheFailure(name, true);
        throw;
    }
    CommitSnapshot(snap.get(), name);
    link.pending.reset();
}

void Core::LoadLinks() {
    links.clear();
    if (!LocalTableExists("MSysLinks")) return;
    sqlite3_stmt* st = Prepare("SELECT Name, Connect, SourceTableName, Attributes FROM MSysLinks ORDER BY rowid");
    while (sqlite3_step(st) == SQLITE_ROW) {
        Link l;
        auto txt = [&](int i) {
            auto p = reinterpret_cast<const char*>(sqlite3_column_text(st, i));
            return std::string(p ? p : "");
        };
        l.name = txt(0);
        l.connect = txt(1);
        l.source = txt(2);
        l.attributes = static_cast<long>(sqlite3_column_int64(st, 3));
        links.push_back(l);
    }
    sqlite3_finalize(st);
    for (auto& l : links) AttachLink(l);
}

bool Core::ResolveTable(const std::string& name, std::string* schema, std::string* table) {
    if (Link* l = FindLink(name)) {
        if (l->error) RaiseLink(*l);
        if (l->pending) FillOdbcLink(*l);
        *schema = l->schema;
        *table = l->source;
        return true;
    }
    if (LocalTableExists(name)) {
        if (odbc) FillOdbcTable(name);
        *schema = "main";
        *table = name;
        return true;
    }
    return false;
}

void Core::FillOdbcTable(const std::string& name) {
    std::string key = FoldForCompare(name);
    if (!odbc || odbcFilled.count(key)) return;
    // The copy is the only write this read-only connection ever makes.
    Exec("PRAGMA query_only = 0");
    try {
        Exec("BEGIN");
        odbc->CopyRows(db, "main", name);
        Exec("COMMIT");
    } catch (...) {
        sqlite3_exec(db, "ROLLBACK; PRAGMA query_only = 1", nullptr, nullptr, nullptr);
        throw;
    }
    Exec("PRAGMA query_only = 1");
    odbcFilled.insert(key);
}

}  // namespace dao::detail
