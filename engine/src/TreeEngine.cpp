#include "TreeEngine.h"

#include "BuildBudget.h"

#include <bit>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <optional>
#include <new>
#include <thread>

namespace trx {
namespace {

constexpr long kMaxNodes = 32000;

struct TextEntry {
    int id;
    const char* text;
};
// The module's string table.
constexpr TextEntry kTexts[] = {
    {3840, "Undefined Error"},
    {3842, "Initialize: (Bad Argument)\nFieldCound must be between 2 and 255"},
    {3843, "Initialize: (Second Initialize)\nObject cannot be initialized more than once."},
    {3844,
     "AddData: (Invalid Array)\nInput Array must be a 2 dimentional array of singles.  The first "
     "dimention must the size specified in Initialize()."},
    {3845, "Invalid Procedure Call\nObject must be initialized first."},
    {3846, "AddData: (Invalid Array)\nError accessing input array."},
    {3847, "BuildTree: Tree size exceeds 32000 nodes.  Try pruning."},
    {3848, "BuildTree: Object not initialized or input data not added."},
    {3849, "Output class cannot contain missing values."},
};

// A float that truncates toward zero into 0..32767, or -1.
int TruncatedCode(float v) {
    if (!std::isfinite(v)) return -1;
    double t = std::trunc(double(v));
    if (t < 0 || t > 32767) return -1;
    return int(t);
}

// Threads for a growth: the machine's, or TESSARY_ENGINE_THREADS when set (1..64).
int GrowthThreads() {
    if (const char* env = std::getenv("TESSARY_ENGINE_THREADS")) {
        char* end = nullptr;
        long n = std::strtol(env, &end, 10);
        if (end != env && *end == 0 && n >= 1) return int(std::min(n, 64L));
    }
    unsigned hw = std::thread::hardware_concurrency();
    return hw ? int(std::min(hw, 64u)) : 1;
}

class AccessGuard {
public:
    explicit AccessGuard(SAFEARRAY* a) : a_(a) {}
    ~AccessGuard() { SafeArrayUnaccessData(a_); }

private:
    SAFEARRAY* a_;
};

}  // namespace

const char* ErrorText(int id) {
    for (const TextEntry& e : kTexts)
        if (e.id == id) return e.text;
    return "Unknown Error";
}

TreeEngine::~TreeEngine() = default;

float TreeEngine::ConfidenceFor(float rate) {
    return float(std::pow(-std::log10(0.1 + 0.00899 * double(rate)), 2.5));
}

Status TreeEngine::Initialize(int16_t fieldCount) {
    if (fieldCount < 2 || fieldCount > 255) return Status::Error(TRXERR_INIT_BAD_ARGUMENT);
    if (fieldCount_ != 0) return Status::Error(TRXERR_INIT_SECOND);
    try {
        fieldKind_.assign(size_t(fieldCount), 0);
        attrKind_.assign(size_t(fieldCount), 0);
        valueCount_.assign(size_t(fieldCount), 0);
        highestCode_.assign(size_t(fieldCount), 0);
        slots_.assign(size_t(fieldCount), {});
    } catch (const std::bad_alloc&) {
        return Status::Code(E_OUTOFMEMORY);
    }
    fieldCount_ = fieldCount;
    lastAttr_ = int16_t(fieldCount - 2);
    maxClass_ = 0;
    largestBranch_ = 0;
    largestValueCount_ = 0;
    fieldKind_[fieldCount - 1] = TRXFIELD_CLASS;
    attrKind_[fieldCount - 1] = TRXFIELD_CLASS;
    classPos_ = int16_t(fieldCount - 1);
    cf_ = ConfidenceFor(pruneRate_);
    initialized_ = true;
    return Status::Ok();
}

Status TreeEngine::AddData(SAFEARRAY* array) {
    if (!initialized_) return Status::Error(TRXERR_NOT_INITIALIZED);
    if (building_) return Status::Code(E_UNEXPECTED);
    if (!array || SafeArrayGetDim(array) != 2 || SafeArrayGetElemsize(array) != 4)
        return Status::Error(TRXERR_ADDDATA_INVALID_ARRAY);
    LONG lo1 = 0, hi1 = 0, lo2 = 0, hi2 = 0;
    if (FAILED(SafeArrayGetLBound(array, 1, &lo1)) || FAILED(SafeArrayGetUBound(array, 1, &hi1)) ||
        FAILED(SafeArrayGetLBound(array, 2, &lo2)) || FAILED(SafeArrayGetUBound(array, 2, &hi2)))
        return Status::Error(TRXERR_ADDDATA_INVALID_ARRAY);
    const int64_t fields = int64_t(hi1) - lo1 + 1;
    const int64_t rows = int64_t(hi2) - lo2 + 1;
    if (fields != fieldCount_ || rows < 1) return Status::Error(TRXERR_ADDDATA_INVALID_ARRAY);

    void* raw = nullptr;
    if (FAILED(SafeArrayAccessData(array, &raw)) || !raw) return Status::Error(TRXERR_ADDDATA_ACCESS);
    AccessGuard guard(array);
    const float* data = static_cast<const float*>(raw);
    // Every value is checked first, so that a refused call changes nothing.
    if (Status s = CheckRows(data, rows); FAILED(s.hr)) return s;
    if (Status s = MakeRoom(rows); FAILED(s.hr)) return s;
    StoreRows(data, rows);
    rowCount_ = int32_t(int64_t(rowCount_) + rows);
    needsRebuild_ = true;
    if (largestValueCount_ < 5) largestValueCount_ = 5;
    return Status::Ok();
}

// The first value, in row order, that its field's kind refuses: a continuous one that
// is not finite, any in an ignored field, a code that is not a whole number 0..32767,
// a class that is unknown.
Status TreeEngine::CheckRows(const float* data, int64_t rows) const {
    const int fc = fieldCount_;
    for (int64_t r = 0; r < rows; ++r) {
        const float* row = data + r * fc;
        for (int j = 0; j < fc; ++j) {
            const float v = row[j];
            const bool missing = std::bit_cast<uint32_t>(v) == kMissingBits;
            switch (fieldKind_[j]) {
            case TRXFIELD_CONTINUOUS:
                if (!std::isfinite(v)) return Status::Code(E_INVALIDARG);
                break;
            case TRXFIELD_IGNORED:
                return Status::Code(E_INVALIDARG);
            case TRXFIELD_DISCRETE:
                if (!missing && TruncatedCode(v) < 0) return Status::Code(E_INVALIDARG);
                break;
            case TRXFIELD_CLASS:
                if (missing) return Status::Error(TRXERR_MISSING_CLASS);
                if (TruncatedCode(v) < 0) return Status::Code(E_INVALIDARG);
                break;
            default:
                break;
            }
        }
    }
    return Status::Ok();
}

// Room in every column for `rows` more; the room grows at least twofold.
Status TreeEngine::MakeRoom(int64_t rows) {
    const int64_t need = int64_t(rowCount_) + rows;
    if (need > std::numeric_limits<int32_t>::max()) return Status::Code(E_OUTOFMEMORY);
    int64_t capacity = capacity_;
    if (need <= capacity) return Status::Ok();
    if (capacity == 0)
        capacity = rows >= 100 ? rows : 100;
    else if (rows > capacity)
        capacity += rows;
    else
        capacity *= 2;
    if (capacity > std::numeric_limits<int32_t>::max()) capacity = need;
    try {
        for (auto& col : slots_) col.reserve(size_t(capacity));
    } catch (const std::bad_alloc&) {
        return Status::Code(E_OUTOFMEMORY);
    }
    capacity_ = int32_t(capacity);
    return Status::Ok();
}

// Appends the checked rows to the columns: a continuous value as its bits, a code in
// the low half of its slot, the class in the last slot; the highest codes are noted.
void TreeEngine::StoreRows(const float* data, int64_t rows) {
    const int fc = fieldCount_;
    std::vector<uint32_t> slot(static_cast<size_t>(fc), 0u);
    for (int64_t r = 0; r < rows; ++r) {
        const float* row = data + r * fc;
        std::fill(slot.begin(), slot.end(), 0u);
        for (int j = 0; j < fc; ++j) {
            const float v = row[j];
            const bool missing = std::bit_cast<uint32_t>(v) == kMissingBits;
            switch (fieldKind_[j]) {
            case TRXFIELD_CONTINUOUS:
                slot[j] = std::bit_cast<uint32_t>(v);
                break;
            case TRXFIELD_DISCRETE: {
                int code = missing ? 0 : TruncatedCode(v);
                slot[j] = (slot[j] & 0xFFFF0000u) | uint32_t(code);
                if (code > highestCode_[j]) highestCode_[j] = int16_t(code);
                if (code > valueCount_[j]) {
                    valueCount_[j] = int16_t(code);
                    if (code > largestValueCount_) largestValueCount_ = int16_t(code);
                }
                break;
            }
            case TRXFIELD_CLASS: {
                int code = TruncatedCode(v);
                slot[fc - 1] = (slot[fc - 1] & 0xFFFF0000u) | uint32_t(code);
                if (code > highestClass_) highestClass_ = int16_t(code);
                if (code > maxClass_) maxClass_ = int16_t(code);
                break;
            }
            default:
                break;
            }
        }
        for (int j = 0; j < fc; ++j) slots_[j].push_back(slot[j]);
    }
}

Status TreeEngine::GetFieldType(int16_t field, int16_t* kind) const {
    if (!InRange(field)) return Status::Code(E_INVALIDARG);
    *kind = fieldKind_[field];
    return Status::Ok();
}

Status TreeEngine::PutFieldType(int16_t field, int16_t kind) {
    if (!InRange(field)) return Status::Code(E_INVALIDARG);
    if (kind == TRXFIELD_CLASS && field != classPos_) {
        // Move the class designation; the other kinds keep their order.
        if (field < classPos_) {
            for (int i = classPos_; i > field; --i) fieldKind_[i] = fieldKind_[i - 1];
        } else {
            for (int i = classPos_; i < field; ++i) fieldKind_[i] = fieldKind_[i + 1];
        }
        classPos_ = field;
    }
    fieldKind_[field] = kind;
    RebuildAttributeKinds();
    return Status::Ok();
}

void TreeEngine::RebuildAttributeKinds() {
    size_t k = 0;
    for (int i = 0; i < fieldCount_; ++i)
        if (i != classPos_) attrKind_[k++] = uint8_t(fieldKind_[i]);
    attrKind_[k] = TRXFIELD_CLASS;
}

Status TreeEngine::PutPruneRate(float rate) {
    if (!(rate >= 0.0f && rate <= 100.0f)) return Status::Code(E_INVALIDARG);
    pruneRate_ = rate;
    cf_ = ConfidenceFor(rate);
    return Status::Ok();
}

Status TreeEngine::GetMaxClass(int16_t field, int16_t* count) const {
    if (!InRange(field)) return Status::Code(E_INVALIDARG);
    *count = initialized_ ? maxClass_ : 0;
    return Status::Ok();
}

Status TreeEngine::PutMaxClass(int16_t field, int16_t count) {
    if (!InRange(field)) return Status::Code(E_INVALIDARG);
    // A count below the codes already stored would let them index past the tables.
    if (count < 0) return Status::Code(E_INVALIDARG);
    if (field == classPos_) {
        if (count - 1 < highestClass_) return Status::Code(E_INVALIDARG);
        maxClass_ = int16_t(count - 1);
    } else {
        if (count < highestCode_[field]) return Status::Code(E_INVALIDARG);
        valueCount_[field] = count;
    }
    if (count > largestValueCount_) largestValueCount_ = count;
    return Status::Ok();
}

Status TreeEngine::PutMinItems(int32_t value) {
    if (value < 0) return Status::Code(E_INVALIDARG);
    if (value != minItems_) {
        minItems_ = value;
        needsRebuild_ = true;
    }
    return Status::Ok();
}

Status TreeEngine::BuildTree(SAFEARRAY** nodeTree, SAFEARRAY** childIndex, ProgressSink* sink) {
    if (!nodeTree || !childIndex) return Status::Code(E_POINTER);
    if (!initialized_ || rowCount_ == 0) return Status::Error(TRXERR_BUILD_NO_DATA);
    if (building_) return Status::Code(E_UNEXPECTED);
    struct BusyGuard {
        bool& b;
        explicit BusyGuard(bool& f) : b(f) { b = true; }
        ~BusyGuard() { b = false; }
    } busy(building_);

    const std::optional<uint64_t> limit = BuildBudget::Limit();
    if (!limit) return Status::Code(E_INVALIDARG);
    budget_.SetLimit(*limit);
    if (needsRebuild_ || !grown_) {
        bool cancelled = false;
        const Status grown = GrowTree(sink, cancelled);
        if (FAILED(grown.hr) || cancelled) return grown;
    }

    const TreeNode* out = grown_.get();
    if (pruneRate_ > 0) {
        if (sink) sink->Progress(95);
        const Status pruned = PruneAtRate();
        if (FAILED(pruned.hr)) return pruned;
        out = pruned_.get();
    }
    if (sink) sink->Progress(100);

    if (CountNodes(*out) > kMaxNodes) return Status::Error(TRXERR_TREE_TOO_BIG);
    Status s = Export(*out, nodeTree, childIndex);
    if (FAILED(s.hr)) return s;
    needsRebuild_ = false;
    return Status::Ok();
}

// Grows a tree over the rows in place of the trees there were, and makes the pruner of
// it; a cancelled growth keeps what it grew, makes none and ends the build.
Status TreeEngine::GrowTree(ProgressSink* sink, bool& cancelled) {
    GrowInput in;
    in.slots = &slots_;
    in.rowCount = rowCount_;
    in.lastAttr = lastAttr_;
    in.attrKind.assign(attrKind_.begin(), attrKind_.begin() + lastAttr_ + 1);
    in.valueCount.assign(valueCount_.begin(), valueCount_.begin() + lastAttr_ + 1);
    in.maxClass = maxClass_;
    in.minItems = minItems_;
    in.budget = &budget_;
    // The growth's work tables go once it is done; the pruner keeps what it reads.
    // The old trees go before the new one is grown, within the same budget.
    pruner_.reset();
    pruned_.reset();
    prunedHeld_.Drop();
    grown_.reset();
    grownHeld_.Drop();
    needsRebuild_ = true;
    std::unique_ptr<Grower> grower;
    try {
        grower = std::make_unique<Grower>(std::move(in));
    } catch (const std::bad_alloc&) {
        return Status::Code(E_OUTOFMEMORY);
    }
    cancel_ = 0;
    largestBranch_ = 0;
    try {
        grown_ = GrowWithin(*grower, sink, &cancel_, GrowthThreads());
    } catch (const std::bad_alloc&) {
        grown_.reset();
        return Status::Code(E_OUTOFMEMORY);
    }
    grownHeld_ = grower->TakeTreeCharge();
    largestBranch_ = grower->LargestBranchCount();
    ++growth_;
    if (cancel_) {
        if (grown_) needsRebuild_ = true;
        cancelled = true;
        return Status::Ok();
    }
    try {
        PruneInput p = grower->ForPruning();
        p.budget = &budget_;
        grower.reset();  // its per-row arrays go before the pruner's are made
        pruner_ = std::make_unique<Pruner>(std::move(p));
    } catch (const std::bad_alloc&) {
        grown_.reset();
        grownHeld_.Drop();
        needsRebuild_ = true;
        return Status::Code(E_OUTOFMEMORY);
    }
    return Status::Ok();
}

// The grown tree pruned at the rate in hand, unless the pruned tree there is already
// that one.
Status TreeEngine::PruneAtRate() {
    if (pruned_ && lastPrunedRate_ == pruneRate_ && !needsRebuild_ && prunedGrowth_ == growth_) return Status::Ok();
    pruned_.reset();
    prunedHeld_.Drop();
    try {
        pruned_ = PruneWithin(*pruner_, *grown_, cf_, GrowthThreads());
    } catch (const std::bad_alloc&) {
        pruned_.reset();
        return Status::Code(E_OUTOFMEMORY);
    }
    prunedHeld_ = pruner_->TakeTreeCharge();
    lastPrunedRate_ = pruneRate_;
    prunedGrowth_ = growth_;
    return Status::Ok();
}

// Pre-order numbering; each node carries the test of the edge into it, taken from the
// parent it was reached from.
Status TreeEngine::Export(const TreeNode& tree, SAFEARRAY** nodeTree, SAFEARRAY** childIndex) const {
    const long count = CountNodes(tree);
    const ULONG width = ULONG(largestBranch_);
    SAFEARRAYBOUND nb[2] = {{8, 0}, {ULONG(count), 0}};
    SAFEARRAYBOUND cb[2] = {{width, 0}, {ULONG(count), 0}};
    SAFEARRAY* nt = SafeArrayCreate(VT_VARIANT, 2, nb);
    SAFEARRAY* ci = nt ? SafeArrayCreate(VT_I2, 2, cb) : nullptr;
    if (!nt || !ci) {
        if (nt) SafeArrayDestroy(nt);
        return Status::Code(E_OUTOFMEMORY);
    }
    VARIANT* nodes = nullptr;
    SHORT* kids = nullptr;
    SafeArrayAccessData(nt, reinterpret_cast<void**>(&nodes));
    SafeArrayAccessData(ci, reinterpret_cast<void**>(&kids));

    struct Item {
        const TreeNode* node;
        const TreeNode* parent;
        long parentNumber;
        int branch;
    };
    std::vector<Item> stack;
    stack.push_back({&tree, nullptr, -1, 0});
    long next = 0;
    const float rootCut = grown_ ? grown_->cut : 0.0f;
    while (!stack.empty()) {
        Item it = stack.back();
        stack.pop_back();
        const long num = next++;
        const TreeNode& n = *it.node;
        VARIANT* col = nodes + size_t(num) * 8;
        auto i2 = [](VARIANT* v, int x) {
            v->vt = VT_I2;
            v->iVal = SHORT(x);
        };
        auto r4 = [](VARIANT* v, float x) {
            v->vt = VT_R4;
            v->fltVal = x;
        };
        i2(&col[0], it.parent ? it.parent->kind : -1);
        i2(&col[1], n.kind == kLeaf ? 0 : n.forks);
        i2(&col[2], it.parent ? it.parent->attr : -1);
        r4(&col[3], it.parent ? it.parent->cut : rootCut);
        i2(&col[4], it.branch);
        i2(&col[5], n.cls);
        r4(&col[6], n.items);
        r4(&col[7], n.errors);
        if (it.parent) kids[size_t(it.parentNumber) * width + size_t(it.branch - 1)] = SHORT(num);
        if (n.kind != kLeaf) {
            for (int v = n.forks; v >= 1; --v)
                if (v < int(n.branches.size()) && n.branches[v]) stack.push_back({n.branches[v].get(), &n, num, v});
        }
    }
    SafeArrayUnaccessData(ci);
    SafeArrayUnaccessData(nt);
    if (*nodeTree) SafeArrayDestroy(*nodeTree);
    if (*childIndex) SafeArrayDestroy(*childIndex);
    *nodeTree = nt;
    *childIndex = ci;
    return Status::Ok();
}

}  // namespace trx
