// The road from statistics to classified test rows on an Access table and on
// an ODBC source: the same project code as over an SQLite file.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <fstream>

#include "../../platform/dao/PgServer.h"
#include "CTRX.h"
#include "TreeFixture.h"

namespace {

struct Road {
    ui::ScopedRecorder dialogs;
    app::ScopedFakeShell shell;
    std::string dir = treetest::TempDir("sources");
    CProject project;
    std::shared_ptr<CDataDef> dataDef;

    Road() { ::setenv("TESSARY_CACHE", (dir + "/cache").c_str(), 1); }
    ~Road() {
        project.CloseProject();
        ::unsetenv("TESSARY_CACHE");
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }

    // Statistics over the linked table, then the chosen inputs and output.
    void Prepare(const std::string& source, const std::string& table, const std::map<std::string, int16_t>& use) {
        project.SetFileName(dir + "/road.txp");
        project.Create();
        project.AttachDataSource(source, table);
        ASSERT_EQ(project.GetConfig("TableName"), table);
        DatabasePtr db = project.OpenProject(false);
        ASSERT_TRUE(db);
        dataDef = std::make_shared<CDataDef>();
        dataDef->Initialize(db, "LinkDataSource");
        dataDef->CollectStats(db);
        ASSERT_TRUE(dataDef->InitDone());
        MdbUtils::CreateTestTable(project, *dataDef);
        for (int16_t i = 0; i < dataDef->FieldCount(); ++i) {
            auto it = use.find(dataDef->FieldName(i));
            if (dataDef->UserMatchType(i) != MatchType::Unusable)
                dataDef->SetUserMatchType(i, it == use.end() ? MatchType::NotUsed : it->second);
        }
        dataDef->Save(db);
    }

    // Builds on the first rows, classifies the rest; the share classified right.
    double BuildAndClassify(int32_t train, int32_t total) {
        CTRX trx;
        EXPECT_TRUE(trx.Initialize(dataDef, &project));
        EXPECT_TRUE(trx.LoadData(1, train));
        EXPECT_EQ(trx.LoadCount(), train);
        EXPECT_TRUE(trx.BuildTree());
        trx.SaveTree(&project);
        trx.Classify(train + 1, total);
        DatabasePtr db = project.OpenProject(false);
        auto rs = db->OpenRecordset("SELECT COUNT(*), SUM(IIf(Predicted = Actual, 1, 0)) FROM Test WHERE Predicted > 0",
                                    dao::RecordsetType::Snapshot);
        double classified = rs->Fields(0).AsDouble();
        EXPECT_EQ(classified, double(total - train));
        return classified > 0 ? rs->Fields(1).AsDouble() / classified : 0;
    }
};

}  // namespace

TEST(SourceRoads, AccessOrdersTable) {
    Road road;
    const char* src = std::getenv("TESSARY_SOURCE_DIR");
    std::string copy = road.dir + "/nwind.mdb";
    std::filesystem::copy_file(std::string(src ? src : ".") + "/tests/data/access/nwind.mdb", copy);
    road.Prepare(copy, "Orders",
                 {{"EmployeeID", MatchType::Numeric},
                  {"Freight", MatchType::Numeric},
                  {"ShipCountry", MatchType::Text},
                  {"ShipVia", MatchType::Output}});
    EXPECT_EQ(road.dataDef->RecordCount(), 830);
    // Three shippers: a tree does at least as well as always naming one.
    EXPECT_GT(road.BuildAndClassify(600, 830), 0.25);
    EXPECT_TRUE(road.dialogs.calls.empty());
}

TEST(SourceRoads, OdbcSourceThroughTheSqliteDriver) {
    Road road;
    std::string data = road.dir + "/odbc.db";
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(data.c_str(), &db), SQLITE_OK);
    treetest::Sql(db, "CREATE TABLE Flowers (Id INTEGER PRIMARY KEY, Petal DOUBLE, Sepal DOUBLE, Kind VARCHAR(10))");
    treetest::Sql(db, "BEGIN");
    for (int i = 1; i <= 300; ++i) {
        double petal = (i % 3) * 2.0 + (i % 7) * 0.1;
        treetest::Sql(db, "INSERT INTO Flowers VALUES (" + std::to_string(i) + ", " + std::to_string(petal) + ", " +
                              std::to_string(5 + (i % 5) * 0.3) + ", '" + (i % 3 == 0 ? "a" : i % 3 == 1 ? "b" : "c") +
                              "')");
    }
    treetest::Sql(db, "COMMIT");
    sqlite3_close(db);
    std::ofstream(road.dir + "/odbcinst.ini") << "[Lite]\nDriver=/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so\n";
    std::ofstream(road.dir + "/odbc.ini") << "[flowers]\nDriver=Lite\nDatabase=" << data << "\n";
    ::setenv("ODBCSYSINI", road.dir.c_str(), 1);
    ::setenv("ODBCINI", (road.dir + "/odbc.ini").c_str(), 1);

    // The table list of the source, then the road over its link.
    auto listed = MdbUtils::OpenDataSource("ODBC;DSN=flowers", true);
    ASSERT_TRUE(listed);
    EXPECT_EQ(listed->TableDefs()["Flowers"].RecordCount(), 300);
    listed->Close();
    road.Prepare("ODBC;DSN=flowers", "Flowers",
                 {{"Petal", MatchType::Numeric}, {"Sepal", MatchType::Numeric}, {"Kind", MatchType::Output}});
    EXPECT_EQ(road.dataDef->RecordCount(), 300);
    EXPECT_DOUBLE_EQ(road.BuildAndClassify(200, 300), 1.0);
    EXPECT_TRUE(road.dialogs.calls.empty());
    ::unsetenv("ODBCSYSINI");
    ::unsetenv("ODBCINI");
}

TEST(SourceRoads, OdbcSourceOnAPostgresServer) {
    Road road;
    daotest::PgServer pg(road.dir + "/pg");
    ASSERT_TRUE(pg.Started()) << "the PostgreSQL server did not start";
    ASSERT_EQ(pg.Psql("CREATE TABLE flowers (id integer PRIMARY KEY, petal double precision, sepal real, "
                      "kind varchar(10));"
                      "INSERT INTO flowers SELECT g, (g % 3) * 2.0 + (g % 7) * 0.1, 5 + (g % 5) * 0.3, "
                      "CASE g % 3 WHEN 0 THEN 'a' WHEN 1 THEN 'b' ELSE 'c' END FROM generate_series(1, 300) g;"),
              0);
    // The table list of the source, then the road over its link.
    auto listed = MdbUtils::OpenDataSource(pg.Connect(), true);
    ASSERT_TRUE(listed);
    EXPECT_EQ(listed->TableDefs()["flowers"].RecordCount(), 300);
    listed->Close();
    road.Prepare(pg.Connect(), "flowers",
                 {{"petal", MatchType::Numeric}, {"sepal", MatchType::Numeric}, {"kind", MatchType::Output}});
    EXPECT_EQ(road.dataDef->RecordCount(), 300);
    EXPECT_DOUBLE_EQ(road.BuildAndClassify(200, 300), 1.0);
    EXPECT_TRUE(road.dialogs.calls.empty());
}
