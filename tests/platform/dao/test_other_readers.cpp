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
#include <functional>
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
    // A new project file of one table, named after the touch and the test.
    std::string NewProject(const std::string& touch, const char* suffix) {
        const std::string path = dir.File(touch.substr(0, 3) + suffix);
        dao::DBEngine::CreateDatabase(path, dao::dbLangGeneral)->Execute("CREATE TABLE Test (K LONG, Mark BIT)");
        return path;
    }
};

}  // namespace

TEST_F(DaoOtherReaders, ReadingAnOpenProjectBetweenTwoEditsBreaksNothing) {
    for (const auto& [touch, act] : kTouches) {
        SCOPED_TRACE(touch);
        const std::string path = NewProject(touch, ".txp");
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
        const std::string path = NewProject(touch, "-w.txp");
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

// Nothing of the program holds a read of the file between its steps: once the
// reads are let go, or after a row is written through a record set, another
// program folds the whole log back. A record set that was reading its rows
// goes on with all of them, whatever the other program removed meanwhile, and
// a forward-only one still reads its current row.
// Pages read with the reads let go between them, while another program
// deletes rows already read and this connection writes rows out of the
// statement's filter: every row comes once, in the statement's order, and
// none is passed over. Unsorted (walked in rowid order), sorted, and joined.
TEST_F(DaoOtherReaders, RowsReadBetweenChangesComeOnceEach) {
    const std::string path = dir.File("pages.txp");
    auto db = dao::DBEngine::CreateDatabase(path, dao::dbLangGeneral);
    db->Execute("CREATE TABLE T (K LONG CONSTRAINT PrimaryKey PRIMARY KEY, V LONG, W TEXT(10))");
    db->Execute("CREATE TABLE U (K LONG CONSTRAINT PrimaryKey PRIMARY KEY, M LONG)");
    // Sorted both ways, with NULLs among the values.
    const std::vector<std::pair<const char*, bool>> statements = {
        {"SELECT K, V FROM T WHERE V = 0", true},
        {"SELECT K, V FROM T WHERE V = 0 ORDER BY W DESC, K DESC", false},
        {"SELECT K, W FROM T WHERE V = 0 ORDER BY W, K DESC", false},
        {"SELECT T.K, U.M FROM T INNER JOIN U ON T.K = U.K WHERE T.V = 0", true},
    };
    for (const auto& [statement, rising] : statements) {
        SCOPED_TRACE(statement);
        db->Execute("DELETE FROM T");
        db->Execute("DELETE FROM U");
        db->BeginTrans();
        for (int k = 1; k <= 1000; ++k) {
            const std::string w = k % 5 ? "'w" + std::to_string(k / 7) + "'" : "NULL";
            db->Execute("INSERT INTO T VALUES (" + std::to_string(k) + ", 0, " + w + ")");
            db->Execute("INSERT INTO U VALUES (" + std::to_string(k) + ", " + std::to_string(k) + ")");
        }
        db->CommitTrans();
        std::vector<long> expected;
        for (auto all = db->OpenRecordset(statement, RecordsetType::Snapshot); !all->Eof(); all->MoveNext())
            expected.push_back(all->Fields(0).AsLong());
        ASSERT_EQ(expected.size(), 1000u);
        EXPECT_EQ(expected.front() == 1, rising);

        auto rs = db->OpenRecordset(statement, RecordsetType::Dynaset);
        std::vector<long> seen;
        const auto page = [&](size_t upTo) {
            for (; seen.size() < upTo && !rs->Eof(); rs->MoveNext()) seen.push_back(rs->Fields(0).AsLong());
            db->EndReads();
        };
        const auto change = [&](size_t deleted, size_t written) {
            ASSERT_EQ(StockShell::Run(path, "delete from T where K = " + std::to_string(expected[deleted])), "");
            db->Execute("UPDATE T SET V = 1 WHERE K = " + std::to_string(expected[written]));
        };
        page(128);
        change(2, 4);
        page(256);
        change(149, 139);
        for (size_t upTo = 384; seen.size() + 128 >= upTo; upTo += 128) page(upTo);
        EXPECT_EQ(seen, expected);
        EXPECT_EQ(rs->RecordCount(), 1000);
        for (size_t i : {255u, 256u, 257u, 999u}) {
            rs->FindFirst("K = " + std::to_string(expected[i]));
            EXPECT_FALSE(rs->NoMatch()) << expected[i];
        }
    }
}

TEST_F(DaoOtherReaders, NoReadIsHeldBetweenStepsAndRowsGoOnAfterAnotherProgramsChange) {
    const std::string path = dir.File("held.txp");
    {
        auto db = dao::DBEngine::CreateDatabase(path, dao::dbLangGeneral);
        db->Execute("CREATE TABLE T (K LONG CONSTRAINT PrimaryKey PRIMARY KEY, V LONG)");
        db->BeginTrans();
        for (int k = 1; k <= 1000; ++k) db->Execute("INSERT INTO T VALUES (" + std::to_string(k) + ", 0)");
        db->CommitTrans();
    }
    const auto folded = [&] { return StockShell::Run(path, "pragma wal_checkpoint(truncate)") == "0|0|0\n"; };
    auto db = dao::DBEngine::OpenDatabase(path, false, false);
    ASSERT_EQ(StockShell::Run(path, "update T set V = 1 where K = 1000"), "");
    auto rs = db->OpenRecordset("SELECT K, V FROM T", RecordsetType::Dynaset);
    for (int i = 0; i < 300; ++i) rs->MoveNext();
    auto forward = db->OpenRecordset("SELECT K FROM T", RecordsetType::ForwardOnly);
    for (int i = 0; i < 3; ++i) forward->MoveNext();
    EXPECT_FALSE(folded()) << "record sets part-way read the file as it was";
    db->EndReads();
    EXPECT_TRUE(folded());

    ASSERT_EQ(StockShell::Run(path, "delete from T where K = 10"), "");
    rs->MoveLast();
    EXPECT_EQ(rs->RecordCount(), 1000) << "the 300 rows read and every later one";
    for (int k : {301, 302, 1000}) {
        rs->FindFirst("K = " + std::to_string(k));
        EXPECT_FALSE(rs->NoMatch()) << k;
    }
    EXPECT_EQ(rs->Fields("V").AsLong(), 1);
    rs->Edit();
    rs->Fields("V").SetValue(com::Variant::I4(2));
    rs->Update();
    EXPECT_TRUE(folded()) << "a record set that wrote its row holds no read of it";
    EXPECT_EQ(StockShell::Run(path, "select V from T where K = 1000"), "2\n");
    EXPECT_EQ(forward->Fields(0).AsLong(), 4);

    // Each way of writing, after another program's commit while a record set
    // here reads part-way on the file as it was before.
    db->Execute("CREATE TABLE C (K LONG CONSTRAINT PrimaryKey PRIMARY KEY, N COUNTER)");
    const std::vector<std::pair<const char*, std::function<void()>>> writes = {
        {"a statement", [&] { db->Execute("UPDATE T SET V = 3 WHERE K = 1"); }},
        {"a row with a counter", [&] { db->Execute("INSERT INTO C (K) VALUES (1)"); }},
        {"a transaction",
         [&] {
             db->BeginTrans();
             db->Execute("UPDATE T SET V = 4 WHERE K = 2");
             db->CommitTrans();
         }},
    };
    for (const auto& [way, write] : writes) {
        SCOPED_TRACE(way);
        rs->MovePrevious();
        rs->Fields("V").Value();  // read here, on the file as it is before the other program's commit
        ASSERT_EQ(StockShell::Run(path, "update T set V = V + 1 where K = 999"), "");
        write();
    }
    EXPECT_EQ(StockShell::Run(path, "select group_concat(V) from (select V from T where K in (1, 2, 999) order by K);"
                                    "select count(*) from C"),
              "3,4,3\n1\n");
}
