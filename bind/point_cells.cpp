#include "point_cells.h"

#include <algorithm>
#include <cassert>
#include <utility>

namespace
{
// The buckets are at least as many as the records, so that chains stay short.
std::size_t bucketsFor(std::size_t ids)
{
    std::size_t size = 16;
    while (size < ids)
    {
        size *= 2;
    }
    return size;
}

void link(PointCells& c, std::vector<uint32_t>& heads, uint32_t id)
{
    PointCells::Point& p = c.points[id];
    uint32_t& head = p.bucket == PointCells::FAR ? c.farHead : heads[p.bucket];
    p.next = head;
    head = id;
}

void unlink(PointCells& c, uint32_t id)
{
    PointCells::Point& p = c.points[id];
    uint32_t* at = p.bucket == PointCells::FAR ? &c.farHead : &c.heads[p.bucket];
    while (*at != id)
    {
        assert(*at != NO_POINT && "point not filed");
        at = &c.points[*at].next;
    }
    *at = p.next;
    p.bucket = PointCells::UNFILED;
}
} // namespace

void reservePointCells(PointCells& c, std::size_t ids)
{
    const std::size_t buckets = bucketsFor(ids);
    std::vector<uint32_t> heads;
    if (buckets > c.heads.size())
    {
        heads.assign(buckets, NO_POINT);
    }
    c.points.reserve(ids);
    if (heads.empty())
    {
        return;
    }
    // Every filed point goes to its bucket of the larger table.
    std::swap(c.heads, heads);
    for (uint32_t id = 0; id < c.points.size(); id++)
    {
        PointCells::Point& p = c.points[id];
        if (p.bucket != PointCells::UNFILED && p.bucket != PointCells::FAR)
        {
            p.bucket = static_cast<uint32_t>(bucketOf(c, cellCoordinate(p.at.x, c.inverseCellSize),
                                                      cellCoordinate(p.at.y, c.inverseCellSize)));
            link(c, c.heads, id);
        }
    }
}

bool fitsPointCells(const PointCells& c, std::size_t ids)
{
    return c.points.capacity() >= ids && c.heads.size() == bucketsFor(ids);
}

void resetPointCells(PointCells& c, double cellSize)
{
    assert(!c.heads.empty());
    c.cellSize = cellSize;
    c.inverseCellSize = 1.0 / cellSize;
    std::fill(c.heads.begin(), c.heads.end(), NO_POINT);
    c.farHead = NO_POINT;
    c.points.clear();
}

void appendPoint(PointCells& c, Vec2 at)
{
    assert(c.points.size() < c.points.capacity());
    c.points.emplace_back();
    placePoint(c, static_cast<uint32_t>(c.points.size() - 1), at);
}

void placePoint(PointCells& c, uint32_t id, Vec2 at)
{
    PointCells::Point& p = c.points[id];
    if (p.bucket != PointCells::UNFILED)
    {
        unlink(c, id);
    }
    p.at = at;
    if (!canBind(at))
    {
        return;
    }
    if (isNear(at.x, at.y))
    {
        p.bucket = static_cast<uint32_t>(bucketOf(c, cellCoordinate(at.x, c.inverseCellSize),
                                                  cellCoordinate(at.y, c.inverseCellSize)));
    }
    else
    {
        p.bucket = PointCells::FAR;
    }
    link(c, c.heads, id);
}
