// The table-selection and row-range step panels.
#include "IShell.h"
#include "PanelTestSupport.h"
#include "TreeFixture.h"
#include "URecordSelect.h"
#include "USetLimits.h"
#include "UTableSelect.h"

#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>

#include <deque>

using namespace paneltest;

namespace {

// ---------------------------------------------------------------- row ranges

struct Limits : AppFirst {
    Limits() {
        panel.resize(3000 / 15, 6000 / 15);
        train = panel.findChild<URecordSelect*>("URSTrain");
        test = panel.findChild<URecordSelect*>("URSTest");
        trainTotal = panel.findChild<QLabel*>("lblTrainTotal");
        testTotal = panel.findChild<QLabel*>("lblTestTotal");
    }
    USetLimits panel;
    URecordSelect* train;
    URecordSelect* test;
    QLabel* trainTotal;
    QLabel* testTotal;
};

TEST(RowRanges, InitializeClampsIntoTheRowCount) {
    Limits l;
    l.panel.Initialize(1000, 1, 700, 701, 1000);
    EXPECT_EQ(l.trainTotal->text(), "700 Rows");
    EXPECT_EQ(l.testTotal->text(), "300 Rows");
    EXPECT_EQ(l.train->FillColor(), QColor(255, 0, 0));
    EXPECT_FALSE(l.panel.Changed());
    l.panel.Initialize(1000, 1, 1000, 1, 1000);  // overlapping ranges are fine
    EXPECT_EQ(l.trainTotal->text(), "1000 Rows");
    EXPECT_EQ(l.testTotal->text(), "1000 Rows");
    l.panel.Initialize(100, 150, 200, 1, 50);
    EXPECT_EQ(l.panel.TrainLow(), 100);
    EXPECT_EQ(l.panel.TrainHigh(), 100);
    EXPECT_EQ(l.trainTotal->text(), "1 Rows");
    EXPECT_EQ(l.panel.TestHigh(), 50);
    EXPECT_EQ(l.panel.RecordCount(), 100);
    l.panel.Initialize(0, 1, 0, 1, 0);
    EXPECT_EQ(l.panel.TrainLow(), 1);
    EXPECT_EQ(l.panel.TrainHigh(), 1);
    EXPECT_EQ(l.panel.TestHigh(), 1);
    EXPECT_EQ(l.train->Max(), 1);
}

TEST(RowRanges, OnlyTheUsersChangesCount) {
    Limits l;
    l.panel.show();
    l.panel.Initialize(1000, 1, 700, 701, 1000);
    l.panel.SetTrainLow(50);
    EXPECT_EQ(l.trainTotal->text(), "651 Rows");
    EXPECT_FALSE(l.panel.Changed());
    // A drag of the test bar's low handle.
    const QRect r = l.test->LowHandleRect();
    const QPointF p(r.left() + r.width() / 2.0, l.test->PositionOf(701));
    Press(l.test, p);
    Move(l.test, {p.x(), l.test->PositionOf(801)});
    Release(l.test, p);
    EXPECT_EQ(l.panel.TestLow(), 801);
    EXPECT_EQ(l.testTotal->text(), "200 Rows");
    EXPECT_TRUE(l.panel.Changed());
    l.panel.Initialize(1000, 1, 700, 701, 1000);
    EXPECT_FALSE(l.panel.Changed());
    QSignalSpy next(&l.panel, &USetLimits::NavNext), back(&l.panel, &USetLimits::NavBack);
    l.panel.findChild<QPushButton*>("lnkNext")->click();
    l.panel.findChild<QPushButton*>("lnkCancel")->click();
    EXPECT_EQ(next.count(), 1);
    EXPECT_EQ(back.count(), 1);
}

TEST(RowRanges, NarrowAndWideLayouts) {
    auto l = USetLimits::ComputeLayout(3000, 6000, 195, 195, 1000, 900, 1125, 1125);
    EXPECT_EQ(l.train.left(), 0);
    EXPECT_EQ(l.train.width(), 3000);
    EXPECT_EQ(l.test.top(), 720 + l.train.height() + 580);  // stacked
    EXPECT_EQ(l.train.height(), (6000 - 720 - 580 - 240) / 2);
    EXPECT_EQ(l.label1.bottom() + 1, 720);
    EXPECT_EQ(l.nextLeft, 3000 - 1125 - 120);
    l = USetLimits::ComputeLayout(5000, 6000, 195, 195, 1000, 900, 1125, 1125);
    EXPECT_EQ(l.train.width(), 2500);
    EXPECT_EQ(l.test.left(), 2500);
    EXPECT_EQ(l.test.top(), 720);
    EXPECT_EQ(l.label2.left(), 2500 + (2500 - 900) / 2);
    EXPECT_EQ(l.testTotal.top(), 720 + 6000 - 720 - 240);
    l = USetLimits::ComputeLayout(3000, 2000, 195, 195, 1000, 900, 1125, 1125);
    EXPECT_EQ(l.train.height(), 375);
    EXPECT_EQ(l.test.height(), 375);
    l = USetLimits::ComputeLayout(2000, 6000, 195, 195, 1000, 900, 1125, 1125);
    EXPECT_EQ(l.backLeft, 0);  // no room beside each other at the edges
    EXPECT_EQ(l.nextLeft, 1125 + 120);
}

// ---------------------------------------------------------------- table selection

struct FakeShell : base::IShell {
    std::deque<QString> sources;
    QWidget* AppPanel(const QString&) override { return nullptr; }
    base::IGridPanel* GridPanel() override { return nullptr; }
    QWidget* MainWidget() override { return nullptr; }
    void StatusText(const QString&) override {}
    void StatusRecordCount(int32_t) override {}
    void MenuCommand(const QString&) override {}
    QString SelectDataSource() override {
        if (sources.empty()) return {};
        QString s = sources.front();
        sources.pop_front();
        return s;
    }
    void ShowFieldStats() override {}
};

struct Tables : AppFirst {
    Tables() : scope(&shell) {
        panel.resize(260, 300);
        list = panel.findChild<QListWidget*>("lstTables");
        ok = panel.findChild<QPushButton*>("cmdTableOK");
        noKey = panel.findChild<QLabel*>("lblNoKey");
        rowCount = panel.findChild<QLabel*>("lblRowCount");
        fileName = panel.findChild<QLabel*>("lblDBFileName");
        // The main window's answer: tables whose name starts with "K" have a key.
        QObject::connect(&panel, &UTableSelect::TableSelect, [this](const QString&, const QString& table, bool& valid) {
            seen << table;
            valid = table.startsWith('K');
        });
    }
    std::string MakeSource(const std::string& name, const std::vector<std::string>& sql) {
        const std::string path = dir + "/" + name;
        sqlite3* db = nullptr;
        sqlite3_open(path.c_str(), &db);
        for (const auto& s : sql) treetest::Sql(db, s);
        sqlite3_close(db);
        return path;
    }
    void Open(const std::string& path) {
        shell.sources.push_back(QString::fromStdString(path));
        panel.findChild<QPushButton*>("cmdOpenFile")->click();
    }
    void Choose(const QString& name) { list->setCurrentItem(list->findItems(name, Qt::MatchExactly).first()); }

    ui::ScopedRecorder dialogs;
    FakeShell shell;
    base::ScopedShell scope;
    std::string dir = treetest::TempDir("tables");
    UTableSelect panel;
    QListWidget* list;
    QPushButton* ok;
    QLabel* noKey;
    QLabel* rowCount;
    QLabel* fileName;
    QStringList seen;
};

const char* kRows = "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 1234) ";

TEST(TableSelect, OneTableIsChosenAtOnce) {
    Tables t;
    const auto path = t.MakeSource("one.db", {"CREATE TABLE Keyed (Id INTEGER PRIMARY KEY, V REAL)",
                                              std::string(kRows) + "INSERT INTO Keyed SELECT i, i FROM n"});
    t.Open(path);
    EXPECT_EQ(t.fileName->text(), " one.db ");
    EXPECT_EQ(t.seen, QStringList{"Keyed"});
    EXPECT_EQ(t.panel.TableName(), "Keyed");
    EXPECT_EQ(t.rowCount->text(), "1,234 rows");
    EXPECT_EQ(t.panel.CurrentRowCount(), 1234);
    EXPECT_TRUE(t.ok->isEnabled());
    EXPECT_TRUE(t.noKey->isHidden());
    EXPECT_FALSE(t.panel.Changed());
    QSignalSpy next(&t.panel, &UTableSelect::NavNext);
    t.ok->click();
    EXPECT_EQ(next.count(), 1);
}

TEST(TableSelect, SeveralTablesKeysRowsAndNamesNeedingBrackets) {
    Tables t;
    const auto data = t.MakeSource("data.db", {"CREATE TABLE [Src Table] (Id INTEGER PRIMARY KEY, V REAL)",
                                               std::string(kRows) + "INSERT INTO [Src Table] SELECT i, i FROM n"});
    const auto path = t.MakeSource("many.db", {"CREATE TABLE Keyed (Id INTEGER PRIMARY KEY)", "CREATE TABLE Loose (V REAL)",
                                               "CREATE TABLE KEmpty (Id INTEGER PRIMARY KEY)",
                                               "INSERT INTO Loose VALUES (1)"});
    {
        // A linked table, whose count the engine does not keep: it is counted
        // by a query, with its name in brackets.
        DatabasePtr db = dao::DBEngine::OpenDatabase(path);
        dao::TableDef link = db->CreateTableDef("K Linked", 0, "Src Table", ";DATABASE=" + data);
        db->TableDefs().Append(link);
        db->Close();
    }
    t.Open(path);
    EXPECT_EQ(t.seen, QStringList{""});  // no table chosen yet
    EXPECT_EQ(t.list->count(), 4);
    EXPECT_FALSE(t.ok->isEnabled());
    t.Choose("Loose");
    EXPECT_EQ(t.panel.TableName(), "");
    EXPECT_FALSE(t.ok->isEnabled());
    EXPECT_FALSE(t.noKey->isHidden());
    EXPECT_EQ(t.noKey->text(), "Table requires a primary key");
    EXPECT_EQ(t.rowCount->text(), "1 rows");  // still shown
    t.Choose("KEmpty");
    EXPECT_EQ(t.panel.TableName(), "KEmpty");
    EXPECT_EQ(t.noKey->text(), "No Data");
    EXPECT_FALSE(t.ok->isEnabled());
    t.Choose("K Linked");
    EXPECT_EQ(t.rowCount->text(), "1,234 rows");
    EXPECT_TRUE(t.ok->isEnabled());
    EXPECT_TRUE(t.dialogs.Messages().empty());
    // A second source leaves no table chosen.
    const auto other = t.MakeSource("other.db", {"CREATE TABLE A (Id INTEGER PRIMARY KEY)", "CREATE TABLE B (Id INTEGER PRIMARY KEY)"});
    t.Open(other);
    EXPECT_EQ(t.panel.TableName(), "");
    EXPECT_FALSE(t.ok->isEnabled());
    EXPECT_EQ(t.panel.CurrentRowCount(), 0);
    EXPECT_EQ(t.rowCount->text(), "");
}

TEST(TableSelect, CancelBadFilesAndClear) {
    Tables t;
    const auto path = t.MakeSource("one.db", {"CREATE TABLE Keyed (Id INTEGER PRIMARY KEY)", "INSERT INTO Keyed VALUES (1)"});
    t.Open(path);
    ASSERT_EQ(t.panel.TableName(), "Keyed");
    t.panel.findChild<QPushButton*>("cmdOpenFile")->click();  // the dialog cancelled: nothing changes
    EXPECT_EQ(t.panel.TableName(), "Keyed");
    EXPECT_EQ(t.panel.DatabaseName().toStdString(), path);

    const std::string junk = t.dir + "/junk.mdb";
    FILE* f = std::fopen(junk.c_str(), "w");
    std::fputs("not a database at all", f);
    std::fclose(f);
    t.Open(junk);
    EXPECT_EQ(t.panel.DatabaseName(), "");
    EXPECT_EQ(t.fileName->text(), "");
    EXPECT_EQ(t.list->count(), 0);
    EXPECT_FALSE(t.ok->isEnabled());
    ASSERT_FALSE(t.dialogs.Messages().empty());  // the open routine told the user

    t.Open(path);
    t.panel.Clear();
    EXPECT_EQ(t.panel.DatabaseName(), "");
    EXPECT_EQ(t.panel.TableName(), "");
    EXPECT_EQ(t.list->count(), 0);
    EXPECT_FALSE(t.ok->isEnabled());
    EXPECT_EQ(UTableSelect::DisplayName("ODBC;DSN=Sales;DATABASE=Shop", "ODBC;DSN=Sales;DATABASE=Shop"), "Sales");
    EXPECT_EQ(UTableSelect::DisplayName("/data/Shop.mdb", ""), " Shop.mdb ");
}

}  // namespace
