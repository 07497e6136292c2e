// The files beside a database, as the system sees them: what a path is before
// SQLite opens it, the holders' locks on a side file and on the file itself,
// and the log beside it. Nothing here speaks to SQLite.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "file/SafeFile.h"
#include "files.h"
#include "internal.h"

namespace dao::detail {

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

// Holders of a database take a shared lock on a side file, an exclusive
// holder an exclusive one. A side file is used, not the database itself,
// because closing any descriptor of the database would drop the engine's own
// POSIX locks on it.
int TakeLock(const std::string& lockPath, bool exclusive, bool* denied, bool sideFile) {
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

namespace {

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

}  // namespace

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

// Whether a log or journal beside the file still holds part of it: the file
// alone is then not the database.
bool LogHoldsData(const std::string& path) {
    struct stat st {};
    for (const char* suffix : {"-wal", "-journal"})
        if (::stat((path + suffix).c_str(), &st) == 0 && st.st_size > 0) return true;
    return false;
}

bool LogBeside(const std::string& file) {
    struct stat st {};
    return ::stat((file + "-wal").c_str(), &st) == 0 || ::stat((file + "-shm").c_str(), &st) == 0;
}

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

}  // namespace dao::detail
