#include "bind/bind_frame.h"

#include "bind/binding_state.h"

#include <new>
#include <utility>

namespace
{
// The room for growth set aside with each build: GROWTH_ROOM triangles, and one in
// GROWTH_ROOM_SHARE of the ship's, so that a long session of editing asks for nothing more.
// Each triangle of room costs its snapshot, three entries, and three blocks with their slots.
constexpr std::size_t GROWTH_ROOM = 256;
constexpr std::size_t GROWTH_ROOM_SHARE = 16;

// The binding of the empty ship the editor starts with, made like any adopted ship's, so that
// the first frames have their room set aside too.
BindingState startingBinding()
{
    BindingState state;
    std::vector<Attachment> none;
    prepareBinding(state, {}, none);
    return state;
}

// The editor's binding, and the next ship's while a load prepares it.
BindingState editorBinding = startingBinding();
BindingState preparedBinding;
} // namespace

std::size_t growthRoom(std::size_t triangles)
{
    return GROWTH_ROOM + triangles / GROWTH_ROOM_SHARE;
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
