// Text keys in the files we write, seen by SQLite itself: indexes in the order
// its own NOCASE gives, files of ours reordered, other programs' files left as
// they are, stale linked files refused.
#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <optional>
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

// Refused before anything is written, whatever its journal, and nothing left beside it.
TEST(DaoStoredOrder, FileOfANewerVersionIsRefusedUnchanged) {
    TempDir dir;
    for (const std::string journal : {"wal", "delete"}) {
        SCOPED_TRACE(journal);
        const std::string path = dir.File("new-" + journal + ".txp");
        dao::DBEngine::CreateDatabase(path, dao::dbLangGeneral)->Close();
        Raw(path, "PRAGMA journal_mode = " + journal + "; PRAGMA user_version = 4; CREATE TABLE Later (X TEXT);", false);
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
            EXPECT_TRUE(Bytes(path) == before) << "read-only " << readOnly;
            for (const char* beside : {"-wal", "-shm", "-journal", ".lck"})
                EXPECT_FALSE(std::filesystem::exists(path + beside)) << beside << ", read-only " << readOnly;
        }
    }
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

namespace {

using Value = std::optional<std::string>;

// Value sets where a second way of comparing text would show: the signs between
// the two cases of the ASCII letters, letters beyond ASCII in two cases, sharp s,
// Greek and Cyrillic, pairs equal under folding, Null and empty text.
const std::vector<std::vector<Value>> kValueSets = {
    {"ab", "AB", "a[", "a\\", "a]", "a^", "a_", "a`", "aZ", "az", "a{", "A_", "[q", "_c3"},
    {"\xC3\xA9" "clair", "\xC3\x89" "clair", "\xC3\x89" "CLAIR", "eclair", "ECLAIR", "\xC3\xA9" "mile", "Z\xC3\xBCrich",
     "Z\xC3\x9CRICH", "z\xC3\xBCrich"},
    {"stra\xC3\x9F" "e", "STRASSE", "Stra\xC3\x9F" "e", "\xCE\xB1\xCE\xB2\xCE\xB3", "\xCE\x91\xCE\x92\xCE\x93",
     "\xD0\x9C\xD0\xBE\xD1\x81\xD0\xBA\xD0\xB2\xD0\xB0", "\xD0\x9C\xD0\x9E\xD0\xA1\xD0\x9A\xD0\x92\xD0\x90",
     "\xD0\xBC\xD0\xBE\xD1\x81\xD0\xBA\xD0\xB2\xD0\xB0"},
    {std::nullopt, "", " ", "a", "A", std::nullopt, "b1", "B1", "\xC3\xA9" "1", "\xC3\x89" "1"},
};

long Count(dao::Database& db, const std::string& sql) {
    auto rs = db.OpenRecordset(sql, dao::RecordsetType::Snapshot);
    long n = 0;
    for (; !rs->Eof(); rs->MoveNext()) ++n;
    return n;
}

com::Variant First(dao::Database& db, const std::string& sql) {
    auto rs = db.OpenRecordset(sql, dao::RecordsetType::Snapshot);
    return rs->Eof() ? com::Variant() : rs->Fields(0).Value();
}

std::string Quoted(const std::string& s) { return "'" + s + "'"; }

bool Equal(const std::string& a, const std::string& b) { return dao::CompareText(a, b) == 0; }

// Every operator, clause and lookup of the layer over one table T (Id, V)
// against the comparison itself, counted by hand.
void ExpectEveryOperatorAgrees(dao::Database& db, const std::vector<Value>& values, bool tableType) {
    std::vector<std::string> texts;
    for (const Value& v : values)
        if (v) texts.push_back(*v);
    auto count = [&](auto pred) { return long(std::count_if(texts.begin(), texts.end(), pred)); };
    std::vector<std::string> sorted = texts;
    std::stable_sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) { return dao::CompareText(a, b) < 0; });
    long classes = 0;
    for (size_t i = 0; i < sorted.size(); ++i) classes += i == 0 || !Equal(sorted[i - 1], sorted[i]);
    const long nulls = long(values.size() - texts.size());

    for (const std::string& y : texts) {
        SCOPED_TRACE("probe '" + y + "'");
        const long eq = count([&](const std::string& x) { return Equal(x, y); });
        const long lt = count([&](const std::string& x) { return dao::CompareText(x, y) < 0; });
        const std::string where = "SELECT Id FROM T WHERE ";
        EXPECT_EQ(Count(db, where + "V = " + Quoted(y)), eq);
        EXPECT_EQ(Count(db, where + Quoted(y) + " = V"), eq);
        EXPECT_EQ(Count(db, where + "V IN (" + Quoted(y) + ")"), eq);
        EXPECT_EQ(Count(db, where + "V IN (" + Quoted(y) + ", 'no such value')"), eq);
        EXPECT_EQ(Count(db, where + "V <> " + Quoted(y)), long(texts.size()) - eq);
        EXPECT_EQ(Count(db, where + "V < " + Quoted(y)), lt);
        EXPECT_EQ(Count(db, where + "V <= " + Quoted(y)), lt + eq);
        EXPECT_EQ(Count(db, where + "V BETWEEN " + Quoted(y) + " AND " + Quoted(y)), eq);
        const std::string trimmed = y.find_first_not_of(' ') == std::string::npos ? "" : y;
        EXPECT_EQ(Count(db, where + "V = Trim(' " + y + " ')"),
                  count([&](const std::string& x) { return Equal(x, trimmed); }));
        if (!y.empty() && static_cast<unsigned char>(y[0]) < 0x80) {
            EXPECT_EQ(Count(db, where + "V = " + Quoted(y.substr(0, 1)) + " & " + Quoted(y.substr(1))), eq);
        }
        if (y.find_first_of("*?#[") == std::string::npos) {
            EXPECT_EQ(Count(db, where + "V Like " + Quoted(y)), eq);
        }
        if (tableType) {
            auto table = db.OpenRecordset("T", dao::RecordsetType::Table);
            table->SetIndex("ByValue");
            table->Seek("=", com::Variant::Str(y));
            auto dynaset = db.OpenRecordset("SELECT V FROM T", dao::RecordsetType::Dynaset);
            dynaset->FindFirst("V = " + Quoted(y));
            EXPECT_EQ(table->NoMatch(), eq == 0);
            EXPECT_EQ(dynaset->NoMatch(), eq == 0);
            if (!table->NoMatch()) {
                EXPECT_TRUE(Equal(table->Fields("V").AsString(), y));
            }
        }
    }
    // Lists written in another letter case find what each of their values finds.
    std::string upper;
    for (const std::string& y : texts) {
        std::string u = y;
        for (char& c : u) c = char(std::toupper(static_cast<unsigned char>(c)));
        upper += (upper.empty() ? "" : ", ") + Quoted(u);
    }
    if (!upper.empty()) {
        EXPECT_EQ(Count(db, "SELECT Id FROM T WHERE V IN (" + upper + ")"),
                  count([&](const std::string& x) {
                      return std::any_of(texts.begin(), texts.end(), [&](const std::string& y) {
                          std::string u = y;
                          for (char& c : u) c = char(std::toupper(static_cast<unsigned char>(c)));
                          return Equal(x, u);
                      });
                  }));
    }

    EXPECT_EQ(Count(db, "SELECT DISTINCT V FROM T WHERE V Is Not Null"), classes);
    EXPECT_EQ(Count(db, "SELECT V FROM T WHERE V Is Not Null GROUP BY V"), classes);
    EXPECT_EQ(Count(db, "SELECT V FROM (SELECT V FROM T WHERE V Is Not Null) AS S GROUP BY V"), classes);
    EXPECT_EQ(Count(db, "SELECT V FROM T UNION SELECT V FROM T"), classes + (nulls > 0));
    EXPECT_EQ(First(db, "SELECT Count(DISTINCT V) FROM T").ToI4(), classes);
    long pairsEqual = 0, pairsBelow = 0;
    for (const auto& a : texts)
        for (const auto& b : texts) {
            pairsEqual += Equal(a, b);
            pairsBelow += dao::CompareText(a, b) < 0;
        }
    EXPECT_EQ(Count(db, "SELECT A.Id FROM T AS A, T AS B WHERE A.V = B.V"), pairsEqual);
    EXPECT_EQ(Count(db, "SELECT A.Id FROM T AS A INNER JOIN T AS B ON A.V = B.V"), pairsEqual);
    EXPECT_EQ(Count(db, "SELECT A.Id FROM T AS A, T AS B WHERE A.V < B.V"), pairsBelow);
    if (texts.empty()) return;
    for (const char* sql : {"SELECT V FROM T WHERE V Is Not Null ORDER BY V",
                            "SELECT V FROM (SELECT V FROM T) AS S WHERE V Is Not Null ORDER BY V",
                            "SELECT V & '' AS W FROM T WHERE V Is Not Null ORDER BY V & ''"}) {
        SCOPED_TRACE(sql);
        auto rs = db.OpenRecordset(sql, dao::RecordsetType::Snapshot);
        for (const std::string& expected : sorted) {
            ASSERT_FALSE(rs->Eof());
            EXPECT_TRUE(Equal(rs->Fields(0).AsString(), expected)) << rs->Fields(0).AsString() << " for " << expected;
            rs->MoveNext();
        }
        EXPECT_TRUE(rs->Eof());
    }
    EXPECT_TRUE(Equal(dao::VarToString(First(db, "SELECT Min(V) FROM T")), sorted.front()));
    EXPECT_TRUE(Equal(dao::VarToString(First(db, "SELECT Max(V) FROM T")), sorted.back()));
    EXPECT_TRUE(Equal(dao::VarToString(First(db, "SELECT Min(V & '') FROM T")), sorted.front()));
}

}  // namespace

// Our own table (NOCASE in its schema) and a linked source that declares its
// text case-sensitive: one comparison for both, and a file stock SQLite checks.
TEST(DaoOneComparison, EveryOperatorAgreesWithTheComparison) {
    for (size_t set = 0; set < kValueSets.size(); ++set) {
        SCOPED_TRACE("value set " + std::to_string(set));
        const std::vector<Value>& values = kValueSets[set];
        TempDir dir;
        const std::string own = dir.File("own.txp");
        const std::string source = dir.File("source.db");
        std::string rows;
        for (size_t i = 0; i < values.size(); ++i)
            rows += (i ? ", (" : "(") + std::to_string(i + 1) + ", " + (values[i] ? Quoted(*values[i]) : "NULL") + ")";
        Raw(source, "CREATE TABLE Src (Id INTEGER PRIMARY KEY, V TEXT); INSERT INTO Src VALUES " + rows + ";", false);
        {
            auto db = dao::DBEngine::CreateDatabase(own, dao::dbLangGeneral);
            db->Execute("CREATE TABLE T (Id LONG CONSTRAINT PrimaryKey PRIMARY KEY, V TEXT(50));");
            db->Execute("CREATE INDEX ByValue ON T (V);");
            for (size_t i = 0; i < values.size(); ++i)
                db->Execute("INSERT INTO T (Id, V) VALUES (" + std::to_string(i + 1) + ", " +
                            (values[i] ? Quoted(*values[i]) : "NULL") + ");");
            {
                SCOPED_TRACE("own table");
                ExpectEveryOperatorAgrees(*db, values, true);
            }
            db->Close();
        }
        EXPECT_EQ(IntegrityCheck(own), "ok");
        auto project = dao::DBEngine::CreateDatabase(dir.File("linked.txp"), dao::dbLangGeneral);
        project->TableDefs().Append(project->CreateTableDef("T", 0, "Src", ";DATABASE=" + source));
        SCOPED_TRACE("linked case-sensitive source");
        ExpectEveryOperatorAgrees(*project, values, false);
    }
}
