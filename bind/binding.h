#pragma once

#include "model/ship.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// The editor's binding of each attachment to its nearest edge midpoint. Each frame it leaves
// every attachment's `triangle` and `edge` as the one-by-one rule would (the one edge midpoint
// nearest to it within range; two at the same smallest distance bind neither), redoing only
// what the ship's record of changes names.
//
// A frame asks for no memory: the edits that grow the ship make room here first, and a load
// prepares its ship's binding before it adopts the ship.

// The frame's binding of the editor's ship `s`, from `s.changes`; the record is the caller's
// to forget afterwards.
void bindFrame(Ship& s);

// Makes room for a ship of up to `triangles` triangles and `attachments` attachments. Throws
// std::bad_alloc when the memory is not there; what was had stays, and the binding is whole.
void reserveBinding(std::size_t triangles, std::size_t attachments);

// Makes the editor's binding that of a ship about to be adopted, with room for the lists'
// capacity: in its own memory when that has the room and not far more, else in new memory,
// giving the old back. Throws std::bad_alloc, leaving the editor's binding as it was; once it
// returns, nothing may stand between it and the adoption.
void prepareBinding(const std::vector<Triangle>& triangles,
                    const std::vector<Attachment>& attachments);

// Makes the prepared binding the one of `s`, which has just adopted the prepared lists; the
// next frame gives the attachments their bindings.
void adoptPreparedBinding(const Ship& s);

// The attachments of `s` that may lie in the box from `low` to `high`, by index in list order,
// found through the cells the last frame filed them in: the ones in the cells the box touches,
// and every one too far out or not finite for the cells. Null when the editor's binding is not
// that of `s` as it stands or the box spans too many cells; then only looking at every
// attachment tells. The list is good until the next frame's binding.
const std::vector<uint32_t>* attachmentsInBox(const Ship& s, Vec2 low, Vec2 high);

// The triangles of `s` that may touch the box from `low` to `high`, by index in list order,
// found as attachmentsInBox finds attachments, by their edges' midpoints. Null as there, and
// when more than a view's worth of triangles would be listed.
const std::vector<uint32_t>* trianglesInBox(const Ship& s, Vec2 low, Vec2 high);
