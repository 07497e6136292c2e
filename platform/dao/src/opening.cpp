// The three ways a connection opens: an SQLite file (locked, then read in
// place or through a copy), an Access file through its mirror, an ODBC source
// in memory; and what every connection is given before its first statement.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "AccessMirror.h"
#include "OdbcSource.h"
#include "engine.h"
#include "file/Error.h"
#include "files.h"

namespace dao::detail {

namespace {

// Memory statistics cost a global mutex on every allocation; nothing here
// reads them. Both settings take effect only before SQLite's first use in the
// process, which this precedes.
const bool kEngineSetUp = [] {
    sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
    return UseOwnLocks();
}();

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
                               bool create, bool guest) {
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
