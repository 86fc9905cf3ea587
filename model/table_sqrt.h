#pragma once

#include <cstdint>

constexpr int SQRT_TABLE_SIZE = 65536;

// Mantissa bits of single-precision square roots, indexed by the lowest exponent bit and
// the top 15 mantissa bits of the argument.
extern uint32_t SqrtTable[SQRT_TABLE_SIZE];

// Fills SqrtTable; runs during static initialisation, before main.
void buildSqrtTable();

// Square root of a non-negative float from the table. The 8 lowest mantissa bits of the
// argument are ignored, so the relative error stays below about 1.5e-5.
float tableSqrt(float x);

// Length of (dx, dy): the sum of squares is formed in double, rounded to float, then rooted.
float fastLength(double dx, double dy);
