// What can go wrong when a file the person named is written, each case with
// one number and one text wherever it happens: a full disk reads the same from
// the database layer, the program's own writers and the cache folder.
#pragma once

#include <stdexcept>
#include <string>

namespace file {

constexpr long kBadFileName = 52;   // an empty name, or one holding a NUL
constexpr long kAccessError = 75;   // a folder of the name, a folder that moved, a refusal of the system
constexpr long kPathNotFound = 76;  // the folder the name is in is not there
constexpr long kDiskFull = 3035;    // no room on the device, within the quota, or for a file that large

class Error : public std::runtime_error {
public:
    Error(long number, const std::string& description) : std::runtime_error(description), number_(number) {}
    long Number() const { return number_; }

private:
    long number_;
};

// The one test of a full disk on a system error number: no room (ENOSPC), the
// user's quota (EDQUOT), or a file larger than the system lets it grow (EFBIG).
bool IsDiskFull(int err);

// "System resource exceeded (disk full): no space left on the device", and
// " for " what when given (a quoted file name, the copy of a source).
std::string DiskFullText(const std::string& what = {});

// The error of each case, to be thrown.
Error DiskFull(const std::string& what = {});
// "Path/File access error", with what went wrong after a colon when given.
Error AccessError(const std::string& why = {});
// The name is a folder: no file can take its place.
Error FolderError(const std::string& path);
// What a file of mode is when a writer must not replace it ("a folder", "a
// named pipe", "a device", "a socket"); null for a regular file or a link,
// which a new file replaces.
const char* NotAFile(unsigned mode);
// The name is what NotAFile told (what), not a file: "'path' is what, not a file."
Error NotAFileError(const std::string& path, const char* what);
// A system call's failure on path, by its error number.
Error ErrnoError(int err, const std::string& path);

// A writer's error as the person reads it: the file they chose named once
// (path) and what became of it told, " is left as it was." when it existed
// and " was not made." when it did not; as it is when that is told already.
std::string Outcome(const std::string& description, const std::string& path, bool existed);

// Throws NotAFileError when path is a folder, a named pipe, a device or a
// socket itself (not a link to one, which is replaced like any link).
void RefuseNotAFile(const std::string& path);

}  // namespace file
