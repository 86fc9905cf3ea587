#include "bind/midpoint_grid.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <utility>

namespace
{
using Entry = MidpointGrid::Entry;
using Block = MidpointGrid::Block;
using Slot = MidpointGrid::Slot;
constexpr uint32_t NO_ENTRY = MidpointGrid::NO_ENTRY;
constexpr int BLOCK_SHIFT = MidpointGrid::BLOCK_SHIFT;
constexpr uint32_t CELL_IN_BLOCK = MidpointGrid::BLOCK_SIDE - 1;
constexpr uint32_t CELLS_IN_BLOCK_MASK = (1u << (2 * BLOCK_SHIFT)) - 1;

// Cell sizes are powers of two between these, in world units: the size follows the ship's
// typical edge, and the bounds keep a search within 17 by 17 cells.
constexpr double MIN_CELL_SIZE = 4.0;
constexpr double MAX_CELL_SIZE = 64.0;
constexpr double DEFAULT_CELL_SIZE = 8.0;
// Cells about as wide as the median edge: in a ship of joined triangles that puts a few
// midpoints in each.
constexpr double EDGES_PER_CELL = 1.0;
constexpr std::size_t CELL_SIZE_SAMPLE = 1024;

// Midpoints with a coordinate this large or larger go to the far list. Below it (and up to
// BIND_REACH beyond), the index of a cell of any size, offset by CELL_BIAS, fits in 32 bits.
constexpr double FAR_COORDINATE = 4294967296.0;
// Cell coordinates are kept offset by this, so that all the search meets are unsigned.
constexpr int64_t CELL_BIAS = int64_t{1} << 31;
// From this many searches on, in a grid too large for the processor's caches, searches
// are sorted by where they start.
constexpr std::size_t SORTED_SEARCHES = 1024;
constexpr std::size_t SORTED_ENTRIES = 65536;

bool isNear(double x, double y)
{
    return std::fabs(x) < FAR_COORDINATE && std::fabs(y) < FAR_COORDINATE;
}

// floor(v / cell size) + CELL_BIAS, exact for |v| below FAR_COORDINATE + BIND_REACH as the size
// is a power of two. A tiny negative v can underflow to -0.0 in the product; it still lies
// in cell -1.
uint32_t cellCoordinate(double v, double inverseSize)
{
    double c = std::floor(v * inverseSize);
    if (v < 0.0 && c > -1.0)
    {
        c = -1.0;
    }
    return static_cast<uint32_t>(static_cast<int64_t>(c) + CELL_BIAS);
}

uint64_t blockKey(uint32_t bx, uint32_t by)
{
    return (static_cast<uint64_t>(bx) << 32) | by;
}

// Neighbouring blocks differ in the low bits of either half of the key; mixing spreads them
// over the table.
std::size_t slotOf(uint64_t key, std::size_t mask)
{
    key ^= key >> 33;
    key *= 0xff51afd7ed558ccdULL;
    key ^= key >> 33;
    return static_cast<std::size_t>(key) & mask;
}

// The index of the block with `key`, or NO_ENTRY. The table always keeps a free slot, which
// ends every probe.
uint32_t findBlock(const MidpointGrid& g, uint64_t key)
{
    if (g.table.empty())
    {
        return NO_ENTRY;
    }
    const std::size_t mask = g.table.size() - 1;
    for (std::size_t i = slotOf(key, mask);; i = (i + 1) & mask)
    {
        const Slot& slot = g.table[i];
        if (slot.block == NO_ENTRY || slot.key == key)
        {
            return slot.block;
        }
    }
}

void placeBlock(std::vector<Slot>& table, uint64_t key, uint32_t block)
{
    const std::size_t mask = table.size() - 1;
    std::size_t i = slotOf(key, mask);
    while (table[i].block != NO_ENTRY)
    {
        i = (i + 1) & mask;
    }
    table[i] = Slot{key, block};
}

// Moves the blocks to a table of `size` slots, a power of two. Throws std::bad_alloc,
// leaving the table as it was.
void resizeTable(MidpointGrid& g, std::size_t size)
{
    std::vector<Slot> table(size);
    for (const Slot& slot : g.table)
    {
        if (slot.block != NO_ENTRY)
        {
            placeBlock(table, slot.key, slot.block);
        }
    }
    g.table.swap(table);
}

// The table is kept at most half full, so that probes stay short.
constexpr std::size_t MIN_TABLE_SIZE = 16;

std::size_t tableSizeFor(std::size_t blocks)
{
    std::size_t size = MIN_TABLE_SIZE;
    while (size < 2 * blocks + 1)
    {
        size *= 2;
    }
    return size;
}

Block emptyBlock()
{
    Block empty;
    std::fill(std::begin(empty.head), std::end(empty.head), NO_ENTRY);
    return empty;
}

// Adds an empty block with `key` and returns its index. A full build lets std::bad_alloc
// through; an edit (`mayThrow` false) gets NO_ENTRY instead, with the grid as it was.
uint32_t addBlock(MidpointGrid& g, uint64_t key, bool mayThrow)
{
    const std::size_t count = g.blocks.size() + 1;
    if (2 * count >= g.table.size())
    {
        try
        {
            resizeTable(g, tableSizeFor(count));
        }
        catch (const std::bad_alloc&)
        {
            // A fuller table still finds every block, as long as one slot stays free.
            if (mayThrow || count + 1 > g.table.size())
            {
                if (mayThrow)
                {
                    throw;
                }
                g.refused = true;
                return NO_ENTRY;
            }
        }
    }
    if (mayThrow)
    {
        g.blocks.push_back(emptyBlock());
    }
    else if (roomForOne(g.blocks))
    {
        g.blocks.push_back(emptyBlock());
    }
    else
    {
        g.refused = true;
        return NO_ENTRY;
    }
    const uint32_t index = static_cast<uint32_t>(g.blocks.size() - 1);
    placeBlock(g.table, key, index);
    return index;
}

// The index of block (bx, by), adding an empty one when it is not there yet.
uint32_t blockFor(MidpointGrid& g, uint32_t bx, uint32_t by)
{
    const uint64_t key = blockKey(bx, by);
    const uint32_t found = findBlock(g, key);
    return found != NO_ENTRY ? found : addBlock(g, key, true);
}

uint32_t cellInBlock(uint32_t cx, uint32_t cy)
{
    return ((cy & CELL_IN_BLOCK) << BLOCK_SHIFT) | (cx & CELL_IN_BLOCK);
}

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

// The smallest distance so far, how many midpoints have it, and the edge of the first.
struct Nearest
{
    double best = ATTACH_RANGE_SQ;
    int count = 0;
    uint32_t edgeId = 0;
};

void consider(Vec2 m, uint32_t edgeId, const Attachment& a, Nearest& n)
{
    const double d = squaredDistance(m, Vec2{a.x, a.y});
    if (d < n.best)
    {
        n.best = d;
        n.count = 1;
        n.edgeId = edgeId;
    }
    else if (d == n.best && n.count > 0)
    {
        n.count++;
    }
}

// The heads of the block last looked up by a search, which the next cells mostly share.
struct BlockCursor
{
    uint32_t bx = NO_ENTRY;
    uint32_t by = NO_ENTRY;
    const uint32_t* heads = nullptr;
};

void scanCell(const MidpointGrid& g, uint32_t cx, uint32_t cy, BlockCursor& cursor,
              const Attachment& a, Nearest& n)
{
    const uint32_t bx = cx >> BLOCK_SHIFT;
    const uint32_t by = cy >> BLOCK_SHIFT;
    if (bx != cursor.bx || by != cursor.by)
    {
        const uint32_t found = findBlock(g, blockKey(bx, by));
        cursor = BlockCursor{bx, by, found == NO_ENTRY ? nullptr : g.blocks[found].head};
    }
    if (cursor.heads == nullptr)
    {
        return;
    }
    for (uint32_t e = cursor.heads[cellInBlock(cx, cy)]; e != NO_ENTRY; e = g.entries[e].next)
    {
        consider(g.entries[e].m, g.entries[e].edgeId, a, n);
    }
}

void bindInGrid(const MidpointGrid& g, UnfiledTriangles unfiled, Attachment& a)
{
    // The one-by-one search binds exactly when a single edge holds the smallest distance
    // and it is below the range; edges at or beyond the range never matter. So: the
    // smallest distance, and how many edges share it. A non-finite position is at no
    // finite distance from anything and never binds.
    Nearest n;
    if (std::isfinite(a.x) && std::isfinite(a.y))
    {
        if (!g.blocks.empty() && std::fabs(a.x) < FAR_COORDINATE + BIND_REACH &&
            std::fabs(a.y) < FAR_COORDINATE + BIND_REACH)
        {
            // Rings of cells are searched outward. A midpoint in ring r is at least
            // (r - 1) cells away along one axis; cell bounds are exact and so is that
            // distance's square, so the search stops when no midpoint of the ring can
            // be nearer than the best so far, nor tie with it.
            const uint32_t cx = cellCoordinate(a.x, g.inverseCellSize);
            const uint32_t cy = cellCoordinate(a.y, g.inverseCellSize);
            BlockCursor cursor;
            scanCell(g, cx, cy, cursor, a, n);
            for (uint32_t r = 1;; r++)
            {
                const double gap = static_cast<double>(r - 1) * g.cellSize;
                const double bound = gap * gap;
                if (bound > n.best || (n.count == 0 && bound >= n.best))
                {
                    break;
                }
                for (uint32_t y = cy - r; y <= cy + r; y++)
                {
                    // Whole rows at the ring's top and bottom, its two ends between.
                    const bool edgeRow = y == cy - r || y == cy + r;
                    for (uint32_t x = cx - r; x <= cx + r; x += edgeRow ? 1 : 2 * r)
                    {
                        scanCell(g, x, y, cursor, a, n);
                    }
                }
            }
        }
        // Far midpoints are out of range of anything well inside FAR_COORDINATE.
        if (!g.far.empty() && !(std::fabs(a.x) < FAR_COORDINATE - BIND_REACH &&
                                std::fabs(a.y) < FAR_COORDINATE - BIND_REACH))
        {
            for (const Entry& f : g.far)
            {
                consider(f.m, f.edgeId, a, n);
            }
        }
        for (uint32_t e = g.looseHead; e != NO_ENTRY; e = g.entries[e].next)
        {
            consider(g.entries[e].m, g.entries[e].edgeId, a, n);
        }
        if (unfiled.triangles != nullptr)
        {
            for (std::size_t i = unfiled.from; i < unfiled.triangles->size(); i++)
            {
                for (int k = 0; k < 3; k++)
                {
                    consider(edgeMidpoint((*unfiled.triangles)[i], k), edgeId(i, k), a, n);
                }
            }
        }
    }
    a.triangle = n.count == 1 ? static_cast<int>(n.edgeId / 3) : NO_EDGE;
    a.edge = n.count == 1 ? static_cast<int>(n.edgeId % 3) : NO_EDGE;
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
        reserveGridGrowth(g, room);
        return;
    }
    releaseSpare(g.entries);
    releaseSpare(g.blocks);
    releaseSpare(g.far);
}

void reserveGridGrowth(MidpointGrid& g, std::size_t midpoints)
{
    g.blocks.reserve(g.blocks.size() + midpoints);
    const std::size_t size = tableSizeFor(g.blocks.size() + midpoints);
    if (size > g.table.size())
    {
        resizeTable(g, size);
    }
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

void bindListed(const MidpointGrid& g, std::vector<Attachment>& attachments,
                std::vector<uint32_t>& which, UnfiledTriangles unfiled)
{
    // Many searches go in the order of the blocks they start in, so that neighbouring
    // searches reuse the memory just read.
    // The order changes no result, so the sort is left out when its memory is not there.
    if (which.size() >= SORTED_SEARCHES && g.entries.size() >= SORTED_ENTRIES)
    {
        try
        {
            std::vector<std::pair<uint64_t, uint32_t>> order(which.size());
            for (std::size_t i = 0; i < which.size(); i++)
            {
                const Attachment& a = attachments[which[i]];
                uint64_t key = ~uint64_t{0};
                if (std::fabs(a.x) < FAR_COORDINATE && std::fabs(a.y) < FAR_COORDINATE)
                {
                    const uint32_t bx = cellCoordinate(a.x, g.inverseCellSize) >> BLOCK_SHIFT;
                    const uint32_t by = cellCoordinate(a.y, g.inverseCellSize) >> BLOCK_SHIFT;
                    key = (static_cast<uint64_t>(by) << 32) | bx;
                }
                order[i] = {key, which[i]};
            }
            std::sort(order.begin(), order.end());
            for (std::size_t i = 0; i < which.size(); i++)
            {
                which[i] = order[i].second;
            }
        }
        catch (const std::bad_alloc&)
        {
        }
    }
    for (const uint32_t j : which)
    {
        bindInGrid(g, unfiled, attachments[j]);
    }
}
