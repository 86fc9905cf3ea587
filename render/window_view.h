#pragma once

#include "model/ship.h"

#include <cstdint>

// What a frame is drawn through: the view's square of the world, VIEW_SIZE units across and
// up from its origin, stretched over the whole window.
struct WindowView
{
    ViewOrigin origin;  // lower-left corner of the view, world units
    int32_t width = 0;  // window pixels, 0 before the first reshape
    int32_t height = 0; // window pixels, 0 before the first reshape
};
