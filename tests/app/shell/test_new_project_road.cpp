// From File > New to the row ranges in the real main window: the data-source
// dialog, the table choice, the statistics run (finished, cancelled, failed),
// the field choice and the row ranges, with what each step stores; the same
// road over an Access file and over an ODBC data source.
#include "RoadFixture.h"

#include "AppGlobals.h"
#include "CDataDef.h"
#include "CMRUList.h"
#include "FStatus.h"
#include "ISetLimitsPanel.h"
#include "ITableSelectPanel.h"
#include "URecordSelect.h"

#include <QLabel>

#include <fstream>
#include <functional>

using namespace shelltest;

namespace {

class NewRoad : public RoadTest {
protected:
    std::string project;
    std::string data;
    void SetUp() override {
        RoadTest::SetUp();
        std::filesystem::create_directories(dir.Path() / "work");
        project = dir.File("work/new.txp");
        data = CopyData(SamplesDir() + "/iris.mdb", "iris-data.mdb");
    }
    // New project, iris's table chosen: ready for Next.
    void ToTableChosen() {
        NewProject(project);
        ChooseSource(data);
        ASSERT_TRUE(ChooseTable("iris"));
        ASSERT_TRUE(TableOK()->isEnabled());
    }
    void Drag(URecordSelect* bar, bool low, int32_t from, int32_t to) {
        const QRect r = low ? bar->LowHandleRect() : bar->HighHandleRect();
        const QPointF p(r.left() + r.width() / 2.0, bar->PositionOf(from));
        Mouse(bar, QEvent::MouseButtonPress, p, Qt::LeftButton, Qt::LeftButton);
        Mouse(bar, QEvent::MouseMove, {p.x(), bar->PositionOf(to)}, Qt::NoButton, Qt::LeftButton);
        Mouse(bar, QEvent::MouseButtonRelease, {p.x(), bar->PositionOf(to)}, Qt::LeftButton, Qt::NoButton);
    }
};

TEST_F(NewRoad, FromFileNewToTheRowRangesWithEveryStoredValue) {
    NewProject(project);
    EXPECT_EQ(Main().windowTitle(), "Tessary - [new.txp]");
    EXPECT_EQ(Left(), "TableSelect");
    EXPECT_EQ(Main().State().State(), 1);
    EXPECT_EQ(StatusMain(), " Select the database and table to use for this project. ");
    EXPECT_TRUE(Tool("mnuFileClose")->isEnabled());
    EXPECT_FALSE(std::filesystem::exists(project)) << "nothing is written before the statistics";
    EXPECT_EQ(Reg("Config", "LastProjectPath"), dir.File("work") + "/");

    // The data-source dialog: four file types, both kinds of data file listed first.
    ChooseSource(data);
    const ui::FileRequest& request = dialogs.fileRequests.back();
    EXPECT_EQ(request.title, "Select Data Source");
    EXPECT_EQ(request.filter, "MS Access Database (*.mdb)|*.mdb|Cortexa Pro Sample (*.cxs)|*.cxs|Any (*.*)|*.*|ODBC () |");
    EXPECT_EQ(request.defaultName, "*.mdb;*.cxs");
    EXPECT_EQ(Reg("Config", "LastDatabasePath"), dir.Path().string() + "/");
    ASSERT_TRUE(ChooseTable("iris"));
    EXPECT_EQ(Right(), "FieldView") << "the raw table's fields are shown at once";
    ASSERT_TRUE(TableOK()->isEnabled()) << "iris has a primary key";

    TableOK()->click();
    EXPECT_EQ(Main().State().State(), 2);
    EXPECT_EQ(ConfigOf(project, "DatabaseName"), data);
    EXPECT_EQ(ConfigOf(project, "TableName"), "iris");
    EXPECT_EQ(ConfigOf(project, "DataSourceName"), data);
    EXPECT_EQ(ConfigOf(project, "RecordCount"), "150");
    EXPECT_EQ(ConfigOf(project, "ProjectType"), "Tessary");
    EXPECT_EQ(Count(project, "SELECT COUNT(*) FROM FieldConfig"), 6);
    EXPECT_EQ(Count(project, "SELECT COUNT(*) FROM Test"), 150);
    EXPECT_FALSE(MTessary::Status()->isVisible());
    EXPECT_EQ(app::Globals().gMRUList->Item(1), QString::fromStdString(project));
    // State 2: the field panel and the field statistics.
    EXPECT_EQ(Left(), "Configure");
    EXPECT_EQ(Right(), "FieldView");
    EXPECT_TRUE(Tool("mnuViewFieldStats")->isChecked());
    EXPECT_EQ(StatusMain(), " Select the fields to use for this project. ");
    EXPECT_EQ(ConfigOf(project, "LastState"), "2");

    // Inputs: every field; output: Species.
    auto* from = Control<QListWidget>("pnlFieldSel", "lstFieldsFrom");
    auto* to = Control<QListWidget>("pnlFieldSel", "lstFieldsTo");
    Control<QToolButton>("pnlFieldSel", "cmdMvFd3")->click();
    to->clearSelection();
    for (auto* item : to->findItems(QStringLiteral("Species"), Qt::MatchStartsWith)) item->setSelected(true);
    Control<QToolButton>("pnlFieldSel", "cmdMvFd4")->click();
    from->clearSelection();
    for (auto* item : from->findItems(QStringLiteral("Species"), Qt::MatchStartsWith)) item->setSelected(true);
    Control<QToolButton>("pnlFieldSel", "cmdMvFd0")->click();
    EXPECT_EQ(Control<QLabel>("pnlFieldSel", "lblOutput")->text(), "Species");
    Control<QPushButton>("pnlFieldSel", "lnkNext")->click();
    EXPECT_EQ(Main().State().State(), 3);
    EXPECT_EQ(ConfigOf(project, "LastState"), "3");
    EXPECT_EQ(Count(project, "SELECT COUNT(*) FROM FieldConfig WHERE FieldName='Species' AND UserMatchType=15"), 1);
    EXPECT_EQ(Count(project, "SELECT COUNT(*) FROM FieldConfig WHERE UserMatchType=1"), 5) << "the four measures and the key";

    // State 3: both ranges proposed over the whole table; the grid browses all rows.
    EXPECT_EQ(Left(), "SetLimits");
    EXPECT_EQ(Right(), "DataGrid");
    EXPECT_EQ(Main().Frame()->CaptionRight(), "Browse All Data");
    EXPECT_TRUE(Tool("mnuViewBrowseAll")->isChecked());
    EXPECT_EQ(StatusMain(), " Select the rows to use for this project. ");
    auto* limits = Main().Panels().setLimits;
    EXPECT_EQ(limits->RecordCount(), 150);
    EXPECT_EQ(limits->TrainHigh(), 150);
    EXPECT_EQ(limits->TestLow(), 1);
    auto* train = Control<URecordSelect>("pnlSetLimits", "URSTrain");
    auto* test = Control<URecordSelect>("pnlSetLimits", "URSTest");
    Drag(train, false, 150, 100);
    Drag(test, true, 1, 101);
    EXPECT_TRUE(limits->Changed());
    EXPECT_TRUE(dialogs.Messages().empty()) << dialogs.Messages().front().text.toStdString();
    // Next stores the ranges before the extraction step starts.
    Control<QPushButton>("pnlSetLimits", "lnkNext")->click();
    EXPECT_EQ(ConfigOf(project, "TrainLow"), "1");
    EXPECT_EQ(ConfigOf(project, "TrainHigh"), "100");
    EXPECT_EQ(ConfigOf(project, "TestLow"), "101");
    EXPECT_EQ(ConfigOf(project, "TestHigh"), "150");
    EXPECT_GE(Main().State().State(), 4);
}

TEST_F(NewRoad, CancelledStatisticsWriteNothingAndCancelWorksOnTheNextRun) {
    ToTableChosen();
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run);
        CancelAtFirstEvent();
        TableOK()->click();
        EXPECT_EQ(Main().State().State(), 1);
        EXPECT_EQ(Left(), "TableSelect");
        EXPECT_EQ(StatusMain(), " Operation canceled by user. ");
        EXPECT_FALSE(app::Globals().gDataDef) << "no field definitions remain";
        EXPECT_FALSE(MTessary::Status()->isVisible());
        EXPECT_FALSE(HasTable(project, "Test"));
        EXPECT_FALSE(HasTable(project, "FieldConfig"));
        EXPECT_EQ(ConfigOf(project, "RecordCount"), "<none>");
        EXPECT_EQ(ConfigOf(project, "LastState"), "<none>");
        EXPECT_EQ(ConfigOf(project, "DatabaseName"), data) << "kept when the file is made again";
    }
    TableOK()->click();
    EXPECT_EQ(Main().State().State(), 2);
    EXPECT_EQ(ConfigOf(project, "RecordCount"), "150");
    EXPECT_TRUE(dialogs.Messages().empty());
}

// Keys that the program could not tell apart or could not hold: refused when
// the project is made, naming them and the key field, with nothing half-made.
TEST_F(NewRoad, KeysThatCannotBeToldApartAreRefusedWhenTheProjectIsMade) {
    struct Case {
        const char* name;
        const char* create;
        const char* rows;
        std::vector<std::string> named;  // none: the project is made
    };
    // A key of no declared type, as another program may write it.
    const char* const untyped = "CREATE TABLE Keys (Id PRIMARY KEY, Size REAL, Class TEXT)";
    const std::vector<Case> cases = {
        {"case-sensitive key", "CREATE TABLE Keys (Id TEXT PRIMARY KEY, Size REAL, Class TEXT)",
         "('a1', 1, 'x'), ('b1', 2, 'y'), ('B1', 3, 'x'), ('c1', 4, 'y')", {"\"b1\"", "\"B1\"", "key field Id"}},
        {"whole number beyond 2^53", "CREATE TABLE Keys (Id INTEGER PRIMARY KEY, Size REAL, Class TEXT)",
         "(1, 1, 'x'), (9007199254740993, 2, 'y'), (3, 3, 'x')", {"9007199254740993", "key field Id"}},
        {"empty key", "CREATE TABLE Keys (Id TEXT PRIMARY KEY, Size REAL, Class TEXT)",
         "('a1', 1, 'x'), (NULL, 2, 'y'), ('c1', 3, 'x')", {"key field Id is empty (Null)"}},
        {"numbers and texts", untyped,
         "(1, 1, 'x'), (2, 2, 'y'), (3, 3, 'x'), (10, 4, 'y'), (20, 5, 'x'), ('a', 1, 'y'), ('b', 2, 'x'), "
         "('c', 3, 'y'), ('d', 4, 'x'), ('e', 5, 'y')",
         {"key field Id holds the number 1 and the text \"a\"."}},
        {"reals and whole numbers", untyped,
         "(1, 1, 'x'), (2, 2, 'y'), (3, 3, 'x'), (1.5, 4, 'y'), (2.5, 5, 'x'), (3.5, 1, 'y'), (10, 2, 'x'), "
         "(20, 3, 'y'), (0.25, 4, 'x'), (-1, 5, 'y')",
         {"key field Id holds the number -1."}},
        {"one as a number and as a text", untyped, "(1, 1, 'x'), ('1', 2, 'y'), (3, 3, 'x')",
         {"key field Id holds the number 1 and the text \"1\"."}},
        {"a text in a number field", "CREATE TABLE Keys (Id INT PRIMARY KEY, Size REAL, Class TEXT)",
         "(1, 1, 'x'), ('a', 2, 'y'), (3, 3, 'x')", {"key field Id is a number field but holds the text \"a\""}},
        {"100 KB text", untyped, "('k1', 1, 'x'), (printf('%.*c', 100000, 'x'), 2, 'y'), ('k3', 3, 'x')",
         {"key field Id holds a text of 100000 characters", "at most 255"}},
        {"binary values", untyped, "(x'01', 1, 'x'), (x'02', 2, 'y'), (x'0A0B', 3, 'x')",
         {"key field Id holds the binary value 0A 0B (2 bytes)"}},
        {"memo key", "CREATE TABLE Keys (Id LONGTEXT PRIMARY KEY, Size REAL, Class TEXT)",
         "('k1', 1, 'x'), ('k2', 2, 'y')", {"key field Id is a Memo field"}},
        {"texts of no declared type", untyped, "('a', 1, 'x'), ('b', 2, 'y'), ('c', 3, 'x')", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string tag = std::string(c.name).substr(0, 5);
        const std::string source = dir.File("work/" + tag + ".db");
        const std::string file = dir.File("work/" + tag + ".txp");
        sqlite3* raw = nullptr;
        ASSERT_EQ(sqlite3_open(source.c_str(), &raw), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(raw, (std::string(c.create) + "; INSERT INTO Keys VALUES " + c.rows).c_str(), nullptr,
                               nullptr, nullptr),
                  SQLITE_OK);
        sqlite3_close(raw);
        dialogs.calls.clear();
        NewProject(file);
        ChooseSource(source);
        ASSERT_TRUE(ChooseTable("Keys"));
        TableOK()->click();
        if (c.named.empty()) {
            EXPECT_TRUE(dialogs.Messages().empty());
            EXPECT_EQ(Main().State().State(), 2);
            EXPECT_EQ(Count(file, "SELECT COUNT(*) FROM Test"), 3);
            continue;
        }
        std::string boxes;
        for (const auto& m : dialogs.Messages()) boxes += (m.title + " | " + m.text + "\n").toStdString();
        EXPECT_EQ(dialogs.Messages().size(), 1u) << boxes;
        if (dialogs.Messages().empty()) continue;
        const std::string text = dialogs.Messages()[0].text.toStdString();
        for (const std::string& part : c.named) EXPECT_NE(text.find(part), std::string::npos) << text;
        EXPECT_EQ(Main().State().State(), 1);
        EXPECT_FALSE(HasTable(file, "Test")) << "no Test without its unique index";
        EXPECT_EQ(ConfigOf(file, "LastState"), "<none>");
    }
}

// Answers as the recorder does, then runs an action at each message box.
struct ActingRecorder : ui::RecordingHandler {
    std::function<void()> onMessage;
    ui::Answer Message(const ui::MessageRequest& r) override {
        const ui::Answer a = RecordingHandler::Message(r);
        if (onMessage) onMessage();
        return a;
    }
};

TEST_F(NewRoad, AFailedStatisticsRunIsNoSuccess) {
    ToTableChosen();
    // Another program holds the project file locked after the first field's
    // statistics, and lets go once the error has been shown: everything after
    // the statistics would work again.
    ActingRecorder recorder;
    ui::ScopedHandler scope(&recorder);
    sqlite3* other = nullptr;
    recorder.onMessage = [&] {
        if (!other) return;
        sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
        sqlite3_close(other);
        other = nullptr;
    };
    auto* timer = new QTimer(&Main());
    timer->setInterval(0);
    QObject::connect(timer, &QTimer::timeout, timer, [&, timer] {
        FStatus* status = app_status();
        if (!status || !status->isVisible() || status->Progress() == 0) return;
        sqlite3_open(project.c_str(), &other);
        sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr);
        timer->stop();
    });
    timer->start();
    TableOK()->click();
    ASSERT_FALSE(recorder.Messages().empty()) << "the statistics failed";
    EXPECT_EQ(recorder.Messages()[0].title, "CDataDef::GatherStats") << recorder.Messages()[0].text.toStdString();
    EXPECT_EQ(Main().State().State(), 1);
    EXPECT_FALSE(app::Globals().gDataDef);
    EXPECT_FALSE(MTessary::Status()->isVisible());
    EXPECT_NE(StatusMain(), " Stats Collected. ");
    EXPECT_FALSE(HasTable(project, "Test"));
    EXPECT_FALSE(HasTable(project, "FieldConfig"));
    EXPECT_EQ(ConfigOf(project, "LastState"), "<none>");
    EXPECT_EQ(ConfigOf(project, "RecordCount"), "<none>");
}

TEST_F(NewRoad, AccessOrdersTable) {
    const char* src = std::getenv("TESSARY_SOURCE_DIR");
    const std::string nwind =
        CopyData(std::string(src ? src : ".") + "/tests/data/access/nwind.mdb", "nwind.mdb");
    NewProject(project);
    ChooseSource(nwind);
    ASSERT_TRUE(ChooseTable("Orders"));
    ASSERT_TRUE(TableOK()->isEnabled()) << "Orders has a primary key";
    TableOK()->click();
    EXPECT_EQ(Main().State().State(), 2);
    EXPECT_EQ(ConfigOf(project, "RecordCount"), "830");
    EXPECT_EQ(ConfigOf(project, "DataSourceName"), nwind);
    EXPECT_EQ(Count(project, "SELECT COUNT(*) FROM Test"), 830);
    EXPECT_TRUE(dialogs.Messages().empty());
    // The project opens again over the Access file.
    MTessary::MenuCommand(QStringLiteral("mnuFileClose"));
    MTessary::LoadProject(QString::fromStdString(project));
    ASSERT_TRUE(app::Globals().gProject);
    EXPECT_EQ(app::Globals().gDataDef->FieldCount(), 14);
    EXPECT_TRUE(dialogs.Messages().empty());
    // Moved into the program's data folder: relinked there.
    MTessary::MenuCommand(QStringLiteral("mnuFileClose"));
    std::filesystem::create_directories(dir.Path() / "data");
    std::filesystem::rename(nwind, dir.File("data/nwind.mdb"));
    MTessary::LoadProject(QString::fromStdString(project));
    ASSERT_TRUE(app::Globals().gProject);
    EXPECT_EQ(ConfigOf(project, "DataSourceName"), dir.File("data/nwind.mdb"));
    EXPECT_TRUE(dialogs.Messages().empty());
}

TEST_F(NewRoad, OdbcSourcePickedThroughTheFourthFileType) {
    const std::string source = dir.File("flowers.db");
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(source.c_str(), &db), SQLITE_OK);
    std::string sql = "CREATE TABLE Flowers (Id INTEGER PRIMARY KEY, Petal DOUBLE, Kind VARCHAR(10));"
                      "CREATE TABLE Loose (A INTEGER, B TEXT);BEGIN;";
    for (int i = 1; i <= 60; ++i)
        sql += "INSERT INTO Flowers VALUES (" + std::to_string(i) + "," + std::to_string(i % 4) + ",'" +
               (i % 2 ? "a" : "b") + "');";
    ASSERT_EQ(sqlite3_exec(db, (sql + "COMMIT;").c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    std::ofstream(dir.File("odbcinst.ini")) << "[Lite]\nDriver=/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so\n";
    std::ofstream(dir.File("odbc.ini")) << "[flowers]\nDriver=Lite\nDatabase=" << source << "\n"
                                        << "[other]\nDriver=Lite\nDatabase=" << dir.File("none.db") << "\n";
    ::setenv("ODBCSYSINI", dir.Path().c_str(), 1);
    ::setenv("ODBCINI", dir.File("odbc.ini").c_str(), 1);

    NewProject(project);
    // The fourth file type closes the file dialog; a cancelled chooser gives nothing.
    dialogs.filterChoices.push_back(4);
    Control<QPushButton>("pnlTableSel", "cmdOpenFile")->click();
    ASSERT_EQ(dialogs.itemRequests.size(), 1u);
    EXPECT_EQ(dialogs.itemRequests[0].items, (QStringList{"flowers", "other"}));
    EXPECT_TRUE(Main().Panels().tableSel->DatabaseName().isEmpty());
    // Another file type leaves the dialog open (and cancelled here, no prompt follows).
    dialogs.filterChoices.push_back(3);
    Control<QPushButton>("pnlTableSel", "cmdOpenFile")->click();
    EXPECT_EQ(dialogs.itemRequests.size(), 1u);
    dialogs.filterChoices.push_back(4);
    dialogs.items.push_back(QStringLiteral("flowers"));
    Control<QPushButton>("pnlTableSel", "cmdOpenFile")->click();
    EXPECT_EQ(dialogs.itemRequests.size(), 2u);
    EXPECT_EQ(Main().Panels().tableSel->DatabaseName(), "ODBC;DSN=flowers");
    // A table without a unique index is refused.
    ASSERT_TRUE(ChooseTable("Loose"));
    EXPECT_FALSE(TableOK()->isEnabled());
    ASSERT_TRUE(ChooseTable("Flowers"));
    ASSERT_TRUE(TableOK()->isEnabled());
    TableOK()->click();
    EXPECT_EQ(Main().State().State(), 2);
    EXPECT_EQ(ConfigOf(project, "RecordCount"), "60");
    EXPECT_EQ(ConfigOf(project, "DataSourceName"), "ODBC;DSN=flowers");
    EXPECT_TRUE(dialogs.Messages().empty());
    // Open again: the project check compares data-source names, the relink counts through the link.
    MTessary::MenuCommand(QStringLiteral("mnuFileClose"));
    MTessary::LoadProject(QString::fromStdString(project));
    EXPECT_TRUE(app::Globals().gProject);
    EXPECT_TRUE(dialogs.Messages().empty());
    // The data source gone from the driver manager: refused, and nothing stays open.
    MTessary::MenuCommand(QStringLiteral("mnuFileClose"));
    std::ofstream(dir.File("odbc.ini")) << "[other]\nDriver=Lite\nDatabase=" << dir.File("none.db") << "\n";
    MTessary::LoadProject(QString::fromStdString(project));
    EXPECT_FALSE(app::Globals().gProject);
    ASSERT_EQ(dialogs.Messages().size(), 1u);
    EXPECT_EQ(dialogs.Messages()[0].title, "Unable to Open Project");
    EXPECT_EQ(dialogs.Messages()[0].text, "Invalid or corrupt project file.");
    ::unsetenv("ODBCSYSINI");
    ::unsetenv("ODBCINI");
}

}  // namespace
