#include "app/frame.h"

#include "render/markers.h"
#include "render/scene.h"

#include <GL/gl.h>

WindowView editorView(const EditorState& e)
{
    return WindowView{e.viewOrigin, e.windowWidth, e.windowHeight};
}

// The frame's GL state, set in this one place at the start of every frame from `view`: the
// viewport over the whole window, the projection showing the view's square, and the identity
// modelview. Before the first reshape GL's own defaults stay.
void setFrameView(const WindowView& view)
{
    if (view.width == 0 && view.height == 0)
    {
        return;
    }
    glViewport(0, 0, view.width, view.height);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(static_cast<double>(view.origin.x), static_cast<double>(view.origin.x + VIEW_SIZE),
            static_cast<double>(view.origin.y), static_cast<double>(view.origin.y + VIEW_SIZE),
            -1.0, 1.0);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}

void drawFrame(const Ship& s, const WindowView& view)
{
    setFrameView(view);
    drawScene(s, view);
    drawAttachments(s, view);
}
