#pragma once

#include "model/ship.h"
#include "render/window_view.h"

// The view a frame of the editor is drawn through: the editor's view origin and window size.
WindowView editorView(const EditorState& e);

// One frame of `s`, whose attachments are bound for it, into the current buffer through
// `view`: the GL state, then the scene, then the markers and labels. Presenting it is the
// caller's.
void drawFrame(const Ship& s, const WindowView& view);
