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

Error FolderError(const std::string& path) { return AccessError("'" + path + "' is a folder, not a file."); }

Error ErrnoError(int err, const std::string& path) {
    if (IsDiskFull(err)) return DiskFull("'" + path + "'");
    if (err == EISDIR) return FolderError(path);
    if (err == ENOENT || err == ENOTDIR) return Error(kPathNotFound, "Path not found");
    return AccessError("'" + path + "': " + std::strerror(err) + ".");
}

void RefuseFolder(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) throw FolderError(path);
}

}  // namespace file
