// Text keys in the files we write, seen by SQLite itself: indexes in the order
// its own NOCASE gives, files of ours reordered, other programs' files left as
// they are, stale linked files refused.
#include <sqlite3.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "IntegrityCheck.h"
#include "OldFolding.h"
#include "fixture.h"

using namespace daotest;
using testsupport::IntegrityCheck;

namespace {

// Keys that SQLite's NOCASE and our folding order differently.
const std::vector<std::string> kKeys = {"ab_1", "abc", "AB_2", "ab[", "ab^", "ab\\", "ab`", "ab]",
                                        "\xC3\xA9t\xC3\xA9", "\xC3\x89TAGE", "_x", "zz"};

void Raw(const std::string& path, const std::string& sql, bool oldCollation) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    if (oldCollation) testsupport::UseOldNocase(db);
    char* err = nullptr;
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err), SQLITE_OK) << sql << ": " << (err ? err : "");
    sqlite3_free(err);
    sqlite3_close(db);
}

int Pragma(const std::string& path, const char* name = "user_version") {
    sqlite3* db = nullptr;
    sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, (std::string("PRAGMA ") + name).c_str(), -1, &st, nullptr);
    const int v = sqlite3_step(st) == SQLITE_ROW ? sqlite3_column_int(st, 0) : -1;
    sqlite3_finalize(st);
    sqlite3_close(db);
    return v;
}

// A table T of the keys, written through the database layer.
void MakeKeys(dao::Database& db) {
    db.Execute("CREATE TABLE T (K TEXT(20) CONSTRAINT PrimaryKey PRIMARY KEY, V SHORT);");
    for (const auto& k : kKeys) db.Execute("INSERT INTO T (K, V) VALUES ('" + k + "', 0);");
}

// Each key found by an equality, all of them by one IN list.
void ExpectEveryKeyFound(dao::Database& db) {
    std::string all;
    for (const auto& k : kKeys) {
        db.Execute("UPDATE T SET V = 1 WHERE K = '" + k + "';");
        EXPECT_EQ(db.RecordsAffected(), 1) << k;
        all += (all.empty() ? "'" : ", '") + k + "'";
    }
    db.Execute("UPDATE T SET V = 2 WHERE K IN (" + all + ");");
    EXPECT_EQ(db.RecordsAffected(), long(kKeys.size()));
}

std::string Bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
}

const char* const kOldTable =
    "CREATE TABLE T (K TEXT(20) COLLATE NOCASE NOT NULL, V SHORT, CONSTRAINT PrimaryKey PRIMARY KEY (K)); "
    "INSERT INTO T VALUES ('ab_1',0),('abc',0),('AB_2',0),('ab[',0),('ab^',0),('ab\\',0),('ab`',0),('ab]',0),"
    "('\xC3\xA9t\xC3\xA9',0),('\xC3\x89TAGE',0),('_x',0),('zz',0);";

}  // namespace

TEST(DaoStoredOrder, FilesPassSqlitesOwnCheckAndSortAsItDoes) {
    TempDir dir;
    const std::string path = dir.File("keys.txp");
    {
        auto db = dao::DBEngine::CreateDatabase(path, dao::dbLangGeneral);
        MakeKeys(*db);
        // What a person sees sorted is in the one order, "_" before the letters.
        auto rs = db->OpenRecordset("SELECT K FROM T ORDER BY K", dao::RecordsetType::Snapshot);
        std::string previous;
        for (; !rs->Eof(); rs->MoveNext()) {
            const std::string k = rs->Fields(0).AsString();
            EXPECT_LT(dao::CompareText(previous, k), 0) << previous << " before " << k;
            previous = k;
        }
        // Equality ignores the case of A to Z only.
        rs = db->OpenRecordset("SELECT COUNT(*) FROM T WHERE K = 'ABC' OR K = '\xC3\x89T\xC3\x89' OR K = 'ZZ'",
                               dao::RecordsetType::Snapshot);
        EXPECT_EQ(rs->Fields(0).AsLong(), 2);
        db->Close();
    }
    EXPECT_EQ(IntegrityCheck(path), "ok");
    // After the stock library rebuilds the indexes, every key is still found.
    Raw(path, "VACUUM; REINDEX;", false);
    auto db = dao::DBEngine::OpenDatabase(path, false, false);
    ExpectEveryKeyFound(*db);
    db->Close();
    EXPECT_EQ(IntegrityCheck(path), "ok");
}

TEST(DaoStoredOrder, FileOfOursIsReorderedWhenOpenedWritableWhateverItsVersionSays) {
    TempDir dir;
    const std::string path = dir.File("old.txp");
    dao::DBEngine::CreateDatabase(path, dao::dbLangGeneral)->Close();
    EXPECT_EQ(Pragma(path), 3);
    EXPECT_EQ(Pragma(path, "application_id"), 0x54585031);
    // A file as an earlier version wrote it: its index in the old order.
    Raw(path, std::string("PRAGMA user_version = 1; ") + kOldTable, true);
    ASSERT_NE(IntegrityCheck(path), "ok");
    dao::DBEngine::OpenDatabase(path, false, true)->Close();
    EXPECT_EQ(Pragma(path), 1) << "a read-only open writes nothing";
    {
        auto db = dao::DBEngine::OpenDatabase(path, false, false);
        EXPECT_EQ(db->FileVersion(), 1);
        ExpectEveryKeyFound(*db);
        db->Close();
    }
    EXPECT_EQ(IntegrityCheck(path), "ok");
    EXPECT_EQ(Pragma(path), 3);
    // Put out of order again by an older build, its version untouched: found at the next writable open.
    Raw(path, "REINDEX", true);
    ASSERT_NE(IntegrityCheck(path), "ok");
    {
        auto db = dao::DBEngine::OpenDatabase(path, false, false);
        EXPECT_TRUE(db->IndexesInOrder("T"));
        ExpectEveryKeyFound(*db);
    }
    EXPECT_EQ(IntegrityCheck(path), "ok");
}

TEST(DaoStoredOrder, AnotherProgramsFileKeepsItsVersionAndIndexes) {
    TempDir dir;
    const std::string path = dir.File("theirs.db");
    // Their own schema version 1, and an index their own NOCASE ordered.
    Raw(path, std::string("PRAGMA user_version = 1; ") + kOldTable, true);
    {
        auto db = dao::DBEngine::OpenDatabase(path, false, false);
        EXPECT_EQ(db->FileVersion(), 0);
        db->Close();
    }
    EXPECT_EQ(Pragma(path), 1);
    EXPECT_EQ(Pragma(path, "application_id"), 0);
    EXPECT_NE(IntegrityCheck(path), "ok") << "their index was rebuilt";
}

TEST(DaoStoredOrder, FileOfANewerVersionIsRefusedUnchanged) {
    TempDir dir;
    const std::string path = dir.File("new.txp");
    dao::DBEngine::CreateDatabase(path, dao::dbLangGeneral)->Close();
    Raw(path, "PRAGMA user_version = 4; CREATE TABLE Later (X TEXT);", false);
    const std::string before = Bytes(path);
    for (const bool readOnly : {true, false}) {
        try {
            dao::DBEngine::OpenDatabase(path, false, readOnly);
            ADD_FAILURE() << "a file of a newer version was opened";
        } catch (const dao::DaoError& e) {
            EXPECT_EQ(e.Number(), 3860);
            EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
            EXPECT_NE(std::string(e.what()).find("newer version"), std::string::npos) << e.what();
        }
    }
    EXPECT_TRUE(Bytes(path) == before);
}

TEST(DaoStoredOrder, OldLinkedFileWithStaleTextIndexIsRefused) {
    TempDir dir;
    const std::string data = dir.File("data.mdb");
    dao::DBEngine::CreateDatabase(data, dao::dbLangGeneral)->Close();
    Raw(data,
        "PRAGMA user_version = 1; CREATE TABLE Stale (K TEXT(20) COLLATE NOCASE PRIMARY KEY); "
        "INSERT INTO Stale VALUES ('ab_1'),('abc'),('AB_2'),('ab['),('ab^'),('zz'); "
        "CREATE TABLE Letters (K TEXT(20) COLLATE NOCASE PRIMARY KEY); INSERT INTO Letters VALUES ('abc'),('Abd'),('b');",
        true);
    auto db = dao::DBEngine::CreateDatabase(dir.File("p.txp"), dao::dbLangGeneral);
    try {
        db->TableDefs().Append(db->CreateTableDef("L", 0, "Stale", ";DATABASE=" + data));
        auto probe = db->OpenRecordset("SELECT COUNT(*) FROM L", dao::RecordsetType::Snapshot);
        ADD_FAILURE() << "a link through an index out of order was taken";
    } catch (const dao::DaoError& e) {
        EXPECT_EQ(e.Number(), 3049);
        EXPECT_NE(std::string(e.what()).find(data), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("REINDEX"), std::string::npos) << e.what();
    }
    // Keys that both orders agree on are read as they are.
    db->TableDefs().Append(db->CreateTableDef("Good", 0, "Letters", ";DATABASE=" + data));
    auto rs = db->OpenRecordset("SELECT COUNT(*) FROM Good WHERE K = 'ABD'", dao::RecordsetType::Snapshot);
    EXPECT_EQ(rs->Fields(0).AsLong(), 1);
    rs->Close();
    // Once the file's indexes are rebuilt elsewhere, it links and every key is found.
    Raw(data, "REINDEX", false);
    db->TableDefs().Append(db->CreateTableDef("L", 0, "Stale", ";DATABASE=" + data));
    rs = db->OpenRecordset("SELECT COUNT(*) FROM L WHERE K IN ('AB_1', 'abc', 'ab_2', 'AB[', 'ab^', 'ZZ')",
                           dao::RecordsetType::Snapshot);
    EXPECT_EQ(rs->Fields(0).AsLong(), 6);
}

TEST(DaoStoredOrder, RecordsetEditOfARowGoneUnderItIsRefused) {
    TempDir dir;
    const std::string path = dir.File("gone.txp");
    auto db = dao::DBEngine::CreateDatabase(path, dao::dbLangGeneral);
    MakeKeys(*db);
    auto rs = db->OpenRecordset("SELECT K, V FROM T ORDER BY K", dao::RecordsetType::Dynaset);
    db->Execute("DELETE FROM T WHERE K = '" + rs->Fields(0).AsString() + "';");
    rs->Edit();
    rs->Fields(1).SetValue(L(5));
    EXPECT_EQ(ErrorOf([&] { rs->Update(); }), 3167);
    EXPECT_EQ(ErrorOf([&] { rs->Delete(); }), 3167);
}
