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

}  // namespace MFileUtils
