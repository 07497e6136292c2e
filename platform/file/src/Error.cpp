#include "file/Error.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

namespace file {

bool IsDiskFull(int err) { return err == ENOSPC || err == EDQUOT || err == EFBIG; }

std::string DiskFullText(const std::string& what) {
    return "System resource exceeded (disk full): no space left on the device" + (what.empty() ? "" : " for " + what) +
           ".";
}

Error DiskFull(const std::string& what) { return Error(kDiskFull, DiskFullText(what)); }

Error AccessError(const std::string& why) {
    return Error(kAccessError, "Path/File access error" + (why.empty() ? "" : ": " + why));
}

Error FolderError(const std::string& path) { return NotAFileError(path, "a folder"); }

const char* NotAFile(unsigned mode) {
    if (S_ISDIR(mode)) return "a folder";
    if (S_ISFIFO(mode)) return "a named pipe";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
    if (S_ISSOCK(mode)) return "a socket";
    return nullptr;
}

Error NotAFileError(const std::string& path, const char* what) {
    return AccessError("'" + path + "' is " + what + ", not a file.");
}

Error ErrnoError(int err, const std::string& path) {
    if (IsDiskFull(err)) return DiskFull("'" + path + "'");
    if (err == EISDIR) return FolderError(path);
    if (err == ENOENT || err == ENOTDIR) return Error(kPathNotFound, "Path not found");
    return AccessError("'" + path + "': " + std::strerror(err) + ".");
}

std::string Outcome(const std::string& description, const std::string& path, bool existed) {
    const std::string named = "'" + path + "'";
    const std::string state = existed ? " is left as it was." : " was not made.";
    if (description.size() >= state.size() &&
        description.compare(description.size() - state.size(), state.size(), state) == 0)
        return description;
    // Named once: "It" when the description names it already.
    return description + (description.find(named) == std::string::npos ? " " + named : std::string(" It")) + state;
}

void RefuseNotAFile(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return;
    if (const char* what = NotAFile(st.st_mode)) throw NotAFileError(path, what);
}

}  // namespace file
