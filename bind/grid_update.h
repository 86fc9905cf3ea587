#pragma once

// Inside bind/: bringing the grid and its snapshot of the triangles to the ship's triangles,
// edge by edge or by a build, noting the midpoints that came or went.

#include "bind/binding_state.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// Empties the list and the area of the midpoints that came or went.
void forgetMoved(BindingState& state);

// Whether bringing the grid to `triangles` edge by edge beats a build; lists the changed
// triangles in `state.changed` when it does. Changes nothing else.
bool worthUpdating(BindingState& state, const std::vector<Triangle>& triangles);

// Brings the grid and the snapshot from `state.triangles` to `triangles` edge by edge,
// noting every midpoint that came or went. `changed` lists the triangles that differ, or is
// null to compare them all here. Asks for no memory beyond the room set aside, except to
// grow; triangles it has no room for stay out of the snapshot and the grid.
void updateInPlace(BindingState& state, const std::vector<Triangle>& triangles,
                   const std::vector<uint32_t>* changed);

// Builds the grid, the snapshot and the scratch lists for `triangles` and `attachments`
// attachments beside `state`'s, with room for growth, and puts them in its place. Throws
// std::bad_alloc, leaving `state` as it was.
void rebuild(BindingState& state, const std::vector<Triangle>& triangles, std::size_t attachments);
