#pragma once

#include "model/ship.h"

#include <cstddef>
#include <vector>

// The editor's binding of each attachment to its nearest edge midpoint, redone each frame for
// what changed since the last. bind/ keeps the editor's one binding; the grid and the records
// behind it stay inside bind/.

// The frame's binding: leaves every attachment's `triangle` and `edge` as the plain
// one-by-one rule (bind_plain.h) would, redoing only what the edits since the last frame can
// have changed. It never fails for want of memory. Returns true on the first frame that
// memory ran short since the ship was adopted, so that the caller can say so once.
bool bindEditorFrame(const std::vector<Triangle>& triangles, std::vector<Attachment>& attachments);

// Prepares, beside the editor's binding, the binding of a ship about to be adopted: its grid,
// room set aside for editing, and each attachment's binding (which the first frame gives to
// the attachment). Throws std::bad_alloc when the memory is not there, leaving the editor's
// binding as it was.
void prepareEditorBinding(const std::vector<Triangle>& triangles,
                          std::vector<Attachment>& attachments);

// Makes the prepared binding the editor's, once its ship is adopted, and gives back the old.
void adoptPreparedBinding();

// Triangles, and attachments, that a ship of `triangles` may gain after its adoption before
// its binding asks for more memory; the model keeps the same room.
std::size_t growthRoom(std::size_t triangles);
