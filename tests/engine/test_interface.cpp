// The engine object through the runtime: creation, members, checks, error
// information, dispatch access and refused input.
#include <cmath>
#include <limits>

#include "LargestAllocation.h"
#include "EngineClient.h"

using namespace trxtest;

namespace {

const char* kText3842 = "Initialize: (Bad Argument)\nFieldCound must be between 2 and 255";
const char* kText3843 = "Initialize: (Second Initialize)\nObject cannot be initialized more than once.";
const char* kText3844 =
    "AddData: (Invalid Array)\nInput Array must be a 2 dimentional array of singles.  The first dimention "
    "must the size specified in Initialize().";
const char* kText3845 = "Invalid Procedure Call\nObject must be initialized first.";
const char* kText3848 = "BuildTree: Object not initialized or input data not added.";
const char* kText3849 = "Output class cannot contain missing values.";

com::ComPtr<ITRXTree> Initialized(SHORT fields) {
    auto trx = Create();
    EXPECT_EQ(trx->Initialize(fields), S_OK);
    return trx;
}

}  // namespace

TEST(EngineCreation, ByClsidAndByProgId) {
    auto byClsid = Create();
    ASSERT_TRUE(byClsid);
    com::ComPtr<ITRXTree> byProgId, byCurVer;
    ASSERT_EQ(com::CreateInstance("TRXTree.TRXTree.1", IID_ITRXTree, byProgId.PutVoid()), S_OK);
    ASSERT_EQ(com::CreateInstance("TRXTree.TRXTree", IID_ITRXTree, byCurVer.PutVoid()), S_OK);
    EXPECT_NE(byProgId.Get(), byClsid.Get());  // each creation is a new object

    CLSID clsid{};
    EXPECT_EQ(CLSIDFromProgID(u"TRXTree.TRXTree", &clsid), S_OK);
    EXPECT_EQ(clsid, CLSID_TRXTree);
    LPOLESTR progId = nullptr;
    ASSERT_EQ(ProgIDFromCLSID(CLSID_TRXTree, &progId), S_OK);
    EXPECT_EQ(std::u16string(progId), u"TRXTree.TRXTree.1");
    CoTaskMemFree(progId);

    com::ComPtr<IDispatch> disp;
    com::ComPtr<ISupportErrorInfo> sei;
    com::ComPtr<IConnectionPointContainer> cpc;
    com::ComPtr<IClassFactory> none;
    EXPECT_EQ(byClsid.As(IID_IDispatch, &disp), S_OK);
    EXPECT_EQ(byClsid.As(IID_ISupportErrorInfo, &sei), S_OK);
    EXPECT_EQ(byClsid.As(IID_IConnectionPointContainer, &cpc), S_OK);
    EXPECT_EQ(byClsid.As(IID_IClassFactory, &none), E_NOINTERFACE);
    EXPECT_EQ(sei->InterfaceSupportsErrorInfo(IID_ITRXTree), S_OK);
    EXPECT_EQ(sei->InterfaceSupportsErrorInfo(IID_IDispatch), S_FALSE);

    com::ComPtr<IConnectionPoint> cp;
    ASSERT_EQ(cpc->FindConnectionPoint(DIID_ITRXEvents, cp.Put()), S_OK);
    IID iid{};
    EXPECT_EQ(cp->GetConnectionInterface(&iid), S_OK);
    EXPECT_EQ(iid, DIID_ITRXEvents);
    EXPECT_EQ(cpc->FindConnectionPoint(IID_ITRXTree, cp.Put()), CONNECT_E_NOCONNECTION);
}

TEST(EngineMembers, InitialValuesAndRangeChecksBeforeInitialize) {
    auto trx = Create();
    SHORT s = -5;
    LONG l = -5;
    FLOAT f = -5;
    EXPECT_EQ(trx->get_FieldCount(&s), S_OK);
    EXPECT_EQ(s, 0);
    EXPECT_EQ(trx->get_RowCount(&l), S_OK);
    EXPECT_EQ(l, 0);
    EXPECT_EQ(trx->get_PruneRate(&f), S_OK);
    EXPECT_EQ(f, 75.0f);
    EXPECT_EQ(trx->get_MinItems(&l), S_OK);
    EXPECT_EQ(l, 2);
    // No field exists yet: every field number is out of range.
    EXPECT_EQ(trx->get_FieldType(0, &s), E_INVALIDARG);
    EXPECT_EQ(trx->put_FieldType(0, 0), E_INVALIDARG);
    EXPECT_EQ(trx->get_MaxClass(0, &s), E_INVALIDARG);
    EXPECT_EQ(ErrorText(trx.Get()), "");
    EXPECT_EQ(trx->ClearTree(), S_OK);
    EXPECT_EQ(trx->ClearData(), S_OK);
}

TEST(EngineMembers, InitializeChecksAndSetsUpFields) {
    auto trx = Create();
    std::string source;
    EXPECT_EQ(trx->Initialize(1), E_FAIL);
    EXPECT_EQ(ErrorText(trx.Get(), &source), kText3842);
    EXPECT_EQ(source, "TRXTree.TRXTree.1");
    EXPECT_EQ(trx->Initialize(256), E_FAIL);
    EXPECT_EQ(ErrorText(trx.Get()), kText3842);
    ASSERT_EQ(trx->Initialize(2), S_OK);
    EXPECT_EQ(trx->Initialize(2), E_FAIL);
    EXPECT_EQ(ErrorText(trx.Get()), kText3843);

    auto wide = Initialized(255);
    SHORT s = 0;
    EXPECT_EQ(wide->get_FieldCount(&s), S_OK);
    EXPECT_EQ(s, 255);
    EXPECT_EQ(wide->get_FieldType(254, &s), S_OK);
    EXPECT_EQ(s, 3);
    EXPECT_EQ(wide->get_FieldType(0, &s), S_OK);
    EXPECT_EQ(s, 0);
    EXPECT_EQ(wide->get_FieldType(255, &s), E_INVALIDARG);
    EXPECT_EQ(wide->get_FieldType(-1, &s), E_INVALIDARG);
    EXPECT_EQ(wide->get_MaxClass(17, &s), S_OK);
    EXPECT_EQ(s, 0);
}

TEST(EngineMembers, PruneRateAndMinItemsLimits) {
    auto trx = Create();
    FLOAT f = 0;
    EXPECT_EQ(trx->put_PruneRate(-0.5f), E_INVALIDARG);
    EXPECT_EQ(trx->put_PruneRate(100.5f), E_INVALIDARG);
    EXPECT_EQ(trx->put_PruneRate(std::numeric_limits<float>::quiet_NaN()), E_INVALIDARG);
    EXPECT_EQ(ErrorText(trx.Get()), "");
    trx->get_PruneRate(&f);
    EXPECT_EQ(f, 75.0f);
    EXPECT_EQ(trx->put_PruneRate(100.0f), S_OK);
    EXPECT_EQ(trx->put_PruneRate(0.0f), S_OK);
    trx->get_PruneRate(&f);
    EXPECT_EQ(f, 0.0f);
    LONG l = 0;
    EXPECT_EQ(trx->put_MinItems(-1), E_INVALIDARG);
    EXPECT_EQ(trx->put_MinItems(0), S_OK);
    trx->get_MinItems(&l);
    EXPECT_EQ(l, 0);
}

TEST(EngineMembers, MaxClassOnClassAndInputFields) {
    auto trx = Initialized(3);
    SHORT s = 0;
    EXPECT_EQ(trx->put_MaxClass(2, 4), S_OK);  // class field: classes 0..3
    EXPECT_EQ(trx->get_MaxClass(0, &s), S_OK);
    EXPECT_EQ(s, 3);
    EXPECT_EQ(trx->put_MaxClass(1, 7), S_OK);  // an input field's value count
    EXPECT_EQ(trx->get_MaxClass(1, &s), S_OK);
    EXPECT_EQ(s, 3);                           // the get always answers the class maximum
    EXPECT_EQ(trx->put_MaxClass(3, 1), E_INVALIDARG);

    // Below codes already stored: refused, as they would index past the tables.
    auto stored = Initialized(3);
    stored->put_FieldType(1, 2);
    ASSERT_EQ(Add(stored.Get(), {{0.5f, 5, 2}, {1.5f, 3, 0}}), S_OK);
    EXPECT_EQ(stored->get_MaxClass(2, &s), S_OK);
    EXPECT_EQ(s, 2);
    EXPECT_EQ(stored->put_MaxClass(2, 2), E_INVALIDARG);  // class 2 is stored
    EXPECT_EQ(stored->put_MaxClass(1, 4), E_INVALIDARG);  // value 5 is stored
    EXPECT_EQ(stored->put_MaxClass(1, -1), E_INVALIDARG);
    EXPECT_EQ(stored->get_MaxClass(2, &s), S_OK);
    EXPECT_EQ(s, 2);
    EXPECT_EQ(stored->put_MaxClass(2, 3), S_OK);
    EXPECT_EQ(stored->put_MaxClass(1, 5), S_OK);
}

TEST(EngineMembers, FieldTypeMovesTheClassDesignation) {
    auto trx = Initialized(4);
    trx->put_FieldType(1, 2);
    SHORT k[4];
    auto kinds = [&] {
        for (SHORT i = 0; i < 4; ++i) trx->get_FieldType(i, &k[i]);
        return std::vector<int>(k, k + 4);
    };
    EXPECT_EQ(kinds(), (std::vector<int>{0, 2, 0, 3}));
    EXPECT_EQ(trx->put_FieldType(1, 3), S_OK);  // the kinds between shift up by one
    EXPECT_EQ(kinds(), (std::vector<int>{0, 3, 2, 0}));
    EXPECT_EQ(trx->put_FieldType(3, 3), S_OK);  // and back, shifting down
    EXPECT_EQ(kinds(), (std::vector<int>{0, 2, 0, 3}));
    EXPECT_EQ(trx->put_FieldType(0, 7), S_OK);  // the kind itself is not checked
    EXPECT_EQ(kinds(), (std::vector<int>{7, 2, 0, 3}));
}

TEST(EngineAddData, ArrayChecks) {
    auto fresh = Create();
    EXPECT_EQ(Add(fresh.Get(), {{1, 0}}), E_FAIL);
    EXPECT_EQ(ErrorText(fresh.Get()), kText3845);

    auto trx = Initialized(2);
    SAFEARRAY* vec = SafeArrayCreateVector(VT_R4, 0, 4);
    EXPECT_EQ(trx->AddData(&vec), E_FAIL);
    EXPECT_EQ(ErrorText(trx.Get()), kText3844);
    SafeArrayDestroy(vec);

    SAFEARRAY* doubles = MakeRows({{1, 0}, {2, 1}}, VT_R8);
    EXPECT_EQ(trx->AddData(&doubles), E_FAIL);
    EXPECT_EQ(ErrorText(trx.Get()), kText3844);
    SafeArrayDestroy(doubles);

    EXPECT_EQ(Add(trx.Get(), {{1, 2, 0}}), E_FAIL);  // leftmost dimension FieldCount+1
    EXPECT_EQ(ErrorText(trx.Get()), kText3844);

    SAFEARRAYBOUND none[2] = {{2, 0}, {0, 0}};
    SAFEARRAY* empty = SafeArrayCreate(VT_R4, 2, none);
    EXPECT_EQ(trx->AddData(&empty), E_FAIL);
    EXPECT_EQ(ErrorText(trx.Get()), kText3844);
    SafeArrayDestroy(empty);

    SAFEARRAY* null = nullptr;
    EXPECT_EQ(trx->AddData(&null), E_FAIL);
    EXPECT_EQ(ErrorText(trx.Get()), kText3844);

    // Lower bounds are not looked at.
    SAFEARRAYBOUND shifted[2] = {{2, 5}, {3, -7}};
    SAFEARRAY* odd = SafeArrayCreate(VT_R4, 2, shifted);
    EXPECT_EQ(trx->AddData(&odd), S_OK);
    SafeArrayDestroy(odd);
    LONG rows = 0;
    trx->get_RowCount(&rows);
    EXPECT_EQ(rows, 3);
}

TEST(EngineAddData, MissingClassRefusesTheWholeCall) {
    auto trx = Initialized(2);
    ASSERT_EQ(Add(trx.Get(), {{1, 0}, {2, 1}}), S_OK);
    EXPECT_EQ(Add(trx.Get(), {{1, 0}, {2, 5}, {3, M}, {4, 1}}), E_FAIL);
    EXPECT_EQ(ErrorText(trx.Get()), kText3849);
    LONG rows = 0;
    SHORT maxClass = 0;
    trx->get_RowCount(&rows);
    trx->get_MaxClass(1, &maxClass);
    EXPECT_EQ(rows, 2);
    EXPECT_EQ(maxClass, 1);  // the 5 of the refused call was not taken
}

TEST(EngineAddData, RefusesValuesThatCannotBeStored) {
    auto trx = Initialized(3);
    trx->put_FieldType(1, 2);
    // Only the discrete field separates; 2 values < 0.3 x 8 rows keeps it in the average gain.
    ASSERT_EQ(Add(trx.Get(), {{1, 1, 0}, {1, 2, 1}, {1, 1, 0}, {1, 2, 1}, {1, 1, 0}, {1, 2, 1}, {1, 1, 0}, {1, 2, 1}}), S_OK);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const std::vector<std::vector<std::vector<float>>> bad = {
        {{1, 1, 4}, {1, 1, -2}},       // negative class
        {{1, 9, 0}, {1, 1, 40000}},    // class beyond 16 bits
        {{1, 9, 0}, {1, 70000, 0}},    // discrete value beyond 16 bits
        {{1, 9, 0}, {1, -3, 0}},       // negative discrete value
        {{1, 9, 6}, {nan, 1, 0}},      // NaN
        {{1, 9, 6}, {inf, 1, 0}},      // infinite
        {{1, 9, 6}, {1, -inf, 0}},
        {{1, 9, 6}, {1, 1, nan}},
    };
    for (const auto& rows : bad) {
        EXPECT_EQ(Add(trx.Get(), rows), E_INVALIDARG);
        EXPECT_EQ(ErrorText(trx.Get()), "");
    }
    LONG n = 0;
    SHORT maxClass = 0;
    trx->get_RowCount(&n);
    trx->get_MaxClass(2, &maxClass);
    EXPECT_EQ(n, 8);
    EXPECT_EQ(maxClass, 1);
    // The discrete value 9 of the refused calls raised nothing: a split on the field
    // still has two branches.
    trx->put_MinItems(1);
    trx->put_PruneRate(0);
    Tree t = Build(trx.Get());
    ASSERT_EQ(t.nodes.size(), 3u);
    EXPECT_EQ(t.nodes[1].field, 1);
    EXPECT_EQ(t.nodes[0].forks, 2);
    EXPECT_EQ(t.width, 2);

    // An ignored field cannot be loaded.
    auto ignored = Initialized(3);
    ignored->put_FieldType(0, 1);
    EXPECT_EQ(Add(ignored.Get(), {{1, 1, 0}}), E_INVALIDARG);
    ignored->get_RowCount(&n);
    EXPECT_EQ(n, 0);
}

TEST(EngineAddData, DiscreteAndContinuousCoding) {
    // -999 in a discrete field is unknown; -999.0001 in a continuous field is a value.
    auto trx = Initialized(3);
    trx->put_FieldType(1, 2);
    const float notMissing = -999.0001220703125f;
    ASSERT_EQ(Add(trx.Get(), {{notMissing, 1.9f, 0}, {notMissing, 1, 0}, {5, 2.2f, 1}, {5, M, 1}}), S_OK);
    SHORT maxClass = 0;
    trx->get_MaxClass(0, &maxClass);
    EXPECT_EQ(maxClass, 1);
    trx->put_MinItems(1);
    trx->put_PruneRate(0);
    Tree t = Build(trx.Get());
    // The continuous field separates the classes without unknowns (gain 1, split
    // information 1); the discrete one (values 1, 1, 2, unknown) does worse.
    ASSERT_EQ(t.nodes.size(), 3u);
    EXPECT_EQ(t.nodes[1].field, 0);
    EXPECT_EQ(t.nodes[1].type, 2);
    EXPECT_FLOAT_EQ(t.nodes[1].cut, notMissing);
}

TEST(EngineBuild, BeforeDataAndBeforeInitialize) {
    auto fresh = Create();
    SAFEARRAY* nt = nullptr;
    SAFEARRAY* ci = nullptr;
    EXPECT_EQ(fresh->BuildTree(&nt, &ci), E_FAIL);
    EXPECT_EQ(ErrorText(fresh.Get()), kText3848);
    auto trx = Initialized(2);
    EXPECT_EQ(trx->BuildTree(&nt, &ci), E_FAIL);
    EXPECT_EQ(ErrorText(trx.Get()), kText3848);
    EXPECT_EQ(nt, nullptr);
    EXPECT_EQ(ci, nullptr);
}

TEST(EngineDispatch, NamesAndLateBoundCalls) {
    auto trx = Create();
    com::ComPtr<IDispatch> disp;
    ASSERT_EQ(trx.As(IID_IDispatch, &disp), S_OK);
    const char16_t* names[] = {u"Initialize", u"AddData", u"BuildTree", u"ClearTree", u"ClearData", u"FieldType",
                               u"PruneRate", u"FieldCount", u"RowCount", u"MaxClass", u"minitems"};
    for (int i = 0; i < 11; ++i) {
        std::u16string name(names[i]);
        LPOLESTR p = name.data();
        DISPID id = 0;
        EXPECT_EQ(disp->GetIDsOfNames(IID_NULL, &p, 1, LOCALE_USER_DEFAULT, &id), S_OK);
        EXPECT_EQ(id, i + 1);
    }
    std::u16string unknown = u"Grow";
    LPOLESTR p = unknown.data();
    DISPID id = 0;
    EXPECT_EQ(disp->GetIDsOfNames(IID_NULL, &p, 1, LOCALE_USER_DEFAULT, &id), DISP_E_UNKNOWNNAME);

    // Errors arrive as exceptions carrying the text.
    com::ExcepInfo ex;
    com::Variant r;
    EXPECT_EQ(com::Invoke(disp.Get(), DISPID_TRX_Initialize, DISPATCH_METHOD, {com::Variant::I2(300)}, &r, &ex),
              DISP_E_EXCEPTION);
    // The exception's code is 0x80040000 + the error's number; the vtable answer stays E_FAIL.
    EXPECT_EQ(ex.scode, HRESULT(0x80040F02));
    EXPECT_EQ(com::ToUtf8(ex.bstrDescription, SysStringLen(ex.bstrDescription)), kText3842);
    EXPECT_EQ(com::ToUtf8(ex.bstrSource, SysStringLen(ex.bstrSource)), "TRXTree.TRXTree.1");
    com::ExcepInfo early;
    com::Variant n1, n2;
    VARIANT r1, r2;
    r1.vt = r2.vt = VT_BYREF | VT_VARIANT;
    r1.pvarVal = &n1;
    r2.pvarVal = &n2;
    EXPECT_EQ(com::Invoke(disp.Get(), DISPID_TRX_BuildTree, DISPATCH_METHOD, {r1, r2}, &r, &early),
              DISP_E_EXCEPTION);
    EXPECT_EQ(early.scode, HRESULT(0x80040F00 + 3848 - 3840));

    ASSERT_EQ(com::Invoke(disp.Get(), DISPID_TRX_Initialize, DISPATCH_METHOD, {com::Variant::I4(2)}, &r), S_OK);
    EXPECT_EQ(com::PropertyGet(disp.Get(), DISPID_TRX_FieldCount, &r), S_OK);
    EXPECT_EQ(r.ToI4(), 2);
    EXPECT_EQ(com::PropertyPut(disp.Get(), DISPID_TRX_PruneRate, com::Variant::R8(0)), S_OK);
    EXPECT_EQ(com::PropertyPut(disp.Get(), DISPID_TRX_PruneRate, com::Variant::R4(101)), E_INVALIDARG);
    EXPECT_EQ(com::PropertyPut(disp.Get(), DISPID_TRX_MinItems, com::Variant::I4(1)), S_OK);
    EXPECT_EQ(com::PropertyPut(disp.Get(), DISPID_TRX_MaxClass, com::Variant::I2(2), {com::Variant::I2(1)}), S_OK);
    EXPECT_EQ(com::PropertyGet(disp.Get(), DISPID_TRX_MaxClass, &r, {com::Variant::I2(0)}), S_OK);
    EXPECT_EQ(r.ToI4(), 1);
    EXPECT_EQ(com::PropertyGet(disp.Get(), DISPID_TRX_FieldType, &r, {com::Variant::I2(1)}), S_OK);
    EXPECT_EQ(r.ToI4(), 3);

    SAFEARRAY* rows = MakeRows({{1, 0}, {2, 0}, {3, 1}, {4, 1}});
    com::Variant arg = com::Variant::Array(rows, VT_R4);
    ASSERT_EQ(com::Invoke(disp.Get(), DISPID_TRX_AddData, DISPATCH_METHOD, {arg}, &r), S_OK);
    EXPECT_EQ(com::PropertyGet(disp.Get(), DISPID_TRX_RowCount, &r), S_OK);
    EXPECT_EQ(r.ToI4(), 4);

    // BuildTree fills two by-reference Variants.
    com::Variant nodes, kids;
    VARIANT refNodes, refKids;
    refNodes.vt = VT_BYREF | VT_VARIANT;
    refNodes.pvarVal = &nodes;
    refKids.vt = VT_BYREF | VT_VARIANT;
    refKids.pvarVal = &kids;
    ASSERT_EQ(com::Invoke(disp.Get(), DISPID_TRX_BuildTree, DISPATCH_METHOD, {refNodes, refKids}, &r), S_OK);
    ASSERT_EQ(nodes.vt, VT_ARRAY | VT_VARIANT);
    ASSERT_EQ(kids.vt, VT_ARRAY | VT_I2);
    Tree t = Decode(nodes.parray, kids.parray);
    ASSERT_EQ(t.nodes.size(), 3u);
    EXPECT_EQ(t.nodes[0].children, (std::vector<int>{1, 2}));
    EXPECT_EQ(t.nodes[1].cut, 2.0f);
}

// Layouts the engine does not define (the class moved away from the last field, a value
// count put on a continuous field) build some tree without reading outside the tables.
TEST(EngineBuild, UndefinedLayoutsStaySafe) {
    auto moved = Initialized(3);
    ASSERT_EQ(moved->put_FieldType(0, 3), S_OK);
    ASSERT_EQ(moved->put_FieldType(2, 2), S_OK);
    moved->put_MinItems(1);
    ASSERT_EQ(Add(moved.Get(), {{0, 1.5f, 7}, {1, 2.5f, 3}, {1, 3.5f, 9}, {0, 4.5f, 1}, {1, 0.1f, 2}}), S_OK);
    HRESULT hr = S_OK;
    Tree t = Build(moved.Get(), &hr);
    EXPECT_EQ(hr, S_OK);
    EXPECT_FALSE(t.nodes.empty());

    auto counted = Initialized(3);
    counted->put_MinItems(1);
    ASSERT_EQ(counted->put_MaxClass(0, 3), S_OK);  // field 0 stays continuous in AddData
    ASSERT_EQ(Add(counted.Get(), {{0.1f, 1, 0}, {-7.3f, 2, 1}, {2.0f, 1, 0}, {M, 2, 1}, {1e-3f, 1, 1}}), S_OK);
    t = Build(counted.Get(), &hr);
    EXPECT_EQ(hr, S_OK);
    for (const Node& n : t.nodes) EXPECT_LE(n.forks, 3);

    // No class field at all, and no class declared.
    auto classless = Initialized(2);
    ASSERT_EQ(classless->put_MaxClass(1, 0), S_OK);
    ASSERT_EQ(classless->put_FieldType(1, 0), S_OK);
    ASSERT_EQ(Add(classless.Get(), {{1, 5}, {2, 6}, {3, 7}, {4, 8}}), S_OK);
    t = Build(classless.Get(), &hr);
    EXPECT_EQ(hr, S_OK);
    ASSERT_EQ(t.nodes.size(), 1u);
    EXPECT_EQ(t.nodes[0].cls, 0);
}

// An error report that cannot be allocated must not leave the object as an
// exception: through the interface and through Invoke the caller gets an
// HRESULT, and the object goes on working.
TEST(EngineBoundary, AnAllocationFailureComesBackAsAnHresult) {
    auto trx = Create();
    com::ComPtr<IDispatch> disp;
    ASSERT_EQ(trx.As(IID_IDispatch, &disp), S_OK);
    VARIANT one;
    one.vt = VT_I2;
    one.iVal = 1;  // a refused field count: the engine reports it with a text
    DISPPARAMS params{&one, nullptr, 1, 0};
    HRESULT direct = S_OK, invoked = S_OK;
    {
        FailingAllocations failing;
        direct = trx->Initialize(1);
        invoked = disp->Invoke(DISPID_TRX_Initialize, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
    }
    EXPECT_EQ(direct, E_OUTOFMEMORY);
    EXPECT_EQ(invoked, E_OUTOFMEMORY);
    EXPECT_EQ(trx->Initialize(3), S_OK);
}
