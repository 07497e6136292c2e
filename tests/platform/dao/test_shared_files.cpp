// Files shared with other processes: a holder that reaches a file by another
// name is met as one through the same name; a file only read is never opened
// for writing, and the locks of the program's readers of a file hold whatever
// else of the program opens it.
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>

#include "Confined.h"
#include "StockShell.h"
#include "fixture.h"

using namespace daotest;
using dao::RecordsetType;
using testsupport::InChildText;
using testsupport::StockShell;

namespace {

namespace fs = std::filesystem;

std::string Text(dao::Database& db, const std::string& sql) {
    auto rs = db.OpenRecordset(sql, RecordsetType::Snapshot);
    std::string out;
    for (int i = 0; i < rs->Fields().Count(); ++i) out += (i ? "|" : "") + rs->Fields(i).AsString();
    return out;
}

class DaoSharedFiles : public ::testing::Test {
protected:
    TempDir dir;
    std::string NewProject(const std::string& name) {
        const std::string path = dir.File(name);
        dao::DBEngine::CreateDatabase(path, dao::dbLangGeneral)->Execute("CREATE TABLE T (K LONG, V LONG)");
        return path;
    }
};

}  // namespace

// Another process holds the project through one name; through a hard link
// of it, a symbolic link to it or a bind mount of its folder a second holder
// that must be alone is refused as in use, as through the same name. Once the
// holder is gone each name opens, and a write through one is seen through all.
TEST_F(DaoSharedFiles, AHolderIsMetThroughEveryNameOfTheFile) {
    const std::string project = NewProject("a.txp");
    const std::string hard = dir.File("b.txp"), soft = dir.File("s.txp"), view = dir.File("view");
    fs::create_hard_link(project, hard);
    fs::create_symlink(project, soft);
    fs::create_directories(view);
    int ready[2], done[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(done), 0);
    const pid_t holder = ::fork();
    if (holder == 0) {
        ::close(done[1]);
        auto db = dao::DBEngine::OpenDatabase(project, false, false);
        db->Execute("INSERT INTO T VALUES (1, 0)");
        char c = 1;
        if (::write(ready[1], &c, 1) != 1) ::_exit(1);
        (void)!::read(done[0], &c, 1);
        db->Execute("INSERT INTO T VALUES (2, 0)");
        db->Close();
        ::_exit(0);
    }
    ::close(ready[1]);
    ::close(done[0]);
    char c = 0;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    for (const std::string& name : {project, hard, soft}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(ErrorOf([&] { dao::DBEngine::OpenDatabase(name, true, true); }), 3045);
        EXPECT_EQ(ErrorOf([&] { dao::DBEngine::OpenDatabase(name, true, false); }), 3045);
    }
    const std::string mounted = InChildText([&]() -> std::string {
        if (::geteuid() != 0) return "skip";
        if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount(dir.Path().c_str(), view.c_str(), nullptr, MS_BIND, nullptr) != 0)
            return "skip";
        return std::to_string(ErrorOf([&] { dao::DBEngine::OpenDatabase(view + "/a.txp", true, false); }));
    });
    if (mounted != "skip") {
        EXPECT_EQ(mounted, "3045") << "through a bind mount";
    }
    ::close(done[1]);
    ::waitpid(holder, nullptr, 0);
    for (const std::string& name : {hard, soft, project}) {
        SCOPED_TRACE(name);
        auto db = dao::DBEngine::OpenDatabase(name, true, false);
        db->Execute("INSERT INTO T VALUES (3, 0)");
        db->Close();
    }
    EXPECT_EQ(Text(*dao::DBEngine::OpenDatabase(soft, false, true), "SELECT Count(*), Sum(K) FROM T"), "5|12");
}

// A data source that is only read, linked or opened to read, in either of
// SQLite's journal modes: a watcher of the file sees it opened and closed,
// and never closed after a write.
TEST_F(DaoSharedFiles, AFileOnlyReadIsNeverOpenedForWriting) {
    if (StockShell::Path().empty()) GTEST_SKIP() << "the stock sqlite3 shell is not installed";
    for (const char* mode : {"wal", "delete"}) {
        SCOPED_TRACE(mode);
        const std::string data = dir.File(std::string(mode) + ".db");
        ASSERT_EQ(StockShell::Run(data, std::string("pragma journal_mode=") + mode +
                                            "; create table People (Id integer primary key); insert into People values (1);"),
                  std::string(mode) + "\n");
        const int watcher = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        ASSERT_GE(watcher, 0);
        ASSERT_GE(::inotify_add_watch(watcher, data.c_str(), IN_OPEN | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE), 0);
        {
            auto project = dao::DBEngine::CreateDatabase(data + ".txp", dao::dbLangGeneral);
            project->TableDefs().Append(project->CreateTableDef("LinkDataSource", 0, "People", ";DATABASE=" + data));
            EXPECT_EQ(Text(*project, "SELECT Count(*) FROM LinkDataSource"), "1");
            auto read = dao::DBEngine::OpenDatabase(data, false, true);
            EXPECT_EQ(Text(*read, "SELECT Count(*) FROM People"), "1");
        }
        int opened = 0, written = 0;
        alignas(inotify_event) char buffer[4096];
        for (ssize_t n; (n = ::read(watcher, buffer, sizeof buffer)) > 0;)
            for (char* p = buffer; p < buffer + n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(p);
                opened += (event->mask & IN_OPEN) != 0;
                written += (event->mask & IN_CLOSE_WRITE) != 0;
                p += sizeof(inotify_event) + event->len;
            }
        ::close(watcher);
        EXPECT_GT(opened, 0) << "the watcher sees the file";
        EXPECT_EQ(written, 0) << "closed after being opened for writing";
        EXPECT_FALSE(fs::exists(data + "-wal") || fs::exists(data + "-shm")) << "nothing is left beside it";
        EXPECT_EQ(StockShell::Run(data, "pragma integrity_check; select count(*) from People"), "ok\n1\n");
    }
}

// Whether a read lock of SQLite's is held on the file, as another program
// that wants to write it sees.
bool ReadLockOn(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0x40000002;  // SQLite's shared bytes
    lock.l_len = 510;
    const bool held = fd >= 0 && ::fcntl(fd, F_OFD_GETLK, &lock) == 0 && lock.l_type == F_RDLCK;
    if (fd >= 0) ::close(fd);
    return held;
}

// One connection of the program reads a file in rollback-journal mode while
// another of the same file, opened later to write, takes its first lock: the
// reader's lock holds against another program's write throughout, and both
// connections go on.
TEST_F(DaoSharedFiles, AReadersLockHoldsWhenAWriterOfTheSameFileComes) {
    if (StockShell::Path().empty()) GTEST_SKIP() << "the stock sqlite3 shell is not installed";
    const std::string data = dir.File("mixed.db");
    ASSERT_EQ(StockShell::Run(data, "create table People (Id integer primary key); insert into People values (1);"), "");
    sqlite3 *reader = nullptr, *writer = nullptr;
    ASSERT_EQ(sqlite3_open_v2(data.c_str(), &reader, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(reader, "BEGIN; SELECT count(*) FROM People;", nullptr, nullptr, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_open_v2(data.c_str(), &writer, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
    EXPECT_TRUE(ReadLockOn(data));
    EXPECT_EQ(sqlite3_exec(writer, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(writer);
    EXPECT_TRUE(ReadLockOn(data)) << "the reader's lock went with the writer's first";
    EXPECT_EQ(sqlite3_exec(writer, "ROLLBACK", nullptr, nullptr, nullptr), SQLITE_OK);
    const std::string refused = StockShell::Run(data, "pragma busy_timeout=100; insert into People values (2);");
    EXPECT_NE(refused.find("database is locked"), std::string::npos) << refused;
    ASSERT_EQ(sqlite3_exec(reader, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
    EXPECT_FALSE(ReadLockOn(data));
    EXPECT_EQ(sqlite3_exec(writer, "INSERT INTO People VALUES (3)", nullptr, nullptr, nullptr), SQLITE_OK)
        << sqlite3_errmsg(writer);
    EXPECT_EQ(StockShell::Run(data, "insert into People values (4); select group_concat(Id) from People;"), "1,3,4\n");
    sqlite3_close(writer);
    sqlite3_close(reader);
}
