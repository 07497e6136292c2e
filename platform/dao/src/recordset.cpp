// Record sets.
//
// A record set over base-table rows (a table, or a query without grouping) is
// a keyset: the query runs once as a stream that also yields the rowid of each
// base table, and rows are identified by those keys. Reading forward takes the
// values straight from the stream; any other access re-reads the row by its
// keys, so a dynaset sees later changes to its rows and a million-row scan
// never holds more than the keys. Grouped and computed results are kept in
// memory as they are read. Forward-only record sets only stream.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <limits>
#include <thread>
#include <unordered_set>

#include "cursor.h"

namespace dao::detail {

void Core::SuspendStreams() {
    for (Source* s : sources) s->Suspend();
    for (Cursor* c : cursors) {
        if (c->fetch) sqlite3_reset(c->fetch);
        c->mode = Cursor::NoRow;
    }
}

namespace {

bool LooksLikeSql(const std::string& s) {
    size_t i = 0;
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\r' || s[i] == '\n' || s[i] == '(')) ++i;
    std::string w;
    while (i < s.size() && std::isalpha(static_cast<unsigned char>(s[i]))) w += char(std::toupper(static_cast<unsigned char>(s[i++])));
    return (w == "SELECT" || w == "TRANSFORM" || w == "PARAMETERS") && (i >= s.size() || !std::isalnum(static_cast<unsigned char>(s[i])));
}

// A seek compares as every statement does: a text column by the one comparison.
std::string TextCollation(const TableInfo& ti, const std::string& column) {
    for (const auto& c : ti.cols)
        if (EqualsNoCase(c.name, column)) return IsTextType(c.ct.type) ? std::string(" COLLATE ") + kTextCollation : "";
    return {};
}

std::string StripBrackets(const std::string& s) {
    std::string t = TrimSpaces(s);
    if (t.size() >= 2 && t.front() == '[' && t.back() == ']') return t.substr(1, t.size() - 2);
    return t;
}

std::string BuildSelect(const SelectInfo& si, bool withKeys, const std::vector<TableRef>& keyTables, bool order,
                        const std::string& keyWhere, bool keysOnly = false,
                        const std::vector<std::pair<std::string, bool>>* orderCols = nullptr) {
    std::string sql = "SELECT " + si.distinct;
    if (!keysOnly)
        for (size_t i = 0; i < si.items.size(); ++i) sql += (i ? ", " : "") + si.items[i];
    if (withKeys)
        for (size_t k = 0; k < keyTables.size(); ++k)
            sql += std::string(keysOnly && k == 0 ? "" : ", ") + QuoteIdent(keyTables[k].alias) + "." + keyTables[k].rowid + " AS " +
                   QuoteIdent("__k" + std::to_string(k));
    if (orderCols)
        for (size_t i = 0; i < orderCols->size(); ++i)
            sql += ", " + (*orderCols)[i].first + " AS " + QuoteIdent("__o" + std::to_string(i));
    if (!si.from.empty()) sql += " FROM " + si.from;
    if (!keyWhere.empty()) sql += " WHERE " + keyWhere;
    else if (!si.where.empty()) sql += " WHERE " + si.where;
    if (order && !si.orderBy.empty()) {
        sql += " ORDER BY " + si.orderBy;
        // Rows equal on the sort keys come in the order of their keys, however
        // the sort is carried out.
        if (withKeys)
            for (const TableRef& t : keyTables) sql += ", " + QuoteIdent(t.alias) + "." + t.rowid;
    }
    if (order && !si.limit.empty()) sql += " LIMIT " + si.limit;
    return sql;
}

// The terms of an ORDER BY clause as SQLite text, each with whether it is
// descending; false when one cannot be read again in a WHERE clause (a
// column number, NULLS FIRST or LAST). A statement of keys only has no name
// of its own in its select list: a name in its ORDER BY is the table's
// column, as in WHERE.
bool SortTerms(const SelectInfo& si, std::vector<std::pair<std::string, bool>>& terms) {
    terms.clear();
    const std::string& o = si.orderBy;
    std::vector<std::string> parts;
    size_t from = 0;
    int depth = 0;
    for (size_t i = 0; i <= o.size(); ++i) {
        const char c = i < o.size() ? o[i] : ',';
        if (c == '"' || c == '\'' || c == '[' || c == '`') {
            const char close = c == '[' ? ']' : c;
            const size_t end = o.find(close, i + 1);
            if (end == std::string::npos) return false;
            i = end;
        } else if (c == '(') {
            ++depth;
        } else if (c == ')') {
            --depth;
        } else if (c == ',' && depth == 0) {
            parts.push_back(TrimSpaces(o.substr(from, i - from)));
            from = i + 1;
        }
    }
    for (std::string t : parts) {
        const auto endsWith = [&](const char* word) {
            const size_t n = std::strlen(word);
            if (t.size() <= n || !std::isspace(static_cast<unsigned char>(t[t.size() - n - 1]))) return false;
            for (size_t k = 0; k < n; ++k)
                if (std::toupper(static_cast<unsigned char>(t[t.size() - n + k])) != word[k]) return false;
            return true;
        };
        bool desc = false;
        if (endsWith("DESC")) desc = true, t = TrimSpaces(t.substr(0, t.size() - 4));
        else if (endsWith("ASC")) t = TrimSpaces(t.substr(0, t.size() - 3));
        if (t.empty() || endsWith("FIRST") || endsWith("LAST")) return false;
        if (std::all_of(t.begin(), t.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); })) return false;
        terms.emplace_back(t, desc);
    }
    return !terms.empty();
}

// Column i of the statement named that src reads: where it comes from, its
// type, and whether it may be written, as the statement st (named itself, or
// the same columns as written) tells. starred: the select list has a "*".
ColMeta DescribeColumn(Core& core, const Source& src, sqlite3_stmt* named, sqlite3_stmt* st, int i, bool starred) {
    ColMeta c;
    c.name = sqlite3_column_name(named, i);
    const char* dbn = sqlite3_column_database_name(st, i);
    const char* tbl = sqlite3_column_table_name(st, i);
    const char* org = sqlite3_column_origin_name(st, i);
    if (dbn && tbl && org) {
        c.schema = dbn;
        c.table = tbl;
        c.column = org;
        const TableInfo& ti = core.Info(c.schema, c.table);
        for (const auto& ci : ti.cols)
            if (EqualsNoCase(ci.name, c.column)) {
                c.type = ci.ct.type;
                c.size = ci.ct.size;
                c.autoIncrement = ci.ct.autoIncrement;
                c.required = ci.notNull;
            }
        c.sourceField = c.column;
        c.sourceTable = c.table;
        for (size_t k = 0; k < src.keyTables.size(); ++k) {
            const TableRef& tr = src.keyTables[k];
            if (EqualsNoCase(tr.schema, c.schema) && EqualsNoCase(tr.table, c.table)) {
                c.keyIndex = int(k);
                c.sourceTable = tr.written;
                break;
            }
        }
        if (c.keyIndex < 0)
            for (const auto& tr : src.sel.tables)
                if (EqualsNoCase(tr.schema, c.schema) && EqualsNoCase(tr.table, c.table)) c.sourceTable = tr.written;
    }
    if (c.type == 0) {
        const char* decl = sqlite3_column_decltype(st, i);
        if (decl && *decl) {
            ColumnType ct = TypeFromDecl(decl);
            c.type = ct.type;
            c.size = ct.size;
        } else if (!starred && size_t(i) < src.sel.itemTypes.size() && src.sel.itemTypes[size_t(i)]) {
            c.type = src.sel.itemTypes[size_t(i)];
            c.size = src.sel.itemSizes[size_t(i)] > 0 ? src.sel.itemSizes[size_t(i)] : DefaultSize(c.type);
        }
    }
    c.updatable = src.keyed && c.keyIndex >= 0 && !c.autoIncrement &&
                  sqlite3_db_readonly(core.db, c.schema.c_str()) != 1;
    return c;
}

std::shared_ptr<Source> MakeSource(const std::shared_ptr<Core>& core, const std::string& name, const SelectInfo& sel,
                                   RecordsetType type, bool readOnlyOpt, bool tableType) {
    auto src = std::make_shared<Source>();
    src->core = core;
    src->name = name;
    src->type = type;
    src->readOnlyOpt = readOnlyOpt;
    src->sel = sel;
    src->tableType = tableType;
    src->forwardOnly = type == RecordsetType::ForwardOnly;
    core->sources.insert(src.get());
    sqlite3_stmt* st = nullptr;
    if (!src->forwardOnly && sel.keyable) {
        src->keyTables = sel.tables;
        src->nKeys = int(sel.tables.size());
        if (src->nKeys <= 8) {
            src->streamSql = BuildSelect(sel, true, src->keyTables, true, {});
            if (sqlite3_prepare_v2(core->db, src->streamSql.c_str(), -1, &st, nullptr) == SQLITE_OK) {
                src->keyed = true;
                src->parallelSort = !sel.orderBy.empty();
            } else {
                sqlite3_finalize(st);
                st = nullptr;
            }
        }
    }
    if (!src->keyed) {
        src->nKeys = 0;
        src->keyTables.clear();
        src->streamSql = sel.sql;
        st = core->Prepare(src->streamSql);
        src->materialized = !src->forwardOnly;
    }
    src->stream = st;
    src->streamStartWriteGen = core->writeGen;
    src->nCols = sqlite3_column_count(st) - src->nKeys;
    src->keyBase = src->nCols;
    sqlite3_stmt* meta = st;  // describes the columns
    if (src->keyed && type == RecordsetType::Dynaset) {
        // A dynaset walks its keys and reads a row only when asked: edits of
        // many rows never pay for decoding values nobody reads.
        // With the sort's values beside the keys, a suspended walk goes on
        // from its last row.
        std::vector<std::pair<std::string, bool>> order;
        const bool resumable = sel.limit.empty() && sel.distinct.empty() && sqlite3_bind_parameter_count(st) == 0 &&
                               SortTerms(sel, order);
        std::string keySql = BuildSelect(sel, true, src->keyTables, true, {}, true, resumable ? &order : nullptr);
        sqlite3_stmt* ks = nullptr;
        if (sqlite3_prepare_v2(core->db, keySql.c_str(), -1, &ks, nullptr) != SQLITE_OK && resumable) {
            sqlite3_finalize(ks);
            ks = nullptr;
            order.clear();
            keySql = BuildSelect(sel, true, src->keyTables, true, {}, true);
            sqlite3_prepare_v2(core->db, keySql.c_str(), -1, &ks, nullptr);
        }
        if (ks && sqlite3_column_count(ks) == src->nKeys + int(order.size())) {
            src->stream = ks;
            src->streamSql = keySql;
            src->keysOnly = true;
            src->keyBase = 0;
            src->order = std::move(order);
            src->orderCols = int(src->order.size());
        } else {
            sqlite3_finalize(ks);
        }
    }
    if (src->keyed) {
        std::string keyWhere;
        for (int k = 0; k < src->nKeys; ++k)
            keyWhere += (k ? " AND " : "") + QuoteIdent(src->keyTables[size_t(k)].alias) + "." + src->keyTables[size_t(k)].rowid + " " +
                        (k ? "IS" : "=") + " ?" + std::to_string(k + 1);
        src->fetchSql = BuildSelect(sel, false, src->keyTables, false, keyWhere);
        src->findInner = BuildSelect(sel, true, src->keyTables, false, {});
    }
    bool starred = false;
    for (const auto& n : sel.itemNames)
        if (n == "*" || (n.size() > 2 && n.compare(n.size() - 2, 2, ".*") == 0)) starred = true;
    sqlite3_stmt* described = nullptr;  // the same columns as written
    if (!sel.describeSql.empty() &&
        (sqlite3_prepare_v2(core->db, sel.describeSql.c_str(), -1, &described, nullptr) != SQLITE_OK ||
         sqlite3_column_count(described) != sqlite3_column_count(st))) {
        sqlite3_finalize(described);
        described = nullptr;
    }
    for (int i = 0; i < src->nCols; ++i)
        src->cols.push_back(DescribeColumn(*core, *src, st, described ? described : st, i, starred));
    sqlite3_finalize(described);
    if (meta != src->stream) sqlite3_finalize(meta);
    return src;
}

constexpr size_t kHeadRows = 128;  // a page of the browse grid

void SetHead(Source& src) {
    src.headFirst = true;
    if (!src.keysOnly || src.sel.orderBy.empty() || !src.sel.limit.empty()) return;
    // The whole row, as a browse query reads it: with a column beyond the
    // keys, SQLite plans the join as it would for the rows themselves.
    src.headSql = BuildSelect(src.sel, true, src.keyTables, true, {}) + " LIMIT " + std::to_string(kHeadRows);
    src.headKeyBase = src.nCols;
    src.headRows = kHeadRows;
}

void ResolveUnknownTypes(Source& src, Cursor& cur) {
    for (int i = 0; i < src.nCols; ++i) {
        ColMeta& c = src.cols[size_t(i)];
        if (c.type) continue;
        int t = SQLITE_NULL;
        if (!cur.bof && !cur.eof) {
            try {
                sqlite3_stmt* st = cur.RowStmt();
                t = st ? sqlite3_column_type(st, i) : sqlite3_value_type(src.rows[size_t(cur.pos)][size_t(i)]);
            } catch (const DaoError&) {
            }
        }
        c.type = t == SQLITE_INTEGER ? dbLong : t == SQLITE_FLOAT ? dbDouble : t == SQLITE_BLOB ? dbLongBinary : dbText;
        c.size = DefaultSize(c.type);
    }
}

std::shared_ptr<Cursor> MakeCursor(const std::shared_ptr<Source>& src) {
    auto cur = std::make_shared<Cursor>();
    cur->src = src;
    cur->core = src->core;
    src->core->cursors.insert(cur.get());
    cur->buffer.resize(size_t(src->nCols));
    cur->dirty.assign(size_t(src->nCols), 0);
    cur->fieldsImpl.owner = dao::Fields::Impl::OfRecordset;
    cur->fieldsImpl.cursor = cur;
    for (int i = 0; i < src->nCols; ++i) {
        const ColMeta& c = src->cols[size_t(i)];
        auto f = std::make_shared<FieldImpl>();
        f->name = c.name;
        f->type = c.type;
        f->size = c.size;
        f->attributes = (IsTextType(c.type) || c.type == dbMemo || c.type == dbLongBinary ? long(dbVariableField) : long(dbFixedField)) |
                        (c.autoIncrement ? long(dbAutoIncrField) : 0L) | (c.updatable ? long(dbUpdatableField) : 0L);
        f->ordinal = short(i);
        f->required = c.required;
        f->sourceField = c.sourceField;
        f->sourceTable = c.sourceTable;
        f->cursor = cur;
        f->column = i;
        f->isDefinition = false;
        f->appended = true;
        cur->fieldsImpl.items.push_back(f);
    }
    cur->fields = std::make_unique<dao::Fields>(&cur->fieldsImpl);
    return cur;
}

void FirstRow(Cursor& cur) {
    if (cur.src->EnsureRow(0)) {
        cur.Land(0);
    } else {
        cur.pos = -1;
        cur.bof = cur.eof = true;
    }
}

void FinishOpen(const std::shared_ptr<Cursor>& cur) {
    FirstRow(*cur);
    bool unknown = false;
    for (const auto& c : cur->src->cols)
        if (!c.type) unknown = true;
    if (unknown) {
        ResolveUnknownTypes(*cur->src, *cur);
        for (size_t i = 0; i < cur->fieldsImpl.items.size(); ++i) {
            cur->fieldsImpl.items[i]->type = cur->src->cols[i].type;
            cur->fieldsImpl.items[i]->size = cur->src->cols[i].size;
        }
    }
}

}  // namespace

std::shared_ptr<Cursor> OpenCursor(const std::shared_ptr<Core>& core, const std::string& nameOrSql, RecordsetType type,
                                   int options) {
    core->CheckOpen();
    bool readOnlyOpt = (options & dbReadOnly) != 0;
    SelectInfo sel;
    bool tableType = false;
    std::string name = nameOrSql;
    if (LooksLikeSql(nameOrSql)) {
        if (type == RecordsetType::Table) Raise(3219);
        if (type == RecordsetType::Default) type = RecordsetType::Dynaset;
        Statement st = TranslateStatement(nameOrSql, core.get());
        if (st.kind != StmtKind::Select) Raise(3219);
        sel = st.select;
    } else {
        std::string table = StripBrackets(nameOrSql);
        Link* link = core->FindLink(table);
        bool local = !link && core->LocalTableExists(table);
        if (!link && !local) Raise(3078, table);
        if (link && link->error) RaiseLink(*link);
        if (type == RecordsetType::Default) type = local ? RecordsetType::Table : RecordsetType::Dynaset;
        if (type == RecordsetType::Table && !local) Raise(3219);
        tableType = type == RecordsetType::Table;
        std::string bracketed = "[" + table + "]";
        sel = TranslateStatement("SELECT * FROM " + bracketed, core.get()).select;
        name = table;
    }
    auto src = MakeSource(core, name, sel, type, readOnlyOpt, tableType);
    if (options & dbFirstRowsFast) SetHead(*src);
    if (tableType) {
        src->baseSchema = "main";
        src->baseTable = name;
        const TableInfo& ti = core->Info("main", name);
        for (const auto& ix : ti.indexes)
            if (ix.primary) src->indexName = ix.jetName;
        sqlite3_stmt* c = core->Prepare("SELECT count(*) FROM " + QuoteIdent(name));
        if (sqlite3_step(c) == SQLITE_ROW) src->tableCount = long(sqlite3_column_int64(c, 0));
        sqlite3_finalize(c);
    }
    auto cur = MakeCursor(src);
    FinishOpen(cur);
    return cur;
}

}  // namespace dao::detail

// ------------------------------------------------------------------ public Recordset

namespace dao {
using namespace detail;

namespace {
Cursor& C(const std::unique_ptr<RecordsetImpl>& impl) {
    if (!impl || !impl->cursor || impl->cursor->closed) Raise(3420);
    impl->cursor->core->CheckOpen();
    return *impl->cursor;
}
}  // namespace

Recordset::Recordset(std::unique_ptr<RecordsetImpl> impl) : impl_(std::move(impl)) {}
Recordset::~Recordset() = default;

RecordsetType Recordset::Type() const { return C(impl_).src->type; }
std::string Recordset::Name() const { return C(impl_).src->name; }
bool Recordset::Updatable() const { return C(impl_).Updatable(); }
bool Recordset::Bookmarkable() const { return !C(impl_).src->forwardOnly; }
bool Recordset::Bof() const { return C(impl_).bof; }
bool Recordset::Eof() const { return C(impl_).eof; }
void Recordset::MoveFirst() { C(impl_).MoveFirst(); }
void Recordset::MoveLast() { C(impl_).MoveLast(); }
void Recordset::MoveNext() { C(impl_).MoveNext(); }
void Recordset::MovePrevious() { C(impl_).MovePrevious(); }

void Recordset::Move(long rows) {
    Cursor& c = C(impl_);
    if (c.bof || c.eof) {
        if (rows == 0 || c.src->forwardOnly || (c.bof && rows < 0) || (c.eof && rows > 0)) Raise(3021);
    }
    long from = c.bof ? -1 : c.eof ? long(c.src->known) : c.pos;
    c.Move(rows, from);
}

long Recordset::RecordCount() const {
    Cursor& c = C(impl_);
    if (c.src->tableType) return c.src->tableCount;
    return long(c.src->known) - c.src->deletedCount;
}

long Recordset::AbsolutePosition() const {
    Cursor& c = C(impl_);
    if (c.bof || c.eof) return -1;
    return c.pos;
}

void Recordset::SetAbsolutePosition(long position) {
    Cursor& c = C(impl_);
    if (c.src->forwardOnly) Raise(3251);
    if (position < 0 || !c.src->EnsureRow(size_t(position))) Raise(3001);
    c.CancelEdit();
    c.Land(size_t(position));
}

int64_t Recordset::Bookmark() const {
    Cursor& c = C(impl_);
    if (c.src->forwardOnly) Raise(3251);
    if (c.bof || c.eof) Raise(3021);
    return c.pos + 1;
}

void Recordset::SetBookmark(int64_t bookmark) {
    Cursor& c = C(impl_);
    if (c.src->forwardOnly) Raise(3251);
    if (bookmark < 1 || size_t(bookmark) > c.src->known) throw DaoError(3159, "Not a valid bookmark.");
    if (c.IsDeleted(size_t(bookmark - 1))) Raise(3167);
    c.CancelEdit();
    c.Land(size_t(bookmark - 1));
}

int64_t Recordset::LastModified() const {
    Cursor& c = C(impl_);
    if (!c.lastModified) Raise(3021);
    return c.lastModified;
}

std::shared_ptr<Recordset> Recordset::Clone() const {
    Cursor& c = C(impl_);
    if (c.src->forwardOnly) Raise(3251);
    auto cur = MakeCursor(c.src);
    cur->SetBof();
    cur->eof = false;
    auto impl = std::make_unique<RecordsetImpl>();
    impl->cursor = cur;
    return std::make_shared<Recordset>(std::move(impl));
}

dao::Fields& Recordset::Fields() { return *C(impl_).fields; }
dao::Field Recordset::Fields(int index) { return C(impl_).fields->Item(index); }
dao::Field Recordset::Fields(const std::string& name) { return C(impl_).fields->Item(name); }

void Recordset::AddNew() {
    Cursor& c = C(impl_);
    if (!c.Updatable()) Raise(3027);
    c.core->CheckWritable();
    c.CancelEdit();
    c.editMode = dbEditAdd;
}

void Recordset::Edit() {
    Cursor& c = C(impl_);
    if (!c.Updatable()) Raise(3027);
    c.core->CheckWritable();
    if (c.bof || c.eof) Raise(3021);
    if (c.IsDeleted(size_t(c.pos))) Raise(3167);
    c.CancelEdit();
    c.editMode = dbEditInProgress;
}

void Recordset::Update() { C(impl_).Update(); }

void Recordset::CancelUpdate() {
    Cursor& c = C(impl_);
    if (c.editMode == dbEditNone) Raise(3020);
    c.CancelEdit();
}

void Recordset::Delete() { C(impl_).Delete(); }
int Recordset::EditMode() const { return C(impl_).editMode; }
void Recordset::FindFirst(const std::string& criteria) { C(impl_).Find(criteria, 0); }
void Recordset::FindLast(const std::string& criteria) { C(impl_).Find(criteria, 1); }
void Recordset::FindNext(const std::string& criteria) { C(impl_).Find(criteria, 2); }
void Recordset::FindPrevious(const std::string& criteria) { C(impl_).Find(criteria, 3); }
bool Recordset::NoMatch() const { return C(impl_).noMatch; }

std::string Recordset::Index() const {
    Cursor& c = C(impl_);
    if (!c.src->tableType) Raise(3251);
    return c.src->indexName;
}

void Recordset::SetIndex(const std::string& indexName) {
    Cursor& c = C(impl_);
    if (!c.src->tableType) Raise(3251);
    const TableInfo& ti = c.core->Info(c.src->baseSchema, c.src->baseTable);
    const IndexInfo* found = nullptr;
    for (const auto& ix : ti.indexes)
        if (EqualsNoCase(ix.jetName, indexName)) found = &ix;
    if (!found) Raise(3800, indexName);
    SelectInfo sel = c.src->sel;
    sel.orderBy.clear();
    for (const auto& col : found->columns)
        sel.orderBy += (sel.orderBy.empty() ? "" : ", ") + QuoteIdent(sel.tables[0].alias) + "." + QuoteIdent(col.first) +
                       TextCollation(ti, col.first) + (col.second ? " DESC" : "");
    auto src = MakeSource(c.core, c.src->name, sel, c.src->type, c.src->readOnlyOpt, true);
    src->baseSchema = c.src->baseSchema;
    src->baseTable = c.src->baseTable;
    src->indexName = found->jetName;
    src->tableCount = c.src->tableCount;
    c.src = src;
    c.CancelEdit();
    FirstRow(c);
}

void Recordset::Seek(const std::string& comparison, std::initializer_list<com::Variant> keys) {
    Cursor& c = C(impl_);
    if (!c.src->tableType) Raise(3251);
    std::string op = TrimSpaces(comparison);
    if (op != "=" && op != "<" && op != "<=" && op != ">" && op != ">=") Raise(3001);
    const TableInfo& ti = c.core->Info(c.src->baseSchema, c.src->baseTable);
    const IndexInfo* ix = nullptr;
    for (const auto& x : ti.indexes)
        if (EqualsNoCase(x.jetName, c.src->indexName)) ix = &x;
    if (!ix) throw DaoError(3019, "Operation invalid without a current index.");
    size_t n = std::min(keys.size(), ix->columns.size());
    if (n == 0) Raise(3001);
    std::string lhs, rhs, order;
    bool backwards = op == "<" || op == "<=";
    for (size_t i = 0; i < n; ++i) {
        const std::string column = QuoteIdent(ix->columns[i].first) + TextCollation(ti, ix->columns[i].first);
        lhs += (i ? ", " : "") + column;
        rhs += (i ? ", ?" : "?") + std::to_string(i + 1);
        bool desc = ix->columns[i].second != backwards;
        order += (i ? ", " : "") + column + (desc ? " DESC" : "");
    }
    std::string sql = "SELECT " + c.core->RowidName(c.src->baseSchema, c.src->baseTable) + " FROM " + QuoteIdent(c.src->baseSchema) + "." + QuoteIdent(c.src->baseTable) +
                      " WHERE (" + lhs + ") " + op + " (" + rhs + ") ORDER BY " + order + " LIMIT 1";
    sqlite3_stmt* st = c.core->Cached(sql);
    size_t i = 0;
    for (const auto& k : keys) {
        if (i >= n) break;
        BindVariant(st, int(++i), k);
    }
    int rc = sqlite3_step(st);
    c.CancelEdit();
    c.noMatch = true;
    if (rc == SQLITE_ROW) {
        int64_t rowid = sqlite3_column_int64(st, 0);
        sqlite3_reset(st);
        size_t p = c.src->PositionOf(&rowid);
        if (p != kNone && !c.IsDeleted(p)) {
            c.noMatch = false;
            c.Land(p);
        }
    } else {
        sqlite3_reset(st);
        if (rc != SQLITE_DONE) RaiseSqlite(c.core->db, rc);
    }
}

com::Variant Recordset::GetRows(long rows) {
    Cursor& c = C(impl_);
    if (c.bof && !c.eof && c.src->known > 0) c.MoveFirst();
    if (c.eof || c.bof) return com::Variant();
    c.CancelEdit();
    int nCols = c.src->nCols;
    // Rows go straight into the array; a short last batch is copied into a smaller one.
    long want = rows > 0 ? rows : long(std::max<size_t>(c.src->known, 1));
    std::vector<VARIANT> vals(size_t(want) * size_t(nCols));
    long got = 0;
    try {
        while ((rows <= 0 || got < rows) && !c.eof) {
            if (size_t(got + 1) * size_t(nCols) > vals.size()) vals.resize(vals.size() * 2 + size_t(nCols));
            sqlite3_stmt* st = c.RowStmt();
            VARIANT* out = &vals[size_t(got) * size_t(nCols)];
            for (int i = 0; i < nCols; ++i) {
                short type = c.src->cols[size_t(i)].type;
                if (st) {
                    ReadColumn(st, i, type, &out[i]);
                } else {
                    com::Variant v = ValueToVariant(c.src->rows[size_t(c.pos)][size_t(i)], type);
                    out[i] = v;
                    VariantInit(&v);
                }
            }
            ++got;
            c.MoveNext();
        }
    } catch (...) {
        for (long r = 0; r < got; ++r)
            for (int i = 0; i < nCols; ++i) VariantClear(&vals[size_t(r) * size_t(nCols) + size_t(i)]);
        throw;
    }
    SAFEARRAYBOUND b[2] = {{ULONG(nCols), 0}, {ULONG(got), 0}};
    SAFEARRAY* psa = SafeArrayCreate(VT_VARIANT, 2, b);
    if (!psa) {
        for (long r = 0; r < got; ++r)
            for (int i = 0; i < nCols; ++i) VariantClear(&vals[size_t(r) * size_t(nCols) + size_t(i)]);
        throw DaoError(7, "Out of memory");
    }
    void* data = nullptr;
    SafeArrayAccessData(psa, &data);
    if (got) std::memcpy(data, vals.data(), size_t(got) * size_t(nCols) * sizeof(VARIANT));
    SafeArrayUnaccessData(psa);
    return com::Variant::Array(psa, VT_VARIANT);
}

void Recordset::Requery() {
    Cursor& c = C(impl_);
    auto src = MakeSource(c.core, c.src->name, c.src->sel, c.src->type, c.src->readOnlyOpt, c.src->tableType);
    src->baseSchema = c.src->baseSchema;
    src->baseTable = c.src->baseTable;
    src->indexName = c.src->indexName;
    if (c.src->headFirst) SetHead(*src);
    if (src->tableType) {
        sqlite3_stmt* q = c.core->Prepare("SELECT count(*) FROM " + QuoteIdent(src->baseTable));
        if (sqlite3_step(q) == SQLITE_ROW) src->tableCount = long(sqlite3_column_int64(q, 0));
        sqlite3_finalize(q);
    }
    c.src = src;
    c.CancelEdit();
    c.lastModified = 0;
    FirstRow(c);
}

namespace {

bool Shareable(const Source& s) {
    return s.keyed && s.keysOnly && !s.forwardOnly && !s.materialized && !s.tableType && s.nKeys > 0 && s.stream;
}

// The two connections have the same databases attached under the same names.
bool SameFiles(sqlite3* a, sqlite3* b) {
    for (int i = 0;; ++i) {
        const char* na = sqlite3_db_name(a, i);
        const char* nb = sqlite3_db_name(b, i);
        if (!na || !nb) return !na && !nb;
        if (std::strcmp(na, nb) != 0) return false;
        const char* fa = sqlite3_db_filename(a, na);
        const char* fb = sqlite3_db_filename(b, nb);
        if (std::strcmp(fa ? fa : "", fb ? fb : "") != 0) return false;
    }
}

// The files the record set's statement reads are attached to both
// connections under the same names; other files do not matter.
bool SameFiles(sqlite3* a, sqlite3* b, const Source& s) {
    for (const TableRef& t : s.sel.tables) {
        if (t.subquery || t.schema.empty()) return SameFiles(a, b);
        const char* fa = sqlite3_db_filename(a, t.schema.c_str());
        const char* fb = sqlite3_db_filename(b, t.schema.c_str());
        if (!fa || !fb || !*fa || std::strcmp(fa, fb) != 0) return false;  // "": a database in memory
    }
    return !s.sel.tables.empty() || SameFiles(a, b);
}

// The steps SQLite takes for a statement, as EXPLAIN QUERY PLAN tells them.
std::vector<std::string> QueryPlan(sqlite3* db, const std::string& sql) {
    std::vector<std::string> steps;
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, ("EXPLAIN QUERY PLAN " + sql).c_str(), -1, &st, nullptr) == SQLITE_OK)
        while (sqlite3_step(st) == SQLITE_ROW) {
            const unsigned char* detail = sqlite3_column_text(st, 3);
            steps.emplace_back(detail ? reinterpret_cast<const char*>(detail) : "");
        }
    sqlite3_finalize(st);
    return steps;
}

}  // namespace

bool Recordset::KeysShareable() const { return Shareable(*C(impl_).src); }

namespace {

// Runs a dao_keys statement: every key it meets goes to keys. False when it cannot run.
bool CollectKeys(sqlite3_stmt* st, std::vector<int64_t>& keys, int64_t from, int64_t to) {
    sqlite3_reset(st);
    sqlite3_bind_pointer(st, 1, &keys, kKeysPointer, nullptr);
    if (sqlite3_bind_parameter_count(st) >= 3) {
        sqlite3_bind_int64(st, 2, from);
        sqlite3_bind_int64(st, 3, to);
    }
    const int rc = sqlite3_step(st);
    sqlite3_reset(st);
    return rc == SQLITE_ROW;
}

struct Prepared {
    sqlite3_stmt* st = nullptr;
    Prepared(sqlite3* db, const std::string& sql) {
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
            sqlite3_finalize(st);
            st = nullptr;
        }
    }
    ~Prepared() { sqlite3_finalize(st); }
    Prepared(const Prepared&) = delete;
    Prepared& operator=(const Prepared&) = delete;
};

// The key of the table the plan's outer loop reads in stored order, so that
// the rows come in the order of that table's rowids; -1 for any other plan.
int ScannedKey(const Source& s, const std::vector<std::string>& plan) {
    if (plan.empty()) return -1;
    for (size_t i = 1; i < plan.size(); ++i)
        if (plan[i].rfind("SEARCH ", 0) != 0 && plan[i].rfind("SCAN ", 0) != 0) return -1;
    for (int k = 0; k < s.nKeys; ++k)
        if (plan[0] == "SCAN " + s.keyTables[size_t(k)].alias) return k;
    return -1;
}

// Puts rows of n keys in the order of key k; false when two rows share it,
// since their order would then be the plan's to tell.
bool SortByKey(std::vector<int64_t>& keys, int n, int k) {
    const size_t rows = keys.size() / size_t(n);
    bool ordered = true;
    for (size_t i = 1; i < rows && ordered; ++i)
        ordered = keys[(i - 1) * size_t(n) + size_t(k)] < keys[i * size_t(n) + size_t(k)];
    if (ordered) return true;
    std::vector<uint32_t> order(rows);
    for (size_t i = 0; i < rows; ++i) order[i] = uint32_t(i);
    std::sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
        return keys[size_t(a) * size_t(n) + size_t(k)] < keys[size_t(b) * size_t(n) + size_t(k)];
    });
    std::vector<int64_t> sorted(keys.size());
    for (size_t i = 0; i < rows; ++i) {
        std::memcpy(&sorted[i * size_t(n)], &keys[size_t(order[i]) * size_t(n)], sizeof(int64_t) * size_t(n));
        if (i && sorted[i * size_t(n) + size_t(k)] == sorted[(i - 1) * size_t(n) + size_t(k)]) return false;
    }
    keys.swap(sorted);
    return true;
}

constexpr int64_t kRowsPerPart = 50000;

// Reads the keys in runs of the outer table's rowids, one run per connection,
// each on a thread of its own, and puts each run in rowid order: joined, the
// runs give the stream's order. False when the statement does not allow it
// (another plan, or an outer row met twice), or any run fails.
bool ReadInParts(Cursor& c, const std::vector<std::string>& plan, const std::string& all,
                 const std::vector<std::shared_ptr<Database>>& helpers, std::vector<int64_t>& keys) {
    Source& s = *c.src;
    const int k = ScannedKey(s, plan);
    if (helpers.empty() || k < 0 || s.keyTables[size_t(k)].rowid != "rowid") return false;
    const TableRef& t = s.keyTables[size_t(k)];
    sqlite3* db = c.core->db;
    int64_t lo = 0, hi = 0;
    {
        Prepared range(db, "SELECT min(rowid), max(rowid) FROM " + QuoteIdent(t.schema) + "." + QuoteIdent(t.table));
        if (!range.st || sqlite3_step(range.st) != SQLITE_ROW || sqlite3_column_type(range.st, 0) == SQLITE_NULL)
            return false;
        lo = sqlite3_column_int64(range.st, 0);
        hi = sqlite3_column_int64(range.st, 1);
    }
    const size_t parts = std::min<size_t>(helpers.size() + 1, size_t((hi - lo) / kRowsPerPart) + 1);
    if (parts < 2) return false;
    const std::string part = all + " WHERE " + QuoteIdent("__k" + std::to_string(k)) + " BETWEEN ?2 AND ?3";
    std::vector<std::unique_ptr<Prepared>> runs;
    for (size_t i = 0; i + 1 < parts; ++i) {
        const std::shared_ptr<Core>& hc = helpers[i]->impl()->core;
        try {
            helpers[i]->OpenRecordset(s.name, RecordsetType::Dynaset, dbReadOnly);  // attaches the same links
        } catch (const DaoError&) {
            return false;
        }
        if (!SameFiles(db, hc->db, s)) return false;
        // Read through the page cache: mapped pages of every helper would count against the process.
        sqlite3_exec(hc->db, "PRAGMA mmap_size=0", nullptr, nullptr, nullptr);
        runs.push_back(std::make_unique<Prepared>(hc->db, part));
        if (!runs.back()->st) return false;
    }
    runs.push_back(std::make_unique<Prepared>(db, part));
    if (!runs.back()->st) return false;
    std::vector<std::vector<int64_t>> got(parts);
    std::vector<char> ok(parts, 0);
    const auto bound = [&](size_t i) { return lo + int64_t((__int128(hi - lo) + 1) * __int128(i) / __int128(parts)); };
    std::vector<std::thread> threads;
    for (size_t i = 0; i < parts; ++i) {
        auto run = [&, i] {
            try {
                // Room for a row per rowid of the run (a join that meets a row
                // twice is refused anyway); the first run's list takes the others.
                got[i].reserve(size_t(bound(i ? i + 1 : parts) - bound(i)) * size_t(s.nKeys));
                ok[i] = CollectKeys(runs[i]->st, got[i], bound(i), bound(i + 1) - 1) && SortByKey(got[i], s.nKeys, k);
            } catch (const std::bad_alloc&) {
                ok[i] = 0;
            }
        };
        if (i + 1 < parts) threads.emplace_back(run);
        else run();
    }
    for (auto& th : threads) th.join();
    for (char o : ok)
        if (!o) return false;
    keys = std::move(got[0]);
    for (size_t i = 1; i < parts; ++i) {
        keys.insert(keys.end(), got[i].begin(), got[i].end());
        std::vector<int64_t>().swap(got[i]);
    }
    // A view of a few of the table's rows keeps no room for all of them.
    if (keys.capacity() > 2 * keys.size()) keys.shrink_to_fit();
    return true;
}

}  // namespace

bool Recordset::ReadAllKeys(const std::vector<std::shared_ptr<Database>>& helpers) {
    Cursor& c = C(impl_);
    Source& s = *c.src;
    if (!Shareable(s)) return false;
    if (s.streamDone) return true;
    std::string keyCols;
    for (int i = 0; i < s.nKeys; ++i) keyCols += ", " + QuoteIdent("__k" + std::to_string(i));
    std::vector<int64_t> keys;
    if (!s.sel.orderBy.empty()) {
        // A key order that the plan walks without a sort is the order of the
        // statement without it, which is read in parts. Any other order is a
        // sort, whose cost is the whole: the stream's own walk adds little to it.
        if (s.sel.keyOrder && s.sel.limit.empty()) {
            const std::vector<std::string> plan = QueryPlan(c.core->db, s.streamSql);
            const std::string unordered = BuildSelect(s.sel, true, s.keyTables, false, {}, s.keysOnly);
            const std::string all = "SELECT dao_keys(?1" + keyCols + ") FROM (" + unordered + ")";
            if (QueryPlan(c.core->db, unordered) == plan && QueryPlan(c.core->db, all) == plan &&
                ReadInParts(c, plan, all, helpers, keys))
                return s.TakeAllKeys(keys);
        }
        s.FinishStream();
        return true;
    }
    // The rows must come in the stream's order: the query has to run as the stream runs.
    const std::vector<std::string> plan = QueryPlan(c.core->db, s.streamSql);
    const std::string all = "SELECT dao_keys(?1" + keyCols + ") FROM (" + s.streamSql + ")";
    if (QueryPlan(c.core->db, all) != plan) return false;
    if (!ReadInParts(c, plan, all, helpers, keys)) {
        keys.clear();
        Prepared one(c.core->db, all);
        if (!one.st || !CollectKeys(one.st, keys, 0, 0)) return false;
    }
    return s.TakeAllKeys(keys);
}

bool Recordset::TakeKeys(Recordset& from) {
    Cursor& c = C(impl_);
    Cursor& o = C(from.impl_);
    Source& s = *c.src;
    Source& f = *o.src;
    if (&s == &f || !Shareable(s) || !Shareable(f) || s.streamDone || !f.streamDone) return false;
    if (s.streamSql != f.streamSql || s.nKeys != f.nKeys || !SameFiles(c.core->db, o.core->db, s)) return false;
    // The rows known here stay as they are; the others come from the list.
    if (f.deletedCount || !f.addedSet.empty()) return false;
    if (!s.TakeAllKeys(f.keys)) return false;
    from.Close();
    return true;
}

void Recordset::Close() {
    Cursor& c = C(impl_);
    c.closed = true;
    if (c.fetch) {
        sqlite3_finalize(c.fetch);
        c.fetch = nullptr;
    }
    c.src.reset();
}

}  // namespace dao


namespace dao::detail {

std::string ResumeSql(const Source& s) {
    if (s.order.empty() || s.lastRow.size() != s.order.size() + size_t(s.nKeys)) return {};
    // The sort's terms, then the keys (rising): the rows after the last one
    // read are those after it in the first term that differs. NULL comes
    // first when rising and last when falling, as SQLite sorts.
    std::vector<std::pair<std::string, bool>> terms = s.order;
    for (const TableRef& t : s.keyTables) terms.emplace_back(QuoteIdent(t.alias) + "." + t.rowid, false);
    std::string after;
    for (size_t i = terms.size(); i-- > 0;) {
        const std::string& t = terms[i].first;
        const bool desc = terms[i].second;
        const std::string v = "?" + std::to_string(i + 1);
        const bool null = sqlite3_value_type(s.lastRow[i]) == SQLITE_NULL;
        std::string beyond = null ? (desc ? "" : "(" + t + ") IS NOT NULL")
                                  : desc ? "((" + t + ") < " + v + " OR (" + t + ") IS NULL)" : "(" + t + ") > " + v;
        const std::string same = null ? "(" + t + ") IS NULL" : "(" + t + ") = " + v;
        if (!after.empty()) {
            const std::string tie = same + " AND (" + after + ")";
            beyond = beyond.empty() ? tie : beyond + " OR (" + tie + ")";
        }
        after = beyond.empty() ? "0" : beyond;
    }
    // The first term bounds the walk, so that an index on it seeks to the row.
    const bool null0 = sqlite3_value_type(s.lastRow[0]) == SQLITE_NULL;
    const std::string& t0 = terms[0].first;
    std::string bound;
    if (!terms[0].second && !null0) bound = "(" + t0 + ") >= ?1 AND ";
    else if (terms[0].second && null0) bound = "(" + t0 + ") IS NULL AND ";
    SelectInfo sel = s.sel;
    const std::string cond = bound + "(" + after + ")";
    sel.where = sel.where.empty() ? cond : "(" + sel.where + ") AND " + cond;
    return BuildSelect(sel, true, s.keyTables, true, {}, true, &s.order);
}

}  // namespace dao::detail
