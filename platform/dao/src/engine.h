// The objects behind the public handles.
//
// Ownership: a Database owns a Core (the connection) through shared_ptr;
// record sets hold the Core too, so a connection stays open while a record set
// opened on it lives (as the object model expects). Table definitions hold it
// weakly, so the Core's cache of them forms no cycle.
#pragma once

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <set>
#include <unordered_map>

#include "internal.h"
#include "jetsql.h"

namespace dao::detail {

struct Core;
struct Source;
struct Cursor;
class OdbcSource;

struct ColumnInfo {
    std::string name;
    std::string decl;
    ColumnType ct;
    bool notNull = false;
    int pk = 0;  // 1-based position in the primary key, 0 when not in it
    bool rowidKey = false;  // the INTEGER primary key that is the row key itself
};

struct IndexInfo {
    std::string jetName;
    std::string sqliteName;  // "" for the rowid primary key
    bool primary = false;
    bool unique = false;
    std::vector<std::pair<std::string, bool>> columns;  // name, descending
};

struct TableInfo {
    bool exists = false;
    std::vector<ColumnInfo> cols;
    std::vector<IndexInfo> indexes;
    std::vector<std::string> pk;  // primary index columns
    std::string sql;
    std::string rowid = "rowid";  // the hidden row key's name that no column has taken
    // The first part that computes values as rows are written, beyond what
    // this layer makes; "" when none (see TableDef::ComputedPart).
    std::string computed;
};

struct Link {
    std::string name;
    std::string connect;
    std::string source;
    long attributes = 0;
    std::string schema;  // attached schema, "" when not attached
    long error = 0;      // raised when the link is used
    std::string errorArg;
    std::string errorDetail;  // said after the error's own description
    // An ODBC link's snapshot is made empty when the link attaches and filled
    // from the source the first time the link is used.
    std::shared_ptr<OdbcSource> pending;
    std::string snapshot;
};

// The error that a link which did not attach raises when it is used.
[[noreturn]] inline void RaiseLink(const Link& link) { RaiseWithDetail(link.error, link.errorArg, link.errorDetail); }

}  // namespace dao::detail

namespace dao {

struct FieldImpl {
    std::string name;
    short type = dbText;
    long size = 0;
    long attributes = 0;
    short ordinal = 0;
    bool required = false;
    bool allowZeroLength = false;
    bool appended = false;
    std::string sourceField, sourceTable;
    // Record-set fields.
    std::weak_ptr<detail::Cursor> cursor;
    int column = -1;
    bool isDefinition = true;
};

struct Fields::Impl {
    enum Owner { OfTableDef, OfIndex, OfRecordset } owner = OfTableDef;
    TableDefImpl* table = nullptr;
    IndexImpl* index = nullptr;
    std::weak_ptr<detail::Cursor> cursor;
    std::vector<std::shared_ptr<FieldImpl>> items;
};

struct IndexImpl {
    std::string name;
    bool primary = false;
    bool unique = false;
    bool appended = false;
    Fields::Impl fieldsImpl;
    dao::Fields fields{&fieldsImpl};
    IndexImpl() { fieldsImpl.owner = Fields::Impl::OfIndex; fieldsImpl.index = this; }
};

struct Indexes::Impl {
    TableDefImpl* table = nullptr;
    std::vector<std::shared_ptr<IndexImpl>> items;
};

struct TableDefImpl {
    std::weak_ptr<detail::Core> core;
    bool appended = false;
    std::string name;
    long attributes = 0;
    std::string connect;
    std::string sourceTable;
    uint64_t loadedGen = ~uint64_t(0);
    Fields::Impl fieldsImpl;
    dao::Fields fields{&fieldsImpl};
    Indexes::Impl indexesImpl;
    dao::Indexes indexes{&indexesImpl};
    TableDefImpl() {
        fieldsImpl.owner = Fields::Impl::OfTableDef;
        fieldsImpl.table = this;
        indexesImpl.table = this;
    }
    std::shared_ptr<detail::Core> Lock() const;  // 3420 when the database is closed
    void LoadFromSchema();                       // appended tables: fields and indexes from the file
};

struct TableDefs::Impl {
    std::weak_ptr<detail::Core> core;
    std::vector<std::shared_ptr<TableDefImpl>> items;
    uint64_t loadedGen = ~uint64_t(0);
    void Load(bool force);
};

struct DatabaseImpl {
    std::shared_ptr<detail::Core> core;
    TableDefs::Impl* tableDefsImpl = nullptr;
    std::unique_ptr<dao::TableDefs> tableDefs;
};

struct RecordsetImpl {
    std::shared_ptr<detail::Cursor> cursor;
};

}  // namespace dao

namespace dao::detail {

// The connection and what is cached about its schema.
struct Core : SchemaResolver, std::enable_shared_from_this<Core> {
    sqlite3* db = nullptr;
    std::string path;
    std::string connect;
    bool readOnly = false;
    bool exclusive = false;
    bool guest = false;  // another program's file, written in only to add a table (DBEngine::OpenGuest)
    int lockFd = -1;
    std::string lockPath;
    int fileLockFd = -1;  // the same holder's lock, on the file itself
    bool closed = false;
    int transDepth = 0;
    uint64_t writeGen = 0;
    uint64_t schemaGen = 0;
    long recordsAffected = 0;
    int savepointSeq = 0;
    std::unordered_map<std::string, sqlite3_stmt*> cache;
    sqlite3_stmt* probe = nullptr;  // binds values to check their conversion
    std::vector<Link> links;
    std::map<std::string, std::string> attached;  // file path -> schema
    std::set<Source*> sources;
    std::set<Cursor*> cursors;
    std::map<std::string, TableInfo> infoCache;  // "schema\x1ftable", folded as names compare
    uint64_t infoGen = ~uint64_t(0);
    TableDefs::Impl tableDefs;

    // Checkpoints (copying the log back into the file) run on a thread of
    // their own with its own connection, so a commit returns as soon as its
    // pages are safely in the log.
    std::thread checkpointer;
    std::mutex ckMutex;
    std::condition_variable ckCv;
    bool ckWanted = false, ckStop = false;
    void RequestCheckpoint();
    void StopCheckpointer();

    // An opened ODBC source: its tables are made empty in an in-memory
    // database and copied in when first used.
    std::shared_ptr<OdbcSource> odbc;
    std::set<std::string> odbcFilled;  // names folded as they compare
    void FillOdbcTable(const std::string& name);
    // Snapshots of linked ODBC tables, removed when the connection closes.
    std::vector<std::string> scratchFiles;

    // Files only read here (schema, file) that had no log beside them when
    // first read: the log reading them made goes when they are let go.
    std::vector<std::pair<std::string, std::string>> logsOfReads;
    void DropLogsOfReads(const std::string& schema);  // "" for all

    ~Core() override;
    void Close();
    // Closes a database this program made with everything in its one file
    // (see Database::Finish).
    void Finish();
    void CopyTo(const std::string& file);
    void ReleaseStatements();  // everything but the connection itself
    void CheckOpen() const;
    void CheckWritable() const;

    sqlite3_stmt* Cached(const std::string& sql);  // reset, bindings cleared
    // Find criteria carry their values in the text: a small cache of its own,
    // so that a find per row neither re-prepares a repeated criterion nor
    // keeps every criterion ever used.
    sqlite3_stmt* CachedFind(const std::string& sql);
    std::unordered_map<std::string, sqlite3_stmt*> findCache;
    sqlite3_stmt* Prepare(const std::string& sql);  // caller finalizes
    void Exec(const std::string& sql);
    void Step(sqlite3_stmt* st, const std::string& context = {});  // expects DONE
    void Changed(bool schema);  // after a write
    void SuspendStreams();      // lets DDL and rollback proceed past open cursors
    // Whether a statement of this connection is part-way, which keeps the
    // connection reading the file as it was when that statement began.
    bool Reading();
    // Outside a transaction, a write that met the file busy (rc) while
    // statements here were reading: SQLite then neither waits for another
    // program's write to end nor writes on an older state of the file than
    // the latest (SQLITE_BUSY_SNAPSHOT). Lets those reads go and tells
    // whether the write may be tried once more; that try waits the busy
    // timeout as any write does.
    bool LetReadsGo(int rc);

    // Schema.
    const TableInfo& Info(const std::string& schema, const std::string& table);
    bool LocalTableExists(const std::string& name);
    // A name for a new table: 3125 for the names the layer and SQLite keep for
    // themselves (MSys..., sqlite_...), which would make the file unreadable.
    static void CheckNewTableName(const std::string& name);
    Link* FindLink(const std::string& name);
    void LoadLinks();
    void AttachLink(Link& link);
    // The user_version of a file of ours as opened (0 for another program's).
    int formerVersion = 0;
    bool orderChecked = false;  // its NOCASE indexes were found in order at the open
    void UpgradeOwnFile();
    bool OldProject();
    void RepairTextIndexOrder();
    bool IndexInOrder(const std::string& table, const std::string& index);
    int Pragma(const char* name);
    int UserVersion(const std::string& schema);
    bool StaleTextIndexes(const std::string& schema, const std::string& table);
    void AttachOdbcLink(Link& link);
    // Attaches a file (or SQLite URI) under a new schema name; "" on failure.
    std::string Attach(const std::string& name);
    void FillOdbcLink(Link& link);
    void EnsureLinkTable();
    std::string LinkPath(const std::string& connect) const;
    bool ResolveTable(const std::string& name, std::string* schema, std::string* table) override;
    short ColumnType(const std::string& schema, const std::string& table, const std::string& column,
                     long* size) override;
    std::vector<std::string> PrimaryKey(const std::string& schema, const std::string& table) override;
    std::string RowidName(const std::string& schema, const std::string& table) override;

    // Counters other than the row key number new rows from the largest value so far.
    // Files keep a trigger for that, but no trigger runs here: the layer numbers the
    // rows it added itself.
    std::vector<std::string> Counters(const std::string& schema, const std::string& table);
    void NumberCounters(const std::string& schema, const std::string& table, const std::vector<std::string>& counters,
                        const std::vector<int64_t>& rows);

    // Statements.
    void Execute(const std::string& sql, int options);
    void MakeTable(const Statement& st);
    void CreateTable(const std::string& name, const std::vector<ColumnDef>& cols,
                     const std::vector<ConstraintDef>& constraints);
    void CreateIndex(const std::string& table, const std::string& name,
                     const std::vector<std::pair<std::string, bool>>& cols, bool unique, bool primary);
    void AlterTable(const Statement& st);
    void DropTable(const std::string& name);
    void DropIndex(const std::string& table, const std::string& name);
    void RebuildWithColumn(const std::string& table, const ColumnDef& col);
    std::string ColumnSql(const ColumnDef& c, bool inlinePk);

    // Transactions.
    void Begin();
    void Commit();
    void Rollback();
    // Runs f inside a savepoint: all or nothing. Begun outside a transaction
    // the savepoint is one, which should write on the file as it is now.
    template <class F>
    void Atomically(F&& f) {
        if (sqlite3_get_autocommit(db) && Reading()) SuspendStreams();
        std::string sp = "dao_sp" + std::to_string(++savepointSeq);
        Exec("SAVEPOINT " + sp);
        try {
            f();
        } catch (...) {
            sqlite3_exec(db, ("ROLLBACK TO " + sp + "; RELEASE " + sp).c_str(), nullptr, nullptr, nullptr);
            Changed(true);
            throw;
        }
        Exec("RELEASE " + sp);
    }
};

std::string IndexSqliteName(const std::string& table, const std::string& jetName, bool primary);

inline std::string Upper(std::string_view s) { return UpperUtf8(s); }

// Whether the layer may bring a file it opens for writing to its own format
// (its user_version, its indexes in SQLite's order, its journal mode): only a
// file of the program's own, a project or a database it made. A file it was
// given to add a table to belongs to another program, whose schema version
// user_version may be and whose indexes may follow that program's collations.
inline bool OwnFile(const Core& core) { return !core.readOnly && !core.guest; }

// ---- the connection (core.cpp)
// The one text a pragma answers with, "" when it fails.
std::string PragmaText(sqlite3* db, const char* sql, int* rc);

// ---- the log (wal.cpp)
// SQLite's call after each commit to the log of a connection that writes: a
// log grown long enough is copied back into the file.
int WalHook(void* arg, sqlite3* db, const char* schema, int pages);

// ---- opening (opening.cpp)
// A connection to an SQLite or Access file, or to an ODBC source ("ODBC;...").
std::shared_ptr<Core> OpenCore(const std::string& path, bool exclusive, bool readOnly, const std::string& connect,
                               bool create, bool guest = false);

// ---- files of ours brought to this version (upgrade.cpp)
// The file at path, as it is now, has its text indexes in order: it is not
// walked again until it changes.
void NoteInOrder(const std::string& path);

// ---- record sets (recordset.cpp)
std::shared_ptr<Cursor> OpenCursor(const std::shared_ptr<Core>& core, const std::string& nameOrSql, RecordsetType type,
                                   int options);

}  // namespace dao::detail
