// A full disk seen by the database layer: a made database closes complete in
// its one file or says the disk is full; a sound file that cannot be opened
// for want of room is not called damaged.
#include "fixture.h"

#include "IntegrityCheck.h"
#include "SmallDisk.h"

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>

using namespace daotest;

namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A database of `rows` rows, its log not yet copied back.
std::shared_ptr<dao::Database> Filled(const std::string& path, int rows) {
    auto db = dao::DBEngine::CreateDatabase(path, dao::dbLangGeneral);
    db->Execute("CREATE TABLE T (Id LONG CONSTRAINT PrimaryKey PRIMARY KEY, A TEXT(100))");
    db->BeginTrans();
    auto rs = db->OpenRecordset("T", dao::RecordsetType::Dynaset);
    for (int i = 0; i < rows; ++i) {
        rs->AddNew();
        rs->Fields(0).SetValue(L(i));
        rs->Fields(1).SetValue(S(std::string(80, char('a' + i % 26))));
        rs->Update();
    }
    rs->Close();
    db->CommitTrans();
    return db;
}

}  // namespace

TEST(DaoFullDisk, FinishLeavesOneSoundFileOrSaysTheDiskIsFull) {
    testsupport::SmallDisk disk(1 << 20);
    if (!disk.Ready()) GTEST_SKIP() << disk.Why();
    // Room for the rows in the log, not for copying them back as well.
    const std::string path = disk.File("made.db");
    auto db = Filled(path, 5000);
    ASSERT_TRUE(std::filesystem::exists(path + "-wal"));
    EXPECT_EQ(ErrorOf([&] { db->Finish(); }), 3035);
    EXPECT_EQ(ErrorOf([&] { db->TableDefs(); }), 3420);  // closed either way

    std::filesystem::remove(path);
    std::filesystem::remove(path + "-wal");
    std::filesystem::remove(path + "-shm");
    const std::string small = disk.File("small.db");
    Filled(small, 100)->Finish();
    for (const char* suffix : {"-wal", "-shm", "-journal", ".lck"})
        EXPECT_FALSE(std::filesystem::exists(small + suffix)) << suffix;
    EXPECT_EQ(testsupport::IntegrityCheck(small), "ok");
}

TEST(DaoFullDisk, AFileWhoseLogHoldsPartOfItIsNotMovedAlone) {
    TempDir dir;
    const std::string from = dir.File("from.db"), to = dir.File("to.db");
    { std::ofstream(to) << "old"; }
    auto db = Filled(from, 10);
    ASSERT_TRUE(std::filesystem::exists(from + "-wal"));
    EXPECT_EQ(ErrorOf([&] { dao::DBEngine::ReplaceDatabase(from, to); }), 3049);
    EXPECT_EQ(ReadAll(to), "old");
    db->Finish();
    EXPECT_EQ(ErrorOf([&] { dao::DBEngine::ReplaceDatabase(from, to); }), 0);
    EXPECT_EQ(testsupport::IntegrityCheck(to), "ok");
}

TEST(DaoFullDisk, ASoundFileOnAFullDiskIsNotCalledDamaged) {
    testsupport::SmallDisk disk(1 << 20);
    if (!disk.Ready()) GTEST_SKIP() << disk.Why();
    // Closed as a project is, its log given back but the file still in WAL mode.
    const std::string path = disk.File("sound.db");
    Filled(path, 200)->Close();
    ASSERT_FALSE(std::filesystem::exists(path + "-wal"));
    const std::string before = ReadAll(path);
    disk.LeaveFree(0);
    for (const bool readOnly : {true, false}) {
        SCOPED_TRACE(readOnly ? "read-only" : "writable");
        long number = 0;
        try {
            auto db = dao::DBEngine::OpenDatabase(path, false, readOnly);
            auto rs = db->OpenRecordset("SELECT count(*) FROM T", dao::RecordsetType::Snapshot);
            EXPECT_EQ(rs->Fields(0).AsLong(), 200);
        } catch (const dao::DaoError& e) {
            number = e.Number();
        }
        EXPECT_TRUE(number == 0 || number == 3035) << number;
    }
    disk.Unfill();
    EXPECT_EQ(ReadAll(path), before);
    EXPECT_EQ(testsupport::IntegrityCheck(path), "ok");
}

// A transaction the disk has no room for, whether the engine ends it at once
// or its commit fails: the full disk is raised, the rollback that follows
// undoes it without an error of its own, and the file stays sound.
TEST(DaoFullDisk, ATransactionTheDiskCannotHoldRollsBack) {
    for (const int rows : {100, 20000}) {
        SCOPED_TRACE(std::to_string(rows) + " rows");
        testsupport::SmallDisk disk(2 << 20);
        if (!disk.Ready()) GTEST_SKIP() << disk.Why();
        const std::string path = disk.File("t.db");
        auto db = Filled(path, 0);
        disk.LeaveFree(8 << 10);
        const long failed = ErrorOf([&] {
            db->BeginTrans();
            for (int i = 0; i < rows; ++i)
                db->Execute("INSERT INTO T VALUES (" + std::to_string(i) + ", '" + std::string(80, 'x') + "')");
            db->CommitTrans();
        });
        EXPECT_EQ(failed, 3035);
        EXPECT_EQ(ErrorOf([&] { db->Rollback(); }), 0);
        disk.Unfill();
        EXPECT_EQ(ErrorOf([&] { db->Execute("INSERT INTO T VALUES (-1, 'after')"); }), 0);
        db->Close();
        EXPECT_EQ(testsupport::IntegrityCheck(path), "ok");
        auto again = dao::DBEngine::OpenDatabase(path);
        EXPECT_EQ(again->OpenRecordset("SELECT count(*) FROM T", dao::RecordsetType::Snapshot)->Fields(0).AsLong(), 1);
    }
}
