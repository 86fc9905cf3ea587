#include "model/table_sqrt.h"

#include <cmath>
#include <cstring>

// Mantissa bits of single-precision square roots, indexed by the lowest exponent bit and
// the top 15 mantissa bits of the argument; filled during static initialisation, before main.
static uint32_t sqrtTable[65536];

static float floatFromBits(uint32_t bits)
{
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

static uint32_t bitsFromFloat(float f)
{
    uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    return bits;
}

static uint32_t rootMantissa(uint32_t argumentBits)
{
    // The root is taken in double and rounded once to single precision.
    const float root =
        static_cast<float>(std::sqrt(static_cast<double>(floatFromBits(argumentBits))));
    return bitsFromFloat(root) & 0x7fffffu;
}

static bool buildSqrtTable()
{
    for (uint32_t i = 0; i < 32768; i++)
    {
        // Even biased exponent: the mantissa stands for a value in [2, 4).
        sqrtTable[i] = rootMantissa((i | 0x400000u) << 8);
        // Odd biased exponent: a value in [1, 2).
        sqrtTable[i + 32768] = rootMantissa((i | 0x3f8000u) << 8);
    }
    return true;
}

static const bool sqrtTableBuilt = buildSqrtTable();

// Square root of a non-negative float from the table. The 8 lowest mantissa bits of the
// argument are ignored, so the relative error stays below about 1.5e-5.
float tableSqrt(float x)
{
    const uint32_t c = bitsFromFloat(x);
    if (c == 0)
    {
        return 0.0f;
    }
    // Halves the unbiased exponent, rounding toward minus infinity; the unsigned
    // subtraction wraps for arguments below 1 and the shift keeps that exact.
    const uint32_t e = (((c - 0x3f800000u) >> 1) + 0x3f800000u) & 0x7f800000u;
    const uint32_t m = sqrtTable[(c >> 8) & 0xffffu];
    return floatFromBits(e | m);
}

float fastLength(double dx, double dy)
{
    return tableSqrt(static_cast<float>(dx * dx + dy * dy));
}
