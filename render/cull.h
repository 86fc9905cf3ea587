#pragma once

#include "model/ship.h"
#include "render/window_view.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstddef>
#include <cstdint>

// Culling: what decides whether a shape can touch the window, so that the scene and the
// markers send GL only the shapes that can: the view's reach in the world, and the box tests
// against it.

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

// The part of the world that `view` shows, widened by `pixels` on every side and by what
// single-precision GL may round its coordinates by. Before the first reshape the projection
// is not yet the view's, so it is the whole world.
WorldBox viewReach(const WindowView& view, double pixels);

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

// mayTouch for one triangle, written out: each frame runs it over every triangle of the ship,
// so it reads the three corners straight from the triangle and joins the four box tests
// without a loop or a branch.
inline bool triangleMayTouch(const Triangle& t, const WorldBox& reach)
{
    const double x0 = t.corners[0].x;
    const double x1 = t.corners[1].x;
    const double x2 = t.corners[2].x;
    const double y0 = t.corners[0].y;
    const double y1 = t.corners[1].y;
    const double y2 = t.corners[2].y;
    const bool beyond = (x0 < reach.left && x1 < reach.left && x2 < reach.left) |
                        (x0 > reach.right && x1 > reach.right && x2 > reach.right) |
                        (y0 < reach.bottom && y1 < reach.bottom && y2 < reach.bottom) |
                        (y0 > reach.top && y1 > reach.top && y2 > reach.top);
    const double magnitude = std::fabs(x0) + std::fabs(x1) + std::fabs(x2) + std::fabs(y0) +
                             std::fabs(y1) + std::fabs(y2);
    return !beyond || !(magnitude < SINGLE_PRECISION_SAFE);
}

// Boxes over runs of consecutive elements of a list (the triangles),
// so that a frame tests the runs against the view and then only the elements of the runs that
// may touch it, in list order. They are kept from the ship's record of changes: the run of a
// changed element is measured anew, and after "everything" the whole list is. They take no
// memory beyond their own, however long the list: past MAX_RUNS runs, runs grow twice as long.
struct RunBoxes
{
    static constexpr std::size_t MAX_RUNS = 4096;
    static constexpr int SHORTEST_RUN_SHIFT = 6;
    WorldBox boxes[MAX_RUNS];
    bool unsafe[MAX_RUNS] = {};     // a member beyond single precision, or NaN: the run may touch
    int shift = SHORTEST_RUN_SHIFT; // a run holds 1 << shift elements
    std::size_t covered = 0;        // elements the runs hold
    uint64_t caughtUp = 0;          // the ship's edit stamp when they were last brought up
};

// The points of element `i` of a list, for the box of its run.
using ElementPoints = int (*)(const void* list, std::size_t i, Vec2* points);

// Brings `runs` to `list` of `count` elements, after the changes `changed` (`changedCount`
// indices) that `record` of the ship whose edit stamp is `stamp` holds.
void updateRunBoxes(RunBoxes& runs, const void* list, std::size_t count, ElementPoints points,
                    const uint32_t* changed, int changedCount, const ShipChanges& record,
                    uint64_t stamp);

// Whether run `r` of `runs` may hold an element that touches `reach`.
inline bool runMayTouch(const RunBoxes& runs, std::size_t r, const WorldBox& reach)
{
    const WorldBox& b = runs.boxes[r];
    return runs.unsafe[r] || (b.right >= reach.left && b.left <= reach.right &&
                              b.top >= reach.bottom && b.bottom <= reach.top);
}

// Calls `visit(i)` for every element of the runs that may touch `reach`, in list order.
template <typename Visit>
void forEachInTouchingRuns(const RunBoxes& runs, const WorldBox& reach, Visit&& visit)
{
    const std::size_t length = std::size_t{1} << runs.shift;
    for (std::size_t r = 0, start = 0; start < runs.covered; r++, start += length)
    {
        if (runMayTouch(runs, r, reach))
        {
            const std::size_t end = std::min(runs.covered, start + length);
            for (std::size_t i = start; i < end; i++)
            {
                visit(i);
            }
        }
    }
}
