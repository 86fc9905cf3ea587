#include "edit/corner_index.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <utility>
#include <vector>

namespace
{
constexpr uint32_t NONE = 0xFFFFFFFFu;

struct CornerIndex
{
    std::vector<uint32_t> heads;  // per bucket, the first corner filed there; a power of two long
    std::vector<uint32_t> next;   // per corner (3 * triangle + k), the next of its bucket
    std::vector<uint32_t> bucket; // per corner, the bucket it is filed in, or NONE
    uint64_t caughtUp = ~uint64_t{0}; // the ship's edit count at the last frame
};

CornerIndex corners;
CornerIndex prepared;

// The bucket of point `p`: -0.0 and 0.0 are the same corner, so both hash as 0.0.
uint32_t bucketOf(const CornerIndex& c, Vec2 p)
{
    const double x = p.x + 0.0;
    const double y = p.y + 0.0;
    uint64_t bx = 0;
    uint64_t by = 0;
    std::memcpy(&bx, &x, sizeof bx);
    std::memcpy(&by, &y, sizeof by);
    uint64_t key = bx * 0x9e3779b97f4a7c15ULL ^ by;
    key ^= key >> 33;
    key *= 0xff51afd7ed558ccdULL;
    key ^= key >> 33;
    return static_cast<uint32_t>(key & (c.heads.size() - 1));
}

void unfile(CornerIndex& c, uint32_t id)
{
    uint32_t* at = &c.heads[c.bucket[id]];
    while (*at != id)
    {
        assert(*at != NONE && "corner not filed");
        at = &c.next[*at];
    }
    *at = c.next[id];
    c.bucket[id] = NONE;
}

void fileTriangle(CornerIndex& c, const Triangle& t, std::size_t i)
{
    for (int k = 0; k < 3; k++)
    {
        const uint32_t id = static_cast<uint32_t>(3 * i + static_cast<std::size_t>(k));
        if (c.bucket[id] != NONE)
        {
            unfile(c, id);
        }
        const uint32_t b = bucketOf(c, t.corners[k]);
        c.bucket[id] = b;
        c.next[id] = c.heads[b];
        c.heads[b] = id;
    }
}

std::size_t bucketsFor(std::size_t triangles)
{
    std::size_t buckets = 16;
    while (buckets < 3 * triangles)
    {
        buckets *= 2;
    }
    return buckets;
}

void reserve(CornerIndex& c, std::size_t triangles)
{
    const std::size_t buckets = bucketsFor(triangles);
    // Reserved first and swapped in together, so that a refusal leaves the index as it was;
    // a larger table is filled anew by the next frame.
    std::vector<uint32_t> next;
    std::vector<uint32_t> bucket;
    if (3 * triangles > c.next.capacity())
    {
        next.reserve(3 * triangles);
        bucket.reserve(3 * triangles);
    }
    std::vector<uint32_t> heads;
    if (buckets > c.heads.size())
    {
        heads.assign(buckets, NONE);
    }
    if (next.capacity() > c.next.capacity())
    {
        next.assign(c.next.begin(), c.next.end());
        bucket.assign(c.bucket.begin(), c.bucket.end());
        c.next.swap(next);
        c.bucket.swap(bucket);
    }
    if (!heads.empty())
    {
        c.heads.swap(heads);
        c.caughtUp = ~uint64_t{0};
    }
}
} // namespace

void followCornerChanges(const Ship& s)
{
    CornerIndex& c = corners;
    const ShipChanges& changes = s.changes;
    assert(3 * s.triangles.size() <= c.next.capacity());
    if (changes.everything || changes.from != c.caughtUp)
    {
        std::fill(c.heads.begin(), c.heads.end(), NONE);
        c.next.assign(3 * s.triangles.size(), NONE);
        c.bucket.assign(3 * s.triangles.size(), NONE);
        for (std::size_t i = 0; i < s.triangles.size(); i++)
        {
            fileTriangle(c, s.triangles[i], i);
        }
    }
    else
    {
        c.next.resize(3 * s.triangles.size(), NONE);
        c.bucket.resize(3 * s.triangles.size(), NONE);
        for (int n = 0; n < changes.triangleCount; n++)
        {
            fileTriangle(c, s.triangles[changes.triangles[n]], changes.triangles[n]);
        }
    }
    c.caughtUp = s.editStamp;
}

void reserveCornerIndex(std::size_t triangles)
{
    reserve(corners, triangles);
}

void prepareCornerIndex(std::size_t triangles)
{
    // The index in use serves the new ship as it is when it has the room and not far more: the
    // first frame after a load files every corner anew in any case. Else `prepared` is had.
    if (3 * triangles <= corners.next.capacity() && corners.heads.size() == bucketsFor(triangles))
    {
        return;
    }
    CornerIndex fresh;
    reserve(fresh, triangles);
    prepared = std::move(fresh);
}

void adoptPreparedCornerIndex()
{
    if (!prepared.heads.empty())
    {
        corners = std::move(prepared);
        prepared = CornerIndex{};
    }
}

void discardPreparedCornerIndex()
{
    prepared = CornerIndex{};
}

bool trianglesWithCorner(const Ship& s, Vec2 p, uint32_t* out, int capacity, int& count)
{
    const CornerIndex& c = corners;
    const ShipChanges& changes = s.changes;
    count = 0;
    if (changes.everything || changes.from != c.caughtUp || c.heads.empty())
    {
        return false;
    }
    const auto hasCorner = [&](uint32_t i)
    {
        const Triangle& t = s.triangles[i];
        return (t.corners[0].x == p.x && t.corners[0].y == p.y) ||
               (t.corners[1].x == p.x && t.corners[1].y == p.y) ||
               (t.corners[2].x == p.x && t.corners[2].y == p.y);
    };
    // Filed at the last frame (some may have moved since), and changed since.
    for (uint32_t id = c.heads[bucketOf(c, p)]; id != NONE; id = c.next[id])
    {
        if (count == capacity)
        {
            return false;
        }
        if (hasCorner(id / 3))
        {
            out[count++] = id / 3;
        }
    }
    for (int n = 0; n < changes.triangleCount; n++)
    {
        if (count == capacity)
        {
            return false;
        }
        if (hasCorner(changes.triangles[n]))
        {
            out[count++] = changes.triangles[n];
        }
    }
    std::sort(out, out + count);
    count = static_cast<int>(std::unique(out, out + count) - out);
    return true;
}
