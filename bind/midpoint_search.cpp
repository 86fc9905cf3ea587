#include "bind/midpoint_search.h"

#include "bind/block_table.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <utility>

namespace
{
using Entry = MidpointGrid::Entry;
constexpr uint32_t NO_ENTRY = MidpointGrid::NO_ENTRY;

// From this many searches on, in a grid too large for the processor's caches, searches
// are sorted by where they start.
constexpr std::size_t SORTED_SEARCHES = 1024;
constexpr std::size_t SORTED_ENTRIES = 65536;

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
