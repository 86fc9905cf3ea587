#pragma once

#include "model/ship.h"

#include <vector>

// An edge midpoint binds an attachment only when its squared distance is below this.
constexpr double ATTACH_RANGE_SQ = 1000.0;

// What the binding search found for one attachment.
struct Resolution
{
    bool found = false;
    int triangle = NO_EDGE;
    int firstCorner = NO_EDGE;  // corner index (0..2) where the bound edge starts
    int secondCorner = NO_EDGE; // (firstCorner + 1) % 3
};

// Binds `attachment` to the one nearest edge midpoint within range, writing `triangle`
// and `edge` (NO_EDGE in both when unbound). Two edges at the same smallest distance
// leave it unbound, so an edge shared by two triangles never binds.
Resolution resolveAttachment(const std::vector<Triangle>& triangles, Attachment& attachment);
