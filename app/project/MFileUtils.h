// File-name functions on POSIX paths ('/' separates, '/' is the root).
// Positions are counted from 1, as the callers count characters.
#pragma once

#include <string>

namespace MFileUtils {

// The path names something that exists (file or folder).
bool FileExists(const std::string& path);
// Absolute, normalised, without a trailing '/'; "" for "".
std::string GetLongFileName(const std::string& path);
// NameStart: first character of the last element; ExtPos: its last '.' (Len + 1
// when none); RootEnd: end of the root ('/' is 1, a relative path 0).
// A path with a NUL character raises app::RuntimeError 52 after the error box.
void GetDirExt(const std::string& path, long& nameStart, long& extPos, long& rootEnd);
// The absolute form of path, with GetDirExt on it; "" for "".
std::string GetFullPath(const std::string& path, long& nameStart, long& extPos, long& rootEnd);
std::string GetFileBase(const std::string& path);  // name without folder and extension
std::string GetFileName(const std::string& path);  // name with extension
std::string GetFileDir(const std::string& path);   // folder with its trailing '/'
std::string FullPathOf(const std::string& path);
// True when path names the database file or one of the files the database
// keeps beside it (its -wal, -shm and -journal, and the .lck lock), by any
// spelling: the same file where both exist (through a link, a hard link), the
// same path with ".", ".." and links resolved where either does not.
bool IsFileOrSideFile(const std::string& path, const std::string& file);

}  // namespace MFileUtils
