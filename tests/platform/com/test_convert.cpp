// Conversion tables of VariantChangeType: rounding, overflow, Null and Empty,
// text to number and back, booleans, dates.
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "test_util.h"

#include "com/com.h"

using com::Variant;

namespace {

HRESULT Change(const VARIANT& in, VARTYPE vt, Variant* out, WORD flags = 0) {
    return VariantChangeType(out, &in, flags, vt);
}

std::string Text(const VARIANT& in, WORD flags = 0) {
    Variant out;
    HRESULT hr = Change(in, VT_BSTR, &out, flags);
    if (FAILED(hr)) return "<error>";
    return com::ToUtf8(out.bstrVal, SysStringLen(out.bstrVal));
}

struct IntCase {
    double in;
    VARTYPE vt;
    HRESULT hr;
    long long expected;
};

long long IntOf(const Variant& v) {
    switch (v.vt) {
    case VT_I1: return v.cVal;
    case VT_UI1: return v.bVal;
    case VT_I2: return v.iVal;
    case VT_UI2: return v.uiVal;
    case VT_I4: return v.lVal;
    case VT_UI4: return v.ulVal;
    case VT_I8: return v.llVal;
    default: return -999999;
    }
}

TEST(ComConvert, FloatingToIntegerRoundsHalfToEvenAndChecksRange) {
    const IntCase cases[] = {
        {2.5, VT_I2, S_OK, 2},          {3.5, VT_I2, S_OK, 4},
        {-2.5, VT_I2, S_OK, -2},        {-3.5, VT_I2, S_OK, -4},
        {0.5, VT_I4, S_OK, 0},          {1.5, VT_I4, S_OK, 2},
        {2.4999, VT_I4, S_OK, 2},       {2.5001, VT_I4, S_OK, 3},
        {32767.49, VT_I2, S_OK, 32767}, {32767.5, VT_I2, DISP_E_OVERFLOW, 0},
        {-32768.5, VT_I2, S_OK, -32768}, {-32768.51, VT_I2, DISP_E_OVERFLOW, 0},
        {2147483646.5, VT_I4, S_OK, 2147483646}, {2147483647.5, VT_I4, DISP_E_OVERFLOW, 0},
        {-2147483648.0, VT_I4, S_OK, -2147483648LL}, {-2147483649.0, VT_I4, DISP_E_OVERFLOW, 0},
        {254.5, VT_UI1, S_OK, 254},     {255.5, VT_UI1, DISP_E_OVERFLOW, 0},
        {-0.5, VT_UI1, S_OK, 0},        {-0.51, VT_UI1, DISP_E_OVERFLOW, 0},
        {127.0, VT_I1, S_OK, 127},      {128.0, VT_I1, DISP_E_OVERFLOW, 0},
        {65535.0, VT_UI2, S_OK, 65535}, {-1.0, VT_UI4, DISP_E_OVERFLOW, 0},
        {1e300, VT_I8, DISP_E_OVERFLOW, 0}, {NAN, VT_I4, DISP_E_OVERFLOW, 0},
    };
    for (const auto& c : cases) {
        Variant out;
        SCOPED_TRACE(testing::Message() << c.in << " -> vt " << c.vt);
        ASSERT_EQ(Change(Variant::R8(c.in), c.vt, &out), c.hr);
        if (c.hr == S_OK) {
            EXPECT_EQ(out.vt, c.vt);
            EXPECT_EQ(IntOf(out), c.expected);
        } else {
            EXPECT_EQ(out.vt, VT_EMPTY);  // untouched on failure
        }
    }
    Variant out;
    ASSERT_EQ(Change(Variant::R4(0.5f), VT_I4, &out), S_OK);
    EXPECT_EQ(out.lVal, 0);
    ASSERT_EQ(Change(Variant::R4(1.5f), VT_I2, &out), S_OK);
    EXPECT_EQ(out.iVal, 2);
    ASSERT_EQ(Change(Variant::Date(45296.5), VT_I4, &out), S_OK);  // dates round like doubles
    EXPECT_EQ(out.lVal, 45296);
}

TEST(ComConvert, IntegerNarrowingOverflows) {
    Variant out;
    EXPECT_EQ(Change(Variant::I4(32768), VT_I2, &out), DISP_E_OVERFLOW);
    EXPECT_EQ(Change(Variant::I4(-32768), VT_I2, &out), S_OK);
    EXPECT_EQ(out.iVal, -32768);
    EXPECT_EQ(Change(Variant::I2(256), VT_UI1, &out), DISP_E_OVERFLOW);
    EXPECT_EQ(Change(Variant::I2(-1), VT_UI1, &out), DISP_E_OVERFLOW);
    EXPECT_EQ(Change(Variant::I2(-1), VT_I8, &out), S_OK);
    EXPECT_EQ(out.llVal, -1);
    Variant big;
    big.vt = VT_UI8;
    big.ullVal = UINT64_MAX;
    EXPECT_EQ(Change(big, VT_I8, &out), DISP_E_OVERFLOW);
    EXPECT_EQ(Text(big), "18446744073709551615");
}

TEST(ComConvert, CurrencyScalesRoundsAndOverflows) {
    Variant out;
    ASSERT_EQ(Change(Variant::Cy(25000), VT_I4, &out), S_OK);  // 2.5
    EXPECT_EQ(out.lVal, 2);
    ASSERT_EQ(Change(Variant::Cy(35000), VT_I4, &out), S_OK);
    EXPECT_EQ(out.lVal, 4);
    ASSERT_EQ(Change(Variant::Cy(-15000), VT_I4, &out), S_OK);
    EXPECT_EQ(out.lVal, -2);
    ASSERT_EQ(Change(Variant::Cy(-25001), VT_I4, &out), S_OK);
    EXPECT_EQ(out.lVal, -3);

    ASSERT_EQ(Change(Variant::R8(2.5), VT_CY, &out), S_OK);
    EXPECT_EQ(out.cyVal.int64, 25000);
    ASSERT_EQ(Change(Variant::Str("0.00005"), VT_CY, &out), S_OK);  // tie to even at the 4th decimal
    EXPECT_EQ(out.cyVal.int64, 0);
    ASSERT_EQ(Change(Variant::Str("0.00015"), VT_CY, &out), S_OK);
    EXPECT_EQ(out.cyVal.int64, 2);
    ASSERT_EQ(Change(Variant::Str("0.000151"), VT_CY, &out), S_OK);
    EXPECT_EQ(out.cyVal.int64, 2);
    ASSERT_EQ(Change(Variant::Str("-1.23456"), VT_CY, &out), S_OK);
    EXPECT_EQ(out.cyVal.int64, -12346);

    Variant v;
    v.vt = VT_I8;
    v.llVal = 922337203685477LL;
    EXPECT_EQ(Change(v, VT_CY, &out), S_OK);
    v.llVal = 922337203685478LL;
    EXPECT_EQ(Change(v, VT_CY, &out), DISP_E_OVERFLOW);
    EXPECT_EQ(Change(Variant::R8(1e15), VT_CY, &out), DISP_E_OVERFLOW);

    EXPECT_EQ(Text(Variant::Cy(12345)), "1.2345");
    EXPECT_EQ(Text(Variant::Cy(15000)), "1.5");
    EXPECT_EQ(Text(Variant::Cy(-10000)), "-1");
    EXPECT_EQ(Text(Variant::Cy(-5)), "-0.0005");
    EXPECT_EQ(Text(Variant::Cy(INT64_MIN)), "-922337203685477.5808");
}

TEST(ComConvert, NullIsATypeMismatchAndEmptyIsZero) {
    Variant out;
    const VARTYPE scalars[] = {VT_I2, VT_I4, VT_R4, VT_R8, VT_CY, VT_DATE, VT_BSTR, VT_BOOL, VT_UI1};
    for (VARTYPE vt : scalars) {
        SCOPED_TRACE(vt);
        EXPECT_EQ(Change(Variant::Null(), vt, &out), DISP_E_TYPEMISMATCH);
        Variant e;
        ASSERT_EQ(Change(e, vt, &out), S_OK);
        EXPECT_EQ(out.vt, vt);
        if (vt == VT_BSTR) EXPECT_EQ(SysStringLen(out.bstrVal), 0u);
        else EXPECT_EQ(out.llVal & (vt == VT_I2 || vt == VT_BOOL ? 0xFFFF : vt == VT_UI1 ? 0xFF : -1LL), 0);
    }
    EXPECT_EQ(Change(Variant::Null(), VT_NULL, &out), S_OK);
    EXPECT_EQ(out.vt, VT_NULL);
    EXPECT_THROW(Variant::Null().ToI4(), com::Error);
    try {
        Variant::Null().ToU16();
        FAIL();
    } catch (const com::Error& e) {
        EXPECT_EQ(e.hr(), DISP_E_TYPEMISMATCH);
        EXPECT_STREQ(e.what(), "Invalid use of Null");
    }
}

TEST(ComConvert, BooleansAreMinusOneAndZero) {
    Variant out;
    ASSERT_EQ(Change(Variant::Bool(true), VT_I2, &out), S_OK);
    EXPECT_EQ(out.iVal, -1);
    ASSERT_EQ(Change(Variant::Bool(true), VT_R8, &out), S_OK);
    EXPECT_EQ(out.dblVal, -1.0);
    EXPECT_EQ(Change(Variant::Bool(true), VT_UI1, &out), DISP_E_OVERFLOW);
    ASSERT_EQ(Change(Variant::I4(5), VT_BOOL, &out), S_OK);
    EXPECT_EQ(out.boolVal, VARIANT_TRUE);
    ASSERT_EQ(Change(Variant::R8(0.4), VT_BOOL, &out), S_OK);  // non-zero, not rounded
    EXPECT_EQ(out.boolVal, VARIANT_TRUE);
    ASSERT_EQ(Change(Variant::R8(0.0), VT_BOOL, &out), S_OK);
    EXPECT_EQ(out.boolVal, VARIANT_FALSE);

    EXPECT_EQ(Text(Variant::Bool(true)), "-1");
    EXPECT_EQ(Text(Variant::Bool(false)), "0");
    EXPECT_EQ(Text(Variant::Bool(true), VARIANT_ALPHABOOL), "True");
    EXPECT_EQ(Text(Variant::Bool(false), VARIANT_ALPHABOOL), "False");
    EXPECT_EQ(Variant::Bool(true).ToUtf8(), "True");

    const std::pair<const char*, VARIANT_BOOL> texts[] = {
        {"True", VARIANT_TRUE}, {" false ", VARIANT_FALSE}, {"TRUE", VARIANT_TRUE},
        {"0", VARIANT_FALSE},   {"-1", VARIANT_TRUE},       {"2.5", VARIANT_TRUE},
    };
    for (auto [t, b] : texts) {
        SCOPED_TRACE(t);
        ASSERT_EQ(Change(Variant::Str(t), VT_BOOL, &out), S_OK);
        EXPECT_EQ(out.boolVal, b);
    }
    EXPECT_EQ(Change(Variant::Str("yes"), VT_BOOL, &out), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(Change(Variant::Str(""), VT_BOOL, &out), DISP_E_TYPEMISMATCH);
}

TEST(ComConvert, TextToNumber) {
    struct Case {
        const char* text;
        VARTYPE vt;
        HRESULT hr;
        double expected;
    };
    const Case cases[] = {
        {"42", VT_I4, S_OK, 42},          {"  42  ", VT_I4, S_OK, 42},     {"-7", VT_I2, S_OK, -7},
        {"+7", VT_I2, S_OK, 7},           {"2.5", VT_I4, S_OK, 2},         {"3.5", VT_I4, S_OK, 4},
        {"0.5000000000000000001", VT_I4, S_OK, 1},                       {"1,234", VT_I4, S_OK, 1234},
        {"1,234,567.5", VT_R8, S_OK, 1234567.5},                          {"1e3", VT_I4, S_OK, 1000},
        {"1.5E-3", VT_R8, S_OK, 0.0015},  {".5", VT_R8, S_OK, 0.5},        {"5.", VT_R8, S_OK, 5},
        {"(5)", VT_I4, S_OK, -5},         {"&H10", VT_I4, S_OK, 16},       {"&o17", VT_I4, S_OK, 15},
        {"2147483647", VT_I4, S_OK, 2147483647.0},                        {"2147483648", VT_I4, DISP_E_OVERFLOW, 0},
        {"32768", VT_I2, DISP_E_OVERFLOW, 0},                             {"-32768.5", VT_I2, S_OK, -32768},
        {"1e400", VT_R8, DISP_E_OVERFLOW, 0},                             {"1e-400", VT_R8, S_OK, 0},
        {"3.5e38", VT_R4, DISP_E_OVERFLOW, 0},                            {"0", VT_R4, S_OK, 0},
        {"", VT_I4, DISP_E_TYPEMISMATCH, 0},                              {"   ", VT_R8, DISP_E_TYPEMISMATCH, 0},
        {"abc", VT_I4, DISP_E_TYPEMISMATCH, 0},                           {"12abc", VT_I4, DISP_E_TYPEMISMATCH, 0},
        {"1.2.3", VT_R8, DISP_E_TYPEMISMATCH, 0},                         {"1e", VT_R8, DISP_E_TYPEMISMATCH, 0},
        {"-", VT_I4, DISP_E_TYPEMISMATCH, 0},                             {",5", VT_I4, DISP_E_TYPEMISMATCH, 0},
        {"1,5,", VT_I4, DISP_E_TYPEMISMATCH, 0},                          {"&HZZ", VT_I4, DISP_E_TYPEMISMATCH, 0},
        {"&HFFFF", VT_I2, S_OK, -1},      {"&HFFFF", VT_I4, S_OK, 65535},  {"&H10000", VT_I2, DISP_E_OVERFLOW, 0},
        {"&HFFFFFFFF", VT_I4, S_OK, -1},  {"&H80", VT_UI1, S_OK, 128},
        {"1,5", VT_I4, S_OK, 15},  // ',' is the thousands separator here, never a decimal comma
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        Variant out;
        ASSERT_EQ(Change(Variant::Str(c.text), c.vt, &out), c.hr);
        if (c.hr != S_OK) continue;
        Variant d;
        ASSERT_EQ(Change(out, VT_R8, &d), S_OK);
        EXPECT_DOUBLE_EQ(d.dblVal, c.expected);
    }
    // Text with an embedded NUL is not a number.
    EXPECT_THROW(Variant::Str(std::u16string(u"12\0" "3", 4)).ToI4(), com::Error);
}

TEST(ComConvert, NumberToTextLikeCStr) {
    const std::pair<double, const char*> doubles[] = {
        {0.1, "0.1"},
        {1.0 / 3, "0.333333333333333"},
        {2.0 / 3, "0.666666666666667"},
        {100, "100"},
        {-2.5, "-2.5"},
        {123456789012345.0, "123456789012345"},
        {1e15, "1E+15"},
        {1234567890123456.0, "1.23456789012346E+15"},
        {1.23456789012345678, "1.23456789012346"},
        {0.0001, "0.0001"},
        {0.00001, "1E-05"},
        {-1.5e-7, "-1.5E-07"},
        {1e100, "1E+100"},
        {-0.0, "0"},
        {45296.75, "45296.75"},
    };
    for (auto [d, t] : doubles) EXPECT_EQ(Text(Variant::R8(d)), t) << d;
    const std::pair<float, const char*> floats[] = {
        {0.1f, "0.1"},         {1.0f / 3, "0.3333333"}, {3.14159274f, "3.141593"},
        {1234567.0f, "1234567"}, {16777216.0f, "1.677722E+07"}, {-0.5f, "-0.5"}, {1e-5f, "1E-05"},
    };
    for (auto [f, t] : floats) EXPECT_EQ(Text(Variant::R4(f)), t) << f;
    EXPECT_EQ(Text(Variant::I4(-2147483647 - 1)), "-2147483648");
    EXPECT_EQ(Text(Variant::I2(0)), "0");
    Variant e;
    EXPECT_EQ(Text(e), "");

    // Text written from a number reads back as the same number.
    for (double d : {0.1, 1.0 / 7, 123.456, 1e-10, 6.02214076e23}) {
        Variant back;
        ASSERT_EQ(Change(Variant::Str(Text(Variant::R8(d))), VT_R8, &back), S_OK);
        EXPECT_NEAR(back.dblVal, d, std::fabs(d) * 1e-14);
    }
}

TEST(ComConvert, DatesAsSerials) {
    DATE d = 0;
    ASSERT_TRUE(VariantTimeFromParts(2024, 1, 5, 0, 0, 0, &d));
    EXPECT_EQ(d, 45296.0);
    ASSERT_TRUE(VariantTimeFromParts(1899, 12, 30, 0, 0, 0, &d));
    EXPECT_EQ(d, 0.0);
    ASSERT_TRUE(VariantTimeFromParts(1899, 12, 29, 6, 0, 0, &d));
    EXPECT_EQ(d, -1.25);  // before the epoch the time still counts forward
    ASSERT_TRUE(VariantTimeFromParts(1900, 3, 1, 12, 0, 0, &d));
    EXPECT_EQ(d, 61.5);
    EXPECT_FALSE(VariantTimeFromParts(2023, 2, 29, 0, 0, 0, &d));
    EXPECT_TRUE(VariantTimeFromParts(2024, 2, 29, 0, 0, 0, &d));
    EXPECT_FALSE(VariantTimeFromParts(99, 12, 31, 0, 0, 0, &d));
    EXPECT_FALSE(VariantTimeFromParts(10000, 1, 1, 0, 0, 0, &d));
    EXPECT_FALSE(VariantTimeFromParts(2024, 1, 1, 24, 0, 0, &d));

    int y, m, dd, h, mi, s;
    ASSERT_TRUE(VariantTimeToParts(-1.25, &y, &m, &dd, &h, &mi, &s));
    EXPECT_EQ((std::vector<int>{y, m, dd, h, mi, s}), (std::vector<int>{1899, 12, 29, 6, 0, 0}));
    ASSERT_TRUE(VariantTimeToParts(45296.9999999, &y, &m, &dd, &h, &mi, &s));  // rounds to the next midnight
    EXPECT_EQ((std::vector<int>{y, m, dd, h, mi, s}), (std::vector<int>{2024, 1, 6, 0, 0, 0}));

    EXPECT_EQ(Text(Variant::Date(45296.5)), "01/05/2024 12:00:00");
    EXPECT_EQ(Text(Variant::Date(45296)), "01/05/2024");
    EXPECT_EQ(Text(Variant::Date(0.25)), "06:00:00");
    EXPECT_EQ(Text(Variant::Date(-1.25)), "12/29/1899 06:00:00");

    const std::pair<const char*, double> texts[] = {
        {"2024-01-05", 45296},           {"01/05/2024 12:00:00", 45296.5}, {"1/5/2024 6:00 PM", 45296.75},
        {"2024-01-05T06:00", 45296.25},  {"12:00", 0.5},                  {"12:00 AM", 0},
        {"1/5/24", 45296},               {"1/5/95", 34704},
    };
    for (auto [t, serial] : texts) {
        SCOPED_TRACE(t);
        Variant out;
        ASSERT_EQ(Change(Variant::Str(t), VT_DATE, &out), S_OK);
        EXPECT_DOUBLE_EQ(out.date, serial);
    }
    for (const char* bad : {"2024-02-30", "13/01/2024", "13:00 PM", "25:00", "tomorrow", "", "2024-01-05 x"}) {
        Variant out;
        EXPECT_EQ(Change(Variant::Str(bad), VT_DATE, &out), DISP_E_TYPEMISMATCH) << bad;
    }
    // Text written from a date reads back.
    Variant back;
    ASSERT_EQ(Change(Variant::Str(Text(Variant::Date(-657434.5))), VT_DATE, &back), S_OK);
    EXPECT_EQ(back.date, -657434.5);

    Variant out;
    EXPECT_EQ(Change(Variant::R8(3e6), VT_DATE, &out), DISP_E_OVERFLOW);
    EXPECT_EQ(Change(Variant::R8(-657435), VT_DATE, &out), DISP_E_OVERFLOW);
    ASSERT_EQ(Change(Variant::I4(2), VT_DATE, &out), S_OK);
    EXPECT_EQ(out.date, 2.0);
}

TEST(ComConvert, SingleAndDoubleRanges) {
    Variant out;
    EXPECT_EQ(Change(Variant::R8(1e39), VT_R4, &out), DISP_E_OVERFLOW);
    EXPECT_EQ(Change(Variant::R8(-1e39), VT_R4, &out), DISP_E_OVERFLOW);
    ASSERT_EQ(Change(Variant::R8(0.1), VT_R4, &out), S_OK);
    EXPECT_EQ(out.fltVal, 0.1f);
    ASSERT_EQ(Change(Variant::R4(0.1f), VT_R8, &out), S_OK);
    EXPECT_EQ(out.dblVal, double(0.1f));
}

TEST(ComConvert, ByReferenceInPlaceAndBadTypes) {
    SHORT value = 5;
    Variant ref;
    ref.vt = VT_BYREF | VT_I2;
    ref.piVal = &value;
    Variant out;
    ASSERT_EQ(Change(ref, VT_I4, &out), S_OK);
    EXPECT_EQ(out.lVal, 5);

    Variant inner = Variant::Str("12");
    Variant vref;
    vref.vt = VT_BYREF | VT_VARIANT;
    vref.pvarVal = &inner;
    ASSERT_EQ(Change(vref, VT_R8, &out), S_OK);
    EXPECT_EQ(out.dblVal, 12.0);

    Variant v = Variant::Str("3.5");
    ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_I2), S_OK);  // in place
    EXPECT_EQ(v.vt, VT_I2);
    EXPECT_EQ(v.iVal, 4);

    Variant keep = Variant::I4(9);
    EXPECT_EQ(VariantChangeType(&keep, &keep, 0, VT_UI1 | VT_BYREF), DISP_E_BADVARTYPE);
    EXPECT_EQ(VariantChangeType(&keep, &keep, 0, VT_DECIMAL), DISP_E_BADVARTYPE);
    EXPECT_EQ(keep.lVal, 9);
    Variant err;
    err.vt = VT_ERROR;
    err.scode = DISP_E_PARAMNOTFOUND;
    EXPECT_EQ(Change(err, VT_I4, &out), DISP_E_TYPEMISMATCH);

    EXPECT_EQ(Variant::Str(" 7 ").ToI2(), 7);
    EXPECT_EQ(Variant::I4(70000).ToR4(), 70000.0f);
    try {
        Variant::I4(70000).ToI2();
        FAIL();
    } catch (const com::Error& e) {
        EXPECT_EQ(e.hr(), DISP_E_OVERFLOW);
    }
}

TEST(ComConvert, IgnoresTheProcessLocale) {
    // A locale with a decimal comma, built into a scratch folder.
    testutil::TempDir dir;
    std::string cmd = "localedef -i de_DE -f UTF-8 '" + dir.File("de_DE.UTF-8") + "' >/dev/null 2>&1";
    if (std::system(cmd.c_str()) != 0) GTEST_SKIP() << "localedef cannot build de_DE here";
    testutil::ScopedEnv path("LOCPATH", dir.Path().string());
    ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr);
    char probe[16];
    std::snprintf(probe, sizeof probe, "%.1f", 1.5);
    EXPECT_STREQ(probe, "1,5");  // the process really uses a decimal comma now

    Variant out;
    ASSERT_EQ(Change(Variant::Str("1.5"), VT_R8, &out), S_OK);
    EXPECT_EQ(out.dblVal, 1.5);
    ASSERT_EQ(Change(Variant::Str("1,5"), VT_R8, &out), S_OK);
    EXPECT_EQ(out.dblVal, 15.0);
    EXPECT_EQ(Text(Variant::R8(1234.5)), "1234.5");
    EXPECT_EQ(Text(Variant::R4(0.25f)), "0.25");
    EXPECT_EQ(Text(Variant::Cy(12345)), "1.2345");
    EXPECT_EQ(Text(Variant::Date(45296.5)), "01/05/2024 12:00:00");
    std::setlocale(LC_ALL, "C");
}

}  // namespace
