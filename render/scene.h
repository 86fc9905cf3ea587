#pragma once

#include "model/ship.h"
#include "render/window_view.h"

#include <vector>

// Clears the current buffer and draws the grid, the triangles and the pending points of the
// editor's ship `s` through `view`: a frame up to its attachments. Only shapes that can touch
// the window are sent to GL, in the order of a frame that sends them all, so the pixels are
// those of that frame; what may touch it is kept up to date from `s.changes`.
void drawScene(const Ship& s, const WindowView& view);
