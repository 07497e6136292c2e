// Every row of a view shown once, through the grid's own model, whatever is
// changed between its pages (a mark, another program's delete) and whenever
// (before the background count has handed over its keys, or after), on a
// project whose data is a linked SQLite file, an Access file or an ODBC source.
#include "CBrowseGrid.h"
#include "CDataControl.h"
#include "CSqlMachine.h"
#include "MBrowseViews.h"
#include "ProjectTestSupport.h"
#include "StockShell.h"
#include "UGrid.h"
#include "model_fixture.h"

#include <QApplication>
#include <QKeyEvent>
#include <QTableView>

#include <sqlite3.h>

#include <fstream>

namespace {

constexpr const char* kOdbcDriver = "/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so";

// Where the project's data comes from.
enum class Kind { SqliteLink, Access, Odbc };

class EveryRow : public ModelFixture, public ::testing::WithParamInterface<Kind> {
protected:
    std::shared_ptr<CSqlMachine> sql = std::make_shared<CSqlMachine>();
    std::unique_ptr<UGrid> grid;
    std::string key = "Id";
    std::vector<long> all;  // the keys of the view's rows, in its order

    void SetUp() override {
        testsupport::App();
        if (testsupport::StockShell::Path().empty()) GTEST_SKIP() << "the stock sqlite3 shell is not installed";
        const Kind kind = GetParam();
        if (kind == Kind::Odbc && !std::filesystem::exists(kOdbcDriver))
            GTEST_SKIP() << "the SQLite ODBC driver is not installed";
        const std::string folder = dir.path().toStdString();
        std::string source, table = "Rows", output = "Cls";
        if (kind == Kind::Access) {
            // The Orders of the sample Access file: 830 rows keyed from 10248.
            const char* src = std::getenv("TESSARY_SOURCE_DIR");
            source = folder + "/nwind.mdb";
            std::filesystem::copy_file(std::string(src ? src : ".") + "/tests/data/access/nwind.mdb", source);
            table = "Orders", key = "OrderID", output = "ShipVia";
            ::setenv("TESSARY_CACHE", (folder + "/cache").c_str(), 1);
        } else {
            dataPath = folder + "/rows.db";
            sqlite3* raw = nullptr;
            ASSERT_EQ(sqlite3_open(dataPath.c_str(), &raw), SQLITE_OK);
            ASSERT_EQ(sqlite3_exec(raw,
                                   "CREATE TABLE Rows (Id INTEGER PRIMARY KEY, A DOUBLE, Cls VARCHAR(10));"
                                   "WITH RECURSIVE r(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM r WHERE i < 1000) "
                                   "INSERT INTO Rows SELECT i, i % 17, CASE i % 2 WHEN 0 THEN 'odd' ELSE 'even' END "
                                   "FROM r;",
                                   nullptr, nullptr, nullptr),
                      SQLITE_OK);
            sqlite3_close(raw);
            source = dataPath;
        }
        if (kind == Kind::Odbc) {
            std::ofstream(folder + "/odbcinst.ini") << "[Lite]\nDriver=" << kOdbcDriver << "\n";
            std::ofstream(folder + "/odbc.ini") << "[rows]\nDriver=Lite\nDatabase=" << dataPath << "\n";
            ::setenv("ODBCSYSINI", folder.c_str(), 1);
            ::setenv("ODBCINI", (folder + "/odbc.ini").c_str(), 1);
            ::setenv("TESSARY_CACHE", (folder + "/cache").c_str(), 1);
            source = "ODBC;DSN=rows";
        }
        projectPath = folder + "/rows.txp";
        project = std::make_shared<CProject>();
        project->Create(projectPath);
        ASSERT_TRUE(project->AttachDataSource(source, table));
        DatabasePtr db = project->OpenProject(false);
        def = std::make_shared<CDataDef>();
        def->Initialize(db, "LinkDataSource");
        def->CollectStats(db);
        MdbUtils::CreateTestTable(*project, *def);
        for (int16_t i = 0; i < def->FieldCount(); ++i)
            if (def->FieldName(i) == output) def->SetUserMatchType(i, MatchType::Output);
        def->Save(db);
        MdbUtils::AddMissingTestRows(*project, *def);
        Exec("UPDATE Test SET Mark = 0;");
        for (auto rs = db->OpenRecordset("SELECT " + key + " FROM LinkDataSource ORDER BY " + key, dao::RecordsetType::Snapshot);
             !rs->Eof(); rs->MoveNext())
            all.push_back(rs->Fields(0).AsLong());
        ASSERT_GT(all.size(), 600u);
        ASSERT_EQ(db->OpenRecordset("SELECT COUNT(*) FROM Test", dao::RecordsetType::Snapshot)->Fields(0).AsLong(),
                  long(all.size()));
        sql->Initialize(def, project);
        sql->SetBrowseType(0);
        grid = std::make_unique<UGrid>();
        grid->resize(900, 500);
        grid->SetDatabaseName(QString::fromStdString(project->FileName()));
        grid->show();
    }

    void TearDown() override {
        grid.reset();
        if (project) project->CloseProject();
        ::unsetenv("ODBCSYSINI");
        ::unsetenv("ODBCINI");
        ::unsetenv("TESSARY_CACHE");
    }

    CBrowseModel* Model() const { return grid->Grid()->Model(); }
    int Rows() const { return int(all.size()); }

    void Show() {
        grid->SetRecordSource(QString::fromStdString(sql->GetSql()));
        if (!grid->DataBrowse()) grid->SetDataBrowse(MBrowseViews::NewBrowseView(sql->BrowseType(), def, project));
    }

    int KeyColumn() const {
        const auto& cols = Model()->Columns();
        for (int i = 0; i < int(cols.size()); ++i)
            if (cols[size_t(i)].dataField == QString::fromStdString(key)) return i;
        return -1;
    }

    // The keys of grid rows first..last, read through the model page by page.
    std::vector<long> Ids(int first, int last) const {
        std::vector<long> ids;
        for (int r = first; r <= last; ++r) ids.push_back(long(Model()->Value(r, KeyColumn()).toDouble()));
        return ids;
    }

    // The keys the view's rows first..last hold.
    std::vector<long> Expected(int first, int last) const { return {all.begin() + first, all.begin() + last + 1}; }

    // Grid row r's mark toggled with Space, as a person toggles it.
    void Toggle(int r) {
        grid->Grid()->SetRow(r);
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
        QApplication::sendEvent(grid->Grid()->SplitView(1), &press);
        QApplication::processEvents();
    }

    // Find from the first row: the key of the row found, 0 for none.
    long Find(long id) {
        if (!grid->Data()->FindFirst("[" + key + "] = " + std::to_string(id))) return 0;
        return grid->RecordSet()->Fields(key).AsLong();
    }

    void DeleteTestRow(long id) {
        ASSERT_EQ(testsupport::StockShell::Run(projectPath,
                                               "DELETE FROM Test WHERE MainPrimaryKey = " + std::to_string(id) + ";"),
                  "");
    }
};

// Rows marked in a view of the unmarked rows: the first before the count has
// delivered its keys, the second on a page read after it.
TEST_P(EveryRow, MarksBetweenPagesLoseNoRow) {
    sql->SetMarkView(2);
    Show();
    ASSERT_FALSE(Model()->CountKnown()) << "the mark is to come before the count";
    Toggle(4);
    EXPECT_EQ(Ids(0, 200), Expected(0, 200));
    Toggle(139);
    EXPECT_EQ(Ids(0, 511), Expected(0, 511));
    EXPECT_EQ(Model()->Count(), Rows());
    EXPECT_EQ(Model()->Recordset()->RecordCount(), Rows()) << "the count's keys are taken, on every source";
    EXPECT_EQ(Ids(0, Rows() - 1), all);
    for (int r : {256, 257, 600, Rows() - 1}) EXPECT_EQ(Find(all[size_t(r)]), all[size_t(r)]);
    EXPECT_TRUE(dialogs.Messages().empty());
}

// Another program deletes a row of the first page once it is read, and one of
// the second; the grid reads on before any count is taken.
TEST_P(EveryRow, AnotherProgramsDeletesBetweenPagesLoseNoRow) {
    Show();
    EXPECT_EQ(Ids(0, 127), Expected(0, 127));
    DeleteTestRow(all[2]);
    EXPECT_EQ(Ids(128, 255), Expected(128, 255));
    DeleteTestRow(all[149]);
    EXPECT_EQ(Ids(256, 511), Expected(256, 511));
    // Read again, the rows gone keep their places, empty; the rows after them are shown.
    EXPECT_EQ(Model()->Count(), Rows());
    Model()->InvalidateAll();
    std::vector<long> expected = all;
    expected[2] = expected[149] = 0;
    EXPECT_EQ(Ids(0, Rows() - 1), expected);
    for (int r : {3, 150, 256, Rows() - 2}) EXPECT_EQ(Find(all[size_t(r)]), all[size_t(r)]);
    EXPECT_EQ(Find(all[149]), 0);
    EXPECT_TRUE(dialogs.Messages().empty());
}

INSTANTIATE_TEST_SUITE_P(Sources, EveryRow, ::testing::Values(Kind::SqliteLink, Kind::Access, Kind::Odbc),
                         [](const auto& info) {
                             return info.param == Kind::Odbc ? "Odbc" : info.param == Kind::Access ? "Access" : "SqliteLink";
                         });

}  // namespace
