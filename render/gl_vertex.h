#pragma once

#include "model/ship.h"

#include <GL/gl.h>

// Sends `p` to GL as a vertex; coordinates turn into floats only here.
inline void sendVertex(const Vec2& p)
{
    glVertex2f(static_cast<float>(p.x), static_cast<float>(p.y));
}
