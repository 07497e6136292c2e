#include "MFileUtils.h"

#include "AppErrors.h"
#include "ErrorGuard.h"

#include <sys/stat.h>

#include <filesystem>

namespace MFileUtils {

bool FileExists(const std::string& path) {
    struct stat st;
    return !path.empty() && ::stat(path.c_str(), &st) == 0;
}

void GetDirExt(const std::string& path, long& nameStart, long& extPos, long& rootEnd) {
    try {
        if (path.find('\0') != std::string::npos) app::RaiseError(52);
        const long len = long(path.size());
        rootEnd = (len > 0 && path[0] == '/') ? 1 : 0;
        extPos = len + 1;
        nameStart = rootEnd + 1;
        bool extFound = false;
        for (long pos = len; pos > rootEnd; --pos) {
            const char c = path[size_t(pos - 1)];
            if (c == '/') {
                nameStart = pos + 1;
                break;
            }
            if (c == '.' && !extFound) {
                extPos = pos;
                extFound = true;
            }
        }
    } catch (...) {
        // Shown here, and the caller stops too.
        base::ShowCaught("Utilities::GetDirExt");
        throw;
    }
}

std::string GetFullPath(const std::string& path, long& nameStart, long& extPos, long& rootEnd) {
    if (path.empty()) return {};
    std::string full;
    try {
        if (path.find('\0') != std::string::npos) app::RaiseError(52);
        std::error_code ec;
        const std::filesystem::path abs = std::filesystem::absolute(path, ec);
        if (ec) throw app::RuntimeError(75, ec.message());
        full = abs.lexically_normal().string();
        // "dir/" normalises to "dir/" : the name part is then empty, as for "C:\dir\".
    } catch (...) {
        // Shown here, and the caller stops too.
        base::ShowCaught("Utilities::GetFullPath");
        throw;
    }
    GetDirExt(full, nameStart, extPos, rootEnd);
    return full;
}

std::string GetFileBase(const std::string& path) {
    long n = 0, e = 0, r = 0;
    const std::string full = GetFullPath(path, n, e, r);
    if (full.empty()) return {};
    return full.substr(size_t(n - 1), size_t(e - n));
}

std::string GetFileName(const std::string& path) {
    long n = 0, e = 0, r = 0;
    const std::string full = GetFullPath(path, n, e, r);
    if (full.empty()) return {};
    return full.substr(size_t(n - 1));
}

std::string GetFileDir(const std::string& path) {
    long n = 0, e = 0, r = 0;
    const std::string full = GetFullPath(path, n, e, r);
    if (full.empty()) return {};
    return full.substr(0, size_t(n - 1));
}

std::string FullPathOf(const std::string& path) {
    long n = 0, e = 0, r = 0;
    return GetFullPath(path, n, e, r);
}

namespace {

// ".", ".." and links resolved as far as the path exists.
std::string Resolved(const std::string& path) {
    std::error_code ec;
    const std::filesystem::path abs = std::filesystem::absolute(path, ec);
    if (ec) return path;
    const std::filesystem::path resolved = std::filesystem::weakly_canonical(abs, ec);
    return ec ? abs.lexically_normal().string() : resolved.string();
}

}  // namespace

bool IsFileOrSideFile(const std::string& path, const std::string& file) {
    if (path.empty() || file.empty()) return false;
    struct stat target {};
    const bool targetExists = ::stat(path.c_str(), &target) == 0;
    const std::string resolved = Resolved(path);
    for (const char* suffix : {"", "-wal", "-shm", "-journal", ".lck"}) {
        const std::string candidate = file + suffix;
        struct stat st {};
        if (targetExists && ::stat(candidate.c_str(), &st) == 0) {
            if (st.st_dev == target.st_dev && st.st_ino == target.st_ino) return true;
        } else if (resolved == Resolved(candidate)) {
            return true;
        }
    }
    return false;
}

std::string GetLongFileName(const std::string& path) {
    if (path.empty()) return {};
    try {
        long n = 0, e = 0, r = 0;
        std::string full = GetFullPath(path, n, e, r);
        // POSIX names have no short form: the long name of every element is the
        // element itself. Only the trailing separator goes.
        while (full.size() > 1 && full.back() == '/') full.pop_back();
        return full;
    } catch (...) {
        // Shown here, and the caller stops too.
        base::ShowCaught("Utilities::GetLongFileName");
        throw;
    }
}

}  // namespace MFileUtils
