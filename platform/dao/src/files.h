// The files of a database as the system sees them (files.cpp), for the parts
// that open, finish, link and replace one. Each function's comment is at its
// body.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

namespace dao::detail {

bool FileExists(const std::string& p);
std::string ParentDir(const std::string& p);
bool IsDir(const std::string& p);
bool HasDatabaseHeader(const std::string& p, bool* empty);
std::string FileUri(const std::string& path);
std::string ReadOnlyUri(const std::string& path);

// The holders' locks: a descriptor to give back to ReleaseLock, -1 without one.
int TakeLock(const std::string& lockPath, bool exclusive, bool* denied, bool sideFile = true);
int TakeFileLock(const std::string& path, bool exclusive, bool* denied);
std::string LockPathOf(const std::string& path);
void ReleaseLock(int fd, const std::string& lockPath);

bool LogHoldsData(const std::string& path);
// Whether a log or its index lies beside the file.
bool LogBeside(const std::string& file);

// A file and its log as they are on disk: an equal stamp taken later finds
// them unchanged.
struct FileStamp {
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    int64_t mtime = 0;
    off_t logSize = -1;  // -1: no log beside it
    int64_t logMtime = 0;
    bool operator==(const FileStamp&) const = default;
};
bool StampOf(const std::string& path, FileStamp* out);

}  // namespace dao::detail
