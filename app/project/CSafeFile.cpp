#include "CSafeFile.h"

#include "AppErrors.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <vector>

namespace {

[[noreturn]] void AccessError() { throw app::RuntimeError(75, "Path/File access error"); }

bool SameFolder(int fd, const std::string& path) {
    struct stat a {}, b {};
    return ::fstat(fd, &a) == 0 && ::stat(path.c_str(), &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace

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
    std::string pattern = (parent == "/" ? "" : parent) + "/." + mName + ".XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!::mkdtemp(buffer.data())) {
        ::close(mParent);
        AccessError();
    }
    mFolder = buffer.data();
    mTemp = mFolder + "/" + mName;
}

CSafeFile::~CSafeFile() {
    if (!mDone) Discard();
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

void CSafeFile::Write(const char* data, size_t size) {
    if (mFile < 0) {
        mFile = ::open(mTemp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (mFile < 0) AccessError();
    }
    while (size > 0) {
        const ssize_t n = ::write(mFile, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0 || errno == ENOSPC || errno == EFBIG || errno == EDQUOT) throw app::RuntimeError(61, "Disk full");
            AccessError();
        }
        data += n;
        size -= size_t(n);
    }
}

bool CSafeFile::Commit() {
    if (mDone) AccessError();
    // On the disk before it takes the old file's place, so a crash leaves one or the other.
    const int fd = mFile >= 0 ? mFile : ::open(mTemp.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    mFile = -1;
    if (fd < 0) AccessError();
    const bool synced = ::fdatasync(fd) == 0;
    ::close(fd);
    if (!synced) AccessError();

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
    if (::renameat(mParent, made.c_str(), mParent, mName.c_str()) != 0) AccessError();
    Discard();  // the folder, with what a database left beside its file
    return true;
}
