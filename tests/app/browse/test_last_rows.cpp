// The last rows of a large view come from the keys the background count read
// on its own connection: the rows and their order stay those of the view's
// own walk, for every browse type, mark view and prediction filter.
#include "CBrowseGrid.h"
#include "CSqlMachine.h"
#include "MBrowseViews.h"
#include "ProjectTestSupport.h"
#include "UGrid.h"
#include "model_fixture.h"

#include <QApplication>

#include <sqlite3.h>

namespace {

constexpr int kRows = 1000;

class LastRows : public ModelFixture {
protected:
    std::shared_ptr<CSqlMachine> sql = std::make_shared<CSqlMachine>();
    std::unique_ptr<UGrid> grid;

    virtual int Rows() const { return kRows; }

    void SetUp() override {
        testsupport::App();
        // Stored in another order than the keys, and Test's rows in a third
        // order, so that a view read another way would show another order.
        MakeData({"CREATE TABLE Rows (Id LONG CONSTRAINT PrimaryKey PRIMARY KEY, A DOUBLE, Cls TEXT(10))"});
        sqlite3* raw = nullptr;
        ASSERT_EQ(sqlite3_open(dataPath.c_str(), &raw), SQLITE_OK);
        const std::string n = std::to_string(Rows());
        ASSERT_EQ(sqlite3_exec(raw,
                               ("BEGIN; WITH RECURSIVE r(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM r WHERE i < " + n +
                                " - 1) INSERT INTO Rows SELECT (i * 337) % " + n + " + 1, i % 17, "
                                "CASE (i * 337) % 2 WHEN 0 THEN 'odd' ELSE 'even' END FROM r; COMMIT;")
                                   .c_str(),
                               nullptr, nullptr, nullptr),
                  SQLITE_OK);
        sqlite3_close(raw);
        MakeProject("Rows", "Cls");
        Exec("DELETE * FROM Test WHERE MainPrimaryKey Mod 3 = 0;");
        ASSERT_GT(MdbUtils::AddMissingTestRows(*project, *def), 300);
        Exec("UPDATE Test SET Actual = MainPrimaryKey Mod 2 + 1, Predicted = MainPrimaryKey Mod 2 + 1, "
             "Mark = IIf(MainPrimaryKey Mod 4 = 1, -1, 0);");
        Exec("UPDATE Test SET Predicted = 3 - Actual WHERE MainPrimaryKey Mod 5 = 0;");
        sql->Initialize(def, project);
        grid = std::make_unique<UGrid>();
        grid->resize(900, 500);
        grid->SetDatabaseName(QString::fromStdString(project->FileName()));
    }

    void TearDown() override {
        grid.reset();
        project->CloseProject();
    }

    void Show() {
        grid->SetRecordSource(QString::fromStdString(sql->GetSql()));
        if (!grid->DataBrowse()) grid->SetDataBrowse(MBrowseViews::NewBrowseView(sql->BrowseType(), def, project));
    }

    CBrowseModel* Model() const { return grid->Grid()->Model(); }

    int KeyColumn() const {
        const auto& cols = Model()->Columns();
        for (int i = 0; i < int(cols.size()); ++i)
            if (cols[size_t(i)].dataField == "Id") return i;
        return -1;
    }

    // The ids of the view as its statement walks them on a connection of its own.
    std::vector<long> Walk() {
        auto rs = project->OpenProject(false)->OpenRecordset(sql->GetSql(), dao::RecordsetType::Dynaset);
        std::vector<long> ids;
        for (; !rs->Eof(); rs->MoveNext()) ids.push_back(rs->Fields("Id").AsLong());
        return ids;
    }

    // The last page first, then every row.
    void ExpectRows(const std::vector<long>& expected, const std::string& what) {
        const int n = int(expected.size());
        ASSERT_EQ(Model()->rowCount(), n) << what;
        const int key = KeyColumn();
        for (int r = n - 1; r >= std::max(0, n - CBrowseModel::PageRows); --r)
            ASSERT_EQ(long(Model()->Value(r, key).toDouble()), expected[size_t(r)]) << what << " row " << r;
        for (int r = 0; r < n; ++r)
            ASSERT_EQ(long(Model()->Value(r, key).toDouble()), expected[size_t(r)]) << what << " row " << r;
    }
};

TEST_F(LastRows, EveryViewShowsItsOwnOrderToTheLastRow) {
    struct View {
        int16_t browse, marks, predict, actual;
        const char* name;
    };
    const View views[] = {{0, 0, 0, -1, "all rows"},       {0, 1, 0, -1, "marked rows"},
                          {0, 2, 0, -1, "unmarked rows"},  {1, 0, 0, -1, "test rows"},
                          {1, 0, 1, -1, "right predictions"}, {1, 2, 1, -1, "unmarked right predictions"},
                          {1, 0, 0, 2, "actual class 2"}};
    for (const View& v : views) {
        if (sql->BrowseType() != v.browse) {
            sql->SetBrowseType(v.browse);
            grid->SetDataBrowse(nullptr);
        }
        sql->SetMarkView(v.marks);
        sql->SetPredictType(v.predict);
        sql->SetActual(v.actual);
        const std::vector<long> expected = Walk();
        ASSERT_GT(expected.size(), size_t(CBrowseModel::PageRows)) << v.name;
        Show();
        EXPECT_EQ(Model()->Count(), long(expected.size())) << v.name;
        // Every key is known before any later page is read.
        EXPECT_EQ(Model()->Recordset()->RecordCount(), long(expected.size())) << v.name;
        ExpectRows(expected, v.name);
    }
    EXPECT_TRUE(dialogs.Messages().empty());
}

// A sorted view shows its first page before its rows are all sorted; the
// background count sorts them and the grid takes the keys over.
TEST_F(LastRows, SortedViewsShowTheSortsOrder) {
    const std::pair<const char*, bool> sorts[][2] = {{{"A", false}, {nullptr, false}},
                                                     {{"A", true}, {"Cls", false}},
                                                     {{"Mark", false}, {nullptr, false}}};
    for (const auto& keys : sorts) {
        sql->SetBrowseType(0);
        for (const auto& k : keys)
            if (k.first) sql->AddSort(k.first, k.second);
        const std::vector<long> expected = Walk();
        Show();
        ASSERT_FALSE(Model()->CountKnown()) << sql->GetSql();
        EXPECT_EQ(Model()->Recordset()->RecordCount(), CBrowseModel::PageRows) << sql->GetSql();
        const int key = KeyColumn();
        for (int r = 0; r < CBrowseModel::PageRows; ++r)
            ASSERT_EQ(long(Model()->Value(r, key).toDouble()), expected[size_t(r)]) << sql->GetSql() << " row " << r;
        EXPECT_EQ(Model()->Count(), long(expected.size()));
        EXPECT_EQ(Model()->Recordset()->RecordCount(), long(expected.size())) << sql->GetSql();
        ExpectRows(expected, sql->GetSql());
    }
    // A sort left before its keys are in: its sort is stopped, and the next
    // view reads and counts its own rows.
    sql->SetBrowseType(0);
    sql->AddSort("A", false);
    Show();
    ASSERT_FALSE(Model()->CountKnown());
    sql->SetBrowseType(0);
    sql->AddSort("Cls", true);
    const std::vector<long> expected = Walk();
    Show();
    EXPECT_EQ(Model()->Count(), long(expected.size()));
    ExpectRows(expected, "after a sort left early");
    EXPECT_TRUE(dialogs.Messages().empty());
}

TEST_F(LastRows, JumpWhileCountingAndAfterAMark) {
    sql->SetBrowseType(0);
    const std::vector<long> expected = Walk();
    // A jump to the last row before the count is in waits for it.
    Show();
    ASSERT_FALSE(Model()->CountKnown());
    grid->Grid()->SetRow(kRows - 1);
    EXPECT_EQ(grid->Grid()->Row(), kRows - 1);
    EXPECT_EQ(grid->RecordSet()->Fields("Id").AsLong(), expected.back());
    ExpectRows(expected, "jump");

    // A row marked through the grid before the count is in: the keys read
    // elsewhere are taken all the same, the rows read here keeping their places.
    grid->Refresh();
    ASSERT_FALSE(Model()->CountKnown());
    RecordsetPtr rs = grid->RecordSet();
    rs->Edit();
    rs->Fields("Mark").SetValue(com::Variant::I2(-1));
    rs->Update();
    EXPECT_EQ(Model()->Count(), kRows);
    EXPECT_EQ(Model()->Recordset()->RecordCount(), kRows);
    ExpectRows(expected, "after a mark");

    // Marks change the marked view between two refreshes; the new count reads them.
    sql->SetMarkView(1);
    Show();
    const long marked = Model()->Count();
    Exec("UPDATE Test SET Mark = -1 WHERE MainPrimaryKey Mod 4 = 2;");
    grid->Refresh();
    const std::vector<long> after = Walk();
    EXPECT_GT(long(after.size()), marked);
    EXPECT_EQ(Model()->Count(), long(after.size()));
    ExpectRows(after, "marked again");
    EXPECT_TRUE(dialogs.Messages().empty());
}

// Large enough for the keys to be read in runs on several connections (the
// marked rows, whose statement scans Test) or in one pass (all rows, read in
// the order of the data key's index).
class LargeLastRows : public LastRows {
protected:
    int Rows() const override { return 120000; }
};

TEST_F(LargeLastRows, RunsReadElsewhereKeepTheOrder) {
    for (int16_t marks : {0, 1}) {
        sql->SetMarkView(marks);
        const std::vector<long> expected = Walk();
        Show();
        EXPECT_EQ(Model()->Count(), long(expected.size())) << marks;
        EXPECT_EQ(Model()->Recordset()->RecordCount(), long(expected.size())) << marks;
        ExpectRows(expected, marks ? "marked rows" : "all rows");
    }
    EXPECT_TRUE(dialogs.Messages().empty());
}

}  // namespace
