#pragma once

// Functions the editor defines for use inside their own modules, declared here so that the
// tests can check them, or set up what they need, directly.

#include "bind/binding_state.h"
#include "model/ship.h"
#include "platform/key_state.h"
#include "render/window_view.h"

#include <string>
#include <string_view>

// Square root of a non-negative float from the table behind fastLength. The 8 lowest mantissa
// bits of the argument are ignored, so the relative error stays below about 1.5e-5.
float tableSqrt(float x);

// Where the arm of a marker on the edge from p to q ends: MARKER_ARM_LENGTH from the edge's
// midpoint, at right angles, on the right of the edge walked from p to q.
Vec2 markerArmTip(Vec2 p, Vec2 q);

// The GL state a frame starts with, from `view`: what drawFrame sets before it draws, for tests
// that draw only part of a frame or draw a frame of their own.
void setFrameView(const WindowView& view);

// Sets one key's state as the key-state queries will report it, in place of the events or
// the system state that would set it.
void setKeyDown(Key key, bool down);

// Replaces the global ship's triangles and attachments by the ship in `text`, with its binding,
// and empties its pending points, as a load of a file with that text does. Text that does not
// parse changes nothing and returns false with a one-line reason in `error`. Prints nothing.
bool loadShipFromText(std::string_view text, std::string& error);

// Builds the grid for `triangles` and binds every attachment through it: exactly what
// bindOneByOne gives, at a cost that grows with the ship, not attachments times triangles.
void bindWithGrid(MidpointGrid& grid, const std::vector<Triangle>& triangles,
                  std::vector<Attachment>& attachments);

// Bytes of storage that `state` holds, spare capacity included.
std::size_t bindingStorageBytes(const BindingState& state);
