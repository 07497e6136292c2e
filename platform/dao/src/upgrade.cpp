// A file of ours brought to this version when it opens: its version number,
// and its text indexes walked for the order SQLite keeps them in (a linked
// file, only read, is refused instead when they are out of it).
#include <algorithm>
#include <cstring>
#include <mutex>
#include <string_view>

#include "engine.h"
#include "files.h"

namespace dao::detail {

namespace {

// What a file was when its text indexes were last found in order. Walking
// every such index costs a read of it, too much for each of the many opens of
// a session: a file that has not changed since is not walked again.
std::mutex gOrderedMutex;
std::vector<FileStamp> gOrdered;  // one per file: the latest stamp

bool KnownInOrder(const std::string& path) {
    FileStamp now;
    if (!StampOf(path, &now)) return false;
    std::lock_guard<std::mutex> lock(gOrderedMutex);
    return std::find(gOrdered.begin(), gOrdered.end(), now) != gOrdered.end();
}

}  // namespace

void NoteInOrder(const std::string& path) {
    FileStamp now;
    if (!StampOf(path, &now)) return;
    std::lock_guard<std::mutex> lock(gOrderedMutex);
    std::erase_if(gOrdered, [&](const FileStamp& s) { return s.dev == now.dev && s.ino == now.ino; });
    gOrdered.push_back(now);
}

namespace {

// One index entry's column as SQLite orders it: Null, numbers, text, blobs.
struct Cell {
    int type = SQLITE_NULL;
    double number = 0;
    int64_t integer = 0;
    std::string bytes;

    void Read(sqlite3_stmt* st, int i) {
        type = sqlite3_column_type(st, i);
        if (type == SQLITE_INTEGER) integer = sqlite3_column_int64(st, i);
        else if (type == SQLITE_FLOAT) number = sqlite3_column_double(st, i);
        else if (type != SQLITE_NULL) {
            const void* p = type == SQLITE_TEXT ? static_cast<const void*>(sqlite3_column_text(st, i)) : sqlite3_column_blob(st, i);
            bytes.assign(static_cast<const char*>(p ? p : ""), size_t(sqlite3_column_bytes(st, i)));
        }
    }
};

int Rank(int type) { return type == SQLITE_NULL ? 0 : type == SQLITE_INTEGER || type == SQLITE_FLOAT ? 1 : type == SQLITE_TEXT ? 2 : 3; }

int CompareCells(const Cell& a, const Cell& b, bool nocase) {
    if (Rank(a.type) != Rank(b.type)) return Rank(a.type) < Rank(b.type) ? -1 : 1;
    switch (Rank(a.type)) {
    case 0: return 0;
    case 1: {
        if (a.type == SQLITE_INTEGER && b.type == SQLITE_INTEGER) return a.integer < b.integer ? -1 : a.integer > b.integer;
        const long double x = a.type == SQLITE_INTEGER ? (long double)a.integer : a.number;
        const long double y = b.type == SQLITE_INTEGER ? (long double)b.integer : b.number;
        return x < y ? -1 : x > y;
    }
    case 2:
        if (nocase) return CompareUtf8(a.bytes.data(), a.bytes.size(), b.bytes.data(), b.bytes.size());
        [[fallthrough]];
    default: {
        const int c = std::memcmp(a.bytes.data(), b.bytes.data(), std::min(a.bytes.size(), b.bytes.size()));
        if (c != 0) return c < 0 ? -1 : 1;
        return a.bytes.size() < b.bytes.size() ? -1 : a.bytes.size() > b.bytes.size();
    }
    }
}

}  // namespace

// Files of ours from before kFileVersion: version 1 holds NOCASE indexes in
// the order of the upper-case folding of earlier versions, which differs from
// SQLite's for "_", "[" and the like and beyond ASCII, and is reindexed;
// version 2 is in SQLite's order already. Another program's file is left as it
// is: its user_version is its own. A file of a newer version is refused, as
// this version cannot know what that one changed.
void Core::UpgradeOwnFile() {
    const int version = UserVersion("main");
    const int id = Pragma("application_id");
    if (id != kApplicationId && !(id == 0 && version >= kFileVersionOldIndexes && version <= kFileVersionTwoComparisons &&
                                  OldProject()))
        return;
    if (version > kFileVersion) Raise(kNewerFile, path);
    formerVersion = version;
    // A guest (a file an export adds its table to) is changed in nothing else.
    if (!OwnFile(*this) || (version == kFileVersion && id == kApplicationId)) return;
    Atomically([&] {
        if (version <= kFileVersionOldIndexes) Exec("REINDEX NOCASE");
        Exec("PRAGMA application_id = " + std::to_string(kApplicationId));
        Exec("PRAGMA user_version = " + std::to_string(kFileVersion));
    });
}

// Projects of earlier versions carried no application id: they are known by
// their settings and field tables.
bool Core::OldProject() {
    sqlite3_stmt* st = Prepare("SELECT count(*) FROM main.sqlite_master WHERE type = 'table' AND "
                               "name IN ('Config', 'FieldConfig') COLLATE NOCASE");
    const bool both = sqlite3_step(st) == SQLITE_ROW && sqlite3_column_int(st, 0) == 2;
    sqlite3_finalize(st);
    return both;
}

int Core::Pragma(const char* name) {
    sqlite3_stmt* st = Prepare(std::string("PRAGMA main.") + name);
    const int rc = sqlite3_step(st);
    const int value = rc == SQLITE_ROW ? sqlite3_column_int(st, 0) : 0;
    sqlite3_finalize(st);
    if (rc != SQLITE_ROW) RaiseSqlite(db, rc);
    return value;
}

// An index under NOCASE that another build wrote in another order (an earlier
// version, whatever the file's user_version says) would let lookups miss rows
// without a word: each is walked in its stored order, and rebuilt when two
// neighbours stand the wrong way round.
void Core::RepairTextIndexOrder() {
    orderChecked = true;
    if (KnownInOrder(path)) return;
    std::vector<std::string> broken;
    std::vector<std::pair<std::string, std::string>> indexes;  // table, index
    {
        sqlite3_stmt* st = Prepare("SELECT m.name, il.name FROM main.sqlite_master AS m, pragma_index_list(m.name) AS il "
                                   "WHERE m.type = 'table' AND m.name NOT LIKE 'sqlite\\_%' ESCAPE '\\'");
        while (sqlite3_step(st) == SQLITE_ROW)
            indexes.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)),
                                 reinterpret_cast<const char*>(sqlite3_column_text(st, 1)));
        sqlite3_finalize(st);
    }
    for (const auto& [table, index] : indexes)
        if (!IndexInOrder(table, index)) broken.push_back(index);
    if (!broken.empty())
        Atomically([&] {
            for (const auto& index : broken) Exec("REINDEX main." + QuoteIdent(index));
        });
}

bool Core::IndexInOrder(const std::string& table, const std::string& index) {
    std::vector<std::string> columns;
    std::vector<char> nocase, descending;
    std::string list, order;
    {
        sqlite3_stmt* st = Prepare("SELECT name, coll, desc FROM pragma_index_xinfo(?1, 'main') WHERE key ORDER BY seqno");
        sqlite3_bind_text(st, 1, index.c_str(), -1, SQLITE_TRANSIENT);
        while (sqlite3_step(st) == SQLITE_ROW) {
            const unsigned char* name = sqlite3_column_text(st, 0);
            const unsigned char* coll = sqlite3_column_text(st, 1);
            if (!name || !coll) {  // an expression: not ours, and no order of ours to check
                sqlite3_finalize(st);
                return true;
            }
            const std::string column = QuoteIdent(reinterpret_cast<const char*>(name));
            columns.push_back(column);
            nocase.push_back(EqualsNoCase(reinterpret_cast<const char*>(coll), "NOCASE"));
            descending.push_back(char(sqlite3_column_int(st, 2) != 0));
            list += (list.empty() ? "" : ", ") + column;
            order += (order.empty() ? "" : ", ") + column + " COLLATE " + reinterpret_cast<const char*>(coll) +
                     (descending.back() ? " DESC" : "");
        }
        sqlite3_finalize(st);
    }
    if (std::find(nocase.begin(), nocase.end(), char(1)) == nocase.end()) return true;
    // The index answers in its stored order: it delivers the ORDER BY itself.
    sqlite3_stmt* st = Prepare("SELECT " + list + " FROM main." + QuoteIdent(table) + " INDEXED BY " + QuoteIdent(index) +
                               " ORDER BY " + order);
    std::vector<Cell> previous(columns.size()), current(columns.size());
    bool first = true, inOrder = true;
    int rc = SQLITE_DONE;
    while (inOrder && (rc = sqlite3_step(st)) == SQLITE_ROW) {
        for (size_t i = 0; i < columns.size(); ++i) current[i].Read(st, int(i));
        for (size_t i = 0; !first && i < columns.size(); ++i) {
            const int c = CompareCells(previous[i], current[i], nocase[i]) * (descending[i] ? -1 : 1);
            if (c != 0) {
                inOrder = c < 0;
                break;
            }
        }
        first = false;
        std::swap(previous, current);
    }
    sqlite3_finalize(st);
    if (inOrder && rc != SQLITE_DONE) RaiseSqlite(db, rc, path);
    return inOrder;
}

int Core::UserVersion(const std::string& schema) {
    sqlite3_stmt* st = Prepare("PRAGMA " + QuoteIdent(schema) + ".user_version");
    int rc = sqlite3_step(st);
    const int version = rc == SQLITE_ROW ? sqlite3_column_int(st, 0) : 0;
    sqlite3_finalize(st);
    if (rc != SQLITE_ROW) RaiseSqlite(db, rc);
    return version;
}

// A linked file of ours from before kFileVersion is only read, so its indexes
// cannot be rebuilt. When a text index of the linked table holds a key that the
// two orders place differently and SQLite finds the index out of order, the link
// is refused: lookups through it would miss rows without a word.
bool Core::StaleTextIndexes(const std::string& schema, const std::string& table) {
    if (UserVersion(schema) != kFileVersionOldIndexes) return false;
    std::vector<std::string> columns;
    {
        sqlite3_stmt* list = Prepare("SELECT il.name FROM pragma_index_list(?1, ?2) AS il");
        sqlite3_bind_text(list, 1, table.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(list, 2, schema.c_str(), -1, SQLITE_TRANSIENT);
        std::vector<std::string> indexes;
        while (sqlite3_step(list) == SQLITE_ROW)
            indexes.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(list, 0)));
        sqlite3_finalize(list);
        for (const auto& ix : indexes) {
            sqlite3_stmt* info = Prepare("SELECT name FROM pragma_index_xinfo(?1, ?2) WHERE key AND name IS NOT NULL "
                                         "AND coll = 'NOCASE' COLLATE NOCASE");
            sqlite3_bind_text(info, 1, ix.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(info, 2, schema.c_str(), -1, SQLITE_TRANSIENT);
            while (sqlite3_step(info) == SQLITE_ROW)
                columns.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(info, 0)));
            sqlite3_finalize(info);
        }
    }
    if (columns.empty()) return false;
    std::string where;
    for (const auto& c : columns) where += (where.empty() ? "" : " OR ") + std::string("dao_refolds(") + QuoteIdent(c) + ")";
    sqlite3_stmt* risky = Prepare("SELECT 1 FROM " + QuoteIdent(schema) + "." + QuoteIdent(table) + " WHERE " + where +
                                  " LIMIT 1");
    const bool any = sqlite3_step(risky) == SQLITE_ROW;
    sqlite3_finalize(risky);
    if (!any) return false;
    sqlite3_stmt* check = Prepare("PRAGMA " + QuoteIdent(schema) + ".integrity_check(" + QuoteIdent(table) + ")");
    bool ok = sqlite3_step(check) == SQLITE_ROW && std::string_view(reinterpret_cast<const char*>(
                                                       sqlite3_column_text(check, 0))) == "ok";
    sqlite3_finalize(check);
    return !ok;
}

}  // namespace dao::detail
