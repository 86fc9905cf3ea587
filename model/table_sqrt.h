#pragma once

#include <cstdint>

// Length of (dx, dy): the sum of squares is formed in double, rounded to float, then rooted.
float fastLength(double dx, double dy);
