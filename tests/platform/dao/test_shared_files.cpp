// Files shared with other processes, and files seen where they cannot be
// written: a read-only bind mount, a folder of another user's. What is read
// there is what SQLite's own readers read, under its locking; a holder that
// reaches a file by another name is met as one through the same name; and a
// file only read is never opened for writing.
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>

#include "Confined.h"
#include "InChild.h"
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

// What the layer reads of the file, opened to read: the rows of T, or the error.
std::string CountRead(const std::string& path) {
    try {
        return Text(*dao::DBEngine::OpenDatabase(path, false, true), "SELECT Count(*) FROM T");
    } catch (const dao::DaoError& e) {
        return "error " + std::to_string(e.Number()) + ": " + e.what();
    }
}

// Runs SQL on the file with SQLite alone, in a child that is killed before it
// closes the file: what it committed stays in the log.
void RunAndDie(const std::string& path, const std::string& sql) {
    testsupport::InChild([&] {
        sqlite3* db = nullptr;
        sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
        ::_exit(sqlite3_exec(db, ("PRAGMA wal_autocheckpoint=0;" + sql).c_str(), nullptr, nullptr, nullptr));
        return 0;
    });
}

class DaoSharedFiles : public ::testing::Test {
protected:
    TempDir dir;
    std::string NewProject(const std::string& name) {
        const std::string path = dir.File(name);
        dao::DBEngine::CreateDatabase(path, dao::dbLangGeneral)->Execute("CREATE TABLE T (K LONG, V LONG)");
        return path;
    }
    // A folder of its own holding copies of the files given.
    std::string FolderOf(const std::string& name, const std::vector<std::string>& files) {
        const fs::path folder = dir.Path() / name;
        fs::create_directories(folder);
        for (const auto& f : files) fs::copy_file(f, folder / fs::path(f).filename());
        return folder.string();
    }
};

}  // namespace

// A writer was killed with its last 300 rows in the log; the files were then
// copied where they cannot be written, with the log's index or without.
// Every reader there reads the 300 rows: through a read-only bind mount, and
// as an unprivileged user for a read-only file in a read-only folder.
TEST_F(DaoSharedFiles, AKilledWritersLogIsReadWhereNothingCanBeWritten) {
    const std::string project = NewProject("killed.txp");
    std::string rows = "BEGIN;";
    for (int k = 1; k <= 300; ++k) rows += "INSERT INTO T VALUES (" + std::to_string(k) + ", 0);";
    RunAndDie(project, rows + "COMMIT;");
    ASSERT_GT(fs::file_size(project + "-wal"), 0u);
    ASSERT_TRUE(fs::exists(project + "-shm"));
    for (const bool withIndex : {true, false}) {
        SCOPED_TRACE(withIndex ? "with the log's index" : "without the log's index");
        std::vector<std::string> files = {project, project + "-wal"};
        if (withIndex) files.push_back(project + "-shm");
        const std::string tag = withIndex ? "i" : "n";
        const std::string mounted = FolderOf("m" + tag, files), view = FolderOf("v" + tag, {});
        const std::string viewed = InChildText([&]() -> std::string {
            const std::string why = testsupport::BindReadOnly(mounted, view);
            return why.empty() ? CountRead(view + "/killed.txp") : "skip: " + why;
        });
        if (viewed.rfind("skip: ", 0) == 0) std::cout << viewed << "\n";
        else EXPECT_EQ(viewed, "300") << "through a read-only bind mount";

        const std::string locked = FolderOf("p" + tag, files);
        for (const auto& f : fs::directory_iterator(locked)) fs::permissions(f.path(), fs::perms(0444));
        fs::permissions(locked, fs::perms(0555));
        const std::string unprivileged = InChildText([&]() -> std::string {
            const std::string why = testsupport::BecomeNobody();
            return why.empty() ? CountRead(locked + "/killed.txp") : "skip: " + why;
        });
        if (unprivileged.rfind("skip: ", 0) == 0) std::cout << unprivileged << "\n";
        else EXPECT_EQ(unprivileged, "300") << "as an unprivileged user";
        fs::permissions(locked, fs::perms(0755));
        for (const char* left : {"-shm", "-wal"})
            EXPECT_EQ(fs::exists(locked + "/killed.txp" + left), withIndex || std::string(left) == "-wal")
                << "nothing is made beside the file";
    }
}

// A project in WAL mode closed as it should be has no log beside it, which
// SQLite needs to read it: it still opens where nothing can be written,
// through a read-only bind mount, on a file system mounted read-only as a
// whole, and for an unprivileged user, and nothing is left behind.
TEST_F(DaoSharedFiles, AProjectClosedWholeOpensWhereNothingCanBeWritten) {
    const std::string project = NewProject("whole.txp");
    dao::DBEngine::OpenDatabase(project, false, false)->Execute("INSERT INTO T VALUES (1, 0)");
    ASSERT_FALSE(fs::exists(project + "-wal"));
    const std::string mounted = FolderOf("m", {project}), view = FolderOf("v", {});
    const std::vector<std::pair<const char*, std::function<std::string()>>> places = {
        {"a read-only bind mount", [&] { return testsupport::BindReadOnly(mounted, view); }},
        {"a file system mounted read-only",
         [&]() -> std::string {
             if (::geteuid() != 0) return "a mount needs root";
             if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                 ::mount("tmpfs", view.c_str(), "tmpfs", 0, "size=1m") != 0)
                 return "no tmpfs";
             fs::copy_file(project, view + "/whole.txp");
             return ::mount(nullptr, view.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, "size=1m") == 0 ? "" : "no remount";
         }},
        {"an unprivileged user", [&] {
             fs::permissions(mounted, fs::perms(0555));
             return testsupport::BecomeNobody();
         }},
    };
    for (const auto& [place, enter] : places) {
        SCOPED_TRACE(place);
        const std::string seen = InChildText([&]() -> std::string {
            const std::string why = enter();
            if (!why.empty()) return "skip: " + why;
            const std::string folder = std::string(place) == std::string("an unprivileged user") ? mounted : view;
            const std::string count = CountRead(folder + "/whole.txp");
            for (const auto& f : fs::directory_iterator(fs::temp_directory_path()))
                if (f.path().filename().string().rfind("tessary-read-" + std::to_string(::getpid()), 0) == 0)
                    return count + ", left " + f.path().string();
            return count;
        });
        fs::permissions(mounted, fs::perms(0755));
        if (seen.rfind("skip: ", 0) == 0) std::cout << seen << "\n";
        else EXPECT_EQ(seen, "1");
    }
    EXPECT_EQ(std::vector<fs::path>(fs::directory_iterator(mounted), {}).size(), 1u) << "nothing beside the file";
}

// An unprivileged user reads a file in a folder it may not write while the
// file's owner, another process, rewrites every row in one transaction after
// another: each read sees one of the owner's commits whole, and never a
// damaged file. Both of SQLite's journal modes.
TEST_F(DaoSharedFiles, AReaderWhereItCannotWriteSeesEachChangeWholeOrNotAtAll) {
    if (::geteuid() != 0) GTEST_SKIP() << "an owner and another user need root to be set up";
    for (const char* mode : {"delete", "wal"}) {
        SCOPED_TRACE(mode);
        const fs::path folder = dir.Path() / mode;
        fs::create_directories(folder);
        const std::string path = (folder / "shared.db").string();
        std::string rows = std::string("PRAGMA journal_mode=") + mode + "; CREATE TABLE T (K INTEGER PRIMARY KEY, V);" +
                           "WITH RECURSIVE n(k) AS (SELECT 1 UNION ALL SELECT k + 1 FROM n WHERE k < 2000) "
                           "INSERT INTO T SELECT k, 0 FROM n;";
        ASSERT_EQ(StockShell::Run(path, rows), std::string(mode) + "\n");
        fs::permissions(folder, fs::perms(0555));
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
        const pid_t owner = ::fork();
        if (owner == 0) {
            sqlite3* db = nullptr;
            sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
            sqlite3_busy_timeout(db, 2000);
            while (std::chrono::steady_clock::now() < until)
                sqlite3_exec(db, "BEGIN IMMEDIATE; UPDATE T SET V = V + 1; COMMIT;", nullptr, nullptr, nullptr);
            sqlite3_close(db);
            ::_exit(0);
        }
        const std::string seen = InChildText([&]() -> std::string {
            const std::string why = testsupport::BecomeNobody();
            if (!why.empty()) return "skip: " + why;
            int reads = 0;  // whole reads; one refused as in use is no read
            while (std::chrono::steady_clock::now() < until) {
                try {
                    auto db = dao::DBEngine::OpenDatabase(path, false, true);
                    for (int i = 0; i < 20; ++i, ++reads) {
                        const std::string sum = Text(*db, "SELECT Sum(V) Mod 2000, Count(*) FROM T");
                        if (sum != "0|2000") return "a torn read: " + sum;
                    }
                } catch (const dao::DaoError& e) {
                    if (e.Number() != 3196) return "error " + std::to_string(e.Number()) + ": " + e.what();
                }
            }
            return reads > 0 ? "whole" : "no read";
        });
        ::waitpid(owner, nullptr, 0);
        fs::permissions(folder, fs::perms(0755));
        if (seen.rfind("skip: ", 0) == 0) GTEST_SKIP() << seen;
        EXPECT_EQ(seen, "whole");
        EXPECT_NE(StockShell::Run(path, "select sum(v) from T"), "0\n") << "the owner wrote meanwhile";
    }
}

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
