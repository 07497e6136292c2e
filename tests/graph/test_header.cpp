// The header and footer line of a printed graph, expanded per page.
#include <gtest/gtest.h>

#include "PrintHeader.h"

using nodars::ExpandHeader;
using nodars::HeaderSegment;

TEST(PrintHeader, PlaceCodesSplitSegmentsAndPageFieldsExpand) {
    // Place code 1, "Page &p of &n", place code 3, "Rules": page 4 of 6.
    auto s = ExpandHeader(u"&1Page &p of &n&3Rules", 4, 6);
    ASSERT_EQ(s.size(), 2u);
    EXPECT_EQ(s[0], (HeaderSegment{1, u"Page 4 of 6"}));
    EXPECT_EQ(s[1], (HeaderSegment{3, u"Rules"}));
    // Bare page number at the bottom centre; upper-case fields too.
    EXPECT_EQ(ExpandHeader(u"&5&p", 12, 20), (std::vector<HeaderSegment>{{5, u"12"}}));
    EXPECT_EQ(ExpandHeader(u"&P/&N", 2, 3), (std::vector<HeaderSegment>{{2, u"2/3"}}));
}

TEST(PrintHeader, OtherAmpersandsAndEdgesAreCopiedOrDropped) {
    // No code: top centre. "&x" and a trailing "&" are copied as they stand.
    EXPECT_EQ(ExpandHeader(u"A&xB&", 1, 1), (std::vector<HeaderSegment>{{2, u"A&xB&"}}));
    // A code before any text only moves the segment; "&7" is no place code.
    EXPECT_EQ(ExpandHeader(u"&1&6X&7", 1, 1), (std::vector<HeaderSegment>{{6, u"X&7"}}));
    // An empty format, and a code with no text, print nothing.
    EXPECT_TRUE(ExpandHeader(u"", 1, 1).empty());
    EXPECT_TRUE(ExpandHeader(u"&4", 1, 1).empty());
    // A segment stops at 79 characters after expansion.
    auto s = ExpandHeader(std::u16string(78, u'x') + u"&p&3y", 123, 1);
    ASSERT_EQ(s.size(), 2u);
    EXPECT_EQ(s[0].text, std::u16string(78, u'x') + u"1");
    EXPECT_EQ(s[1].text, u"y");
}
