// Access files (Jet 3, Jet 4, ACE) are read through a mirror: an SQLite copy of
// the whole file in the user's cache folder, rebuilt when the source's size or
// modification time changes. Every query the layer runs then works on the
// mirror unchanged, with SQLite's indexes and speed; the source itself is only
// ever read.
//
// The reader runs in a child process: a damaged file can make the Access
// reader crash or loop, and neither may take the program with it.
#pragma once

#include <string>

struct sqlite3;

namespace dao::detail {

class AccessMirror {
public:
    // True when the file starts with an Access signature ("Standard Jet DB" /
    // "Standard ACE DB").
    static bool IsAccessFile(const std::string& path);

    // The path of an up-to-date mirror of the Access file, built if needed.
    // Raises 3343 (unrecognized format) for a file the reader cannot read,
    // file::kDiskFull when the mirror's disk is full and 3051 when no mirror
    // can be written otherwise; each names the source.
    static std::string Path(const std::string& source);

    // The folder mirrors are kept in: $TESSARY_CACHE, else
    // $XDG_CACHE_HOME/tessary, else ~/.cache/tessary.
    static std::string Folder();

    // The folder, made if need be; raises as RaiseCacheFailure when it cannot be.
    static std::string ReadyFolder(const std::string& source);
    // What is said when no copy of source (named as the person chose it) can
    // be written in the cache folder: file::kDiskFull when its disk is full,
    // else 3051, for the argument given, with what to do said after the description.
    static std::string CacheFailureArg(const std::string& source, bool diskFull);
    static std::string CacheAdvice(bool diskFull);
    [[noreturn]] static void RaiseCacheFailure(const std::string& source, bool diskFull);
    // Whether the last failure of a copy being written was for want of room.
    static bool OutOfRoom(sqlite3* db);

    // Builds a mirror of source at target in this process (the child's work).
    // Returns 0 on success, else the numbered error to raise.
    static long Build(const std::string& source, const std::string& target);
};

}  // namespace dao::detail
