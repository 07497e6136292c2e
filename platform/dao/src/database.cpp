// DBEngine, Workspace and Database: opening files, locking, links and the
// statements Execute runs.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <sstream>
#include <string_view>
#include <thread>

#include "AccessMirror.h"
#include "file/Error.h"
#include "file/SafeFile.h"
#include "OdbcSource.h"
#include "engine.h"

namespace dao::detail {

namespace {

std::string Upper(std::string_view s) { return UpperUtf8(s); }

// Names are equal as SQLite takes them: by the one comparison.
std::string InfoKey(const std::string& schema, const std::string& table) {
    return FoldForCompare(schema) + "\x1f" + FoldForCompare(table);
}

bool FileExists(const std::string& p) {
    struct stat st {};
    return ::stat(p.c_str(), &st) == 0;
}

std::string ParentDir(const std::string& p) {
    auto slash = p.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return p.substr(0, slash);
}

bool IsDir(const std::string& p) {
    struct stat st {};
    return ::stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// "SQLite format 3\0" heads every database file. Anything but a regular file
// (a FIFO, a device) is no database; it is opened without blocking and let be.
bool HasDatabaseHeader(const std::string& p, bool* empty) {
    *empty = false;
    int fd = ::open(p.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return false;
    }
    char buf[16] = {};
    ssize_t n = ::read(fd, buf, sizeof buf);
    ::close(fd);
    *empty = n == 0;
    return n == 16 && std::memcmp(buf, "SQLite format 3", 16) == 0;
}

std::string FileUri(const std::string& path) {
    std::string uri = "file:";
    for (unsigned char c : path) {
        if (std::isalnum(c) || c == '/' || c == '.' || c == '-' || c == '_') uri += char(c);
        else {
            char buf[4];
            std::snprintf(buf, sizeof buf, "%%%02X", c);
            uri += buf;
        }
    }
    return uri;
}

// An SQLite URI that opens a file for reading only.
std::string ReadOnlyUri(const std::string& path) { return FileUri(path) + "?mode=ro"; }

// A stored default that is a plain literal (a number, a text, a blob, Null or
// a truth value) of a size a row may carry; anything else is computed for
// every row added, whatever it costs.
bool IsConstantDefault(std::string_view text) {
    constexpr size_t kLongest = 255;
    if (text.size() > kLongest) return false;
    auto trim = [](std::string_view s) {
        while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
        while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
        return s;
    };
    std::string_view s = trim(text);
    while (s.size() >= 2 && s.front() == '(' && s.back() == ')') s = trim(s.substr(1, s.size() - 2));
    if (s.empty()) return false;
    for (const char* word : {"NULL", "TRUE", "FALSE", "CURRENT_TIME", "CURRENT_DATE", "CURRENT_TIMESTAMP"})
        if (EqualsNoCase(s, word)) return true;
    auto quoted = [](std::string_view q) {
        if (q.size() < 2 || q.front() != '\'' || q.back() != '\'') return false;
        for (size_t i = 1; i + 1 < q.size(); ++i)
            if (q[i] == '\'' && q[++i] != '\'') return false;
        return true;
    };
    if (quoted(s)) return true;
    if ((s.front() == 'x' || s.front() == 'X') && quoted(s.substr(1)))
        return std::all_of(s.begin() + 2, s.end() - 1, [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); });
    if (s.front() == '-' || s.front() == '+') s = trim(s.substr(1));
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X'))
        return std::all_of(s.begin() + 2, s.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); });
    size_t i = 0, digits = 0;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i, ++digits;
    if (i < s.size() && s[i] == '.')
        for (++i; i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]));) ++i, ++digits;
    if (digits == 0) return false;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
        const size_t start = i;
        while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i;
        if (i == start) return false;
    }
    return i == s.size();
}

// Holders of a database take a shared lock on a side file, an exclusive
// holder an exclusive one. A side file is used, not the database itself,
// because closing any descriptor of the database would drop the engine's own
// POSIX locks on it.
int TakeLock(const std::string& lockPath, bool exclusive, bool* denied, bool sideFile = true) {
    *denied = false;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(250);
    for (;;) {
        int fd = sideFile ? ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666)
                          : ::open(lockPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0) return -1;
        if (::flock(fd, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) == 0) {
            // The file may have been removed by a last holder between open and lock.
            struct stat a {}, b {};
            if (::fstat(fd, &a) == 0 && ::stat(lockPath.c_str(), &b) == 0 && a.st_ino == b.st_ino &&
                a.st_dev == b.st_dev)
                return fd;
            ::close(fd);
            continue;
        }
        ::close(fd);
        if (std::chrono::steady_clock::now() > deadline) {
            *denied = true;
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

// Whether a lock of flock's on a file stays apart from SQLite's own locks on
// it: on a network file system the kernel carries it out as a lock of the
// kind SQLite takes, which would keep every other program from the file.
bool FlockStandsApart(const std::string& path) {
    struct statfs fs {};
    if (::statfs(path.c_str(), &fs) != 0) return false;
    switch (static_cast<unsigned long>(fs.f_type)) {
    case 0x6969:      // NFS
    case 0x517B:      // SMB
    case 0xFF534D42:  // CIFS
    case 0xFE534D42:  // SMB2
    case 0x00C36400:  // Ceph
        return false;
    default:
        return true;
    }
}

// The holder's lock taken on the database file itself as well, so that a
// holder reaching the file by another name, a hard link, is met as one
// through the same name is: SQLite keeps a log per name, and two writers
// through two names would each go on with a log of its own. The descriptor is
// only read through, and a lock of flock's does not meet SQLite's.
int TakeFileLock(const std::string& path, bool exclusive, bool* denied) {
    *denied = false;
    if (!UseOwnLocks() || !FlockStandsApart(path)) return -1;
    return TakeLock(path, exclusive, denied, false);
}

// The side file holders of the database at path lock: path + ".lck", or for a
// name too long to take the suffix in a folder entry, the name cut short and
// told apart from others cut alike by a hash of the whole.
std::string LockPathOf(const std::string& path) {
    constexpr size_t kEntry = file::SafeFile::kLongestName, kTail = 21;  // "~" 16 hex digits ".lck"
    const size_t start = path.find_last_of('/') + 1;  // 0 without a folder
    if (path.size() - start + 4 <= kEntry) return path + ".lck";
    uint64_t hash = 1469598103934665603ull;  // FNV-1a
    for (size_t i = start; i < path.size(); ++i) hash = (hash ^ static_cast<unsigned char>(path[i])) * 1099511628211ull;
    char tail[kTail + 1];
    std::snprintf(tail, sizeof tail, "~%016llx.lck", static_cast<unsigned long long>(hash));
    return path.substr(0, start + kEntry - kTail) + tail;
}

void ReleaseLock(int fd, const std::string& lockPath) {
    if (fd < 0) return;
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) ::unlink(lockPath.c_str());
    ::close(fd);
}

// Memory statistics cost a global mutex on every allocation; nothing here
// reads them. Both settings take effect only before SQLite's first use in the
// process, which this precedes.
const bool kEngineSetUp = [] {
    sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
    return UseOwnLocks();
}();

// Whether the layer may bring a file it opens for writing to its own format
// (its user_version, its indexes in SQLite's order, its journal mode): only a
// file of the program's own, a project or a database it made. A file it was
// given to add a table to belongs to another program, whose schema version
// user_version may be and whose indexes may follow that program's collations.
bool OwnFile(const Core& core) { return !core.readOnly && !core.guest; }

void Configure(sqlite3* db, bool readOnly) {
    (void)kEngineSetUp;
    DistrustSchema(db);
    sqlite3_extended_result_codes(db, 1);
    sqlite3_busy_timeout(db, 5000);
    sqlite3_db_config(db, SQLITE_DBCONFIG_DQS_DML, 0, nullptr);
    sqlite3_db_config(db, SQLITE_DBCONFIG_DQS_DDL, 0, nullptr);
    RegisterFunctions(db);
    // Large scans read through memory-mapped pages instead of one read call
    // per page. The page cache stays at its default size: growing it to hold a
    // large transaction made every new page a fresh allocation, which cost
    // more than spilling pages to the log.
    sqlite3_exec(db, "PRAGMA mmap_size=1073741824", nullptr, nullptr, nullptr);
    if (!readOnly) sqlite3_exec(db, "PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr);
}

}  // namespace

void DistrustSchema(sqlite3* db) {
    sqlite3_db_config(db, SQLITE_DBCONFIG_ENABLE_TRIGGER, 0, nullptr);
    sqlite3_db_config(db, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
}

std::string IndexSqliteName(const std::string& table, const std::string& jetName, bool primary) {
    return table + "." + jetName + (primary ? "#pk" : "");
}

// ------------------------------------------------------------------ Core basics

Core::~Core() { Close(); }

// Pages in the log after which its contents are copied back into the file.
constexpr int kCheckpointPages = 1000;

namespace {

// What a file was when its text indexes were last found in order. Walking
// every such index costs a read of it, too much for each of the many opens of
// a session: a file that has not changed since is not walked again.
struct FileStamp {
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    int64_t mtime = 0;
    off_t logSize = -1;  // -1: no log beside it
    int64_t logMtime = 0;
    bool operator==(const FileStamp&) const = default;
};

bool StampOf(const std::string& path, FileStamp* out) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return false;
    *out = {st.st_dev, st.st_ino, st.st_size, int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec, -1, 0};
    if (::stat((path + "-wal").c_str(), &st) == 0) {
        out->logSize = st.st_size;
        out->logMtime = int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    }
    return true;
}

std::mutex gOrderedMutex;
std::vector<FileStamp> gOrdered;  // one per file: the latest stamp

bool KnownInOrder(const std::string& path) {
    FileStamp now;
    if (!StampOf(path, &now)) return false;
    std::lock_guard<std::mutex> lock(gOrderedMutex);
    return std::find(gOrdered.begin(), gOrdered.end(), now) != gOrdered.end();
}

void NoteInOrder(const std::string& path) {
    FileStamp now;
    if (!StampOf(path, &now)) return;
    std::lock_guard<std::mutex> lock(gOrderedMutex);
    std::erase_if(gOrdered, [&](const FileStamp& s) { return s.dev == now.dev && s.ino == now.ino; });
    gOrdered.push_back(now);
}

// One index entry's column as SQLite orders it: Null, numbers, text, blobs.
struct Cell {
    int type = SQLITE_NULL;
    double number = 0;
    int64_t integer = 0;
    std::string bytes;

    void Read(sqlite3_stmt* st, int i) {
        type = sqlite3_column_type(st, i);
        if (type == SQLITE_INTEGER) integer = sqlite3_column_int64(st, i);
        else if (type == SQLITE_FLOAT) number = sqlite3_column_double(st, i);
        else if (type != SQLITE_NULL) {
            const void* p = type == SQLITE_TEXT ? static_cast<const void*>(sqlite3_column_text(st, i)) : sqlite3_column_blob(st, i);
            bytes.assign(static_cast<const char*>(p ? p : ""), size_t(sqlite3_column_bytes(st, i)));
        }
    }
};

int Rank(int type) { return type == SQLITE_NULL ? 0 : type == SQLITE_INTEGER || type == SQLITE_FLOAT ? 1 : type == SQLITE_TEXT ? 2 : 3; }

int CompareCells(const Cell& a, const Cell& b, bool nocase) {
    if (Rank(a.type) != Rank(b.type)) return Rank(a.type) < Rank(b.type) ? -1 : 1;
    switch (Rank(a.type)) {
    case 0: return 0;
    case 1: {
        if (a.type == SQLITE_INTEGER && b.type == SQLITE_INTEGER) return a.integer < b.integer ? -1 : a.integer > b.integer;
        const long double x = a.type == SQLITE_INTEGER ? (long double)a.integer : a.number;
        const long double y = b.type == SQLITE_INTEGER ? (long double)b.integer : b.number;
        return x < y ? -1 : x > y;
    }
    case 2:
        if (nocase) return CompareUtf8(a.bytes.data(), a.bytes.size(), b.bytes.data(), b.bytes.size());
        [[fallthrough]];
    default: {
        const int c = std::memcmp(a.bytes.data(), b.bytes.data(), std::min(a.bytes.size(), b.bytes.size()));
        if (c != 0) return c < 0 ? -1 : 1;
        return a.bytes.size() < b.bytes.size() ? -1 : a.bytes.size() > b.bytes.size();
    }
    }
}

}  // namespace

int WalHook(void* arg, sqlite3* db, const char* schema, int pages) {
    Core* core = static_cast<Core*>(arg);
    // Our own commits keep the order: the file as it is now needs no walk.
    if (core->orderChecked && std::strcmp(schema, "main") == 0) NoteInOrder(core->path);
    if (pages < kCheckpointPages) return SQLITE_OK;
    if (std::strcmp(schema, "main") == 0) core->RequestCheckpoint();
    else sqlite3_wal_checkpoint_v2(db, schema, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
    return SQLITE_OK;
}

void Core::RequestCheckpoint() {
    std::unique_lock<std::mutex> lock(ckMutex);
    ckWanted = true;
    if (!checkpointer.joinable()) {
        std::string file = path;
        checkpointer = std::thread([this, file] {
            sqlite3* ck = nullptr;
            if (sqlite3_open_v2(file.c_str(), &ck, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
                sqlite3_close_v2(ck);
                return;
            }
            DistrustSchema(ck);
            sqlite3_busy_timeout(ck, 1000);
            std::unique_lock<std::mutex> l(ckMutex);
            for (;;) {
                ckCv.wait(l, [this] { return ckWanted || ckStop; });
                if (ckStop) break;
                ckWanted = false;
                l.unlock();
                // Passive: never waits for readers or the writer; what it cannot copy now waits for the next round.
                sqlite3_wal_checkpoint_v2(ck, "main", SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
                if (orderChecked) NoteInOrder(file);
                l.lock();
            }
            l.unlock();
            sqlite3_close_v2(ck);
        });
    }
    ckCv.notify_one();
}

void Core::StopCheckpointer() {
    {
        std::lock_guard<std::mutex> lock(ckMutex);
        ckStop = true;
    }
    ckCv.notify_one();
    if (checkpointer.joinable()) checkpointer.join();
}

void Core::ReleaseStatements() {
    StopCheckpointer();
    for (auto& [sql, st] : cache) sqlite3_finalize(st);
    cache.clear();
    sqlite3_finalize(probe);
    probe = nullptr;
    for (auto& [sql, st] : findCache) sqlite3_finalize(st);
    findCache.clear();
    SuspendStreams();
}


void Core::Close() {
    if (closed) return;
    closed = true;
    NameConnection(db, {});
    ReleaseStatements();
    if (db) {
        if (transDepth > 0) sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close_v2(db);
        db = nullptr;
        DropLogsOfReads({});
        // Our own writes keep the order: the file as it is now needs no walk.
        if (orderChecked) NoteInOrder(path);
    }
    ReleaseLock(lockFd, lockPath);
    lockFd = -1;
    if (fileLockFd >= 0) ::close(fileLockFd);
    fileLockFd = -1;
    tableDefs.items.clear();
    odbc.reset();
    for (const auto& f : scratchFiles) ::unlink(f.c_str());
    scratchFiles.clear();
}

namespace {

// The one text a pragma answers with, "" when it fails.
std::string PragmaText(sqlite3* db, const char* sql, int* rc) {
    sqlite3_stmt* st = nullptr;
    std::string out;
    *rc = sqlite3_prepare_v2(db, sql, -1, &st, nullptr);
    if (*rc == SQLITE_OK) {
        *rc = sqlite3_step(st);
        if (*rc == SQLITE_ROW) {
            const unsigned char* text = sqlite3_column_text(st, 0);
            out = text ? reinterpret_cast<const char*>(text) : "";
            *rc = SQLITE_OK;
        }
        if (*rc == SQLITE_DONE) *rc = SQLITE_OK;
        if (*rc != SQLITE_OK) *rc = sqlite3_extended_errcode(db);
    }
    sqlite3_finalize(st);
    return out;
}

// Whether a log or journal beside the file still holds part of it: the file
// alone is then not the database.
bool LogHoldsData(const std::string& path) {
    struct stat st {};
    for (const char* suffix : {"-wal", "-journal"})
        if (::stat((path + suffix).c_str(), &st) == 0 && st.st_size > 0) return true;
    return false;
}

// A system call's failure as the layer names it.
[[noreturn]] void RaiseErrno(int err, const std::string& path) {
    if (file::IsDiskFull(err)) Raise(file::kDiskFull, "'" + path + "'");
    RaiseWithDetail(3043, {}, "(" + path + ": " + std::strerror(err) + ")");
}

}  // namespace

namespace {

bool LogBeside(const std::string& file) {
    struct stat st {};
    return ::stat((file + "-wal").c_str(), &st) == 0 || ::stat((file + "-shm").c_str(), &st) == 0;
}

// Reading a file in WAL mode makes a log and its index beside it, which a
// connection that only reads does not take away when it closes. They go here
// as a last writer's would: only when no connection anywhere has the file
// open and the log holds nothing. The file itself is only read, so its lock is
// not taken, only looked at: every connection in WAL mode keeps a read lock
// on the file while it is open, and one that has the index open keeps a lock
// on it. A newcomer that opens the index meanwhile is held off by our lock on
// the index; one that took its lock on the file just before the log was put
// aside is seen by a second look, and the log gets its name back.
void DropLogOfReads(const std::string& file) {
    if (!LogBeside(file) || !UseOwnLocks()) return;
    constexpr off_t kFileLocks = 0x40000000, kFileLockBytes = 512, kIndexFirstUser = 128;
    const std::string log = file + "-wal", index = file + "-shm", aside = file + "-wal.tmp";
    const int indexFd = ::open(index.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
    if (indexFd < 0 && errno != ENOENT) return;
    if (indexFd >= 0) {
        struct flock first {};
        first.l_type = F_WRLCK;
        first.l_whence = SEEK_SET;
        first.l_start = kIndexFirstUser;
        first.l_len = 1;
        if (::fcntl(indexFd, F_OFD_SETLK, &first) != 0) {
            ::close(indexFd);
            return;
        }
    }
    const int fileFd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    const auto held = [&] {
        struct flock lock {};
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        lock.l_start = kFileLocks;
        lock.l_len = kFileLockBytes;
        return ::fcntl(fileFd, F_OFD_GETLK, &lock) != 0 || lock.l_type != F_UNLCK;
    };
    struct stat st {};
    if (fileFd >= 0 && !held() && (::stat(log.c_str(), &st) != 0 || st.st_size == 0)) {
        const bool putAside = ::rename(log.c_str(), aside.c_str()) == 0;
        if (!held()) {
            if (putAside) ::unlink(aside.c_str());
            if (indexFd >= 0) ::unlink(index.c_str());
        } else if (putAside && ::renameat2(AT_FDCWD, aside.c_str(), AT_FDCWD, log.c_str(), RENAME_NOREPLACE) != 0) {
            ::unlink(aside.c_str());  // the newcomer made a log of its own
        }
    }
    if (fileFd >= 0) ::close(fileFd);
    if (indexFd >= 0) ::close(indexFd);
}

}  // namespace

void Core::DropLogsOfReads(const std::string& schema) {
    for (auto it = logsOfReads.begin(); it != logsOfReads.end();) {
        if (!schema.empty() && it->first != schema) {
            ++it;
            continue;
        }
        DropLogOfReads(it->second);
        it = logsOfReads.erase(it);
    }
}

void Core::Finish() {
    CheckWritable();
    if (transDepth > 0) {
        Close();
        Raise(3219);
    }
    ReleaseStatements();
    try {
        // The log copied back whole and then given up: only a checkpoint that
        // copied every page lets the file stand alone.
        int logged = -1, copied = -1;
        int rc = sqlite3_wal_checkpoint_v2(db, "main", SQLITE_CHECKPOINT_TRUNCATE, &logged, &copied);
        if (rc != SQLITE_OK) RaiseSqlite(db, rc, path);
        if (logged != copied) Raise(3211, path);
        // Out of WAL mode no log is left beside the file. Another program's
        // file keeps its own mode: its empty log goes when it is closed.
        if (!guest || PragmaText(db, "PRAGMA journal_mode", &rc) != "wal") {
            const std::string mode = PragmaText(db, "PRAGMA journal_mode=DELETE", &rc);
            if (rc != SQLITE_OK) RaiseSqlite(db, rc, path);
            if (mode != "delete") Raise(3211, path);
        }
        const std::string check = PragmaText(db, "PRAGMA integrity_check(1)", &rc);
        if (rc != SQLITE_OK) RaiseSqlite(db, rc, path);
        if (check != "ok") Raise(3049, path);
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) RaiseErrno(errno, path);
        const int synced = ::fsync(fd);
        const int err = errno;
        ::close(fd);
        if (synced != 0) RaiseErrno(err, path);
    } catch (...) {
        Close();
        throw;
    }
    Close();
}

// Pages are copied as they are, the log's included, while this connection
// holds the file: the copy is this database as it stands.
void Core::CopyTo(const std::string& file) {
    CheckOpen();
    sqlite3* to = nullptr;
    int rc = sqlite3_open_v2(file.c_str(), &to, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                             nullptr);
    std::unique_ptr<sqlite3, int (*)(sqlite3*)> toFree(to, sqlite3_close_v2);
    if (rc != SQLITE_OK) RaiseSqlite(to, rc, file);
    sqlite3_extended_result_codes(to, 1);
    sqlite3_backup* copy = sqlite3_backup_init(to, "main", db, "main");
    if (!copy) RaiseSqlite(to, sqlite3_extended_errcode(to), file);
    rc = sqlite3_backup_step(copy, -1);
    sqlite3_backup_finish(copy);
    if (rc != SQLITE_DONE) RaiseSqlite(to, sqlite3_extended_errcode(to), file);
    // A copy that cannot be closed is not known to be whole; the connection
    // is still let go, by the deleter.
    if (sqlite3_close(to) != SQLITE_OK) Raise(3043);
    toFree.release();
}

void Core::FillOdbcTable(const std::string& name) {
    std::string key = FoldForCompare(name);
    if (!odbc || odbcFilled.count(key)) return;
    // The copy is the only write this read-only connection ever makes.
    Exec("PRAGMA query_only = 0");
    try {
        Exec("BEGIN");
        odbc->CopyRows(db, "main", name);
        Exec("COMMIT");
    } catch (...) {
        sqlite3_exec(db, "ROLLBACK; PRAGMA query_only = 1", nullptr, nullptr, nullptr);
        throw;
    }
    Exec("PRAGMA query_only = 1");
    odbcFilled.insert(key);
}

void Core::CheckOpen() const {
    if (closed || !db) Raise(3420);
}

void Core::CheckWritable() const {
    CheckOpen();
    if (readOnly) Raise(3027);
}

sqlite3_stmt* Core::Prepare(const std::string& sql) {
    CheckOpen();
    sqlite3_stmt* st = nullptr;
    int rc = sqlite3_prepare_v2(db, sql.c_str(), int(sql.size()), &st, nullptr);
    if (rc != SQLITE_OK) {
        sqlite3_finalize(st);
        RaiseSqlite(db, rc, sql);
    }
    return st;
}

sqlite3_stmt* Core::Cached(const std::string& sql) {
    auto it = cache.find(sql);
    if (it != cache.end()) {
        sqlite3_reset(it->second);
        sqlite3_clear_bindings(it->second);
        return it->second;
    }
    sqlite3_stmt* st = Prepare(sql);
    cache.emplace(sql, st);
    return st;
}

sqlite3_stmt* Core::CachedFind(const std::string& sql) {
    auto it = findCache.find(sql);
    if (it != findCache.end()) {
        sqlite3_reset(it->second);
        return it->second;
    }
    if (findCache.size() >= 32) {
        for (auto& [text, st] : findCache) sqlite3_finalize(st);
        findCache.clear();
    }
    sqlite3_stmt* st = Prepare(sql);
    findCache.emplace(sql, st);
    return st;
}

void Core::Exec(const std::string& sql) {
    CheckOpen();
    char* err = nullptr;
    int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err);
    sqlite3_free(err);
    if (rc != SQLITE_OK) RaiseSqlite(db, rc, sql);
}

void Core::Step(sqlite3_stmt* st, const std::string& context) {
    auto run = [st] {
        int rc;
        while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
        }
        return rc;
    };
    int rc = run();
    if (rc != SQLITE_DONE) {
        sqlite3_reset(st);
        if (LetReadsGo(rc)) rc = run();
    }
    if (rc != SQLITE_DONE) {
        sqlite3_reset(st);
        RaiseSqlite(db, rc, context);
    }
    sqlite3_reset(st);
}

bool Core::Reading() {
    for (sqlite3_stmt* st = sqlite3_next_stmt(db, nullptr); st; st = sqlite3_next_stmt(db, st))
        if (sqlite3_stmt_busy(st)) return true;
    return false;
}

bool Core::LetReadsGo(int rc) {
    if ((rc & 0xFF) != SQLITE_BUSY || !sqlite3_get_autocommit(db) || !Reading()) return false;
    SuspendStreams();
    return !Reading();
}

void Core::Changed(bool schema) {
    ++writeGen;
    if (schema) {
        ++schemaGen;
        infoCache.clear();
    }
}

// ------------------------------------------------------------------ schema

namespace {

// Keeps the first part found that computes values as rows are written.
void NoteComputed(TableInfo& ti, const std::string& what) {
    if (ti.computed.empty()) ti.computed = what;
}

// The statement that made the table; false when there is no such table.
bool ReadTableSql(Core& core, const std::string& qs, const std::string& table, std::string* sql) {
    sqlite3_stmt* st =
        core.Prepare("SELECT sql FROM " + qs + ".sqlite_master WHERE type='table' AND name=?1 COLLATE NOCASE");
    sqlite3_bind_text(st, 1, table.c_str(), -1, SQLITE_TRANSIENT);
    bool found = false;
    if (sqlite3_step(st) == SQLITE_ROW) {
        found = true;
        auto p = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
        *sql = p ? p : "";
    }
    sqlite3_finalize(st);
    return found;
}

// Reads the columns into ti; returns how many are in the primary key.
int ReadColumns(Core& core, const std::string& qs, const std::string& table, TableInfo& ti) {
    // table_xinfo also lists generated columns, which table_info leaves out.
    sqlite3_stmt* st = core.Prepare("PRAGMA " + qs + ".table_xinfo(" + QuoteString(table) + ")");
    int pkCount = 0;
    while (sqlite3_step(st) == SQLITE_ROW) {
        ColumnInfo c;
        c.name = reinterpret_cast<const char*>(sqlite3_column_text(st, 1));
        if (sqlite3_column_int(st, 6) != 0) {
            NoteComputed(ti, "the generated column " + c.name);
            continue;
        }
        auto d = reinterpret_cast<const char*>(sqlite3_column_text(st, 2));
        c.decl = d ? d : "";
        c.ct = TypeFromDecl(c.decl);
        c.notNull = sqlite3_column_int(st, 3) != 0;
        c.pk = sqlite3_column_int(st, 5);
        if (auto dflt = reinterpret_cast<const char*>(sqlite3_column_text(st, 4)); dflt && !IsConstantDefault(dflt))
            NoteComputed(ti, "the default of column " + c.name);
        if (c.pk) ++pkCount;
        ti.cols.push_back(std::move(c));
    }
    sqlite3_finalize(st);
    return pkCount;
}

// Names the hidden row key in ti and returns the column that is that key
// (an INTEGER primary key), or null.
ColumnInfo* FindRowidKey(TableInfo& ti, int pkCount) {
    // A user's column may be named like the hidden row key: address rows by a
    // name no column has (an INTEGER primary key column is the key itself).
    for (const char* candidate : {"rowid", "_rowid_", "oid", ""}) {
        ti.rowid = candidate;
        bool taken = false;
        for (const auto& c : ti.cols)
            if (EqualsNoCase(c.name, ti.rowid)) taken = true;
        if (!taken) break;
    }
    // An INTEGER primary key is the rowid itself; with AUTOINCREMENT it is a counter.
    ColumnInfo* rowidPk = nullptr;
    if (pkCount == 1)
        for (auto& c : ti.cols)
            if (c.pk && Upper(c.decl) == "INTEGER") rowidPk = &c;
    if (rowidPk && Upper(ti.sql).find("AUTOINCREMENT") != std::string::npos) rowidPk->ct.autoIncrement = true;
    if (rowidPk) rowidPk->notNull = true;
    if (rowidPk) rowidPk->rowidKey = true;
    if (ti.rowid.empty()) ti.rowid = rowidPk ? QuoteIdent(rowidPk->name) : "rowid";
    return rowidPk;
}

// The primary key constraint's own name, as written when the table was made.
std::string PrimaryKeyName(const std::string& sql) {
    std::string pkName = "PrimaryKey";
    try {
        auto toks = Tokenize(sql);
        for (size_t i = 0; i + 2 < toks.size(); ++i)
            if (toks[i].Is("CONSTRAINT") && toks[i + 2].Is("PRIMARY")) pkName = toks[i + 1].text;
    } catch (const DaoError&) {
    }
    return pkName;
}

// The table's SQLite indexes, in creation order, without their columns.
std::vector<IndexInfo> ListIndexes(Core& core, const std::string& qs, const std::string& table,
                                   const std::string& pkName, TableInfo& ti) {
    sqlite3_stmt* il = core.Prepare("PRAGMA " + qs + ".index_list(" + QuoteString(table) + ")");
    std::vector<IndexInfo> list;
    while (sqlite3_step(il) == SQLITE_ROW) {
        IndexInfo ix;
        ix.sqliteName = reinterpret_cast<const char*>(sqlite3_column_text(il, 1));
        ix.unique = sqlite3_column_int(il, 2) != 0;
        if (sqlite3_column_int(il, 4) != 0) NoteComputed(ti, "the partial index " + ix.sqliteName);
        std::string origin = reinterpret_cast<const char*>(sqlite3_column_text(il, 3));
        std::string nm = ix.sqliteName;
        if (origin == "pk") {
            ix.primary = true;
            ix.jetName = pkName;
        } else {
            if (nm.size() > 3 && nm.compare(nm.size() - 3, 3, "#pk") == 0) {
                ix.primary = true;
                nm.resize(nm.size() - 3);
            }
            if (nm.size() > table.size() && EqualsNoCase(nm.substr(0, table.size() + 1), table + "."))
                nm = nm.substr(table.size() + 1);
            ix.jetName = nm;
        }
        list.push_back(ix);
    }
    sqlite3_finalize(il);
    // index_list gives the newest first; present them in creation order.
    std::reverse(list.begin(), list.end());
    return list;
}

// Adds the table's SQLite indexes to ti.indexes with their key columns.
void ReadIndexes(Core& core, const std::string& qs, const std::string& table, const std::string& pkName,
                 TableInfo& ti) {
    for (auto& ix : ListIndexes(core, qs, table, pkName, ti)) {
        sqlite3_stmt* xi = core.Prepare("PRAGMA " + qs + ".index_xinfo(" + QuoteString(ix.sqliteName) + ")");
        while (sqlite3_step(xi) == SQLITE_ROW) {
            if (sqlite3_column_int(xi, 5) == 0) continue;  // not a key column
            auto n = reinterpret_cast<const char*>(sqlite3_column_text(xi, 2));
            if (!n) {
                NoteComputed(ti, "the index " + ix.sqliteName + " on an expression");
                continue;
            }
            ix.columns.emplace_back(n, sqlite3_column_int(xi, 3) != 0);
        }
        sqlite3_finalize(xi);
        ti.indexes.push_back(ix);
    }
}

}  // namespace

const TableInfo& Core::Info(const std::string& schema, const std::string& table) {
    if (infoGen != schemaGen) {
        infoCache.clear();
        infoGen = schemaGen;
    }
    std::string key = InfoKey(schema, table);
    auto it = infoCache.find(key);
    if (it != infoCache.end()) return it->second;
    TableInfo ti;
    CheckOpen();
    const std::string qs = QuoteIdent(schema);
    ti.exists = ReadTableSql(*this, qs, table, &ti.sql);
    if (ti.exists) {
        if (Upper(ti.sql).rfind("CREATE VIRTUAL", 0) == 0) NoteComputed(ti, "its virtual table module");
        const int pkCount = ReadColumns(*this, qs, table, ti);
        const ColumnInfo* rowidPk = FindRowidKey(ti, pkCount);
        const std::string pkName = PrimaryKeyName(ti.sql);
        if (rowidPk) {
            IndexInfo ix;
            ix.jetName = pkName;
            ix.primary = ix.unique = true;
            ix.columns.emplace_back(rowidPk->name, false);
            ti.indexes.push_back(ix);
        }
        ReadIndexes(*this, qs, table, pkName, ti);
        for (const auto& ix : ti.indexes)
            if (ix.primary) {
                for (const auto& c : ix.columns) ti.pk.push_back(c.first);
                break;
            }
    }
    return infoCache.emplace(key, std::move(ti)).first->second;
}

bool Core::LocalTableExists(const std::string& name) { return Info("main", name).exists; }

Link* Core::FindLink(const std::string& name) {
    for (auto& l : links)
        if (EqualsNoCase(l.name, name)) return &l;
    return nullptr;
}

std::string Core::LinkPath(const std::string& connect) const {
    // ";DATABASE=path" (other ";KEY=value" parts may come before or after).
    std::string u = Upper(connect);
    auto at = u.find("DATABASE=");
    if (at == std::string::npos) return "";
    size_t start = at + 9;
    size_t end = connect.find(';', start);
    std::string file = connect.substr(start, end == std::string::npos ? std::string::npos : end - start);
    // A relative path names the file from this database's folder, so that a
    // project and the data it links can be moved together.
    if (!file.empty() && file.front() != '/') file = ParentDir(path) + "/" + file;
    return file;
}

void Core::CheckNewTableName(const std::string& name) {
    const std::string u = Upper(name);
    if (u.rfind("MSYS", 0) == 0 || u.rfind("SQLITE_", 0) == 0 || u.find("$REBUILD") != std::string::npos)
        Raise(3125, name);
}

void Core::EnsureLinkTable() {
    if (LocalTableExists("MSysLinks")) return;
    Exec("CREATE TABLE MSysLinks (Name TEXT(255) COLLATE NOCASE NOT NULL PRIMARY KEY, Connect LONGTEXT, "
         "SourceTableName TEXT(255), Attributes LONG)");
    Changed(true);
}

namespace {

// A link whose source could not be copied into the cache folder says so when it is used, as the copy raised it.
void CacheFailed(Link& link, const std::string& source, bool diskFull) {
    link.errorArg = AccessMirror::CacheFailureArg(source, diskFull);
    link.errorDetail = AccessMirror::CacheAdvice(diskFull);
}

}  // namespace

void Core::AttachLink(Link& link) {
    link.schema.clear();
    link.error = 0;
    link.errorArg.clear();
    link.errorDetail.clear();
    if (Upper(link.connect).rfind("ODBC;", 0) == 0) {
        AttachOdbcLink(link);
        return;
    }
    std::string file = LinkPath(link.connect);
    if (file.empty()) {
        link.error = 3024;
        link.errorArg = link.connect;
        return;
    }
    if (!FileExists(file)) {
        link.error = IsDir(ParentDir(file)) ? 3024 : 3044;
        link.errorArg = file;
        return;
    }
    bool empty = false;
    // Linked data is only read: no statement can write through a link.
    std::string attachFile = file;
    if (AccessMirror::IsAccessFile(file)) {
        // Access data is read through its SQLite mirror, which is never written.
        try {
            attachFile = AccessMirror::Path(file);
        } catch (const DaoError& e) {
            link.error = e.Number();
            link.errorArg = file;
            if (e.Number() == file::kDiskFull) CacheFailed(link, file, true);
            return;
        }
    } else if (!HasDatabaseHeader(file, &empty)) {
        link.error = 3343;
        link.errorArg = file;
        return;
    }
    auto it = attached.find(file);
    if (it == attached.end()) {
        const bool logBefore = LogBeside(attachFile);
        std::string schema = Attach(ReadOnlyUri(attachFile));
        if (schema.empty()) {
            link.error = 3343;
            link.errorArg = file;
            return;
        }
        it = attached.emplace(file, schema).first;
        if (!logBefore) logsOfReads.emplace_back(schema, attachFile);
    }
    link.schema = it->second;
    try {
        if (!Info(link.schema, link.source).exists) {
            link.error = 3078;
            link.errorArg = link.source;
        } else if (StaleTextIndexes(link.schema, link.source)) {
            link.error = 3049;
            link.errorArg = file;
            link.errorDetail = "Its text indexes were written by an earlier version of this program in an order that "
                               "SQLite does not use, and a linked file is only read, so they cannot be rebuilt here. "
                               "Run REINDEX on the file with write access, or import the data again.";
        }
    } catch (const DaoError& e) {
        link.error = e.Number() == 3049 ? 3049 : 3343;
        link.errorArg = file;
    }
}

namespace {

using Snapshot = std::unique_ptr<sqlite3, int (*)(sqlite3*)>;

// An ODBC snapshot file opened to be written in one transaction, without a
// journal (it is only a copy). Failures are the cache folder's, said for the
// source named.
Snapshot OpenSnapshot(const std::string& file, bool create, const std::string& name) {
    sqlite3* snap = nullptr;
    const int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0) | SQLITE_OPEN_NOMUTEX;
    if (sqlite3_open_v2(file.c_str(), &snap, flags, nullptr) != SQLITE_OK) {
        const bool full = AccessMirror::OutOfRoom(snap);
        sqlite3_close_v2(snap);
        AccessMirror::RaiseCacheFailure(name, full);
    }
    Snapshot owned(snap, sqlite3_close_v2);
    DistrustSchema(snap);
    sqlite3_exec(snap, "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF; BEGIN", nullptr, nullptr, nullptr);
    return owned;
}

void CommitSnapshot(sqlite3* snap, const std::string& name) {
    if (sqlite3_exec(snap, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK)
        AccessMirror::RaiseCacheFailure(name, AccessMirror::OutOfRoom(snap));
}

}  // namespace

// A linked ODBC table is a snapshot in a file of its own, attached read-only
// under the link's schema: its shape is taken now, its rows when the link is
// first used, so that opening a project does not wait for a large source.
void Core::AttachOdbcLink(Link& link) {
    std::string file, name;
    try {
        auto source = std::make_shared<OdbcSource>(link.connect);
        name = source->Name();
        const std::string folder = AccessMirror::ReadyFolder(name);
        static int seq = 0;
        file = folder + "/odbc-" + std::to_string(::getpid()) + "-" + std::to_string(++seq) + ".db";
        ::unlink(file.c_str());
        Snapshot snap = OpenSnapshot(file, true, name);
        try {
            source->CreateTable(snap.get(), "main", link.source);
        } catch (const DaoError&) {
            if (AccessMirror::OutOfRoom(snap.get())) AccessMirror::RaiseCacheFailure(name, true);
            throw;
        }
        CommitSnapshot(snap.get(), name);
        link.pending = source;
        link.snapshot = file;
    } catch (const DaoError& e) {
        if (!file.empty()) ::unlink(file.c_str());
        link.error = e.Number();
        link.errorArg = e.Number() == 3151 ? link.connect : link.source;
        // Here a full disk, and 3051, are the cache folder's: the source is named, and the folder.
        if (!name.empty() && (e.Number() == file::kDiskFull || e.Number() == 3051))
            CacheFailed(link, name, e.Number() == file::kDiskFull);
        return;
    }
    scratchFiles.push_back(file);
    std::string schema = Attach(ReadOnlyUri(file));
    if (schema.empty()) {
        link.error = 3343;
        link.errorArg = file;
        return;
    }
    attached.emplace(file, schema);
    link.schema = schema;
}

std::string Core::Attach(const std::string& name) {
    std::string schema = "lnk" + std::to_string(attached.size() + 1);
    while (true) {
        bool used = false;
        for (auto& [f, s] : attached)
            if (s == schema) used = true;
        if (!used) break;
        schema += "x";
    }
    sqlite3_stmt* st = Prepare("ATTACH DATABASE ?1 AS " + QuoteIdent(schema));
    sqlite3_bind_text(st, 1, name.c_str(), -1, SQLITE_TRANSIENT);
    int rc = sqlite3_step(st);
    sqlite3_finalize(st);
    if (rc != SQLITE_DONE) return "";
    infoCache.clear();
    return schema;
}

void Core::FillOdbcLink(Link& link) {
    if (!link.pending) return;
    // Errors of the copy name the data source the person chose, and the folder.
    const std::string& name = link.pending->Name();
    Snapshot snap = OpenSnapshot(link.snapshot, false, name);
    try {
        link.pending->CopyRows(snap.get(), "main", link.source);
    } catch (...) {
        const bool full = AccessMirror::OutOfRoom(snap.get());
        sqlite3_exec(snap.get(), "ROLLBACK", nullptr, nullptr, nullptr);
        if (full) AccessMirror::RaiseCacheFailure(name, true);
        throw;
    }
    CommitSnapshot(snap.get(), name);
    link.pending.reset();
}

void Core::LoadLinks() {
    links.clear();
    if (!LocalTableExists("MSysLinks")) return;
    sqlite3_stmt* st = Prepare("SELECT Name, Connect, SourceTableName, Attributes FROM MSysLinks ORDER BY rowid");
    while (sqlite3_step(st) == SQLITE_ROW) {
        Link l;
        auto txt = [&](int i) {
            auto p = reinterpret_cast<const char*>(sqlite3_column_text(st, i));
            return std::string(p ? p : "");
        };
        l.name = txt(0);
        l.connect = txt(1);
        l.source = txt(2);
        l.attributes = static_cast<long>(sqlite3_column_int64(st, 3));
        links.push_back(l);
    }
    sqlite3_finalize(st);
    for (auto& l : links) AttachLink(l);
}

bool Core::ResolveTable(const std::string& name, std::string* schema, std::string* table) {
    if (Link* l = FindLink(name)) {
        if (l->error) RaiseLink(*l);
        if (l->pending) FillOdbcLink(*l);
        *schema = l->schema;
        *table = l->source;
        return true;
    }
    if (LocalTableExists(name)) {
        if (odbc) FillOdbcTable(name);
        *schema = "main";
        *table = name;
        return true;
    }
    return false;
}

short Core::ColumnType(const std::string& schema, const std::string& table, const std::string& column, long* size) {
    const TableInfo& ti = Info(schema, table);
    for (const auto& c : ti.cols)
        if (EqualsNoCase(c.name, column)) {
            *size = c.ct.size;
            return c.ct.type;
        }
    return 0;
}

std::vector<std::string> Core::PrimaryKey(const std::string& schema, const std::string& table) {
    return Info(schema, table).pk;
}

std::string Core::RowidName(const std::string& schema, const std::string& table) {
    return Info(schema, table).rowid;
}

std::vector<std::string> Core::Counters(const std::string& schema, const std::string& table) {
    std::vector<std::string> counters;
    for (const auto& c : Info(schema, table).cols)
        if (c.ct.autoIncrement && !c.rowidKey) counters.push_back(c.name);
    return counters;
}

// Row by row in the order they were added, as the stored trigger does.
void Core::NumberCounters(const std::string& schema, const std::string& table,
                          const std::vector<std::string>& counters, const std::vector<int64_t>& rows) {
    const std::string target = QuoteIdent(schema) + "." + QuoteIdent(table);
    for (const auto& name : counters) {
        const std::string c = QuoteIdent(name);
        sqlite3_stmt* st = Cached("UPDATE " + target + " SET " + c + " = (SELECT ifnull(max(" + c + "), 0) + 1 FROM " +
                                  target + ") WHERE " + RowidName(schema, table) + " = ?1 AND " + c + " IS NULL");
        for (int64_t row : rows) {
            sqlite3_bind_int64(st, 1, row);
            Step(st, table);
        }
    }
}

// ------------------------------------------------------------------ transactions

void Core::Begin() {
    CheckOpen();
    if (transDepth == 0) {
        // Every transaction here writes: it waits for another program's write
        // to end (as long as the busy timeout allows) and takes the file as it
        // is now, instead of failing at its first write. That also starts a
        // read of every attached file, which an ODBC link's copy, made by a
        // connection of its own when the link is first used, could then not
        // be written past: until those are made, the transaction starts as it reads.
        const bool copying =
            std::any_of(links.begin(), links.end(), [](const Link& l) { return l.pending != nullptr; });
        const char* begin = readOnly || copying ? "BEGIN" : "BEGIN IMMEDIATE";
        int rc = sqlite3_exec(db, begin, nullptr, nullptr, nullptr);
        if (rc != SQLITE_OK && LetReadsGo(rc)) rc = sqlite3_exec(db, begin, nullptr, nullptr, nullptr);
        if (rc != SQLITE_OK) RaiseSqlite(db, rc, begin);
    } else {
        Exec("SAVEPOINT dao_trans" + std::to_string(transDepth));
    }
    ++transDepth;
}

void Core::Commit() {
    CheckOpen();
    if (transDepth == 0) Raise(3034);
    --transDepth;
    try {
        if (transDepth == 0) Exec("COMMIT");
        else Exec("RELEASE dao_trans" + std::to_string(transDepth));
    } catch (...) {
        // A commit the disk had no room for is still the caller's to roll
        // back, whether the engine has already undone it or not.
        ++transDepth;
        throw;
    }
}

void Core::Rollback() {
    CheckOpen();
    if (transDepth == 0) Raise(3034);
    SuspendStreams();
    --transDepth;
    // A full disk or a lack of memory ends the whole transaction in the engine:
    // it is undone already, and the error that ended it is the one to tell.
    if (sqlite3_get_autocommit(db)) transDepth = 0;
    else if (transDepth == 0) Exec("ROLLBACK");
    else Exec("ROLLBACK TO dao_trans" + std::to_string(transDepth) + "; RELEASE dao_trans" + std::to_string(transDepth));
    Changed(true);
    tableDefs.loadedGen = ~uint64_t(0);
    LoadLinks();
}

// ------------------------------------------------------------------ DDL

std::string Core::ColumnSql(const ColumnDef& c, bool inlinePk) {
    std::string s = QuoteIdent(c.name) + " ";
    if (c.autoIncrement && inlinePk) {
        s += "INTEGER";
        if (!c.constraintName.empty()) s += " CONSTRAINT " + QuoteIdent(c.constraintName);
        s += " PRIMARY KEY AUTOINCREMENT";
        return s;
    }
    s += c.autoIncrement ? "COUNTER" : DeclFromType(c.type, c.size);
    if (IsTextType(c.type)) s += " COLLATE NOCASE";
    if (c.notNull) s += " NOT NULL";
    return s;
}

void Core::CreateTable(const std::string& name, const std::vector<ColumnDef>& cols,
                       const std::vector<ConstraintDef>& constraints) {
    CheckWritable();
    if (name.empty()) Raise(3290);
    CheckNewTableName(name);
    if (LocalTableExists(name) || FindLink(name)) Raise(3010, name);
    if (cols.empty()) throw DaoError(3264, "No field defined--cannot append TableDef or Index.");
    // The primary key: a column marked PRIMARY KEY or a PRIMARY KEY constraint.
    std::vector<std::string> pkCols;
    std::string pkName = "PrimaryKey";
    for (const auto& c : cols)
        if (c.primary) {
            pkCols.push_back(c.name);
            if (!c.constraintName.empty()) pkName = c.constraintName;
        }
    for (const auto& k : constraints)
        if (k.primary) {
            if (!pkCols.empty()) Raise(3283);
            pkCols = k.columns;
            pkName = k.name.empty() ? pkName : k.name;
        }
    std::vector<std::string> names;
    for (const auto& c : cols) {
        for (const auto& n : names)
            if (EqualsNoCase(n, c.name)) Raise(3380, c.name);
        names.push_back(c.name);
    }
    std::string sql = "CREATE TABLE " + QuoteIdent(name) + " (";
    bool inlinePk = false;
    std::vector<ColumnDef> counters;
    for (size_t i = 0; i < cols.size(); ++i) {
        ColumnDef c = cols[i];
        bool isPk = pkCols.size() == 1 && EqualsNoCase(pkCols[0], c.name);
        if (isPk && c.autoIncrement) {
            c.constraintName = pkName;
            inlinePk = true;
            sql += (i ? ", " : "") + ColumnSql(c, true);
            continue;
        }
        if (std::find_if(pkCols.begin(), pkCols.end(), [&](const std::string& p) { return EqualsNoCase(p, c.name); }) !=
            pkCols.end())
            c.notNull = true;
        if (c.autoIncrement) counters.push_back(c);
        sql += (i ? ", " : "") + ColumnSql(c, false);
    }
    if (!pkCols.empty() && !inlinePk) {
        sql += ", CONSTRAINT " + QuoteIdent(pkName) + " PRIMARY KEY (";
        for (size_t i = 0; i < pkCols.size(); ++i) sql += (i ? ", " : "") + QuoteIdent(pkCols[i]);
        sql += ")";
    }
    sql += ")";
    Atomically([&] {
        Exec(sql);
        Changed(true);
        for (const auto& c : cols)
            if (c.unique && !c.primary)
                CreateIndex(name, c.constraintName.empty() ? c.name : c.constraintName, {{c.name, false}}, true, false);
        for (const auto& k : constraints)
            if (k.unique) {
                std::vector<std::pair<std::string, bool>> ic;
                for (const auto& c : k.columns) ic.emplace_back(c, false);
                CreateIndex(name, k.name, ic, true, false);
            }
        for (const auto& c : counters) {
            // A counter that is not the key numbers new rows from the largest value so far.
            std::string ixName = IndexSqliteName(name, c.name + "$counter", false);
            Exec("CREATE INDEX " + QuoteIdent(ixName) + " ON " + QuoteIdent(name) + " (" + QuoteIdent(c.name) + ")");
            Exec("CREATE TRIGGER " + QuoteIdent(name + "." + c.name + "$counter") + " AFTER INSERT ON " +
                 QuoteIdent(name) + " WHEN NEW." + QuoteIdent(c.name) + " IS NULL BEGIN UPDATE " + QuoteIdent(name) +
                 " SET " + QuoteIdent(c.name) + " = (SELECT ifnull(max(" + QuoteIdent(c.name) + "), 0) + 1 FROM " +
                 QuoteIdent(name) + ") WHERE " + RowidName("main", name) + " = NEW." + RowidName("main", name) + "; END");
        }
    });
    Changed(true);
}

void Core::CreateIndex(const std::string& table, const std::string& name,
                       const std::vector<std::pair<std::string, bool>>& cols, bool unique, bool primary) {
    CheckWritable();
    if (FindLink(table)) Raise(3219);
    const TableInfo& ti = Info("main", table);
    if (!ti.exists) Raise(3078, table);
    for (const auto& ix : ti.indexes) {
        if (EqualsNoCase(ix.jetName, name)) Raise(3367);
        if (primary && ix.primary) Raise(3283);
    }
    std::string sql = std::string("CREATE ") + (unique || primary ? "UNIQUE " : "") + "INDEX " +
                      QuoteIdent(IndexSqliteName(table, name, primary)) + " ON " + QuoteIdent(table) + " (";
    for (size_t i = 0; i < cols.size(); ++i) {
        bool found = false;
        for (const auto& c : ti.cols)
            if (EqualsNoCase(c.name, cols[i].first)) found = true;
        if (!found) throw DaoError(3264, "No field defined--cannot append TableDef or Index. (" + cols[i].first + ")");
        sql += (i ? ", " : "") + QuoteIdent(cols[i].first) + (cols[i].second ? " DESC" : "");
    }
    sql += ")";
    SuspendStreams();
    Exec(sql);
    Changed(true);
}

void Core::RebuildWithColumn(const std::string& table, const ColumnDef& col) {
    TableInfo ti = Info("main", table);
    for (const auto& c : ti.cols)
        if (EqualsNoCase(c.name, col.name)) Raise(3380, col.name);
    if (col.primary && !ti.pk.empty()) Raise(3283);
    std::vector<std::string> indexSql;
    {
        sqlite3_stmt* st = Prepare("SELECT sql FROM sqlite_master WHERE type IN ('index','trigger') AND tbl_name=?1 "
                                   "COLLATE NOCASE AND sql IS NOT NULL");
        sqlite3_bind_text(st, 1, table.c_str(), -1, SQLITE_TRANSIENT);
        while (sqlite3_step(st) == SQLITE_ROW) indexSql.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
        sqlite3_finalize(st);
    }
    std::string tmp = table + "$rebuild";
    std::string sql = "CREATE TABLE " + QuoteIdent(tmp) + " (";
    std::string colList;
    bool first = true;
    // Keep the old table's own definition of its columns (with the key) verbatim where possible.
    for (const auto& c : ti.cols) {
        ColumnDef d;
        d.name = c.name;
        d.type = c.ct.type;
        d.size = c.ct.size;
        d.notNull = c.notNull;
        std::string def;
        if (c.ct.autoIncrement && c.pk) {
            d.autoIncrement = true;
            d.constraintName = ti.indexes.empty() ? "PrimaryKey" : ti.indexes[0].jetName;
            def = ColumnSql(d, true);
        } else {
            def = QuoteIdent(c.name) + " " + (c.decl.empty() ? std::string("TEXT(255)") : c.decl);
            if (IsTextType(c.ct.type)) def += " COLLATE NOCASE";
            if (c.notNull) def += " NOT NULL";
        }
        sql += (first ? "" : ", ") + def;
        colList += (first ? "" : ", ") + QuoteIdent(c.name);
        first = false;
    }
    ColumnDef nc = col;
    bool inlinePk = nc.primary && nc.autoIncrement;
    if (inlinePk && nc.constraintName.empty()) nc.constraintName = "PrimaryKey";
    sql += ", " + ColumnSql(nc, inlinePk);
    // A primary key of another kind is kept as a constraint of the old key's columns.
    std::vector<std::string> oldPk;
    bool oldRowidPk = false;
    for (const auto& c : ti.cols)
        if (c.ct.autoIncrement && c.pk) oldRowidPk = true;
    if (!oldRowidPk) {
        for (const auto& ix : ti.indexes)
            if (ix.primary && ix.sqliteName.rfind("sqlite_autoindex", 0) == 0)
                for (const auto& c : ix.columns) oldPk.push_back(c.first);
    }
    if (!oldPk.empty()) {
        sql += ", CONSTRAINT " + QuoteIdent(ti.indexes.empty() ? "PrimaryKey" : ti.indexes[0].jetName) + " PRIMARY KEY (";
        for (size_t i = 0; i < oldPk.size(); ++i) sql += (i ? ", " : "") + QuoteIdent(oldPk[i]);
        sql += ")";
    } else if (nc.primary && !inlinePk) {
        sql += ", CONSTRAINT " + QuoteIdent(nc.constraintName.empty() ? "PrimaryKey" : nc.constraintName) +
               " PRIMARY KEY (" + QuoteIdent(nc.name) + ")";
    }
    sql += ")";
    SuspendStreams();
    const std::string oldRowid = RowidName("main", table);
    Atomically([&] {
        Exec(sql);
        // Rows keep their stored order, so a new counter numbers them 1, 2, 3 ... in that order.
        Exec("INSERT INTO " + QuoteIdent(tmp) + " (" + colList + ") SELECT " + colList + " FROM " + QuoteIdent(table) +
             " ORDER BY " + oldRowid);
        if (nc.autoIncrement && !inlinePk)
            Exec("UPDATE " + QuoteIdent(tmp) + " SET " + QuoteIdent(nc.name) + " = " + RowidName("main", tmp));
        Exec("DROP TABLE " + QuoteIdent(table));
        Exec("ALTER TABLE " + QuoteIdent(tmp) + " RENAME TO " + QuoteIdent(table));
        for (const auto& s : indexSql) Exec(s);
        Changed(true);
    });
    Changed(true);
}

void Core::AlterTable(const Statement& st) {
    CheckWritable();
    if (FindLink(st.table)) Raise(3219);
    const TableInfo& ti = Info("main", st.table);
    if (!ti.exists) Raise(3078, st.table);
    switch (st.alterOp) {
    case Statement::AddColumn: {
        const ColumnDef& c = st.columns.at(0);
        for (const auto& x : ti.cols)
            if (EqualsNoCase(x.name, c.name)) Raise(3380, c.name);
        if (c.primary || c.autoIncrement) {
            RebuildWithColumn(st.table, c);
            return;
        }
        ColumnDef d = c;
        d.notNull = false;  // existing rows would break it
        Atomically([&] {
            Exec("ALTER TABLE " + QuoteIdent(st.table) + " ADD COLUMN " + ColumnSql(d, false));
            Changed(true);
            if (c.unique) CreateIndex(st.table, c.constraintName.empty() ? c.name : c.constraintName, {{c.name, false}}, true, false);
        });
        Changed(true);
        return;
    }
    case Statement::DropColumn:
        SuspendStreams();
        Atomically([&] {
            for (const auto& ix : ti.indexes)
                for (const auto& c : ix.columns)
                    if (EqualsNoCase(c.first, st.dropName) && !ix.sqliteName.empty() &&
                        ix.sqliteName.rfind("sqlite_", 0) != 0)
                        Exec("DROP INDEX " + QuoteIdent(ix.sqliteName));
            Exec("ALTER TABLE " + QuoteIdent(st.table) + " DROP COLUMN " + QuoteIdent(st.dropName));
        });
        Changed(true);
        return;
    case Statement::AddConstraint: {
        const ConstraintDef& k = st.constraints.at(0);
        std::vector<std::pair<std::string, bool>> ic;
        for (const auto& c : k.columns) ic.emplace_back(c, false);
        if (k.primary || k.unique) CreateIndex(st.table, k.name, ic, true, k.primary);
        return;
    }
    case Statement::DropConstraint:
        DropIndex(st.table, st.dropName);
        return;
    }
}

void Core::DropIndex(const std::string& table, const std::string& name) {
    CheckWritable();
    const TableInfo& ti = Info("main", table);
    if (!ti.exists) Raise(3078, table);
    for (const auto& ix : ti.indexes)
        if (EqualsNoCase(ix.jetName, name)) {
            if (ix.sqliteName.empty() || ix.sqliteName.rfind("sqlite_", 0) == 0) Raise(3219);
            SuspendStreams();
            Exec("DROP INDEX " + QuoteIdent(ix.sqliteName));
            Changed(true);
            return;
        }
    Raise(3371);
}

void Core::DropTable(const std::string& name) {
    CheckWritable();
    if (Link* l = FindLink(name)) {
        std::string schema = l->schema;
        std::string n = l->name;
        Atomically([&] {
            sqlite3_stmt* st = Prepare("DELETE FROM MSysLinks WHERE Name = ?1");
            sqlite3_bind_text(st, 1, n.c_str(), -1, SQLITE_TRANSIENT);
            int rc = sqlite3_step(st);
            sqlite3_finalize(st);
            if (rc != SQLITE_DONE) RaiseSqlite(db, rc);
        });
        links.erase(std::remove_if(links.begin(), links.end(), [&](const Link& x) { return EqualsNoCase(x.name, n); }),
                    links.end());
        bool stillUsed = false;
        for (const auto& x : links)
            if (x.schema == schema) stillUsed = true;
        if (!schema.empty() && !stillUsed && transDepth == 0) {
            SuspendStreams();
            if (sqlite3_exec(db, ("DETACH DATABASE " + QuoteIdent(schema)).c_str(), nullptr, nullptr, nullptr) ==
                SQLITE_OK) {
                DropLogsOfReads(schema);
                for (auto it = attached.begin(); it != attached.end();)
                    it = it->second == schema ? attached.erase(it) : std::next(it);
            }
        }
        Changed(true);
        return;
    }
    if (!LocalTableExists(name)) Raise(3376, name);
    SuspendStreams();
    Exec("DROP TABLE " + QuoteIdent(name));
    Changed(true);
}

// ------------------------------------------------------------------ Execute

void Core::MakeTable(const Statement& st) {
    CheckWritable();
    const SelectInfo& si = st.select;
    CheckNewTableName(si.into);
    if (LocalTableExists(si.into) || FindLink(si.into)) Raise(3010, si.into);
    sqlite3_stmt* q = Prepare(si.sql);
    int n = sqlite3_column_count(q);
    bool starred = false;
    for (const auto& nm : si.itemNames)
        if (nm == "*" || (nm.size() > 2 && nm.compare(nm.size() - 2, 2, ".*") == 0)) starred = true;
    std::vector<ColumnDef> cols;
    bool unknown = false;
    for (int i = 0; i < n; ++i) {
        ColumnDef c;
        c.name = sqlite3_column_name(q, i);
        const char* decl = sqlite3_column_decltype(q, i);
        short hint = (!starred && size_t(i) < si.itemTypes.size()) ? si.itemTypes[size_t(i)] : 0;
        long hintSize = (!starred && size_t(i) < si.itemSizes.size()) ? si.itemSizes[size_t(i)] : 0;
        if (decl && *decl) {
            detail::ColumnType ct = TypeFromDecl(decl);
            c.type = ct.type;
            c.size = ct.size;
        } else if (hint) {
            c.type = hint;
            c.size = hintSize > 0 ? hintSize : DefaultSize(hint);
        } else {
            c.type = 0;
            unknown = true;
        }
        cols.push_back(c);
    }
    if (unknown) {
        // Types of computed columns come from the first row's values.
        int rc = sqlite3_step(q);
        if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
            sqlite3_finalize(q);
            RaiseSqlite(db, rc, si.sql);
        }
        for (int i = 0; i < n; ++i) {
            if (cols[size_t(i)].type) continue;
            int t = rc == SQLITE_ROW ? sqlite3_column_type(q, i) : SQLITE_NULL;
            cols[size_t(i)].type = t == SQLITE_INTEGER ? dbLong : t == SQLITE_FLOAT ? dbDouble
                                   : t == SQLITE_BLOB   ? dbLongBinary
                                                        : dbText;
            if (t == SQLITE_INTEGER) {
                int64_t v = sqlite3_column_int64(q, i);
                if (v < INT32_MIN || v > INT32_MAX) cols[size_t(i)].type = dbDouble;
            }
            cols[size_t(i)].size = DefaultSize(cols[size_t(i)].type);
        }
    }
    sqlite3_finalize(q);
    for (auto& c : cols)
        if (c.type == dbText && c.size <= 0) c.size = 255;
    std::string create = "CREATE TABLE " + QuoteIdent(si.into) + " (";
    for (size_t i = 0; i < cols.size(); ++i) {
        for (size_t j = 0; j < i; ++j)
            if (EqualsNoCase(cols[j].name, cols[i].name)) Raise(3380, cols[i].name);
        create += (i ? ", " : "") + ColumnSql(cols[i], false);
    }
    create += ")";
    Atomically([&] {
        Exec(create);
        Changed(true);
        sqlite3_stmt* ins = Prepare("INSERT INTO " + QuoteIdent(si.into) + " " + si.sql);
        int rc = sqlite3_step(ins);
        sqlite3_finalize(ins);
        if (rc != SQLITE_DONE) RaiseSqlite(db, rc, si.sql);
        recordsAffected = sqlite3_changes(db);
    });
    Changed(true);
}

void Core::Execute(const std::string& sql, int options) {
    (void)options;
    CheckOpen();
    Statement st = TranslateStatement(sql, this);
    recordsAffected = 0;
    switch (st.kind) {
    case StmtKind::Select: throw DaoError(3065, "Cannot execute a select query.");
    case StmtKind::SelectInto: MakeTable(st); return;
    case StmtKind::Insert:
    case StmtKind::Update:
    case StmtKind::Delete: {
        CheckWritable();
        std::string schema, table, text = st.sql;
        std::vector<std::string> counters;
        if (st.kind == StmtKind::Insert && ResolveTable(st.table, &schema, &table)) counters = Counters(schema, table);
        if (!counters.empty()) text += " RETURNING " + RowidName(schema, table);
        std::vector<int64_t> added;
        auto run = [&] {
            sqlite3_stmt* q = Prepare(text);
            auto step = [&] {
                int rc;
                added.clear();
                while ((rc = sqlite3_step(q)) == SQLITE_ROW) added.push_back(sqlite3_column_int64(q, 0));
                return rc;
            };
            int rc = step();
            if (rc == SQLITE_LOCKED || rc == SQLITE_LOCKED_SHAREDCACHE) {
                sqlite3_reset(q);
                SuspendStreams();
                rc = step();
            } else if (rc != SQLITE_DONE) {
                sqlite3_reset(q);
                if (LetReadsGo(rc)) rc = step();
            }
            sqlite3_finalize(q);
            if (rc != SQLITE_DONE) RaiseSqlite(db, rc, sql);
            recordsAffected = sqlite3_changes(db);
            NumberCounters(schema, table, counters, added);
        };
        if (counters.empty()) run();
        else Atomically(run);
        Changed(false);
        return;
    }
    case StmtKind::CreateTable: CreateTable(st.table, st.columns, st.constraints); return;
    case StmtKind::CreateIndex: CreateIndex(st.table, st.indexName, st.indexColumns, st.unique, st.primary); return;
    case StmtKind::AlterTable: AlterTable(st); return;
    case StmtKind::DropTable: DropTable(st.table); return;
    case StmtKind::DropIndex: DropIndex(st.table, st.indexName); return;
    }
}

// ------------------------------------------------------------------ opening


// Files of ours from before kFileVersion: version 1 holds NOCASE indexes in
// the order of the upper-case folding of earlier versions, which differs from
// SQLite's for "_", "[" and the like and beyond ASCII, and is reindexed;
// version 2 is in SQLite's order already. Another program's file is left as it
// is: its user_version is its own. A file of a newer version is refused, as
// this version cannot know what that one changed.
void Core::UpgradeOwnFile() {
    const int version = UserVersion("main");
    const int id = Pragma("application_id");
    if (id != kApplicationId && !(id == 0 && version >= kFileVersionOldIndexes && version <= kFileVersionTwoComparisons &&
                                  OldProject()))
        return;
    if (version > kFileVersion) Raise(kNewerFile, path);
    formerVersion = version;
    // A guest (a file an export adds its table to) is changed in nothing else.
    if (!OwnFile(*this) || (version == kFileVersion && id == kApplicationId)) return;
    Atomically([&] {
        if (version <= kFileVersionOldIndexes) Exec("REINDEX NOCASE");
        Exec("PRAGMA application_id = " + std::to_string(kApplicationId));
        Exec("PRAGMA user_version = " + std::to_string(kFileVersion));
    });
}

// Projects of earlier versions carried no application id: they are known by
// their settings and field tables.
bool Core::OldProject() {
    sqlite3_stmt* st = Prepare("SELECT count(*) FROM main.sqlite_master WHERE type = 'table' AND "
                               "name IN ('Config', 'FieldConfig') COLLATE NOCASE");
    const bool both = sqlite3_step(st) == SQLITE_ROW && sqlite3_column_int(st, 0) == 2;
    sqlite3_finalize(st);
    return both;
}

int Core::Pragma(const char* name) {
    sqlite3_stmt* st = Prepare(std::string("PRAGMA main.") + name);
    const int rc = sqlite3_step(st);
    const int value = rc == SQLITE_ROW ? sqlite3_column_int(st, 0) : 0;
    sqlite3_finalize(st);
    if (rc != SQLITE_ROW) RaiseSqlite(db, rc);
    return value;
}

// An index under NOCASE that another build wrote in another order (an earlier
// version, whatever the file's user_version says) would let lookups miss rows
// without a word: each is walked in its stored order, and rebuilt when two
// neighbours stand the wrong way round.
void Core::RepairTextIndexOrder() {
    orderChecked = true;
    if (KnownInOrder(path)) return;
    std::vector<std::string> broken;
    std::vector<std::pair<std::string, std::string>> indexes;  // table, index
    {
        sqlite3_stmt* st = Prepare("SELECT m.name, il.name FROM main.sqlite_master AS m, pragma_index_list(m.name) AS il "
                                   "WHERE m.type = 'table' AND m.name NOT LIKE 'sqlite\\_%' ESCAPE '\\'");
        while (sqlite3_step(st) == SQLITE_ROW)
            indexes.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)),
                                 reinterpret_cast<const char*>(sqlite3_column_text(st, 1)));
        sqlite3_finalize(st);
    }
    for (const auto& [table, index] : indexes)
        if (!IndexInOrder(table, index)) broken.push_back(index);
    if (!broken.empty())
        Atomically([&] {
            for (const auto& index : broken) Exec("REINDEX main." + QuoteIdent(index));
        });
}

bool Core::IndexInOrder(const std::string& table, const std::string& index) {
    std::vector<std::string> columns;
    std::vector<char> nocase, descending;
    std::string list, order;
    {
        sqlite3_stmt* st = Prepare("SELECT name, coll, desc FROM pragma_index_xinfo(?1, 'main') WHERE key ORDER BY seqno");
        sqlite3_bind_text(st, 1, index.c_str(), -1, SQLITE_TRANSIENT);
        while (sqlite3_step(st) == SQLITE_ROW) {
            const unsigned char* name = sqlite3_column_text(st, 0);
            const unsigned char* coll = sqlite3_column_text(st, 1);
            if (!name || !coll) {  // an expression: not ours, and no order of ours to check
                sqlite3_finalize(st);
                return true;
            }
            const std::string column = QuoteIdent(reinterpret_cast<const char*>(name));
            columns.push_back(column);
            nocase.push_back(EqualsNoCase(reinterpret_cast<const char*>(coll), "NOCASE"));
            descending.push_back(char(sqlite3_column_int(st, 2) != 0));
            list += (list.empty() ? "" : ", ") + column;
            order += (order.empty() ? "" : ", ") + column + " COLLATE " + reinterpret_cast<const char*>(coll) +
                     (descending.back() ? " DESC" : "");
        }
        sqlite3_finalize(st);
    }
    if (std::find(nocase.begin(), nocase.end(), char(1)) == nocase.end()) return true;
    // The index answers in its stored order: it delivers the ORDER BY itself.
    sqlite3_stmt* st = Prepare("SELECT " + list + " FROM main." + QuoteIdent(table) + " INDEXED BY " + QuoteIdent(index) +
                               " ORDER BY " + order);
    std::vector<Cell> previous(columns.size()), current(columns.size());
    bool first = true, inOrder = true;
    int rc = SQLITE_DONE;
    while (inOrder && (rc = sqlite3_step(st)) == SQLITE_ROW) {
        for (size_t i = 0; i < columns.size(); ++i) current[i].Read(st, int(i));
        for (size_t i = 0; !first && i < columns.size(); ++i) {
            const int c = CompareCells(previous[i], current[i], nocase[i]) * (descending[i] ? -1 : 1);
            if (c != 0) {
                inOrder = c < 0;
                break;
            }
        }
        first = false;
        std::swap(previous, current);
    }
    sqlite3_finalize(st);
    if (inOrder && rc != SQLITE_DONE) RaiseSqlite(db, rc, path);
    return inOrder;
}

int Core::UserVersion(const std::string& schema) {
    sqlite3_stmt* st = Prepare("PRAGMA " + QuoteIdent(schema) + ".user_version");
    int rc = sqlite3_step(st);
    const int version = rc == SQLITE_ROW ? sqlite3_column_int(st, 0) : 0;
    sqlite3_finalize(st);
    if (rc != SQLITE_ROW) RaiseSqlite(db, rc);
    return version;
}

// A linked file of ours from before kFileVersion is only read, so its indexes
// cannot be rebuilt. When a text index of the linked table holds a key that the
// two orders place differently and SQLite finds the index out of order, the link
// is refused: lookups through it would miss rows without a word.
bool Core::StaleTextIndexes(const std::string& schema, const std::string& table) {
    if (UserVersion(schema) != kFileVersionOldIndexes) return false;
    std::vector<std::string> columns;
    {
        sqlite3_stmt* list = Prepare("SELECT il.name FROM pragma_index_list(?1, ?2) AS il");
        sqlite3_bind_text(list, 1, table.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(list, 2, schema.c_str(), -1, SQLITE_TRANSIENT);
        std::vector<std::string> indexes;
        while (sqlite3_step(list) == SQLITE_ROW)
            indexes.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(list, 0)));
        sqlite3_finalize(list);
        for (const auto& ix : indexes) {
            sqlite3_stmt* info = Prepare("SELECT name FROM pragma_index_xinfo(?1, ?2) WHERE key AND name IS NOT NULL "
                                         "AND coll = 'NOCASE' COLLATE NOCASE");
            sqlite3_bind_text(info, 1, ix.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(info, 2, schema.c_str(), -1, SQLITE_TRANSIENT);
            while (sqlite3_step(info) == SQLITE_ROW)
                columns.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(info, 0)));
            sqlite3_finalize(info);
        }
    }
    if (columns.empty()) return false;
    std::string where;
    for (const auto& c : columns) where += (where.empty() ? "" : " OR ") + std::string("dao_refolds(") + QuoteIdent(c) + ")";
    sqlite3_stmt* risky = Prepare("SELECT 1 FROM " + QuoteIdent(schema) + "." + QuoteIdent(table) + " WHERE " + where +
                                  " LIMIT 1");
    const bool any = sqlite3_step(risky) == SQLITE_ROW;
    sqlite3_finalize(risky);
    if (!any) return false;
    sqlite3_stmt* check = Prepare("PRAGMA " + QuoteIdent(schema) + ".integrity_check(" + QuoteIdent(table) + ")");
    bool ok = sqlite3_step(check) == SQLITE_ROW && std::string_view(reinterpret_cast<const char*>(
                                                       sqlite3_column_text(check, 0))) == "ok";
    sqlite3_finalize(check);
    return !ok;
}

namespace {

// An Access file opens as its mirror, read-only whatever the caller asked:
// writing Access files is not possible here, and the source is never touched.
std::shared_ptr<Core> OpenAccess(std::shared_ptr<Core> core, const std::string& path) {
    std::string mirror = AccessMirror::Path(path);
    core->readOnly = true;
    int rc = sqlite3_open_v2(ReadOnlyUri(mirror).c_str(), &core->db,
                             SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_URI, nullptr);
    if (rc != SQLITE_OK) {
        sqlite3_close_v2(core->db);
        core->db = nullptr;
        core->closed = true;
        Raise(3343, path);
    }
    NameConnection(core->db, path);
    Configure(core->db, true);
    return core;
}

// An ODBC source opens as an in-memory database holding its tables' shapes;
// a table's rows are copied in the first time it is used.
std::shared_ptr<Core> OpenOdbc(const std::string& connect) {
    auto source = std::make_shared<OdbcSource>(connect);
    auto core = std::make_shared<Core>();
    core->connect = connect;
    core->readOnly = true;
    core->tableDefs.core = core;
    if (sqlite3_open_v2(":memory:", &core->db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
        sqlite3_close_v2(core->db);
        core->db = nullptr;
        core->closed = true;
        Raise(3151, source->Name());
    }
    Configure(core->db, true);
    try {
        for (const auto& t : source->Tables()) {
            if (UpperUtf8(t).rfind("MSYS", 0) == 0 || t.rfind("sqlite_", 0) == 0) continue;
            source->CreateTable(core->db, "main", t);
        }
        core->Exec("PRAGMA query_only = 1");
    } catch (...) {
        core->Close();
        throw;
    }
    core->odbc = source;
    return core;
}

}  // namespace

namespace {

// Whether the file's header says it is in WAL mode.
bool InWalMode(const std::string& path) {
    unsigned char header[20] = {};
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    const ssize_t n = ::pread(fd, header, sizeof header, 0);
    ::close(fd);
    return n == ssize_t(sizeof header) && (header[18] == 2 || header[19] == 2);
}

// Whether nothing on this machine or another can change the file: it lies on
// a local file system mounted read-only as a whole (not only through one
// mount of it, as a read-only bind mount is).
bool CannotChange(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return false;
    const std::string device = std::to_string(major(st.st_dev)) + ":" + std::to_string(minor(st.st_dev));
    std::FILE* mounts = std::fopen("/proc/self/mountinfo", "re");
    if (!mounts) return false;
    bool fixed = false;
    char* line = nullptr;
    size_t size = 0;
    while (::getline(&line, &size, mounts) > 0) {
        // id parent major:minor root point options [tags] - type source super-options
        const std::string entry(line);
        size_t at = entry.find(' ');
        at = entry.find(' ', at + 1);
        if (at == std::string::npos || entry.compare(at + 1, device.size() + 1, device + " ") != 0) continue;
        const size_t dash = entry.find(" - ");
        if (dash == std::string::npos) break;
        std::string type, source, super;
        std::istringstream rest(entry.substr(dash + 3));
        rest >> type >> source >> super;
        static const char* kNetwork[] = {"nfs", "nfs4", "cifs", "smb3", "smbfs", "ceph", "9p", "afs", "glusterfs"};
        const bool network = type.rfind("fuse", 0) == 0 ||
                             std::any_of(std::begin(kNetwork), std::end(kNetwork), [&](const char* n) { return type == n; });
        fixed = !network && ("," + super + ",").find(",ro,") != std::string::npos;
        break;
    }
    std::free(line);
    std::fclose(mounts);
    return fixed;
}

// What SQLite opens to read a file in a folder that cannot be written here.
// The file is read under SQLite's own locking, as any reader reads it, log
// and all. In WAL mode SQLite can do that only with the log's index beside the
// file; without one no program has the file open in WAL mode now, and a copy
// of the file and its log is read, made while neither changed (a writer that
// came meanwhile would have made the index first). Only a file that nothing
// can change is read in place without locks.
std::string ReadableName(Core& core, const std::string& path) {
    const std::string index = path + "-shm", log = path + "-wal";
    static std::atomic<int> copies{0};
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (!InWalMode(path) || FileExists(index)) return path;
        struct stat st {};
        const bool logged = ::stat(log.c_str(), &st) == 0;
        if ((!logged || st.st_size == 0) && CannotChange(path)) return FileUri(path) + "?immutable=1";
        FileStamp before, after;
        if (!StampOf(path, &before)) return path;
        const std::string copy = (std::filesystem::temp_directory_path() /
                                  ("tessary-read-" + std::to_string(::getpid()) + "-" + std::to_string(++copies) + ".db"))
                                     .string();
        for (const char* suffix : {"", "-wal", "-shm", "-journal"}) core.scratchFiles.push_back(copy + suffix);
        std::error_code ec;
        const auto overwrite = std::filesystem::copy_options::overwrite_existing;
        std::filesystem::copy_file(path, copy, overwrite, ec);
        if (!ec && logged) std::filesystem::copy_file(log, copy + "-wal", overwrite, ec);
        if (ec) {
            if (file::IsDiskFull(ec.value())) Raise(file::kDiskFull);
            Raise(3051, path);
        }
        if (StampOf(path, &after) && after == before && !FileExists(index)) return copy;
    }
    Raise(3196, path);  // it kept changing: another program is writing it
}

}  // namespace

std::shared_ptr<Core> OpenCore(const std::string& path, bool exclusive, bool readOnly, const std::string& connect,
                               bool create, bool guest = false) {
    if (UpperUtf8(connect).rfind("ODBC;", 0) == 0) return OpenOdbc(connect);
    if (path.empty()) Raise(3044, path);
    auto core = std::make_shared<Core>();
    core->path = path;
    core->connect = connect;
    core->readOnly = readOnly;
    core->exclusive = exclusive;
    core->guest = guest;
    core->tableDefs.core = core;
    std::string dir = ParentDir(path);
    if (!IsDir(dir)) Raise(3044, path);
    bool dirWritable = ::access(dir.c_str(), W_OK) == 0;
    if (create) {
        if (FileExists(path)) throw DaoError(3204, "Database already exists.");
        if (!dirWritable) Raise(3051, path);
        // Leftovers of an earlier file of this name would be taken for this one's.
        for (const char* suffix : {"-wal", "-shm", "-journal"}) ::unlink((path + suffix).c_str());
    } else {
        if (!FileExists(path)) Raise(3024, path);
        if (IsDir(path)) Raise(3044, path);
        if (::access(path.c_str(), R_OK) != 0) Raise(3051, path);
        if (AccessMirror::IsAccessFile(path)) return OpenAccess(core, path);
        bool empty = false;
        if (!HasDatabaseHeader(path, &empty)) Raise(3343, path);
        if (!readOnly && ::access(path.c_str(), W_OK) != 0) Raise(3051, path);
        if (!readOnly && !dirWritable) Raise(3050);
    }
    core->lockPath = LockPathOf(path);
    if (dirWritable) {
        bool denied = false;
        core->lockFd = TakeLock(core->lockPath, exclusive, &denied);
        if (denied) Raise(exclusive ? 3045 : 3356, path);
    }
    if (!create) {
        bool denied = false;
        core->fileLockFd = TakeFileLock(path, exclusive, &denied);
        if (denied) {
            ReleaseLock(core->lockFd, core->lockPath);
            core->lockFd = -1;
            Raise(exclusive ? 3045 : 3356, path);
        }
    }
    int flags = (readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) | SQLITE_OPEN_NOMUTEX;
    if (create) flags |= SQLITE_OPEN_CREATE;
    std::string name = path;
    if (readOnly && !dirWritable) {
        try {
            name = ReadableName(*core, path);
        } catch (const DaoError&) {
            core->Close();
            throw;
        }
    }
    // URIs let linked Access mirrors be attached read-only.
    flags |= SQLITE_OPEN_URI;
    if (readOnly && dirWritable && !LogBeside(path)) core->logsOfReads.emplace_back("main", path);
    int rc = sqlite3_open_v2(name.c_str(), &core->db, flags, nullptr);
    if (rc != SQLITE_OK) {
        const bool full = DiskFull(core->db, rc);
        sqlite3_close_v2(core->db);
        core->db = nullptr;
        core->closed = true;
        for (const auto& f : core->scratchFiles) ::unlink(f.c_str());
        core->scratchFiles.clear();
        ReleaseLock(core->lockFd, core->lockPath);
        core->lockFd = -1;
        if (core->fileLockFd >= 0) ::close(core->fileLockFd);
        core->fileLockFd = -1;
        if (full) Raise(file::kDiskFull);
        if (rc == SQLITE_NOTADB) Raise(3343, path);
        if (rc == SQLITE_CANTOPEN) Raise(readOnly ? 3051 : 3050);
        Raise(3049, path);
    }
    NameConnection(core->db, path);
    Configure(core->db, readOnly);
    if (!readOnly) {
        sqlite3_wal_autocheckpoint(core->db, 0);
        sqlite3_wal_hook(core->db, WalHook, core.get());
    }
    // Reading the schema proves the file is a database and not damaged at its start.
    char* err = nullptr;
    rc = sqlite3_exec(core->db, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, &err);
    sqlite3_free(err);
    if (rc != SQLITE_OK) {
        int ext = sqlite3_extended_errcode(core->db);
        // A sound file on a full disk: no room for what reading beside it needs.
        const bool full = DiskFull(core->db, ext);
        core->Close();
        if (full) Raise(file::kDiskFull);
        if ((ext & 0xFF) == SQLITE_NOTADB) Raise(3343, path);
        if ((ext & 0xFF) == SQLITE_BUSY || (ext & 0xFF) == SQLITE_LOCKED) Raise(3196, path);
        Raise(3049, path);
    }
    try {
        // Nothing is written before the file is known to be one this version may write.
        if (!create || readOnly) core->UpgradeOwnFile();
        // WAL: readers and the writer do not block each other between
        // connections, and an interrupted transaction leaves no trace.
        if (OwnFile(*core)) sqlite3_exec(core->db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
        // Outside WAL mode NORMAL may lose a commit to a power cut: not in another program's file.
        if (core->guest && PragmaText(core->db, "PRAGMA journal_mode", &rc) != "wal")
            core->Exec("PRAGMA synchronous=FULL");
        if (create && !readOnly) {
            // Makes the file a database on disk at once, as creating one does.
            core->Exec("PRAGMA application_id = " + std::to_string(kApplicationId));
            core->Exec("PRAGMA user_version = " + std::to_string(kFileVersion));
            core->orderChecked = true;
        } else if (OwnFile(*core) && core->formerVersion > 0) {
            core->RepairTextIndexOrder();
        }
    } catch (const DaoError&) {
        core->Close();
        throw;
    }
    try {
        core->LoadLinks();
    } catch (const DaoError&) {
        core->Close();
        throw;
    }
    return core;
}

}  // namespace dao::detail

namespace dao {
using namespace detail;

// ------------------------------------------------------------------ TableDefs::Impl

void TableDefs::Impl::Load(bool force) {
    auto c = core.lock();
    if (!c || c->closed) Raise(3420);
    if (!force && loadedGen == c->schemaGen) return;
    std::vector<std::shared_ptr<TableDefImpl>> fresh;
    auto reuse = [&](const std::string& name) -> std::shared_ptr<TableDefImpl> {
        for (auto& t : items)
            if (t->name == name) return t;
        return std::make_shared<TableDefImpl>();
    };
    sqlite3_stmt* st = c->Prepare("SELECT name FROM main.sqlite_master WHERE type='table' AND name NOT LIKE 'sqlite\\_%' "
                                  "ESCAPE '\\' AND name NOT LIKE '%$rebuild'");
    while (sqlite3_step(st) == SQLITE_ROW) {
        std::string name = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
        auto t = reuse(name);
        t->core = c;
        t->appended = true;
        t->name = name;
        t->connect.clear();
        t->sourceTable.clear();
        t->attributes = UpperUtf8(name).rfind("MSYS", 0) == 0 ? long(dbSystemObject) : 0L;
        t->loadedGen = ~uint64_t(0);
        fresh.push_back(t);
    }
    sqlite3_finalize(st);
    for (const auto& l : c->links) {
        auto t = reuse(l.name);
        t->core = c;
        t->appended = true;
        t->name = l.name;
        t->connect = l.connect;
        t->sourceTable = l.source;
        t->attributes = UpperUtf8(l.connect).rfind("ODBC;", 0) == 0 ? dbAttachedODBC : dbAttachedTable;
        t->attributes |= l.attributes & (dbAttachExclusive | dbAttachSavePWD | dbHiddenObject);
        t->loadedGen = ~uint64_t(0);
        fresh.push_back(t);
    }
    std::stable_sort(fresh.begin(), fresh.end(),
                     [](const auto& a, const auto& b) { return CompareText(a->name, b->name) < 0; });
    items = std::move(fresh);
    loadedGen = c->schemaGen;
}

int TableDefs::Count() const {
    impl_->Load(false);
    return int(impl_->items.size());
}

TableDef TableDefs::Item(int index) const {
    impl_->Load(false);
    if (index < 0 || size_t(index) >= impl_->items.size()) Raise(3265);
    return TableDef(impl_->items[size_t(index)]);
}

TableDef TableDefs::Item(const std::string& name) const {
    impl_->Load(false);
    for (auto& t : impl_->items)
        if (EqualsNoCase(t->name, name)) return TableDef(t);
    Raise(3265);
}

void TableDefs::Refresh() { impl_->Load(true); }

void TableDefs::Delete(const std::string& name) {
    auto c = impl_->core.lock();
    if (!c) Raise(3420);
    if (!c->FindLink(name) && !c->LocalTableExists(name)) Raise(3265);
    c->DropTable(name);
    impl_->Load(true);
}

void TableDefs::Append(const TableDef& tableDef) {
    auto c = impl_->core.lock();
    if (!c) Raise(3420);
    c->CheckWritable();
    auto& t = tableDef.impl();
    if (!t) Raise(91);
    if (t->appended) Raise(3367);
    if (t->name.empty()) Raise(3001);
    Core::CheckNewTableName(t->name);
    if (c->LocalTableExists(t->name) || c->FindLink(t->name)) Raise(3010, t->name);
    if (!t->connect.empty()) {
        // A link: checked now (unless ODBC), stored, and attached.
        Link l;
        l.name = t->name;
        l.connect = t->connect;
        l.source = t->sourceTable.empty() ? t->name : t->sourceTable;
        l.attributes = t->attributes;
        c->AttachLink(l);
        if (l.error && l.error != 3151) {
            if (l.error == 3078) Raise(3011, l.source);
            RaiseLink(l);
        }
        c->Atomically([&] {
            c->EnsureLinkTable();
            sqlite3_stmt* st = c->Prepare("INSERT INTO MSysLinks (Name, Connect, SourceTableName, Attributes) VALUES (?1, ?2, ?3, ?4)");
            sqlite3_bind_text(st, 1, l.name.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(st, 2, l.connect.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(st, 3, l.source.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_int64(st, 4, l.attributes);
            int rc = sqlite3_step(st);
            sqlite3_finalize(st);
            if (rc != SQLITE_DONE) RaiseSqlite(c->db, rc);
        });
        c->links.push_back(l);
        c->Changed(true);
    } else {
        std::vector<ColumnDef> cols;
        std::vector<ConstraintDef> cons;
        for (auto& f : t->fieldsImpl.items) {
            ColumnDef d;
            d.name = f->name;
            d.type = f->type;
            d.size = f->size > 0 ? f->size : DefaultSize(f->type);
            d.autoIncrement = (f->attributes & dbAutoIncrField) != 0;
            d.notNull = f->required;
            cols.push_back(d);
        }
        for (auto& ix : t->indexesImpl.items) {
            ConstraintDef k;
            k.name = ix->name;
            k.primary = ix->primary;
            k.unique = ix->unique && !ix->primary;
            for (auto& f : ix->fieldsImpl.items) k.columns.push_back(f->name);
            if (k.primary) cons.push_back(k);
        }
        c->Atomically([&] {
            c->CreateTable(t->name, cols, cons);
            for (auto& ix : t->indexesImpl.items) {
                if (ix->primary) continue;
                std::vector<std::pair<std::string, bool>> ic;
                for (auto& f : ix->fieldsImpl.items) ic.emplace_back(f->name, false);
                c->CreateIndex(t->name, ix->name, ic, ix->unique, false);
            }
        });
    }
    t->core = c;
    t->appended = true;
    t->loadedGen = ~uint64_t(0);
    impl_->Load(true);
}

// ------------------------------------------------------------------ Database

Database::Database(std::unique_ptr<DatabaseImpl> impl) : impl_(std::move(impl)) {}

Database::~Database() = default;

std::string Database::Name() const { return impl_->core->path; }
std::string Database::Connect() const { return impl_->core->connect; }
bool Database::Updatable() const {
    impl_->core->CheckOpen();
    return !impl_->core->readOnly;
}
void Database::Close() {
    impl_->core->CheckOpen();
    impl_->core->Close();
}
void Database::Finish() { impl_->core->Finish(); }
void Database::CopyTo(const std::string& file) { impl_->core->CopyTo(file); }
void Database::ReadWithoutMapping() {
    impl_->core->CheckOpen();
    sqlite3_exec(impl_->core->db, "PRAGMA mmap_size=0", nullptr, nullptr, nullptr);
}
int Database::FileVersion() const { return impl_->core->formerVersion; }
bool Database::IndexesInOrder(const std::string& table) {
    Core& c = *impl_->core;
    c.CheckOpen();
    sqlite3_stmt* st = c.Prepare("SELECT name FROM pragma_index_list(?1, 'main')");
    sqlite3_bind_text(st, 1, table.c_str(), -1, SQLITE_TRANSIENT);
    std::vector<std::string> indexes;
    while (sqlite3_step(st) == SQLITE_ROW) indexes.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
    sqlite3_finalize(st);
    for (const auto& index : indexes)
        if (!c.IndexInOrder(table, index)) return false;
    return true;
}
void Database::Interrupt() {
    if (impl_->core->db) sqlite3_interrupt(impl_->core->db);
}
void Database::EndReads() {
    Core& c = *impl_->core;
    if (!c.closed && c.db && c.Reading()) c.SuspendStreams();
}
void Database::ShareLinkCopies(const Database& other) {
    Core& c = *impl_->core;
    const Core& o = *other.impl_->core;
    c.CheckOpen();
    for (Link& l : c.links) {
        if (!l.pending || l.error || l.schema.empty()) continue;
        const Link* copied = nullptr;
        for (const Link& ol : o.links)
            if (!ol.pending && !ol.error && !ol.snapshot.empty() && ol.connect == l.connect && ol.source == l.source)
                copied = &ol;
        if (!copied || ::access(copied->snapshot.c_str(), R_OK) != 0) continue;
        // The empty copy made at the open goes; the other's is attached under its name.
        c.SuspendStreams();
        if (sqlite3_exec(c.db, ("DETACH DATABASE " + QuoteIdent(l.schema)).c_str(), nullptr, nullptr, nullptr) != SQLITE_OK)
            continue;
        c.attached.erase(l.snapshot);
        c.scratchFiles.erase(std::remove(c.scratchFiles.begin(), c.scratchFiles.end(), l.snapshot), c.scratchFiles.end());
        ::unlink(l.snapshot.c_str());
        l.pending.reset();
        l.snapshot = copied->snapshot;
        sqlite3_stmt* st = c.Prepare("ATTACH DATABASE ?1 AS " + QuoteIdent(l.schema));
        const std::string uri = ReadOnlyUri(l.snapshot);
        sqlite3_bind_text(st, 1, uri.c_str(), -1, SQLITE_TRANSIENT);
        const int rc = sqlite3_step(st);
        sqlite3_finalize(st);
        if (rc != SQLITE_DONE) {
            l.error = 3343;
            l.errorArg = l.snapshot;
            l.schema.clear();
        } else {
            c.attached.emplace(l.snapshot, l.schema);
        }
        c.infoCache.clear();
        c.Changed(true);
    }
}
void Database::Execute(const std::string& sql, int options) { impl_->core->Execute(sql, options); }
long Database::RecordsAffected() const { return impl_->core->recordsAffected; }
dao::TableDefs& Database::TableDefs() {
    impl_->core->CheckOpen();
    return *impl_->tableDefs;
}

TableDef Database::CreateTableDef(const std::string& name, long attributes, const std::string& sourceTableName,
                                  const std::string& connect) {
    impl_->core->CheckOpen();
    auto t = std::make_shared<TableDefImpl>();
    t->core = impl_->core;
    t->name = name;
    t->attributes = attributes;
    t->sourceTable = sourceTableName;
    t->connect = connect;
    return TableDef(t);
}

std::shared_ptr<Recordset> Database::OpenRecordset(const std::string& nameOrSql, RecordsetType type, int options) {
    auto cur = OpenCursor(impl_->core, nameOrSql, type, options);
    auto impl = std::make_unique<RecordsetImpl>();
    impl->cursor = cur;
    return std::make_shared<Recordset>(std::move(impl));
}

void Database::BeginTrans() { impl_->core->Begin(); }
void Database::CommitTrans() { impl_->core->Commit(); }
void Database::Rollback() { impl_->core->Rollback(); }

namespace {

std::shared_ptr<Database> Wrap(std::shared_ptr<Core> core) {
    auto impl = std::make_unique<DatabaseImpl>();
    impl->core = std::move(core);
    impl->tableDefsImpl = &impl->core->tableDefs;
    impl->tableDefs = std::make_unique<dao::TableDefs>(impl->tableDefsImpl);
    return std::make_shared<Database>(std::move(impl));
}

}  // namespace

// ------------------------------------------------------------------ Workspace / DBEngine

namespace {
// Workspaces' lists of databases may be touched from threads that each open their own connection.
std::mutex gWorkspaceMutex;
}  // namespace

std::shared_ptr<Database> Workspace::OpenDatabase(const std::string& path, bool exclusive, bool readOnly,
                                                  const std::string& connect) {
    auto db = Wrap(OpenCore(path, exclusive, readOnly, connect, false));
    std::lock_guard<std::mutex> lock(gWorkspaceMutex);
    databases_.erase(std::remove_if(databases_.begin(), databases_.end(), [](const auto& w) { return w.expired(); }),
                     databases_.end());
    databases_.push_back(db);
    return db;
}

std::shared_ptr<Database> Workspace::OpenGuest(const std::string& path) {
    auto db = Wrap(OpenCore(path, false, false, {}, false, true));
    std::lock_guard<std::mutex> lock(gWorkspaceMutex);
    databases_.push_back(db);
    return db;
}

std::shared_ptr<Database> Workspace::CreateDatabase(const std::string& path, const std::string& locale, int options) {
    (void)locale;
    (void)options;
    auto db = Wrap(OpenCore(path, false, false, {}, true));
    std::lock_guard<std::mutex> lock(gWorkspaceMutex);
    databases_.push_back(db);
    return db;
}

std::vector<std::shared_ptr<Database>> Workspace::Databases() const {
    std::lock_guard<std::mutex> lock(gWorkspaceMutex);
    std::vector<std::shared_ptr<Database>> out;
    for (const auto& w : databases_)
        if (auto d = w.lock())
            if (!d->impl()->core->closed) out.push_back(d);
    return out;
}

void Workspace::BeginTrans() {
    for (auto& d : Databases())
        if (!d->impl()->core->readOnly) d->BeginTrans();
}

void Workspace::Rollback() {
    bool any = false;
    for (auto& d : Databases())
        if (d->impl()->core->transDepth > 0) {
            d->Rollback();
            any = true;
        }
    if (!any) Raise(3034);
}

Workspace& DBEngine::Workspaces(int index) {
    static Workspace ws;
    if (index != 0) Raise(3265);
    return ws;
}

std::shared_ptr<Database> DBEngine::CreateDatabase(const std::string& path, const std::string& locale, int options) {
    return Workspaces(0).CreateDatabase(path, locale, options);
}

std::shared_ptr<Database> DBEngine::OpenDatabase(const std::string& path, bool exclusive, bool readOnly,
                                                 const std::string& connect) {
    return Workspaces(0).OpenDatabase(path, exclusive, readOnly, connect);
}

std::shared_ptr<Database> DBEngine::OpenGuest(const std::string& path) { return Workspaces(0).OpenGuest(path); }

void DBEngine::ReplaceDatabase(const std::string& from, const std::string& to) {
    if (from.empty() || to.empty()) Raise(3044, to);
    struct stat st {};
    if (::lstat(from.c_str(), &st) != 0) Raise(3024, from);
    if (!S_ISREG(st.st_mode)) Raise(3343, from);
    if (LogHoldsData(from)) Raise(3049, from);
    const std::string lockPath = LockPathOf(to);
    bool denied = false;
    const int fd = TakeLock(lockPath, true, &denied);
    if (denied) Raise(3045, to);
    if (fd < 0) Raise(3050);
    try {
        // The old file's log and journal would be read as the new one's: they
        // go with the old file, and stay with it when the rename fails.
        file::SafeFile::Replace(from, to, {"-wal", "-journal", "-shm"});
    } catch (const file::Error& e) {
        ReleaseLock(fd, lockPath);
        throw DaoError(e.Number(), e.what());
    }
    ReleaseLock(fd, lockPath);
}

}  // namespace dao
