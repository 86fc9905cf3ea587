#pragma once

#include "bind/midpoint_grid.h"

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
    MidpointGrid grid;               // the midpoints of `triangles`
    std::vector<Triangle> triangles; // the ship's triangles at the last bind
    std::size_t builtTriangles = 0;  // triangle count at the last full build of the grid
    std::vector<Bound> attachments;  // one per attachment at the last bind, in order
    std::vector<uint32_t> changed;   // scratch: triangles that differ from the last bind
    std::vector<Vec2> moved;         // scratch: old and new midpoints of changed edges
    std::vector<uint32_t> searched;  // scratch: attachments to search for again
};

// Builds the grid for `triangles` and binds every attachment through it: exactly what
// bindOneByOne gives, at a cost that grows with the ship, not attachments times triangles.
void bindWithGrid(MidpointGrid& grid, const std::vector<Triangle>& triangles,
                  std::vector<Attachment>& attachments);

// The frame's binding: leaves every attachment's `triangle` and `edge` as bindOneByOne
// would, working from what `state` kept of the previous call: unchanged attachments get
// their previous fields back (a load may have cleared them), and only attachments that
// moved, are new, or lie in range of a changed edge are searched again. Many changed
// triangles, fewer triangles than before, or much growth rebuild the grid.
void bindFrame(BindingState& state, const std::vector<Triangle>& triangles,
               std::vector<Attachment>& attachments);

// Bytes of storage that `state` holds, spare capacity included.
std::size_t bindingStorageBytes(const BindingState& state);
