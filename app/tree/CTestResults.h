// Results of classified rows on their way into table Test. They wait, grouped
// by (Predicted, Actual), until the next progress step, then go out as one
// UPDATE per pair over the key index, each checked to have matched exactly
// the rows it names. Results are committed at every step, so what progress
// has reported done survives a crash.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>

#include "MdbUtils.h"

class CTestResults {
public:
    // keyName is the linked table's key field; textKey when it holds text.
    CTestResults(DatabasePtr db, std::string keyName, bool textKey);

    // Opens the transaction of the next progress step. A step not committed
    // when this object goes (an error on the way) is undone.
    void Begin();
    // Adds a row's result under its key. Throws for a key that cannot name
    // its row exactly: a number beyond a double's exact range, or a text that
    // compares equal to the key before it.
    void Add(int16_t predicted, int16_t actual, const VARIANT& key);
    // Writes every waiting group and commits the step's transaction; throws
    // treeerr::kTestRowMissing when a group's keys did not match exactly its rows.
    void Commit();

private:
    struct Pending {
        std::string keys;
        long count = 0;
    };

    std::string Literal(const VARIANT& key);
    void Flush();

    DatabasePtr mDb;
    std::string mKey;
    bool mTextKey;
    std::map<std::pair<int16_t, int16_t>, Pending> mPending;
    // The rows come in the order of their keys, so keys that compare as one
    // stand side by side: such a pair could not be told apart in Test.
    std::string mPreviousKey;
    bool mNoKeyYet = true;
    std::optional<dao::Transaction> mStep;
};
