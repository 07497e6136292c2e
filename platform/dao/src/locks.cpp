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
// on a file goes through one description of ours per file, taken from
// SQLite's first descriptor of it that locks and closed with its last: to
// SQLite the locks behave as the process's, while no other descriptor can drop
// them.
//
// The description is opened as SQLite opened the file: a file only read is
// never opened for writing (a watcher of it would see a write). Should SQLite
// later open the same file for writing and lock through that, the read locks
// held so far move to a description taken from the writable one.
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <limits>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

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

// Byte ranges [first, last) of a file.
using Ranges = std::vector<std::pair<off_t, off_t>>;

void Remove(Ranges& ranges, off_t first, off_t last) {
    Ranges kept;
    for (const auto& [a, b] : ranges) {
        if (b <= first || a >= last) {
            kept.emplace_back(a, b);
            continue;
        }
        if (a < first) kept.emplace_back(a, first);
        if (b > last) kept.emplace_back(last, b);
    }
    ranges.swap(kept);
}

void Add(Ranges& ranges, off_t first, off_t last) {
    Remove(ranges, first, last);
    ranges.emplace_back(first, last);
    std::sort(ranges.begin(), ranges.end());
}

struct LockFile {
    int open = 0;           // SQLite's descriptors of the file
    int locks = -1;         // our description, taken at the first lock call
    bool writable = false;  // whether it was opened for writing
    bool tracked = true;    // reads holds every lock taken through it
    Ranges reads;           // read locks held through a description not writable
};

struct Descriptor {
    FileId id;
    bool writable;
};

struct Table {
    std::mutex mutex;
    std::unordered_map<int, Descriptor> descriptors;  // SQLite's, by number
    std::unordered_map<FileId, LockFile, FileIdHash> files;
};

// Never freed: SQLite may still close files while the process ends. A child
// made by fork starts a table of its own (its locks are not its parent's).
Table* gTable = new Table;

void ForgetParentsLocks() { gTable = new Table; }

// A description of SQLite's descriptor fd of its own number, open as fd is.
// Numbers below 3 are left to the standard streams.
int OwnDescription(int fd) {
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    const int mode = gFcntl(fd, F_GETFL) & O_ACCMODE;
    int own = gOpen(self.c_str(), mode | O_CLOEXEC, 0);
    if (own < 0) return gFcntl(fd, F_DUPFD_CLOEXEC, 3);  // no /proc: SQLite's own description
    if (own >= 3) return own;
    const int moved = gFcntl(own, F_DUPFD_CLOEXEC, 3);
    gClose(own);
    return moved;
}

// Moves the file's locks to a description that can also write, taken from fd.
// Only read locks can have been taken before; they are taken again on the new
// description before the old one goes, so no other program can slip in.
void MakeWritable(LockFile& f, int fd) {
    if (!f.tracked) return;
    const int own = OwnDescription(fd);
    if (own < 0) return;
    for (const auto& [first, last] : f.reads) {
        struct flock lock {};
        lock.l_type = F_RDLCK;
        lock.l_whence = SEEK_SET;
        lock.l_start = first;
        lock.l_len = last == std::numeric_limits<off_t>::max() ? 0 : last - first;
        if (gFcntl(own, F_OFD_SETLK, &lock) != 0) {
            gClose(own);
            return;
        }
    }
    gClose(f.locks);
    f.locks = own;
    f.writable = true;
    f.reads.clear();
}

// Keeps count of the read locks held through a description not writable.
void Note(LockFile& f, const struct flock& lock) {
    if (f.writable || !f.tracked) return;
    if (lock.l_whence != SEEK_SET || lock.l_start < 0 || lock.l_len < 0) {
        f.tracked = false;
        return;
    }
    const off_t last = lock.l_len == 0 ? std::numeric_limits<off_t>::max() : lock.l_start + lock.l_len;
    if (lock.l_type == F_RDLCK) Add(f.reads, lock.l_start, last);
    else if (lock.l_type == F_UNLCK) Remove(f.reads, lock.l_start, last);
}

int Open(const char* path, int flags, int mode) {
    const int fd = gOpen(path, flags, mode);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0) return fd;
    std::lock_guard<std::mutex> lock(gTable->mutex);
    const FileId id{st.st_dev, st.st_ino};
    gTable->descriptors[fd] = {id, (flags & O_ACCMODE) != O_RDONLY};
    ++gTable->files[id].open;
    return fd;
}

int Close(int fd) {
    int locks = -1;
    {
        std::lock_guard<std::mutex> lock(gTable->mutex);
        auto d = gTable->descriptors.find(fd);
        if (d != gTable->descriptors.end()) {
            auto f = gTable->files.find(d->second.id);
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

// Runs a lock call on fd through the file's description; for a descriptor
// SQLite opened before these calls were in place, through fd itself (its
// locks stay the process's).
int Lock(int fd, int op, struct flock* lock) {
    for (;;) {
        int rc, err;
        {
            std::lock_guard<std::mutex> guard(gTable->mutex);
            auto d = gTable->descriptors.find(fd);
            if (d == gTable->descriptors.end()) return gFcntl(fd, op, lock);
            LockFile& f = gTable->files[d->second.id];
            if (f.locks < 0) {
                f.locks = OwnDescription(fd);
                f.writable = d->second.writable;
            } else if (!f.writable && d->second.writable) {
                MakeWritable(f, fd);
            }
            if (f.locks < 0) return gFcntl(fd, op, lock);
            lock->l_pid = 0;
            if (op == F_GETLK) return gFcntl(f.locks, F_OFD_GETLK, lock);
            rc = gFcntl(f.locks, F_OFD_SETLK, lock);
            err = errno;
            if (rc == 0) Note(f, *lock);
        }
        // A call that waits waits here, in steps, so that the table is not
        // held meanwhile.
        if (op != F_SETLKW || rc == 0 || (err != EAGAIN && err != EACCES)) {
            errno = err;
            return rc;
        }
        ::usleep(1000);
    }
}

int Fcntl(int fd, int op, ...) {
    va_list args;
    va_start(args, op);
    int rc;
    switch (op) {
    case F_GETLK:
    case F_SETLK:
    case F_SETLKW:
        rc = Lock(fd, op, va_arg(args, struct flock*));
        break;
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
