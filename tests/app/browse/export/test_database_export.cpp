// The marked rows as a table of a database: the table, its fields, index and
// rows; the name rules; all or nothing; another program's file, open in that
// program; Access files refused and untouched.
#include "ExportFixture.h"

#include "MExport.h"
#include "StockShell.h"

#include <sqlite3.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>

using namespace exporttest;

namespace {


std::vector<std::vector<Cell>> Rows() {
    return {
        {Cell::T("Ann"), Cell::D(2.5), Cell::T("apple")},
        {Cell::N(), Cell::D(10), Cell::T("lime")},
        {Cell::T("Cy"), Cell::N(), Cell::T("apple")},
    };
}

// Rows enough for an export that takes a while, with text that fills pages.
std::vector<std::vector<Cell>> ManyRows() {
    std::vector<std::vector<Cell>> rows;
    for (int i = 0; i < 3000; ++i)
        rows.push_back({Cell::T(std::string(60, char('a' + i % 26))), Cell::D(i), Cell::T(i % 2 ? "x" : "y")});
    return rows;
}

std::vector<std::string> UserTables(const DatabasePtr& db) {
    std::vector<std::string> out;
    db->TableDefs().Refresh();
    for (const dao::TableDef& t : db->TableDefs())
        if ((t.Attributes() & dao::dbSystemObject) == 0) out.push_back(t.Name());
    std::sort(out.begin(), out.end());
    return out;
}

// Every row as text, Null as "<Null>".
std::vector<std::string> RowsOf(const DatabasePtr& db, const std::string& table) {
    std::vector<std::string> out;
    RecordsetPtr rs = db->OpenRecordset("SELECT * FROM " + table + " ORDER BY Id", dao::RecordsetType::Snapshot);
    while (!rs->Eof()) {
        std::string line;
        for (int i = 0; i < rs->Fields().Count(); ++i) {
            const com::Variant v = rs->Fields(i).Value();
            line += (i ? "|" : "") + (v.IsNull() ? std::string("<Null>") : dao::VarToString(v));
        }
        out.push_back(line);
        rs->MoveNext();
    }
    return out;
}

}  // namespace

// Another program's SQLite file gets the table and nothing else: its
// user_version (that program's schema version, whatever its value), its
// journal mode, its tables and indexes stay as that program left them.
TEST(DatabaseExport, AnotherProgramsFileGetsTheTableAndNothingElse) {
    ExportProject p("db-foreign", NameSizeKindColumns(), Rows());
    p.Mark({1, 3});
    const std::pair<int, const char*> files[] = {{1, "delete"}, {1, "wal"}, {0, "delete"}, {2, "wal"}, {7, "delete"}};
    for (const auto& [version, mode] : files) {
        SCOPED_TRACE("user_version " + std::to_string(version) + ", " + mode);
        const std::string path = p.dir + "/other-" + std::to_string(version) + mode + ".db";
        const std::string own = "SELECT type, name, sql FROM sqlite_master WHERE name NOT LIKE 'Tessary%' ORDER BY name;"
                                "SELECT * FROM Notes ORDER BY Title COLLATE NOCASE";
        Stock(path, "CREATE TABLE Notes (Id INTEGER PRIMARY KEY, Title TEXT COLLATE NOCASE);"
                    "CREATE INDEX NotesByTitle ON Notes (Title); INSERT INTO Notes (Title) VALUES ('b'), ('A'), "
                    "('_x'), ('[y'), ('Ã©'); PRAGMA user_version = " + std::to_string(version) +
                        "; PRAGMA journal_mode = " + mode);
        const std::vector<std::string> before = Stock(path, own);
        ASSERT_TRUE(MExport::MDBExportMarked(p.ctx, QString::fromStdString(path), 0)) << p.Boxes().front();
        EXPECT_EQ(Stock(path, "PRAGMA user_version"), std::vector<std::string>{std::to_string(version)});
        EXPECT_EQ(Stock(path, "PRAGMA journal_mode"), std::vector<std::string>{mode});
        EXPECT_EQ(Stock(path, own), before);
        EXPECT_EQ(Stock(path, "SELECT count(*) FROM Tessary_Import"), std::vector<std::string>{"2"});
        EXPECT_EQ(Stock(path, "PRAGMA integrity_check"), std::vector<std::string>{"ok"});
    }
}

// Another program keeps its file open and commits before, during and after
// the export: every commit it was told had succeeded is in the file, for the
// table is added in the file itself under SQLite's own locking. Killed part
// way, the export leaves the file as it was; while that program keeps a
// transaction open, the export is refused after a while as in use.
TEST(DatabaseExport, AnotherProgramWritingItsOpenFileLosesNothing) {
    if (testsupport::StockShell::Path().empty()) GTEST_SKIP() << "the stock sqlite3 shell is not installed";
    ExportProject p("db-live", NameSizeKindColumns(), ManyRows());
    p.Run("UPDATE Test SET Mark=-1");
    // True once the file's write lock is seen held by someone else.
    auto held = [](const std::string& path) {
        sqlite3* db = nullptr;
        sqlite3_open(path.c_str(), &db);
        const int rc = sqlite3_exec(db, "BEGIN IMMEDIATE; ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close(db);
        return rc == SQLITE_BUSY;
    };
    for (const std::string mode : {"delete", "wal"}) {
        SCOPED_TRACE(mode);
        const std::string path = p.dir + "/app-" + mode + ".db";
        Stock(path, "PRAGMA journal_mode=" + mode + "; CREATE TABLE log (n INTEGER); INSERT INTO log VALUES (0)");
        testsupport::StockShell::Session other(path);
        // Its commits stay short however slow the disk: a writer that held
        // the file for long at every commit would be refused as busy.
        ASSERT_EQ(other.Run("PRAGMA synchronous=OFF; PRAGMA busy_timeout=5000"), "5000\n");
        int rows = 1, told = 1;  // rows it added, and those it was told it had
        auto insert = [&](const std::string& begin) {
            told += other.Run(begin + "INSERT INTO log VALUES (" + std::to_string(rows++) + ") RETURNING 'ok'") == "ok\n";
        };
        insert("");

        std::atomic<bool> exporting{true};
        std::thread writer([&] {
            for (; exporting; std::this_thread::sleep_for(std::chrono::milliseconds(20))) insert("");
        });
        const bool done = MExport::MDBExportMarked(p.ctx, QString::fromStdString(path), 0);
        exporting = false;
        writer.join();
        EXPECT_TRUE(done) << p.Boxes().front();
        EXPECT_EQ(told, rows);
        EXPECT_EQ(Stock(path, "SELECT count(*) FROM log"), std::vector{std::to_string(rows)});

        const pid_t child = ::fork();
        if (child == 0) {
            MExport::MDBExportMarked(p.ctx, QString::fromStdString(path), 0);
            ::_exit(0);
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!held(path) && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the export ended before it was killed";

        insert("BEGIN IMMEDIATE; ");
        p.dialogs.Clear();
        const auto asked = std::chrono::steady_clock::now();
        EXPECT_FALSE(MExport::MDBExportMarked(p.ctx, QString::fromStdString(path), 0));
        EXPECT_GT(std::chrono::steady_clock::now() - asked, std::chrono::seconds(1)) << "refused without waiting";
        EXPECT_EQ(p.Boxes(), std::vector<std::string>{"MTessary::MDBExportMarked | Error: 3196. \nThe database engine "
                                                      "could not use '" + path + "'; the file is already in use by "
                                                      "another person or process. It is left as it was."});
        EXPECT_EQ(other.Run("COMMIT; SELECT 'committed'"), "committed\n");

        for (int i = 0; i < 10; ++i) insert("");
        EXPECT_EQ(told, rows);
        EXPECT_EQ(other.Run("SELECT count(*) FROM log"), std::to_string(rows) + "\n");
        EXPECT_EQ(Stock(path, "SELECT count(*) FROM log"), std::vector{std::to_string(rows)});
        EXPECT_EQ(Stock(path, "SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name"),
                  (std::vector<std::string>{"Tessary_Import", "log"}));
        EXPECT_EQ(Stock(path, "SELECT count(*) FROM Tessary_Import"), std::vector<std::string>{"3000"});
        EXPECT_EQ(Stock(path, "PRAGMA journal_mode"), std::vector<std::string>{mode});
        EXPECT_EQ(Stock(path, "PRAGMA integrity_check"), std::vector<std::string>{"ok"});
    }
}

TEST(DatabaseExport, NewDatabaseHoldsOneTableWithFieldsIndexAndRows) {
    ExportProject p("db-new", NameSizeKindColumns(), Rows());
    p.Mark({1, 2, 3});
    p.Predict(2, 1);
    p.TestRange("2", "3");
    const std::string path = p.dir + "/out.mdb";
    ASSERT_TRUE(MExport::MDBExportMarked(p.ctx, QString::fromStdString(path), 0));
    EXPECT_TRUE(p.Boxes().empty());

    DatabasePtr db = dao::DBEngine::OpenDatabase(path, false, true);
    EXPECT_EQ(UserTables(db), std::vector<std::string>{"Tessary_Import"});
    dao::TableDef t = db->TableDefs()["Tessary_Import"];
    std::vector<std::string> fields;
    for (const dao::Field& f : t.Fields())
        fields.push_back(f.Name() + ":" + std::to_string(f.Type()) + ":" + std::to_string(f.Size()));
    DatabasePtr project = p.project.OpenProject(false);
    dao::Fields& source = project->TableDefs()["LinkDataSource"].Fields();
    const long kindSize = source["Kind"].Size();
    auto spec = [&](const std::string& name) {
        return name + ":" + std::to_string(source[name].Type()) + ":" + std::to_string(source[name].Size());
    };
    EXPECT_EQ(fields, (std::vector<std::string>{"Predicted:10:" + std::to_string(kindSize), spec("Id"), spec("Name"),
                                                spec("Size"), spec("Kind")}));
    ASSERT_EQ(t.Indexes().Count(), 1);
    EXPECT_EQ(t.Indexes()[0].Name(), "PrimaryKey");
    EXPECT_TRUE(t.Indexes()[0].Primary());
    EXPECT_EQ(t.Indexes()[0].Fields()[0].Name(), "Id");
    // Nulls stay Null; the prediction never is.
    EXPECT_EQ(RowsOf(db, "Tessary_Import"), (std::vector<std::string>{"N/A|1|Ann|2.5|apple", "apple|2|<Null>|10|lime",
                                                                       "N/A|3|Cy|<Null>|apple"}));
}

// Names are compared as the database compares them: whatever the case.
TEST(DatabaseExport, TableNameSkipsTakenNamesAndLeavesThemAlone) {
    ExportProject p("db-names", NameSizeKindColumns(), Rows());
    p.Mark({1});
    const std::string path = p.dir + "/out.mdb";
    {
        DatabasePtr db = dao::DBEngine::CreateDatabase(path, dao::dbLangGeneral);
        db->Execute("CREATE TABLE TESSARY_IMPORT1 (A TEXT(5))");
        db->Execute("CREATE TABLE tessary_import (A TEXT(5))");
        db->Execute("INSERT INTO tessary_import (A) VALUES ('keep')");
    }
    ASSERT_TRUE(MExport::MDBExportMarked(p.ctx, QString::fromStdString(path), 0));
    ASSERT_TRUE(MExport::MDBExportMarked(p.ctx, QString::fromStdString(path), 0));
    EXPECT_TRUE(p.Boxes().empty());
    DatabasePtr db = dao::DBEngine::OpenDatabase(path, false, true);
    EXPECT_EQ(UserTables(db),
              (std::vector<std::string>{"TESSARY_IMPORT1", "Tessary_Import2", "Tessary_Import3", "tessary_import"}));
    EXPECT_EQ(db->OpenRecordset("SELECT A FROM tessary_import")->Fields(0).AsString(), "keep");
    EXPECT_EQ(RowsOf(db, "Tessary_Import2"), RowsOf(db, "Tessary_Import3"));
}

TEST(DatabaseExport, NoRowsLeaveTheTableEmptyWithItsIndex) {
    ExportProject p("db-empty", NameSizeKindColumns(), Rows());
    const std::string path = p.dir + "/out.mdb";
    ASSERT_TRUE(MExport::MDBExportMarked(p.ctx, QString::fromStdString(path), 0));
    DatabasePtr db = dao::DBEngine::OpenDatabase(path, false, true);
    EXPECT_EQ(db->TableDefs()["Tessary_Import"].Fields().Count(), 5);
    EXPECT_EQ(db->TableDefs()["Tessary_Import"].Indexes().Count(), 1);
    EXPECT_TRUE(RowsOf(db, "Tessary_Import").empty());
}

// A Yes/No output is one byte wide; the prediction field must still hold "N/A".
TEST(DatabaseExport, PredictionFieldHoldsNAForANonTextOutput) {
    ExportProject p("db-bool", {{"Size", "REAL", MatchType::Numeric}, {"Ok", "BOOLEAN", MatchType::Output}},
                    {{Cell::D(1), Cell::D(1)}, {Cell::D(2), Cell::D(0)}});
    p.Mark({1, 2});
    const std::string path = p.dir + "/out.mdb";
    ASSERT_TRUE(MExport::MDBExportMarked(p.ctx, QString::fromStdString(path), 0)) << p.Boxes()[0];
    DatabasePtr db = dao::DBEngine::OpenDatabase(path, false, true);
    EXPECT_GE(db->TableDefs()["Tessary_Import"].Fields()[0].Size(), 3);
    EXPECT_EQ(RowsOf(db, "Tessary_Import").size(), 2u);
}

// A failure part way: no table is left in an existing database, and a database
// made for the export is removed.
TEST(DatabaseExport, FailureLeavesNothingBehind) {
    ExportProject p("db-fail", NameSizeKindColumns(), ManyRows());
    p.Run("UPDATE Test SET Mark=-1");
    const std::string existing = p.dir + "/old.mdb";
    {
        DatabasePtr db = dao::DBEngine::CreateDatabase(existing, dao::dbLangGeneral);
        db->Execute("CREATE TABLE Mine (A TEXT(5))");
    }
    const std::string fresh = p.dir + "/new.mdb";

    std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit limited = saved;
    limited.rlim_cur = 96 * 1024;
    setrlimit(RLIMIT_FSIZE, &limited);
    const bool intoExisting = MExport::MDBExportMarked(p.ctx, QString::fromStdString(existing), 0);
    const bool intoFresh = MExport::MDBExportMarked(p.ctx, QString::fromStdString(fresh), 0);
    setrlimit(RLIMIT_FSIZE, &saved);

    EXPECT_FALSE(intoExisting);
    EXPECT_FALSE(intoFresh);
    ASSERT_EQ(p.Boxes().size(), 2u);
    EXPECT_EQ(p.dialogs.Messages()[0].title, "MTessary::MDBExportMarked");
    EXPECT_EQ(UserTables(dao::DBEngine::OpenDatabase(existing, false, true)), std::vector<std::string>{"Mine"});
    EXPECT_FALSE(std::filesystem::exists(fresh));
}

TEST(DatabaseExport, AccessFileIsRefusedAndUntouched) {
    ExportProject p("db-access", NameSizeKindColumns(), Rows());
    p.Mark({1});
    const char* src = std::getenv("TESSARY_SOURCE_DIR");
    const std::string sample = std::string(src ? src : ".") + "/tests/data/access/DateTestDatabase.mdb";
    const std::string path = p.dir + "/access.mdb";
    std::filesystem::copy_file(sample, path);
    std::filesystem::permissions(path, std::filesystem::perms::owner_write, std::filesystem::perm_options::add);
    const std::string before = ReadFile(path);
    EXPECT_FALSE(MExport::MDBExportMarked(p.ctx, QString::fromStdString(path), 0));
    ASSERT_EQ(p.Boxes().size(), 1u);
    EXPECT_NE(p.Boxes()[0].find("cannot be written: Access databases"), std::string::npos) << p.Boxes()[0];
    EXPECT_EQ(ReadFile(path), before);
}
