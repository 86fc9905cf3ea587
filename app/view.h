#pragma once

#include "model/ship.h"

// Maps a pixel position (origin top-left, y down) to world units and stores it in
// `pointerWorld`. While the window has no area the pointer is left where it was.
void mapPointerToWorld(EditorState& state, int x, int y);

// Moves the view origin by half the pointer's travel since the last pan step, truncated
// toward zero, and makes (x, y) the new reference; the remainder is dropped.
void panStep(EditorState& state, int x, int y);
