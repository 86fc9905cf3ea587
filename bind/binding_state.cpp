#include "bind/binding_state.h"

#include "bind/grid_update.h"
#include "bind/midpoint_search.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <new>
#include <utility>

namespace
{
constexpr uint32_t NO_ENTRY = MidpointGrid::NO_ENTRY;

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
} // namespace

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
