#include "CSafeFile.h"

#include "AppErrors.h"

#include "dao/dao.h"

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <vector>

namespace {

[[noreturn]] void AccessError() { throw app::RuntimeError(75, "Path/File access error"); }

constexpr const char* kDiskFull = "Disk full: no space left on the device.";

bool IsDiskFull(int err) { return err == ENOSPC || err == EFBIG || err == EDQUOT; }

bool SameFolder(int fd, const std::string& path) {
    struct stat a {}, b {};
    return ::fstat(fd, &a) == 0 && ::stat(path.c_str(), &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// What a database leaves beside its file; a log or journal holds part of it.
const char* const kCompanions[] = {"-wal", "-journal", "-shm", ".lck"};

// When this process began: anything of ours newer than that may be a live writer's.
const std::chrono::system_clock::time_point kStarted = std::chrono::system_clock::now();

bool OlderThanProcess(const struct stat& st) {
    const auto changed = std::chrono::system_clock::from_time_t(st.st_mtim.tv_sec);
    return changed + std::chrono::seconds(1) < kStarted;
}

bool IsOwnRegularFile(int dir, const std::string& name, bool* old) {
    struct stat st {};
    if (::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode) ||
        st.st_uid != ::geteuid())
        return false;
    *old = *old && OlderThanProcess(st);
    return true;
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
// the file and what a database leaves beside it, nothing newer than this
// process, not locked.
void RemovePrivateFolder(int parent, const std::string& entry, const std::string& name) {
    const int dir = ::openat(parent, entry.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dir < 0) return;
    std::vector<std::string> inside;
    bool ours = false, old = true;
    struct stat st {};
    if (::fstat(dir, &st) == 0 && st.st_uid == ::geteuid() && (st.st_mode & 07777) == 0700 && OlderThanProcess(st) &&
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
            ours = known && IsOwnRegularFile(dir, file, &old);
            inside.push_back(file);
        }
        if (d) ::closedir(d);
    }
    if (ours && old) {
        for (const std::string& file : inside) ::unlinkat(dir, file.c_str(), 0);
        ::unlinkat(parent, entry.c_str(), AT_REMOVEDIR);
    }
    ::close(dir);
}

// ".<name>.importing-<pid>-<n>" and what a database leaves beside it, of a process that is gone.
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
    bool old = true;
    if (IsOwnRegularFile(parent, entry, &old) && old) ::unlinkat(parent, entry.c_str(), 0);
}

}  // namespace

void CSafeFile::RemoveLeftovers(const std::string& folder) {
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

CSafeFile::CSafeFile(const std::string& target, Check check) : mCheck(std::move(check)) {
    if (target.empty() || target.find('\0') != std::string::npos) app::RaiseError(52);
    std::error_code ec;
    const std::filesystem::path full = std::filesystem::absolute(target, ec).lexically_normal();
    if (ec || !full.has_filename()) AccessError();
    mTarget = full.string();
    mName = full.filename().string();
    const std::string parent = full.parent_path().string();
    mParent = ::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (mParent < 0) {
        if (errno == ENOENT || errno == ENOTDIR) throw app::RuntimeError(76, "Path not found");
        AccessError();
    }
    struct stat old {};
    mExisted = ::fstatat(mParent, mName.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0;
    RemoveLeftovers(parent);
    std::string pattern = (parent == "/" ? "" : parent) + "/." + mName + ".XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!::mkdtemp(buffer.data())) {
        ::close(mParent);
        AccessError();
    }
    mFolder = buffer.data();
    mTemp = mFolder + "/" + mName;
    // Held while this object lives: the folder is no leftover to another process.
    mLock = ::open(mFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (mLock >= 0) ::flock(mLock, LOCK_EX | LOCK_NB);
}

CSafeFile::~CSafeFile() {
    if (!mDone) Discard();
    if (mLock >= 0) ::close(mLock);
    if (mParent >= 0) ::close(mParent);
}

void CSafeFile::Discard() {
    if (mFile >= 0) ::close(mFile);
    mFile = -1;
    // The folder is the program's own: nothing in it is followed.
    std::error_code ec;
    std::filesystem::remove_all(mFolder, ec);
    mDone = true;
}

std::string CSafeFile::Explain(const std::string& description) const {
    const std::string named = "'" + mTarget + "'";
    const std::string state = mExisted ? " is left as it was." : " was not made.";
    if (description.size() >= state.size() &&
        description.compare(description.size() - state.size(), state.size(), state) == 0)
        return description;  // told already
    std::string text = description;
    for (size_t at = 0; !mTemp.empty() && (at = text.find(mTemp, at)) != std::string::npos; at += mTarget.size())
        text.replace(at, mTemp.size(), mTarget);
    // Named once: "It" when the description names it already.
    return text + (text.find(named) == std::string::npos ? " " + named : std::string(" It")) + state;
}

void CSafeFile::Fail(long number, const std::string& description) const {
    throw app::RuntimeError(number, Explain(description));
}

void CSafeFile::Unfinished() const {
    // A printer does not say why its write failed: a disk without room for a
    // little more is why the file stopped short.
    constexpr off_t kLittle = 64 << 10;
    const int fd = ::open(mFolder.c_str(), O_RDWR | O_TMPFILE | O_CLOEXEC, 0600);
    int err = fd < 0 ? errno : ::posix_fallocate(fd, 0, kLittle);
    if (fd >= 0) ::close(fd);
    struct statvfs room {};
    if (fd < 0 && !IsDiskFull(err) && ::statvfs(mFolder.c_str(), &room) == 0 &&
        room.f_bavail * room.f_frsize < uint64_t(kLittle))
        err = ENOSPC;  // a file system without unnamed files
    if (IsDiskFull(err)) Fail(61, kDiskFull);
    Fail(75, "Path/File access error: the file was not written whole.");
}

void CSafeFile::Write(const char* data, size_t size) {
    if (mFile < 0) {
        mFile = ::open(mTemp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (mFile < 0) AccessError();
    }
    while (size > 0) {
        const ssize_t n = ::write(mFile, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0 || IsDiskFull(errno)) Fail(61, kDiskFull);
            AccessError();
        }
        data += n;
        size -= size_t(n);
    }
}

bool CSafeFile::Commit() { return Commit(false); }

bool CSafeFile::CommitDatabase() { return Commit(true); }

bool CSafeFile::Commit(bool database) {
    if (mDone) AccessError();
    // On the disk before it takes the old file's place, so a crash leaves one or the other.
    const int fd = mFile >= 0 ? mFile : ::open(mTemp.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    mFile = -1;
    if (fd < 0) AccessError();
    const bool synced = ::fdatasync(fd) == 0;
    const int err = errno;
    ::close(fd);
    if (!synced) {
        if (IsDiskFull(err)) Fail(61, kDiskFull);
        AccessError();
    }

    if (mCheck && !mCheck(mTarget)) {
        Discard();
        return false;
    }
    // The name checked must still lead to the folder the file was made in.
    const std::string parent = std::filesystem::path(mTarget).parent_path().string();
    if (!SameFolder(mParent, parent)) AccessError();
    const std::string inside = std::filesystem::path(mFolder).filename().string();
    const std::string made = inside + "/" + mName;
    // A file replaced keeps its permissions; a link is replaced by a file of the usual ones.
    struct stat old {};
    if (::fstatat(mParent, mName.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(old.st_mode))
        ::fchmodat(mParent, made.c_str(), old.st_mode & 07777, 0);
    if (database) dao::DBEngine::ReplaceDatabase(mTemp, mTarget);
    else if (::renameat(mParent, made.c_str(), mParent, mName.c_str()) != 0) AccessError();
    Discard();  // the folder, with what a database left beside its file
    return true;
}
