#pragma once

#include "model/ship.h"
#include "render/window_view.h"

// Length of a bound marker's arm, world units.
constexpr double MARKER_ARM_LENGTH = 20.0;

// The attachment pass of a frame seen through `view`: draws each attachment's
// marker, from the binding the frame gave it, and its label, leaving out those that
// cannot show in the window.
void drawAttachments(const Ship& s, const WindowView& view);
