#include "bind/grid_update.h"

#include "bind/bind_frame.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstring>
#include <new>
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

std::size_t changeLimit(std::size_t triangles)
{
    return triangles / CHANGED_SHARE + CHANGED_SPARE;
}

// Indices of the triangles in `before`'s range that differ in any bit from `now`; false as
// soon as there are more than `limit`, or no room to list them.
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
                if (changed.size() == limit || !roomForOne(changed))
                {
                    return false;
                }
                changed.push_back(static_cast<uint32_t>(i));
            }
        }
    }
    return true;
}

// A midpoint that can bind, kept for finding the attachments whose binding it may change.
// Past MAX_MOVED_CHECKED only their area counts, so the list never grows beyond that.
void noteMoved(BindingState& state, Vec2 m)
{
    if (!canBind(m))
    {
        return;
    }
    BindingState::Area& area = state.movedArea;
    area.minX = std::min(area.minX, m.x);
    area.minY = std::min(area.minY, m.y);
    area.maxX = std::max(area.maxX, m.x);
    area.maxY = std::max(area.maxY, m.y);
    state.movedCount++;
    if (state.moved.size() <= MAX_MOVED_CHECKED && roomForOne(state.moved))
    {
        state.moved.push_back(m);
    }
}

// Room in the snapshot for one more triangle, and with it three entries per triangle it can
// hold, so that filing a midpoint never needs memory. False when memory is refused.
bool roomForTriangle(BindingState& state)
{
    std::vector<Triangle>& t = state.triangles;
    if (t.size() < t.capacity())
    {
        return true;
    }
    const std::size_t steps[] = {t.capacity() + t.capacity() / 2 + 16, t.capacity() + 16};
    for (const std::size_t capacity : steps)
    {
        try
        {
            state.grid.entries.reserve(3 * capacity);
            t.reserve(capacity);
            return true;
        }
        catch (const std::bad_alloc&)
        {
        }
    }
    return false;
}

// Files the midpoints of triangle `i` anew where they differ from the snapshot's.
void refile(BindingState& state, const std::vector<Triangle>& triangles, std::size_t i)
{
    MidpointGrid& g = state.grid;
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
} // namespace

void forgetMoved(BindingState& state)
{
    state.moved.clear();
    state.movedCount = 0;
    state.movedArea = BindingState::Area{};
}

bool worthUpdating(BindingState& state, const std::vector<Triangle>& triangles)
{
    const std::size_t before = state.triangles.size();
    const std::size_t now = triangles.size();
    const std::size_t limit = changeLimit(now);
    if (now < before || now - before > limit ||
        now > GROWTH_FACTOR * state.builtTriangles + GROWTH_SPARE ||
        state.grid.blocks.size() > GROWTH_FACTOR * state.grid.builtBlocks + BLOCK_SPARE)
    {
        return false;
    }
    return findChanged(triangles, state.triangles, limit - (now - before), state.changed);
}

void updateInPlace(BindingState& state, const std::vector<Triangle>& triangles,
                   const std::vector<uint32_t>* changed)
{
    MidpointGrid& g = state.grid;
    const std::size_t now = triangles.size();
    while (state.triangles.size() > now)
    {
        const std::size_t i = state.triangles.size() - 1;
        for (int k = 0; k < 3; k++)
        {
            const Vec2 m = edgeMidpoint(state.triangles[i], k);
            removeMidpoint(g, m, edgeId(i, k));
            noteMoved(state, m);
        }
        state.triangles.pop_back();
    }
    const std::size_t before = state.triangles.size();
    if (changed != nullptr)
    {
        for (const uint32_t i : *changed)
        {
            refile(state, triangles, i);
        }
    }
    else
    {
        for (std::size_t i = 0; i < before; i++)
        {
            if (std::memcmp(&triangles[i], &state.triangles[i], sizeof(Triangle)) != 0)
            {
                refile(state, triangles, i);
            }
        }
    }
    assert(now <= NO_ENTRY / 3);
    for (std::size_t i = before; i < now && roomForTriangle(state); i++)
    {
        state.triangles.push_back(triangles[i]);
        for (int k = 0; k < 3; k++)
        {
            const Vec2 m = edgeMidpoint(triangles[i], k);
            insertMidpoint(g, m, edgeId(i, k));
            noteMoved(state, m);
        }
    }
}

void rebuild(BindingState& state, const std::vector<Triangle>& triangles, std::size_t attachments)
{
    const std::size_t room = growthRoom(triangles.size());
    MidpointGrid grid;
    buildGrid(grid, triangles, 3 * room);
    std::vector<Triangle> snapshot;
    snapshot.reserve(triangles.size() + room);
    snapshot.assign(triangles.begin(), triangles.end());
    grid.entries.reserve(3 * snapshot.capacity());
    std::vector<uint32_t> changed;
    changed.reserve(changeLimit(snapshot.capacity()) + 1);
    std::vector<Vec2> moved;
    moved.reserve(MAX_MOVED_CHECKED + 1);
    std::vector<BindingState::Bound> bound;
    bound.reserve(attachments + room);
    std::vector<uint32_t> searched;
    searched.reserve(attachments + room);

    std::swap(state.grid, grid);
    state.triangles.swap(snapshot);
    state.builtTriangles = triangles.size();
    state.changed.swap(changed);
    state.moved.swap(moved);
    state.attachments.swap(bound);
    state.searched.swap(searched);
}
