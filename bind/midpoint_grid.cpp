#include "bind/midpoint_grid.h"

#include "bind/block_table.h"

#include <algorithm>
#include <cassert>
#include <cmath>

namespace
{
using Entry = MidpointGrid::Entry;
using Block = MidpointGrid::Block;
using Slot = MidpointGrid::Slot;
constexpr uint32_t NO_ENTRY = MidpointGrid::NO_ENTRY;

// Cell sizes are powers of two between these, in world units: the size follows the ship's
// typical edge, and the bounds keep a search within 17 by 17 cells.
constexpr double MIN_CELL_SIZE = 4.0;
constexpr double MAX_CELL_SIZE = 64.0;
constexpr double DEFAULT_CELL_SIZE = 8.0;
// Cells about as wide as the median edge: in a ship of joined triangles that puts a few
// midpoints in each.
constexpr double EDGES_PER_CELL = 1.0;
constexpr std::size_t CELL_SIZE_SAMPLE = 1024;

// The head of the cell holding the near midpoint `m`, adding its block when `add` is set and
// the memory is there; null when there is no such block.
uint32_t* cellHead(MidpointGrid& g, Vec2 m, bool add)
{
    const uint32_t cx = cellCoordinate(m.x, g.inverseCellSize);
    const uint32_t cy = cellCoordinate(m.y, g.inverseCellSize);
    const uint64_t key = blockKey(cx >> BLOCK_SHIFT, cy >> BLOCK_SHIFT);
    uint32_t b = findBlock(g, key);
    if (b == NO_ENTRY && add)
    {
        b = addBlock(g, key, false);
    }
    return b == NO_ENTRY ? nullptr : &g.blocks[b].head[cellInBlock(cx, cy)];
}

// Unlinks the entry of edge `id` from the chain starting at `link`; false when it is not there.
bool unlinkFrom(MidpointGrid& g, uint32_t* link, uint32_t id)
{
    while (*link != NO_ENTRY && g.entries[*link].edgeId != id)
    {
        link = &g.entries[*link].next;
    }
    if (*link == NO_ENTRY)
    {
        return false;
    }
    const uint32_t e = *link;
    *link = g.entries[e].next;
    g.entries[e].next = g.freeEntry;
    g.freeEntry = e;
    return true;
}

// The median edge of a sample of triangles, rounded down to a power of two, so that a few
// far-flung or huge triangles leave the cells as the rest of the ship wants them.
double chooseCellSize(const std::vector<Triangle>& triangles)
{
    std::vector<double> lengths;
    const std::size_t step = std::max<std::size_t>(1, triangles.size() / CELL_SIZE_SAMPLE);
    for (std::size_t i = 0; i < triangles.size(); i += step)
    {
        for (int k = 0; k < 3; k++)
        {
            const Vec2 p = triangles[i].corners[k];
            const Vec2 q = triangles[i].corners[nextCorner(k)];
            const double length = std::hypot(q.x - p.x, q.y - p.y);
            if (std::isfinite(length) && length > 0.0)
            {
                lengths.push_back(length);
            }
        }
    }
    if (lengths.empty())
    {
        return DEFAULT_CELL_SIZE;
    }
    std::nth_element(lengths.begin(), lengths.begin() + lengths.size() / 2, lengths.end());
    const double wanted = lengths[lengths.size() / 2] * EDGES_PER_CELL;
    double size = MIN_CELL_SIZE;
    while (size * 2.0 <= wanted && size < MAX_CELL_SIZE)
    {
        size *= 2.0;
    }
    return size;
}
} // namespace

void buildGrid(MidpointGrid& g, const std::vector<Triangle>& triangles, std::size_t room)
{
    assert(triangles.size() <= NO_ENTRY / 3);
    g.cellSize = chooseCellSize(triangles);
    g.inverseCellSize = 1.0 / g.cellSize;
    g.far.clear();
    g.freeEntry = NO_ENTRY;
    g.looseHead = NO_ENTRY;
    g.blocks.clear();
    std::vector<Slot>().swap(g.table);

    // First pass: far midpoints to their list, near ones counted in their cell's head, and
    // the cell of each remembered so that the second pass need not look it up again.
    std::vector<uint32_t> cellOf;
    cellOf.reserve(triangles.size() * 3);
    for (std::size_t i = 0; i < triangles.size(); i++)
    {
        for (int k = 0; k < 3; k++)
        {
            const Vec2 m = edgeMidpoint(triangles[i], k);
            if (!canBind(m))
            {
                continue;
            }
            if (!isNear(m.x, m.y))
            {
                g.far.push_back(Entry{m, edgeId(i, k), NO_ENTRY});
                continue;
            }
            const uint32_t cx = cellCoordinate(m.x, g.inverseCellSize);
            const uint32_t cy = cellCoordinate(m.y, g.inverseCellSize);
            const uint32_t b = blockFor(g, cx >> BLOCK_SHIFT, cy >> BLOCK_SHIFT);
            const uint32_t c = cellInBlock(cx, cy);
            uint32_t& count = g.blocks[b].head[c];
            count = count == NO_ENTRY ? 1 : count + 1;
            assert(b < (1u << (32 - 2 * BLOCK_SHIFT)));
            cellOf.push_back((b << (2 * BLOCK_SHIFT)) | c);
        }
    }

    // Each cell gets a contiguous run of entries, in the order blocks were first needed,
    // which follows the triangles and so keeps neighbours close. Runs are filled from
    // their end, `head` moving from the run's end to its start; the last entry of each run
    // is marked beforehand, so the fill knows where a cell's chain ends.
    // With room asked for, the entries take their final capacity at once, not by a copy.
    if (room > 0)
    {
        g.entries.reserve(3 * triangles.size() + room);
    }
    g.entries.assign(cellOf.size(), Entry{Vec2{}, 0, 0});
    uint32_t start = 0;
    for (Block& block : g.blocks)
    {
        for (uint32_t& head : block.head)
        {
            if (head != NO_ENTRY)
            {
                start += head;
                head = start;
                g.entries[start - 1].next = NO_ENTRY;
            }
        }
    }
    std::size_t e = 0;
    for (std::size_t i = 0; i < triangles.size(); i++)
    {
        for (int k = 0; k < 3; k++)
        {
            const Vec2 m = edgeMidpoint(triangles[i], k);
            if (!canBind(m) || !isNear(m.x, m.y))
            {
                continue;
            }
            const uint32_t ref = cellOf[e++];
            uint32_t& head = g.blocks[ref >> (2 * BLOCK_SHIFT)].head[ref & CELLS_IN_BLOCK_MASK];
            const uint32_t p = --head;
            const uint32_t next = g.entries[p].next == NO_ENTRY ? NO_ENTRY : p + 1;
            g.entries[p] = Entry{m, edgeId(i, k), next};
        }
    }
    g.builtBlocks = g.blocks.size();
    if (room > 0)
    {
        reserveBlocks(g, room);
        return;
    }
    releaseSpare(g.entries);
    releaseSpare(g.blocks);
    releaseSpare(g.far);
}

void insertMidpoint(MidpointGrid& g, Vec2 m, uint32_t id)
{
    if (!canBind(m))
    {
        return;
    }
    if (!isNear(m.x, m.y))
    {
        if (roomForOne(g.far))
        {
            g.far.push_back(Entry{m, id, NO_ENTRY});
            return;
        }
        g.refused = true;
    }
    uint32_t e = g.freeEntry;
    if (e != NO_ENTRY)
    {
        g.freeEntry = g.entries[e].next;
    }
    else
    {
        assert(g.entries.size() < g.entries.capacity());
        e = static_cast<uint32_t>(g.entries.size());
        g.entries.push_back(Entry{});
    }
    uint32_t* head = isNear(m.x, m.y) ? cellHead(g, m, true) : nullptr;
    if (head == nullptr)
    {
        head = &g.looseHead;
    }
    g.entries[e] = Entry{m, id, *head};
    *head = e;
}

void removeMidpoint(MidpointGrid& g, Vec2 m, uint32_t id)
{
    if (!canBind(m))
    {
        return;
    }
    if (!isNear(m.x, m.y))
    {
        for (Entry& f : g.far)
        {
            if (f.edgeId == id)
            {
                f = g.far.back();
                g.far.pop_back();
                return;
            }
        }
    }
    else
    {
        uint32_t* head = cellHead(g, m, false);
        if (head != nullptr && unlinkFrom(g, head, id))
        {
            return;
        }
    }
    // Filed where memory allowed: on the loose chain.
    const bool found = unlinkFrom(g, &g.looseHead, id);
    assert(found && "midpoint not filed");
    (void)found;
}
