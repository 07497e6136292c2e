// Row marks toggled in every view of a project over each kind of source (an
// SQLite file, an Access file, an ODBC link) while another program flips the
// same marks: the marks live in the project's own Test table, whatever the source.
#include "BrowseFixture.h"

#include "MdbUtils.h"
#include "PythonFlipper.h"

#include <sqlite3.h>

#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTableView>

#include <cstdlib>
#include <fstream>
#include <functional>

namespace {

struct Source {
    const char* kind;
    std::string table, output;
    // Makes the data in dir; what AttachDataSource takes ("" to skip, with why in skip).
    std::function<std::string(const std::string& dir, std::string& skip)> make;
};

void WriteFlowers(const std::string& file) {
    sqlite3* db = nullptr;
    sqlite3_open(file.c_str(), &db);
    treetest::Sql(db, "CREATE TABLE Flowers (Id INTEGER PRIMARY KEY, Petal DOUBLE, Kind VARCHAR(10))");
    treetest::Sql(db, "BEGIN");
    for (int i = 1; i <= 60; ++i)
        treetest::Sql(db, "INSERT INTO Flowers VALUES (" + std::to_string(i) + ", " + std::to_string(i % 7) + ", '" +
                              (i % 2 ? "a" : "b") + "')");
    treetest::Sql(db, "COMMIT");
    sqlite3_close(db);
}

std::vector<Source> Sources() {
    return {
        {"an SQLite file", "Flowers", "Kind",
         [](const std::string& dir, std::string&) {
             WriteFlowers(dir + "/data.db");
             return dir + "/data.db";
         }},
        {"an Access file", "Orders", "ShipVia",
         [](const std::string& dir, std::string&) {
             const char* src = std::getenv("TESSARY_SOURCE_DIR");
             std::filesystem::copy_file(std::string(src ? src : ".") + "/tests/data/access/nwind.mdb", dir + "/nwind.mdb");
             return dir + "/nwind.mdb";
         }},
        {"an ODBC link", "Flowers", "Kind",
         [](const std::string& dir, std::string& skip) {
             const std::string driver = "/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so";
             if (::access(driver.c_str(), R_OK) != 0) {
                 skip = "the SQLite3 ODBC driver is not installed";
                 return std::string();
             }
             WriteFlowers(dir + "/odbc.db");
             std::ofstream(dir + "/odbcinst.ini") << "[Lite]\nDriver=" << driver << "\n";
             std::ofstream(dir + "/odbc.ini") << "[flowers]\nDriver=Lite\nDatabase=" << dir << "/odbc.db\n";
             ::setenv("ODBCSYSINI", dir.c_str(), 1);
             ::setenv("ODBCINI", (dir + "/odbc.ini").c_str(), 1);
             return std::string("ODBC;DSN=flowers");
         }},
    };
}

// Row r toggled as a person toggles it: with Space, or with a double click.
void Toggle(UGrid& grid, int r, bool space) {
    QTableView* right = grid.Grid()->SplitView(1);
    grid.Grid()->SetRow(r);
    if (space) {
        QKeyEvent key(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
        QApplication::sendEvent(right, &key);
    } else {
        const QPoint at(right->columnViewportPosition(right->horizontalHeader()->logicalIndexAt(0)) + 3,
                        right->rowViewportPosition(r) + 3);
        QMouseEvent e(QEvent::MouseButtonDblClick, QPointF(at), QPointF(right->viewport()->mapToGlobal(at)),
                      Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(right->viewport(), &e);
    }
    QApplication::processEvents();
}

}  // namespace

TEST(TogglesBesideAnotherProgram, EverySourceAndEveryViewLosesNoMark) {
    browsetest::App();
    if (browsetest::PythonFlipper::Python().empty()) GTEST_SKIP() << "python3 is not installed";
    ui::ScopedRecorder dialogs;
    app::ScopedFakeShell shell;
    // Browse type and mark filter: all rows, test rows, marked rows, unmarked rows.
    const std::pair<int16_t, int16_t> views[] = {{0, 0}, {1, 0}, {0, 1}, {0, 2}};
    for (const Source& source : Sources()) {
        SCOPED_TRACE(source.kind);
        const std::string dir = treetest::TempDir("toggle-sources");
        ::setenv("TESSARY_CACHE", (dir + "/cache").c_str(), 1);
        std::string skip;
        const std::string from = source.make(dir, skip);
        if (from.empty()) {
            std::cout << "skipped " << source.kind << ": " << skip << "\n";
            continue;
        }
        auto project = std::make_shared<CProject>();
        project->SetFileName(dir + "/project.txp");
        project->Create();
        ASSERT_TRUE(project->AttachDataSource(from, source.table));
        DatabasePtr db = project->OpenProject(false);
        auto def = std::make_shared<CDataDef>();
        def->Initialize(db, "LinkDataSource");
        def->CollectStats(db);
        MdbUtils::CreateTestTable(*project, *def);
        for (int16_t i = 0; i < def->FieldCount(); ++i)
            if (def->FieldName(i) == source.output) def->SetUserMatchType(i, MatchType::Output);
        def->Save(db);
        const std::string key = def->FieldName(def->PrimaryKeyField());
        auto sql = std::make_shared<CSqlMachine>();
        sql->Initialize(def, project);
        for (const auto& [type, marks] : views) {
            SCOPED_TRACE("browse type " + std::to_string(type) + ", mark view " + std::to_string(marks));
            project->OpenProject(false)->Execute(marks == 1 ? "UPDATE Test SET Mark = -1;" : "UPDATE Test SET Mark = 0;");
            sql->SetBrowseType(type);
            sql->SetMarkView(marks);
            UGrid grid;
            grid.resize(900, 500);
            grid.SetDatabaseName(QString::fromStdString(project->FileName()));
            grid.SetRecordSource(QString::fromStdString(sql->GetSql()));
            grid.SetDataBrowse(MBrowseViews::NewBrowseView(type, def, project));
            grid.show();
            QApplication::processEvents();
            CBrowseModel* model = grid.Grid()->Model();
            int keyCol = -1;
            for (int c = 0; c < model->columnCount(); ++c)
                if (model->Columns()[size_t(c)].dataField == QString::fromStdString(key)) keyCol = c;
            ASSERT_GE(keyCol, 0);
            ASSERT_GE(model->Count(), 20);
            std::vector<long> keys;
            for (int r = 0; r < 20; ++r) keys.push_back(long(model->Value(r, keyCol).toDouble()));
            std::map<long, int> flips;
            {
                browsetest::PythonFlipper other(project->FileName(), keys);
                ASSERT_EQ(other.Line(), "ready");
                for (int i = 0; i < 150; ++i) {
                    const int r = (i * 7) % 20;
                    Toggle(grid, r, i % 3 != 2);
                    ++flips[keys[size_t(r)]];
                }
                for (const auto& [k, n] : other.Stop()) flips[k] += n;
            }
            EXPECT_TRUE(shell.status.texts.isEmpty()) << shell.status.texts.join(" | ").toStdString();
            auto rs = project->OpenProject(false)->OpenRecordset("SELECT MainPrimaryKey, Mark FROM Test",
                                                                 dao::RecordsetType::Snapshot);
            const short start = marks == 1 ? -1 : 0;
            int wrong = 0;
            for (; !rs->Eof(); rs->MoveNext()) {
                const long k = rs->Fields(0).AsLong();
                const short expected = flips[k] % 2 ? short(~start) : start;
                wrong += rs->Fields(1).AsShort() != expected;
            }
            EXPECT_EQ(wrong, 0);
            grid.Disconnect();
        }
        EXPECT_TRUE(dialogs.Messages().empty());
        project->CloseProject();
        ::unsetenv("ODBCSYSINI");
        ::unsetenv("ODBCINI");
        ::unsetenv("TESSARY_CACHE");
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
}
