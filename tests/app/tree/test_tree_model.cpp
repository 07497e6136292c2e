// The tree model, its stored form and the threshold rule, without engine or database.
#include <gtest/gtest.h>

#include <bit>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>

#include "CSplitRule.h"
#include "CTRXEventSink.h"
#include "CTreeBlob.h"
#include "CTreeError.h"
#include "CTreeModel.h"

namespace {

TRXNode MakeNode(int16_t type, int16_t forks, int16_t field, float cut, int16_t dis, int16_t cls, float items,
                 float errors) {
    TRXNode n;
    n.NodeType = type;
    n.Forks = forks;
    n.FieldNum = field;
    n.Cut = cut;
    n.DisClass = dis;
    n.Class = cls;
    n.Items = items;
    n.Errors = errors;
    return n;
}

// Root splits field 1 at 2.5; its second child splits categorical field 0 into
// three values; slots 3 (the widest node).
CTreeModel SampleTree() {
    std::vector<TRXNode> nodes = {
        MakeNode(-1, 2, -1, 2.5f, 0, 0, 150, 100),  // 0
        MakeNode(2, 0, 1, 2.5f, 1, 0, 50, 0),       // 1
        MakeNode(2, 3, 1, 2.5f, 2, 1, 100, 50),     // 2
        MakeNode(1, 0, 0, 0, 1, 1, 40, 2),          // 3
        MakeNode(1, 0, 0, 0, 2, 2, 35, 1.5f),       // 4
        MakeNode(1, 0, 0, 0, 3, 1, 25, 0),          // 5
    };
    std::vector<int16_t> children = {1, 2, 0, 0, 0, 0, 3, 4, 5, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    CTreeModel t;
    t.Assign(nodes, 3, children);
    return t;
}

std::string Le16(int v) { return std::string{char(v & 0xFF), char((v >> 8) & 0xFF)}; }
std::string Le32f(float f) {
    const uint32_t u = std::bit_cast<uint32_t>(f);
    return std::string{char(u & 0xFF), char((u >> 8) & 0xFF), char((u >> 16) & 0xFF), char(u >> 24)};
}

}  // namespace

TEST(TreeModel, ParentIndexAndLeaves) {
    const CTreeModel t = SampleTree();
    EXPECT_EQ(t.Nodes(), 6);
    EXPECT_EQ(t.LeafCount(), 4);
    EXPECT_EQ(t.Parent(0), 0);
    EXPECT_EQ(t.ParentSlot(0), 0);
    EXPECT_EQ(t.Parent(2), 0);
    EXPECT_EQ(t.ParentSlot(2), 1);
    EXPECT_EQ(t.Parent(5), 2);
    EXPECT_EQ(t.ParentSlot(5), 2);
    EXPECT_THROW(t.Node(6), CTreeError);
    EXPECT_THROW(t.Node(-1), CTreeError);
}

TEST(TreeModel, RefusesLinksThatAreNotATree) {
    auto nodes = SampleTree().AllNodes();
    auto children = SampleTree().AllChildren();
    CTreeModel t;
    auto backwards = children;
    backwards[6] = 1;  // node 2's first child is node 1, which the root already has
    EXPECT_THROW(t.Assign(nodes, 3, backwards), CTreeError);
    auto self = children;
    self[7] = 2;  // a node its own child: a walk would never end
    EXPECT_THROW(t.Assign(nodes, 3, self), CTreeError);
    auto outside = children;
    outside[8] = 6;
    EXPECT_THROW(t.Assign(nodes, 3, outside), CTreeError);
    auto wide = nodes;
    wide[2].Forks = 4;  // more branches than slots
    EXPECT_THROW(t.Assign(wide, 3, children), CTreeError);
    EXPECT_THROW(t.Assign({}, 0, {}), CTreeError);
    EXPECT_TRUE(t.Empty());  // a refused tree leaves nothing behind
}

TEST(TreeBlob, BytesOfTheStoredForm) {
    const CTreeModel t = SampleTree();
    const std::string blob = CTreeBlob::Pack(t);
    std::string expected = "~*TRX" + Le16(2) + Le16(1) + Le16(16) + "*" + Le16(6) + Le16(3) + std::string(16, '\0');
    ASSERT_EQ(expected.size(), 32u);
    const int children[6][3] = {{1, 2, 0}, {0, 0, 0}, {3, 4, 5}, {0, 0, 0}, {0, 0, 0}, {0, 0, 0}};
    for (int n = 0; n < 6; ++n) {
        const TRXNode& x = t.Node(n);
        expected += Le16(x.NodeType) + Le16(x.Forks) + Le16(x.FieldNum) + Le32f(x.Cut) + Le16(x.DisClass) +
                    Le16(x.Class) + Le32f(x.Items) + Le32f(x.Errors);
        for (int b = 0; b < x.Forks; ++b) expected += Le16(children[n][b]);
    }
    EXPECT_EQ(blob.size(), 32u + 6 * 22 + 2 * 2 + 3 * 2);
    EXPECT_EQ(blob, expected);
}

TEST(TreeBlob, SingleLeafStoresNoSlotsAndReloadsWithOne) {
    CTreeModel t;
    t.Assign({MakeNode(-1, 0, -1, 0, 0, 2, 29, 0)}, 0, {});
    const std::string blob = CTreeBlob::Pack(t);
    EXPECT_EQ(blob.size(), 54u);
    EXPECT_EQ(blob.substr(14, 2), Le16(0));
    CTreeModel back;
    ASSERT_EQ(CTreeBlob::Unpack(blob, &back), CTreeBlob::Result::Loaded);
    EXPECT_EQ(back.Slots(), 1);
    EXPECT_EQ(back.LeafCount(), 1);
    EXPECT_EQ(back.Parent(0), 0);
    EXPECT_EQ(back.ParentSlot(0), 0);
    EXPECT_TRUE(back == t);
}

TEST(TreeBlob, EveryByteValueSurvives) {
    // Floats whose bytes hold 0x00, 0x80..0x9F and 0xFF.
    CTreeModel t;
    std::vector<TRXNode> nodes = {MakeNode(-1, 2, -1, std::bit_cast<float>(0x9F8D8100u), 0, 0, 3, 1),
                                  MakeNode(2, 0, 0, std::bit_cast<float>(0x00819D8Fu), 1, 0x0090, 1, 0),
                                  MakeNode(2, 0, 0, std::bit_cast<float>(0x9F8D8100u), 2, 0x7F80,
                                           std::bit_cast<float>(0x3F8080FFu), std::bit_cast<float>(0x009F0081u))};
    t.Assign(nodes, 2, {1, 2, 0, 0, 0, 0});
    const std::string blob = CTreeBlob::Pack(t);
    bool seen[256] = {};
    for (unsigned char c : blob) seen[c] = true;
    for (int b : {0x00, 0x80, 0x81, 0x8D, 0x8F, 0x90, 0x9D, 0x9F}) EXPECT_TRUE(seen[b]) << b;
    CTreeModel back;
    ASSERT_EQ(CTreeBlob::Unpack(blob, &back), CTreeBlob::Result::Loaded);
    EXPECT_TRUE(back == t);
    EXPECT_EQ(CTreeBlob::Pack(back), blob);
}

TEST(TreeBlob, TruncatedOrDamagedBlobIsRefusedWithAReason) {
    const std::string blob = CTreeBlob::Pack(SampleTree());
    for (size_t len = 5; len < blob.size(); ++len) {
        CTreeModel back = SampleTree();
        try {
            CTreeBlob::Unpack(blob.substr(0, len), &back);
            ADD_FAILURE() << "a blob cut to " << len << " bytes was taken";
        } catch (const CTreeError& e) {
            EXPECT_EQ(e.Number(), 13);
            EXPECT_NE(std::string(e.what()).find("damaged"), std::string::npos);
        }
        EXPECT_TRUE(back == SampleTree());  // nothing changed on refusal
    }
    CTreeModel back;
    EXPECT_THROW(CTreeBlob::Unpack(blob + "x", &back), CTreeError);
    std::string badChild = blob;
    badChild[32 + 22] = 0;  // the root's first child becomes node 0
    EXPECT_THROW(CTreeBlob::Unpack(badChild, &back), CTreeError);
    std::string manyForks = blob;
    manyForks[32 + 2] = 0x40;  // the root claims 64 branches
    EXPECT_THROW(CTreeBlob::Unpack(manyForks, &back), CTreeError);
    std::string noNodes = blob;
    noNodes[12] = 0;
    noNodes[13] = 0;
    EXPECT_THROW(CTreeBlob::Unpack(noNodes, &back), CTreeError);
}

TEST(TreeBlob, MarkerAndVersionRefusalsAreSilent) {
    const CTreeModel t = SampleTree();
    CTreeModel back;
    EXPECT_EQ(CTreeBlob::Unpack("", &back), CTreeBlob::Result::NoTree);
    EXPECT_EQ(CTreeBlob::Unpack("~*TR", &back), CTreeBlob::Result::NoTree);
    std::string other = CTreeBlob::Pack(t);
    other[0] = '#';
    EXPECT_EQ(CTreeBlob::Unpack(other, &back), CTreeBlob::Result::NoTree);
    EXPECT_EQ(CTreeBlob::Unpack(CTreeBlob::Pack(t, 2, 2, 0), &back), CTreeBlob::Result::NotThisVersion);
    EXPECT_EQ(CTreeBlob::Unpack(CTreeBlob::Pack(t, 0, 99, 99), &back), CTreeBlob::Result::NotThisVersion);
    EXPECT_TRUE(back.Empty());
    EXPECT_EQ(CTreeBlob::Unpack(CTreeBlob::Pack(t, 1, 0, 0), &back), CTreeBlob::Result::Loaded);
    // The "*" and the reserved bytes are not looked at.
    std::string reserved = CTreeBlob::Pack(t);
    reserved[11] = '!';
    reserved[20] = char(0x9D);
    EXPECT_EQ(CTreeBlob::Unpack(reserved, &back), CTreeBlob::Result::Loaded);
    EXPECT_TRUE(back == t);
}

TEST(SplitRule, MissingValueCoding) {
    EXPECT_EQ(std::bit_cast<uint32_t>(CSplitRule::EngineValue(-999.0)), 0xC479C002u);
    EXPECT_EQ(double(CSplitRule::EngineValue(-999.0)), -999.0001220703125);
    EXPECT_EQ(CSplitRule::EngineValue(-998.5), -998.5f);
    EXPECT_EQ(std::bit_cast<uint32_t>(CSplitRule::kMissing), 0xC479C000u);
}

TEST(SplitRule, BoundSeparatesExactlyWhatTheFloatComparisonSeparates) {
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> value(-1e4, 1e4);
    for (int i = 0; i < 2000; ++i) {
        const float cut = float(value(rng));
        const double bound = CSplitRule::Bound(cut);
        EXPECT_LE(float(bound), cut);
        EXPECT_GT(float(std::nextafter(bound, 1e300)), cut);
        // Values right around the cut, where 8-byte and 4-byte comparisons differ.
        for (double v : {double(cut), std::nextafter(double(cut), 1e300), bound, std::nextafter(bound, 1e300),
                         std::nextafter(bound, -1e300)})
            EXPECT_EQ(v <= bound, float(v) <= cut) << v << " " << cut;
    }
    // Just above the cut as an 8-byte value, equal to it as the float training saw.
    const double above = std::nextafter(double(0.1f), 1.0);
    EXPECT_FALSE(above <= double(0.1f));
    EXPECT_TRUE(CSplitRule::GoesFirst(above, 0.1f));
    EXPECT_LE(above, CSplitRule::Bound(0.1f));
}

TEST(SplitRule, ClausesAreLocaleFreeAndQuoted) {
    const char* old = std::setlocale(LC_ALL, nullptr);
    std::string saved = old ? old : "C";
    std::setlocale(LC_ALL, "de_DE.UTF-8");  // a decimal comma where available
    EXPECT_EQ(CSplitRule::Number(42.5), "42.5");
    EXPECT_EQ(CSplitRule::Number(-3), "-3");
    std::setlocale(LC_ALL, saved.c_str());
    EXPECT_EQ(CSplitRule::Quote("O'Hara"), "'O''Hara'");
    EXPECT_EQ(CSplitRule::CutText(42.5f), "42.5");
    EXPECT_EQ(CSplitRule::CutText(0.1f), "0.1");
    EXPECT_EQ(float(std::strtod(CSplitRule::CutText(1.0f / 3.0f).c_str(), nullptr)), 1.0f / 3.0f);
    // The plain clause carries no terms that change nothing.
    EXPECT_EQ(CSplitRule::ThresholdClause("[Age]", "42.5", 42.5, 42.5f, true, false), "([Age] <= 42.5)");
    EXPECT_EQ(CSplitRule::ThresholdClause("[Age]", "42.5", 42.5, 42.5f, false, false), "([Age] > 42.5)");
    // A text column can hold "?", a missing value to the engine: never on the upper branch.
    EXPECT_EQ(CSplitRule::ThresholdClause("[Age]", "42.5", 42.5, 42.5f, false, true),
              "([Age] > 42.5 AND Trim([Age]) <> '?')");
    EXPECT_EQ(CSplitRule::ThresholdClause("[Age]", "42.5", 42.5, 42.5f, true, true), "([Age] <= 42.5)");
    // A cut just below -999: real -999 values trained below it.
    const float below = std::bit_cast<float>(0xC479C002u);
    const double b = CSplitRule::Bound(below);
    EXPECT_TRUE(CSplitRule::GoesFirst(-999.0, below));
    EXPECT_NE(CSplitRule::ThresholdClause("[x]", CSplitRule::Number(b), b, below, true, false).find("OR [x] = -999"),
              std::string::npos);
    EXPECT_NE(CSplitRule::ThresholdClause("[x]", CSplitRule::Number(b), b, below, false, false).find("AND [x] <> -999"),
              std::string::npos);
    // Away from -999 no such term.
    EXPECT_EQ(CSplitRule::ThresholdClause("[x]", "-5", -5, -5.0f, true, false).find("-999"), std::string::npos);
}

TEST(EventSink, ProgressReachesTheDriverAndCancelGoesBack) {
    std::vector<int> seen;
    auto sink = CTRXEventSink::Create([&](int16_t p, bool* cancel) {
        seen.push_back(p);
        *cancel = p >= 50;
    });
    SHORT cancelFlag = 0;
    VARIANT args[2];
    VariantInit(&args[0]);
    VariantInit(&args[1]);
    args[0].vt = VT_I2 | VT_BYREF;  // last argument first: Cancel
    args[0].piVal = &cancelFlag;
    args[1].vt = VT_I2;             // then Progress
    args[1].iVal = 20;
    DISPPARAMS params{args, nullptr, 2, 0};
    EXPECT_EQ(sink->Invoke(1, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr),
              S_OK);
    EXPECT_EQ(cancelFlag, 0);
    args[1].iVal = 60;
    sink->Invoke(1, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
    EXPECT_EQ(cancelFlag, -1);
    EXPECT_EQ(seen, (std::vector<int>{20, 60}));
    EXPECT_EQ(sink->Invoke(2, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr),
              DISP_E_MEMBERNOTFOUND);
    // After Detach a late event reaches nobody.
    sink->Detach();
    sink->Invoke(1, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
    EXPECT_EQ(seen.size(), 2u);
}
