// Execute: a statement translated, then a make-table query carried out here
// or an action query run as it is, counters numbered.
#include "engine.h"

namespace dao::detail {

void Core::MakeTable(const Statement& st) {
    CheckWritable();
    const SelectInfo& si = st.select;
    CheckNewTableName(si.into);
    if (LocalTableExists(si.into) || FindLink(si.into)) Raise(3010, si.into);
    sqlite3_stmt* q = Prepare(si.sql);
    int n = sqlite3_column_count(q);
    bool starred = false;
    for (const auto& nm : si.itemNames)
        if (nm == "*" || (nm.size() > 2 && nm.compare(nm.size() - 2, 2, ".*") == 0)) starred = true;
    std::vector<ColumnDef> cols;
    bool unknown = false;
    for (int i = 0; i < n; ++i) {
        ColumnDef c;
        c.name = sqlite3_column_name(q, i);
        const char* decl = sqlite3_column_decltype(q, i);
        short hint = (!starred && size_t(i) < si.itemTypes.size()) ? si.itemTypes[size_t(i)] : 0;
        long hintSize = (!starred && size_t(i) < si.itemSizes.size()) ? si.itemSizes[size_t(i)] : 0;
        if (decl && *decl) {
            detail::ColumnType ct = TypeFromDecl(decl);
            c.type = ct.type;
            c.size = ct.size;
        } else if (hint) {
            c.type = hint;
            c.size = hintSize > 0 ? hintSize : DefaultSize(hint);
        } else {
            c.type = 0;
            unknown = true;
        }
        cols.push_back(c);
    }
    if (unknown) {
        // Types of computed columns come from the first row's values.
        int rc = sqlite3_step(q);
        if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
            sqlite3_finalize(q);
            RaiseSqlite(db, rc, si.sql);
        }
        for (int i = 0; i < n; ++i) {
            if (cols[size_t(i)].type) continue;
            int t = rc == SQLITE_ROW ? sqlite3_column_type(q, i) : SQLITE_NULL;
            cols[size_t(i)].type = t == SQLITE_INTEGER ? dbLong : t == SQLITE_FLOAT ? dbDouble
                                   : t == SQLITE_BLOB   ? dbLongBinary
                                                        : dbText;
            if (t == SQLITE_INTEGER) {
                int64_t v = sqlite3_column_int64(q, i);
                if (v < INT32_MIN || v > INT32_MAX) cols[size_t(i)].type = dbDouble;
            }
            cols[size_t(i)].size = DefaultSize(cols[size_t(i)].type);
        }
    }
    sqlite3_finalize(q);
    for (auto& c : cols)
        if (c.type == dbText && c.size <= 0) c.size = 255;
    std::string create = "CREATE TABLE " + QuoteIdent(si.into) + " (";
    for (size_t i = 0; i < cols.size(); ++i) {
        for (size_t j = 0; j < i; ++j)
            if (EqualsNoCase(cols[j].name, cols[i].name)) Raise(3380, cols[i].name);
        create += (i ? ", " : "") + ColumnSql(cols[i], false);
    }
    create += ")";
    Atomically([&] {
        Exec(create);
        Changed(true);
        sqlite3_stmt* ins = Prepare("INSERT INTO " + QuoteIdent(si.into) + " " + si.sql);
        int rc = sqlite3_step(ins);
        sqlite3_finalize(ins);
        if (rc != SQLITE_DONE) RaiseSqlite(db, rc, si.sql);
        recordsAffected = sqlite3_changes(db);
    });
    Changed(true);
}

void Core::Execute(const std::string& sql, int options) {
    (void)options;
    CheckOpen();
    Statement st = TranslateStatement(sql, this);
    recordsAffected = 0;
    switch (st.kind) {
    case StmtKind::Select: throw DaoError(3065, "Cannot execute a select query.");
    case StmtKind::SelectInto: MakeTable(st); return;
    case StmtKind::Insert:
    case StmtKind::Update:
    case StmtKind::Delete: {
        CheckWritable();
        std::string schema, table, text = st.sql;
        std::vector<std::string> counters;
        if (st.kind == StmtKind::Insert && ResolveTable(st.table, &schema, &table)) counters = Counters(schema, table);
        if (!counters.empty()) text += " RETURNING " + RowidName(schema, table);
        std::vector<int64_t> added;
        auto run = [&] {
            sqlite3_stmt* q = Prepare(text);
            auto step = [&] {
                int rc;
                added.clear();
                while ((rc = sqlite3_step(q)) == SQLITE_ROW) added.push_back(sqlite3_column_int64(q, 0));
                return rc;
            };
            int rc = step();
            if (rc == SQLITE_LOCKED || rc == SQLITE_LOCKED_SHAREDCACHE) {
                sqlite3_reset(q);
                SuspendStreams();
                rc = step();
            } else if (rc != SQLITE_DONE) {
                sqlite3_reset(q);
                if (LetReadsGo(rc)) rc = step();
            }
            sqlite3_finalize(q);
            if (rc != SQLITE_DONE) RaiseSqlite(db, rc, sql);
            recordsAffected = sqlite3_changes(db);
            NumberCounters(schema, table, counters, added);
        };
        if (counters.empty()) run();
        else Atomically(run);
        Changed(false);
        return;
    }
    case StmtKind::CreateTable: CreateTable(st.table, st.columns, st.constraints); return;
    case StmtKind::CreateIndex: CreateIndex(st.table, st.indexName, st.indexColumns, st.unique, st.primary); return;
    case StmtKind::AlterTable: AlterTable(st); return;
    case StmtKind::DropTable: DropTable(st.table); return;
    case StmtKind::DropIndex: DropIndex(st.table, st.indexName); return;
    }
}

}  // namespace dao::detail
