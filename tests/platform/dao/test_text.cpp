// The shared collation, Like, typed reads of VARIANTs and error descriptions.
#include <algorithm>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>

#include "fixture.h"

using namespace daotest;

namespace {

TEST(DaoCollation, AsciiLettersFoldToLowerCaseAndTheRestCompareByCodePoint) {
    EXPECT_EQ(dao::CompareText(u"Alpha", u"ALPHA"), 0);
    EXPECT_EQ(dao::CompareText(std::string("Zürich"), std::string("ZüRICH")), 0);
    EXPECT_NE(dao::CompareText(std::string("Zürich"), std::string("ZÜRICH")), 0);
    EXPECT_NE(dao::CompareText(u"Москва", u"МОСКВА"), 0);
    EXPECT_LT(dao::CompareText(u"a", u"B"), 0);
    EXPECT_GT(dao::CompareText(u"b", u"A"), 0);
    EXPECT_LT(dao::CompareText(u"ab", u"abc"), 0);
    EXPECT_EQ(dao::CompareText(u"", u""), 0);
    // Lower-casing decides: '_' (0x5F) and '[' sort before the letters, letters beyond ASCII after them.
    EXPECT_GT(dao::CompareText(u"z", u"_"), 0);
    EXPECT_GT(dao::CompareText(u"A", u"["), 0);
    EXPECT_LT(dao::CompareText(u"Z", u"é"), 0);
    // Both spellings of the comparison agree, beyond the basic plane too.
    struct Pair {
        std::u16string a16, b16;
        std::string a8, b8;
    };
    for (const Pair& p : std::vector<Pair>{{u"10", u"9", "10", "9"},
                                           {u"é", u"É", "\xC3\xA9", "\xC3\x89"},
                                           {u"\uFFFD", u"\U0001F600", "\xEF\xBF\xBD", "\xF0\x9F\x98\x80"},
                                           {u"Straße", u"STRASSE", "Stra\xC3\x9F" "e", "STRASSE"},
                                           {u"a_", u"aa", "a_", "aa"}}) {
        const int c16 = dao::CompareText(p.a16, p.b16);
        const int c8 = dao::CompareText(p.a8, p.b8);
        EXPECT_EQ((c16 > 0) - (c16 < 0), (c8 > 0) - (c8 < 0)) << p.a8 << " " << p.b8;
    }
}

TEST(DaoCollation, DatabaseSortsWithTheSameCollation) {
    TempDir dir;
    auto db = dao::DBEngine::CreateDatabase(dir.File("c.txp"), dao::dbLangGeneral);
    db->Execute("CREATE TABLE W (Word TEXT(20))");
    std::vector<std::u16string> words = {u"_under", u"apple", u"Zebra", u"émile", u"Eve", u"[x", u"10", u"9"};
    for (const auto& w : words) {
        auto rs = db->OpenRecordset("W", dao::RecordsetType::Dynaset);
        rs->AddNew();
        rs->Fields(0).SetValue(com::Variant::Str(w));
        rs->Update();
    }
    std::vector<std::u16string> sorted = words;
    std::sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) { return dao::CompareText(a, b) < 0; });
    auto rs = db->OpenRecordset("SELECT Word FROM W ORDER BY Word", dao::RecordsetType::Snapshot);
    for (const auto& w : sorted) {
        ASSERT_FALSE(rs->Eof());
        EXPECT_TRUE(rs->Fields(0).AsU16() == w);
        rs->MoveNext();
    }
}

TEST(DaoLike, JetPatterns) {
    EXPECT_TRUE(dao::LikeText(u"Tessary", u"t*y"));
    EXPECT_TRUE(dao::LikeText(u"abc", u"*"));
    EXPECT_TRUE(dao::LikeText(u"", u"*"));
    EXPECT_FALSE(dao::LikeText(u"", u"?"));
    EXPECT_TRUE(dao::LikeText(u"r2d2", u"r#d#"));
    EXPECT_TRUE(dao::LikeText(u"x-ray", u"[w-y]-*"));
    EXPECT_FALSE(dao::LikeText(u"b", u"[!a-c]"));
    EXPECT_TRUE(dao::LikeText(u"?", u"[?]"));
    EXPECT_TRUE(dao::LikeText(u"aaab", u"*a*b"));
    EXPECT_FALSE(dao::LikeText(u"aaac", u"*a*b"));
}

TEST(DaoTypedReads, NullRaisesInvalidUseOfNull) {
    com::Variant n = com::Variant::Null();
    EXPECT_EQ(ErrorOf([&] { dao::VarToString(n); }), 94);
    EXPECT_EQ(ErrorOf([&] { dao::VarToLong(n); }), 94);
    EXPECT_EQ(ErrorOf([&] { dao::VarToDouble(n); }), 94);
    EXPECT_EQ(dao::VarToString(com::Variant()), "");
    EXPECT_EQ(dao::VarToLong(com::Variant()), 0);
}

TEST(DaoTypedReads, NumbersAndTextFollowVb) {
    EXPECT_EQ(dao::VarToString(com::Variant::R4(1.1f)), "1.1");
    EXPECT_EQ(dao::VarToString(com::Variant::R4(1234567.0f)), "1234567");
    EXPECT_EQ(dao::VarToString(com::Variant::R4(12345678.0f)), "1.234568E+07");
    EXPECT_EQ(dao::VarToString(com::Variant::R8(1.0 / 3)), "0.333333333333333");
    EXPECT_EQ(dao::VarToString(com::Variant::R8(-1e-7)), "-1E-07");
    EXPECT_EQ(dao::VarToString(com::Variant::R8(0.0001)), "0.0001");
    EXPECT_EQ(dao::VarToString(com::Variant::Bool(true)), "True");
    EXPECT_EQ(dao::VarToString(com::Variant::Cy(123450)), "12.345");
    EXPECT_EQ(dao::VarToString(com::Variant::Date(36526.75)), "1/1/2000 6:00:00 PM");
    EXPECT_EQ(dao::VarToString(com::Variant::Date(0.5)), "12:00:00 PM");
    EXPECT_EQ(dao::VarToShort(com::Variant::R8(2.5)), 2);
    EXPECT_EQ(dao::VarToShort(com::Variant::R8(-3.5)), -4);
    EXPECT_EQ(dao::VarToLong(com::Variant::Str("  42 ")), 42);
    EXPECT_EQ(dao::VarToLong(com::Variant::Bool(true)), -1);
    EXPECT_EQ(ErrorOf([&] { dao::VarToShort(com::Variant::I4(70000)); }), 6);
    EXPECT_EQ(ErrorOf([&] { dao::VarToLong(com::Variant::Str("forty")); }), 13);
    EXPECT_DOUBLE_EQ(dao::VarToDate(com::Variant::Str("12/31/1999")), 36525);
    EXPECT_TRUE(dao::VarToBool(com::Variant::Str("True")));
}

namespace {

// Number text as printf writes it in the C locale: the form the export files
// and stored settings have always had.
std::string PrintfNumber(double v, int digits) {
    if (v == 0 || std::isnan(v)) return "0";
    char buf[400];
    std::snprintf(buf, sizeof buf, "%.*e", digits - 1, v);
    char* e = std::strchr(buf, 'e');
    const int exp = std::atoi(e + 1);
    auto trim = [](std::string s) {
        if (s.find('.') != std::string::npos) {
            while (s.back() == '0') s.pop_back();
            if (s.back() == '.') s.pop_back();
        }
        return s;
    };
    if (exp >= digits || exp < -4) {
        char eb[16];
        std::snprintf(eb, sizeof eb, "E%c%02d", exp < 0 ? '-' : '+', std::abs(exp));
        return trim(std::string(buf, e)) + eb;
    }
    std::snprintf(buf, sizeof buf, "%.*f", std::max(0, digits - 1 - exp), v);
    const std::string out = trim(buf);
    return out == "-0" ? "0" : out;
}

}  // namespace

TEST(DaoTypedReads, NumberTextIsPrintfsOnRandomValuesAndTies) {
    ASSERT_NE(std::setlocale(LC_NUMERIC, "C"), nullptr);
    std::mt19937_64 rng(20261209);
    std::vector<double> values = {0.5, 2.5, -2.5, 123456789012345.5, 123456789012344.5, 0.125, 1e15, 1e-5, 9.99999999999999e14,
                                  999999.95, 0.00009999995, 1e300, -1e-300, 4.9e-324, 1.7976931348623157e308,
                                  12345675.0, 0.1, 1.0 / 3, 100, -7};
    for (int i = 0; i < 200000; ++i) {
        uint64_t bits = rng();
        double d;
        std::memcpy(&d, &bits, sizeof d);
        if (std::isfinite(d)) values.push_back(d);
        // Values of everyday size, and shortest decimals that sit on rounding ties.
        values.push_back(std::ldexp(double(rng() % 1000000007), int(rng() % 60) - 40));
        values.push_back(double(int64_t(rng() % 2000000000) - 1000000000) / std::pow(10.0, double(rng() % 12)));
    }
    size_t mismatches = 0;
    for (double v : values) {
        if (dao::VarToString(com::Variant::R8(v)) != PrintfNumber(v, 15)) ++mismatches;
        const float f = float(v);
        if (std::isfinite(f) && dao::VarToString(com::Variant::R4(f)) != PrintfNumber(f, 7)) ++mismatches;
        if (mismatches == 1) {
            ADD_FAILURE() << "first mismatch at " << v;
            ++mismatches;
        }
    }
    EXPECT_EQ(mismatches, 0u);
}

TEST(DaoErrors, NumbersCarryTheirDescriptions) {
    EXPECT_EQ(dao::ErrorDescription(3343, "x.mdb"), "Unrecognized database format 'x.mdb'.");
    EXPECT_EQ(dao::ErrorDescription(3021), "No current record.");
    EXPECT_EQ(dao::ErrorDescription(3265), "Item not found in this collection.");
    dao::DaoError e(3024, dao::ErrorDescription(3024, "/a/b.mdb"));
    EXPECT_STREQ(e.what(), "Could not find file '/a/b.mdb'.");
    EXPECT_EQ(e.Number(), 3024);
}

}  // namespace
