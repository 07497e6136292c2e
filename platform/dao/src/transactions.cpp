// Transactions, and the savepoints a transaction begun inside another is.
#include <algorithm>

#include "engine.h"

namespace dao::detail {

void Core::Begin() {
    CheckOpen();
    if (transDepth == 0) {
        // Every transaction here writes: it waits for another program's write
        // to end (as long as the busy timeout allows) and takes the file as it
        // is now, instead of failing at its first write. That also starts a
        // read of every attached file, which an ODBC link's copy, made by a
        // connection of its own when the link is first used, could then not
        // be written past: until those are made, the transaction starts as it reads.
        const bool copying =
            std::any_of(links.begin(), links.end(), [](const Link& l) { return l.pending != nullptr; });
        const char* begin = readOnly || copying ? "BEGIN" : "BEGIN IMMEDIATE";
        int rc = sqlite3_exec(db, begin, nullptr, nullptr, nullptr);
        if (rc != SQLITE_OK && LetReadsGo(rc)) rc = sqlite3_exec(db, begin, nullptr, nullptr, nullptr);
        if (rc != SQLITE_OK) RaiseSqlite(db, rc, begin);
    } else {
        Exec("SAVEPOINT dao_trans" + std::to_string(transDepth));
    }
    ++transDepth;
}

void Core::Commit() {
    CheckOpen();
    if (transDepth == 0) Raise(3034);
    --transDepth;
    try {
        if (transDepth == 0) Exec("COMMIT");
        else Exec("RELEASE dao_trans" + std::to_string(transDepth));
    } catch (...) {
        // A commit the disk had no room for is still the caller's to roll
        // back, whether the engine has already undone it or not.
        ++transDepth;
        throw;
    }
}

void Core::Rollback() {
    CheckOpen();
    if (transDepth == 0) Raise(3034);
    SuspendStreams();
    --transDepth;
    // A full disk or a lack of memory ends the whole transaction in the engine:
    // it is undone already, and the error that ended it is the one to tell.
    if (sqlite3_get_autocommit(db)) transDepth = 0;
    else if (transDepth == 0) Exec("ROLLBACK");
    else Exec("ROLLBACK TO dao_trans" + std::to_string(transDepth) + "; RELEASE dao_trans" + std::to_string(transDepth));
    Changed(true);
    tableDefs.loadedGen = ~uint64_t(0);
    LoadLinks();
}

}  // namespace dao::detail
