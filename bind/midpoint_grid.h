#pragma once

// Inside bind/: the grid behind the frame step.

#include "bind/bind_plain.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <new>
#include <vector>

// Edge midpoints filed by square cells, to find the few near an attachment. Only cells near
// a midpoint take memory, so a far-flung triangle costs one block of cells, not a grid
// stretched out to reach it. Midpoints too far out for exact cell arithmetic are kept in a
// list of their own.
//
// Filing a midpoint never fails for want of memory: when its block or a table slot cannot be
// had beyond the room set aside, it goes on the loose chain, which every search reads whole.
struct MidpointGrid
{
    static constexpr uint32_t NO_ENTRY = 0xFFFFFFFFu;
    // Cells come in square blocks of BLOCK_SIDE by BLOCK_SIDE, found through a table keyed
    // by the block's coordinates: neighbouring cells share a block, so a search mostly stays
    // within one or two, and only blocks holding a midpoint take memory.
    static constexpr int BLOCK_SHIFT = 2;
    static constexpr int BLOCK_SIDE = 1 << BLOCK_SHIFT;
    struct Entry
    {
        Vec2 m;          // the edge's midpoint
        uint32_t edgeId; // 3 * triangle + edge
        uint32_t next;   // next entry of the same cell (or chain), or NO_ENTRY
    };
    struct Block
    {
        uint32_t head[BLOCK_SIDE * BLOCK_SIDE]; // per cell, row by row: first entry or NO_ENTRY
    };
    // One slot of the block table: open addressing, probed linearly from the key's hash.
    struct Slot
    {
        uint64_t key = 0;          // block x << 32 | block y
        uint32_t block = NO_ENTRY; // index in `blocks`, or NO_ENTRY for a free slot
    };
    double cellSize = 8.0;          // world units; a power of two, so cell arithmetic is exact
    double inverseCellSize = 0.125; // cells per world unit
    std::vector<Slot> table;        // a power of two long, always with a free slot; or empty
    std::vector<Block> blocks;      // in the order they were first needed
    std::size_t builtBlocks = 0;    // blocks after the last full build
    std::vector<Entry> entries;     // after a full build, each cell's entries are contiguous
    uint32_t freeEntry = NO_ENTRY;  // first unlinked entry to reuse, or NO_ENTRY
    uint32_t looseHead = NO_ENTRY;  // first midpoint filed in no cell, or NO_ENTRY
    std::vector<Entry> far;         // midpoints beyond the cells' reach, in no order
    bool refused = false;           // some growth was refused since this was last cleared
};

// Farther apart than this along one axis, two points are out of binding range.
constexpr double BIND_REACH = 32.0;
static_assert(BIND_REACH * BIND_REACH > ATTACH_RANGE_SQ, "BIND_REACH must lie beyond the range");

// A vector's storage is given back once its capacity passes twice its size and this many
// elements, so a ship that shrank stops holding memory sized for the larger one, while the
// small changes of editing reallocate nothing.
constexpr std::size_t SPARE_ELEMENTS = 64;

template <typename T> void releaseSpare(std::vector<T>& v)
{
    if (v.capacity() > 2 * v.size() + SPARE_ELEMENTS)
    {
        std::vector<T>(v.begin(), v.end()).swap(v);
    }
}

// The grid's name for edge k of triangle i.
inline uint32_t edgeId(std::size_t triangle, int edge)
{
    return static_cast<uint32_t>(triangle * 3 + static_cast<std::size_t>(edge));
}

// Only finite midpoints can ever bind: an infinite or NaN distance is neither below nor
// equal to the best.
inline bool canBind(Vec2 m)
{
    return std::isfinite(m.x) && std::isfinite(m.y);
}

// Makes room for one more element: the usual doubling, or a smaller step when that is refused.
// False, with `v` as it was, when no room can be had.
template <typename T> bool roomForOne(std::vector<T>& v)
{
    if (v.size() < v.capacity())
    {
        return true;
    }
    const std::size_t steps[] = {v.capacity() + v.capacity() / 2 + 16, v.capacity() + 16};
    for (const std::size_t capacity : steps)
    {
        try
        {
            v.reserve(capacity);
            return true;
        }
        catch (const std::bad_alloc&)
        {
        }
    }
    return false;
}

// Files every edge midpoint of `triangles` anew, with a cell size to suit them, and room for
// `room` more midpoints, each in a block of its own, with entries for three per triangle besides.
// Throws std::bad_alloc when the memory is not there, leaving `grid` to be discarded.
void buildGrid(MidpointGrid& grid, const std::vector<Triangle>& triangles, std::size_t room = 0);

// Files the midpoint `m` of edge `id`; never throws. The entry comes from the free list or
// the entries' spare capacity, which the caller keeps at three per triangle it holds; the
// loose chain takes it when its cell's block cannot be had.
void insertMidpoint(MidpointGrid& grid, Vec2 m, uint32_t id);

// Takes out the entry filed for edge `id` at `m`; `m` must be the very midpoint filed then,
// so that it leads to the same cell (or the loose chain). Never allocates.
void removeMidpoint(MidpointGrid& grid, Vec2 m, uint32_t id);
