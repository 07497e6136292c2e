// A file the person names, written whole or not at all. It is made in a
// private folder beside the target (the same file system, so that the last
// step is one rename), flushed to the disk and checked, and only then takes
// the target's name: until then a file of that name is as it was, and after a
// crash there is the old file or the new one, never a part of either.
//
// The name is what is written. A symbolic link of that name is replaced by the
// new file, and what it points to (perhaps another program's file) is left as
// it was. A folder, a named pipe, a device or a socket of that name is
// refused, saying what it is, and so is a file the person may not write (the
// rename would need only the folder's permission). The folders above the name
// may be reached through links.
//
// The caller's check of the name is asked again just before the rename, so a
// name that has come to mean a file that must not be written is refused then too.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <functional>
#include <initializer_list>
#include <string>

namespace file {

class SafeFile {
public:
    // The longest name a folder entry takes (NAME_MAX of the usual file systems).
    static constexpr size_t kLongestName = 255;

    // True when the target may be written; false refuses, after it has said why.
    using Check = std::function<bool(const std::string& target)>;
    // Gives the finished file at temp the target's name (Replace by default).
    using Mover = std::function<void(const std::string& temp, const std::string& target)>;

    // Makes the private folder, after removing what writers of this program
    // that were killed left beside the target. Raises kPathNotFound when the
    // target's folder is not there, kAccessError for a name that must not be
    // replaced (see above), kDiskFull or kAccessError when nothing can be made
    // there. mode: the permissions of a file Write makes (less the umask); a
    // file replaced keeps its own.
    explicit SafeFile(const std::string& target, Check check = nullptr, unsigned mode = 0666);
    // What was not put in place is removed.
    ~SafeFile();
    SafeFile(const SafeFile&) = delete;
    SafeFile& operator=(const SafeFile&) = delete;

    // Appends to the file; raises kDiskFull when the disk, the quota or the
    // size limit is reached, kAccessError else. Errors name the target.
    void Write(const char* data, size_t size);
    // Where the file is made, for writers that make it themselves by name (a
    // database, a printer, a child process); Write makes it otherwise.
    const std::string& TempPath() const { return temp_; }
    // Flushes the file to the disk, asks the check again and looks at the name
    // again as the constructor did, then gives the file the target's name, a
    // file replaced keeping its permissions. False when the check refused,
    // and nothing is changed.
    bool Commit(const Mover& move = nullptr);
    // An error's text as the person reads it: the chosen file named in place
    // of the private one, and what became of it told.
    std::string Explain(const std::string& description) const;
    // For a file a writer made at TempPath that proves not to be whole:
    // raises kDiskFull when the disk has no room left, kAccessError otherwise.
    [[noreturn]] void Unfinished() const;

    // Gives from the name to by one rename (from in to's folder or below it).
    // The files named to + each of companions (what another program keeps
    // beside to, such as a journal that is part of it) are moved aside first
    // and back when the rename fails, so that a failure loses nothing of the
    // old file and no old journal is ever read as the new file's; they are
    // removed once from has the name. A to that is not a file (RefuseNotAFile)
    // is refused.
    static void Replace(const std::string& from, const std::string& to,
                        std::initializer_list<const char*> companions = {});

    // What writers of this program that were killed left in a folder: private
    // folders of this class that no live writer holds locked, and the import's
    // temporaries of older versions of processes that are gone, older than this
    // process; each by its exact names.
    static void RemoveLeftovers(const std::string& folder);

    // Whether path still names the file known was read from: the same device
    // and inode, so a name checked once is the file used later.
    static bool SameFile(const struct stat& known, const std::string& path);

private:
    void Discard();
    // Whether something has the target's name (its status in old). Raises when
    // it must not be replaced: a folder, a named pipe, a device or a socket,
    // or a file the person may not write.
    bool Taken(struct stat* old) const;
    [[noreturn]] void Fail(int err) const;

    std::string target_;
    std::string name_;    // the target's own name
    std::string folder_;  // the private folder, ".<name>.XXXXXX" (the name perhaps cut short)
    std::string temp_;
    Check check_;
    int parent_ = -1;  // the target's folder, as it was when the file was begun
    int lock_ = -1;    // the private folder, locked while it is in use
    int file_ = -1;
    unsigned mode_;
    bool existed_ = false;
    bool done_ = false;
};

}  // namespace file
