#pragma once

#include "model/ship.h"

#include <cstddef>
#include <cstdint>

// Where the ship's corners lie, by point, so that a corner drag finds the corners on the
// dragged grid point without walking the ship. Each frame brings it up to date from the
// ship's record of changes, asking for no memory; a drag step adds the triangles the record
// names since.

// The frame's part: follows the changes in `s.changes`.
void followCornerChanges(const Ship& s);

// Room for a ship of up to `triangles` triangles. Throws std::bad_alloc, leaving the index
// as it was.
void reserveCornerIndex(std::size_t triangles);

// Has an index with room for `triangles` for a ship about to be adopted: the one in use when it
// has the room and not far more, else an empty one beside it (throws std::bad_alloc, changing
// nothing), which adoption then makes the one in use.
void prepareCornerIndex(std::size_t triangles);
void adoptPreparedCornerIndex();
void discardPreparedCornerIndex();

// The triangles of `s` that have a corner at `p` now, in increasing order, each once: into
// `out`, which holds `capacity`, with their number in `count`. False when the index cannot
// tell (the record names everything, or there are more than `capacity`): then only a walk
// over the ship can.
bool trianglesWithCorner(const Ship& s, Vec2 p, uint32_t* out, int capacity, int& count);
