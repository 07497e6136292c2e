// The driver's side of the engine: creation by ProgID, rows in, tree out,
// progress and cancel through the connection point, the engine's own error texts.
#include <gtest/gtest.h>

#include <vector>

#include "CTRXEngine.h"
#include "CTreeError.h"
#include "CTreeModel.h"

namespace {

// rows of (x, class) with the class field last; class 1 when x > 10.
SAFEARRAY* Rows(const std::vector<std::pair<float, float>>& rows) {
    const SAFEARRAYBOUND b[2] = {{2, 0}, {ULONG(rows.size()), 0}};
    SAFEARRAY* psa = SafeArrayCreate(VT_R4, 2, b);
    void* p = nullptr;
    SafeArrayAccessData(psa, &p);
    float* f = static_cast<float*>(p);
    for (size_t i = 0; i < rows.size(); ++i) {
        f[2 * i] = rows[i].first;
        f[2 * i + 1] = rows[i].second;
    }
    SafeArrayUnaccessData(psa);
    return psa;
}

std::vector<std::pair<float, float>> Split(int n) {
    std::vector<std::pair<float, float>> r;
    for (int i = 0; i < n; ++i) r.push_back({float(i % 20), i % 20 > 10 ? 1.0f : 0.0f});
    return r;
}

}  // namespace

TEST(EngineAdapter, BuildsATreeFromRows) {
    std::vector<int> progress;
    CTRXEngine e([&](int16_t p, bool*) { progress.push_back(p); });
    e.Initialize(2);
    EXPECT_EQ(e.FieldType(1), 3);
    e.SetFieldType(0, 0);
    SAFEARRAY* rows = Rows(Split(200));
    e.AddData(rows);
    SafeArrayDestroy(rows);
    EXPECT_EQ(e.RowCount(), 200);
    e.SetPruneRate(0);
    CTreeModel t;
    ASSERT_TRUE(e.BuildTree(&t));
    ASSERT_EQ(t.Nodes(), 3);
    EXPECT_EQ(t.Node(0).NodeType, -1);
    EXPECT_FLOAT_EQ(t.Node(0).Items, 200);
    EXPECT_EQ(t.Node(1).NodeType, 2);
    EXPECT_EQ(t.Node(1).DisClass, 1);
    EXPECT_FLOAT_EQ(t.Node(1).Cut, 10.0f);
    EXPECT_EQ(t.Node(1).Class, 0);
    EXPECT_EQ(t.Node(2).Class, 1);
    EXPECT_EQ(t.Parent(2), 0);
    EXPECT_EQ(t.ParentSlot(2), 1);
    EXPECT_FALSE(progress.empty());
}

TEST(EngineAdapter, ErrorsCarryTheEngineText) {
    CTRXEngine e([](int16_t, bool*) {});
    e.Initialize(2);
    CTreeModel t;
    try {
        e.BuildTree(&t);
        ADD_FAILURE() << "a build without rows succeeded";
    } catch (const CTreeError& err) {
        EXPECT_STREQ(err.what(), "BuildTree: Object not initialized or input data not added.");
        EXPECT_FALSE(CTRXEngine::IsTooManyNodes(err.what()));
    }
    try {
        e.Initialize(2);
        ADD_FAILURE() << "a second Initialize succeeded";
    } catch (const CTreeError& err) {
        EXPECT_NE(std::string(err.what()).find("Second Initialize"), std::string::npos) << err.what();
    }
    EXPECT_THROW(e.SetPruneRate(100.5f), CTreeError);
    EXPECT_TRUE(CTRXEngine::IsTooManyNodes("BuildTree: Tree size exceeds 32000 nodes.  Try pruning."));
}

TEST(EngineAdapter, CancelAtTheFirstEventReturnsNoTree) {
    int events = 0;
    CTRXEngine e([&](int16_t, bool* cancel) {
        ++events;
        *cancel = true;
    });
    e.Initialize(2);
    SAFEARRAY* rows = Rows(Split(400));
    e.AddData(rows);
    SafeArrayDestroy(rows);
    CTreeModel t;
    EXPECT_FALSE(e.BuildTree(&t));
    EXPECT_TRUE(t.Empty());
    EXPECT_GE(events, 1);
}
