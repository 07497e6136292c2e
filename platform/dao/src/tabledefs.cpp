// A database's collection of table definitions: its tables and links listed
// from the file, and new ones appended to it.
#include <algorithm>

#include "engine.h"

namespace dao {
using namespace detail;

void TableDefs::Impl::Load(bool force) {
    auto c = core.lock();
    if (!c || c->closed) Raise(3420);
    if (!force && loadedGen == c->schemaGen) return;
    std::vector<std::shared_ptr<TableDefImpl>> fresh;
    auto reuse = [&](const std::string& name) -> std::shared_ptr<TableDefImpl> {
        for (auto& t : items)
            if (t->name == name) return t;
        return std::make_shared<TableDefImpl>();
    };
    sqlite3_stmt* st = c->Prepare("SELECT name FROM main.sqlite_master WHERE type='table' AND name NOT LIKE 'sqlite\\_%' "
                                  "ESCAPE '\\' AND name NOT LIKE '%$rebuild'");
    while (sqlite3_step(st) == SQLITE_ROW) {
        std::string name = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
        auto t = reuse(name);
        t->core = c;
        t->appended = true;
        t->name = name;
        t->connect.clear();
        t->sourceTable.clear();
        t->attributes = UpperUtf8(name).rfind("MSYS", 0) == 0 ? long(dbSystemObject) : 0L;
        t->loadedGen = ~uint64_t(0);
        fresh.push_back(t);
    }
    sqlite3_finalize(st);
    for (const auto& l : c->links) {
        auto t = reuse(l.name);
        t->core = c;
        t->appended = true;
        t->name = l.name;
        t->connect = l.connect;
        t->sourceTable = l.source;
        t->attributes = UpperUtf8(l.connect).rfind("ODBC;", 0) == 0 ? dbAttachedODBC : dbAttachedTable;
        t->attributes |= l.attributes & (dbAttachExclusive | dbAttachSavePWD | dbHiddenObject);
        t->loadedGen = ~uint64_t(0);
        fresh.push_back(t);
    }
    std::stable_sort(fresh.begin(), fresh.end(),
                     [](const auto& a, const auto& b) { return CompareText(a->name, b->name) < 0; });
    items = std::move(fresh);
    loadedGen = c->schemaGen;
}

int TableDefs::Count() const {
    impl_->Load(false);
    return int(impl_->items.size());
}

TableDef TableDefs::Item(int index) const {
    impl_->Load(false);
    if (index < 0 || size_t(index) >= impl_->items.size()) Raise(3265);
    return TableDef(impl_->items[size_t(index)]);
}

TableDef TableDefs::Item(const std::string& name) const {
    impl_->Load(false);
    for (auto& t : impl_->items)
        if (EqualsNoCase(t->name, name)) return TableDef(t);
    Raise(3265);
}

void TableDefs::Refresh() { impl_->Load(true); }

void TableDefs::Delete(const std::string& name) {
    auto c = impl_->core.lock();
    if (!c) Raise(3420);
    if (!c->FindLink(name) && !c->LocalTableExists(name)) Raise(3265);
    c->DropTable(name);
    impl_->Load(true);
}

void TableDefs::Append(const TableDef& tableDef) {
    auto c = impl_->core.lock();
    if (!c) Raise(3420);
    c->CheckWritable();
    auto& t = tableDef.impl();
    if (!t) Raise(91);
    if (t->appended) Raise(3367);
    if (t->name.empty()) Raise(3001);
    Core::CheckNewTableName(t->name);
    if (c->LocalTableExists(t->name) || c->FindLink(t->name)) Raise(3010, t->name);
    if (!t->connect.empty()) {
        // A link: checked now (unless ODBC), stored, and attached.
        Link l;
        l.name = t->name;
        l.connect = t->connect;
        l.source = t->sourceTable.empty() ? t->name : t->sourceTable;
        l.attributes = t->attributes;
        c->AttachLink(l);
        if (l.error && l.error != 3151) {
            if (l.error == 3078) Raise(3011, l.source);
            RaiseLink(l);
        }
        c->Atomically([&] {
            c->EnsureLinkTable();
            sqlite3_stmt* st = c->Prepare("INSERT INTO MSysLinks (Name, Connect, SourceTableName, Attributes) VALUES (?1, ?2, ?3, ?4)");
            sqlite3_bind_text(st, 1, l.name.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(st, 2, l.connect.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(st, 3, l.source.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_int64(st, 4, l.attributes);
            int rc = sqlite3_step(st);
            sqlite3_finalize(st);
            if (rc != SQLITE_DONE) RaiseSqlite(c->db, rc);
        });
        c->links.push_back(l);
        c->Changed(true);
    } else {
        std::vector<ColumnDef> cols;
        std::vector<ConstraintDef> cons;
        for (auto& f : t->fieldsImpl.items) {
            ColumnDef d;
            d.name = f->name;
            d.type = f->type;
            d.size = f->size > 0 ? f->size : DefaultSize(f->type);
            d.autoIncrement = (f->attributes & dbAutoIncrField) != 0;
            d.notNull = f->required;
            cols.push_back(d);
        }
        for (auto& ix : t->indexesImpl.items) {
            ConstraintDef k;
            k.name = ix->name;
            k.primary = ix->primary;
            k.unique = ix->unique && !ix->primary;
            for (auto& f : ix->fieldsImpl.items) k.columns.push_back(f->name);
            if (k.primary) cons.push_back(k);
        }
        c->Atomically([&] {
            c->CreateTable(t->name, cols, cons);
            for (auto& ix : t->indexesImpl.items) {
                if (ix->primary) continue;
                std::vector<std::pair<std::string, bool>> ic;
                for (auto& f : ix->fieldsImpl.items) ic.emplace_back(f->name, false);
                c->CreateIndex(t->name, ix->name, ic, ix->unique, false);
            }
        });
    }
    t->core = c;
    t->appended = true;
    t->loadedGen = ~uint64_t(0);
    impl_->Load(true);
}

}  // namespace dao
