#include "model/table_sqrt.h"

#include <cmath>
#include <cstring>
#include <gtest/gtest.h>

static uint32_t bitsOf(float f)
{
    uint32_t b;
    std::memcpy(&b, &f, sizeof b);
    return b;
}

static float floatOf(uint32_t b)
{
    float f;
    std::memcpy(&f, &b, sizeof f);
    return f;
}

// The first and last entries of each half of the table, read through the arguments that
// select them: 2 and 1 start the halves, and the largest mantissas below 4 and 2 end them.
TEST(TableSqrt, TellingEntriesAreFilledBeforeMain)
{
    EXPECT_EQ(bitsOf(tableSqrt(floatOf(0x40000000u))) & 0x7fffffu, 0x3504f3u);
    EXPECT_EQ(bitsOf(tableSqrt(floatOf(0x3f800000u))) & 0x7fffffu, 0u);
    EXPECT_EQ(bitsOf(tableSqrt(floatOf(0x407fff00u))) & 0x7fffffu, 0x7fff80u);
    EXPECT_EQ(bitsOf(tableSqrt(floatOf(0x3fffff00u))) & 0x7fffffu, 0x350499u);
}

TEST(TableSqrt, WorkedValuesAreExact)
{
    EXPECT_EQ(tableSqrt(0.0f), 0.0f);
    EXPECT_EQ(tableSqrt(1.0f), 1.0f);
    EXPECT_EQ(tableSqrt(4.0f), 2.0f);
    EXPECT_EQ(tableSqrt(9.0f), 3.0f);
    EXPECT_EQ(tableSqrt(25.0f), 5.0f);
    EXPECT_EQ(tableSqrt(100.0f), 10.0f);
    EXPECT_EQ(tableSqrt(400.0f), 20.0f);
    EXPECT_EQ(tableSqrt(1000000.0f), 1000.0f);
    EXPECT_EQ(tableSqrt(0.25f), 0.5f);
    EXPECT_EQ(tableSqrt(2.0f), 1.41421354f);
    EXPECT_EQ(tableSqrt(10.0f), 3.16227770f);
    EXPECT_EQ(fastLength(3.0, 4.0), 5.0f);
    EXPECT_EQ(fastLength(0.0, 0.0), 0.0f);
    EXPECT_EQ(fastLength(-6.0, 8.0), 10.0f);
}

TEST(TableSqrt, LowEightMantissaBitsAreIgnored)
{
    for (float v : {2.0f, 10.0f, 123.456f, 0.0371f, 98765.4f})
    {
        const uint32_t base = bitsOf(v) & ~0xffu;
        const float expected = tableSqrt(floatOf(base));
        for (uint32_t low : {1u, 0x7fu, 0x80u, 0xffu})
        {
            EXPECT_EQ(bitsOf(tableSqrt(floatOf(base | low))), bitsOf(expected)) << v << " " << low;
        }
    }
}

// Every entry, reached through arguments across a wide range of exponents, stays within
// the table's error bound of a full-precision root.
TEST(TableSqrt, EveryEntryIsWithinTheErrorBound)
{
    double worst = 0.0;
    for (uint32_t exponent : {0x3f800000u, 0x40000000u, 0x1f800000u, 0x20000000u, 0x5f000000u,
                              0x5f800000u, 0x00800000u})
    {
        for (uint32_t index = 0; index < 32768; index++)
        {
            // Keep the low 8 bits set too: they are truncated, which is the worst case.
            const float x = floatOf(exponent | (index << 8) | 0xffu);
            const double exact = std::sqrt(static_cast<double>(x));
            const double err = std::fabs(static_cast<double>(tableSqrt(x)) - exact) / exact;
            worst = std::max(worst, err);
            ASSERT_LT(err, 1.6e-5) << "argument bits " << std::hex << bitsOf(x);
        }
    }
    EXPECT_GT(worst, 1e-6); // the truncation is real, so the bound is not vacuous
}
