#include "render/resolve_grid.h"

#include <algorithm>
#include <cmath>

namespace
{
// Cells are wider than the binding range (about 31.62) with a margin, so every midpoint
// within range of an attachment lies in the attachment's cell or one of its neighbours,
// even after the rounding of the cell arithmetic.
constexpr double MIN_CELL_SIZE = 40.0;
// Beyond this magnitude the rounding of the cell arithmetic could eat the margin above;
// such ships are bound with the one-by-one search, which is always right.
constexpr double MAX_GRID_COORDINATE = 1.0e12;
// Upper bound on cells per edge, so that a few far-flung triangles cannot make the
// grid huge; the cells grow instead.
constexpr double MAX_CELLS_PER_EDGE = 4.0;

Vec2 midpoint(const Triangle& t, int k)
{
    const Vec2& p = t.corners[k];
    const Vec2& q = t.corners[(k + 1) % 3];
    return Vec2{(p.x + q.x) * 0.5, (p.y + q.y) * 0.5};
}

void writeBinding(Attachment& a, Resolution& r)
{
    a.triangle = r.found ? r.triangle : NO_EDGE;
    a.edge = r.found ? r.firstCorner : NO_EDGE;
}

void resolveOneByOne(const std::vector<Triangle>& triangles, std::vector<Attachment>& attachments,
                     std::vector<Resolution>& results)
{
    for (std::size_t j = 0; j < attachments.size(); j++)
    {
        results[j] = resolveAttachment(triangles, attachments[j]);
    }
}

// Cell coordinate, clamped to [-2, last + 2]: a position two or more cells outside the
// grid has no cell of the grid among its neighbours, and NaN lands there too.
long cellCoordinate(double v, double origin, double size, int last)
{
    const double c = std::floor((v - origin) / size);
    if (!(c >= -1.0))
    {
        return -2;
    }
    return c > last + 1 ? last + 2 : static_cast<long>(c);
}

bool buildGrid(BindingGrid& g, const std::vector<Triangle>& triangles)
{
    // Only finite midpoints can ever bind: an infinite or NaN distance is neither below
    // nor equal to the best.
    double minX = INFINITY, minY = INFINITY, maxX = -INFINITY, maxY = -INFINITY;
    std::size_t edges = 0;
    for (const Triangle& t : triangles)
    {
        for (int k = 0; k < 3; k++)
        {
            const Vec2 m = midpoint(t, k);
            if (std::isfinite(m.x) && std::isfinite(m.y))
            {
                minX = std::min(minX, m.x);
                maxX = std::max(maxX, m.x);
                minY = std::min(minY, m.y);
                maxY = std::max(maxY, m.y);
                edges++;
            }
        }
    }
    g.entries.clear();
    if (edges == 0)
    {
        g.columns = 0;
        g.rows = 0;
        return true;
    }
    const double limit = MAX_GRID_COORDINATE;
    if (!(-limit < minX && maxX < limit && -limit < minY && maxY < limit))
    {
        return false;
    }
    const double width = maxX - minX;
    const double height = maxY - minY;
    double size = MIN_CELL_SIZE;
    const double cellBudget = MAX_CELLS_PER_EDGE * static_cast<double>(edges) + 16.0;
    while ((std::floor(width / size) + 1.0) * (std::floor(height / size) + 1.0) > cellBudget)
    {
        size *= 2.0;
    }
    g.minX = minX;
    g.minY = minY;
    g.cellSize = size;
    g.columns = static_cast<int>(std::floor(width / size)) + 1;
    g.rows = static_cast<int>(std::floor(height / size)) + 1;
    const std::size_t cells = static_cast<std::size_t>(g.columns) * static_cast<std::size_t>(g.rows);

    // Counting sort of the midpoints by cell: one pass to count, one to place.
    g.cellStart.assign(cells + 1, 0);
    g.cellOf.clear();
    for (const Triangle& t : triangles)
    {
        for (int k = 0; k < 3; k++)
        {
            const Vec2 m = midpoint(t, k);
            if (!(std::isfinite(m.x) && std::isfinite(m.y)))
            {
                g.cellOf.push_back(UINT32_MAX);
                continue;
            }
            const long cx = cellCoordinate(m.x, g.minX, size, g.columns - 1);
            const long cy = cellCoordinate(m.y, g.minY, size, g.rows - 1);
            const uint32_t cell = static_cast<uint32_t>(cy * g.columns + cx);
            g.cellOf.push_back(cell);
            g.cellStart[cell + 1]++;
        }
    }
    for (std::size_t c = 0; c < cells; c++)
    {
        g.cellStart[c + 1] += g.cellStart[c];
    }
    g.entries.resize(edges);
    std::vector<uint32_t> next(g.cellStart.begin(), g.cellStart.end() - 1);
    std::size_t e = 0;
    for (std::size_t i = 0; i < triangles.size(); i++)
    {
        for (int k = 0; k < 3; k++, e++)
        {
            const uint32_t cell = g.cellOf[e];
            if (cell == UINT32_MAX)
            {
                continue;
            }
            const Vec2 m = midpoint(triangles[i], k);
            g.entries[next[cell]++] = BindingGrid::Entry{m.x, m.y, static_cast<int32_t>(i), k};
        }
    }
    return true;
}
} // namespace

void resolveAttachments(BindingGrid& grid, const std::vector<Triangle>& triangles,
                        std::vector<Attachment>& attachments, std::vector<Resolution>& results)
{
    results.assign(attachments.size(), Resolution{});
    if (!buildGrid(grid, triangles))
    {
        resolveOneByOne(triangles, attachments, results);
        return;
    }
    const BindingGrid& g = grid;
    for (std::size_t j = 0; j < attachments.size(); j++)
    {
        Attachment& a = attachments[j];
        Resolution& r = results[j];
        if (g.columns == 0)
        {
            writeBinding(a, r);
            continue;
        }
        const long cx = cellCoordinate(a.x, g.minX, g.cellSize, g.columns - 1);
        const long cy = cellCoordinate(a.y, g.minY, g.cellSize, g.rows - 1);
        // The one-by-one search binds exactly when a single edge holds the smallest
        // distance and it is below the range; edges at or beyond the range never matter.
        // So: the smallest distance among the neighbours, and how many edges share it.
        double best = ATTACH_RANGE_SQ;
        int count = 0;
        const BindingGrid::Entry* bestEntry = nullptr;
        for (long y = std::max(cy - 1, 0L); y <= std::min(cy + 1, static_cast<long>(g.rows) - 1); y++)
        {
            for (long x = std::max(cx - 1, 0L); x <= std::min(cx + 1, static_cast<long>(g.columns) - 1); x++)
            {
                const std::size_t cell = static_cast<std::size_t>(y * g.columns + x);
                for (uint32_t i = g.cellStart[cell]; i < g.cellStart[cell + 1]; i++)
                {
                    const BindingGrid::Entry& m = g.entries[i];
                    const double dx = m.mx - a.x;
                    const double dy = m.my - a.y;
                    const double d = dx * dx + dy * dy;
                    if (d < best)
                    {
                        best = d;
                        count = 1;
                        bestEntry = &m;
                    }
                    else if (d == best && count > 0)
                    {
                        count++;
                    }
                }
            }
        }
        if (count == 1)
        {
            r.found = true;
            r.triangle = bestEntry->triangle;
            r.firstCorner = bestEntry->edge;
            r.secondCorner = (bestEntry->edge + 1) % 3;
        }
        writeBinding(a, r);
    }
}
