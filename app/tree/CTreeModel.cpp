#include "CTreeModel.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <string>

#include "CTreeError.h"
#include "com/oleauto.h"

namespace {

[[noreturn]] void Damaged(const std::string& why) {
    throw CTreeError(treeerr::kTypeMismatch, "The tree is damaged: " + why + ".");
}

// Reads one VARIANT of the engine's node array as the type the column has.
int16_t AsI2(const VARIANT& v) {
    VARIANT out;
    VariantInit(&out);
    if (FAILED(VariantChangeType(&out, &v, 0, VT_I2))) Damaged("a node value is not a number");
    return out.iVal;
}

float AsR4(const VARIANT& v) {
    VARIANT out;
    VariantInit(&out);
    if (FAILED(VariantChangeType(&out, &v, 0, VT_R4))) Damaged("a node value is not a number");
    return out.fltVal;
}

// Bounds of dimension d (1-based) of an array: element count, 0 when absent.
LONG Count(SAFEARRAY* psa, UINT d) {
    LONG lo = 0, hi = -1;
    if (FAILED(SafeArrayGetLBound(psa, d, &lo)) || FAILED(SafeArrayGetUBound(psa, d, &hi))) return -1;
    return hi - lo + 1;
}

}  // namespace

void CTreeModel::Assign(std::vector<TRXNode> nodes, int slots, std::vector<int16_t> children) {
    const size_t n = nodes.size();
    if (n == 0) Damaged("it has no nodes");
    if (n > size_t(kMaxNodes)) Damaged("it has more nodes than a tree can hold");
    if (slots < 0 || children.size() != n * size_t(slots)) Damaged("the child index does not fit the nodes");
    std::vector<char> hasParent(n, 0);
    for (size_t i = 0; i < n; ++i) {
        const int forks = nodes[i].Forks;
        if (forks < 0 || forks > slots)
            Damaged("node " + std::to_string(i) + " has " + std::to_string(forks) + " branches");
        for (int b = 0; b < forks; ++b) {
            const int c = children[i * size_t(slots) + size_t(b)];
            // Pre-order numbering puts every child after its parent, so a walk
            // from the root only ever moves forward and must end.
            if (c <= int(i) || size_t(c) >= n)
                Damaged("node " + std::to_string(i) + " points at child " + std::to_string(c));
            if (hasParent[size_t(c)]) Damaged("node " + std::to_string(c) + " has two parents");
            hasParent[size_t(c)] = 1;
        }
    }
    for (size_t i = 1; i < n; ++i)
        if (!hasParent[i]) Damaged("node " + std::to_string(i) + " is not reached from the root");
    mNodes = std::move(nodes);
    mSlots = slots;
    mChildren = std::move(children);
    BuildParentIndex();
}

std::string CTreeModel::CountsFault(const TRXNode& t) {
    auto shown = [](float v) {
        char text[32];
        std::snprintf(text, sizeof text, "%g", double(v));
        return std::string(text);
    };
    if (t.Items < 0) return "has the item count " + shown(t.Items) + ", below zero";
    if (t.Errors < 0) return "has the error count " + shown(t.Errors) + ", below zero";
    // The engine sums the two in other orders: a node's errors may pass its
    // items by what rounding gives, never by more.
    constexpr float kRounding = 1e-5f;
    if (t.Errors - t.Items > kRounding * std::max(1.0f, t.Items))
        return "has the error count " + shown(t.Errors) + ", more than its " + shown(t.Items) + " items";
    return {};
}

void CTreeModel::AssignFromEngine(SAFEARRAY* nodeTree, SAFEARRAY* childIndex) {
    if (!nodeTree || SafeArrayGetDim(nodeTree) != 2 || Count(nodeTree, 1) != 8)
        Damaged("the engine returned no node array");
    VARTYPE vt = VT_EMPTY;
    SafeArrayGetVartype(nodeTree, &vt);
    if (vt != VT_VARIANT) Damaged("the engine's node array does not hold variants");
    const LONG n = Count(nodeTree, 2);
    if (n <= 0) Damaged("the engine returned no nodes");
    LONG slots = 0;
    if (childIndex) {
        if (SafeArrayGetDim(childIndex) != 2 || Count(childIndex, 2) != n)
            Damaged("the engine's child index does not fit its nodes");
        SafeArrayGetVartype(childIndex, &vt);
        if (vt != VT_I2) Damaged("the engine's child index is not of 16-bit integers");
        slots = Count(childIndex, 1);
        if (slots < 0) slots = 0;
    }

    std::vector<TRXNode> nodes(static_cast<size_t>(n));
    void* data = nullptr;
    if (FAILED(SafeArrayAccessData(nodeTree, &data))) Damaged("the engine's node array cannot be read");
    const VARIANT* v = static_cast<const VARIANT*>(data);
    try {
        for (LONG i = 0; i < n; ++i) {
            const VARIANT* col = v + size_t(i) * 8;  // the column index varies fastest
            TRXNode& t = nodes[size_t(i)];
            t.NodeType = AsI2(col[0]);
            t.Forks = AsI2(col[1]);
            t.FieldNum = AsI2(col[2]);
            t.Cut = AsR4(col[3]);
            t.DisClass = AsI2(col[4]);
            t.Class = AsI2(col[5]);
            t.Items = AsR4(col[6]);
            t.Errors = AsR4(col[7]);
        }
    } catch (...) {
        // The array is let go on every way out.
        SafeArrayUnaccessData(nodeTree);
        throw;
    }
    SafeArrayUnaccessData(nodeTree);

    std::vector<int16_t> children(size_t(n) * size_t(slots), 0);
    if (slots > 0) {
        if (FAILED(SafeArrayAccessData(childIndex, &data))) Damaged("the engine's child index cannot be read");
        const int16_t* c = static_cast<const int16_t*>(data);
        std::copy(c, c + children.size(), children.begin());
        SafeArrayUnaccessData(childIndex);
    }
    Assign(std::move(nodes), int(slots), std::move(children));
}

void CTreeModel::BuildParentIndex() {
    mParent.assign(mNodes.size() * 2, 0);
    for (size_t i = 0; i < mNodes.size(); ++i)
        for (int b = 0; b < mNodes[i].Forks; ++b) {
            const size_t c = size_t(mChildren[i * size_t(mSlots) + size_t(b)]);
            mParent[2 * c] = int16_t(i);
            mParent[2 * c + 1] = int16_t(b);
        }
}

const TRXNode& CTreeModel::Node(int32_t n) const {
    if (n < 0 || n >= Nodes()) throw CTreeError(treeerr::kSubscript, "Subscript out of range");
    return mNodes[size_t(n)];
}

int16_t CTreeModel::Child(int32_t n, int slot) const {
    if (n < 0 || n >= Nodes() || slot < 0 || slot >= mSlots)
        throw CTreeError(treeerr::kSubscript, "Subscript out of range");
    return mChildren[size_t(n) * size_t(mSlots) + size_t(slot)];
}

int16_t CTreeModel::Parent(int32_t n) const {
    Node(n);
    return mParent[2 * size_t(n)];
}

int16_t CTreeModel::ParentSlot(int32_t n) const {
    Node(n);
    return mParent[2 * size_t(n) + 1];
}

int16_t CTreeModel::LeafCount() const {
    int16_t leaves = 0;
    for (const TRXNode& t : mNodes)
        if (t.Forks == 0) ++leaves;
    return leaves;
}

bool CTreeModel::operator==(const CTreeModel& o) const {
    // Slots beyond a node's branches carry nothing, so a single leaf stored
    // with no slots equals the same leaf reloaded with one.
    if (mNodes.size() != o.mNodes.size()) return false;
    for (size_t i = 0; i < mNodes.size(); ++i) {
        for (int b = 0; b < mNodes[i].Forks && b < o.mSlots; ++b)
            if (mChildren[i * size_t(mSlots) + size_t(b)] != o.mChildren[i * size_t(o.mSlots) + size_t(b)])
                return false;
        const TRXNode& a = mNodes[i];
        const TRXNode& b = o.mNodes[i];
        if (a.NodeType != b.NodeType || a.Forks != b.Forks || a.FieldNum != b.FieldNum ||
            a.DisClass != b.DisClass || a.Class != b.Class ||
            std::bit_cast<uint32_t>(a.Cut) != std::bit_cast<uint32_t>(b.Cut) ||
            std::bit_cast<uint32_t>(a.Items) != std::bit_cast<uint32_t>(b.Items) ||
            std::bit_cast<uint32_t>(a.Errors) != std::bit_cast<uint32_t>(b.Errors))
            return false;
    }
    return true;
}

float CTreeModel::Confidence(int32_t n) const {
    const TRXNode& t = Node(n);
    if (!(t.Items > 0)) return 0;
    float confidence = 100.0f * (1.0f - t.Errors / t.Items);
    if (confidence > 99.0f && t.Items < 30.0f) confidence = 99.0f;
    return confidence;
}
