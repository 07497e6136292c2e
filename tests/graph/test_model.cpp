// The graph model through _DNodars32: items, connections, removal, moving, clearing.
#include "GraphTestSupport.h"

using namespace graphtest;
using namespace nodars;
using com::Variant;

TEST(GraphModel, CreatesByProgIdAndByClsid) {
    Control byProgId;
    Control byClsid(300, 200, true, com::GuidToString(CLSID_Nodaris));
    EXPECT_EQ(byProgId.GetInt(dispidListCount), 0);
    EXPECT_EQ(byClsid.GetInt(dispidListCount), 0);
    EXPECT_EQ(byClsid.GetInt(dispidShapeCount), 12);
    EXPECT_EQ(byClsid.GetText(dispidShapeName, {Variant::I2(0)}), "<No Shape>");
    EXPECT_EQ(byClsid.GetText(dispidShapeName, {Variant::I2(11)}), "Papers 2");
    EXPECT_EQ(byClsid.GetText(dispidShapeName, {Variant::I2(12)}), "");
    EXPECT_EQ(byClsid.GetInt(dispidGraphicCount), 1);
    EXPECT_EQ(byClsid.GetText(dispidGraphicName, {Variant::I2(0)}), "<No Graphic>");
}

TEST(GraphModel, AddItemNumbersItemsAndIdsFromTheStart) {
    Control c;
    EXPECT_EQ(c.AddItem("a"), 0);
    EXPECT_EQ(c.AddItem("b"), 1);
    EXPECT_EQ(c.AddItem("c"), 2);
    EXPECT_EQ(c.GetInt(dispidListCount), 3);
    EXPECT_EQ(c.GetInt(dispidNewIndex), 2);
    EXPECT_EQ(c.Item(dispidItemId, 0), 1);
    EXPECT_EQ(c.Item(dispidItemId, 2), 3);
    EXPECT_EQ(c.GetText(dispidList, {Variant::I2(1)}), "b");
    // Defaults of a new item.
    EXPECT_EQ(c.Item(dispidItemShape, 0), 1);
    EXPECT_EQ(c.Item(dispidItemWidth, 0), 120);
    EXPECT_EQ(c.Item(dispidItemHeight, 0), 50);
    EXPECT_EQ(c.Item(dispidItemFillColor, 0), 0xFFFFFF);
    EXPECT_EQ(c.Item(dispidItemBorderColor, 0), 0);
    EXPECT_EQ(c.Item(dispidItemGraphicStyle, 0), 3);
    EXPECT_EQ(c.Item(dispidItemGraphicAlign, 0), 4);
    EXPECT_EQ(c.Item(dispidItemLabelAlign, 0), 4);
    EXPECT_EQ(c.Item(dispidItemDrawLabel, 0), -1);
    EXPECT_TRUE(c.Get(dispidIsDirty).ToBool());

    c.Call(dispidClear);
    EXPECT_FALSE(c.Get(dispidIsDirty).ToBool());
    EXPECT_EQ(c.GetInt(dispidNewIndex), -1);
    EXPECT_EQ(c.AddItem("again"), 0);
    EXPECT_EQ(c.Item(dispidItemId, 0), 1);
}

TEST(GraphModel, NewItemsCentreOnTheClientArea) {
    Control c(500, 400);
    c.Put(dispidFillColor, Variant::I4(0x00FF00));
    c.AddItem("x");
    // The client area is the window less one pixel each side; its centre in graph
    // units at 100 %: the view starts at the origin.
    const int cx = c.Call(dispidScreenToGraphX, {Variant::I2(250)}).ToI2() + 1;
    const int cy = c.Call(dispidScreenToGraphY, {Variant::I2(200)}).ToI2() + 1;
    EXPECT_EQ(c.Item(dispidItemXPos, 0), cx - 60);
    EXPECT_EQ(c.Item(dispidItemYPos, 0), cy - 25);
    EXPECT_EQ(c.Item(dispidItemFillColor, 0), 0x00FF00);
}

TEST(GraphModel, ConnectToKeepsOneConnectionPerPairAndAllowsSelfConnections) {
    Control c;
    c.AddItem("a");
    c.AddItem("b");
    c.Connect(0, 1);
    EXPECT_EQ(c.GetInt(dispidConnectionId), 1);
    c.Connect(0, 1);
    EXPECT_EQ(c.GetInt(dispidConnectionId), 1);  // the same connection became current
    c.Connect(1, 0);
    EXPECT_EQ(c.GetInt(dispidConnectionId), 2);  // the reverse pair is another one
    c.Connect(0, 0);
    EXPECT_EQ(c.GetInt(dispidConnectionId), 3);
    EXPECT_EQ(c.GetInt(dispidConnectFromIndex), 0);
    EXPECT_EQ(c.GetInt(dispidConnectToIndex), 0);
    EXPECT_EQ(c.GetInt(dispidConnectFromHandle), 3);
    EXPECT_EQ(c.GetInt(dispidConnectToHandle), 1);

    // The self-connection sits in both lists of item 0.
    c.PutInt(dispidQueryItem, 0);
    c.PutInt(dispidQueryState, 1);  // sources
    EXPECT_EQ(c.GetInt(dispidQueryCount), 2);
    c.PutInt(dispidQueryItem, 0);
    c.PutInt(dispidQueryState, 2);  // targets
    EXPECT_EQ(c.GetInt(dispidQueryCount), 2);
}

TEST(GraphModel, ConnectToOutOfRangeChangesNothing) {
    Control c;
    c.AddItem("a");
    c.AddItem("b");
    c.Connect(0, 1);
    c.Connect(0, 2);
    c.Connect(-1, 1);
    EXPECT_EQ(c.GetInt(dispidConnectionId), 1);
    EXPECT_EQ(c.GetInt(dispidConnectToIndex), 1);
    c.PutInt(dispidQueryData, 0);
    c.PutInt(dispidQueryState, 8);  // every connection
    EXPECT_EQ(c.GetInt(dispidQueryCount), 1);
}

TEST(GraphModel, RemoveItemRemovesItsConnectionsAndAdjustsTheSelection) {
    Control c;
    for (const char* n : {"a", "b", "c", "d"}) c.AddItem(n);
    c.Connect(2, 3);
    c.Connect(0, 1);
    c.Connect(2, 1);
    c.Connect(1, 1);
    c.Connect(1, 2);
    c.PutInt(dispidSelectedIndex, 3);
    c.Call(dispidRemoveItem, {Variant::I2(1)});
    EXPECT_EQ(c.GetInt(dispidListCount), 3);
    EXPECT_EQ(c.GetInt(dispidNewIndex), -1);
    EXPECT_EQ(c.GetInt(dispidSelectedIndex), 2);
    EXPECT_EQ(c.GetInt(dispidConnectionId), 0);  // the current connection went with it
    // Following items keep their ids and move down.
    EXPECT_EQ(c.Item(dispidItemId, 1), 3);
    EXPECT_EQ(c.Item(dispidItemId, 2), 4);
    c.PutInt(dispidQueryData, 0);
    c.PutInt(dispidQueryState, 8);
    EXPECT_EQ(c.GetInt(dispidQueryCount), 1);  // only c -> d is left
    EXPECT_EQ(c.GetInt(dispidConnectFromIndex), 1);
    EXPECT_EQ(c.GetInt(dispidConnectToIndex), 2);

    c.PutInt(dispidSelectedIndex, 1);
    c.Call(dispidRemoveItem, {Variant::I2(1)});
    EXPECT_EQ(c.GetInt(dispidSelectedIndex), -1);
    c.Call(dispidRemoveItem, {Variant::I2(7)});  // out of range: nothing
    EXPECT_EQ(c.GetInt(dispidListCount), 2);
}

// The tree arrangement orders children by their index: after a removal the
// children must still come out in index order.
TEST(GraphModel, RemoveItemRenumbersTheItemsBehindIt) {
    Control c;
    c.PutInt(dispidArrangeMode, 3);
    for (const char* n : {"x", "y", "a", "b", "root"}) c.AddItem(n);
    c.Call(dispidRemoveItem, {Variant::I2(0)});
    c.Call(dispidRemoveItem, {Variant::I2(0)});  // now a 0, b 1, root 2
    c.Connect(2, 0);
    int cIx = c.AddItem("c");  // 3
    c.Connect(2, cIx);          // before b in the root's list
    c.Connect(2, 1);
    c.PutInt(dispidAutoArrange, 2);
    EXPECT_LT(c.Item(dispidItemXPos, 0), c.Item(dispidItemXPos, 1));
    EXPECT_LT(c.Item(dispidItemXPos, 1), c.Item(dispidItemXPos, 3));
}

TEST(GraphModel, RemoveFromRemovesOneConnection) {
    Control c;
    c.AddItem("a");
    c.AddItem("b");
    c.Connect(0, 1);
    c.Connect(1, 0);
    c.Put(dispidRemoveFrom, Variant::I2(1), {Variant::I2(0)});
    c.PutInt(dispidQueryData, 0);
    c.PutInt(dispidQueryState, 8);
    EXPECT_EQ(c.GetInt(dispidQueryCount), 1);
    EXPECT_EQ(c.GetInt(dispidConnectFromIndex), 1);
}

TEST(GraphModel, ItemIndexMovesAnItemAndTheSelectionFollows) {
    Control c;
    for (const char* n : {"a", "b", "c", "d"}) c.AddItem(n);
    c.PutInt(dispidSelectedIndex, 0);
    c.Put(dispidItemIndex, Variant::I2(2), {Variant::I2(0)});
    EXPECT_EQ(c.GetText(dispidList, {Variant::I2(0)}), "b");
    EXPECT_EQ(c.GetText(dispidList, {Variant::I2(2)}), "a");
    EXPECT_EQ(c.GetInt(dispidSelectedIndex), 2);
    c.Put(dispidItemIndex, Variant::I2(9), {Variant::I2(0)});  // out of range
    EXPECT_EQ(c.GetText(dispidList, {Variant::I2(0)}), "b");
    // Another item moved across the selection: the selection stays on its item.
    c.Put(dispidItemIndex, Variant::I2(3), {Variant::I2(0)});  // b to the end: c a d b
    EXPECT_EQ(c.GetInt(dispidSelectedIndex), 1);
    EXPECT_EQ(c.GetText(dispidList, {Variant::I2(1)}), "a");
    c.Put(dispidItemIndex, Variant::I2(0), {Variant::I2(3)});  // b to the front: b c a d
    EXPECT_EQ(c.GetInt(dispidSelectedIndex), 2);
    EXPECT_EQ(c.GetText(dispidList, {Variant::I2(2)}), "a");
}

TEST(GraphModel, ItemPositionPutsKeepTheSize) {
    Control c;
    c.AddItem("a");
    c.PutItem(dispidItemWidth, 0, 80);
    c.PutItem(dispidItemXPos, 0, 300);
    c.PutItem(dispidItemYPos, 0, -40);
    EXPECT_EQ(c.ItemRect(0), (std::vector<int32_t>{300, -40, 380, 10}));
    c.PutItem(dispidItemLabelWidth, 0, 30);
    c.PutItem(dispidItemLabelLeft, 0, 5);
    EXPECT_EQ(c.Item(dispidItemLabelWidth, 0), 30);
    EXPECT_EQ(c.Item(dispidItemLabelLeft, 0), 5);
}

// Each Clear used to append another placeholder to the graphics table.
TEST(GraphModel, ClearKeepsExactlyOnePlaceholder) {
    Control c;
    for (int i = 0; i < 3; ++i) c.Call(dispidClear);
    EXPECT_EQ(c.GetInt(dispidGraphicCount), 1);
    EXPECT_EQ(c.GetText(dispidGraphicName, {Variant::I2(0)}), "<No Graphic>");
    // A run-time entry goes with Clear; entry 0 stays.
    c.Put(dispidGraphicName, Variant::Str("Logo"), {Variant::I2(1)});
    EXPECT_EQ(c.GetInt(dispidGraphicCount), 2);
    c.Call(dispidClear);
    EXPECT_EQ(c.GetInt(dispidGraphicCount), 1);
    EXPECT_EQ(c.GetText(dispidGraphicName, {Variant::I2(0)}), "<No Graphic>");
}

TEST(GraphModel, RemovingAGraphicsEntryResetsItemsShowingIt) {
    Control c;
    c.Put(dispidGraphicName, Variant::Str("One"), {Variant::I2(1)});
    c.Put(dispidGraphicName, Variant::Str("Two"), {Variant::I2(2)});
    c.AddItem("a");
    c.AddItem("b");
    c.PutItem(dispidItemGraphic, 0, 1);
    c.PutItem(dispidItemGraphic, 1, 2);
    c.Put(dispidGraphicName, Variant::Str(""), {Variant::I2(1)});
    EXPECT_EQ(c.GetInt(dispidGraphicCount), 2);
    EXPECT_EQ(c.Item(dispidItemGraphic, 0), 0);
    EXPECT_EQ(c.Item(dispidItemGraphic, 1), 1);
    EXPECT_EQ(c.GetText(dispidGraphicName, {Variant::I2(1)}), "Two");
    c.Put(dispidGraphicName, Variant::Str(""), {Variant::I2(0)});  // the placeholder stays
    EXPECT_EQ(c.GetText(dispidGraphicName, {Variant::I2(0)}), "<No Graphic>");
}
