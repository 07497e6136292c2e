// The grid panel on generated tables: the row count, a data column named like
// a column of Test, dates and text keys in the search, copying, keeping the
// user's place, and the panel's life cycle.
#include "BrowseFixture.h"

#include "FFind.h"
#include "MBrowseSql.h"
#include "TreeFixture.h"

#include <QClipboard>
#include <QComboBox>

using treetest::Cell;
using treetest::GeneratedProject;

namespace {

std::vector<std::vector<Cell>> Rows(int n) {
    std::vector<std::vector<Cell>> rows;
    const char* cities[] = {"Oslo", "Lyon", "O'Hare", "Bergen"};
    for (int i = 1; i <= n; ++i) {
        DATE date = 0;  // dates are stored as serial numbers
        VariantTimeFromParts(2024, 3, 1 + i % 28, 10, 30, 0, &date);
        rows.push_back({Cell::T(cities[i % 4]), Cell::D(i % 3 + 1), Cell::D(date), i % 5 == 0 ? Cell::N() : Cell::D(i * 0.5),
                        Cell::T(i % 2 ? "yes" : "no")});
    }
    return rows;
}

class PanelTest : public ::testing::Test {
protected:
    void SetUp() override { browsetest::App(); }

    std::unique_ptr<GeneratedProject> Make(bool textKey) {
        auto p = std::make_unique<GeneratedProject>(
            "panel",
            std::vector<treetest::Column>{{"FromCity", "TEXT", MatchType::Text},
                                          {"Predicted", "REAL", MatchType::Numeric},
                                          {"When", "DATETIME", MatchType::NotUsed},
                                          {"Size", "REAL", MatchType::Numeric},
                                          {"Class", "TEXT", MatchType::Output}},
            Rows(40), true, textKey);
        return p;
    }

    // A grid over the project's browse SQL with the view of its type.
    std::unique_ptr<UGrid> Open(GeneratedProject& p, CSqlMachine& sql, std::shared_ptr<CProject>& holder) {
        holder = std::shared_ptr<CProject>(&p.project, [](CProject*) {});
        sql.Initialize(p.dataDef, holder);
        auto grid = std::make_unique<UGrid>();
        grid->resize(800, 400);
        grid->SetDatabaseName(QString::fromStdString(p.projectPath));
        grid->SetRecordSource(QString::fromStdString(sql.GetSql()));
        if (sql.BrowseType() == 0) {
            auto v = std::make_shared<CBrowseAll>();
            v->Initialize(p.dataDef);
            grid->SetDataBrowse(v);
        } else {
            auto v = std::make_shared<CBrowseTest>();
            v->Initialize(p.dataDef, holder);
            grid->SetDataBrowse(v);
        }
        return grid;
    }
};

}  // namespace

TEST_F(PanelTest, CountReadsTheStatementByWords) {
    EXPECT_EQ(MBrowseSql::CountQuery("select a, b from T where x = 1 order by a;"), "SELECT COUNT(*) from T where x = 1 ");
    EXPECT_EQ(MBrowseSql::CountQuery("SELECT [FromCity], [Order by] FROM T WHERE [From] = 'FROM x ORDER BY y' ORDER  BY 1"),
              "SELECT COUNT(*) FROM T WHERE [From] = 'FROM x ORDER BY y' ");
    EXPECT_EQ(MBrowseSql::CountQuery("SELECT FromCity, Fromage FROM T"), "SELECT COUNT(*) FROM T");
    EXPECT_EQ(MBrowseSql::CountQuery("SELECT 1"), "SELECT COUNT(*) SELECT 1");
    EXPECT_EQ(MBrowseSql::FromTail("SELECT a FROM T INNER JOIN Test ON T.k = Test.k WHERE x ORDER BY a;"),
              "FROM T INNER JOIN Test ON T.k = Test.k WHERE x");
    EXPECT_TRUE(MBrowseSql::JoinsTestByName("FROM T INNER JOIN test  on T.k = Test.k"));
    EXPECT_FALSE(MBrowseSql::JoinsTestByName("FROM T INNER JOIN Test AS X ON T.k = X.k"));
    EXPECT_FALSE(MBrowseSql::JoinsTestByName("FROM T INNER JOIN [Test ON] ON T.k = 1"));

    auto p = Make(false);
    CSqlMachine sql;
    std::shared_ptr<CProject> holder;
    auto grid = Open(*p, sql, holder);
    EXPECT_EQ(grid->RecordCount(), 40);
    p->project.OpenProject(false)->Execute("UPDATE Test SET Mark = -1 WHERE MainPrimaryKey <= 7;");
    sql.SetMarkView(1);
    grid->SetRecordSource(QString::fromStdString(sql.GetSql()));
    EXPECT_EQ(grid->RecordCount(), 7);
    // A source without FROM: its count query fails and counts 0.
    grid->SetRecordSource("SELECT 1");
    EXPECT_EQ(grid->RecordCount(), 0);
    EXPECT_TRUE(p->dialogs.Messages().empty());
    // A source the database refuses: the error box, and the grid shows nothing.
    grid->SetRecordSource("SELECT x FROM NoSuchTable");
    EXPECT_EQ(grid->RecordCount(), 0);
    ASSERT_EQ(p->dialogs.Messages().size(), 1u);
    EXPECT_EQ(p->dialogs.Messages()[0].title, "UGrid::RecordSource");
    EXPECT_EQ(grid->RecordSource(), "SELECT x FROM NoSuchTable");
}

TEST_F(PanelTest, DataColumnNamedPredictedKeepsTheTestFiltersApart) {
    auto p = Make(false);
    DatabasePtr db = p->project.OpenProject(false);
    // Test's own classes differ from the data column of the same name.
    db->Execute("UPDATE Test SET Actual = 1, Predicted = 1;");
    db->Execute("UPDATE Test SET Predicted = 2 WHERE MainPrimaryKey IN (4, 9, 30);");
    CSqlMachine sql;
    sql.SetBrowseType(1);
    sql.SetPredictType(2);
    std::shared_ptr<CProject> holder;
    auto grid = Open(*p, sql, holder);
    EXPECT_EQ(sql.GetWhere(), " WHERE [Actual]>0 AND Test.[Predicted]<>[Actual] ");
    EXPECT_TRUE(p->dialogs.Messages().empty());
    ASSERT_EQ(grid->RecordCount(), 3);
    std::set<long> keys;
    CBrowseModel* m = grid->Grid()->Model();
    for (int r = 0; r < 3; ++r) keys.insert(long(m->Value(r, 3).toDouble()));
    EXPECT_EQ(keys, (std::set<long>{4, 9, 30}));
    // The search of Test's column works; the data column of the same name is
    // refused rather than searched as Test's.
    grid->Grid()->SetRow(0);
    grid->Grid()->SetCol(2);
    grid->ShowFind();
    FFind* dlg = grid->FindDialog();
    dlg->Form_Activate();
    dlg->cmbFind->setEditText("2");
    dlg->FindNext();
    EXPECT_EQ(dlg->windowTitle(), "Find - '2' Found");
    EXPECT_TRUE(p->dialogs.Messages().empty());
    grid->Grid()->SetCol(5);
    dlg->Form_Activate();
    EXPECT_EQ(dlg->windowTitle(), "Find in [Predicted]");
    const int row = grid->Grid()->Row();
    dlg->FindNext();
    ASSERT_EQ(p->dialogs.Messages().size(), 1u);
    EXPECT_EQ(p->dialogs.Messages()[0].title, "Find");
    EXPECT_EQ(grid->Grid()->Row(), row);
    sql.SetPredictType(0);
    sql.SetPredicted(2);
    sql.SetKeyMin("5");
    grid->SetRecordSource(QString::fromStdString(sql.GetSql()));
    EXPECT_EQ(grid->RecordCount(), 2);
    // Only the colliding name is qualified.
    sql.SetActual(2);
    EXPECT_EQ(sql.GetWhere(), " WHERE Actual=2 AND Test.Predicted=2 AND  MainPrimaryKey>=5 ");
}

TEST_F(PanelTest, DatesAndTextKeysInTheSearch) {
    auto p = Make(true);
    CSqlMachine sql;
    std::shared_ptr<CProject> holder;
    auto grid = Open(*p, sql, holder);
    ui::RecordingHandler& rec = p->dialogs;
    CBrowseModel* m = grid->Grid()->Model();
    int when = -1, key = -1;
    for (int c = 0; c < m->columnCount(); ++c) {
        if (m->Columns()[size_t(c)].dataField == "When") when = c;
        if (m->Columns()[size_t(c)].dataField == "Id") key = c;
    }
    ASSERT_GE(when, 0);
    grid->Grid()->SetRow(0);
    grid->Grid()->SetCol(when);
    grid->ShowFind();
    FFind* dlg = grid->FindDialog();
    dlg->Form_Activate();
    dlg->cmbFind->setEditText("not a date");
    dlg->FindNext();
    ASSERT_EQ(rec.Messages().size(), 1u);
    EXPECT_EQ(rec.Messages()[0].text, "Invalid Date.");
    EXPECT_EQ(rec.Messages()[0].title, "Find");
    EXPECT_EQ(grid->Grid()->Row(), 0);
    dlg->cmbFind->setEditText("3/10/2024 10:30:00");
    dlg->FindNext();
    EXPECT_EQ(dlg->windowTitle(), "Find - '3/10/2024 10:30:00' Found");
    const int row = grid->Grid()->Row();
    const QString found = m->Value(row, key).toString();
    EXPECT_TRUE(found == "k'0009" || found == "k'0037") << found.toStdString();

    // Text keys with an apostrophe: search the key column for one.
    grid->Grid()->SetCol(key);
    dlg->Form_Activate();
    dlg->cmbFind->setEditText("k'0033");
    dlg->FindNext();
    EXPECT_EQ(m->Value(grid->Grid()->Row(), key).toString(), "k'0033");
    EXPECT_EQ(rec.Messages().size(), 1u);
}

TEST_F(PanelTest, CopyKeepPlaceAndLifeCycle) {
    auto p = Make(false);
    CSqlMachine sql;
    std::shared_ptr<CProject> holder;
    auto grid = Open(*p, sql, holder);
    CBrowseModel* m = grid->Grid()->Model();
    QClipboard* clip = QGuiApplication::clipboard();
    clip->setText("before");
    grid->CopyRecord();  // no current row chosen yet is row 0 (the record set's)
    int sizeCol = -1;
    for (int c = 0; c < m->columnCount(); ++c)
        if (m->Columns()[size_t(c)].dataField == "Size") sizeCol = c;
    // Row with key 5 has a Null Size: it copies as an empty field.
    int row5 = -1;
    for (int r = 0; r < 40; ++r)
        if (m->Value(r, 2).toDouble() == 5) row5 = r;
    ASSERT_GE(row5, 0);
    grid->Grid()->SetRow(row5);
    grid->CopyRecord();
    const QStringList fields = clip->text().split('\t');
    ASSERT_EQ(fields.size(), m->columnCount());
    EXPECT_EQ(fields[0], "0");  // the mark as its value, not a picture
    EXPECT_EQ(fields[2], "5");
    EXPECT_EQ(fields[size_t(sizeCol)], "");
    grid->Grid()->SetCol(1);
    grid->CopyCell();
    EXPECT_EQ(clip->text(), m->Text(row5, 1));

    // Hold and release the horizontal place across a refresh.
    grid->Grid()->SetLeftCol(1, 5);
    grid->Grid()->SetCol(4);
    grid->HoldColumn();
    grid->Grid()->SetLeftCol(1, 2);
    grid->Grid()->SetCol(2);
    grid->Refresh();
    grid->ReleaseColumn();
    EXPECT_EQ(grid->Grid()->Col(), 4);
    EXPECT_EQ(grid->GetTopRowValue("Id").toDouble(), m->Value(grid->Grid()->FirstRow(), 2).toDouble());
    EXPECT_EQ(grid->GetTopRowValue("NoSuchColumn").toString(), "");

    // Show is raised when the source is set on a visible panel.
    grid->show();
    int shown = 0;
    QObject::connect(grid.get(), &base::IGridPanel::Show, [&] { ++shown; });
    grid->SetRecordSource(QString::fromStdString(sql.GetSql()));
    EXPECT_EQ(shown, 1);

    // Disconnect: nothing reads the closed database afterwards.
    grid->Disconnect();
    EXPECT_FALSE(grid->RecordSet());
    EXPECT_FALSE(grid->DataBrowse());
    EXPECT_EQ(grid->DatabaseName(), "");
    EXPECT_EQ(m->rowCount(), 0);
    clip->setText("kept");
    grid->CopyCell();
    grid->CopyRecord();
    EXPECT_EQ(clip->text(), "kept");
    EXPECT_EQ(grid->RecordCount(), 0);
    grid->repaint();
    EXPECT_TRUE(p->dialogs.Messages().empty());
}
