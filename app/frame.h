#pragma once

#include "model/ship.h"

// The frame's GL state, set in this one place at the start of every frame from the editor
// state: the viewport over the whole window, the projection showing the view's square, and
// the identity modelview. Before the first reshape GL's own defaults stay.
void setFrameView(const EditorState& view);

// One frame of `s`, whose attachments are bound for it, into the current buffer through
// `view`: the GL state, then the scene, then the markers and labels. Presenting it is the
// caller's.
void drawFrame(const Ship& s, const EditorState& view);
