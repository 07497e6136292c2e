// GUID text, UTF conversions and length-prefixed strings.
#include <gtest/gtest.h>

#include "com/com.h"

namespace {

TEST(ComGuid, ParsesAndPrintsTheBracedForm) {
    const char* text = "{7B452883-DB8C-11D2-9121-00006E47F764}";
    GUID g;
    ASSERT_TRUE(com::GuidFromString(text, &g));
    EXPECT_EQ(g.Data1, 0x7B452883u);
    EXPECT_EQ(g.Data2, 0xDB8C);
    EXPECT_EQ(g.Data3, 0x11D2);
    EXPECT_EQ(g.Data4[0], 0x91);
    EXPECT_EQ(g.Data4[7], 0x64);
    EXPECT_EQ(com::GuidToString(g), text);

    GUID lower;
    ASSERT_TRUE(com::GuidFromString("{7b452883-db8c-11d2-9121-00006e47f764}", &lower));
    EXPECT_EQ(lower, g);

    CLSID c;
    ASSERT_EQ(CLSIDFromString(u"{00020400-0000-0000-C000-000000000046}", &c), S_OK);
    EXPECT_EQ(c, IID_IDispatch);
    OLECHAR buf[39];
    EXPECT_EQ(StringFromGUID2(IID_IDispatch, buf, 39), 39);
    EXPECT_EQ(std::u16string(buf), u"{00020400-0000-0000-C000-000000000046}");
    EXPECT_EQ(StringFromGUID2(IID_IDispatch, buf, 38), 0);  // no room for the NUL
}

TEST(ComGuid, RejectsMalformedText) {
    const char* bad[] = {
        "",
        "7B452883-DB8C-11D2-9121-00006E47F764",     // no braces
        "{7B452883-DB8C-11D2-9121-00006E47F764",    // no closing brace
        "{7B452883-DB8C-11D2-9121-00006E47F76}",    // short
        "{7B452883-DB8C-11D2-9121-00006E47F7645}",  // long
        "{7B452883-DB8C-11D2-9121+00006E47F764}",   // wrong separator
        "{7B45288G-DB8C-11D2-9121-00006E47F764}",   // not hex
        "{7B452883DB8C-11D2-9121-00006E47F7641}",   // separator moved
        " {7B452883-DB8C-11D2-9121-00006E47F764}",  // leading space
    };
    for (const char* t : bad) {
        GUID g = IID_IDispatch;
        EXPECT_FALSE(com::GuidFromString(t, &g)) << t;
        EXPECT_EQ(g, IID_IDispatch) << "untouched on failure: " << t;
        std::u16string u = com::ToU16(t);
        CLSID c;
        EXPECT_EQ(CLSIDFromString(u.c_str(), &c), CO_E_CLASSSTRING) << t;
        EXPECT_EQ(c, GUID_NULL);
    }
    CLSID c;
    EXPECT_EQ(CLSIDFromString(nullptr, &c), CO_E_CLASSSTRING);
    EXPECT_EQ(IIDFromString(u"{nonsense}", &c), E_INVALIDARG);
}

TEST(ComUtf, ConvertsBothWaysAndReplacesBadInput) {
    std::string text = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";  // a, e-acute, euro, emoji
    std::u16string u = com::ToU16(text);
    EXPECT_EQ(u, (std::u16string{u'a', 0xE9, 0x20AC, 0xD83D, 0xDE00}));
    EXPECT_EQ(com::ToUtf8(u), text);
    EXPECT_EQ(com::ToU16("\xFF" "a\xC3"), (std::u16string{0xFFFD, u'a', 0xFFFD}));
    EXPECT_EQ(com::ToU16("\xED\xA0\x80"), (std::u16string{0xFFFD, 0xFFFD, 0xFFFD}));  // encoded surrogate
    EXPECT_EQ(com::ToUtf8(std::u16string{0xD800, u'x'}), "\xEF\xBF\xBDx");           // lone surrogate
}

TEST(ComBstr, LengthPrefixedWithEmbeddedNuls) {
    const OLECHAR text[] = {u'a', 0, u'b', 0};
    BSTR b = SysAllocStringLen(text, 3);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(SysStringLen(b), 3u);
    EXPECT_EQ(SysStringByteLen(b), 6u);
    EXPECT_EQ(b[1], 0);
    EXPECT_EQ(b[2], u'b');
    EXPECT_EQ(b[3], 0);  // terminated after the last character
    com::BStr copy;
    copy.Attach(SysAllocStringLen(b, SysStringLen(b)));
    EXPECT_EQ(copy.U16(), std::u16string(text, 3));
    SysFreeString(b);

    BSTR plain = SysAllocString(u"hello");
    EXPECT_EQ(SysStringLen(plain), 5u);
    ASSERT_TRUE(SysReAllocString(&plain, plain + 1));  // from inside itself
    EXPECT_EQ(std::u16string(plain), u"ello");
    SysFreeString(plain);

    EXPECT_EQ(SysAllocString(nullptr), nullptr);
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    SysFreeString(nullptr);

    BSTR empty = SysAllocStringLen(nullptr, 4);  // content zeroed
    EXPECT_EQ(SysStringLen(empty), 4u);
    EXPECT_EQ(empty[0], 0);
    SysFreeString(empty);

    BSTR bytes = SysAllocStringByteLen("abc", 3);  // odd byte count
    EXPECT_EQ(SysStringByteLen(bytes), 3u);
    EXPECT_EQ(SysStringLen(bytes), 1u);
    EXPECT_EQ(reinterpret_cast<const char*>(bytes)[3], 0);
    SysFreeString(bytes);

    EXPECT_EQ(SysAllocStringLen(u"x", 0x7FFFFFFFu), nullptr);  // too large for the prefix
}

TEST(ComBstr, OwnerCopiesAndMoves) {
    com::BStr a(std::string("Tessary \xE2\x82\xAC"));
    EXPECT_EQ(a.Length(), 9u);
    com::BStr b = a;
    EXPECT_NE(a.Get(), b.Get());
    EXPECT_EQ(b.Utf8(), "Tessary \xE2\x82\xAC");
    com::BStr c = std::move(a);
    EXPECT_EQ(a.Get(), nullptr);
    EXPECT_EQ(c.Utf8(), b.Utf8());
    BSTR raw = c.Detach();
    EXPECT_EQ(c.Get(), nullptr);
    SysFreeString(raw);
}

}  // namespace
