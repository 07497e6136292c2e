// Another program reading a file the program holds open: the stock sqlite3
// shell, as a backup tool runs it, between two edits of an open project and
// while a linked data file is attached. Reading the file, or opening another
// connection to it, or a descriptor of its shared index (as a file dialog
// listing the folder does), anywhere in the program must not let that reader
// take the log away when it closes, nor another program write while the
// program writes.
#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <fstream>
#include <optional>

#include "IntegrityCheck.h"
#include "StockShell.h"
#include "fixture.h"

using namespace daotest;
using dao::RecordsetType;
using testsupport::StockShell;

namespace {

long Count(dao::Database& db, const std::string& sql) {
    return db.OpenRecordset(sql, RecordsetType::Snapshot)->Fields(0).AsLong();
}

bool Beside(const std::string& file, const char* suffix) { return std::filesystem::exists(file + suffix); }

// What the program does with a file it has open, outside the connection:
// opening another connection to it, or reading its bytes.
const std::vector<std::pair<const char*, void (*)(const std::string&)>> kTouches = {
    {"another connection", [](const std::string& f) { dao::DBEngine::OpenDatabase(f, false, true)->Close(); }},
    {"a plain read", [](const std::string& f) { std::ifstream(f).get(); }},
    {"a descriptor of the shared index", [](const std::string& f) { ::close(::open((f + "-shm").c_str(), O_RDONLY)); }},
};

class DaoOtherReaders : public ::testing::Test {
protected:
    void SetUp() override {
        if (StockShell::Path().empty()) GTEST_SKIP() << "the stock sqlite3 shell is not installed (apt-get install sqlite3)";
    }
    TempDir dir;
};

}  // namespace

TEST_F(DaoOtherReaders, ReadingAnOpenProjectBetweenTwoEditsBreaksNothing) {
    for (const auto& [touch, act] : kTouches) {
        SCOPED_TRACE(touch);
        const std::string path = dir.File(std::string(touch).substr(0, 3) + ".txp");
        dao::DBEngine::CreateDatabase(path, dao::dbLangGeneral)->Execute("CREATE TABLE Test (K LONG, Mark BIT)");
        {
            auto db = dao::DBEngine::OpenDatabase(path, false, false);
            db->Execute("INSERT INTO Test VALUES (1, True)");
            act(path);
            EXPECT_EQ(StockShell::Run(path, "select count(*) from Test"), "1\n");
            EXPECT_TRUE(Beside(path, "-wal") && Beside(path, "-shm")) << "the log stays while the file is open";
            db->Execute("INSERT INTO Test VALUES (2, True)");
            EXPECT_EQ(Count(*db, "SELECT Count(*) FROM Test WHERE Mark"), 2);
            auto other = dao::DBEngine::OpenDatabase(path, false, true);
            EXPECT_EQ(Count(*other, "SELECT Count(*) FROM Test WHERE Mark"), 2);
            EXPECT_EQ(StockShell::Run(path, "select count(*) from Test"), "2\n");
        }
        EXPECT_FALSE(Beside(path, "-wal") || Beside(path, "-shm")) << "the last connection still folds the log in";
        EXPECT_EQ(testsupport::IntegrityCheck(path), "ok");
        EXPECT_EQ(StockShell::Run(path, "select count(*) from Test"), "2\n");
    }
}

// A linked data file that another program keeps in WAL mode and writes: while
// it is attached its log stays through another reader's visit, and the link
// sees each row the writer adds.
TEST_F(DaoOtherReaders, ALinkedFileInWalModeSeesWhatItsWriterAddsAfterAReader) {
    for (const auto& [touch, act] : kTouches) {
        SCOPED_TRACE(touch);
        const std::string data = dir.File(std::string(touch).substr(0, 3) + ".db");
        const std::string project = dir.File(std::string(touch).substr(0, 3) + "-link.txp");
        ASSERT_EQ(StockShell::Run(data, "pragma journal_mode=wal; create table People (Id integer primary key);"
                                        "insert into People values (1);"),
                  "wal\n");
        auto db = dao::DBEngine::CreateDatabase(project, dao::dbLangGeneral);
        db->TableDefs().Append(db->CreateTableDef("LinkDataSource", 0, "People", ";DATABASE=" + data));
        EXPECT_EQ(Count(*db, "SELECT Count(*) FROM LinkDataSource"), 1);
        EXPECT_EQ(StockShell::Run(data, "insert into People values (2);"), "");
        EXPECT_EQ(Count(*db, "SELECT Count(*) FROM LinkDataSource"), 2);
        act(data);
        EXPECT_EQ(StockShell::Run(data, "select count(*) from People"), "2\n");
        EXPECT_TRUE(Beside(data, "-wal")) << "the log stays while the file is linked";
        EXPECT_EQ(StockShell::Run(data, "insert into People values (3);"), "");
        EXPECT_EQ(Count(*db, "SELECT Count(*) FROM LinkDataSource"), 3);
        EXPECT_EQ(StockShell::Run(data, "pragma integrity_check"), "ok\n");
    }
}

// A file only read, by itself or as a link, keeps nothing beside it once let
// go, unless another program still has it open: that one keeps its log.
TEST_F(DaoOtherReaders, AFileOnlyReadIsLeftAsItWasUnlessAnotherProgramHoldsIt) {
    for (const bool linked : {false, true}) {
        for (const bool held : {false, true}) {
            SCOPED_TRACE(std::string(linked ? "linked" : "opened read-only") + (held ? ", held" : ""));
            const std::string data = dir.File(std::string(linked ? "l" : "r") + (held ? "h" : "") + ".db");
            ASSERT_EQ(StockShell::Run(data, "pragma journal_mode=wal; create table People (Id integer primary key);"
                                            "insert into People values (1);"),
                      "wal\n");
            ASSERT_FALSE(Beside(data, "-wal") || Beside(data, "-shm"));
            std::optional<StockShell::Session> other;
            {
                std::shared_ptr<dao::Database> db;
                if (linked) {
                    db = dao::DBEngine::CreateDatabase(data + ".txp", dao::dbLangGeneral);
                    db->TableDefs().Append(db->CreateTableDef("LinkDataSource", 0, "People", ";DATABASE=" + data));
                } else {
                    db = dao::DBEngine::OpenDatabase(data, false, true);
                }
                EXPECT_EQ(Count(*db, std::string("SELECT Count(*) FROM ") + (linked ? "LinkDataSource" : "People")), 1);
                if (held) {
                    other.emplace(data);
                    EXPECT_EQ(other->Run("select count(*) from People"), "1\n");
                }
            }
            EXPECT_EQ(Beside(data, "-wal"), held);
            EXPECT_EQ(Beside(data, "-shm"), held);
            if (held) {
                EXPECT_EQ(other->Run("insert into People values (2); select count(*) from People"), "2\n");
                other.reset();
            }
            EXPECT_FALSE(Beside(data, "-wal") || Beside(data, "-shm") || Beside(data, ".lck"));
            EXPECT_EQ(StockShell::Run(data, "pragma integrity_check"), "ok\n");
        }
    }
}

// A write transaction here keeps another program from writing, whatever the
// program opens and closes meanwhile; the other program's write goes in after
// the commit, and neither is lost.
TEST_F(DaoOtherReaders, AnotherProgramWaitsForAWriteOfOursAcrossAnyTouch) {
    for (const auto& [touch, act] : kTouches) {
        SCOPED_TRACE(touch);
        const std::string path = dir.File(std::string(touch).substr(0, 3) + "-w.txp");
        dao::DBEngine::CreateDatabase(path, dao::dbLangGeneral)->Execute("CREATE TABLE Test (K LONG, Mark BIT)");
        auto db = dao::DBEngine::OpenDatabase(path, false, false);
        db->BeginTrans();
        db->Execute("INSERT INTO Test VALUES (1, True)");
        act(path);
        const std::string refused = StockShell::Run(path, "pragma busy_timeout=100; insert into Test values (2, 1);");
        EXPECT_NE(refused.find("database is locked"), std::string::npos) << refused;
        db->CommitTrans();
        EXPECT_EQ(StockShell::Run(path, "insert into Test values (3, 1); select group_concat(K) from Test;"), "1,3\n");
        EXPECT_EQ(Count(*db, "SELECT Count(*) FROM Test"), 2);
        db->Close();
        EXPECT_EQ(testsupport::IntegrityCheck(path), "ok");
        EXPECT_EQ(StockShell::Run(path, "select group_concat(K) from Test"), "1,3\n");
    }
}
