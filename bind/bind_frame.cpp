#include "bind/bind_frame.h"

#include "bind/binding_state.h"

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

// The room for growth set aside with each build: GROWTH_ROOM triangles, and one in
// GROWTH_ROOM_SHARE of the ship's, so that a long session of editing asks for nothing more.
// Each triangle of room costs its snapshot, three entries, and three blocks with their slots.
constexpr std::size_t GROWTH_ROOM = 256;
constexpr std::size_t GROWTH_ROOM_SHARE = 16;

// Moved midpoints compared one by one with each attachment up to this many; past it, every
// attachment near their bounding box is searched again.
constexpr std::size_t MAX_MOVED_CHECKED = 96;

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

void forgetMoved(BindingState& state)
{
    state.moved.clear();
    state.movedCount = 0;
    state.movedArea = BindingState::Area{};
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

// Whether bringing the grid to `triangles` edge by edge beats a build; lists the changed
// triangles in `state.changed` when it does. Changes nothing else.
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

// Brings the grid and the snapshot from `state.triangles` to `triangles` edge by edge,
// noting every midpoint that came or went. `changed` lists the triangles that differ, or is
// null to compare them all here. Asks for no memory beyond the room set aside, except to
// grow; triangles it has no room for stay out of the snapshot and the grid.
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

// Builds the grid, the snapshot and the scratch lists for `triangles` and `attachments`
// attachments beside `state`'s, with room for growth, and puts them in its place. Throws
// std::bad_alloc, leaving `state` as it was.
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

// Whether a midpoint that came or went may have been in range of `a`, and so change its
// binding. The box test keeps the rounding on its side: when minX - a.x rounds to BIND_REACH or
// more, every m.x - a.x with m.x >= minX does too, and its square exceeds the range.
bool mayChange(const Attachment& a, const BindingState& state)
{
    const BindingState::Area& box = state.movedArea;
    if (box.minX - a.x >= BIND_REACH || box.maxX - a.x <= -BIND_REACH ||
        box.minY - a.y >= BIND_REACH || box.maxY - a.y <= -BIND_REACH)
    {
        return false;
    }
    if (state.movedCount > MAX_MOVED_CHECKED)
    {
        return true;
    }
    for (const Vec2& m : state.moved)
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

// Binds the listed attachments and keeps what they were given, for those `state` has room for.
void bindSearched(BindingState& state, std::vector<Attachment>& attachments,
                  UnfiledTriangles unfiled)
{
    bindListed(state.grid, attachments, state.searched, unfiled);
    for (const uint32_t j : state.searched)
    {
        if (j < state.attachments.size())
        {
            const Attachment& a = attachments[j];
            state.attachments[j] = BindingState::Bound{a.x, a.y, a.triangle, a.edge};
        }
    }
    state.searched.clear();
}

// Lists attachment `j` for a search, binding those listed so far when the list has no room.
void search(BindingState& state, std::vector<Attachment>& attachments, UnfiledTriangles unfiled,
            uint32_t j)
{
    if (!roomForOne(state.searched))
    {
        bindSearched(state, attachments, unfiled);
    }
    state.searched.push_back(j);
}

// The attachments' part of the frame: a search for each that may bind otherwise than it did,
// the fields kept for the rest.
void bindAttachments(BindingState& state, std::vector<Attachment>& attachments, bool all,
                     UnfiledTriangles unfiled)
{
    const std::size_t known = all ? 0 : std::min(state.attachments.size(), attachments.size());
    // Attachments the memory has no room for keep no record and are searched every frame.
    try
    {
        state.attachments.resize(attachments.size());
    }
    catch (const std::bad_alloc&)
    {
        state.memoryShort = true;
        state.attachments.resize(std::min(attachments.size(), state.attachments.capacity()));
    }
    state.searched.clear();
    for (std::size_t j = 0; j < attachments.size(); j++)
    {
        Attachment& a = attachments[j];
        if (j >= known || !samePosition(a, state.attachments[j]) ||
            (state.movedCount > 0 && mayChange(a, state)))
        {
            search(state, attachments, unfiled, static_cast<uint32_t>(j));
        }
        else
        {
            a.triangle = state.attachments[j].triangle;
            a.edge = state.attachments[j].edge;
        }
    }
    bindSearched(state, attachments, unfiled);
}

// The editor's binding, and the next ship's while a load prepares it.
BindingState editorBinding;
BindingState preparedBinding;
} // namespace

std::size_t growthRoom(std::size_t triangles)
{
    return GROWTH_ROOM + triangles / GROWTH_ROOM_SHARE;
}

bool bindFrame(BindingState& state, const std::vector<Triangle>& triangles,
               std::vector<Attachment>& attachments)
{
    assert(attachments.size() <= NO_ENTRY);
    const bool wasShort = state.memoryShort;
    state.grid.refused = false;
    forgetMoved(state);
    bool rebuilt = false;
    if (worthUpdating(state, triangles))
    {
        updateInPlace(state, triangles, &state.changed);
    }
    else
    {
        try
        {
            rebuild(state, triangles, attachments.size());
            rebuilt = true;
        }
        catch (const std::bad_alloc&)
        {
            // The grid it has, updated in place, serves until the ship has doubled again,
            // when a build is asked for once more.
            state.memoryShort = true;
            state.builtTriangles = triangles.size();
            state.grid.builtBlocks = state.grid.blocks.size();
            updateInPlace(state, triangles, nullptr);
        }
    }
    // Triangles beyond the snapshot are in no grid: every search looks at them, and since
    // nothing records how they change, every attachment is searched, in this frame and in
    // the next, whose records of the last frame may name them.
    UnfiledTriangles unfiled;
    if (state.triangles.size() < triangles.size())
    {
        unfiled = UnfiledTriangles{&triangles, state.triangles.size()};
    }
    const bool searchAll = rebuilt || state.unfiled || unfiled.triangles != nullptr;
    state.unfiled = unfiled.triangles != nullptr;
    if (state.grid.refused || state.unfiled)
    {
        state.memoryShort = true;
    }
    bindAttachments(state, attachments, searchAll, unfiled);
    return state.memoryShort && !wasShort;
}

void prepareBinding(BindingState& state, const std::vector<Triangle>& triangles,
                    std::vector<Attachment>& attachments)
{
    assert(attachments.size() <= NO_ENTRY);
    state = BindingState{};
    rebuild(state, triangles, attachments.size());
    // The attachments keep the fields they came with until the first frame gives them the
    // ones found here: each pair is parked in its record while the search writes its own.
    state.attachments.resize(attachments.size());
    for (std::size_t j = 0; j < attachments.size(); j++)
    {
        const Attachment& a = attachments[j];
        state.attachments[j] = BindingState::Bound{a.x, a.y, a.triangle, a.edge};
        state.searched.push_back(static_cast<uint32_t>(j));
    }
    bindListed(state.grid, attachments, state.searched);
    state.searched.clear();
    for (std::size_t j = 0; j < attachments.size(); j++)
    {
        Attachment& a = attachments[j];
        BindingState::Bound& b = state.attachments[j];
        std::swap(a.triangle, b.triangle);
        std::swap(a.edge, b.edge);
    }
}

bool bindEditorFrame(const std::vector<Triangle>& triangles, std::vector<Attachment>& attachments)
{
    return bindFrame(editorBinding, triangles, attachments);
}

void prepareEditorBinding(const std::vector<Triangle>& triangles,
                          std::vector<Attachment>& attachments)
{
    try
    {
        prepareBinding(preparedBinding, triangles, attachments);
    }
    catch (const std::bad_alloc&)
    {
        preparedBinding = BindingState{};
        throw;
    }
}

void adoptPreparedBinding()
{
    std::swap(editorBinding, preparedBinding);
    preparedBinding = BindingState{};
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
    return g.table.capacity() * sizeof(MidpointGrid::Slot) +
           g.blocks.capacity() * sizeof(MidpointGrid::Block) +
           (g.entries.capacity() + g.far.capacity()) * sizeof(MidpointGrid::Entry) +
           state.triangles.capacity() * sizeof(Triangle) +
           state.attachments.capacity() * sizeof(BindingState::Bound) +
           (state.changed.capacity() + state.searched.capacity()) * sizeof(uint32_t) +
           state.moved.capacity() * sizeof(Vec2);
}
