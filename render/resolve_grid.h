#pragma once

#include "render/resolve.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// Edge midpoints filed by square cells, to find the few near an attachment. Only cells near
// a midpoint take memory, so a far-flung triangle costs one block of cells, not a grid
// stretched out to reach it. Midpoints too far out for exact cell arithmetic are kept in a
// list of their own.
struct BindingGrid
{
    static constexpr uint32_t NO_ENTRY = 0xFFFFFFFFu;
    // Cells come in square blocks of BLOCK_SIDE by BLOCK_SIDE, found through a hash table
    // keyed by the block's coordinates: neighbouring cells share a block, so a search
    // mostly stays within one or two, and only blocks holding a midpoint take memory.
    static constexpr int BLOCK_SHIFT = 2;
    static constexpr int BLOCK_SIDE = 1 << BLOCK_SHIFT;
    struct Entry
    {
        double mx, my;   // the edge's midpoint
        uint32_t edgeId; // 3 * triangle + edge
        uint32_t next;   // next entry of the same cell (or of the free list), or NO_ENTRY
    };
    struct Block
    {
        uint32_t head[BLOCK_SIDE * BLOCK_SIDE]; // per cell, row by row: first entry or NO_ENTRY
    };
    struct Slot
    {
        uint32_t bx, by; // block coordinates
        uint32_t block;  // index into `blocks`, or NO_ENTRY for a free slot
    };
    double cellSize = 8.0;          // world units; a power of two, so cell arithmetic is exact
    double inverseCellSize = 0.125; // cells per world unit
    std::vector<Slot> slots;        // open addressing; the size is zero or a power of two
    std::vector<Block> blocks;      // in the order they were first needed
    std::size_t builtBlocks = 0;    // blocks after the last full build
    std::vector<Entry> entries;     // after a full build, each cell's entries are contiguous
    uint32_t freeEntry = NO_ENTRY;  // first unlinked entry to reuse, or NO_ENTRY
    std::vector<Entry> far;         // midpoints beyond the cells' reach, in no order
};

// What the last frame's binding saw and wrote, so that the next frame redoes only what the
// edits since then can have changed.
struct BindingState
{
    struct Bound
    {
        double x, y;      // the attachment's position when it was last bound
        int32_t triangle; // the fields it was given then
        int32_t edge;
    };
    BindingGrid grid;                // the midpoints of `triangles`
    std::vector<Triangle> triangles; // the ship's triangles at the last bind
    std::size_t builtTriangles = 0;  // triangle count at the last full build of the grid
    std::vector<Bound> attachments;  // one per attachment at the last bind, in order
    std::vector<uint32_t> changed;   // scratch: triangles that differ from the last bind
    std::vector<Vec2> moved;         // scratch: old and new midpoints of changed edges
    std::vector<uint32_t> searched;  // scratch: attachments to search for again
};

// Binds every attachment to its nearest untied edge midpoint within range, writing
// `triangle` and `edge` of each. Gives exactly what resolveAttachment gives for each
// attachment, but looks only at the midpoints in the cells around the attachment, so
// the cost grows with the ship, not with attachments times triangles.
void resolveAttachments(BindingGrid& grid, const std::vector<Triangle>& triangles,
                        std::vector<Attachment>& attachments);

// Leaves every attachment's `triangle` and `edge` as resolveAttachments would, working from
// what `state` kept of the previous call: unchanged attachments get their previous fields
// back (a load may have cleared them), and only attachments that moved, are new, or lie in
// range of a changed edge are searched again. Many changed triangles, fewer triangles than
// before, or much growth rebuild the grid.
void bindShip(BindingState& state, const std::vector<Triangle>& triangles,
              std::vector<Attachment>& attachments);

// Bytes of storage that `state` holds, spare capacity included.
std::size_t bindingStorageBytes(const BindingState& state);

// The frame's binding step for `s`, with the state kept from the previous frame.
void bindAttachments(Ship& s);
