#pragma once

// Inside bind/: points filed by square cells, to find the few near a place. Each point has an
// id of its own (an edge, or an attachment) and takes one record at that index; a cell is
// found through a hash of its coordinates, so only filed points take memory, and a far-flung
// triangle costs nothing more than a near one. Points too far out for exact cell arithmetic,
// or not finite, are kept on a chain of their own.
//
// Filing, moving and removing a point never ask for memory: the records and the hash are had
// beforehand, by reservePointCells.

#include "model/ship.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

constexpr uint32_t NO_POINT = 0xFFFFFFFFu;

struct PointCells
{
    // Where a record is filed: the tag of its cell (below 2^31), or one of these.
    static constexpr uint32_t UNFILED = 0xFFFFFFFFu; // no point yet
    static constexpr uint32_t FAR = 0xFFFFFFFEu;     // on the far chain
    // No cell nor bucket, which unfiling takes from `at`: 24 bytes make loads and searches lighter.
    struct Point
    {
        Vec2 at;
        uint32_t next = NO_POINT; // next point of the same bucket (or the far chain)
        uint32_t tag = UNFILED;
    };
    double cellSize = 8.0;          // world units; a power of two, so cell arithmetic is exact
    double inverseCellSize = 0.125; // cells per world unit
    std::vector<uint32_t> heads;    // per bucket, the first point; a power of two long
    std::vector<Point> points;      // by id
    uint32_t farHead = NO_POINT;
};

// Farther apart than this along one axis, two points are out of binding range.
constexpr double BIND_REACH = 32.0;
static_assert(BIND_REACH * BIND_REACH > ATTACH_RANGE_SQ, "BIND_REACH must lie beyond the range");

// Points with a coordinate this large or larger go to the far chain. Below it (and up to
// BIND_REACH beyond), the index of a cell of any size, offset by CELL_BIAS, fits in 32 bits.
constexpr double FAR_COORDINATE = 4294967296.0;
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

// Cells come in tiles of TILE_SIDE by TILE_SIDE, whose buckets lie side by side, so that a
// search around a point reads a few runs of the table rather than a bucket anywhere for
// every cell; the tiles themselves are spread over the table by a hash.
constexpr int TILE_SHIFT = 3;
constexpr uint32_t TILE_SIDE = 1u << TILE_SHIFT;

// Where the points of a cell are filed: its bucket, and a tag that tells the cell from all but
// about one in 2^31 of the other cells of its bucket.
struct CellPlace
{
    std::size_t bucket;
    uint32_t tag;
};

inline CellPlace placeOf(const PointCells& c, uint32_t cx, uint32_t cy)
{
    uint64_t key = (static_cast<uint64_t>(cx >> TILE_SHIFT) << 32) | (cy >> TILE_SHIFT);
    key ^= key >> 33;
    key *= 0xff51afd7ed558ccdULL;
    key ^= key >> 33;
    const uint64_t inTile = ((cy & (TILE_SIDE - 1)) << TILE_SHIFT) | (cx & (TILE_SIDE - 1));
    const std::size_t bucket =
        static_cast<std::size_t>((key << (2 * TILE_SHIFT)) | inTile) & (c.heads.size() - 1);
    return {bucket, static_cast<uint32_t>((key >> 33) ^ (inTile << 24))};
}

// Only finite points can ever bind: an infinite or NaN distance is neither below nor equal
// to the best.
inline bool canBind(Vec2 m)
{
    return std::isfinite(m.x) && std::isfinite(m.y);
}

// Calls `visit(id, point)` for every point filed in cell (cx, cy), and, as rarely as two tags
// agree, for one of another cell of its bucket.
template <typename Visit>
void forEachInCell(const PointCells& c, uint32_t cx, uint32_t cy, Visit&& visit)
{
    const CellPlace place = placeOf(c, cx, cy);
    for (uint32_t id = c.heads[place.bucket]; id != NO_POINT; id = c.points[id].next)
    {
        const PointCells::Point& p = c.points[id];
        if (p.tag == place.tag)
        {
            visit(id, p.at);
        }
    }
}

// Room for `ids` records without asking for memory again. Throws std::bad_alloc, leaving `c`
// as it was.
void reservePointCells(PointCells& c, std::size_t ids);

// Whether `c` has room for `ids` records in the table reservePointCells would give them.
bool fitsPointCells(const PointCells& c, std::size_t ids);

// Unfiles every point and leaves no records, with cells of `cellSize`.
void resetPointCells(PointCells& c, double cellSize);

// Files a new point at `at` as the next id, within the room reserved.
void appendPoint(PointCells& c, Vec2 at);

// Files the point `id` at `at`, where it was filed elsewhere before or not at all. `id` must
// have a record.
void placePoint(PointCells& c, uint32_t id, Vec2 at);
