#pragma once

// Inside bind/: where a near midpoint's cell lies, and the table that finds the block of cells
// holding it. The lookups are inline, as every search makes one per cell it reads.

#include "bind/midpoint_grid.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

constexpr int BLOCK_SHIFT = MidpointGrid::BLOCK_SHIFT;
constexpr uint32_t CELL_IN_BLOCK = MidpointGrid::BLOCK_SIDE - 1;
constexpr uint32_t CELLS_IN_BLOCK_MASK = (1u << (2 * BLOCK_SHIFT)) - 1;

// Midpoints with a coordinate this large or larger go to the far list. Below it (and up to
// BIND_REACH beyond), the index of a cell of any size, offset by CELL_BIAS, fits in 32 bits.
constexpr double FAR_COORDINATE = 4294967296.0;
// Cell coordinates are kept offset by this, so that all the search meets are unsigned.
constexpr int64_t CELL_BIAS = int64_t{1} << 31;

inline bool isNear(double x, double y)
{
    return std::fabs(x) < FAR_COORDINATE && std::fabs(y) < FAR_COORDINATE;
}

// floor(v / cell size) + CELL_BIAS, exact for |v| below FAR_COORDINATE + BIND_REACH as the size
// is a power of two. A tiny negative v can underflow to -0.0 in the product; it still lies
// in cell -1.
inline uint32_t cellCoordinate(double v, double inverseSize)
{
    double c = std::floor(v * inverseSize);
    if (v < 0.0 && c > -1.0)
    {
        c = -1.0;
    }
    return static_cast<uint32_t>(static_cast<int64_t>(c) + CELL_BIAS);
}

inline uint64_t blockKey(uint32_t bx, uint32_t by)
{
    return (static_cast<uint64_t>(bx) << 32) | by;
}

inline uint32_t cellInBlock(uint32_t cx, uint32_t cy)
{
    return ((cy & CELL_IN_BLOCK) << BLOCK_SHIFT) | (cx & CELL_IN_BLOCK);
}

// Neighbouring blocks differ in the low bits of either half of the key; mixing spreads them
// over the table.
inline std::size_t slotOf(uint64_t key, std::size_t mask)
{
    key ^= key >> 33;
    key *= 0xff51afd7ed558ccdULL;
    key ^= key >> 33;
    return static_cast<std::size_t>(key) & mask;
}

// The index of the block with `key`, or NO_ENTRY. The table always keeps a free slot, which
// ends every probe.
inline uint32_t findBlock(const MidpointGrid& g, uint64_t key)
{
    if (g.table.empty())
    {
        return MidpointGrid::NO_ENTRY;
    }
    const std::size_t mask = g.table.size() - 1;
    for (std::size_t i = slotOf(key, mask);; i = (i + 1) & mask)
    {
        const MidpointGrid::Slot& slot = g.table[i];
        if (slot.block == MidpointGrid::NO_ENTRY || slot.key == key)
        {
            return slot.block;
        }
    }
}

// Adds an empty block with `key` and returns its index. A full build lets std::bad_alloc
// through; an edit (`mayThrow` false) gets NO_ENTRY instead, with the grid as it was.
uint32_t addBlock(MidpointGrid& g, uint64_t key, bool mayThrow);

// The index of block (bx, by), adding an empty one when it is not there yet. Throws
// std::bad_alloc when the memory is not there.
inline uint32_t blockFor(MidpointGrid& g, uint32_t bx, uint32_t by)
{
    const uint64_t key = blockKey(bx, by);
    const uint32_t found = findBlock(g, key);
    return found != MidpointGrid::NO_ENTRY ? found : addBlock(g, key, true);
}

// Sets aside blocks and table slots for `more` blocks beyond those there. Throws
// std::bad_alloc when the memory is not there; what was set aside stays.
void reserveBlocks(MidpointGrid& g, std::size_t more);
