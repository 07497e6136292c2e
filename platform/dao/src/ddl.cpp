// Tables and indexes made, changed and dropped, under the names and types
// this layer writes them with.
#include <algorithm>

#include "engine.h"

namespace dao::detail {

std::string IndexSqliteName(const std::string& table, const std::string& jetName, bool primary) {
    return table + "." + jetName + (primary ? "#pk" : "");
}

std::string Core::ColumnSql(const ColumnDef& c, bool inlinePk) {
    std::string s = QuoteIdent(c.name) + " ";
    if (c.autoIncrement && inlinePk) {
        s += "INTEGER";
        if (!c.constraintName.empty()) s += " CONSTRAINT " + QuoteIdent(c.constraintName);
        s += " PRIMARY KEY AUTOINCREMENT";
        return s;
    }
    s += c.autoIncrement ? "COUNTER" : DeclFromType(c.type, c.size);
    if (IsTextType(c.type)) s += " COLLATE NOCASE";
    if (c.notNull) s += " NOT NULL";
    return s;
}

void Core::CreateTable(const std::string& name, const std::vector<ColumnDef>& cols,
                       const std::vector<ConstraintDef>& constraints) {
    CheckWritable();
    if (name.empty()) Raise(3290);
    CheckNewTableName(name);
    if (LocalTableExists(name) || FindLink(name)) Raise(3010, name);
    if (cols.empty()) throw DaoError(3264, "No field defined--cannot append TableDef or Index.");
    // The primary key: a column marked PRIMARY KEY or a PRIMARY KEY constraint.
    std::vector<std::string> pkCols;
    std::string pkName = "PrimaryKey";
    for (const auto& c : cols)
        if (c.primary) {
            pkCols.push_back(c.name);
            if (!c.constraintName.empty()) pkName = c.constraintName;
        }
    for (const auto& k : constraints)
        if (k.primary) {
            if (!pkCols.empty()) Raise(3283);
            pkCols = k.columns;
            pkName = k.name.empty() ? pkName : k.name;
        }
    std::vector<std::string> names;
    for (const auto& c : cols) {
        for (const auto& n : names)
            if (EqualsNoCase(n, c.name)) Raise(3380, c.name);
        names.push_back(c.name);
    }
    std::string sql = "CREATE TABLE " + QuoteIdent(name) + " (";
    bool inlinePk = false;
    std::vector<ColumnDef> counters;
    for (size_t i = 0; i < cols.size(); ++i) {
        ColumnDef c = cols[i];
        bool isPk = pkCols.size() == 1 && EqualsNoCase(pkCols[0], c.name);
        if (isPk && c.autoIncrement) {
            c.constraintName = pkName;
            inlinePk = true;
            sql += (i ? ", " : "") + ColumnSql(c, true);
            continue;
        }
        if (std::find_if(pkCols.begin(), pkCols.end(), [&](const std::string& p) { return EqualsNoCase(p, c.name); }) !=
            pkCols.end())
            c.notNull = true;
        if (c.autoIncrement) counters.push_back(c);
        sql += (i ? ", " : "") + ColumnSql(c, false);
    }
    if (!pkCols.empty() && !inlinePk) {
        sql += ", CONSTRAINT " + QuoteIdent(pkName) + " PRIMARY KEY (";
        for (size_t i = 0; i < pkCols.size(); ++i) sql += (i ? ", " : "") + QuoteIdent(pkCols[i]);
        sql += ")";
    }
    sql += ")";
    Atomically([&] {
        Exec(sql);
        Changed(true);
        for (const auto& c : cols)
            if (c.unique && !c.primary)
                CreateIndex(name, c.constraintName.empty() ? c.name : c.constraintName, {{c.name, false}}, true, false);
        for (const auto& k : constraints)
            if (k.unique) {
                std::vector<std::pair<std::string, bool>> ic;
                for (const auto& c : k.columns) ic.emplace_back(c, false);
                CreateIndex(name, k.name, ic, true, false);
            }
        for (const auto& c : counters) {
            // A counter that is not the key numbers new rows from the largest value so far.
            std::string ixName = IndexSqliteName(name, c.name + "$counter", false);
            Exec("CREATE INDEX " + QuoteIdent(ixName) + " ON " + QuoteIdent(name) + " (" + QuoteIdent(c.name) + ")");
            Exec("CREATE TRIGGER " + QuoteIdent(name + "." + c.name + "$counter") + " AFTER INSERT ON " +
                 QuoteIdent(name) + " WHEN NEW." + QuoteIdent(c.name) + " IS NULL BEGIN UPDATE " + QuoteIdent(name) +
                 " SET " + QuoteIdent(c.name) + " = (SELECT ifnull(max(" + QuoteIdent(c.name) + "), 0) + 1 FROM " +
                 QuoteIdent(name) + ") WHERE " + RowidName("main", name) + " = NEW." + RowidName("main", name) + "; END");
        }
    });
    Changed(true);
}

void Core::CreateIndex(const std::string& table, const std::string& name,
                       const std::vector<std::pair<std::string, bool>>& cols, bool unique, bool primary) {
    CheckWritable();
    if (FindLink(table)) Raise(3219);
    const TableInfo& ti = Info("main", table);
    if (!ti.exists) Raise(3078, table);
    for (const auto& ix : ti.indexes) {
        if (EqualsNoCase(ix.jetName, name)) Raise(3367);
        if (primary && ix.primary) Raise(3283);
    }
    std::string sql = std::string("CREATE ") + (unique || primary ? "UNIQUE " : "") + "INDEX " +
                      QuoteIdent(IndexSqliteName(table, name, primary)) + " ON " + QuoteIdent(table) + " (";
    for (size_t i = 0; i < cols.size(); ++i) {
        bool found = false;
        for (const auto& c : ti.cols)
            if (EqualsNoCase(c.name, cols[i].first)) found = true;
        if (!found) throw DaoError(3264, "No field defined--cannot append TableDef or Index. (" + cols[i].first + ")");
        sql += (i ? ", " : "") + QuoteIdent(cols[i].first) + (cols[i].second ? " DESC" : "");
    }
    sql += ")";
    SuspendStreams();
    Exec(sql);
    Changed(true);
}

void Core::RebuildWithColumn(const std::string& table, const ColumnDef& col) {
    TableInfo ti = Info("main", table);
    for (const auto& c : ti.cols)
        if (EqualsNoCase(c.name, col.name)) Raise(3380, col.name);
    if (col.primary && !ti.pk.empty()) Raise(3283);
    std::vector<std::string> indexSql;
    {
        sqlite3_stmt* st = Prepare("SELECT sql FROM sqlite_master WHERE type IN ('index','trigger') AND tbl_name=?1 "
                                   "COLLATE NOCASE AND sql IS NOT NULL");
        sqlite3_bind_text(st, 1, table.c_str(), -1, SQLITE_TRANSIENT);
        while (sqlite3_step(st) == SQLITE_ROW) indexSql.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
        sqlite3_finalize(st);
    }
    std::string tmp = table + "$rebuild";
    std::string sql = "CREATE TABLE " + QuoteIdent(tmp) + " (";
    std::string colList;
    bool first = true;
    // Keep the old table's own definition of its columns (with the key) verbatim where possible.
    for (const auto& c : ti.cols) {
        ColumnDef d;
        d.name = c.name;
        d.type = c.ct.type;
        d.size = c.ct.size;
        d.notNull = c.notNull;
        std::string def;
        if (c.ct.autoIncrement && c.pk) {
            d.autoIncrement = true;
            d.constraintName = ti.indexes.empty() ? "PrimaryKey" : ti.indexes[0].jetName;
            def = ColumnSql(d, true);
        } else {
            def = QuoteIdent(c.name) + " " + (c.decl.empty() ? std::string("TEXT(255)") : c.decl);
            if (IsTextType(c.ct.type)) def += " COLLATE NOCASE";
            if (c.notNull) def += " NOT NULL";
        }
        sql += (first ? "" : ", ") + def;
        colList += (first ? "" : ", ") + QuoteIdent(c.name);
        first = false;
    }
    ColumnDef nc = col;
    bool inlinePk = nc.primary && nc.autoIncrement;
    if (inlinePk && nc.constraintName.empty()) nc.constraintName = "PrimaryKey";
    sql += ", " + ColumnSql(nc, inlinePk);
    // A primary key of another kind is kept as a constraint of the old key's columns.
    std::vector<std::string> oldPk;
    bool oldRowidPk = false;
    for (const auto& c : ti.cols)
        if (c.ct.autoIncrement && c.pk) oldRowidPk = true;
    if (!oldRowidPk) {
        for (const auto& ix : ti.indexes)
            if (ix.primary && ix.sqliteName.rfind("sqlite_autoindex", 0) == 0)
                for (const auto& c : ix.columns) oldPk.push_back(c.first);
    }
    if (!oldPk.empty()) {
        sql += ", CONSTRAINT " + QuoteIdent(ti.indexes.empty() ? "PrimaryKey" : ti.indexes[0].jetName) + " PRIMARY KEY (";
        for (size_t i = 0; i < oldPk.size(); ++i) sql += (i ? ", " : "") + QuoteIdent(oldPk[i]);
        sql += ")";
    } else if (nc.primary && !inlinePk) {
        sql += ", CONSTRAINT " + QuoteIdent(nc.constraintName.empty() ? "PrimaryKey" : nc.constraintName) +
               " PRIMARY KEY (" + QuoteIdent(nc.name) + ")";
    }
    sql += ")";
    SuspendStreams();
    const std::string oldRowid = RowidName("main", table);
    Atomically([&] {
        Exec(sql);
        // Rows keep their stored order, so a new counter numbers them 1, 2, 3 ... in that order.
        Exec("INSERT INTO " + QuoteIdent(tmp) + " (" + colList + ") SELECT " + colList + " FROM " + QuoteIdent(table) +
             " ORDER BY " + oldRowid);
        if (nc.autoIncrement && !inlinePk)
            Exec("UPDATE " + QuoteIdent(tmp) + " SET " + QuoteIdent(nc.name) + " = " + RowidName("main", tmp));
        Exec("DROP TABLE " + QuoteIdent(table));
        Exec("ALTER TABLE " + QuoteIdent(tmp) + " RENAME TO " + QuoteIdent(table));
        for (const auto& s : indexSql) Exec(s);
        Changed(true);
    });
    Changed(true);
}

void Core::AlterTable(const Statement& st) {
    CheckWritable();
    if (FindLink(st.table)) Raise(3219);
    const TableInfo& ti = Info("main", st.table);
    if (!ti.exists) Raise(3078, st.table);
    switch (st.alterOp) {
    case Statement::AddColumn: {
        const ColumnDef& c = st.columns.at(0);
        for (const auto& x : ti.cols)
            if (EqualsNoCase(x.name, c.name)) Raise(3380, c.name);
        if (c.primary || c.autoIncrement) {
            RebuildWithColumn(st.table, c);
            return;
        }
        ColumnDef d = c;
        d.notNull = false;  // existing rows would break it
        Atomically([&] {
            Exec("ALTER TABLE " + QuoteIdent(st.table) + " ADD COLUMN " + ColumnSql(d, false));
            Changed(true);
            if (c.unique) CreateIndex(st.table, c.constraintName.empty() ? c.name : c.constraintName, {{c.name, false}}, true, false);
        });
        Changed(true);
        return;
    }
    case Statement::DropColumn:
        SuspendStreams();
        Atomically([&] {
            for (const auto& ix : ti.indexes)
                for (const auto& c : ix.columns)
                    if (EqualsNoCase(c.first, st.dropName) && !ix.sqliteName.empty() &&
                        ix.sqliteName.rfind("sqlite_", 0) != 0)
                        Exec("DROP INDEX " + QuoteIdent(ix.sqliteName));
            Exec("ALTER TABLE " + QuoteIdent(st.table) + " DROP COLUMN " + QuoteIdent(st.dropName));
        });
        Changed(true);
        return;
    case Statement::AddConstraint: {
        const ConstraintDef& k = st.constraints.at(0);
        std::vector<std::pair<std::string, bool>> ic;
        for (const auto& c : k.columns) ic.emplace_back(c, false);
        if (k.primary || k.unique) CreateIndex(st.table, k.name, ic, true, k.primary);
        return;
    }
    case Statement::DropConstraint:
        DropIndex(st.table, st.dropName);
        return;
    }
}

void Core::DropIndex(const std::string& table, const std::string& name) {
    CheckWritable();
    const TableInfo& ti = Info("main", table);
    if (!ti.exists) Raise(3078, table);
    for (const auto& ix : ti.indexes)
        if (EqualsNoCase(ix.jetName, name)) {
            if (ix.sqliteName.empty() || ix.sqliteName.rfind("sqlite_", 0) == 0) Raise(3219);
            SuspendStreams();
            Exec("DROP INDEX " + QuoteIdent(ix.sqliteName));
            Changed(true);
            return;
        }
    Raise(3371);
}

void Core::DropTable(const std::string& name) {
    CheckWritable();
    if (Link* l = FindLink(name)) {
        std::string schema = l->schema;
        std::string n = l->name;
        Atomically([&] {
            sqlite3_stmt* st = Prepare("DELETE FROM MSysLinks WHERE Name = ?1");
            sqlite3_bind_text(st, 1, n.c_str(), -1, SQLITE_TRANSIENT);
            int rc = sqlite3_step(st);
            sqlite3_finalize(st);
            if (rc != SQLITE_DONE) RaiseSqlite(db, rc);
        });
        links.erase(std::remove_if(links.begin(), links.end(), [&](const Link& x) { return EqualsNoCase(x.name, n); }),
                    links.end());
        bool stillUsed = false;
        for (const auto& x : links)
            if (x.schema == schema) stillUsed = true;
        if (!schema.empty() && !stillUsed && transDepth == 0) {
            SuspendStreams();
            if (sqlite3_exec(db, ("DETACH DATABASE " + QuoteIdent(schema)).c_str(), nullptr, nullptr, nullptr) ==
                SQLITE_OK) {
                DropLogsOfReads(schema);
                for (auto it = attached.begin(); it != attached.end();)
                    it = it->second == schema ? attached.erase(it) : std::next(it);
            }
        }
        Changed(true);
        return;
    }
    if (!LocalTableExists(name)) Raise(3376, name);
    SuspendStreams();
    Exec("DROP TABLE " + QuoteIdent(name));
    Changed(true);
}

}  // namespace dao::detail
