// The query engine: set up, start, step, end.
#include "GraphTestSupport.h"

using namespace graphtest;
using namespace nodars;
using com::Variant;

namespace {

enum { kSources = 1, kTargets, kConnections, kSelectRectItems, kIterate, kItemId, kItemData, kConnId, kConnData };

// Runs a query to its end and collects what each step left: the query item for
// item queries, the (from, to) pair for connection queries.
std::vector<std::pair<int, int>> RunAll(Control& c, int kind, bool connections) {
    std::vector<std::pair<int, int>> out;
    c.PutInt(dispidQueryState, kind);
    for (int guard = 0; guard < 100 && c.GetInt(dispidQueryState) != 0; ++guard) {
        if (connections)
            out.emplace_back(c.GetInt(dispidConnectFromIndex), c.GetInt(dispidConnectToIndex));
        else
            out.emplace_back(c.GetInt(dispidQueryItem), -1);
        c.PutInt(dispidQueryState, kIterate);
    }
    return out;
}

using Pairs = std::vector<std::pair<int, int>>;

}  // namespace

TEST(GraphQuery, MatchItemIdZeroVisitsEveryItem) {
    Control c;
    for (int i = 0; i < 4; ++i) c.AddItem("x");
    c.Put(dispidQueryData, Variant::I4(0));
    c.PutInt(dispidQueryState, kItemId);
    EXPECT_EQ(c.GetInt(dispidQueryCount), c.GetInt(dispidListCount));
    c.Put(dispidQueryData, Variant::I4(0));
    EXPECT_EQ(RunAll(c, kItemId, false), (Pairs{{0, -1}, {1, -1}, {2, -1}, {3, -1}}));
    EXPECT_EQ(c.GetInt(dispidQueryItem), -1);
    EXPECT_EQ(c.GetInt(dispidQueryCount), 0);  // no active query

    c.Put(dispidQueryData, Variant::I4(3));
    EXPECT_EQ(RunAll(c, kItemId, false), (Pairs{{2, -1}}));
}

TEST(GraphQuery, MatchItemData) {
    Control c;
    for (int i = 0; i < 3; ++i) c.AddItem("x");
    c.PutItem(dispidItemData, 1, 42);
    c.Put(dispidQueryData, Variant::I4(42));
    EXPECT_EQ(RunAll(c, kItemData, false), (Pairs{{1, -1}}));
    c.Put(dispidQueryData, Variant::I4(0));
    EXPECT_EQ(RunAll(c, kItemData, false), (Pairs{{0, -1}, {2, -1}}));
}

TEST(GraphQuery, SelfConnectionIsReportedOnceByGetConnections) {
    Control c;
    c.AddItem("a");
    c.AddItem("b");
    c.Connect(1, 0);
    c.Connect(0, 0);
    c.Connect(0, 1);
    c.PutInt(dispidQueryItem, 0);
    c.PutInt(dispidQueryState, kConnections);
    EXPECT_EQ(c.GetInt(dispidQueryCount), 3);
    c.PutInt(dispidQueryItem, 0);
    EXPECT_EQ(RunAll(c, kConnections, true), (Pairs{{1, 0}, {0, 0}, {0, 1}}));
    c.PutInt(dispidQueryItem, 0);
    EXPECT_EQ(RunAll(c, kSources, true), (Pairs{{1, 0}, {0, 0}}));
    c.PutInt(dispidQueryItem, 0);
    EXPECT_EQ(RunAll(c, kTargets, true), (Pairs{{0, 0}, {0, 1}}));
    EXPECT_EQ(c.GetInt(dispidQueryItem), 0);  // connection queries keep the item
}

TEST(GraphQuery, HandleFiltersTheConnections) {
    Control c;
    for (int i = 0; i < 3; ++i) c.AddItem("x");
    c.Connect(0, 1);
    c.Connect(0, 2);
    c.PutInt(dispidConnectFromHandle, 2);
    c.PutInt(dispidQueryItem, 0);
    c.PutInt(dispidQueryItemHandle, 2);
    EXPECT_EQ(RunAll(c, kTargets, true), (Pairs{{0, 2}}));
    c.PutInt(dispidQueryItem, 2);
    c.PutInt(dispidQueryItemHandle, 1);
    EXPECT_EQ(RunAll(c, kSources, true), (Pairs{{0, 2}}));
    c.PutInt(dispidQueryItemHandle, 3);
    EXPECT_EQ(RunAll(c, kSources, true), Pairs{});
}

TEST(GraphQuery, ConnectionMatchesWalkTheSources) {
    Control c;
    for (int i = 0; i < 3; ++i) c.AddItem("x");
    c.Connect(0, 1);
    c.Connect(2, 0);
    c.Put(dispidConnectionData, Variant::I4(5));
    c.Connect(1, 2);
    c.Put(dispidConnectionData, Variant::I4(5));
    c.Put(dispidQueryData, Variant::I4(5));
    c.PutInt(dispidQueryState, kConnData);
    EXPECT_EQ(c.GetInt(dispidQueryCount), 2);
    EXPECT_EQ(c.GetInt(dispidQueryItem), 1);  // the source of the first result
    EXPECT_EQ(c.GetInt(dispidConnectionId), 3);
    c.PutInt(dispidQueryState, kIterate);
    EXPECT_EQ(c.GetInt(dispidQueryItem), 2);
    EXPECT_EQ(c.GetInt(dispidConnectionId), 2);
    c.PutInt(dispidQueryState, kIterate);
    EXPECT_EQ(c.GetInt(dispidQueryState), 0);
    EXPECT_EQ(c.GetInt(dispidQueryItem), -1);
    c.Put(dispidQueryData, Variant::I4(2));
    EXPECT_EQ(RunAll(c, kConnId, true), (Pairs{{2, 0}}));
}

TEST(GraphQuery, SelectRectItemsIncludeItemsTouchingTheEdge) {
    Control c;
    c.AddItem("a");
    c.AddItem("b");
    c.PutItem(dispidItemXPos, 0, 0);
    c.PutItem(dispidItemYPos, 0, 0);
    c.PutItem(dispidItemXPos, 1, 500);
    c.PutItem(dispidItemYPos, 1, 0);
    c.PutInt(dispidSelectRectLeft, 120);  // the right edge of item 0
    c.PutInt(dispidSelectRectWidth, 100);
    c.PutInt(dispidSelectRectHeight, 10);
    EXPECT_EQ(RunAll(c, kSelectRectItems, false), (Pairs{{0, -1}}));
}

TEST(GraphQuery, IterateWithoutAQueryEndsAndClearsTheCurrentConnection) {
    Control c;
    c.AddItem("a");
    c.AddItem("b");
    c.Connect(0, 1);
    EXPECT_EQ(c.GetInt(dispidConnectionId), 1);
    c.PutInt(dispidQueryState, kIterate);
    EXPECT_EQ(c.GetInt(dispidQueryState), 0);
    EXPECT_EQ(c.GetInt(dispidConnectionId), 0);
}

TEST(GraphQuery, SettingUpAnotherQueryEndsTheRunningOne) {
    Control c;
    for (int i = 0; i < 3; ++i) c.AddItem("x");
    c.Put(dispidQueryData, Variant::I4(0));
    c.PutInt(dispidQueryState, kItemId);
    EXPECT_EQ(c.GetInt(dispidQueryState), 1);
    c.PutInt(dispidQueryItem, 2);
    EXPECT_EQ(c.GetInt(dispidQueryState), 0);
    EXPECT_EQ(c.GetInt(dispidQueryItem), 2);
    // An item query on an item that does not exist ends at once.
    c.PutInt(dispidQueryItem, 9);
    c.PutInt(dispidQueryState, kSources);
    EXPECT_EQ(c.GetInt(dispidQueryState), 0);
    c.PutInt(dispidQueryState, 42);
    EXPECT_EQ(c.GetInt(dispidQueryState), 0);
}

// A query over a graph that is gone has nothing left to report.
TEST(GraphQuery, ClearEndsARunningQuery) {
    Control c;
    for (int i = 0; i < 3; ++i) c.AddItem("x");
    c.Put(dispidQueryData, Variant::I4(0));
    c.PutInt(dispidQueryState, kItemId);
    ASSERT_EQ(c.GetInt(dispidQueryState), 1);
    c.Call(dispidClear);
    EXPECT_EQ(c.GetInt(dispidQueryState), 0);
    EXPECT_EQ(c.GetInt(dispidQueryCount), 0);
    EXPECT_EQ(c.GetInt(dispidQueryItem), -1);
    c.PutInt(dispidQueryState, kIterate);
    EXPECT_EQ(c.GetInt(dispidQueryState), 0);
    // A connection walk too: its list went with the items.
    c.AddItem("a");
    c.AddItem("b");
    c.Connect(0, 1);
    c.PutInt(dispidQueryItem, 0);
    c.PutInt(dispidQueryState, kTargets);
    ASSERT_EQ(c.GetInt(dispidQueryState), 1);
    c.Call(dispidClear);
    EXPECT_EQ(c.GetInt(dispidQueryState), 0);
    EXPECT_EQ(c.GetInt(dispidConnectionId), 0);
}

TEST(GraphQuery, RemovingAConnectionEndsARunningQuery) {
    Control c;
    for (int i = 0; i < 4; ++i) c.AddItem("x");
    c.Connect(0, 1);
    c.Connect(0, 2);
    c.Connect(0, 3);
    c.PutInt(dispidQueryItem, 0);
    c.PutInt(dispidQueryState, kTargets);
    ASSERT_EQ(c.GetInt(dispidConnectToIndex), 1);
    c.Put(dispidRemoveFrom, Variant::I2(2), {Variant::I2(0)});
    EXPECT_EQ(c.GetInt(dispidQueryState), 0);
    EXPECT_EQ(c.GetInt(dispidConnectionId), 0);
    c.PutInt(dispidQueryState, kIterate);
    EXPECT_EQ(c.GetInt(dispidQueryState), 0);
    // The walk starts afresh over what is left.
    c.PutInt(dispidQueryItem, 0);
    c.PutInt(dispidQueryState, kTargets);
    EXPECT_EQ(c.GetInt(dispidQueryCount), 2);
}

TEST(GraphQuery, RemovingAnItemEndsARunningQuery) {
    Control c;
    for (int i = 0; i < 3; ++i) c.AddItem("x");
    c.Connect(0, 1);
    c.Connect(0, 2);
    c.PutInt(dispidQueryItem, 0);
    c.PutInt(dispidQueryState, kTargets);
    c.Call(dispidRemoveItem, {Variant::I2(0)});
    EXPECT_EQ(c.GetInt(dispidQueryState), 0);
    c.PutInt(dispidQueryState, kIterate);
    EXPECT_EQ(c.GetInt(dispidQueryState), 0);
}
