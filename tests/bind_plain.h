#pragma once

#include "model/ship.h"

#include <vector>

// Binds `attachment` to the one nearest edge midpoint within range, writing `triangle`
// and `edge` (NO_EDGE in both when unbound). Two edges at the same smallest distance
// leave it unbound, so an edge shared by two triangles never binds. It looks at every edge:
// the plain form of the binding, which the grid and the frame step must equal.
void bindOneByOne(const std::vector<Triangle>& triangles, Attachment& attachment);
