#pragma once

#include "bind/bind_plain.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

// Edge midpoints filed by square cells, to find the few near an attachment. Only cells near
// a midpoint take memory, so a far-flung triangle costs one block of cells, not a grid
// stretched out to reach it. Midpoints too far out for exact cell arithmetic are kept in a
// list of their own.
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
        uint32_t next;   // next entry of the same cell (or of the free list), or NO_ENTRY
    };
    struct Block
    {
        uint32_t head[BLOCK_SIDE * BLOCK_SIDE]; // per cell, row by row: first entry or NO_ENTRY
    };
    double cellSize = 8.0;          // world units; a power of two, so cell arithmetic is exact
    double inverseCellSize = 0.125; // cells per world unit
    std::unordered_map<uint64_t, uint32_t> blockOf; // block x << 32 | block y: index in `blocks`
    std::vector<Block> blocks;                      // in the order they were first needed
    std::size_t builtBlocks = 0;                    // blocks after the last full build
    std::vector<Entry> entries;    // after a full build, each cell's entries are contiguous
    uint32_t freeEntry = NO_ENTRY; // first unlinked entry to reuse, or NO_ENTRY
    std::vector<Entry> far;        // midpoints beyond the cells' reach, in no order
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

// Files every edge midpoint of `triangles` anew, with a cell size to suit them.
void buildGrid(MidpointGrid& grid, const std::vector<Triangle>& triangles);

// Files the midpoint `m` of edge `id`.
void insertMidpoint(MidpointGrid& grid, Vec2 m, uint32_t id);

// Takes out the entry filed for edge `id` at `m`; `m` must be the very midpoint filed then,
// so that it leads to the same cell.
void removeMidpoint(MidpointGrid& grid, Vec2 m, uint32_t id);

// Binds each attachment listed in `which` (whose order it may change) as bindOneByOne would,
// looking only at the midpoints in the cells around it.
void bindListed(const MidpointGrid& grid, std::vector<Attachment>& attachments,
                std::vector<uint32_t>& which);
