#pragma once

#include "model/ship.h"

// The two mouse buttons the editor uses; the window callbacks ignore every other.
enum class PointerButton
{
    Left,
    Right
};

// Makes room for one more triangle and one more attachment, in the ship's lists and in its
// binding, so that the edit and the frames after it ask for no memory. False, with everything
// as it was, when the memory is refused.
bool roomForGrowth();

// What a left or right press or release does, once the pointer of this event has been
// mapped to world units (and any pan or drag step has run). x and y are in pixels.
void pointerButtonCommand(PointerButton button, bool pressed, int x, int y);

// Moves every corner on the grid point under `previous` to the grid point under `next`.
// Returns true when Control is held and a corner moved: the motion handling ends there.
bool cornerDragStep(Vec2 previous, Vec2 next);

// Puts the dragged attachment on the grid point under `next`, if it still exists.
void attachmentDragStep(Vec2 next);
