// SAFEARRAY bounds, memory layout, element ownership and locks.
#include <gtest/gtest.h>

#include "com/com.h"
#include "counted.h"

namespace {

struct ArrayOwner {
    SAFEARRAY* psa;
    ~ArrayOwner() { EXPECT_EQ(SafeArrayDestroy(psa), S_OK); }
};

TEST(ComSafeArray, BoundsPerDimension) {
    SAFEARRAYBOUND b[] = {{8, 0}, {5, -2}, {3, 10}};
    ArrayOwner a{SafeArrayCreate(VT_R4, 3, b)};
    ASSERT_NE(a.psa, nullptr);
    EXPECT_EQ(SafeArrayGetDim(a.psa), 3u);
    EXPECT_EQ(SafeArrayGetElemsize(a.psa), 4u);
    VARTYPE vt;
    ASSERT_EQ(SafeArrayGetVartype(a.psa, &vt), S_OK);
    EXPECT_EQ(vt, VT_R4);
    LONG lo, hi;
    ASSERT_EQ(SafeArrayGetLBound(a.psa, 1, &lo), S_OK);
    ASSERT_EQ(SafeArrayGetUBound(a.psa, 1, &hi), S_OK);
    EXPECT_EQ(lo, 0);
    EXPECT_EQ(hi, 7);
    ASSERT_EQ(SafeArrayGetLBound(a.psa, 2, &lo), S_OK);
    ASSERT_EQ(SafeArrayGetUBound(a.psa, 2, &hi), S_OK);
    EXPECT_EQ(lo, -2);
    EXPECT_EQ(hi, 2);
    ASSERT_EQ(SafeArrayGetUBound(a.psa, 3, &hi), S_OK);
    EXPECT_EQ(hi, 12);
    EXPECT_EQ(SafeArrayGetLBound(a.psa, 0, &lo), DISP_E_BADINDEX);
    EXPECT_EQ(SafeArrayGetUBound(a.psa, 4, &hi), DISP_E_BADINDEX);
    // Stored rightmost dimension first, as the classic layout has it.
    EXPECT_EQ(a.psa->rgsabound[0].cElements, 3u);
    EXPECT_EQ(a.psa->rgsabound[2].cElements, 8u);
}

TEST(ComSafeArray, LeftmostIndexVariesFastest) {
    // A 2-D array of fields x rows, as rows of floats are sent to the engine.
    SAFEARRAYBOUND b[] = {{3, 0}, {2, 1}};
    ArrayOwner a{SafeArrayCreate(VT_R4, 2, b)};
    for (LONG row = 1; row <= 2; ++row)
        for (LONG field = 0; field < 3; ++field) {
            LONG idx[] = {field, row};
            float v = float(row * 10 + field);
            ASSERT_EQ(SafeArrayPutElement(a.psa, idx, &v), S_OK);
        }
    float* data = nullptr;
    ASSERT_EQ(SafeArrayAccessData(a.psa, reinterpret_cast<void**>(&data)), S_OK);
    EXPECT_EQ((std::vector<float>(data, data + 6)), (std::vector<float>{10, 11, 12, 20, 21, 22}));
    ASSERT_EQ(SafeArrayUnaccessData(a.psa), S_OK);

    void* p = nullptr;
    LONG idx[] = {2, 1};
    ASSERT_EQ(SafeArrayPtrOfIndex(a.psa, idx, &p), S_OK);
    EXPECT_EQ(*static_cast<float*>(p), 12.0f);
    LONG outside[] = {3, 1};
    EXPECT_EQ(SafeArrayPtrOfIndex(a.psa, outside, &p), DISP_E_BADINDEX);
    LONG below[] = {0, 0};
    float v;
    EXPECT_EQ(SafeArrayGetElement(a.psa, below, &v), DISP_E_BADINDEX);
    EXPECT_EQ(SafeArrayPutElement(a.psa, below, &v), DISP_E_BADINDEX);
}

TEST(ComSafeArray, ZeroLengthDimensions) {
    SAFEARRAYBOUND b[] = {{8, 0}, {0, 0}};
    ArrayOwner a{SafeArrayCreate(VT_VARIANT, 2, b)};
    ASSERT_NE(a.psa, nullptr);
    LONG hi;
    ASSERT_EQ(SafeArrayGetUBound(a.psa, 2, &hi), S_OK);
    EXPECT_EQ(hi, -1);
    void* data = nullptr;
    ASSERT_EQ(SafeArrayAccessData(a.psa, &data), S_OK);
    EXPECT_NE(data, nullptr);
    SafeArrayUnaccessData(a.psa);
    LONG idx[] = {0, 0};
    VARIANT v;
    EXPECT_EQ(SafeArrayGetElement(a.psa, idx, &v), DISP_E_BADINDEX);
    SAFEARRAY* copy = nullptr;
    ASSERT_EQ(SafeArrayCopy(a.psa, &copy), S_OK);
    EXPECT_EQ(SafeArrayDestroy(copy), S_OK);

    ArrayOwner v0{SafeArrayCreateVector(VT_I2, 5, 0)};
    ASSERT_NE(v0.psa, nullptr);
    ASSERT_EQ(SafeArrayGetUBound(v0.psa, 1, &hi), S_OK);
    EXPECT_EQ(hi, 4);
}

TEST(ComSafeArray, RefusesImpossibleShapes) {
    SAFEARRAYBOUND b[] = {{0xFFFFFFFFu, 0}, {0xFFFFFFFFu, 0}};
    EXPECT_EQ(SafeArrayCreate(VT_R8, 2, b), nullptr);
    EXPECT_EQ(SafeArrayCreate(VT_R8, 0, b), nullptr);
    EXPECT_EQ(SafeArrayCreate(VT_EMPTY, 1, b), nullptr);
    EXPECT_EQ(SafeArrayCreate(VT_DECIMAL, 1, b), nullptr);
    EXPECT_EQ(SafeArrayCreate(VT_I4, 1, nullptr), nullptr);
    EXPECT_EQ(SafeArrayDestroy(nullptr), S_OK);
    EXPECT_EQ(SafeArrayGetDim(nullptr), 0u);
}

TEST(ComSafeArray, LocksGuardDestruction) {
    SAFEARRAY* psa = SafeArrayCreateVector(VT_I4, 0, 4);
    void* data;
    ASSERT_EQ(SafeArrayAccessData(psa, &data), S_OK);
    ASSERT_EQ(SafeArrayLock(psa), S_OK);
    EXPECT_EQ(SafeArrayDestroy(psa), DISP_E_ARRAYISLOCKED);
    EXPECT_EQ(SafeArrayUnlock(psa), S_OK);
    EXPECT_EQ(SafeArrayDestroy(psa), DISP_E_ARRAYISLOCKED);
    EXPECT_EQ(SafeArrayUnaccessData(psa), S_OK);
    EXPECT_EQ(SafeArrayUnlock(psa), E_UNEXPECTED);
    EXPECT_EQ(SafeArrayDestroy(psa), S_OK);
}

TEST(ComSafeArray, ElementsOwnTheirStringsObjectsAndVariants) {
    ArrayOwner strings{SafeArrayCreateVector(VT_BSTR, 1, 2)};
    EXPECT_EQ(strings.psa->fFeatures & FADF_BSTR, FADF_BSTR);
    LONG i = 2;
    com::BStr first(std::string("first")), second(std::string("second"));
    ASSERT_EQ(SafeArrayPutElement(strings.psa, &i, first.Get()), S_OK);
    ASSERT_EQ(SafeArrayPutElement(strings.psa, &i, second.Get()), S_OK);  // replaces, frees the old
    BSTR got = nullptr;
    ASSERT_EQ(SafeArrayGetElement(strings.psa, &i, &got), S_OK);
    EXPECT_NE(got, second.Get());
    EXPECT_EQ(std::u16string(got), u"second");
    SysFreeString(got);
    i = 1;
    ASSERT_EQ(SafeArrayGetElement(strings.psa, &i, &got), S_OK);
    EXPECT_EQ(got, nullptr);  // never set

    bool gone = false;
    auto* obj = new testutil::Counted(&gone);
    {
        ArrayOwner objects{SafeArrayCreateVector(VT_DISPATCH, 0, 2)};
        LONG j = 0;
        ASSERT_EQ(SafeArrayPutElement(objects.psa, &j, static_cast<IDispatch*>(obj)), S_OK);
        j = 1;
        ASSERT_EQ(SafeArrayPutElement(objects.psa, &j, static_cast<IDispatch*>(obj)), S_OK);
        EXPECT_EQ(obj->refs, 3u);
        SAFEARRAY* copy = nullptr;
        ASSERT_EQ(SafeArrayCopy(objects.psa, &copy), S_OK);
        EXPECT_EQ(obj->refs, 5u);
        SafeArrayDestroy(copy);
        EXPECT_EQ(obj->refs, 3u);
        ASSERT_EQ(SafeArrayPutElement(objects.psa, &j, nullptr), S_OK);
        EXPECT_EQ(obj->refs, 2u);
    }
    EXPECT_EQ(obj->refs, 1u);
    obj->Release();
    EXPECT_TRUE(gone);

    ArrayOwner variants{SafeArrayCreateVector(VT_VARIANT, 0, 1)};
    LONG k = 0;
    com::Variant s = com::Variant::Str("inside");
    ASSERT_EQ(SafeArrayPutElement(variants.psa, &k, &s), S_OK);
    com::Variant back;
    VariantClear(&back);
    ASSERT_EQ(SafeArrayGetElement(variants.psa, &k, static_cast<VARIANT*>(&back)), S_OK);
    EXPECT_EQ(back.ToUtf8(), "inside");
    EXPECT_NE(back.bstrVal, s.bstrVal);
}

}  // namespace
