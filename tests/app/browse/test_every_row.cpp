// Every row of a view shown once, through the grid's own model, whatever is
// changed between its pages (a mark, another program's delete) and whenever
// (before the background count has handed over its keys, or after), on a
// project whose data is a linked SQLite file or an ODBC source.
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

constexpr int kRows = 1000;
constexpr const char* kOdbcDriver = "/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so";

class EveryRow : public ModelFixture, public ::testing::WithParamInterface<bool> {
protected:
    std::shared_ptr<CSqlMachine> sql = std::make_shared<CSqlMachine>();
    std::unique_ptr<UGrid> grid;

    bool Odbc() const { return GetParam(); }

    void SetUp() override {
        testsupport::App();
        if (testsupport::StockShell::Path().empty()) GTEST_SKIP() << "the stock sqlite3 shell is not installed";
        if (Odbc() && !std::filesystem::exists(kOdbcDriver)) GTEST_SKIP() << "the SQLite ODBC driver is not installed";
        dataPath = dir.filePath("rows.db").toStdString();
        sqlite3* raw = nullptr;
        ASSERT_EQ(sqlite3_open(dataPath.c_str(), &raw), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(raw,
                               "CREATE TABLE Rows (Id INTEGER PRIMARY KEY, A DOUBLE, Cls VARCHAR(10));"
                               "WITH RECURSIVE r(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM r WHERE i < 1000) "
                               "INSERT INTO Rows SELECT i, i % 17, CASE i % 2 WHEN 0 THEN 'odd' ELSE 'even' END FROM r;",
                               nullptr, nullptr, nullptr),
                  SQLITE_OK);
        sqlite3_close(raw);
        std::string source = dataPath;
        if (Odbc()) {
            const std::string folder = dir.path().toStdString();
            std::ofstream(folder + "/odbcinst.ini") << "[Lite]\nDriver=" << kOdbcDriver << "\n";
            std::ofstream(folder + "/odbc.ini") << "[rows]\nDriver=Lite\nDatabase=" << dataPath << "\n";
            ::setenv("ODBCSYSINI", folder.c_str(), 1);
            ::setenv("ODBCINI", (folder + "/odbc.ini").c_str(), 1);
            ::setenv("TESSARY_CACHE", (folder + "/cache").c_str(), 1);
            source = "ODBC;DSN=rows";
        }
        projectPath = dir.filePath("rows.txp").toStdString();
        project = std::make_shared<CProject>();
        project->Create(projectPath);
        ASSERT_TRUE(project->AttachDataSource(source, "Rows"));
        DatabasePtr db = project->OpenProject(false);
        def = std::make_shared<CDataDef>();
        def->Initialize(db, "LinkDataSource");
        def->CollectStats(db);
        MdbUtils::CreateTestTable(*project, *def);
        for (int16_t i = 0; i < def->FieldCount(); ++i)
            if (def->FieldName(i) == "Cls") def->SetUserMatchType(i, MatchType::Output);
        def->Save(db);
        MdbUtils::AddMissingTestRows(*project, *def);
        ASSERT_EQ(db->OpenRecordset("SELECT COUNT(*) FROM Test", dao::RecordsetType::Snapshot)->Fields(0).AsLong(), kRows);
        Exec("UPDATE Test SET Mark = 0;");
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

    void Show() {
        grid->SetRecordSource(QString::fromStdString(sql->GetSql()));
        if (!grid->DataBrowse()) grid->SetDataBrowse(MBrowseViews::NewBrowseView(sql->BrowseType(), def, project));
    }

    int KeyColumn() const {
        const auto& cols = Model()->Columns();
        for (int i = 0; i < int(cols.size()); ++i)
            if (cols[size_t(i)].dataField == "Id") return i;
        return -1;
    }

    // The ids of grid rows first..last, read through the model page by page.
    std::vector<long> Ids(int first, int last) const {
        std::vector<long> ids;
        for (int r = first; r <= last; ++r) ids.push_back(long(Model()->Value(r, KeyColumn()).toDouble()));
        return ids;
    }

    static std::vector<long> Range(long from, long to) {
        std::vector<long> v;
        for (long i = from; i <= to; ++i) v.push_back(i);
        return v;
    }

    // Grid row r's mark toggled with Space, as a person toggles it.
    void Toggle(int r) {
        grid->Grid()->SetRow(r);
        QKeyEvent key(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
        QApplication::sendEvent(grid->Grid()->SplitView(1), &key);
        QApplication::processEvents();
    }

    // Find from the first row: the id of the row found, 0 for none.
    long Find(long id) {
        if (!grid->Data()->FindFirst("[Id] = " + std::to_string(id))) return 0;
        return grid->RecordSet()->Fields("Id").AsLong();
    }
};

// Rows marked in a view of the unmarked rows: the first before the count has
// delivered its keys, the second on a page read after it.
TEST_P(EveryRow, MarksBetweenPagesLoseNoRow) {
    sql->SetMarkView(2);
    Show();
    ASSERT_FALSE(Model()->CountKnown()) << "the mark is to come before the count";
    Toggle(4);
    EXPECT_EQ(Ids(0, 200), Range(1, 201));
    Toggle(139);
    EXPECT_EQ(Ids(0, 511), Range(1, 512));
    EXPECT_EQ(Model()->Count(), kRows);
    EXPECT_EQ(Ids(0, kRows - 1), Range(1, kRows));
    for (long id : {257L, 258L, 600L, 1000L}) EXPECT_EQ(Find(id), id);
    EXPECT_TRUE(dialogs.Messages().empty());
}

// Another program deletes a row of the first page once it is read, and one of
// the second; the grid reads on before any count is taken.
TEST_P(EveryRow, AnotherProgramsDeletesBetweenPagesLoseNoRow) {
    using testsupport::StockShell;
    Show();
    EXPECT_EQ(Ids(0, 127), Range(1, 128));
    ASSERT_EQ(StockShell::Run(projectPath, "DELETE FROM Test WHERE MainPrimaryKey = 3;"), "");
    EXPECT_EQ(Ids(128, 255), Range(129, 256));
    ASSERT_EQ(StockShell::Run(projectPath, "DELETE FROM Test WHERE MainPrimaryKey = 150;"), "");
    EXPECT_EQ(Ids(256, 511), Range(257, 512));
    // Read again, the rows gone keep their places, empty; the rows after them are shown.
    EXPECT_EQ(Model()->Count(), kRows);
    Model()->InvalidateAll();
    std::vector<long> expected = Range(1, kRows);
    expected[2] = expected[149] = 0;
    EXPECT_EQ(Ids(0, kRows - 1), expected);
    for (long id : {4L, 151L, 257L, 999L}) EXPECT_EQ(Find(id), id);
    EXPECT_EQ(Find(150), 0);
    EXPECT_TRUE(dialogs.Messages().empty());
}

INSTANTIATE_TEST_SUITE_P(Sources, EveryRow, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Odbc" : "SqliteLink"; });

}  // namespace
