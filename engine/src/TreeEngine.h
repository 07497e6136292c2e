// State and members of one TRXTree object, apart from the COM plumbing: field
// definitions, the row store, build orchestration and the export of the tree.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "Budget.h"
#include "Grower.h"
#include "Pruner.h"
#include "TreeNode.h"
#include "com/com.h"
#include "trx/ITRXTree.h"

namespace trx {

// Outcome of a member: hr, and for E_FAIL the error id whose text is reported.
struct Status {
    HRESULT hr = S_OK;
    int errorId = 0;
    static Status Ok() { return {}; }
    static Status Error(int id) { return {E_FAIL, id}; }
    static Status Code(HRESULT h) { return {h, 0}; }
};

// The error text of an id, "Unknown Error" for an id without one.
const char* ErrorText(int id);

class TreeEngine {
public:
    TreeEngine() = default;
    ~TreeEngine();
    TreeEngine(const TreeEngine&) = delete;
    TreeEngine& operator=(const TreeEngine&) = delete;

    Status Initialize(int16_t fieldCount);
    Status AddData(SAFEARRAY* array);
    // sink may be null. On success the out arrays are replaced. E_OUTOFMEMORY when the
    // build does not fit its memory budget; E_INVALIDARG when TESSARY_ENGINE_MEMORY_MB
    // is set to something that is not a size in megabytes.
    Status BuildTree(SAFEARRAY** nodeTree, SAFEARRAY** childIndex, ProgressSink* sink);

    Status GetFieldType(int16_t field, int16_t* kind) const;
    Status PutFieldType(int16_t field, int16_t kind);
    float PruneRate() const { return pruneRate_; }
    Status PutPruneRate(float rate);
    int16_t FieldCount() const { return fieldCount_; }
    int32_t RowCount() const { return rowCount_; }
    Status GetMaxClass(int16_t field, int16_t* count) const;
    Status PutMaxClass(int16_t field, int16_t count);
    int32_t MinItems() const { return minItems_; }
    Status PutMinItems(int32_t value);

    // The Progress events' Cancel argument points here.
    int16_t* CancelFlag() { return &cancel_; }

private:
    bool InRange(int16_t field) const { return field >= 0 && field < fieldCount_; }
    void RebuildAttributeKinds();
    static float ConfidenceFor(float rate);
    Status CheckRows(const float* data, int64_t rows) const;
    Status MakeRoom(int64_t rows);
    void StoreRows(const float* data, int64_t rows);
    Status GrowTree(ProgressSink* sink, bool& cancelled);
    Status PruneAtRate();
    Status Export(const TreeNode& tree, SAFEARRAY** nodeTree, SAFEARRAY** childIndex) const;

    // First, so that it outlives every charge the members below hold against it.
    Budget budget_;
    int16_t fieldCount_ = 0;
    std::vector<int16_t> fieldKind_;
    int16_t classPos_ = 0;
    std::vector<uint8_t> attrKind_;
    float pruneRate_ = 75.0f;
    float lastPrunedRate_ = 0.0f;
    int32_t minItems_ = 2;
    float cf_ = 0.25f;
    int32_t rowCount_ = 0;
    int32_t capacity_ = 0;
    std::vector<std::vector<uint32_t>> slots_;  // one column per field position
    int16_t lastAttr_ = 0;
    int16_t maxClass_ = 0;
    std::vector<int16_t> valueCount_;   // per field position (the class position's entry unused)
    std::vector<int16_t> highestCode_;  // highest discrete code stored per field position
    int16_t highestClass_ = -1;         // highest class code stored
    int16_t largestValueCount_ = 0;
    bool initialized_ = false;
    bool needsRebuild_ = false;
    int16_t cancel_ = 0;
    bool building_ = false;
    std::unique_ptr<Pruner> pruner_;  // for the grown tree
    std::unique_ptr<TreeNode> grown_;
    std::unique_ptr<TreeNode> pruned_;
    Held grownHeld_, prunedHeld_;  // what the two trees take
    uint64_t growth_ = 0;        // growths so far
    uint64_t prunedGrowth_ = 0;  // the growth the pruned tree was made from
    int32_t largestBranch_ = 0;
};

}  // namespace trx
