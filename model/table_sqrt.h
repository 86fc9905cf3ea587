#pragma once

#include <cstdint>

// Square root of a non-negative float from the table behind fastLength. The 8 lowest mantissa
// bits of the argument are ignored, so the relative error stays below about 1.5e-5.
float tableSqrt(float x);

// Length of (dx, dy): the sum of squares is formed in double, rounded to float, then rooted.
float fastLength(double dx, double dy);
