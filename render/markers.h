#pragma once

#include "model/ship.h"
#include "render/window_view.h"

#include <vector>

// Length of a bound marker's arm, world units.
constexpr double MARKER_ARM_LENGTH = 20.0;

// Where the arm of a marker on the edge from p to q ends: MARKER_ARM_LENGTH from the edge's
// midpoint, at right angles, on the right of the edge walked from p to q.
Vec2 markerArmTip(Vec2 p, Vec2 q);

// The attachment pass of a frame of the editor's ship `s` seen through `view`: draws each
// attachment's marker, from the binding the frame gave it to an edge, and its label, leaving
// out those that cannot show in the window (kept up to date from `s.changes`).
void drawAttachments(const Ship& s, const WindowView& view);
