// What a table is, read from the file's own schema and kept per connection
// until the schema changes, and the answers the SQL translator asks of it.
#include <algorithm>
#include <cctype>

#include "engine.h"

namespace dao::detail {

namespace {

// Names are equal as SQLite takes them: by the one comparison.
std::string InfoKey(const std::string& schema, const std::string& table) {
    return FoldForCompare(schema) + "\x1f" + FoldForCompare(table);
}

// A stored default that is a plain literal (a number, a text, a blob, Null or
// a truth value) of a size a row may carry; anything else is computed for
// every row added, whatever it costs.
bool IsConstantDefault(std::string_view text) {
    constexpr size_t kLongest = 255;
    if (text.size() > kLongest) return false;
    auto trim = [](std::string_view s) {
        while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
        while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
        return s;
    };
    std::string_view s = trim(text);
    while (s.size() >= 2 && s.front() == '(' && s.back() == ')') s = trim(s.substr(1, s.size() - 2));
    if (s.empty()) return false;
    for (const char* word : {"NULL", "TRUE", "FALSE", "CURRENT_TIME", "CURRENT_DATE", "CURRENT_TIMESTAMP"})
        if (EqualsNoCase(s, word)) return true;
    auto quoted = [](std::string_view q) {
        if (q.size() < 2 || q.front() != '\'' || q.back() != '\'') return false;
        for (size_t i = 1; i + 1 < q.size(); ++i)
            if (q[i] == '\'' && q[++i] != '\'') return false;
        return true;
    };
    if (quoted(s)) return true;
    if ((s.front() == 'x' || s.front() == 'X') && quoted(s.substr(1)))
        return std::all_of(s.begin() + 2, s.end() - 1, [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); });
    if (s.front() == '-' || s.front() == '+') s = trim(s.substr(1));
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X'))
        return std::all_of(s.begin() + 2, s.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); });
    size_t i = 0, digits = 0;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i, ++digits;
    if (i < s.size() && s[i] == '.')
        for (++i; i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]));) ++i, ++digits;
    if (digits == 0) return false;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
        const size_t start = i;
        while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i;
        if (i == start) return false;
    }
    return i == s.size();
}

// Keeps the first part found that computes values as rows are written.
void NoteComputed(TableInfo& ti, const std::string& what) {
    if (ti.computed.empty()) ti.computed = what;
}

// The statement that made the table; false when there is no such table.
bool ReadTableSql(Core& core, const std::string& qs, const std::string& table, std::string* sql) {
    sqlite3_stmt* st =
        core.Prepare("SELECT sql FROM " + qs + ".sqlite_master WHERE type='table' AND name=?1 COLLATE NOCASE");
    sqlite3_bind_text(st, 1, table.c_str(), -1, SQLITE_TRANSIENT);
    bool found = false;
    if (sqlite3_step(st) == SQLITE_ROW) {
        found = true;
        auto p = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
        *sql = p ? p : "";
    }
    sqlite3_finalize(st);
    return found;
}

// Reads the columns into ti; returns how many are in the primary key.
int ReadColumns(Core& core, const std::string& qs, const std::string& table, TableInfo& ti) {
    // table_xinfo also lists generated columns, which table_info leaves out.
    sqlite3_stmt* st = core.Prepare("PRAGMA " + qs + ".table_xinfo(" + QuoteString(table) + ")");
    int pkCount = 0;
    while (sqlite3_step(st) == SQLITE_ROW) {
        ColumnInfo c;
        c.name = reinterpret_cast<const char*>(sqlite3_column_text(st, 1));
        if (sqlite3_column_int(st, 6) != 0) {
            NoteComputed(ti, "the generated column " + c.name);
            continue;
        }
        auto d = reinterpret_cast<const char*>(sqlite3_column_text(st, 2));
        c.decl = d ? d : "";
        c.ct = TypeFromDecl(c.decl);
        c.notNull = sqlite3_column_int(st, 3) != 0;
        c.pk = sqlite3_column_int(st, 5);
        if (auto dflt = reinterpret_cast<const char*>(sqlite3_column_text(st, 4)); dflt && !IsConstantDefault(dflt))
            NoteComputed(ti, "the default of column " + c.name);
        if (c.pk) ++pkCount;
        ti.cols.push_back(std::move(c));
    }
    sqlite3_finalize(st);
    return pkCount;
}

// Names the hidden row key in ti and returns the column that is that key
// (an INTEGER primary key), or null.
ColumnInfo* FindRowidKey(TableInfo& ti, int pkCount) {
    // A user's column may be named like the hidden row key: address rows by a
    // name no column has (an INTEGER primary key column is the key itself).
    for (const char* candidate : {"rowid", "_rowid_", "oid", ""}) {
        ti.rowid = candidate;
        bool taken = false;
        for (const auto& c : ti.cols)
            if (EqualsNoCase(c.name, ti.rowid)) taken = true;
        if (!taken) break;
    }
    // An INTEGER primary key is the rowid itself; with AUTOINCREMENT it is a counter.
    ColumnInfo* rowidPk = nullptr;
    if (pkCount == 1)
        for (auto& c : ti.cols)
            if (c.pk && Upper(c.decl) == "INTEGER") rowidPk = &c;
    if (rowidPk && Upper(ti.sql).find("AUTOINCREMENT") != std::string::npos) rowidPk->ct.autoIncrement = true;
    if (rowidPk) rowidPk->notNull = true;
    if (rowidPk) rowidPk->rowidKey = true;
    if (ti.rowid.empty()) ti.rowid = rowidPk ? QuoteIdent(rowidPk->name) : "rowid";
    return rowidPk;
}

// The primary key constraint's own name, as written when the table was made.
std::string PrimaryKeyName(const std::string& sql) {
    std::string pkName = "PrimaryKey";
    try {
        auto toks = Tokenize(sql);
        for (size_t i = 0; i + 2 < toks.size(); ++i)
            if (toks[i].Is("CONSTRAINT") && toks[i + 2].Is("PRIMARY")) pkName = toks[i + 1].text;
    } catch (const DaoError&) {
    }
    return pkName;
}

// The table's SQLite indexes, in creation order, without their columns.
std::vector<IndexInfo> ListIndexes(Core& core, const std::string& qs, const std::string& table,
                                   const std::string& pkName, TableInfo& ti) {
    sqlite3_stmt* il = core.Prepare("PRAGMA " + qs + ".index_list(" + QuoteString(table) + ")");
    std::vector<IndexInfo> list;
    while (sqlite3_step(il) == SQLITE_ROW) {
        IndexInfo ix;
        ix.sqliteName = reinterpret_cast<const char*>(sqlite3_column_text(il, 1));
        ix.unique = sqlite3_column_int(il, 2) != 0;
        if (sqlite3_column_int(il, 4) != 0) NoteComputed(ti, "the partial index " + ix.sqliteName);
        std::string origin = reinterpret_cast<const char*>(sqlite3_column_text(il, 3));
        std::string nm = ix.sqliteName;
        if (origin == "pk") {
            ix.primary = true;
            ix.jetName = pkName;
        } else {
            if (nm.size() > 3 && nm.compare(nm.size() - 3, 3, "#pk") == 0) {
                ix.primary = true;
                nm.resize(nm.size() - 3);
            }
            if (nm.size() > table.size() && EqualsNoCase(nm.substr(0, table.size() + 1), table + "."))
                nm = nm.substr(table.size() + 1);
            ix.jetName = nm;
        }
        list.push_back(ix);
    }
    sqlite3_finalize(il);
    // index_list gives the newest first; present them in creation order.
    std::reverse(list.begin(), list.end());
    return list;
}

// Adds the table's SQLite indexes to ti.indexes with their key columns.
void ReadIndexes(Core& core, const std::string& qs, const std::string& table, const std::string& pkName,
                 TableInfo& ti) {
    for (auto& ix : ListIndexes(core, qs, table, pkName, ti)) {
        sqlite3_stmt* xi = core.Prepare("PRAGMA " + qs + ".index_xinfo(" + QuoteString(ix.sqliteName) + ")");
        while (sqlite3_step(xi) == SQLITE_ROW) {
            if (sqlite3_column_int(xi, 5) == 0) continue;  // not a key column
            auto n = reinterpret_cast<const char*>(sqlite3_column_text(xi, 2));
            if (!n) {
                NoteComputed(ti, "the index " + ix.sqliteName + " on an expression");
                continue;
            }
            ix.columns.emplace_back(n, sqlite3_column_int(xi, 3) != 0);
        }
        sqlite3_finalize(xi);
        ti.indexes.push_back(ix);
    }
}

}  // namespace

const TableInfo& Core::Info(const std::string& schema, const std::string& table) {
    if (infoGen != schemaGen) {
        infoCache.clear();
        infoGen = schemaGen;
    }
    std::string key = InfoKey(schema, table);
    auto it = infoCache.find(key);
    if (it != infoCache.end()) return it->second;
    TableInfo ti;
    CheckOpen();
    const std::string qs = QuoteIdent(schema);
    ti.exists = ReadTableSql(*this, qs, table, &ti.sql);
    if (ti.exists) {
        if (Upper(ti.sql).rfind("CREATE VIRTUAL", 0) == 0) NoteComputed(ti, "its virtual table module");
        const int pkCount = ReadColumns(*this, qs, table, ti);
        const ColumnInfo* rowidPk = FindRowidKey(ti, pkCount);
        const std::string pkName = PrimaryKeyName(ti.sql);
        if (rowidPk) {
            IndexInfo ix;
            ix.jetName = pkName;
            ix.primary = ix.unique = true;
            ix.columns.emplace_back(rowidPk->name, false);
            ti.indexes.push_back(ix);
        }
        ReadIndexes(*this, qs, table, pkName, ti);
        for (const auto& ix : ti.indexes)
            if (ix.primary) {
                for (const auto& c : ix.columns) ti.pk.push_back(c.first);
                break;
            }
    }
    return infoCache.emplace(key, std::move(ti)).first->second;
}

bool Core::LocalTableExists(const std::string& name) { return Info("main", name).exists; }

void Core::CheckNewTableName(const std::string& name) {
    const std::string u = Upper(name);
    if (u.rfind("MSYS", 0) == 0 || u.rfind("SQLITE_", 0) == 0 || u.find("$REBUILD") != std::string::npos)
        Raise(3125, name);
}

short Core::ColumnType(const std::string& schema, const std::string& table, const std::string& column, long* size) {
    const TableInfo& ti = Info(schema, table);
    for (const auto& c : ti.cols)
        if (EqualsNoCase(c.name, column)) {
            *size = c.ct.size;
            return c.ct.type;
        }
    return 0;
}

std::vector<std::string> Core::PrimaryKey(const std::string& schema, const std::string& table) {
    return Info(schema, table).pk;
}

std::string Core::RowidName(const std::string& schema, const std::string& table) {
    return Info(schema, table).rowid;
}

std::vector<std::string> Core::Counters(const std::string& schema, const std::string& table) {
    std::vector<std::string> counters;
    for (const auto& c : Info(schema, table).cols)
        if (c.ct.autoIncrement && !c.rowidKey) counters.push_back(c.name);
    return counters;
}

// Row by row in the order they were added, as the stored trigger does.
void Core::NumberCounters(const std::string& schema, const std::string& table,
                          const std::vector<std::string>& counters, const std::vector<int64_t>& rows) {
    const std::string target = QuoteIdent(schema) + "." + QuoteIdent(table);
    for (const auto& name : counters) {
        const std::string c = QuoteIdent(name);
        sqlite3_stmt* st = Cached("UPDATE " + target + " SET " + c + " = (SELECT ifnull(max(" + c + "), 0) + 1 FROM " +
                                  target + ") WHERE " + RowidName(schema, table) + " = ?1 AND " + c + " IS NULL");
        for (int64_t row : rows) {
            sqlite3_bind_int64(st, 1, row);
            Step(st, table);
        }
    }
}

}  // namespace dao::detail
