// The log beside a file of ours: the hook that sees it grow, the thread that
// copies it back into the file, and the logs taken away after reads and when
// a file is finished to stand alone.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

#include "engine.h"
#include "file/Error.h"
#include "files.h"

namespace dao::detail {

// Pages in the log after which its contents are copied back into the file.
constexpr int kCheckpointPages = 1000;

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

namespace {

// A system call's failure as the layer names it.
[[noreturn]] void RaiseErrno(int err, const std::string& path) {
    if (file::IsDiskFull(err)) Raise(file::kDiskFull, "'" + path + "'");
    RaiseWithDetail(3043, {}, "(" + path + ": " + std::strerror(err) + ")");
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

}  // namespace dao::detail
