#include "file/SafeFile.h"

#include "file/Error.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <utility>
#include <vector>

namespace file {

namespace {

bool SameFolder(int fd, const std::string& path) {
    struct stat a {};
    return ::fstat(fd, &a) == 0 && SafeFile::SameFile(a, path);
}

// What a database leaves beside its file; a log or journal holds part of it.
const char* const kCompanions[] = {"-wal", "-journal", "-shm", ".lck"};

// When this process began: an import temporary of an older version newer than
// that may be a live writer's (those name their process, and hold no lock).
const std::chrono::system_clock::time_point kStarted = std::chrono::system_clock::now();

bool OlderThanProcess(const struct stat& st) {
    const auto changed = std::chrono::system_clock::from_time_t(st.st_mtim.tv_sec);
    return changed + std::chrono::seconds(1) < kStarted;
}

bool IsOwnRegularFile(int dir, const std::string& name, struct stat* st) {
    return ::fstatat(dir, name.c_str(), st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st->st_mode) &&
           st->st_uid == ::geteuid();
}

bool EndsWith(const std::string& s, const std::string& end) {
    return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
}

// ".<name>.XXXXXX", the suffix as mkdtemp makes it; gives <name>.
bool IsPrivateFolderName(const std::string& entry, std::string* name) {
    if (entry.size() < 9 || entry[0] != '.' || entry[entry.size() - 7] != '.') return false;
    for (size_t i = entry.size() - 6; i < entry.size(); ++i)
        if (!std::isalnum(static_cast<unsigned char>(entry[i]))) return false;
    *name = entry.substr(1, entry.size() - 8);
    return !name->empty();
}

// A private folder of a writer that is gone: made as mkdtemp makes it, only
// the file and what a database leaves beside it, not locked. A live writer
// holds the lock from before it writes anything until it is done, however
// recently it or this process began.
void RemovePrivateFolder(int parent, const std::string& entry, const std::string& name) {
    const int dir = ::openat(parent, entry.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dir < 0) return;
    std::vector<std::string> inside;
    bool ours = false;
    struct stat st {};
    if (::fstat(dir, &st) == 0 && st.st_uid == ::geteuid() && (st.st_mode & 07777) == 0700 &&
        ::flock(dir, LOCK_EX | LOCK_NB) == 0) {
        ours = true;
        const int listed = ::dup(dir);
        DIR* d = listed >= 0 ? ::fdopendir(listed) : nullptr;
        if (!d) {
            if (listed >= 0) ::close(listed);
            ours = false;
        }
        while (ours) {
            const dirent* e = ::readdir(d);
            if (!e) break;
            const std::string file = e->d_name;
            if (file == "." || file == "..") continue;
            bool known = file == name;
            for (const char* suffix : kCompanions) known = known || file == name + suffix;
            struct stat f {};
            ours = known && IsOwnRegularFile(dir, file, &f);
            inside.push_back(file);
        }
        if (d) ::closedir(d);
    }
    if (ours) {
        for (const std::string& file : inside) ::unlinkat(dir, file.c_str(), 0);
        ::unlinkat(parent, entry.c_str(), AT_REMOVEDIR);
    }
    ::close(dir);
}

// ".<name>.importing-<pid>-<n>" (how older versions made an import aside) and
// what a database leaves beside it, of a process that is gone.
void RemoveImportTemporary(int parent, const std::string& entry) {
    const size_t at = entry.rfind(".importing-");
    if (entry.empty() || entry[0] != '.' || at == std::string::npos || at < 2) return;
    std::string rest = entry.substr(at + 11);
    for (const char* suffix : kCompanions)
        if (EndsWith(rest, suffix)) {
            rest.resize(rest.size() - std::strlen(suffix));
            break;
        }
    const size_t dash = rest.find('-');
    if (dash == std::string::npos || dash == 0 || dash + 1 == rest.size()) return;
    for (size_t i = 0; i < rest.size(); ++i)
        if (i != dash && !std::isdigit(static_cast<unsigned char>(rest[i]))) return;
    const long pid = std::strtol(rest.c_str(), nullptr, 10);
    if (pid <= 0 || pid == long(::getpid()) || ::kill(pid_t(pid), 0) == 0 || errno != ESRCH) return;
    struct stat st {};
    if (IsOwnRegularFile(parent, entry, &st) && OlderThanProcess(st)) ::unlinkat(parent, entry.c_str(), 0);
}

// The folder's entries on the disk too: a rename is lasting only then.
void SyncFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

std::string FolderOf(const std::string& path) {
    const std::string parent = std::filesystem::path(path).parent_path().string();
    return parent.empty() ? "." : parent;
}

// The name the file has aside: the target's own, cut short (between two
// characters) when the private folder ".<name>.XXXXXX" or what a database
// keeps beside it ("<name>-journal", set aside as "<name>-journal.old") would
// not fit in a folder entry, or the path of its journal would pass SQLite's
// longest (512 bytes).
std::string NameAside(const std::string& parent, const std::string& name) {
    constexpr size_t kLongestSuffix = 12, kSqlitePath = 511;
    const size_t fixed = parent.size() + 18;  // "/." ".XXXXXX/" "-journal"
    size_t room = SafeFile::kLongestName - kLongestSuffix;
    if (fixed + 2 * room > kSqlitePath) room = fixed + 2 <= kSqlitePath ? (kSqlitePath - fixed) / 2 : 1;
    if (name.size() <= room) return name;
    size_t cut = room;
    while (cut > 1 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
    return name.substr(0, cut);
}

}  // namespace

bool SafeFile::SameFile(const struct stat& known, const std::string& path) {
    struct stat b {};
    return ::stat(path.c_str(), &b) == 0 && known.st_dev == b.st_dev && known.st_ino == b.st_ino;
}

void SafeFile::RemoveLeftovers(const std::string& folder) {
    const int parent = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (parent < 0) return;
    std::vector<std::pair<std::string, bool>> entries;  // name, a folder
    const int listed = ::dup(parent);
    if (DIR* d = listed >= 0 ? ::fdopendir(listed) : nullptr) {
        while (const dirent* e = ::readdir(d))
            if (e->d_name[0] == '.') entries.emplace_back(e->d_name, e->d_type == DT_DIR);
        ::closedir(d);
    } else if (listed >= 0) {
        ::close(listed);
    }
    for (const auto& [entry, isFolder] : entries) {
        std::string name;
        if (isFolder && IsPrivateFolderName(entry, &name)) RemovePrivateFolder(parent, entry, name);
        else if (!isFolder) RemoveImportTemporary(parent, entry);
    }
    ::close(parent);
}

void SafeFile::Replace(const std::string& from, const std::string& to, std::initializer_list<const char*> companions) {
    RefuseNotAFile(to);
    // Aside under names no program takes for a journal of anything.
    std::vector<std::pair<std::string, std::string>> moved;
    auto putBack = [&] {
        for (const auto& [home, aside] : moved) ::rename(aside.c_str(), home.c_str());
    };
    for (const char* suffix : companions) {
        const std::string home = to + suffix, aside = from + suffix + ".old";
        if (::rename(home.c_str(), aside.c_str()) == 0) moved.emplace_back(home, aside);
        else if (errno != ENOENT && errno != ENAMETOOLONG) {  // none, or none could have that name
            const int err = errno;
            putBack();
            throw ErrnoError(err, to);
        }
    }
    if (::rename(from.c_str(), to.c_str()) != 0) {
        const int err = errno;
        putBack();
        if (err == EISDIR || err == ENOTEMPTY || err == EEXIST) throw FolderError(to);
        throw ErrnoError(err, to);
    }
    for (const auto& [home, aside] : moved) ::unlink(aside.c_str());
    SyncFolder(FolderOf(to));
}

SafeFile::SafeFile(const std::string& target, Check check, unsigned mode) : check_(std::move(check)), mode_(mode) {
    if (target.empty() || target.find('\0') != std::string::npos) throw Error(kBadFileName, "Bad file name or number");
    std::error_code ec;
    const std::filesystem::path full = std::filesystem::absolute(target, ec).lexically_normal();
    if (ec || !full.has_filename()) throw AccessError();
    target_ = full.string();
    name_ = full.filename().string();
    const std::string parent = full.parent_path().string();
    parent_ = ::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (parent_ < 0) {
        if (errno == ENOENT || errno == ENOTDIR) throw Error(kPathNotFound, "Path not found");
        throw AccessError();
    }
    try {
        struct stat old {};
        existed_ = Taken(&old);
        RemoveLeftovers(parent);
        const std::string aside = NameAside(parent, name_);
        const std::string pattern = (parent == "/" ? "" : parent) + "/." + aside + ".XXXXXX";
        for (int tries = 0;; ++tries) {
            std::vector<char> buffer(pattern.begin(), pattern.end());
            buffer.push_back('\0');
            if (!::mkdtemp(buffer.data())) throw ErrnoError(errno, target_);
            folder_ = buffer.data();
            // Locked before anything is put in it, and held while this object
            // lives: unlocked, it is a leftover to any other writer's clean-up.
            // One that took the empty folder before the lock did is let be,
            // and another folder made.
            int err = 0;
            lock_ = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (lock_ < 0) err = errno;
            else if (::flock(lock_, LOCK_EX | LOCK_NB) != 0) err = errno;
            else if (SameFolder(lock_, folder_)) break;
            else err = ENOENT;
            if (lock_ >= 0) ::close(lock_);
            lock_ = -1;
            ::rmdir(folder_.c_str());
            folder_.clear();
            constexpr int kTries = 8;
            if ((err != ENOENT && err != EWOULDBLOCK) || tries == kTries) throw ErrnoError(err, target_);
        }
        temp_ = folder_ + "/" + aside;
    } catch (...) {
        if (lock_ >= 0) ::close(lock_);
        ::close(parent_);
        throw;
    }
}

SafeFile::~SafeFile() {
    if (!done_) Discard();
    if (lock_ >= 0) ::close(lock_);
    if (parent_ >= 0) ::close(parent_);
}

void SafeFile::Discard() {
    if (file_ >= 0) ::close(file_);
    file_ = -1;
    // The folder is the program's own: nothing in it is followed.
    std::error_code ec;
    if (!folder_.empty()) std::filesystem::remove_all(folder_, ec);
    done_ = true;
}

std::string SafeFile::Explain(const std::string& description) const {
    std::string text = description;
    for (size_t at = 0; !temp_.empty() && (at = text.find(temp_, at)) != std::string::npos; at += target_.size())
        text.replace(at, temp_.size(), target_);
    return Outcome(text, target_, existed_);
}

bool SafeFile::Taken(struct stat* old) const {
    if (::fstatat(parent_, name_.c_str(), old, AT_SYMLINK_NOFOLLOW) != 0) return false;
    if (const char* what = NotAFile(old->st_mode)) throw NotAFileError(target_, what);
    // Renaming over it needs only the folder's permission: the file's own is asked here.
    if (S_ISREG(old->st_mode) && ::faccessat(parent_, name_.c_str(), W_OK, AT_EACCESS) != 0 && errno != ENOENT)
        throw ErrnoError(errno, target_);
    return true;
}

void SafeFile::Fail(int err) const {
    const Error e = ErrnoError(err, target_);
    throw Error(e.Number(), Explain(e.what()));
}

void SafeFile::Unfinished() const {
    // A printer does not say why its write failed: a disk without room for a
    // little more is why the file stopped short.
    constexpr off_t kLittle = 64 << 10;
    const int fd = ::open(folder_.c_str(), O_RDWR | O_TMPFILE | O_CLOEXEC, 0600);
    int err = fd < 0 ? errno : ::posix_fallocate(fd, 0, kLittle);
    if (fd >= 0) ::close(fd);
    struct statvfs room {};
    if (fd < 0 && !IsDiskFull(err) && ::statvfs(folder_.c_str(), &room) == 0 &&
        room.f_bavail * room.f_frsize < uint64_t(kLittle))
        err = ENOSPC;  // a file system without unnamed files
    if (IsDiskFull(err)) Fail(err);
    const Error e = AccessError("the file was not written whole.");
    throw Error(e.Number(), Explain(e.what()));
}

void SafeFile::Write(const char* data, size_t size) {
    if (done_) throw AccessError();
    if (file_ < 0) {
        file_ = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode_t(mode_));
        if (file_ < 0) Fail(errno);
    }
    while (size > 0) {
        const ssize_t n = ::write(file_, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) Fail(n == 0 ? ENOSPC : errno);
        data += n;
        size -= size_t(n);
    }
}

bool SafeFile::Commit(const Mover& move) {
    if (done_) throw AccessError();
    // On the disk before it takes the old file's place, so a crash leaves one or the other.
    const int fd = file_ >= 0 ? file_ : ::open(temp_.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    file_ = -1;
    if (fd < 0) Fail(errno);
    const bool synced = ::fdatasync(fd) == 0;
    const int err = errno;
    ::close(fd);
    if (!synced) Fail(err);

    if (check_ && !check_(target_)) {
        Discard();
        return false;
    }
    // The name checked must still lead to the folder the file was made in.
    if (!SameFolder(parent_, FolderOf(target_)))
        throw Error(kAccessError, Explain("Path/File access error: the folder of '" + target_ +
                                          "' was moved or replaced while the file was written."));
    const std::string made = std::filesystem::path(folder_).filename().string() + "/" +
                             std::filesystem::path(temp_).filename().string();
    // A file replaced keeps its permissions (a private file stays private); a
    // link is replaced by a file of the usual ones.
    struct stat old {};
    bool taken = false;
    try {
        taken = Taken(&old);
    } catch (const Error& e) {
        throw Error(e.Number(), Explain(e.what()));
    }
    if (taken && S_ISREG(old.st_mode) && ::fchmodat(parent_, made.c_str(), old.st_mode & 07777, 0) != 0) Fail(errno);
    try {
        if (move) move(temp_, target_);
        else Replace(temp_, target_);
    } catch (const Error& e) {
        throw Error(e.Number(), Explain(e.what()));
    }
    Discard();  // the folder, with what a database left beside its file
    return true;
}

}  // namespace file
