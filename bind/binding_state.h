#pragma once

// Inside bind/: the state the frame step keeps between frames.

#include "bind/midpoint_grid.h"

// Moved midpoints compared one by one with each attachment up to this many; past it, every
// attachment near their bounding box is searched again.
constexpr std::size_t MAX_MOVED_CHECKED = 96;

// What the last frame's binding saw and wrote, so that the next frame redoes only what the
// edits since then can have changed. Whoever runs the frames keeps one.
struct BindingState
{
    struct Bound
    {
        double x, y;      // the attachment's position when it was last bound
        int32_t triangle; // the fields it was given then
        int32_t edge;
    };
    // The bounding box of the midpoints that came or went this frame.
    struct Area
    {
        double minX = INFINITY, minY = INFINITY, maxX = -INFINITY, maxY = -INFINITY;
    };
    MidpointGrid grid;               // the midpoints of `triangles`
    std::vector<Triangle> triangles; // the ship's first triangles at the last bind: all of
                                     // them unless memory ran short
    std::size_t builtTriangles = 0;  // triangle count at the last full build of the grid
    std::vector<Bound> attachments;  // one per attachment at the last bind, in order (fewer
                                     // when memory ran short: the rest are searched each time)
    std::vector<uint32_t> changed;   // scratch: triangles that differ from the last bind
    std::vector<Vec2> moved;         // scratch: midpoints that came or went, while few
    std::size_t movedCount = 0;      // midpoints that came or went, listed or not
    Area movedArea;                  // where they lie
    std::vector<uint32_t> searched;  // scratch: attachments to search for again
    bool unfiled = false;            // the last bind left triangles out of the snapshot
    bool memoryShort = false;        // memory was refused since the ship was adopted
};

// The frame's binding: leaves every attachment's `triangle` and `edge` as bindOneByOne
// would, working from what `state` kept of the previous call: unchanged attachments get
// their previous fields back (a load may have cleared them), and only attachments that
// moved, are new, or lie in range of a changed edge are searched again. Many changed
// triangles, fewer triangles than before, or much growth rebuild the grid.
//
// It never fails for want of memory: a rebuild that cannot get its memory becomes an update
// of the grid in place, growth beyond the room set aside uses what is left, and what cannot
// be filed at all is searched directly. Returns true on the first frame that memory ran short
// since `state` was prepared, so that the caller can say so once.
bool bindFrame(BindingState& state, const std::vector<Triangle>& triangles,
               std::vector<Attachment>& attachments);

// Makes `state` the binding of a ship about to be adopted: the grid for `triangles`, room
// set aside for the growth of editing, and every attachment's binding found (the first
// frame gives it to the attachment). Throws std::bad_alloc when the memory is not there,
// leaving `state` to be discarded.
void prepareBinding(BindingState& state, const std::vector<Triangle>& triangles,
                    std::vector<Attachment>& attachments);
