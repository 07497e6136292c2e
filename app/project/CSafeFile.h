// A file the user names, written whole or not at all and never through a link.
// The file is made in a private folder beside the target and renamed over the
// target only when complete: the rename replaces a link of the target's name,
// never the file it points to. The caller's check of the name is asked again
// just before that rename, so a name that has come to mean a file that must
// not be written since it was chosen is refused then too.
#pragma once

#include <functional>
#include <string>

class CSafeFile {
public:
    // True when the target may be written; false refuses, after it has said why.
    using Check = std::function<bool(const std::string& target)>;

    // Makes the private folder, after removing what writers of this program
    // killed before this process began left in the target's folder. Raises 76
    // when the target's folder does not exist, 75 when nothing can be made there.
    CSafeFile(const std::string& target, Check check);
    // What was not put in place is removed.
    ~CSafeFile();
    CSafeFile(const CSafeFile&) = delete;
    CSafeFile& operator=(const CSafeFile&) = delete;

    // Appends to the file; raises 61 when the disk or the size limit is
    // reached, 75 else. Errors raised once the file is begun name the target.
    void Write(const char* data, size_t size);
    // Where the file is made, for writers that make it themselves by name
    // (a database, a printer); Write makes it otherwise.
    const std::string& TempPath() const { return mTemp; }
    // Checks the target again, then puts the file in its place. False when the
    // check refused, and nothing is changed; raises 75 when the file cannot
    // take the target's place (a folder of that name, a folder moved away).
    bool Commit();
    // The same for a database made at TempPath and closed complete in its one
    // file (dao::Database::Finish): it replaces the target under the target's
    // lock (3045 while the target is open), with the old file's log and
    // journal, which would be read as the new one's, removed; 3049 when a log
    // or journal beside the new file still holds part of it.
    bool CommitDatabase();
    // An error's text as the person reads it: the file they chose named in
    // place of the private one, and the chosen file's state told.
    std::string Explain(const std::string& description) const;
    // For a file a writer made at TempPath that proves not to be whole:
    // raises 61 when the disk has no room left, 75 otherwise.
    [[noreturn]] void Unfinished() const;

    // What writers of this program that were killed left in a folder: private
    // folders of this class and the import's temporaries, by their exact
    // names, when older than this process and held by no live writer.
    static void RemoveLeftovers(const std::string& folder);

private:
    bool Commit(bool database);
    [[noreturn]] void Fail(long number, const std::string& description) const;
    void Discard();

    std::string mTarget;
    std::string mName;    // the target's own name
    std::string mFolder;  // the private folder
    std::string mTemp;
    Check mCheck;
    int mParent = -1;  // the target's folder, as it was when the file was begun
    int mLock = -1;    // the private folder, locked while it is in use
    int mFile = -1;
    bool mExisted = false;
    bool mDone = false;
};
