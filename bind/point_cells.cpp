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

// The head of the chain that a filed record lies on, found from where it was filed.
uint32_t& headOf(PointCells& c, const PointCells::Point& p)
{
    if (p.tag == PointCells::FAR)
    {
        return c.farHead;
    }
    const CellPlace place = placeOf(c, cellCoordinate(p.at.x, c.inverseCellSize),
                                    cellCoordinate(p.at.y, c.inverseCellSize));
    return c.heads[place.bucket];
}

void unlink(PointCells& c, uint32_t id)
{
    PointCells::Point& p = c.points[id];
    uint32_t* at = &headOf(c, p);
    while (*at != id)
    {
        assert(*at != NO_POINT && "point not filed");
        at = &c.points[*at].next;
    }
    *at = p.next;
    p.tag = PointCells::UNFILED;
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
        if (p.tag != PointCells::UNFILED && p.tag != PointCells::FAR)
        {
            uint32_t& head = headOf(c, p);
            p.next = head;
            head = id;
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
    if (p.tag != PointCells::UNFILED)
    {
        unlink(c, id);
    }
    p.at = at;
    uint32_t* head = &c.farHead;
    p.tag = PointCells::FAR;
    if (isNear(at.x, at.y))
    {
        const CellPlace place = placeOf(c, cellCoordinate(at.x, c.inverseCellSize),
                                        cellCoordinate(at.y, c.inverseCellSize));
        p.tag = place.tag;
        head = &c.heads[place.bucket];
    }
    p.next = *head;
    *head = id;
}
