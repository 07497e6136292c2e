// TableDef, Field and Index handles and their collections.
#include "cursor.h"

namespace dao {
using namespace detail;

namespace {

FieldImpl& F(const std::shared_ptr<FieldImpl>& p) {
    if (!p) Raise(91);
    return *p;
}
IndexImpl& I(const std::shared_ptr<IndexImpl>& p) {
    if (!p) Raise(91);
    return *p;
}
TableDefImpl& T(const std::shared_ptr<TableDefImpl>& p) {
    if (!p) Raise(91);
    return *p;
}

std::shared_ptr<Cursor> LockCursor(const FieldImpl& f) {
    if (f.isDefinition) Raise(3219);
    auto c = f.cursor.lock();
    if (!c || c->closed || !c->src) Raise(3420);
    return c;
}

long FieldAttributes(const ColumnType& ct) {
    bool variable = ct.type == dbText || ct.type == dbMemo || ct.type == dbLongBinary || ct.type == dbVarBinary;
    return (variable ? long(dbVariableField) : long(dbFixedField)) | (ct.autoIncrement ? long(dbAutoIncrField) : 0L) |
           long(dbUpdatableField);
}

}  // namespace

// ------------------------------------------------------------------ TableDefImpl

std::shared_ptr<Core> TableDefImpl::Lock() const {
    auto c = core.lock();
    if (!c || c->closed) Raise(3420);
    return c;
}

void TableDefImpl::LoadFromSchema() {
    if (!appended) return;
    auto c = Lock();
    if (loadedGen == c->schemaGen) return;
    std::string schema = "main", table = name;
    if (Link* l = c->FindLink(name)) {
        if (l->error) {
            fieldsImpl.items.clear();
            indexesImpl.items.clear();
            loadedGen = c->schemaGen;
            return;
        }
        schema = l->schema;
        table = l->source;
    }
    const TableInfo& ti = c->Info(schema, table);
    fieldsImpl.items.clear();
    short ord = 0;
    for (const auto& col : ti.cols) {
        auto f = std::make_shared<FieldImpl>();
        f->name = col.name;
        f->type = col.ct.type;
        f->size = col.ct.size;
        f->attributes = FieldAttributes(col.ct);
        f->ordinal = ord++;
        f->required = col.notNull;
        f->allowZeroLength = IsTextType(col.ct.type);
        f->appended = true;
        f->sourceField = col.name;
        f->sourceTable = name;
        fieldsImpl.items.push_back(f);
    }
    indexesImpl.items.clear();
    for (const auto& ix : ti.indexes) {
        auto x = std::make_shared<IndexImpl>();
        x->name = ix.jetName;
        x->primary = ix.primary;
        x->unique = ix.unique || ix.primary;
        x->appended = true;
        for (const auto& col : ix.columns) {
            auto f = std::make_shared<FieldImpl>();
            f->name = col.first;
            f->attributes = col.second ? 1 : 0;  // descending
            for (const auto& tc : ti.cols)
                if (EqualsNoCase(tc.name, col.first)) {
                    f->type = tc.ct.type;
                    f->size = tc.ct.size;
                }
            f->ordinal = short(x->fieldsImpl.items.size());
            f->appended = true;
            x->fieldsImpl.items.push_back(f);
        }
        indexesImpl.items.push_back(x);
    }
    loadedGen = c->schemaGen;
}

// ------------------------------------------------------------------ Field

Field::Field() = default;
Field::Field(std::shared_ptr<FieldImpl> impl) : impl_(std::move(impl)) {}
Field::Field(const std::string& name, short type, long size) : impl_(std::make_shared<FieldImpl>()) {
    impl_->name = name;
    impl_->type = type;
    impl_->size = size > 0 ? size : DefaultSize(type);
}

std::string Field::Name() const { return F(impl_).name; }
short Field::Type() const { return F(impl_).type; }
long Field::Size() const { return F(impl_).size; }
long Field::Attributes() const { return F(impl_).attributes; }
void Field::SetAttributes(long attributes) {
    if (F(impl_).appended) Raise(3219);
    impl_->attributes = attributes;
}
short Field::OrdinalPosition() const { return F(impl_).ordinal; }
std::string Field::SourceField() const { return F(impl_).sourceField; }
std::string Field::SourceTable() const { return F(impl_).sourceTable; }
bool Field::Required() const { return F(impl_).required; }

com::Variant Field::Value() const {
    auto c = LockCursor(F(impl_));
    return c->Value(impl_->column);
}

void Field::SetValue(const VARIANT& v) {
    auto c = LockCursor(F(impl_));
    c->SetValue(impl_->column, v);
}

// ------------------------------------------------------------------ Fields

namespace {

void Prepare(Fields::Impl* impl) {
    if (impl->owner == Fields::Impl::OfTableDef) impl->table->LoadFromSchema();
    if (impl->owner == Fields::Impl::OfRecordset) {
        auto c = impl->cursor.lock();
        if (!c || c->closed) Raise(3420);
    }
}

}  // namespace

int Fields::Count() const {
    Prepare(impl_);
    return int(impl_->items.size());
}

Field Fields::Item(int index) const {
    Prepare(impl_);
    if (index < 0 || size_t(index) >= impl_->items.size()) Raise(3265);
    return Field(impl_->items[size_t(index)]);
}

Field Fields::Item(const std::string& name) const {
    Prepare(impl_);
    for (const auto& f : impl_->items)
        if (EqualsNoCase(f->name, name)) return Field(f);
    // "Table.Field" names a column of a joined record set.
    auto dot = name.find('.');
    if (dot != std::string::npos) {
        std::string t = name.substr(0, dot), n = name.substr(dot + 1);
        auto strip = [](std::string s) {
            if (s.size() >= 2 && s.front() == '[' && s.back() == ']') s = s.substr(1, s.size() - 2);
            return s;
        };
        t = strip(t);
        n = strip(n);
        for (const auto& f : impl_->items)
            if (EqualsNoCase(f->sourceTable, t) && (EqualsNoCase(f->sourceField, n) || EqualsNoCase(f->name, n)))
                return Field(f);
    }
    Raise(3265);
}

void Fields::Append(const Field& field) {
    auto& f = field.impl();
    if (!f) Raise(91);
    switch (impl_->owner) {
    case Impl::OfRecordset: Raise(3219);
    case Impl::OfIndex: {
        for (const auto& x : impl_->items)
            if (EqualsNoCase(x->name, f->name)) Raise(3367);
        if (impl_->index->appended) Raise(3219);
        f->ordinal = short(impl_->items.size());
        impl_->items.push_back(f);
        return;
    }
    case Impl::OfTableDef: {
        TableDefImpl* t = impl_->table;
        if (f->appended) Raise(3367);
        if (f->name.empty()) Raise(3001);
        if (!t->appended) {
            for (const auto& x : impl_->items)
                if (EqualsNoCase(x->name, f->name)) throw DaoError(3191, "Cannot define field more than once.");
            f->ordinal = short(impl_->items.size());
            impl_->items.push_back(f);
            return;
        }
        auto c = t->Lock();
        Statement st;
        st.kind = StmtKind::AlterTable;
        st.alterOp = Statement::AddColumn;
        st.table = t->name;
        ColumnDef d;
        d.name = f->name;
        d.type = f->type;
        d.size = f->size > 0 ? f->size : DefaultSize(f->type);
        d.autoIncrement = (f->attributes & dbAutoIncrField) != 0;
        st.columns.push_back(d);
        c->AlterTable(st);
        f->appended = true;
        t->loadedGen = ~uint64_t(0);
        return;
    }
    }
}

// ------------------------------------------------------------------ Index

Index::Index() = default;
Index::Index(std::shared_ptr<IndexImpl> impl) : impl_(std::move(impl)) {}
std::string Index::Name() const { return I(impl_).name; }
bool Index::Primary() const { return I(impl_).primary; }
void Index::SetPrimary(bool primary) {
    if (I(impl_).appended) Raise(3219);
    impl_->primary = primary;
    if (primary) impl_->unique = true;
}
bool Index::Unique() const { return I(impl_).unique || impl_->primary; }
dao::Fields& Index::Fields() { return I(impl_).fields; }
dao::Field Index::CreateField(const std::string& name, short type, long size) {
    I(impl_);
    return dao::Field(name, type ? type : short(dbText), size);
}

int Indexes::Count() const {
    impl_->table->LoadFromSchema();
    return int(impl_->items.size());
}

Index Indexes::Item(int index) const {
    impl_->table->LoadFromSchema();
    if (index < 0 || size_t(index) >= impl_->items.size()) Raise(3265);
    return Index(impl_->items[size_t(index)]);
}

Index Indexes::Item(const std::string& name) const {
    impl_->table->LoadFromSchema();
    for (const auto& x : impl_->items)
        if (EqualsNoCase(x->name, name)) return Index(x);
    Raise(3265);
}

void Indexes::Append(const Index& index) {
    auto& x = index.impl();
    if (!x) Raise(91);
    if (x->appended) Raise(3367);
    if (x->name.empty()) Raise(3001);
    if (x->fieldsImpl.items.empty()) throw DaoError(3264, "No field defined--cannot append TableDef or Index.");
    TableDefImpl* t = impl_->table;
    if (!t->appended) {
        for (const auto& y : impl_->items) {
            if (EqualsNoCase(y->name, x->name)) Raise(3367);
            if (x->primary && y->primary) Raise(3283);
        }
        impl_->items.push_back(x);
        return;
    }
    std::vector<std::pair<std::string, bool>> cols;
    for (const auto& f : x->fieldsImpl.items) cols.emplace_back(f->name, (f->attributes & 1) != 0);
    t->Lock()->CreateIndex(t->name, x->name, cols, x->unique, x->primary);
    x->appended = true;
    t->loadedGen = ~uint64_t(0);
}

// ------------------------------------------------------------------ TableDef

TableDef::TableDef() = default;
TableDef::TableDef(std::shared_ptr<TableDefImpl> impl) : impl_(std::move(impl)) {}

std::string TableDef::Name() const { return T(impl_).name; }

void TableDef::SetName(const std::string& name) {
    TableDefImpl& t = T(impl_);
    if (!t.appended) {
        t.name = name;
        return;
    }
    auto c = t.Lock();
    c->CheckWritable();
    if (EqualsNoCase(t.name, name) && t.name == name) return;
    detail::Core::CheckNewTableName(name);
    if ((c->LocalTableExists(name) || c->FindLink(name)) && !EqualsNoCase(name, t.name)) Raise(3010, name);
    if (Link* l = c->FindLink(t.name)) {
        sqlite3_stmt* st = c->Prepare("UPDATE MSysLinks SET Name = ?1 WHERE Name = ?2");
        sqlite3_bind_text(st, 1, name.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(st, 2, t.name.c_str(), -1, SQLITE_TRANSIENT);
        int rc = sqlite3_step(st);
        sqlite3_finalize(st);
        if (rc != SQLITE_DONE) RaiseSqlite(c->db, rc);
        if (sqlite3_changes(c->db) == 0) Raise(3265);
        l->name = name;
    } else {
        c->SuspendStreams();
        c->Exec("ALTER TABLE " + QuoteIdent(t.name) + " RENAME TO " + QuoteIdent(name));
    }
    t.name = name;
    c->Changed(true);
}

long TableDef::Attributes() const {
    TableDefImpl& t = T(impl_);
    return t.attributes;
}

std::string TableDef::Connect() const { return T(impl_).connect; }

void TableDef::SetConnect(const std::string& connect) {
    TableDefImpl& t = T(impl_);
    if (t.appended && t.connect.empty()) Raise(3219);
    t.connect = connect;
}

std::string TableDef::SourceTableName() const { return T(impl_).sourceTable; }

std::string TableDef::LinkedFile() const {
    const TableDefImpl& t = T(impl_);
    if (t.connect.empty() || UpperUtf8(t.connect).rfind("ODBC;", 0) == 0) return "";
    return t.Lock()->LinkPath(t.connect);
}

void TableDef::RefreshLink() {
    TableDefImpl& t = T(impl_);
    auto c = t.Lock();
    Link* l = t.appended ? c->FindLink(t.name) : nullptr;
    if (!l) Raise(3219);
    c->CheckWritable();
    Link trial = *l;
    trial.connect = t.connect;
    c->AttachLink(trial);
    if (trial.error && trial.error != 3151) {
        if (trial.error == 3078) Raise(3011, trial.source);
        RaiseLink(trial);
    }
    sqlite3_stmt* st = c->Prepare("UPDATE MSysLinks SET Connect = ?1 WHERE Name = ?2");
    sqlite3_bind_text(st, 1, trial.connect.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(st, 2, t.name.c_str(), -1, SQLITE_TRANSIENT);
    int rc = sqlite3_step(st);
    sqlite3_finalize(st);
    if (rc != SQLITE_DONE) RaiseSqlite(c->db, rc);
    if (sqlite3_changes(c->db) == 0) Raise(3265);
    *l = trial;
    c->Changed(true);
    t.attributes = (t.attributes & ~long(dbAttachedODBC | dbAttachedTable)) |
                   (UpperUtf8(trial.connect).rfind("ODBC;", 0) == 0 ? dbAttachedODBC : dbAttachedTable);
    if (trial.error) RaiseLink(trial);
}

long TableDef::RecordCount() const {
    TableDefImpl& t = T(impl_);
    if (!t.appended) return 0;
    auto c = t.Lock();
    if (c->FindLink(t.name)) return -1;
    if (c->odbc) c->FillOdbcTable(t.name);
    sqlite3_stmt* st = c->Prepare("SELECT count(*) FROM " + QuoteIdent(t.name));
    long n = 0;
    int rc = sqlite3_step(st);
    if (rc == SQLITE_ROW) n = long(sqlite3_column_int64(st, 0));
    sqlite3_finalize(st);
    if (rc != SQLITE_ROW) RaiseSqlite(c->db, rc, t.name);
    return n;
}

std::string TableDef::ComputedPart() const {
    TableDefImpl& t = T(impl_);
    auto c = t.Lock();
    if (!t.appended || !t.connect.empty()) return "";
    return c->Info("main", t.name).computed;
}

dao::Fields& TableDef::Fields() { return T(impl_).fields; }
dao::Indexes& TableDef::Indexes() { return T(impl_).indexes; }

dao::Field TableDef::CreateField(const std::string& name, short type, long size) {
    T(impl_);
    return dao::Field(name, type, size);
}

dao::Index TableDef::CreateIndex(const std::string& name) {
    T(impl_);
    auto x = std::make_shared<IndexImpl>();
    x->name = name;
    return dao::Index(x);
}

std::shared_ptr<Recordset> TableDef::OpenRecordset(RecordsetType type, int options) {
    TableDefImpl& t = T(impl_);
    if (!t.appended) Raise(3219);
    auto c = t.Lock();
    auto cur = OpenCursor(c, "[" + t.name + "]", type, options);
    auto impl = std::make_unique<RecordsetImpl>();
    impl->cursor = cur;
    return std::make_shared<Recordset>(std::move(impl));
}

}  // namespace dao
