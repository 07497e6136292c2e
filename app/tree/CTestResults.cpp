#include "CTestResults.h"

#include <cmath>

#include "CSplitRule.h"
#include "CTreeError.h"

namespace {

// Whether a numeric key survives its way through a double into the SQL that finds its row.
bool ExactKey(const VARIANT& k) {
    constexpr double kExact = 9007199254740992.0;  // 2^53
    if (k.vt == VT_I8) return k.llVal >= -int64_t(kExact) && k.llVal <= int64_t(kExact);
    if (k.vt == VT_UI8) return k.ullVal <= uint64_t(kExact);
    if (k.vt == VT_R8) return !(std::fabs(k.dblVal) > kExact);
    return true;
}

// Why the results of some classified rows were not stored; counts never negative.
std::string UnmatchedRowsText(long keys, long matched, bool indexInOrder) {
    std::string text = matched < keys ? std::to_string(keys - matched) + " of " + std::to_string(keys) +
                                            " classified rows were not found in table Test by their key"
                                      : std::to_string(keys) + " classified rows matched " + std::to_string(matched) +
                                            " rows of table Test by their key";
    text += "; their results are not stored.";
    if (!indexInOrder)
        text += " The index of table Test is out of order, as an earlier version may have left it: close the project "
                "and open it again, which rebuilds it.";
    else if (matched > keys)
        text += " Table Test holds rows whose keys Tessary takes for one: make the project again from its table.";
    return text;
}

}  // namespace

CTestResults::CTestResults(DatabasePtr db, std::string keyName, bool textKey)
    : mDb(std::move(db)), mKey(std::move(keyName)), mTextKey(textKey) {}

void CTestResults::Begin() { mStep.emplace(*mDb); }

void CTestResults::Add(int16_t predicted, int16_t actual, const VARIANT& key) {
    // A refused key leaves its group as it was: the rows before it still go out.
    const std::string literal = Literal(key);
    Pending& group = mPending[{predicted, actual}];
    if (!group.keys.empty()) group.keys += ',';
    group.keys += literal;
    ++group.count;
}

void CTestResults::Commit() {
    Flush();
    if (mStep) mStep->Commit();
    mStep.reset();
}

std::string CTestResults::Literal(const VARIANT& k) {
    if (!mTextKey) {
        if (!ExactKey(k))
            throw CTreeError(6, "The key field " + mKey + " holds the value " + dao::VarToString(k) +
                                    ", beyond what Tessary can match exactly (keys from -9007199254740992 to "
                                    "9007199254740992).");
        return CSplitRule::Number(dao::VarToDouble(k));
    }
    std::string text = dao::VarToString(k);
    if (!mNoKeyYet && dao::CompareText(mPreviousKey, text) == 0)
        throw CTreeError(3022, MdbUtils::EqualKeysText(mKey, mPreviousKey, text));
    mNoKeyYet = false;
    std::string quoted = MdbUtils::SqlText(text);
    mPreviousKey = std::move(text);
    return quoted;
}

void CTestResults::Flush() {
    // Each group leaves the list before it runs: after a failure the others still go out.
    while (!mPending.empty()) {
        const auto node = mPending.extract(mPending.begin());
        const auto& classes = node.key();
        const Pending& group = node.mapped();
        // Each key names one row of Test. One that finds none would leave its row
        // unclassified unseen; one that finds more would classify rows it is not.
        dao::Transaction update(*mDb);
        mDb->Execute("UPDATE Test SET Predicted = " + std::to_string(classes.first) +
                     ", Actual = " + std::to_string(classes.second) + " WHERE MainPrimaryKey IN (" + group.keys + ");");
        const long matched = mDb->RecordsAffected();
        if (matched > group.count) update.Rollback();
        else update.Commit();
        if (matched != group.count)
            throw CTreeError(treeerr::kTestRowMissing, UnmatchedRowsText(group.count, matched, mDb->IndexesInOrder("Test")));
    }
}
