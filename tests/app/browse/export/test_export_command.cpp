// The export command: its dialog, the checks on the chosen name, the choice of
// writer and the overwrite question; and the tree export command.
#include "ExportFixture.h"

#include "MExport.h"
#include "TextImport.h"

#include "../../../support/FileDialogDriver.h"
#include "../../../support/IntegrityCheck.h"

#include <QFileInfo>
#include <QProcess>

#include <csignal>
#include <cstring>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>

using namespace exporttest;
using Kind = ui::RecordingHandler::Kind;

namespace {

std::vector<std::vector<Cell>> Rows() {
    return {{Cell::D(1.5), Cell::T("a")}, {Cell::D(2), Cell::T("b")}, {Cell::D(3), Cell::T("a")}};
}

const std::vector<Column>& Columns() {
    static const std::vector<Column> cols = {{"Size", "REAL", MatchType::Numeric}, {"Kind", "TEXT", MatchType::Output}};
    return cols;
}

const std::string kProtected = "Cannot overwrite project datasource.  Please select another file name.";
constexpr int kDatabaseType = 2;  // "MS Access (*.mdb)" in the save dialog's list

// What the stock sqlite3 shell, another program, prints for sql on file.
std::string SqliteShell(const std::string& file, const std::string& sql) {
    QProcess shell;
    shell.start(QStringLiteral("sqlite3"), {QString::fromStdString(file), QString::fromStdString(sql)});
    if (!shell.waitForFinished(10000)) return "sqlite3 did not run";
    return (shell.readAllStandardOutput() + shell.readAllStandardError()).toStdString();
}

// Answers the overwrite question Yes, having first turned the file it asks
// about into a link to another file, as another program could while it is up.
class LinkWhileAsked : public ui::RecordingHandler {
public:
    LinkWhileAsked(std::string file, std::string linkTo) : mFile(std::move(file)), mLinkTo(std::move(linkTo)) {}
    ui::Answer Message(const ui::MessageRequest& r) override {
        if (r.text.endsWith(QStringLiteral(" exists.  Overwrite?"))) {
            std::filesystem::remove(mFile);
            std::filesystem::create_symlink(mLinkTo, mFile);
        }
        return RecordingHandler::Message(r);
    }

private:
    std::string mFile, mLinkTo;
    ui::ScopedHandler mScope{this};
};

std::vector<std::string> Boxes(const ui::RecordingHandler& h) {
    std::vector<std::string> out;
    for (const auto& m : h.Messages()) out.push_back((m.title + " | " + m.text).toStdString());
    return out;
}

size_t SaveDialogs(const ExportProject& p) {
    return size_t(std::count_if(p.dialogs.calls.begin(), p.dialogs.calls.end(),
                                [](const auto& c) { return c.kind == Kind::SaveFile; }));
}

}  // namespace

TEST(ExportCommand, EmptyViewOpensNoDialogWholeTableDoes) {
    ExportProject p("cmd-empty", Columns(), Rows());
    MExport::Export(p.ctx, -1);
    EXPECT_EQ(p.shell.status.texts, QStringList{QStringLiteral("No records to export.")});
    EXPECT_TRUE(p.dialogs.calls.empty());

    // A bound grid with no rows is empty too.
    p.grid.rows = p.project.OpenProject(false)->OpenRecordset("SELECT * FROM Test", dao::RecordsetType::Snapshot);
    p.grid.count = 0;
    MExport::Export(p.ctx, -1);
    EXPECT_TRUE(p.dialogs.calls.empty());

    MExport::Export(p.ctx, 0);  // cancelled
    ASSERT_EQ(p.dialogs.fileRequests.size(), 1u);
    const ui::FileRequest& r = p.dialogs.fileRequests[0];
    EXPECT_EQ(r.title, "Export Marked Rows");
    EXPECT_EQ(r.filter, "Text (*.txt)|*.txt|MS Access (*.mdb)|*.mdb");
    EXPECT_EQ(r.defaultName, "project.txt");
    EXPECT_EQ(r.defaultSuffix, "txt");
    EXPECT_EQ(r.directory, QString::fromStdString(p.dir));
    EXPECT_FALSE(r.confirmOverwrite);
    EXPECT_EQ(p.shell.status.texts.size(), 2);
}

// The current view's marked rows: the view's own filter with marked rows only,
// and the builder's MarkView put back.
TEST(ExportCommand, CurrentViewScopeUsesTheViewsFilter) {
    ExportProject p("cmd-view", Columns(), Rows());
    p.Mark({1, 2, 3});
    p.sql->SetBrowseType(0);
    p.sql->SetKeyMin("2");
    p.sql->SetMarkView(2);
    p.grid.rows = p.project.OpenProject(false)->OpenRecordset("SELECT * FROM Test", dao::RecordsetType::Snapshot);
    p.grid.count = 3;
    const std::string path = p.dir + "/view.txt";
    p.dialogs.files.push_back(QString::fromStdString(path));
    MExport::Export(p.ctx, -1);
    EXPECT_EQ(ReadFile(path), "Predicted,Id,Size,Kind\r\nN/A,2,2,b\r\nN/A,3,3,a\r\n");
    EXPECT_EQ(p.sql->MarkView(), 2);
}

TEST(ExportCommand, ProjectFileAndDataSourceAreRefused) {
    ExportProject p("cmd-project", Columns(), Rows());
    const std::string projectBytes = ReadFile(p.projectPath);
    // Another spelling of the project's path, then the data source through a link.
    std::filesystem::create_symlink(p.dataPath, p.dir + "/link.txt");
    p.dialogs.files = {QString::fromStdString(p.dir + "/./project.txp"), QString::fromStdString(p.dir + "/link.txt")};
    MExport::Export(p.ctx, 0);
    const auto boxes = p.Boxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0], "Export Marked | Cannot overwrite project datasource.  Please select another file name.");
    EXPECT_EQ(boxes[1], boxes[0]);
    EXPECT_EQ(SaveDialogs(p), 3u);  // the third one cancelled
    EXPECT_EQ(ReadFile(p.projectPath), projectBytes);
}

TEST(ExportCommand, OverwriteQuestionNoAsksAgainYesReplaces) {
    ExportProject p("cmd-overwrite", Columns(), Rows());
    p.Mark({2});
    const std::string path = p.dir + "/out.txt";
    WriteFile(path, "old");
    p.dialogs.files = {QString::fromStdString(path), QString::fromStdString(path)};
    p.dialogs.answers = {ui::Answer::No, ui::Answer::Yes};
    MExport::Export(p.ctx, 0);
    const auto boxes = p.Boxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0], " Warning | out.txt exists.  Overwrite?");
    EXPECT_EQ(p.dialogs.Messages()[0].buttons, ui::Buttons::YesNo);
    // The second dialog proposes the default name again, not the one chosen before.
    ASSERT_EQ(p.dialogs.fileRequests.size(), 2u);
    EXPECT_EQ(p.dialogs.fileRequests[1].defaultName, "project.txt");
    EXPECT_EQ(ReadFile(path), "Predicted,Id,Size,Kind\r\nN/A,2,2,b\r\n");
}

// The file type chosen decides, whatever the name: under "MS Access (*.mdb)"
// another program's SQLite file of any name gets the table beside its own,
// untouched, and no question; under "Text (*.txt)" even a ".mdb" name, or a
// name in a folder called x.mdb, is written as text.
TEST(ExportCommand, TheChosenFileTypeDecidesTextOrDatabase) {
    ExportProject p("cmd-type", Columns(), Rows());
    p.Mark({1});
    const std::string other = p.dir + "/other.db";
    ASSERT_TRUE(Stock(other, "CREATE TABLE Orders (Id INTEGER PRIMARY KEY, Item TEXT); "
                             "INSERT INTO Orders VALUES (1, 'pen'), (2, 'ink'); "
                             "CREATE TABLE Notes (N TEXT); INSERT INTO Notes VALUES ('kept')")
                    .empty());
    std::filesystem::create_directories(p.dir + "/x.mdb");
    const std::string text = "Predicted,Id,Size,Kind\r\nN/A,1,1.5,a\r\n";
    struct Case {
        std::string name;
        int fileType;
        bool database;
    } const cases[] = {
        {other, kDatabaseType, true},
        {p.dir + "/rows", kDatabaseType, true},
        {p.dir + "/rows.MDB.txt", 1, false},
        {p.dir + "/rows.mdb", 1, false},
        {p.dir + "/x.mdb/rows.txt", 1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        p.dialogs.Clear();
        p.dialogs.files = {QString::fromStdString(c.name)};
        p.dialogs.filterChoices = {c.fileType};
        MExport::Export(p.ctx, 0);
        EXPECT_TRUE(p.Boxes().empty()) << p.Boxes().front();
        if (c.database)
            EXPECT_EQ(Stock(c.name, "SELECT Predicted || ',' || Id FROM Tessary_Import"),
                      std::vector<std::string>{"N/A,1"});
        else
            EXPECT_EQ(ReadFile(c.name), text);
    }
    // What another program reads of the other file: its own tables as they were.
    EXPECT_EQ(SqliteShell(other, "PRAGMA integrity_check; SELECT name FROM sqlite_master WHERE type = 'table' "
                                 "ORDER BY name; SELECT * FROM Orders; SELECT * FROM Notes;"),
              "ok\nNotes\nOrders\nTessary_Import\n1|pen\n2|ink\nkept\n");

    // Text chosen for the database, and Yes to the question: text replaces it.
    p.dialogs.Clear();
    p.dialogs.files = {QString::fromStdString(other)};
    p.dialogs.filterChoices = {1};
    p.dialogs.answers = {ui::Answer::Yes};
    MExport::Export(p.ctx, 0);
    EXPECT_EQ(p.Boxes(), std::vector<std::string>{" Warning | other.db exists.  Overwrite?"});
    EXPECT_EQ(ReadFile(other), text);
}

// The real save dialog: "MS Access (*.mdb)" picked in its list of file types,
// then the name of another program's SQLite file typed: the table is added.
TEST(ExportCommand, TheRealSaveDialogsFileTypeChoosesTheDatabase) {
    ExportProject p("cmd-real-type", Columns(), Rows());
    p.Mark({1, 2});
    const std::string other = p.dir + "/other.db";
    ASSERT_TRUE(Stock(other, "CREATE TABLE A (V INTEGER); INSERT INTO A VALUES (7); CREATE TABLE B (W TEXT)").empty());
    testsupport::RealFileDialogs real;
    for (const int fileType : {kDatabaseType, 1}) {
        SCOPED_TRACE(fileType);
        testsupport::FileDialogSeen seen;
        testsupport::TypeIntoNextFileDialog(fileType == 1 ? "rows.mdb" : "other.db", &seen, fileType);
        MExport::Export(p.ctx, 0);
        EXPECT_TRUE(seen.shown);
        EXPECT_EQ(seen.fileType, fileType == 1 ? "Text (*.txt)" : "MS Access (*.mdb)");
        EXPECT_TRUE(real.Messages().empty());
    }
    EXPECT_EQ(SqliteShell(other, "SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name; "
                                 "SELECT * FROM A; SELECT COUNT(*) FROM Tessary_Import;"),
              "A\nB\nTessary_Import\n7\n2\n");
    EXPECT_EQ(ReadFile(p.dir + "/rows.mdb").rfind("Predicted,Id,Size,Kind\r\n", 0), 0u);

    // A name with no extension takes the type's own: a database named .mdb, no .txt.
    testsupport::FileDialogSeen seen;
    testsupport::TypeIntoNextFileDialog("bare", &seen, kDatabaseType);
    MExport::Export(p.ctx, 0);
    EXPECT_TRUE(seen.shown);
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(p.dir + "/bare.txt")));
    EXPECT_EQ(SqliteShell(p.dir + "/bare.mdb", "SELECT COUNT(*) FROM Tessary_Import;"), "2\n");
}

TEST(TreeExport, CancelChangesNothingNoTreeLeavesTheFile) {
    ExportProject p("tree-none", Columns(), Rows());
    MExport::Export2CSV(p.ctx);
    ASSERT_EQ(p.dialogs.fileRequests.size(), 1u);
    const ui::FileRequest& r = p.dialogs.fileRequests[0];
    EXPECT_EQ(r.title, "Export To Visio");
    EXPECT_EQ(r.filter, "Visio Text (*.csv)|*.csv");
    EXPECT_EQ(r.defaultName, "*.csv");
    EXPECT_TRUE(p.shell.status.texts.isEmpty());
    EXPECT_FALSE(p.trx);

    // No: the file stays and nothing else happens.
    const std::string path = p.dir + "/tree.csv";
    WriteFile(path, "user data");
    p.dialogs.files = {QString::fromStdString(path)};
    p.dialogs.answers = {ui::Answer::No};
    MExport::Export2CSV(p.ctx);
    EXPECT_EQ(p.Boxes(), std::vector<std::string>{p.dialogs.Messages()[0].title.toStdString() + " | " + path +
                                                  " exists.  Overwrite?"});
    EXPECT_FALSE(p.trx);

    // Yes with no tree: the driver is made, the file is left as it was.
    p.dialogs.files = {QString::fromStdString(path)};
    p.dialogs.answers = {ui::Answer::Yes};
    MExport::Export2CSV(p.ctx);
    EXPECT_TRUE(p.trx);
    EXPECT_EQ(p.shell.status.texts, (QStringList{QStringLiteral("Loading the current tree..."),
                                                 QStringLiteral("No current tree to export.")}));
    EXPECT_EQ(ReadFile(path), "user data");
}

TEST(TreeExport, StoredTreeIsExportedAndTheDriverKept) {
    ExportProject p("tree-csv", FruitColumns(), FruitRows());
    Built(p, 0, 52)->SaveTree(&p.project);
    const std::string path = p.dir + "/tree.csv";
    p.dialogs.files = {QString::fromStdString(path)};
    MExport::Export2CSV(p.ctx);
    ASSERT_TRUE(p.trx);
    EXPECT_EQ(p.shell.status.texts.back(), "Export Complete.");
    const std::string first = ReadFile(path);
    EXPECT_EQ(first.rfind(";Visio CSV import type\r\n", 0), 0u);
    EXPECT_NE(first.find("Shape,0,,Start"), std::string::npos);

    // A second export finds the driver and neither makes nor reloads it.
    CTRX* driver = p.trx.get();
    p.shell.status.texts.clear();
    std::filesystem::remove(path);
    p.dialogs.files = {QString::fromStdString(path)};
    MExport::Export2CSV(p.ctx);
    EXPECT_EQ(p.trx.get(), driver);
    EXPECT_EQ(p.shell.status.texts,
              (QStringList{QStringLiteral("Exporting the current tree..."), QStringLiteral("Export Complete.")}));
    EXPECT_EQ(ReadFile(path), first);
}

// A failed write is not reported as complete, and the old file stays.
TEST(TreeExport, FailedWriteIsNotComplete) {
    ExportProject p("tree-fail", FruitColumns(), FruitRows());
    Built(p, 0, 52)->SaveTree(&p.project);
    const std::string path = p.dir + "/tree.csv";
    WriteFile(path, "old");
    p.dialogs.files = {QString::fromStdString(path)};
    p.dialogs.answers = {ui::Answer::Yes};
    // Loaded first, so that only the file's write meets the size limit.
    p.trx = std::make_shared<CTRX>();
    p.trx->Initialize(p.dataDef, &p.project);
    p.trx->LoadTree(&p.project);
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit limited = saved;
    limited.rlim_cur = 100;
    setrlimit(RLIMIT_FSIZE, &limited);
    MExport::Export2CSV(p.ctx);
    setrlimit(RLIMIT_FSIZE, &saved);
    ASSERT_EQ(p.Boxes().size(), 2u);
    EXPECT_EQ(p.dialogs.Messages()[1].title, "CTRX::Export2CSV");
    EXPECT_EQ(p.shell.status.texts.back(), "");
    EXPECT_FALSE(p.shell.status.texts.contains(QStringLiteral("Export Complete.")));
    EXPECT_EQ(ReadFile(path), "old");
}

// The data source by any spelling: a link relative to the project's folder
// (as the database layer opens it), "./" in the link or the chosen path, a
// symbolic link to the source; for the text and the database writer alike.
TEST(ExportCommand, TheLinkedSourceIsRefusedHoweverLinkAndPathAreSpelt) {
    ExportProject p("cmd-source", Columns(), Rows());
    p.Mark({1});
    const std::string mdb = p.dir + "/src.mdb";  // the same data under an Access name
    std::filesystem::copy_file(p.dataPath, mdb);
    std::filesystem::create_directories(p.dir + "/other");
    std::filesystem::create_symlink(p.dataPath, p.dir + "/other/alias.txt");
    std::filesystem::create_symlink(mdb, p.dir + "/other/alias.mdb");
    const std::string textBytes = ReadFile(p.dataPath), mdbBytes = ReadFile(mdb);
    struct Case {
        std::string link, target;
    };
    const Case cases[] = {{";DATABASE=data.db", p.dataPath},
                          {";DATABASE=./data.db", p.dir + "/other/../data.db"},
                          {";DATABASE=data.db", p.dir + "/other/alias.txt"},
                          {";DATABASE=src.mdb", mdb},
                          {";DATABASE=./src.mdb", p.dir + "/./other/alias.mdb"}};
    for (const Case& c : cases) {
        {
            DatabasePtr db = p.project.OpenProject(false);
            dao::TableDef link = db->TableDefs()["LinkDataSource"];
            link.SetConnect(c.link);
            link.RefreshLink();
        }
        p.dialogs.Clear();
        p.dialogs.files = {QString::fromStdString(c.target)};
        p.dialogs.answers = {ui::Answer::Yes};  // had the overwrite question come, it would be Yes
        MExport::Export(p.ctx, 0);
        EXPECT_EQ(p.Boxes(), std::vector<std::string>{
                                 "Export Marked | Cannot overwrite project datasource.  Please select another file name."})
            << c.link << " onto " << c.target;
    }
    EXPECT_EQ(ReadFile(p.dataPath), textBytes);
    EXPECT_EQ(ReadFile(mdb), mdbBytes);

    // The tree export refuses it too.
    p.dialogs.Clear();
    p.dialogs.files = {QString::fromStdString(p.dir + "/other/alias.mdb")};
    p.dialogs.answers = {ui::Answer::Yes};
    MExport::Export2CSV(p.ctx);
    EXPECT_EQ(p.Boxes(), std::vector<std::string>{
                             "Export To Visio | Cannot overwrite project datasource.  Please select another file name."});
    EXPECT_EQ(ReadFile(mdb), mdbBytes);
}

// The real save dialogs of both exports, typed into: a new name comes back
// with its suffix and the file is written there.
TEST(ExportCommand, TheRealSaveDialogsTakeATypedName) {
    ExportProject p("cmd-real", FruitColumns(), FruitRows());
    Built(p, 0, 52)->SaveTree(&p.project);
    p.Mark({1});
    testsupport::RealFileDialogs real;
    testsupport::FileDialogSeen rows, tree;
    testsupport::TypeIntoNextFileDialog("rows", &rows);
    MExport::Export(p.ctx, 0);
    EXPECT_EQ(rows.title, "Export Marked Rows");
    EXPECT_EQ(rows.folder.toStdString(), p.dir);
    EXPECT_TRUE(rows.refusals.isEmpty());
    EXPECT_EQ(ReadFile(p.dir + "/rows.txt").rfind("Predicted,", 0), 0u);

    testsupport::TypeIntoNextFileDialog("tree", &tree);
    MExport::Export2CSV(p.ctx);
    EXPECT_EQ(tree.title, "Export To Visio");
    EXPECT_TRUE(tree.refusals.isEmpty());
    EXPECT_EQ(ReadFile(p.dir + "/tree.csv").rfind(";Visio CSV import type\r\n", 0), 0u);
    EXPECT_TRUE(real.Messages().empty());
}

// The name checked when it was chosen becomes a link to the project while the
// overwrite question is up: the check made again when the file takes its place
// refuses it, and the link is never written through.
TEST(ExportCommand, ALinkMadeWhileTheQuestionIsUpIsRefusedNotFollowed) {
    for (const bool tree : {false, true}) {
        ExportProject p(tree ? "race-tree" : "race-rows", FruitColumns(), FruitRows());
        Built(p, 0, 52)->SaveTree(&p.project);
        p.Mark({1, 2});
        const std::string out = p.dir + (tree ? "/out.csv" : "/out.txt");
        WriteFile(out, "old");
        const std::string project = ReadFile(p.projectPath);
        LinkWhileAsked dialogs(out, p.projectPath);
        dialogs.files = {QString::fromStdString(out)};
        dialogs.answers = {ui::Answer::Yes};
        if (tree) MExport::Export2CSV(p.ctx);
        else MExport::Export(p.ctx, 0);
        const std::string title = tree ? "Export To Visio" : "Export Marked";
        const auto boxes = Boxes(dialogs);
        ASSERT_EQ(boxes.size(), 2u) << tree;
        EXPECT_EQ(boxes[1], title + " | " + kProtected);
        EXPECT_EQ(ReadFile(p.projectPath), project) << tree;
        EXPECT_EQ(testsupport::IntegrityCheck(p.projectPath), "ok");
        EXPECT_TRUE(std::filesystem::is_symlink(out));
        EXPECT_FALSE(p.shell.status.texts.contains(QStringLiteral("Export Complete.")));
        for (const auto& e : std::filesystem::directory_iterator(p.dir))  // nothing of the attempt is left
            EXPECT_NE(e.path().filename().string().rfind(".out.", 0), 0u) << e.path();
    }
}

// The files the database keeps beside the project and beside its data source
// are refused like the files themselves, whether they exist or not, by their
// own name or through a link.
TEST(ExportCommand, TheDatabasesSideFilesAreRefused) {
    ExportProject p("cmd-side", Columns(), Rows());
    p.Mark({1});
    std::filesystem::create_directories(p.dir + "/other");
    for (const std::string& base : {p.projectPath, p.dataPath}) {
        for (const char* suffix : {"-wal", "-shm", "-journal", ".lck"}) {
            const std::string side = base + suffix;
            const bool existed = std::filesystem::exists(side);
            const std::string bytes = ReadFile(side);
            std::vector<std::string> targets = {p.dir + "/other/.." + side.substr(p.dir.size())};
            if (existed) {
                targets.push_back(p.dir + "/other/alias.txt");
                std::filesystem::remove(targets.back());
                std::filesystem::create_symlink(side, targets.back());
            }
            for (const std::string& target : targets) {
                p.dialogs.Clear();
                p.dialogs.files = {QString::fromStdString(target)};
                p.dialogs.answers = {ui::Answer::Yes};
                MExport::Export(p.ctx, 0);
                EXPECT_EQ(p.Boxes(), std::vector<std::string>{"Export Marked | " + kProtected}) << target;
                EXPECT_EQ(std::filesystem::exists(side), existed) << side;
                if (existed) {
                    EXPECT_EQ(ReadFile(side).substr(0, 32), bytes.substr(0, 32)) << side;
                }
            }
        }
    }
}

// When it cannot be told whether the name is the project's data (the project
// is held by another program), nothing is written and the box says why.
TEST(TreeExport, ACheckThatFailsRefuses) {
    ExportProject p("tree-unchecked", FruitColumns(), FruitRows());
    Built(p, 0, 52)->SaveTree(&p.project);
    p.trx = std::make_shared<CTRX>();
    p.trx->Initialize(p.dataDef, &p.project);
    p.trx->LoadTree(&p.project);
    p.project.CloseProject();
    DatabasePtr holder = dao::DBEngine::OpenDatabase(p.projectPath, true, false);
    const std::string path = p.dir + "/tree.csv";
    p.dialogs.files = {QString::fromStdString(path)};
    MExport::Export2CSV(p.ctx);
    holder->Close();
    ASSERT_FALSE(p.Boxes().empty());
    EXPECT_EQ(p.Boxes().back().rfind("Export To Visio | Cannot check whether " + path + " is the project's data", 0),
              0u)
        << p.Boxes().back();
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_FALSE(p.shell.status.texts.contains(QStringLiteral("Export Complete.")));
}

// One rule for the name a writer is given, whichever writer: a link of that
// name is replaced by the new file and what it led to (here another program's
// database) is left as it was; a folder, a named pipe, a device or a socket of
// that name is refused with one box that says what it is, and stays as it was.
TEST(EveryWriter, ALinkIsReplacedAndWhatIsNoFileRefused) {
    ExportProject p("every-writer", FruitColumns(), FruitRows());
    Built(p, 0, 52)->SaveTree(&p.project);
    p.Mark({1, 2});
    const std::string victim = p.dir + "/victim.db";
    Stock(victim, "CREATE TABLE Kept (K INTEGER)");
    const std::string kept = ReadFile(victim);
    WriteFile(p.dir + "/rows.csv", "a,b\n1,2\n");
    struct Writer {
        const char* name;
        const char* target;  // the name written, in the project's folder
        std::function<void(const std::string& target)> write;
    };
    auto chosen = [&](const std::function<void()>& command, int fileType = 1) {
        return [&, command, fileType](const std::string& target) {
            p.dialogs.files = {QString::fromStdString(target)};
            p.dialogs.filterChoices = {fileType};
            p.dialogs.answers = {ui::Answer::Yes};
            command();
        };
    };
    const Writer writers[] = {
        {"text export", "out.txt", chosen([&] { MExport::Export(p.ctx, 0); })},
        {"database export", "out.mdb", chosen([&] { MExport::Export(p.ctx, 0); }, kDatabaseType)},
        {"tree export", "out.csv", chosen([&] { MExport::Export2CSV(p.ctx); })},
        {"text import", "rows.mdb",
         [&](const std::string&) {
             p.dialogs.answers = {ui::Answer::Yes};
             MdbUtils::LoadTextFile(p.dir + "/rows.csv");
         }},
        {"new project", "new.txp", [&](const std::string& target) { CProject().Create(target); }},
    };
    int sockets = 0;
    struct Special {
        const char* what;
        std::function<bool(const std::string&)> make;  // false when it cannot be made here
    };
    const Special specials[] = {
        {"a folder", [](const std::string& t) { return std::filesystem::create_directory(t); }},
        {"a named pipe", [](const std::string& t) { return ::mkfifo(t.c_str(), 0666) == 0; }},
        // As /dev/null is; only root may make one.
        {"a device", [](const std::string& t) { return ::mknod(t.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0; }},
        {"a socket",
         [&](const std::string& t) {
             sockaddr_un address{};
             address.sun_family = AF_UNIX;
             if (t.size() >= sizeof address.sun_path) return false;
             std::strcpy(address.sun_path, t.c_str());
             const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
             const bool made = ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
             ::close(fd);
             sockets += made;
             return made;
         }},
    };
    for (const Writer& w : writers) {
        SCOPED_TRACE(w.name);
        const std::string target = p.dir + "/" + w.target;
        // What the writer said, its overwrite question aside.
        auto said = [&] {
            std::vector<std::string> out;
            for (const std::string& box : p.Boxes())
                if (box.find("Overwrite?") == std::string::npos) out.push_back(box);
            return out;
        };
        for (const Special& kind : specials) {
            SCOPED_TRACE(kind.what);
            std::filesystem::remove_all(target);
            if (!kind.make(target)) continue;
            struct stat before {};
            ASSERT_EQ(::lstat(target.c_str(), &before), 0);
            p.dialogs.Clear();
            w.write(target);
            const auto boxes = said();
            ASSERT_EQ(boxes.size(), 1u);
            EXPECT_NE(boxes[0].find("Error: 75. \nPath/File access error: '" + target + "' is " + kind.what +
                                    ", not a file."),
                      std::string::npos)
                << boxes[0];
            struct stat after {};
            ASSERT_EQ(::lstat(target.c_str(), &after), 0);
            EXPECT_EQ(after.st_ino, before.st_ino);
            EXPECT_EQ(after.st_mode, before.st_mode);
        }

        std::filesystem::remove_all(target);
        std::filesystem::create_symlink(victim, target);
        p.dialogs.Clear();
        w.write(target);
        EXPECT_TRUE(said().empty()) << said().front();
        EXPECT_FALSE(std::filesystem::is_symlink(target));
        EXPECT_TRUE(std::filesystem::is_regular_file(target));
        EXPECT_TRUE(ReadFile(victim) == kept);
    }
    EXPECT_GT(sockets, 0) << "the folder's path is too long for a socket";
}

// Every writer writes a name as long as a folder entry takes, which the file
// system accepts: what it makes aside is named shorter. A project, which the
// database must go on writing, is refused a name too long for its journal
// beside it; one that fits is made and used.
TEST(EveryWriter, NamesAsLongAsAFolderEntryTakes) {
    ExportProject p("long-names", FruitColumns(), FruitRows());
    Built(p, 0, 52)->SaveTree(&p.project);
    p.Mark({1, 2});
    for (const size_t length : {size_t(247), size_t(248), size_t(255)}) {
        auto named = [&](char c, const char* extension) { return p.dir + "/" + std::string(length - 4, c) + extension; };
        auto chosen = [&](const std::function<void()>& command, int fileType = 1) {
            return [&, command, fileType](const std::string& target) {
                p.dialogs.files = {QString::fromStdString(target)};
                p.dialogs.filterChoices = {fileType};
                p.dialogs.answers = {ui::Answer::Yes};
                command();
            };
        };
        struct Writer {
            std::string target;
            std::function<void(const std::string&)> write;
            std::string refusal;  // the box for a name too long, "" for none
        };
        std::vector<Writer> writers = {
            {named('t', ".txt"), chosen([&] { MExport::Export(p.ctx, 0); }), ""},
            {named('d', ".mdb"), chosen([&] { MExport::Export(p.ctx, 0); }, kDatabaseType), ""},
            {named('d', ".mdb"), chosen([&] { MExport::Export(p.ctx, 0); }, kDatabaseType), ""},  // this program's own, again
            {named('c', ".csv"), chosen([&] { MExport::Export2CSV(p.ctx); }), ""},
            {named('p', ".txp"),
             [&](const std::string& target) {
                 CProject made;
                 made.SetFileName(target);
                 made.SaveConfig("Kept", "yes");
                 if (made.Create() && made.GetConfig("Kept") == "yes") made.SaveConfig("Used", "yes");
             },
             length <= 247 ? "" : "CProject::Create | Error: 75. \nPath/File access error: '" + named('p', ".txp") +
                                      "' is too long a name for a project: the database could not keep its journal "
                                      "beside it."},
        };
        // Another program's file, where SQLite could make one (a journal beside it).
        const std::string other = named('o', ".mdb");
        if (!Stock(other, "CREATE TABLE log (n INTEGER); INSERT INTO log VALUES (1); SELECT 1").empty())
            writers.push_back({other, chosen([&] { MExport::Export(p.ctx, 0); }, kDatabaseType), ""});
        for (const Writer& w : writers) {
            SCOPED_TRACE(std::to_string(length) + " bytes, " + w.target.substr(w.target.size() - 5));
            p.dialogs.Clear();
            w.write(w.target);
            EXPECT_EQ(p.Boxes(), w.refusal.empty() ? std::vector<std::string>{} : std::vector{w.refusal});
            EXPECT_EQ(std::filesystem::is_regular_file(w.target), w.refusal.empty());
        }
        EXPECT_EQ(Stock(other, "SELECT count(*) FROM Tessary_Import").size(), length <= 247 ? 1u : 0u);
        EXPECT_EQ(Stock(named('p', ".txp"), "SELECT sValue FROM Config WHERE Property = 'Used'"),
                  length <= 247 ? std::vector<std::string>{"yes"} : std::vector<std::string>{});
    }
}
