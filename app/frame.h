#pragma once

#include "model/ship.h"
#include "render/window_view.h"

// The view a frame of the editor is drawn through: the editor's view origin and window size.
WindowView editorView(const EditorState& e);

// The GL state a frame starts with, from `view`: the viewport over the whole window, the
// projection showing the view's square, and the identity modelview.
void setFrameView(const WindowView& view);

// One frame of `s`, whose attachments are bound for it, into the current buffer through
// `view`: the GL state, then the scene, then the markers and labels. Presenting it is the
// caller's.
void drawFrame(const Ship& s, const WindowView& view);
