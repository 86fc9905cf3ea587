#include "render/resolve_grid.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstring>
#include <utility>

namespace
{
using Entry = BindingGrid::Entry;
using Block = BindingGrid::Block;
using Slot = BindingGrid::Slot;
constexpr uint32_t NO_ENTRY = BindingGrid::NO_ENTRY;
constexpr int BLOCK_SHIFT = BindingGrid::BLOCK_SHIFT;
constexpr uint32_t CELL_IN_BLOCK = BindingGrid::BLOCK_SIDE - 1;
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
// REACH beyond), the index of a cell of any size, offset by CELL_BIAS, fits in 32 bits.
constexpr double FAR_COORDINATE = 4294967296.0;
// Cell coordinates are kept offset by this, so that all the search meets are unsigned.
constexpr int64_t CELL_BIAS = int64_t{1} << 31;
// Farther apart than this along one axis, two points are out of binding range.
constexpr double REACH = 32.0;
static_assert(REACH * REACH > ATTACH_RANGE_SQ, "REACH must lie beyond the binding range");

// The snapshot is compared bytewise, so a triangle must be six doubles and nothing else.
static_assert(sizeof(Triangle) == 6 * sizeof(double), "Triangle has padding");
// Triangles compared with one memcmp before looking at them one by one.
constexpr std::size_t COMPARE_BLOCK = 256;
// From this many searches on, in a grid too large for the processor's caches, searches
// are sorted by where they start.
constexpr std::size_t SORTED_SEARCHES = 1024;
constexpr std::size_t SORTED_ENTRIES = 65536;

bool isNear(double x, double y)
{
    return std::fabs(x) < FAR_COORDINATE && std::fabs(y) < FAR_COORDINATE;
}

// floor(v / cell size) + CELL_BIAS, exact for |v| below FAR_COORDINATE + REACH as the size
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

std::size_t hashBlock(uint32_t bx, uint32_t by, std::size_t slotCount)
{
    const uint64_t key = (static_cast<uint64_t>(bx) << 32) | by;
    const uint64_t mixed = key * 0x9E3779B97F4A7C15ull;
    return static_cast<std::size_t>(mixed ^ (mixed >> 32)) & (slotCount - 1);
}

// The index of block (bx, by), or NO_ENTRY when no midpoint was ever filed there.
uint32_t findBlock(const BindingGrid& g, uint32_t bx, uint32_t by)
{
    if (g.slots.empty())
    {
        return NO_ENTRY;
    }
    const std::size_t mask = g.slots.size() - 1;
    for (std::size_t s = hashBlock(bx, by, g.slots.size());; s = (s + 1) & mask)
    {
        const Slot& slot = g.slots[s];
        if (slot.block == NO_ENTRY || (slot.bx == bx && slot.by == by))
        {
            return slot.block;
        }
    }
}

// The index of block (bx, by), adding an empty one when it is not there yet.
uint32_t blockFor(BindingGrid& g, uint32_t bx, uint32_t by)
{
    if ((g.blocks.size() + 1) * 2 > g.slots.size())
    {
        // Twice as many slots, the blocks filed anew from the old table.
        std::vector<Slot> old(std::max<std::size_t>(16, g.slots.size() * 2), Slot{0, 0, NO_ENTRY});
        old.swap(g.slots);
        const std::size_t mask = g.slots.size() - 1;
        for (const Slot& slot : old)
        {
            if (slot.block == NO_ENTRY)
            {
                continue;
            }
            std::size_t s = hashBlock(slot.bx, slot.by, g.slots.size());
            while (g.slots[s].block != NO_ENTRY)
            {
                s = (s + 1) & mask;
            }
            g.slots[s] = slot;
        }
    }
    const std::size_t mask = g.slots.size() - 1;
    for (std::size_t s = hashBlock(bx, by, g.slots.size());; s = (s + 1) & mask)
    {
        Slot& slot = g.slots[s];
        if (slot.block == NO_ENTRY)
        {
            Block empty;
            std::fill(std::begin(empty.head), std::end(empty.head), NO_ENTRY);
            slot = Slot{bx, by, static_cast<uint32_t>(g.blocks.size())};
            g.blocks.push_back(empty);
            return slot.block;
        }
        if (slot.bx == bx && slot.by == by)
        {
            return slot.block;
        }
    }
}

uint32_t cellInBlock(uint32_t cx, uint32_t cy)
{
    return ((cy & CELL_IN_BLOCK) << BLOCK_SHIFT) | (cx & CELL_IN_BLOCK);
}

// The head of cell (cx, cy), adding its block when needed.
uint32_t& cellHead(BindingGrid& g, uint32_t cx, uint32_t cy)
{
    const uint32_t b = blockFor(g, cx >> BLOCK_SHIFT, cy >> BLOCK_SHIFT);
    return g.blocks[b].head[cellInBlock(cx, cy)];
}

uint32_t edgeId(std::size_t triangle, int edge)
{
    return static_cast<uint32_t>(triangle * 3 + static_cast<std::size_t>(edge));
}

Vec2 edgeMidpoint(const Triangle& t, int k)
{
    return midpoint(t.corners[k], t.corners[k == 2 ? 0 : k + 1]);
}

// Only finite midpoints can ever bind: an infinite or NaN distance is neither below nor
// equal to the best.
bool isFinite(Vec2 m)
{
    return std::isfinite(m.x) && std::isfinite(m.y);
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
            const Vec2 q = triangles[i].corners[k == 2 ? 0 : k + 1];
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

// Gives storage back once it is more than twice what is used, so that a ship that shrank
// stops holding memory sized for the larger one, while small changes reallocate nothing.
template <typename T> void releaseSpare(std::vector<T>& v)
{
    if (v.capacity() > 2 * v.size() + 64)
    {
        std::vector<T>(v.begin(), v.end()).swap(v);
    }
}

void buildGrid(BindingGrid& g, const std::vector<Triangle>& triangles)
{
    assert(triangles.size() <= NO_ENTRY / 3);
    g.cellSize = chooseCellSize(triangles);
    g.inverseCellSize = 1.0 / g.cellSize;
    g.far.clear();
    g.freeEntry = NO_ENTRY;
    g.blocks.clear();
    g.slots.clear();

    // First pass: far midpoints to their list, near ones counted in their cell's head, and
    // the cell of each remembered so that the second pass need not look it up again.
    const double inverse = g.inverseCellSize;
    std::vector<uint32_t> cellOf;
    cellOf.reserve(triangles.size() * 3);
    for (std::size_t i = 0; i < triangles.size(); i++)
    {
        for (int k = 0; k < 3; k++)
        {
            const Vec2 m = edgeMidpoint(triangles[i], k);
            if (!isFinite(m))
            {
                continue;
            }
            if (!isNear(m.x, m.y))
            {
                g.far.push_back(Entry{m.x, m.y, edgeId(i, k), NO_ENTRY});
                continue;
            }
            const uint32_t cx = cellCoordinate(m.x, inverse);
            const uint32_t cy = cellCoordinate(m.y, inverse);
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
    g.entries.assign(cellOf.size(), Entry{0.0, 0.0, 0, 0});
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
            if (!isFinite(m) || !isNear(m.x, m.y))
            {
                continue;
            }
            const uint32_t ref = cellOf[e++];
            uint32_t& head = g.blocks[ref >> (2 * BLOCK_SHIFT)].head[ref & CELLS_IN_BLOCK_MASK];
            const uint32_t p = --head;
            const uint32_t next = g.entries[p].next == NO_ENTRY ? NO_ENTRY : p + 1;
            g.entries[p] = Entry{m.x, m.y, edgeId(i, k), next};
        }
    }
    g.builtBlocks = g.blocks.size();
    releaseSpare(g.entries);
    releaseSpare(g.blocks);
    releaseSpare(g.far);
}

void insertMidpoint(BindingGrid& g, Vec2 m, uint32_t id)
{
    if (!isFinite(m))
    {
        return;
    }
    if (!isNear(m.x, m.y))
    {
        g.far.push_back(Entry{m.x, m.y, id, NO_ENTRY});
        return;
    }
    uint32_t e = g.freeEntry;
    if (e != NO_ENTRY)
    {
        g.freeEntry = g.entries[e].next;
    }
    else
    {
        e = static_cast<uint32_t>(g.entries.size());
        g.entries.push_back(Entry{});
    }
    uint32_t& head =
        cellHead(g, cellCoordinate(m.x, g.inverseCellSize), cellCoordinate(m.y, g.inverseCellSize));
    g.entries[e] = Entry{m.x, m.y, id, head};
    head = e;
}

// Takes out the entry that insertMidpoint or buildGrid filed for edge `id` at `m`; `m`
// must be the very midpoint filed then, so that it leads to the same cell.
void removeMidpoint(BindingGrid& g, Vec2 m, uint32_t id)
{
    if (!isFinite(m))
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
        assert(false && "far midpoint not filed");
        return;
    }
    uint32_t* link = &cellHead(g, cellCoordinate(m.x, g.inverseCellSize),
                               cellCoordinate(m.y, g.inverseCellSize));
    while (*link != NO_ENTRY && g.entries[*link].edgeId != id)
    {
        link = &g.entries[*link].next;
    }
    assert(*link != NO_ENTRY);
    const uint32_t e = *link;
    *link = g.entries[e].next;
    g.entries[e].next = g.freeEntry;
    g.freeEntry = e;
}

// The smallest distance so far, how many midpoints have it, and the edge of the first.
struct Nearest
{
    double best = ATTACH_RANGE_SQ;
    int count = 0;
    uint32_t edgeId = 0;
};

void consider(const Entry& m, const Attachment& a, Nearest& n)
{
    const double dx = m.mx - a.x;
    const double dy = m.my - a.y;
    const double d = dx * dx + dy * dy;
    if (d < n.best)
    {
        n.best = d;
        n.count = 1;
        n.edgeId = m.edgeId;
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

void scanCell(const BindingGrid& g, uint32_t cx, uint32_t cy, BlockCursor& cursor,
              const Attachment& a, Nearest& n)
{
    const uint32_t bx = cx >> BLOCK_SHIFT;
    const uint32_t by = cy >> BLOCK_SHIFT;
    if (bx != cursor.bx || by != cursor.by)
    {
        const uint32_t b = findBlock(g, bx, by);
        cursor = BlockCursor{bx, by, b == NO_ENTRY ? nullptr : g.blocks[b].head};
    }
    if (cursor.heads == nullptr)
    {
        return;
    }
    for (uint32_t e = cursor.heads[cellInBlock(cx, cy)]; e != NO_ENTRY; e = g.entries[e].next)
    {
        consider(g.entries[e], a, n);
    }
}

void resolveInGrid(const BindingGrid& g, Attachment& a)
{
    // The one-by-one search binds exactly when a single edge holds the smallest distance
    // and it is below the range; edges at or beyond the range never matter. So: the
    // smallest distance, and how many edges share it. A non-finite position is at no
    // finite distance from anything and never binds.
    Nearest n;
    if (std::isfinite(a.x) && std::isfinite(a.y))
    {
        if (!g.blocks.empty() && std::fabs(a.x) < FAR_COORDINATE + REACH &&
            std::fabs(a.y) < FAR_COORDINATE + REACH)
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
        if (!g.far.empty() &&
            !(std::fabs(a.x) < FAR_COORDINATE - REACH && std::fabs(a.y) < FAR_COORDINATE - REACH))
        {
            for (const Entry& f : g.far)
            {
                consider(f, a, n);
            }
        }
    }
    a.triangle = n.count == 1 ? static_cast<int>(n.edgeId / 3) : NO_EDGE;
    a.edge = n.count == 1 ? static_cast<int>(n.edgeId % 3) : NO_EDGE;
}

// Searches the grid for each attachment listed in `which`. Many searches go in the order
// of the blocks they start in, so that neighbouring searches reuse the memory just read.
void resolveListed(const BindingGrid& g, std::vector<Attachment>& attachments,
                   std::vector<uint32_t>& which)
{
    if (which.size() >= SORTED_SEARCHES && g.entries.size() >= SORTED_ENTRIES)
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
    for (const uint32_t j : which)
    {
        resolveInGrid(g, attachments[j]);
    }
}

// Indices of the triangles in `before`'s range that differ in any bit from `now`; false as
// soon as there are more than `limit`.
bool findChanged(const std::vector<Triangle>& now, const std::vector<Triangle>& before,
                 std::size_t limit, std::vector<uint32_t>& changed)
{
    changed.clear();
    for (std::size_t start = 0; start < before.size(); start += COMPARE_BLOCK)
    {
        const std::size_t count = std::min(COMPARE_BLOCK, before.size() - start);
        if (std::memcmp(&now[start], &before[start], count * sizeof(Triangle)) == 0)
        {
            continue;
        }
        for (std::size_t i = start; i < start + count; i++)
        {
            if (std::memcmp(&now[i], &before[i], sizeof(Triangle)) != 0)
            {
                changed.push_back(static_cast<uint32_t>(i));
                if (changed.size() > limit)
                {
                    return false;
                }
            }
        }
    }
    return true;
}

// A midpoint that can bind, kept for finding the attachments whose binding it may change.
void noteMoved(BindingState& state, Vec2 m)
{
    if (isFinite(m))
    {
        state.moved.push_back(m);
    }
}

// Brings the grid and the snapshot from `state.triangles` to `triangles` edge by edge,
// noting in `state.moved` every midpoint that came or went. False when that is not worth
// it and the grid must be built anew.
bool updateGrid(BindingState& state, const std::vector<Triangle>& triangles)
{
    const std::size_t before = state.triangles.size();
    const std::size_t now = triangles.size();
    // Past these the grid is built anew: many changed edges cost more one by one, and
    // a ship that grew a lot or spread over many new cells may want another cell size.
    const std::size_t limit = now / 16 + 64;
    if (now < before || now - before > limit || now > 2 * state.builtTriangles + 1024 ||
        state.grid.blocks.size() > 2 * state.grid.builtBlocks + 256)
    {
        return false;
    }
    if (!findChanged(triangles, state.triangles, limit - (now - before), state.changed))
    {
        return false;
    }
    BindingGrid& g = state.grid;
    for (const uint32_t i : state.changed)
    {
        for (int k = 0; k < 3; k++)
        {
            // An edge whose midpoint kept every bit is the same entry as before.
            const Vec2 was = edgeMidpoint(state.triangles[i], k);
            const Vec2 is = edgeMidpoint(triangles[i], k);
            if (std::memcmp(&was, &is, sizeof(Vec2)) == 0)
            {
                continue;
            }
            removeMidpoint(g, was, edgeId(i, k));
            insertMidpoint(g, is, edgeId(i, k));
            noteMoved(state, was);
            noteMoved(state, is);
        }
        state.triangles[i] = triangles[i];
    }
    assert(now <= NO_ENTRY / 3);
    for (std::size_t i = before; i < now; i++)
    {
        state.triangles.push_back(triangles[i]);
        for (int k = 0; k < 3; k++)
        {
            const Vec2 m = edgeMidpoint(triangles[i], k);
            insertMidpoint(g, m, edgeId(i, k));
            noteMoved(state, m);
        }
    }
    return true;
}

// Moved midpoints compared one by one with each attachment up to this many; past it, every
// attachment near their bounding box is searched again.
constexpr std::size_t MAX_MOVED_CHECKED = 96;

struct Box
{
    double minX = INFINITY, minY = INFINITY, maxX = -INFINITY, maxY = -INFINITY;
};

// Whether a midpoint that came or went may have been in range of `a`, and so change its
// binding. The box test keeps the rounding on its side: when minX - a.x rounds to REACH or
// more, every m.x - a.x with m.x >= minX does too, and its square exceeds the range.
bool mayChange(const Attachment& a, const std::vector<Vec2>& moved, const Box& box)
{
    if (box.minX - a.x >= REACH || box.maxX - a.x <= -REACH || box.minY - a.y >= REACH ||
        box.maxY - a.y <= -REACH)
    {
        return false;
    }
    if (moved.size() > MAX_MOVED_CHECKED)
    {
        return true;
    }
    for (const Vec2& m : moved)
    {
        // The very arithmetic of the search: a midpoint at or beyond the range (or at a
        // NaN distance) never takes part in it.
        const double dx = m.x - a.x;
        const double dy = m.y - a.y;
        if (dx * dx + dy * dy < ATTACH_RANGE_SQ)
        {
            return true;
        }
    }
    return false;
}

bool samePosition(const Attachment& a, const BindingState::Bound& b)
{
    return std::memcmp(&a.x, &b.x, sizeof(double)) == 0 &&
           std::memcmp(&a.y, &b.y, sizeof(double)) == 0;
}
} // namespace

void resolveAttachments(BindingGrid& grid, const std::vector<Triangle>& triangles,
                        std::vector<Attachment>& attachments)
{
    buildGrid(grid, triangles);
    std::vector<uint32_t> all(attachments.size());
    for (std::size_t j = 0; j < all.size(); j++)
    {
        all[j] = static_cast<uint32_t>(j);
    }
    resolveListed(grid, attachments, all);
}

void bindShip(BindingState& state, const std::vector<Triangle>& triangles,
              std::vector<Attachment>& attachments)
{
    assert(attachments.size() <= NO_ENTRY);
    state.moved.clear();
    const bool rebuilt = !updateGrid(state, triangles);
    if (rebuilt)
    {
        state.triangles = triangles;
        releaseSpare(state.triangles);
        buildGrid(state.grid, triangles);
        state.builtTriangles = triangles.size();
        state.moved.clear();
    }
    Box box;
    for (const Vec2& m : state.moved)
    {
        box.minX = std::min(box.minX, m.x);
        box.minY = std::min(box.minY, m.y);
        box.maxX = std::max(box.maxX, m.x);
        box.maxY = std::max(box.maxY, m.y);
    }

    // The binding is a function of the triangles and the attachment's position alone, so
    // an attachment that kept its place away from every changed edge gets back what it had.
    const std::size_t known = rebuilt ? 0 : std::min(state.attachments.size(), attachments.size());
    state.attachments.resize(attachments.size());
    state.searched.clear();
    for (std::size_t j = 0; j < attachments.size(); j++)
    {
        Attachment& a = attachments[j];
        const BindingState::Bound& b = state.attachments[j];
        if (j >= known || !samePosition(a, b) ||
            (!state.moved.empty() && mayChange(a, state.moved, box)))
        {
            state.searched.push_back(static_cast<uint32_t>(j));
        }
        else
        {
            a.triangle = b.triangle;
            a.edge = b.edge;
        }
    }
    resolveListed(state.grid, attachments, state.searched);
    for (const uint32_t j : state.searched)
    {
        const Attachment& a = attachments[j];
        state.attachments[j] = BindingState::Bound{a.x, a.y, a.triangle, a.edge};
    }
    releaseSpare(state.attachments);
    releaseSpare(state.changed);
    releaseSpare(state.moved);
    releaseSpare(state.searched);
}

std::size_t bindingStorageBytes(const BindingState& state)
{
    const BindingGrid& g = state.grid;
    return g.slots.capacity() * sizeof(BindingGrid::Slot) +
           g.blocks.capacity() * sizeof(BindingGrid::Block) +
           (g.entries.capacity() + g.far.capacity()) * sizeof(BindingGrid::Entry) +
           state.triangles.capacity() * sizeof(Triangle) +
           state.attachments.capacity() * sizeof(BindingState::Bound) +
           (state.changed.capacity() + state.searched.capacity()) * sizeof(uint32_t) +
           state.moved.capacity() * sizeof(Vec2);
}

void bindAttachments(Ship& s)
{
    static BindingState state;
    bindShip(state, s.triangles, s.attachments);
}
