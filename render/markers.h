#pragma once

#include "model/ship.h"
#include "render/window_view.h"

#include <vector>

// Length of a bound marker's arm, world units.
constexpr double MARKER_ARM_LENGTH = 20.0;

// The attachment pass of a frame seen through `view`: draws each of `attachments`' markers,
// from the binding the frame gave it to an edge of `triangles`, and its label, leaving out
// those that cannot show in the window.
void drawAttachments(const std::vector<Attachment>& attachments,
                     const std::vector<Triangle>& triangles, const WindowView& view);
