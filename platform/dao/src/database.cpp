// The Database handle: each call goes to the connection behind it.
#include <unistd.h>

#include <algorithm>

#include "engine.h"
#include "files.h"

namespace dao {
using namespace detail;

Database::Database(std::unique_ptr<DatabaseImpl> impl) : impl_(std::move(impl)) {}

Database::~Database() = default;

std::string Database::Name() const { return impl_->core->path; }
std::string Database::Connect() const { return impl_->core->connect; }
bool Database::Updatable() const {
    impl_->core->CheckOpen();
    return !impl_->core->readOnly;
}
void Database::Close() {
    impl_->core->CheckOpen();
    impl_->core->Close();
}
void Database::Finish() { impl_->core->Finish(); }
void Database::CopyTo(const std::string& file) { impl_->core->CopyTo(file); }
void Database::ReadWithoutMapping() {
    impl_->core->CheckOpen();
    sqlite3_exec(impl_->core->db, "PRAGMA mmap_size=0", nullptr, nullptr, nullptr);
}
int Database::FileVersion() const { return impl_->core->formerVersion; }
bool Database::IndexesInOrder(const std::string& table) {
    Core& c = *impl_->core;
    c.CheckOpen();
    sqlite3_stmt* st = c.Prepare("SELECT name FROM pragma_index_list(?1, 'main')");
    sqlite3_bind_text(st, 1, table.c_str(), -1, SQLITE_TRANSIENT);
    std::vector<std::string> indexes;
    while (sqlite3_step(st) == SQLITE_ROW) indexes.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
    sqlite3_finalize(st);
    for (const auto& index : indexes)
        if (!c.IndexInOrder(table, index)) return false;
    return true;
}
void Database::Interrupt() {
    if (impl_->core->db) sqlite3_interrupt(impl_->core->db);
}
void Database::EndReads() {
    Core& c = *impl_->core;
    if (!c.closed && c.db && c.Reading()) c.SuspendStreams();
}
void Database::ShareLinkCopies(const Database& other) {
    Core& c = *impl_->core;
    const Core& o = *other.impl_->core;
    c.CheckOpen();
    for (Link& l : c.links) {
        if (!l.pending || l.error || l.schema.empty()) continue;
        const Link* copied = nullptr;
        for (const Link& ol : o.links)
            if (!ol.pending && !ol.error && !ol.snapshot.empty() && ol.connect == l.connect && ol.source == l.source)
                copied = &ol;
        if (!copied || ::access(copied->snapshot.c_str(), R_OK) != 0) continue;
        // The empty copy made at the open goes; the other's is attached under its name.
        c.SuspendStreams();
        if (sqlite3_exec(c.db, ("DETACH DATABASE " + QuoteIdent(l.schema)).c_str(), nullptr, nullptr, nullptr) != SQLITE_OK)
            continue;
        c.attached.erase(l.snapshot);
        c.scratchFiles.erase(std::remove(c.scratchFiles.begin(), c.scratchFiles.end(), l.snapshot), c.scratchFiles.end());
        ::unlink(l.snapshot.c_str());
        l.pending.reset();
        l.snapshot = copied->snapshot;
        sqlite3_stmt* st = c.Prepare("ATTACH DATABASE ?1 AS " + QuoteIdent(l.schema));
        const std::string uri = ReadOnlyUri(l.snapshot);
        sqlite3_bind_text(st, 1, uri.c_str(), -1, SQLITE_TRANSIENT);
        const int rc = sqlite3_step(st);
        sqlite3_finalize(st);
        if (rc != SQLITE_DONE) {
            l.error = 3343;
            l.errorArg = l.snapshot;
            l.schema.clear();
        } else {
            c.attached.emplace(l.snapshot, l.schema);
        }
        c.infoCache.clear();
        c.Changed(true);
    }
}
void Database::Execute(const std::string& sql, int options) { impl_->core->Execute(sql, options); }
long Database::RecordsAffected() const { return impl_->core->recordsAffected; }
dao::TableDefs& Database::TableDefs() {
    impl_->core->CheckOpen();
    return *impl_->tableDefs;
}

TableDef Database::CreateTableDef(const std::string& name, long attributes, const std::string& sourceTableName,
                                  const std::string& connect) {
    impl_->core->CheckOpen();
    auto t = std::make_shared<TableDefImpl>();
    t->core = impl_->core;
    t->name = name;
    t->attributes = attributes;
    t->sourceTable = sourceTableName;
    t->connect = connect;
    return TableDef(t);
}

std::shared_ptr<Recordset> Database::OpenRecordset(const std::string& nameOrSql, RecordsetType type, int options) {
    auto cur = OpenCursor(impl_->core, nameOrSql, type, options);
    auto impl = std::make_unique<RecordsetImpl>();
    impl->cursor = cur;
    return std::make_shared<Recordset>(std::move(impl));
}

void Database::BeginTrans() { impl_->core->Begin(); }
void Database::CommitTrans() { impl_->core->Commit(); }
void Database::Rollback() { impl_->core->Rollback(); }

}  // namespace dao
