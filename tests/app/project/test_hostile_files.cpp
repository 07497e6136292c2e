// Hostile files and killed processes around the import and the project file:
// held and half-written databases, killed imports, FIFOs, reserved names, and
// files that are not projects.
#include "CProject.h"
#include "TextImport.h"

#include "AppServicesTesting.h"
#include "InChild.h"
#include "IntegrityCheck.h"

#include "dao/dao.h"
#include "ui/testing.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <set>
#include <thread>

namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

using testsupport::IntegrityCheck;

using testsupport::InChild;

class HostileFiles : public ::testing::Test {
protected:
    QTemporaryDir dir;
    ui::ScopedRecorder dialogs;
    app::ScopedFakeShell shell;

    std::string File(const char* name) const { return dir.filePath(QString::fromUtf8(name)).toStdString(); }
    std::string Write(const char* name, const std::string& bytes) {
        std::ofstream out(File(name), std::ios::binary | std::ios::trunc);
        out << bytes;
        return File(name);
    }
    std::vector<std::string> Files() const {
        std::vector<std::string> out;
        for (const auto& e : QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System))
            out.push_back(e.toStdString());
        return out;
    }
    std::vector<std::string> Messages() const {
        std::vector<std::string> out;
        for (const auto& m : dialogs.Messages()) out.push_back((m.title + "|" + m.text).toStdString());
        return out;
    }
    static long Count(const std::string& path, const std::string& table) {
        auto db = dao::DBEngine::OpenDatabase(path, false, true);
        return db->OpenRecordset("SELECT Count(*) FROM " + table, dao::RecordsetType::Snapshot)->Fields(0).AsLong();
    }
};

}  // namespace

TEST_F(HostileFiles, ImportDoesNotReplaceADatabaseAnotherConnectionHolds) {
    const std::string csv = Write("data.csv", "a\n1\n2\n");
    const std::string mdb = MdbUtils::ImportDatabasePath(csv);
    {
        auto old = dao::DBEngine::CreateDatabase(mdb, dao::dbLangGeneral);
        old->Execute("CREATE TABLE data (a LONG)");
        old->Execute("INSERT INTO data VALUES (7)");
    }
    auto held = dao::DBEngine::OpenDatabase(mdb);
    dialogs.answers.push_back(ui::Answer::Yes);
    EXPECT_FALSE(MdbUtils::LoadTextFile(csv));
    const auto m = Messages();
    ASSERT_EQ(m.size(), 2u);
    EXPECT_EQ(m[1].rfind("LoadTextFile|Error: 3045. \n", 0), 0u) << m[1];
    EXPECT_EQ(shell.status.texts, QStringList{QString()});
    // The holder still reads its own data; no temporary is left.
    EXPECT_EQ(held->OpenRecordset("data", dao::RecordsetType::Snapshot)->Fields("a").AsLong(), 7);
    held->Close();
    held.reset();
    EXPECT_EQ(Files(), (std::vector<std::string>{"data.csv", "data.mdb"}));

    dialogs.Clear();
    dialogs.answers.push_back(ui::Answer::Yes);
    EXPECT_TRUE(MdbUtils::LoadTextFile(csv)) << Messages().back();
    EXPECT_EQ(Count(mdb, "data"), 2);
}

TEST_F(HostileFiles, ImportOverADatabaseWithALeftoverLogGivesASoundFile) {
    const std::string csv = Write("data.csv", "a,b\n1,x\n2,y\n3,z\n");
    const std::string mdb = MdbUtils::ImportDatabasePath(csv);
    // A program killed after committing into the old database leaves its log.
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(fds[0]);
        auto db = dao::DBEngine::CreateDatabase(mdb, dao::dbLangGeneral);
        db->Execute("CREATE TABLE data (a LONG, b TEXT(200))");
        for (int i = 0; i < 300; ++i) db->Execute("INSERT INTO data VALUES (" + std::to_string(i) + ", '" +
                                                  std::string(150, 'o') + "')");
        char c = 'x';
        if (::write(fds[1], &c, 1) != 1) ::_exit(4);
        ::pause();
        ::_exit(0);
    }
    ::close(fds[1]);
    char c = 0;
    ASSERT_EQ(::read(fds[0], &c, 1), 1);
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    ::close(fds[0]);
    ASSERT_TRUE(QFileInfo::exists(QString::fromStdString(mdb + "-wal")));

    dialogs.answers.push_back(ui::Answer::Yes);
    ASSERT_TRUE(MdbUtils::LoadTextFile(csv)) << Messages().back();
    EXPECT_EQ(IntegrityCheck(mdb), "ok");
    EXPECT_EQ(Count(mdb, "data"), 3);
    auto db = dao::DBEngine::OpenDatabase(mdb, false, true);
    EXPECT_EQ(db->TableDefs()["data"].Fields().Count(), 3);
}

TEST_F(HostileFiles, KilledImportsLeaveNoTemporariesForTheNext) {
    std::string rows = "Id,A,Label\n";
    for (int i = 1; i <= 400000; ++i) rows += std::to_string(i) + "," + std::to_string(i % 97) + ".5,label\n";
    const std::string csv = Write("big.csv", rows);
    // Everything hidden beside the target, folders too.
    auto temporaries = [&] {
        std::set<std::string> names;
        for (const auto& f : QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                                        QDir::NoDotAndDotDot))
            if (f.startsWith(QLatin1Char('.'))) names.insert(f.toStdString());
        return names;
    };
    // As if left by a run before this process began.
    auto age = [&](const std::string& name) {
        const timespec past[2] = {{::time(nullptr) - 3600, 0}, {::time(nullptr) - 3600, 0}};
        const std::string path = File(name.c_str());
        for (const auto& inside : QDir(QString::fromStdString(path)).entryList(QDir::Files | QDir::Hidden))
            ::utimensat(AT_FDCWD, (path + "/" + inside.toStdString()).c_str(), past, 0);
        ::utimensat(AT_FDCWD, path.c_str(), past, AT_SYMLINK_NOFOLLOW);
    };
    std::set<std::string> seen;
    for (int kill = 0; kill < 2; ++kill) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            MdbUtils::LoadTextFile(csv);
            ::_exit(0);
        }
        // Killed once its own temporary database is being written.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        auto own = [&] {
            for (const auto& name : temporaries())
                if (!seen.count(name) && QFileInfo::exists(QString::fromStdString(File(name.c_str()) + "/big.mdb")))
                    return true;
            return false;
        };
        while (!own() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        for (const auto& name : temporaries()) seen.insert(name);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the import ended before it was killed";
    }
    // The second import, begun moments after the first was killed, removed
    // the first one's folder: it was no longer locked.
    const std::set<std::string> killed = temporaries();
    ASSERT_EQ(killed.size(), 1u);
    // An older program's temporary of a process that is gone, and look-alikes that are not the program's.
    const pid_t gone = ::fork();
    if (gone == 0) ::_exit(0);
    ::waitpid(gone, nullptr, 0);
    const std::string old = ".big.mdb.importing-" + std::to_string(gone) + "-0";
    Write(old.c_str(), "x");
    Write((old + "-wal").c_str(), "x");
    Write(".big.mdb.importing-notes", "mine");
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral(".big.mdb.backup")));
    Write(".big.mdb.backup/big.mdb", "mine");
    for (const auto& name : temporaries()) age(name);
    // Locked: another copy of the program is at work in it.
    const std::string fresh = ".big.mdb.Fresh1";
    ASSERT_EQ(::mkdir(File(fresh.c_str()).c_str(), 0700), 0);
    Write((fresh + "/big.mdb").c_str(), "x");
    const int held = ::open(File(fresh.c_str()).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);

    ASSERT_TRUE(MdbUtils::LoadTextFile(csv)) << Messages().back();
    ::close(held);
    EXPECT_EQ(temporaries(), (std::set<std::string>{".big.mdb.backup", ".big.mdb.importing-notes", fresh}));
    EXPECT_EQ(ReadAll(File(".big.mdb.backup/big.mdb")), "mine");
    EXPECT_EQ(Count(MdbUtils::ImportDatabasePath(csv), "big"), 400000);
}

TEST_F(HostileFiles, ATextFileNamedLikeTheLayersTablesIsRefused) {
    for (const char* name : {"MSysLinks.csv", "msysobjects.csv", "sqlite_master.csv"}) {
        dialogs.Clear();
        const std::string csv = Write(name, "a\n1\n");
        EXPECT_FALSE(MdbUtils::LoadTextFile(csv)) << name;
        const auto m = Messages();
        ASSERT_EQ(m.size(), 1u) << name;
        EXPECT_EQ(m[0].rfind("LoadTextFile|Error: 3125. \n", 0), 0u) << m[0];
        QFile::remove(QString::fromStdString(csv));
        EXPECT_TRUE(Files().empty()) << name;
    }
}

TEST_F(HostileFiles, FifosNeverBlockTheImportOrTheProject) {
    const std::string fifo = File("pipe.csv");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(InChild([&] {
                  ui::ScopedRecorder recorder;
                  const bool ok = MdbUtils::LoadTextFile(fifo);
                  return !ok && recorder.Messages().size() == 1 &&
                                 recorder.Messages()[0].text.startsWith(QStringLiteral("Error: 75. "))
                             ? 0
                             : 1;
              }),
              0);
    const std::string project = File("pipe.txp");
    ASSERT_EQ(::mkfifo(project.c_str(), 0600), 0);
    EXPECT_EQ(InChild([&] {
                  ui::ScopedRecorder recorder;
                  CProject p;
                  p.Initialize(project);
                  return p.FileName().empty() && recorder.Messages().size() == 1 ? 0 : 1;
              }),
              0);
}

TEST_F(HostileFiles, RefusingAFileThatIsNotAProjectLeavesItUntouched) {
    const std::string path = File("other.txp");
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
        sqlite3_exec(db, "CREATE TABLE Notes (Id INTEGER PRIMARY KEY, Text TEXT); INSERT INTO Notes VALUES (1, 'x');",
                     nullptr, nullptr, nullptr);
        sqlite3_close(db);
    }
    const std::string before = ReadAll(path);
    const auto filesBefore = Files();
    CProject p;
    p.Initialize(path);
    EXPECT_TRUE(p.FileName().empty());
    EXPECT_EQ(Messages(), (std::vector<std::string>{"Project Read Unsucessful|" + path + " is not a valid project."}));
    EXPECT_EQ(ReadAll(path), before);
    EXPECT_EQ(Files(), filesBefore);

    // A real project is still opened, and one held by another connection refused.
    dialogs.Clear();
    const std::string real = File("real.txp");
    {
        CProject made;
        made.SetFileName(real);
        made.Create();
    }
    CProject ok;
    ok.Initialize(real);
    EXPECT_EQ(ok.FileName(), real);
    auto held = dao::DBEngine::OpenDatabase(real);
    CProject busy;
    busy.Initialize(real);
    EXPECT_TRUE(busy.FileName().empty());
    ASSERT_EQ(dialogs.Messages().size(), 1u);
    EXPECT_EQ(dialogs.Messages()[0].title.toStdString(), "Project Read Failed");
}

TEST_F(HostileFiles, ImportMessagesSayWhereAndWhat) {
    // A value too long names its row and field.
    std::string csv = Write("long.csv", "a,b\n1,x\n2," + std::string(300, 'y') + "\n");
    EXPECT_FALSE(MdbUtils::LoadTextFile(csv));
    auto m = Messages();
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0].rfind("LoadTextFile|Error: 3163. \n", 0), 0u) << m[0];
    EXPECT_NE(m[0].find("(row #2, field b)"), std::string::npos) << m[0];

    // Lines ended by a lone CR are lines.
    dialogs.Clear();
    csv = Write("mac.csv", "a,b\r1,x\r\r2,y\r3,z");
    ASSERT_TRUE(MdbUtils::LoadTextFile(csv)) << Messages().back();
    EXPECT_EQ(Count(MdbUtils::ImportDatabasePath(csv), "mac"), 3);
    auto db = dao::DBEngine::OpenDatabase(MdbUtils::ImportDatabasePath(csv), false, true);
    auto rs = db->OpenRecordset("SELECT b FROM mac ORDER BY a", dao::RecordsetType::Snapshot);
    EXPECT_EQ(rs->Fields(0).AsString(), "x");
    db->Close();

    // Too many columns: one clear message before anything is made.
    dialogs.Clear();
    std::string header, row;
    for (int i = 0; i < 300; ++i) {
        header += (i ? "," : "") + std::string("c") + std::to_string(i);
        row += (i ? ",1" : "1");
    }
    csv = Write("wide.csv", header + "\n" + row + "\n");
    EXPECT_FALSE(MdbUtils::LoadTextFile(csv));
    m = Messages();
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0].rfind("LoadTextFile|Error: 3190. \nToo many fields defined. The file has 300 fields", 0), 0u)
        << m[0];
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(MdbUtils::ImportDatabasePath(csv))));
}

// A link named like a table of the program's own (or like any local table)
// would take its writes into another file; a table of its own that lacks a
// column or computes on writes is damaged. Older layouts and triggers open.
TEST_F(HostileFiles, OwnTablesAreTheProjectsOwnAndComputeNothing) {
    const std::string other = File("other.db");
    dao::DBEngine::CreateDatabase(other, dao::dbLangGeneral)->Execute("CREATE TABLE Victim (K LONG)");
    const std::pair<const char*, const char*> cases[] = {  // statements, what the message says ("" opens)
        {"CREATE TABLE NodeData (NodeData LONGBINARY, PruneRate SINGLE, MinItems LONG);"
         "CREATE TABLE TreeLinks (NodeNum LONG, L0 LONG, L1 LONG); CREATE TABLE Test (MainPrimaryKey TEXT(20), "
         "Predicted SHORT, Actual SHORT, Mark SHORT); CREATE TRIGGER T AFTER INSERT ON Config BEGIN DELETE FROM "
         "Test; END; ALTER TABLE Config ADD COLUMN Plain TEXT DEFAULT 'it''s'",
         ""},
        {"INSERT INTO MSysLinks VALUES ('Test', ';DATABASE=<other>', 'Victim', 0)",
         "The table Test is a link to Victim in <other>, but it must be the project's own table."},
        {"INSERT INTO MSysLinks VALUES ('dvalues_12', ';DATABASE=<other>', 'Victim', 0)",
         "The table dvalues_12 is a link to Victim in <other>, but it must be the project's own table."},
        {"CREATE TABLE Notes (A LONG); INSERT INTO MSysLinks VALUES ('NOTES', ';DATABASE=<other>', 'Victim', 0)",
         "The table NOTES is a link to Victim in <other>, but it must be the project's own table."},
        {"ALTER TABLE Config RENAME TO Old; CREATE TABLE Config (Property TEXT(255) PRIMARY KEY, sValue TEXT(255), "
         "Junk BLOB DEFAULT (zeroblob(200000000))); INSERT INTO Config SELECT *, NULL FROM Old",
         "The table Config is damaged: the default of column Junk computes values as rows are written."},
        {"CREATE TABLE FieldConfig (FieldOrder SHORT)", "The table FieldConfig is damaged: it has no column FieldName."},
    };
    int n = 0;
    for (const auto& [sql, refused] : cases) {
        SCOPED_TRACE(sql);
        const std::string path = File(("p" + std::to_string(++n) + ".txp").c_str());
        CProject made;
        made.Create(path);
        made.AttachDataSource(other, "Victim");
        auto fill = [&](std::string text) {
            for (size_t at; (at = text.find("<other>")) != std::string::npos;) text.replace(at, 7, other);
            return text;
        };
        sqlite3* raw = nullptr;
        ASSERT_EQ(sqlite3_open(path.c_str(), &raw), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(raw, fill(sql).c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(raw);
        sqlite3_close(raw);
        const std::string before = ReadAll(path), victim = ReadAll(other);
        dialogs.Clear();
        CProject p;
        p.Initialize(path);
        EXPECT_EQ(p.FileName(), *refused ? "" : path);
        EXPECT_EQ(Messages(), *refused ? std::vector<std::string>{"Project Read Failed|Project file: " + path +
                                                                  " cannot be opened.\n" + fill(refused)}
                                        : std::vector<std::string>{});
        EXPECT_EQ(ReadAll(path), before);
        EXPECT_EQ(ReadAll(other), victim);
    }
}
