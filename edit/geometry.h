#pragma once

#include "model/ship.h"

// Grid step in world units: every corner lies on a multiple of it on both axes.
constexpr double GRID_STEP = 3.125;

// The nearest grid point; a coordinate exactly halfway between two grid lines goes to
// the lower one.
Vec2 snapToGrid(Vec2 p);

// Puts the corners of `t` into counter-clockwise order by exchanging b and c when the
// slope test asks for it. Corner a never moves.
void normaliseWinding(Triangle& t);
