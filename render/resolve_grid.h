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

// Binds every attachment to its nearest untied edge midpoint within range, writing
// `triangle` and `edge` of each. Gives exactly what resolveAttachment gives for each
// attachment, but looks only at the midpoints in the cells around the attachment, so
// the cost grows with the ship, not with attachments times triangles.
void resolveAttachments(BindingGrid& grid, const std::vector<Triangle>& triangles,
                        std::vector<Attachment>& attachments);

// The frame's binding step: binds every attachment of `s` anew, keeping the grid's storage.
void bindAttachments(Ship& s);
