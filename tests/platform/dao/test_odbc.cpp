// ODBC sources: opened and linked read-only through unixODBC, on the SQLite
// ODBC driver with a DSN made per test, and on a PostgreSQL server the test
// starts in a scratch folder.
#include <dlfcn.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <glob.h>

#include "PgServer.h"
#include "SmallDisk.h"
#include "fixture.h"

using namespace daotest;

namespace {

using daotest::kOdbcDir;

// The drivers keep a little memory for the life of the process. They stay
// mapped after the driver manager unloads them, so that the leak check can
// name them and leave their memory out.
const bool kDriversPinned = [] {
    for (const char* lib : {"libsqlite3odbc.so", "psqlodbcw.so"})
        dlopen((std::string(kOdbcDir) + lib).c_str(), RTLD_NOW | RTLD_NODELETE);
    return true;
}();

void Sql(const std::string& file, const std::string& sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
    char* err = nullptr;
    int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err);
    EXPECT_EQ(rc, SQLITE_OK) << (err ? err : "");
    sqlite3_free(err);
    sqlite3_close(db);
}

size_t FilesIn(const std::string& dir) {
    if (!std::filesystem::exists(dir)) return 0;
    size_t n = 0;
    for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(dir)) ++n;
    return n;
}

class OdbcSqlite : public ::testing::Test {
protected:
    TempDir dir;
    std::string source, project, cache;
    void SetUp() override {
        source = dir.File("source.db");
        project = dir.File("p.txp");
        cache = dir.File("cache");
        Sql(source,
            "CREATE TABLE People (Id INTEGER PRIMARY KEY, Name VARCHAR(30), Height DOUBLE, Born DATE, "
            "Member BIT, Notes TEXT);"
            "INSERT INTO People VALUES (1, 'Ann', 1.62, '1980-02-29', 1, 'first');"
            "INSERT INTO People VALUES (2, 'Bob O''Neil', 1.80, '1975-12-31', 0, NULL);"
            "INSERT INTO People VALUES (3, 'Zoë', NULL, NULL, 1, 'Grüße');"
            "CREATE TABLE Other_Table (K INTEGER PRIMARY KEY, V VARCHAR(5));"
            "CREATE TABLE OtherXTable (K INTEGER PRIMARY KEY, V VARCHAR(5), W INTEGER);");
        std::ofstream(dir.File("odbcinst.ini")) << "[Lite]\nDriver=" << kOdbcDir << "libsqlite3odbc.so\n"
                                                << "[Missing]\nDriver=" << dir.File("nolib.so") << "\n";
        std::ofstream(dir.File("odbc.ini")) << "[people]\nDriver=Lite\nDatabase=" << source << "\n"
                                            << "[broken]\nDriver=Missing\nDatabase=" << source << "\n";
        ::setenv("ODBCSYSINI", dir.Path().c_str(), 1);
        ::setenv("ODBCINI", dir.File("odbc.ini").c_str(), 1);
        ::setenv("TESSARY_CACHE", cache.c_str(), 1);
    }
    void TearDown() override {
        ::unsetenv("ODBCSYSINI");
        ::unsetenv("ODBCINI");
        ::unsetenv("TESSARY_CACHE");
    }
};

}  // namespace

extern "C" const char* __lsan_default_suppressions() {
    return "leak:libsqlite3odbc\nleak:psqlodbcw\nleak:libodbc.so\nleak:libpq.so\n";
}

TEST_F(OdbcSqlite, OpenedSourceListsTablesAndReadsTypedRows) {
    auto db = dao::DBEngine::OpenDatabase("", false, true, "ODBC;DSN=people");
    std::vector<std::string> names;
    for (auto td : db->TableDefs())
        if (!(td.Attributes() & dao::dbSystemObject)) names.push_back(td.Name());
    EXPECT_EQ(names.size(), 3u);
    auto people = db->TableDefs()["People"];
    EXPECT_EQ(people.RecordCount(), 3);
    EXPECT_EQ(people.Fields()["Id"].Type(), dao::dbLong);
    EXPECT_EQ(people.Fields()["Name"].Type(), dao::dbText);
    EXPECT_EQ(people.Fields()["Name"].Size(), 30);
    EXPECT_EQ(people.Fields()["Height"].Type(), dao::dbDouble);
    EXPECT_EQ(people.Fields()["Born"].Type(), dao::dbDate);
    bool primary = false;
    for (auto ix : people.Indexes()) primary |= ix.Primary();
    EXPECT_TRUE(primary);
    // "_" in a name is no wildcard: each table keeps its own columns.
    EXPECT_EQ(db->TableDefs()["Other_Table"].Fields().Count(), 2);

    auto rs = db->OpenRecordset("SELECT * FROM People ORDER BY Id", dao::RecordsetType::Snapshot);
    EXPECT_EQ(rs->Fields("Name").AsString(), "Ann");
    EXPECT_DOUBLE_EQ(rs->Fields("Height").AsDouble(), 1.62);
    EXPECT_DOUBLE_EQ(rs->Fields("Born").AsDate(), 29280.0);  // 29 February 1980
    rs->MoveNext();
    EXPECT_EQ(rs->Fields("Name").AsString(), "Bob O'Neil");
    EXPECT_TRUE(rs->Fields("Notes").IsNull());
    rs->MoveNext();
    EXPECT_EQ(rs->Fields("Name").AsString(), "Zoë");
    EXPECT_EQ(rs->Fields("Notes").AsString(), "Grüße");
    EXPECT_TRUE(rs->Fields("Height").IsNull());

    EXPECT_FALSE(db->Updatable());
    EXPECT_EQ(ErrorOf([&] { db->Execute("DELETE FROM People"); }), 3027);
    auto table = db->OpenRecordset("People", dao::RecordsetType::Dynaset);
    EXPECT_EQ(ErrorOf([&] { table->Edit(); }), 3027);
}

// A second connection reads the first one's copy of a link: the same rows
// (a row added to the source since is in neither), by the same keys, so that
// keys read there are taken here; the copy outlives the first connection
// while the second reads it. A link the second used already keeps its own.
TEST_F(OdbcSqlite, ASecondConnectionReadsTheFirstsCopy) {
    const std::string all = "SELECT Id, Name FROM LinkDataSource ORDER BY Id";
    {
        auto p = dao::DBEngine::CreateDatabase(project, dao::dbLangGeneral);
        p->TableDefs().Append(p->CreateTableDef("LinkDataSource", 0, "People", "ODBC;DSN=people"));
        p->TableDefs().Append(p->CreateTableDef("Other", 0, "Other_Table", "ODBC;DSN=people"));
    }
    auto first = dao::DBEngine::OpenDatabase(project, false, true);
    auto rows = first->OpenRecordset(all, dao::RecordsetType::Dynaset);
    EXPECT_EQ(first->OpenRecordset("SELECT COUNT(*) FROM Other", dao::RecordsetType::Snapshot)->Fields(0).AsLong(), 0);
    Sql(source, "INSERT INTO People VALUES (4, 'Dee', 1.70, '2001-01-01', 0, 'later');"
                "INSERT INTO Other_Table VALUES (1, 'x')");
    auto second = dao::DBEngine::OpenDatabase(project, false, true);
    EXPECT_EQ(second->OpenRecordset("SELECT COUNT(*) FROM Other", dao::RecordsetType::Snapshot)->Fields(0).AsLong(), 1);
    second->ShareLinkCopies(*first);
    EXPECT_EQ(FilesIn(cache), 3u) << "the second's own copy of the shared link is gone";
    auto keys = second->OpenRecordset(all, dao::RecordsetType::Dynaset, dao::dbReadOnly);
    ASSERT_TRUE(keys->ReadAllKeys());
    EXPECT_EQ(keys->RecordCount(), 3);
    EXPECT_EQ(second->OpenRecordset("SELECT COUNT(*) FROM Other", dao::RecordsetType::Snapshot)->Fields(0).AsLong(), 1);
    ASSERT_TRUE(rows->TakeKeys(*keys));
    rows->MoveLast();
    EXPECT_EQ(rows->RecordCount(), 3);
    EXPECT_EQ(rows->Fields("Name").AsString(), "Zoë");
    first->Close();
    auto again = second->OpenRecordset(all, dao::RecordsetType::Snapshot);
    again->MoveLast();
    EXPECT_EQ(again->Fields("Id").AsLong(), 3);
    second->Close();
    EXPECT_EQ(FilesIn(cache), 0u);
}

TEST_F(OdbcSqlite, LinkedTableIsASnapshotTakenAtEachOpen) {
    {
        auto p = dao::DBEngine::CreateDatabase(project, dao::dbLangGeneral);
        p->TableDefs().Append(p->CreateTableDef("LinkDataSource", 0, "People", "ODBC;DSN=people"));
        EXPECT_TRUE(p->TableDefs()["LinkDataSource"].Attributes() & dao::dbAttachedODBC);
    }
    Sql(source, "INSERT INTO People VALUES (4, 'Dee', 1.70, '2001-01-01', 0, 'later')");
    {
        auto p = dao::DBEngine::OpenDatabase(project);
        auto n = p->OpenRecordset("SELECT COUNT(*) FROM LinkDataSource", dao::RecordsetType::Snapshot);
        EXPECT_EQ(n->Fields(0).AsLong(), 4);
        auto g = p->OpenRecordset("SELECT Member, COUNT(*) AS N FROM LinkDataSource GROUP BY Member ORDER BY Member",
                                  dao::RecordsetType::Snapshot);
        EXPECT_EQ(g->Fields("N").AsLong(), 2);
        auto k = p->OpenRecordset("SELECT Name FROM LinkDataSource WHERE Id = 2", dao::RecordsetType::Snapshot);
        EXPECT_EQ(k->Fields(0).AsString(), "Bob O'Neil");
        EXPECT_EQ(ErrorOf([&] { p->Execute("UPDATE LinkDataSource SET Name = 'x'"); }), 3027);
        EXPECT_EQ(FilesIn(cache), 1u);
    }
    // The snapshot goes with the connection; the source is untouched.
    EXPECT_EQ(FilesIn(cache), 0u);
    sqlite3* db = nullptr;
    sqlite3_open(source.c_str(), &db);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "SELECT Name FROM People WHERE Id = 2", -1, &st, nullptr);
    ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
    EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)), "Bob O'Neil");
    sqlite3_finalize(st);
    sqlite3_close(db);
}

TEST_F(OdbcSqlite, UnknownSourcesMissingDriversAndTablesGiveNumberedErrors) {
    try {
        dao::DBEngine::OpenDatabase("", false, true, "ODBC;DSN=nowhere");
        FAIL() << "opened an unknown DSN";
    } catch (const dao::DaoError& e) {
        EXPECT_EQ(e.Number(), 3151);
        EXPECT_NE(e.Description().find("nowhere"), std::string::npos) << e.Description();
    }
    EXPECT_EQ(ErrorOf([&] { dao::DBEngine::OpenDatabase("", false, true, "ODBC;DSN=broken"); }), 3151);

    auto p = dao::DBEngine::CreateDatabase(project, dao::dbLangGeneral);
    // A link to a source that cannot be reached now is kept (the source may
    // come back); using it gives the connection error.
    p->TableDefs().Append(p->CreateTableDef("L1", 0, "People", "ODBC;DSN=nowhere"));
    EXPECT_EQ(ErrorOf([&] { p->OpenRecordset("SELECT * FROM L1"); }), 3151);
    // A reachable source without the table refuses the link.
    EXPECT_EQ(ErrorOf([&] {
                  p->TableDefs().Append(p->CreateTableDef("L2", 0, "NoSuchTable", "ODBC;DSN=people"));
              }),
              3011);
    p->Close();
    auto again = dao::DBEngine::OpenDatabase(project);
    for (auto td : again->TableDefs()) EXPECT_NE(td.Name(), "L2");
    EXPECT_EQ(FilesIn(cache), 0u);
}

TEST(OdbcPostgres, LinkReadsARealServerAndSurvivesItsLoss) {
    TempDir dir;
    ::setenv("TESSARY_CACHE", dir.File("cache").c_str(), 1);
    daotest::PgServer pg(dir.File("pg"));
    ASSERT_TRUE(pg.Started()) << "the PostgreSQL server did not start";
    ASSERT_EQ(pg.Psql("CREATE TABLE measures (id integer PRIMARY KEY, label varchar(20), size real, "
                      "weight numeric(8,3), taken timestamp, ok boolean);"
                      "INSERT INTO measures SELECT g, 'item ' || g, g * 0.5, g * 1.25, "
                      "timestamp '2020-01-01 12:30:00' + g * interval '1 day', g % 2 = 0 "
                      "FROM generate_series(1, 500) g;"),
              0);
    std::string project = dir.File("p.txp");
    {
        auto p = dao::DBEngine::CreateDatabase(project, dao::dbLangGeneral);
        p->TableDefs().Append(p->CreateTableDef("LinkDataSource", 0, "measures", pg.Connect()));
    }
    {
        auto p = dao::DBEngine::OpenDatabase(project);
        auto td = p->TableDefs()["LinkDataSource"];
        EXPECT_EQ(td.Fields()["id"].Type(), dao::dbLong);
        EXPECT_EQ(td.Fields()["size"].Type(), dao::dbSingle);
        EXPECT_EQ(td.Fields()["taken"].Type(), dao::dbDate);
        EXPECT_EQ(td.Fields()["ok"].Type(), dao::dbBoolean);
        bool primary = false;
        for (auto ix : td.Indexes()) primary |= ix.Primary();
        EXPECT_TRUE(primary);
        auto rs = p->OpenRecordset("SELECT * FROM LinkDataSource WHERE id = 7", dao::RecordsetType::Snapshot);
        EXPECT_EQ(rs->Fields("label").AsString(), "item 7");
        EXPECT_FLOAT_EQ(rs->Fields("size").AsSingle(), 3.5f);
        EXPECT_DOUBLE_EQ(rs->Fields("weight").AsDouble(), 8.75);
        EXPECT_NEAR(rs->Fields("taken").AsDate(), 43838.0 + 12.5 / 24, 1e-9);  // 8 January 2020, 12:30
        EXPECT_FALSE(rs->Fields("ok").AsBool());
        auto n = p->OpenRecordset("SELECT COUNT(*) FROM LinkDataSource WHERE ok", dao::RecordsetType::Snapshot);
        EXPECT_EQ(n->Fields(0).AsLong(), 250);
    }
    auto listed = dao::DBEngine::OpenDatabase("", false, true, pg.Connect());
    EXPECT_EQ(listed->TableDefs()["measures"].RecordCount(), 500);
    listed->Close();

    // The server goes away: the link reports it and the project is unchanged.
    pg.Stop();
    auto p = dao::DBEngine::OpenDatabase(project);
    EXPECT_EQ(ErrorOf([&] { p->OpenRecordset("SELECT COUNT(*) FROM LinkDataSource"); }), 3151);
    EXPECT_EQ(p->TableDefs()["LinkDataSource"].Connect(), pg.Connect());
    ::unsetenv("TESSARY_CACHE");
}

// A cache folder on a full disk, when the link is made and when its rows are
// first copied: the error says the disk is full and names the data source.
TEST_F(OdbcSqlite, FullCacheDiskIsReportedAsSuchForTheDataSource) {
    Sql(source,
        "WITH RECURSIVE n(i) AS (SELECT 10 UNION ALL SELECT i + 1 FROM n WHERE i < 6000) "
        "INSERT INTO People SELECT i, printf('%030d', i), i / 7.0, NULL, i % 2, printf('%0200d', i) FROM n");
    for (const size_t free : {0u, 64u << 10}) {
        SCOPED_TRACE(std::to_string(free >> 10) + " KB free");
        testsupport::SmallDisk disk(2 << 20);
        if (!disk.Ready()) GTEST_SKIP() << disk.Why();
        const std::string small = disk.File("cache");
        ::setenv("TESSARY_CACHE", small.c_str(), 1);
        std::filesystem::create_directory(small);
        disk.LeaveFree(free);
        std::filesystem::remove(project);
        auto p = dao::DBEngine::CreateDatabase(project, dao::dbLangGeneral);
        try {
            p->TableDefs().Append(p->CreateTableDef("LinkDataSource", 0, "People", "ODBC;DSN=people"));
            p->OpenRecordset("SELECT COUNT(*) FROM LinkDataSource", dao::RecordsetType::Snapshot);
            ADD_FAILURE() << "no error";
        } catch (const dao::DaoError& e) {
            const std::string text = e.Description();
            EXPECT_EQ(e.Number(), 3035) << text;
            EXPECT_EQ(text, "System resource exceeded (disk full): no space left on the device for the copy of "
                            "'DSN=people' in the cache folder. Free some space on the disk of the cache folder '" +
                                small + "', or set TESSARY_CACHE to a folder on another disk.");
        }
        p->Close();
        EXPECT_EQ(FilesIn(small), 0u);
    }
}
