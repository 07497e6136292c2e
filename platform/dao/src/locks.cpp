// SQLite's locks on a file, held by the open file description they were taken
// through instead of by the process.
//
// A classic POSIX lock belongs to the process, and closing any descriptor of
// the file drops all of the process's locks on it: a file dialog listing the
// folder, a check of a header or a copy then silently takes away the locks of
// every connection here, and another program takes itself for the file's only
// user (it rebuilds the shared index under us, or writes while we write).
// Linux's open-file-description locks are dropped only when their own
// description closes, and they conflict with other programs' POSIX locks as
// those do with each other.
//
// SQLite counts its locks per file and process itself (connections of this
// process share them) and expects the process to own them. So every lock call
// on a file goes through one description of ours per file, opened beside
// SQLite's first descriptor of it and closed with its last: to SQLite the
// locks behave as the process's, while no other descriptor can drop them.
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdarg>
#include <mutex>
#include <string>
#include <unordered_map>

#include "internal.h"

namespace dao::detail {

namespace {

using OpenCall = int (*)(const char*, int, int);
using CloseCall = int (*)(int);
using FcntlCall = int (*)(int, int, ...);

OpenCall gOpen = nullptr;
CloseCall gClose = nullptr;
FcntlCall gFcntl = nullptr;

struct FileId {
    dev_t dev;
    ino_t ino;
    bool operator==(const FileId&) const = default;
};

struct FileIdHash {
    size_t operator()(const FileId& f) const { return std::hash<uint64_t>()(uint64_t(f.ino) * 31 + uint64_t(f.dev)); }
};

struct LockFile {
    int open = 0;        // SQLite's descriptors of the file
    int locks = -1;      // our description, opened at the first lock call
};

struct Table {
    std::mutex mutex;
    std::unordered_map<int, FileId> descriptors;  // SQLite's, by number
    std::unordered_map<FileId, LockFile, FileIdHash> files;
};

// Never freed: SQLite may still close files while the process ends. A child
// made by fork starts a table of its own (its locks are not its parent's).
Table* gTable = new Table;

void ForgetParentsLocks() { gTable = new Table; }

// A description of the file of fd that may take every lock SQLite may take
// through any descriptor of it: opened for writing where the file allows it.
// Numbers below 3 are left to the standard streams.
int OpenLockDescription(int fd) {
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    int own = gOpen(self.c_str(), O_RDWR | O_CLOEXEC, 0);
    if (own < 0) own = gOpen(self.c_str(), O_RDONLY | O_CLOEXEC, 0);
    if (own < 0) return gFcntl(fd, F_DUPFD_CLOEXEC, 3);  // no /proc: SQLite's own description
    if (own >= 3) return own;
    const int moved = gFcntl(own, F_DUPFD_CLOEXEC, 3);
    gClose(own);
    return moved;
}

int Open(const char* path, int flags, int mode) {
    const int fd = gOpen(path, flags, mode);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0) return fd;
    std::lock_guard<std::mutex> lock(gTable->mutex);
    const FileId id{st.st_dev, st.st_ino};
    gTable->descriptors[fd] = id;
    ++gTable->files[id].open;
    return fd;
}

int Close(int fd) {
    int locks = -1;
    {
        std::lock_guard<std::mutex> lock(gTable->mutex);
        auto d = gTable->descriptors.find(fd);
        if (d != gTable->descriptors.end()) {
            auto f = gTable->files.find(d->second);
            if (f != gTable->files.end() && --f->second.open == 0) {
                locks = f->second.locks;
                gTable->files.erase(f);
            }
            gTable->descriptors.erase(d);
        }
    }
    const int rc = gClose(fd);
    // SQLite closes its last descriptor only once it holds no lock on the file.
    if (locks >= 0) gClose(locks);
    return rc;
}

// The description a lock call on fd goes through; -1 for a descriptor SQLite
// opened before these calls were in place (its locks stay the process's).
int LocksOf(int fd) {
    std::lock_guard<std::mutex> lock(gTable->mutex);
    auto d = gTable->descriptors.find(fd);
    if (d == gTable->descriptors.end()) return -1;
    LockFile& f = gTable->files[d->second];
    if (f.locks < 0) f.locks = OpenLockDescription(fd);
    return f.locks;
}

int Fcntl(int fd, int op, ...) {
    va_list args;
    va_start(args, op);
    int rc;
    switch (op) {
    case F_GETLK:
    case F_SETLK:
    case F_SETLKW: {
        auto* lock = va_arg(args, struct flock*);
        const int locks = LocksOf(fd);
        if (locks < 0) {
            rc = gFcntl(fd, op, lock);
            break;
        }
        lock->l_pid = 0;
        rc = gFcntl(locks, op == F_GETLK ? F_OFD_GETLK : op == F_SETLK ? F_OFD_SETLK : F_OFD_SETLKW, lock);
        break;
    }
    case F_GETFD:
    case F_GETFL:
        rc = gFcntl(fd, op);
        break;
    case F_DUPFD:
    case F_DUPFD_CLOEXEC:
    case F_SETFD:
    case F_SETFL:
        rc = gFcntl(fd, op, va_arg(args, int));
        break;
    default:
        rc = gFcntl(fd, op, va_arg(args, void*));
        break;
    }
    va_end(args);
    return rc;
}

bool Install() {
    sqlite3_vfs* vfs = sqlite3_vfs_find(nullptr);
    if (!vfs || vfs->iVersion < 3 || !vfs->xSetSystemCall || !vfs->xGetSystemCall) return false;
    gOpen = reinterpret_cast<OpenCall>(vfs->xGetSystemCall(vfs, "open"));
    gClose = reinterpret_cast<CloseCall>(vfs->xGetSystemCall(vfs, "close"));
    gFcntl = reinterpret_cast<FcntlCall>(vfs->xGetSystemCall(vfs, "fcntl"));
    if (!gOpen || !gClose || !gFcntl) return false;
    pthread_atfork(nullptr, nullptr, ForgetParentsLocks);
    return vfs->xSetSystemCall(vfs, "open", reinterpret_cast<sqlite3_syscall_ptr>(Open)) == SQLITE_OK &&
           vfs->xSetSystemCall(vfs, "close", reinterpret_cast<sqlite3_syscall_ptr>(Close)) == SQLITE_OK &&
           vfs->xSetSystemCall(vfs, "fcntl", reinterpret_cast<sqlite3_syscall_ptr>(Fcntl)) == SQLITE_OK;
}

}  // namespace

bool UseOwnLocks() {
    static const bool installed = Install();
    return installed;
}

}  // namespace dao::detail
