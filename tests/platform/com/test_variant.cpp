// VARIANT ownership: clear, copy, copy through references.
#include <gtest/gtest.h>

#include "com/com.h"
#include "counted.h"

using com::Variant;
using testutil::Counted;

namespace {

TEST(ComVariant, ClearReleasesWhatItOwns) {
    bool gone = false;
    auto* obj = new Counted(&gone);
    {
        Variant v = Variant::Dispatch(obj);
        EXPECT_EQ(obj->refs, 2u);
        Variant copy = v;
        EXPECT_EQ(obj->refs, 3u);
        Variant moved = std::move(copy);
        EXPECT_EQ(obj->refs, 3u);
        EXPECT_TRUE(copy.IsEmpty());
    }
    EXPECT_EQ(obj->refs, 1u);
    obj->Release();
    EXPECT_TRUE(gone);

    // A by-reference variant does not own its target.
    LONG target = 5;
    Variant ref;
    ref.vt = VT_BYREF | VT_I4;
    ref.plVal = &target;
    EXPECT_EQ(VariantClear(&ref), S_OK);
    EXPECT_EQ(ref.vt, VT_EMPTY);
    EXPECT_EQ(target, 5);

    Variant bad;
    bad.vt = 0x0FFF;
    EXPECT_EQ(VariantClear(&bad), DISP_E_BADVARTYPE);
    bad.vt = VT_VARIANT;  // only valid by reference
    EXPECT_EQ(VariantClear(&bad), DISP_E_BADVARTYPE);
    bad.vt = VT_EMPTY;
}

TEST(ComVariant, CopyIsDeep) {
    Variant s = Variant::Str(std::u16string(u"x\0y", 3));
    Variant c;
    ASSERT_EQ(VariantCopy(&c, &s), S_OK);
    EXPECT_NE(c.bstrVal, s.bstrVal);
    EXPECT_EQ(SysStringLen(c.bstrVal), 3u);
    EXPECT_EQ(c.ToU16(), s.ToU16());

    // Copying over a value frees the old one (checked by the sanitizers' leak check).
    ASSERT_EQ(VariantCopy(&c, &s), S_OK);
    ASSERT_EQ(VariantCopy(&c, &c), S_OK);  // self-copy keeps the value
    EXPECT_EQ(c.ToU16(), s.ToU16());

    SAFEARRAY* psa = SafeArrayCreateVector(VT_BSTR, 0, 2);
    LONG i = 1;
    com::BStr word(std::string("word"));
    ASSERT_EQ(SafeArrayPutElement(psa, &i, word.Get()), S_OK);
    Variant a = Variant::Array(psa, VT_BSTR);
    EXPECT_EQ(a.vt, VT_ARRAY | VT_BSTR);
    Variant b = a;
    ASSERT_NE(b.parray, a.parray);
    BSTR got = nullptr;
    ASSERT_EQ(SafeArrayGetElement(b.parray, &i, &got), S_OK);
    EXPECT_EQ(std::u16string(got), u"word");
    SysFreeString(got);

    // A locked array cannot be cleared away.
    SafeArrayLock(a.parray);
    EXPECT_EQ(VariantClear(&a), DISP_E_ARRAYISLOCKED);
    SafeArrayUnlock(a.parray);
}

TEST(ComVariant, CopyIndFollowsReferences) {
    com::BStr text(std::string("abc"));
    BSTR raw = text.Get();
    Variant ref;
    ref.vt = VT_BYREF | VT_BSTR;
    ref.pbstrVal = &raw;
    Variant out;
    ASSERT_EQ(VariantCopyInd(&out, &ref), S_OK);
    EXPECT_EQ(out.vt, VT_BSTR);
    EXPECT_NE(out.bstrVal, raw);
    EXPECT_EQ(out.ToUtf8(), "abc");

    Variant shallow;
    ASSERT_EQ(VariantCopy(&shallow, &ref), S_OK);  // plain copy keeps the reference
    EXPECT_EQ(shallow.vt, VT_BYREF | VT_BSTR);
    EXPECT_EQ(shallow.pbstrVal, &raw);

    Variant inner = Variant::R8(2.5);
    Variant vref;
    vref.vt = VT_BYREF | VT_VARIANT;
    vref.pvarVal = &inner;
    ASSERT_EQ(VariantCopyInd(&out, &vref), S_OK);
    EXPECT_EQ(out.vt, VT_R8);
    EXPECT_EQ(out.dblVal, 2.5);

    SAFEARRAY* psa = SafeArrayCreateVector(VT_I4, 0, 3);
    Variant aref;
    aref.vt = VT_BYREF | VT_ARRAY | VT_I4;
    aref.pparray = &psa;
    ASSERT_EQ(VariantCopyInd(&out, &aref), S_OK);
    EXPECT_EQ(out.vt, VT_ARRAY | VT_I4);
    EXPECT_NE(out.parray, psa);
    SafeArrayDestroy(psa);

    Variant nullRef;
    nullRef.vt = VT_BYREF | VT_I4;
    nullRef.plVal = nullptr;
    EXPECT_EQ(VariantCopyInd(&out, &nullRef), E_INVALIDARG);
    nullRef.vt = VT_EMPTY;
}

TEST(ComVariant, ObjectsConvertThroughTheirDefaultMember) {
    auto* obj = new Counted();
    Variant v = Variant::Dispatch(obj);
    obj->Release();
    EXPECT_EQ(v.ToI4(), 41);
    EXPECT_EQ(v.ToUtf8(), "41");
    Variant out;
    EXPECT_EQ(VariantChangeType(&out, &v, VARIANT_NOVALUEPROP, VT_I4), DISP_E_TYPEMISMATCH);
    ASSERT_EQ(VariantChangeType(&out, &v, 0, VT_UNKNOWN), S_OK);
    EXPECT_EQ(out.vt, VT_UNKNOWN);
    EXPECT_EQ(obj->refs, 2u);
    out.Clear();
    EXPECT_EQ(obj->refs, 1u);
    EXPECT_EQ(VariantChangeType(&out, &v, 0, VT_NULL), DISP_E_TYPEMISMATCH);
}

}  // namespace

namespace {

TEST(ComDispatch, ArgumentsInNaturalOrder) {
    // f(a, b) with b passed by reference: rgvarg holds b first.
    Variant a = Variant::I4(1);
    Variant inner = Variant::Str("b");
    Variant byref;
    byref.vt = VT_BYREF | VT_VARIANT;
    byref.pvarVal = &inner;
    VARIANT args[2] = {byref, a};
    DISPPARAMS p{args, nullptr, 2, 0};
    ASSERT_NE(com::ArgAt(&p, 0), nullptr);
    EXPECT_EQ(com::ArgAt(&p, 0)->lVal, 1);
    EXPECT_EQ(com::ArgAt(&p, 1), &inner);  // the reference is followed
    EXPECT_EQ(com::ArgAt(&p, 2), nullptr);
    EXPECT_EQ(com::ArgAt(nullptr, 0), nullptr);
    byref.vt = VT_EMPTY;
}

TEST(ComDispatch, NamesToIdsIgnoringCase) {
    const std::vector<com::DispMember> members = {{1, "Initialize", "method Initialize"},
                                                  {7, "PruneRate", "property PruneRate"}};
    LPOLESTR names[] = {const_cast<LPOLESTR>(u"prunerate"), const_cast<LPOLESTR>(u"INITIALIZE")};
    DISPID ids[2] = {0, 0};
    ASSERT_EQ(com::LookupDispIds(members, names, 2, ids), S_OK);
    EXPECT_EQ(ids[0], 7);
    EXPECT_EQ(ids[1], 1);
    LPOLESTR bad[] = {const_cast<LPOLESTR>(u"Prune"), nullptr, const_cast<LPOLESTR>(u"Initialize ")};
    DISPID out[3];
    EXPECT_EQ(com::LookupDispIds(members, bad, 3, out), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(out[0], DISPID_UNKNOWN);
    EXPECT_EQ(out[1], DISPID_UNKNOWN);
    EXPECT_EQ(out[2], DISPID_UNKNOWN);
}

}  // namespace
