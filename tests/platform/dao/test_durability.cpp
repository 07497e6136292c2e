// A process killed in the middle of a transaction leaves the file whole and
// without that transaction.
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>

#include "IntegrityCheck.h"
#include "SmallDisk.h"
#include "fixture.h"

#include <filesystem>

using namespace daotest;
using dao::RecordsetType;

namespace {

using testsupport::IntegrityCheck;

long Count(dao::Database& db, const std::string& sql) {
    return db.OpenRecordset(sql, RecordsetType::Snapshot)->Fields(0).AsLong();
}

// Runs work in a child process, kills it with SIGKILL once it has written
// "ready" to the pipe (or after the given delay), and waits for it.
template <class F>
void KillMidway(F&& work) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(fds[0]);
        try {
            work(fds[1]);
        } catch (...) {
            ::_exit(3);
        }
        ::_exit(0);
    }
    ::close(fds[1]);
    char c = 0;
    ASSERT_EQ(::read(fds[0], &c, 1), 1) << "the child never reached the middle of its transaction";
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status));
    ::close(fds[0]);
}

void Signal(int fd) {
    char c = 'x';
    if (::write(fd, &c, 1) != 1) ::_exit(4);
}

class DaoDurability : public ::testing::Test {
protected:
    TempDir dir;
    std::string path;
    void SetUp() override {
        path = dir.File("d.txp");
        auto db = dao::DBEngine::CreateDatabase(path, dao::dbLangGeneral);
        db->Execute("CREATE TABLE Rows (K LONG CONSTRAINT PrimaryKey PRIMARY KEY, V LONG, Pad TEXT(200))");
        auto rs = db->OpenRecordset("Rows", RecordsetType::Dynaset);
        db->BeginTrans();
        for (int i = 0; i < 5000; ++i) {
            rs->AddNew();
            rs->Fields(0).SetValue(L(i));
            rs->Fields(1).SetValue(L(1));
            rs->Fields(2).SetValue(S(std::string(150, 'p')));
            rs->Update();
        }
        db->CommitTrans();
    }
};

TEST_F(DaoDurability, KilledTransactionLeavesNoTrace) {
    KillMidway([&](int fd) {
        auto db = dao::DBEngine::OpenDatabase(path);
        db->BeginTrans();
        db->Execute("UPDATE Rows SET V = 2 WHERE K < 2500");
        db->Execute("DELETE * FROM Rows WHERE K >= 4000");
        // Enough rows to overflow the page cache, so pages reach the log file.
        auto rs = db->OpenRecordset("Rows", RecordsetType::Dynaset);
        for (int i = 10000; i < 40000; ++i) {
            rs->AddNew();
            rs->Fields(0).SetValue(L(i));
            rs->Fields(2).SetValue(S(std::string(190, 'q')));
            rs->Update();
        }
        Signal(fd);
        ::pause();
    });
    EXPECT_EQ(IntegrityCheck(path), "ok");
    auto db = dao::DBEngine::OpenDatabase(path);
    EXPECT_EQ(Count(*db, "SELECT Count(*) FROM Rows"), 5000);
    EXPECT_EQ(Count(*db, "SELECT Sum(V) FROM Rows"), 5000);
}

TEST_F(DaoDurability, KilledMakeTableLeavesNoHalfTable) {
    KillMidway([&](int fd) {
        auto db = dao::DBEngine::OpenDatabase(path);
        db->BeginTrans();
        db->Execute("SELECT K, V, Pad INTO Copy FROM Rows");
        db->Execute("ALTER TABLE Copy ADD COLUMN N AUTOINCREMENT CONSTRAINT PrimaryKey PRIMARY KEY");
        Signal(fd);
        ::pause();
    });
    EXPECT_EQ(IntegrityCheck(path), "ok");
    auto db = dao::DBEngine::OpenDatabase(path);
    EXPECT_EQ(ErrorOf([&] { db->TableDefs()["Copy"]; }), 3265);
    EXPECT_EQ(Count(*db, "SELECT Count(*) FROM Rows"), 5000);
}

TEST_F(DaoDurability, CommittedWorkSurvivesAKill) {
    KillMidway([&](int fd) {
        auto db = dao::DBEngine::OpenDatabase(path);
        db->BeginTrans();
        db->Execute("UPDATE Rows SET V = 3");
        db->CommitTrans();
        db->BeginTrans();
        db->Execute("UPDATE Rows SET V = 4");
        Signal(fd);
        ::pause();
    });
    EXPECT_EQ(IntegrityCheck(path), "ok");
    auto db = dao::DBEngine::OpenDatabase(path);
    EXPECT_EQ(Count(*db, "SELECT Sum(V) FROM Rows"), 15000);
    // The file is usable for writing again: the dead process's locks are gone.
    auto excl = ErrorOf([&] { dao::DBEngine::OpenDatabase(dir.File("d.txp"), false, false)->Execute("UPDATE Rows SET V = 1"); });
    EXPECT_EQ(excl, 0);
}

TEST_F(DaoDurability, LargeCommitsAreCopiedBackWhileWorkGoesOn) {
    {
        auto db = dao::DBEngine::OpenDatabase(path);
        auto rs = db->OpenRecordset("Rows", RecordsetType::Dynaset);
        for (int round = 0; round < 3; ++round) {
            db->BeginTrans();
            for (int i = 0; i < 12000; ++i) {
                rs->AddNew();
                rs->Fields(0).SetValue(L(100000 + round * 20000 + i));
                rs->Fields(1).SetValue(L(round));
                rs->Fields(2).SetValue(S(std::string(200, char('a' + round))));
                rs->Update();
            }
            db->CommitTrans();
            EXPECT_EQ(Count(*db, "SELECT Count(*) FROM Rows"), 5000 + (round + 1) * 12000);
        }
        db->Execute("UPDATE Rows SET V = V + 1 WHERE K < 100");
    }
    // The last connection folds the log into the file and removes it.
    EXPECT_FALSE(std::filesystem::exists(path + "-wal"));
    EXPECT_EQ(IntegrityCheck(path), "ok");
    auto db = dao::DBEngine::OpenDatabase(path);
    EXPECT_EQ(Count(*db, "SELECT Count(*) FROM Rows"), 41000);
    EXPECT_EQ(Count(*db, "SELECT Sum(V) FROM Rows"), 5000 + 100 + 12000 * (0 + 1 + 2));
}

}  // namespace

// Once the last connection is gone nothing but the file itself is left beside
// it, so a folder of committed files stays as it was (apart from the file).
TEST_F(DaoDurability, ClosingLeavesNoLogFilesBeside) {
    const std::string path = dir.File("beside.txp");
    auto sideFiles = [&] {
        std::vector<std::string> out;
        for (const auto& e : std::filesystem::directory_iterator(dir.Path()))
            if (e.path().filename().string().rfind("beside.txp", 0) == 0 && e.path().filename() != "beside.txp")
                out.push_back(e.path().filename().string());
        return out;
    };
    {
        auto db = dao::DBEngine::CreateDatabase(path, dao::dbLangGeneral);
        db->Execute("CREATE TABLE T (K LONG CONSTRAINT PrimaryKey PRIMARY KEY, V TEXT(20))");
        db->Close();
    }
    EXPECT_TRUE(sideFiles().empty()) << ::testing::PrintToString(sideFiles());
    {
        auto a = dao::DBEngine::OpenDatabase(path, false, false);
        auto b = dao::DBEngine::OpenDatabase(path, false, false);
        auto reader = dao::DBEngine::OpenDatabase(path, false, true);
        for (int i = 0; i < 2000; ++i) a->Execute("INSERT INTO T VALUES (" + std::to_string(i) + ", 'x')");
        auto rs = b->OpenRecordset("T", RecordsetType::Dynaset);
        rs->MoveLast();
        rs->Edit();
        rs->Fields("V").SetValue(S("y"));
        rs->Update();
        auto open = reader->OpenRecordset("SELECT * FROM T", RecordsetType::Snapshot);
        EXPECT_FALSE(open->Eof());
        a->Close();
        // b and the reader are dropped without Close, as a project drops its connection.
    }
    EXPECT_TRUE(sideFiles().empty()) << ::testing::PrintToString(sideFiles());
    auto check = dao::DBEngine::OpenDatabase(path, false, true);
    EXPECT_EQ(Count(*check, "SELECT COUNT(*) FROM T WHERE V = 'y'"), 1);
}

// Outside WAL mode only a full sync keeps a commit through a power cut. A file
// of the program's own is always in WAL mode; another program's file, given a
// table where it is, keeps whatever mode that program chose.
TEST_F(DaoDurability, AnotherProgramsFileIsSyncedInFullUnlessInWalMode) {
    constexpr long kNormal = 1, kFull = 2;
    auto syncOf = [](dao::Database& db) { return Count(db, "SELECT synchronous FROM pragma_synchronous"); };
    for (const std::string mode : {"delete", "wal"}) {
        SCOPED_TRACE(mode);
        const std::string other = dir.File("other-" + mode + ".db");
        sqlite3* made = nullptr;
        ASSERT_EQ(sqlite3_open(other.c_str(), &made), SQLITE_OK);
        EXPECT_EQ(sqlite3_exec(made, ("PRAGMA journal_mode=" + mode + "; CREATE TABLE Notes (Title TEXT)").c_str(),
                               nullptr, nullptr, nullptr),
                  SQLITE_OK);
        sqlite3_close(made);
        auto guest = dao::DBEngine::OpenGuest(other);
        EXPECT_EQ(syncOf(*guest), mode == "wal" ? kNormal : kFull);
        guest->Close();
    }
    auto own = dao::DBEngine::OpenDatabase(path);
    EXPECT_EQ(syncOf(*own), kNormal);
}

// Another program killed in the middle of a transaction leaves its file with a
// hot journal, which is part of that file. A replace of it that fails (here
// the new file is on another disk, which no rename crosses) leaves the
// journal beside it, so the next program to open it rolls it back whole.
TEST(DaoReplace, AFailedReplaceLeavesTheOldFileItsJournal) {
    testsupport::SmallDisk disk(1 << 20);
    if (!disk.Ready()) GTEST_SKIP() << disk.Why();
    TempDir dir;
    const std::string target = dir.File("other.db");
    auto exec = [](const std::string& file, const char* sql) {
        sqlite3* db = nullptr;
        sqlite3_open(file.c_str(), &db);
        const int rc = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
        return std::make_pair(db, rc);
    };
    {
        auto [db, rc] = exec(target, "CREATE TABLE T (A INTEGER PRIMARY KEY, B TEXT); WITH RECURSIVE n(i) AS "
                                     "(SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 2000) "
                                     "INSERT INTO T SELECT i, printf('%0100d', 0) FROM n");
        ASSERT_EQ(rc, SQLITE_OK);
        sqlite3_close(db);
    }
    // A small page cache spills the changed pages into the file before the end.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        auto [db, rc] = exec(target, "PRAGMA cache_size = 5; BEGIN; UPDATE T SET B = printf('%0100d', A)");
        ::_exit(rc == SQLITE_OK && db ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ASSERT_GT(std::filesystem::file_size(target + "-journal"), 0u);

    const std::string made = disk.File("made.db");
    dao::DBEngine::CreateDatabase(made, dao::dbLangGeneral)->Finish();
    EXPECT_NE(ErrorOf([&] { dao::DBEngine::ReplaceDatabase(made, target); }), 0);
    EXPECT_TRUE(std::filesystem::exists(target + "-journal"));
    auto [db, rc] = exec(target, "SELECT 1");
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "SELECT count(*) FROM T WHERE B = printf('%0100d', 0)", -1, &st, nullptr);
    EXPECT_EQ(sqlite3_step(st), SQLITE_ROW);
    EXPECT_EQ(sqlite3_column_int(st, 0), 2000) << "the rows as last committed";
    sqlite3_finalize(st);
    sqlite3_close(db);
    EXPECT_EQ(IntegrityCheck(target), "ok");
}
