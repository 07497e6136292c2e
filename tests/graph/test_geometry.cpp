// MulDiv keeps the platform's rounding: a 64-bit product, halves away from zero,
// -1 for a zero divisor or a result beyond 32 bits.
#include <gtest/gtest.h>

#include "GraphGeometry.h"

using nodars::MulDiv;

TEST(GraphMulDiv, RoundsHalvesAwayFromZero) {
    EXPECT_EQ(MulDiv(3, 1, 2), 2);
    EXPECT_EQ(MulDiv(-3, 1, 2), -2);
    EXPECT_EQ(MulDiv(3, 1, -2), -2);
    EXPECT_EQ(MulDiv(-3, -1, 2), 2);
    EXPECT_EQ(MulDiv(5, 1, 3), 2);
    EXPECT_EQ(MulDiv(4, 1, 3), 1);
    EXPECT_EQ(MulDiv(-4, 1, 3), -1);
}

TEST(GraphMulDiv, UsesA64BitProduct) {
    EXPECT_EQ(MulDiv(100000, 100000, 100000), 100000);
    EXPECT_EQ(MulDiv(INT32_MAX, 2, 2), INT32_MAX);
    EXPECT_EQ(MulDiv(INT32_MIN, 1, 1), INT32_MIN);
}

TEST(GraphMulDiv, ZeroDivisorAndOverflowGiveMinusOne) {
    EXPECT_EQ(MulDiv(10, 10, 0), -1);
    EXPECT_EQ(MulDiv(INT32_MAX, 2, 1), -1);
    EXPECT_EQ(MulDiv(INT32_MIN, -1, 1), -1);
}
