#pragma once

#include "model/ship.h"

#include <algorithm>
#include <cassert>
#include <cmath>

// Shapes reach this far beyond their points, pixels: half the largest dot (16 pixels) and
// as much again, so that wide lines, dots and rounding all stay inside it.
constexpr double SHAPE_REACH_PIXELS = 16.0;

// Beyond this magnitude a coordinate may not be a finite single-precision value in GL.
constexpr double SINGLE_PRECISION_SAFE = 1e37;

// A rectangle of the world, world units.
struct WorldBox
{
    double left = 0.0;
    double bottom = 0.0;
    double right = 0.0;
    double top = 0.0;
};

// The part of the world that `state`'s view shows, widened by `pixels` on every side and by
// what single-precision GL may round its coordinates by. Before the first reshape the
// projection is not yet the view's, so it is the whole world.
WorldBox viewReach(const EditorState& state, double pixels);

// Whether a shape whose points are `points` may touch the window whose reach is `reach`.
// A point beyond single precision may turn into NaN in GL, where it lands is not known,
// so such a shape may always touch it. Inline, as it tests every attachment of a frame.
inline bool mayTouch(const Vec2* points, int count, const WorldBox& reach)
{
    assert(count > 0);
    double minX = points[0].x;
    double maxX = points[0].x;
    double minY = points[0].y;
    double maxY = points[0].y;
    double magnitude = 0.0;
    for (int i = 0; i < count; i++)
    {
        const Vec2& p = points[i];
        minX = std::min(minX, p.x);
        maxX = std::max(maxX, p.x);
        minY = std::min(minY, p.y);
        maxY = std::max(maxY, p.y);
        magnitude += std::fabs(p.x) + std::fabs(p.y);
    }
    // A NaN magnitude fails the comparison too.
    bool touches = true;
    if (magnitude < SINGLE_PRECISION_SAFE)
    {
        touches =
            maxX >= reach.left && minX <= reach.right && maxY >= reach.bottom && minY <= reach.top;
    }
    return touches;
}

// Draws one whole frame of `s` into the current buffer through the editor's view; its
// attachments must be bound for this frame. Only shapes that can touch the window are sent
// to GL, in the order of a frame that sends them all, so the pixels are those of that frame.
void drawScene(const Ship& s);
