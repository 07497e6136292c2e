// Stored properties: the names and defaults the host keeps, the two blobs byte for
// byte, and a bag that comes back exactly as it was written.
#include "GraphTestSupport.h"

using namespace graphtest;
using namespace nodars;
using com::Variant;

namespace {

std::vector<uint8_t> DefaultGraphicsBlob() {
    std::vector<uint8_t> b = {38, 0, 0, 0, 1, 0, 0, 0, 12, 0};
    for (char ch : std::string("<No Graphic>")) b.push_back(uint8_t(ch));
    b.insert(b.end(), 16 + 4, 0);
    return b;
}

std::vector<uint8_t> DefaultEventsBlob() {
    std::vector<uint8_t> b = {48, 0, 0, 0};
    const int16_t table[24] = {51, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 24, 28, 0, 0, 0, 0, 0, 0};
    for (int16_t e : table) {
        b.push_back(uint8_t(e));
        b.push_back(uint8_t(e >> 8));
    }
    return b;
}

int32_t BagInt(const CPropertyBag& bag, const char* name) {
    const VARIANT* v = bag.ReadValue(name);
    EXPECT_NE(v, nullptr) << name;
    if (!v) return INT32_MIN;
    Variant c;
    EXPECT_EQ(VariantChangeType(&c, v, 0, VT_I4), S_OK);
    return c.lVal;
}

}  // namespace

TEST(GraphProps, DefaultsAndOrder) {
    Control c;
    CPropertyBag bag;
    ASSERT_EQ(c.Host()->SaveProperties(&bag), S_OK);
    std::vector<std::string> names;
    for (const auto& e : bag.Entries()) names.push_back(e.name);
    const std::vector<std::string> tail = {
        "ArrangeMode", "AutoArrange", "DragItems", "DrawArrows", "DrawBackLinks", "DrawColored",
        "DrawConnLabels", "DrawDir", "DrawHandles", "DrawItemLabels", "DrawScale", "FillColor", "Gap",
        "GraphicAllowImport", "LineWidth", "RubberBand", "SelectRectEnabled", "StoreGraphics", "xSpace",
        "xSpan", "ySpace", "ySpan", "AutoMouseEvents", "Graphics"};
    ASSERT_GE(names.size(), tail.size());
    EXPECT_EQ(std::vector<std::string>(names.end() - long(tail.size()), names.end()), tail);
    EXPECT_EQ(names.front(), "_Version");
    EXPECT_EQ(BagInt(bag, "_Version"), 0x00010002);
    EXPECT_EQ(BagInt(bag, "DrawBackLinks"), 2);
    EXPECT_EQ(BagInt(bag, "DrawDir"), 3);
    EXPECT_EQ(BagInt(bag, "DrawScale"), 100);
    EXPECT_EQ(BagInt(bag, "FillColor"), 0xFFFFFF);
    EXPECT_EQ(BagInt(bag, "Gap"), 10);
    EXPECT_EQ(BagInt(bag, "StoreGraphics"), 2);
    EXPECT_EQ(BagInt(bag, "xSpace"), 20);
    EXPECT_EQ(BagInt(bag, "xSpan"), 120);
    EXPECT_EQ(BagInt(bag, "ySpan"), 50);
    EXPECT_EQ(BagInt(bag, "DrawArrows"), -1);
    EXPECT_EQ(BagInt(bag, "DragItems"), 0);
    EXPECT_EQ(BagInt(bag, "SelectRectEnabled"), 0);
    // Neither Redraw nor PrintHeader is stored.
    EXPECT_EQ(bag.ReadValue("Redraw"), nullptr);
    EXPECT_EQ(bag.ReadValue("PrintHeader"), nullptr);
}

TEST(GraphProps, DefaultBlobsByteForByte) {
    Control c;
    CPropertyBag bag;
    c.Host()->SaveProperties(&bag);
    ASSERT_NE(bag.ReadBlob("AutoMouseEvents"), nullptr);
    ASSERT_NE(bag.ReadBlob("Graphics"), nullptr);
    EXPECT_EQ(*bag.ReadBlob("AutoMouseEvents"), DefaultEventsBlob());
    EXPECT_EQ(*bag.ReadBlob("Graphics"), DefaultGraphicsBlob());
}

TEST(GraphProps, WrittenAndReadBackIdentically) {
    Control a;
    a.PutInt(dispidArrangeMode, 2);
    a.PutInt(dispidDrawDir, 1);
    a.PutInt(dispidXSpan, 77);
    a.PutInt(dispidGap, 4);
    a.Put(dispidFillColor, Variant::I4(0x123456));
    a.Put(dispidDrawColored, Variant::Bool(false));
    a.Put(dispidSelectRectEnabled, Variant::Bool(true));
    a.PutItem(dispidAutoMouseEvent, 9, 17);
    a.Put(dispidGraphicName, Variant::Str("Logo"), {Variant::I2(1)});
    CPropertyBag bag;
    a.Host()->SaveProperties(&bag);
    const std::vector<uint8_t> bytes = bag.Serialize();

    CPropertyBag back;
    ASSERT_TRUE(back.Deserialize(bytes));
    Control b;
    ASSERT_EQ(b.Host()->LoadProperties(&back), S_OK);
    EXPECT_EQ(b.GetInt(dispidArrangeMode), 2);
    EXPECT_EQ(b.GetInt(dispidXSpan), 77);
    EXPECT_EQ(b.GetInt(dispidFillColor), 0x123456);
    EXPECT_FALSE(b.Get(dispidDrawColored).ToBool());
    EXPECT_EQ(b.Item(dispidAutoMouseEvent, 9), 17);
    EXPECT_EQ(b.GetInt(dispidGraphicCount), 2);
    EXPECT_EQ(b.GetText(dispidGraphicName, {Variant::I2(1)}), "Logo");
    CPropertyBag again;
    b.Host()->SaveProperties(&again);
    EXPECT_EQ(again.Serialize(), bytes);
}

TEST(GraphProps, MissingBlobsAndValuesTakeTheirDefaults) {
    Control c;
    c.PutItem(dispidAutoMouseEvent, 0, 3);
    c.Put(dispidGraphicName, Variant::Str("Logo"), {Variant::I2(1)});
    c.PutInt(dispidYSpace, 33);
    CPropertyBag bag;
    bag.WriteValue("xSpan", Variant::I2(64));
    ASSERT_EQ(c.Host()->LoadProperties(&bag), S_OK);
    EXPECT_EQ(c.GetInt(dispidXSpan), 64);
    EXPECT_EQ(c.GetInt(dispidYSpace), 20);
    EXPECT_EQ(c.Item(dispidAutoMouseEvent, 0), 51);
    EXPECT_EQ(c.GetInt(dispidGraphicCount), 1);

    c.PutInt(dispidXSpan, 10);
    c.Host()->ResetProperties();
    EXPECT_EQ(c.GetInt(dispidXSpan), 120);
}

TEST(GraphProps, DamagedBlobsAreIgnored) {
    Control c;
    CPropertyBag bag;
    bag.WriteBlob("AutoMouseEvents", {48, 0, 0, 0, 9, 0});  // cut short
    std::vector<uint8_t> graphics = DefaultGraphicsBlob();
    graphics[0] = 200;  // byte count disagrees
    bag.WriteBlob("Graphics", graphics);
    ASSERT_EQ(c.Host()->LoadProperties(&bag), S_OK);
    EXPECT_EQ(c.Item(dispidAutoMouseEvent, 0), 51);
    EXPECT_EQ(c.GetInt(dispidGraphicCount), 1);
    CPropertyBag broken;
    EXPECT_FALSE(broken.Deserialize({'N', 'D', 'P', 'B', 5, 0, 0, 0}));
    EXPECT_FALSE(broken.Deserialize({'X'}));
}

// Entries from the stored properties are run-time entries: the first Clear leaves
// exactly one placeholder.
TEST(GraphProps, ClearAfterLoadingLeavesOnePlaceholder) {
    Control a;
    a.Put(dispidGraphicName, Variant::Str("Logo"), {Variant::I2(1)});
    CPropertyBag bag;
    a.Host()->SaveProperties(&bag);
    Control b;
    b.Host()->LoadProperties(&bag);
    EXPECT_EQ(b.GetInt(dispidGraphicCount), 2);
    b.Call(dispidClear);
    b.Call(dispidClear);
    EXPECT_EQ(b.GetInt(dispidGraphicCount), 1);
    EXPECT_EQ(b.GetText(dispidGraphicName, {Variant::I2(0)}), "<No Graphic>");
}
