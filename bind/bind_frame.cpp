#include "bind/bind_frame.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstring>
#include <utility>

namespace
{
constexpr uint32_t NO_ENTRY = MidpointGrid::NO_ENTRY;

// The snapshot is compared bytewise, so a triangle must be six doubles and nothing else.
static_assert(sizeof(Triangle) == 6 * sizeof(double), "Triangle has padding");
// Triangles compared with one memcmp before looking at them one by one.
constexpr std::size_t COMPARE_BLOCK = 256;

// Past these the grid is built anew. Edges filed one by one cost more than a build once
// more than one triangle in CHANGED_SHARE has changed (CHANGED_SPARE more let a small ship
// be edited freely). A ship that grew past GROWTH_FACTOR times its size at the last build
// (GROWTH_SPARE triangles spare), or whose midpoints spread over GROWTH_FACTOR times the
// blocks of that build (BLOCK_SPARE spare), may want another cell size.
constexpr std::size_t CHANGED_SHARE = 16;
constexpr std::size_t CHANGED_SPARE = 64;
constexpr std::size_t GROWTH_FACTOR = 2;
constexpr std::size_t GROWTH_SPARE = 1024;
constexpr std::size_t BLOCK_SPARE = 256;

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
    if (canBind(m))
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
    const std::size_t limit = now / CHANGED_SHARE + CHANGED_SPARE;
    if (now < before || now - before > limit ||
        now > GROWTH_FACTOR * state.builtTriangles + GROWTH_SPARE ||
        state.grid.blocks.size() > GROWTH_FACTOR * state.grid.builtBlocks + BLOCK_SPARE)
    {
        return false;
    }
    if (!findChanged(triangles, state.triangles, limit - (now - before), state.changed))
    {
        return false;
    }
    MidpointGrid& g = state.grid;
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
// binding. The box test keeps the rounding on its side: when minX - a.x rounds to BIND_REACH or
// more, every m.x - a.x with m.x >= minX does too, and its square exceeds the range.
bool mayChange(const Attachment& a, const std::vector<Vec2>& moved, const Box& box)
{
    if (box.minX - a.x >= BIND_REACH || box.maxX - a.x <= -BIND_REACH ||
        box.minY - a.y >= BIND_REACH || box.maxY - a.y <= -BIND_REACH)
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
        if (squaredDistance(m, Vec2{a.x, a.y}) < ATTACH_RANGE_SQ)
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

void bindFrame(BindingState& state, const std::vector<Triangle>& triangles,
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
    bindListed(state.grid, attachments, state.searched);
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

void bindWithGrid(MidpointGrid& grid, const std::vector<Triangle>& triangles,
                  std::vector<Attachment>& attachments)
{
    buildGrid(grid, triangles);
    std::vector<uint32_t> all(attachments.size());
    for (std::size_t j = 0; j < all.size(); j++)
    {
        all[j] = static_cast<uint32_t>(j);
    }
    bindListed(grid, attachments, all);
}

std::size_t bindingStorageBytes(const BindingState& state)
{
    const MidpointGrid& g = state.grid;
    // A table node holds its key, its value and a link to the next.
    const std::size_t node = sizeof(std::pair<const uint64_t, uint32_t>) + sizeof(void*);
    return g.blockOf.bucket_count() * sizeof(void*) + g.blockOf.size() * node +
           g.blocks.capacity() * sizeof(MidpointGrid::Block) +
           (g.entries.capacity() + g.far.capacity()) * sizeof(MidpointGrid::Entry) +
           state.triangles.capacity() * sizeof(Triangle) +
           state.attachments.capacity() * sizeof(BindingState::Bound) +
           (state.changed.capacity() + state.searched.capacity()) * sizeof(uint32_t) +
           state.moved.capacity() * sizeof(Vec2);
}
