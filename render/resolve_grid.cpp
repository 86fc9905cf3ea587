#include "render/resolve_grid.h"

#include <algorithm>
#include <cmath>

namespace
{
// Cells are sized for about this many midpoints each, and never smaller than
// MIN_CELL_SIZE world units, so that a search touches few midpoints beyond the nearest.
constexpr double MIDPOINTS_PER_CELL = 2.0;
constexpr double MIN_CELL_SIZE = 4.0;
// Beyond this magnitude the rounding of the cell arithmetic grows past what the search's
// distance bounds allow for; such ships are bound with the one-by-one search.
constexpr double MAX_GRID_COORDINATE = 1.0e9;
// Upper bound on cells per midpoint, so that a few far-flung triangles cannot make the
// grid huge; the cells grow instead.
constexpr double MAX_CELLS_PER_MIDPOINT = 2.0;

// Cell coordinate along one axis, clamped to [-reach - 1, last + reach + 1]: from there
// no cell of the grid is within the search's reach, and NaN lands there too.
long cellCoordinate(double v, double origin, double inverseSize, long last, long reach)
{
    const double c = std::floor((v - origin) * inverseSize);
    if (!(c >= static_cast<double>(-reach)))
    {
        return -reach - 1;
    }
    return c > static_cast<double>(last + reach) ? last + reach + 1 : static_cast<long>(c);
}

// Looks at the midpoints of cells [x0, x1] of one row, keeping the smallest distance from
// `a`, how many midpoints have it, and the first of them.
struct Nearest
{
    double best = ATTACH_RANGE_SQ;
    int count = 0;
    const BindingGrid::Entry* entry = nullptr;
};

void scanCells(const BindingGrid& g, long y, long x0, long x1, const Attachment& a, Nearest& n)
{
    x0 = std::max(x0, 0L);
    x1 = std::min(x1, static_cast<long>(g.columns) - 1);
    if (y < 0 || y >= g.rows || x0 > x1)
    {
        return;
    }
    // The cells of a row are contiguous in `entries`.
    const std::size_t row = static_cast<std::size_t>(y) * static_cast<std::size_t>(g.columns);
    const uint32_t end = g.cellStart[row + static_cast<std::size_t>(x1) + 1];
    for (uint32_t i = g.cellStart[row + static_cast<std::size_t>(x0)]; i < end; i++)
    {
        const BindingGrid::Entry& m = g.entries[i];
        const double dx = m.mx - a.x;
        const double dy = m.my - a.y;
        const double d = dx * dx + dy * dy;
        if (d < n.best)
        {
            n.best = d;
            n.count = 1;
            n.entry = &m;
        }
        else if (d == n.best && n.count > 0)
        {
            n.count++;
        }
    }
}

bool buildGrid(BindingGrid& g, const std::vector<Triangle>& triangles)
{
    // One pass for the midpoints and their extent. Only finite midpoints can ever bind:
    // an infinite or NaN distance is neither below nor equal to the best.
    g.midpoints.resize(triangles.size() * 3);
    BindingGrid::Entry* out = g.midpoints.data();
    double minX = INFINITY, minY = INFINITY, maxX = -INFINITY, maxY = -INFINITY;
    for (std::size_t i = 0; i < triangles.size(); i++)
    {
        const Vec2* c = triangles[i].corners;
        for (int k = 0; k < 3; k++)
        {
            const Vec2 m = midpoint(c[k], c[k == 2 ? 0 : k + 1]);
            if (std::isfinite(m.x) && std::isfinite(m.y))
            {
                *out++ = BindingGrid::Entry{m.x, m.y, static_cast<int32_t>(i), k};
                minX = m.x < minX ? m.x : minX;
                maxX = m.x > maxX ? m.x : maxX;
                minY = m.y < minY ? m.y : minY;
                maxY = m.y > maxY ? m.y : maxY;
            }
        }
    }
    const std::size_t edges = static_cast<std::size_t>(out - g.midpoints.data());
    g.midpoints.resize(edges);
    g.columns = 0;
    g.rows = 0;
    if (edges == 0)
    {
        return true;
    }
    const double limit = MAX_GRID_COORDINATE;
    if (!(-limit < minX && maxX < limit && -limit < minY && maxY < limit))
    {
        return false;
    }
    const double width = maxX - minX;
    const double height = maxY - minY;
    const double perMidpoint = width * height / static_cast<double>(edges);
    double size = std::max(MIN_CELL_SIZE, std::sqrt(perMidpoint * MIDPOINTS_PER_CELL));
    const double cellBudget = MAX_CELLS_PER_MIDPOINT * static_cast<double>(edges) + 16.0;
    while ((std::floor(width / size) + 1.0) * (std::floor(height / size) + 1.0) > cellBudget)
    {
        size *= 2.0;
    }
    g.minX = minX;
    g.minY = minY;
    g.cellSize = size;
    g.inverseCellSize = 1.0 / size;
    // Rings of cells around an attachment's own cell that can hold a midpoint in range.
    g.reach = static_cast<long>(std::ceil(std::sqrt(ATTACH_RANGE_SQ) / size)) + 1;
    // Cell assignment is exact to far below this, relative to the coordinates' size.
    g.slack = 1.0e-9 * (1.0 + std::max(std::max(-minX, maxX), std::max(-minY, maxY)));
    g.columns = static_cast<int>(std::floor(width / size)) + 1;
    g.rows = static_cast<int>(std::floor(height / size)) + 1;
    const std::size_t cells = static_cast<std::size_t>(g.columns) * static_cast<std::size_t>(g.rows);

    // Counting sort of the midpoints by cell: one pass to count, one to place. Midpoints
    // are never below the grid's origin, so truncation is the floor.
    g.cellStart.assign(cells + 1, 0);
    g.cellOf.resize(edges);
    const uint32_t lastColumn = static_cast<uint32_t>(g.columns - 1);
    const uint32_t lastRow = static_cast<uint32_t>(g.rows - 1);
    const double inverse = g.inverseCellSize;
    const uint32_t columns = static_cast<uint32_t>(g.columns);
    for (std::size_t e = 0; e < edges; e++)
    {
        const BindingGrid::Entry& m = g.midpoints[e];
        const uint32_t cx = std::min(static_cast<uint32_t>((m.mx - minX) * inverse), lastColumn);
        const uint32_t cy = std::min(static_cast<uint32_t>((m.my - minY) * inverse), lastRow);
        const uint32_t cell = cy * columns + cx;
        g.cellOf[e] = cell;
        g.cellStart[cell + 1]++;
    }
    for (std::size_t c = 0; c < cells; c++)
    {
        g.cellStart[c + 1] += g.cellStart[c];
    }
    g.entries.resize(edges);
    for (std::size_t e = 0; e < edges; e++)
    {
        // cellStart[c] serves as the cell's insertion point here and is put back below.
        g.entries[g.cellStart[g.cellOf[e]]++] = g.midpoints[e];
    }
    for (std::size_t c = cells; c > 0; c--)
    {
        g.cellStart[c] = g.cellStart[c - 1];
    }
    g.cellStart[0] = 0;
    return true;
}
} // namespace

void resolveAttachments(BindingGrid& grid, const std::vector<Triangle>& triangles,
                        std::vector<Attachment>& attachments)
{
    if (!buildGrid(grid, triangles))
    {
        for (Attachment& a : attachments)
        {
            resolveAttachment(triangles, a);
        }
        return;
    }
    const BindingGrid& g = grid;
    for (Attachment& a : attachments)
    {
        a.triangle = NO_EDGE;
        a.edge = NO_EDGE;
        if (g.columns == 0)
        {
            continue;
        }
        const long reach = g.reach;
        const long cx = cellCoordinate(a.x, g.minX, g.inverseCellSize, g.columns - 1, reach);
        const long cy = cellCoordinate(a.y, g.minY, g.inverseCellSize, g.rows - 1, reach);
        // The one-by-one search binds exactly when a single edge holds the smallest
        // distance and it is below the range; edges at or beyond the range never matter.
        // So: the smallest distance, and how many edges share it. Rings of cells are
        // searched outward until every midpoint of the next ring must be strictly
        // farther than the best so far, so equal distances are always all counted.
        Nearest n;
        for (long r = 0; r <= reach; r++)
        {
            if (r >= 2)
            {
                const double bound = static_cast<double>(r - 1) * g.cellSize - g.slack;
                if (bound > 0.0 && bound * bound * (1.0 - 1.0e-12) > n.best)
                {
                    break;
                }
            }
            if (r == 0)
            {
                scanCells(g, cy, cx, cx, a, n);
                continue;
            }
            scanCells(g, cy - r, cx - r, cx + r, a, n);
            scanCells(g, cy + r, cx - r, cx + r, a, n);
            for (long y = cy - r + 1; y <= cy + r - 1; y++)
            {
                scanCells(g, y, cx - r, cx - r, a, n);
                scanCells(g, y, cx + r, cx + r, a, n);
            }
        }
        if (n.count == 1)
        {
            a.triangle = n.entry->triangle;
            a.edge = n.entry->edge;
        }
    }
}

void bindAttachments(Ship& s)
{
    static BindingGrid grid;
    resolveAttachments(grid, s.triangles, s.attachments);
}
