// A file the user names, written as file::SafeFile writes every file: aside,
// checked, then given the name; a link of that name is replaced and never
// written through, a folder of that name refused.
#pragma once

#include "file/SafeFile.h"

class CSafeFile : public file::SafeFile {
public:
    using file::SafeFile::SafeFile;

    // Commit for a database made at TempPath and closed complete in its one
    // file (dao::Database::Finish): the database layer gives it the name under
    // the target's lock (3045 while the target is open; 3049 when a log or
    // journal beside the new file still holds part of it), the old file's log
    // and journal going with the old file.
    bool CommitDatabase();
};
