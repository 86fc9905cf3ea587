#pragma once

#include "model/ship.h"
#include "render/window_view.h"

#include <vector>

// Clears the current buffer and draws the grid, `triangles` and the `pending` points through
// `view`: a frame up to its attachments. Only shapes that can touch the window are sent to
// GL, in the order of a frame that sends them all, so the pixels are those of that frame.
void drawScene(const std::vector<Triangle>& triangles, const std::vector<Vec2>& pending,
               const WindowView& view);
