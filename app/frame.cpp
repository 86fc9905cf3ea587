#include "app/frame.h"

#include "render/markers.h"
#include "render/scene.h"

#include <GL/gl.h>

void setFrameView(const EditorState& view)
{
    if (view.windowWidth == 0 && view.windowHeight == 0)
    {
        return;
    }
    glViewport(0, 0, view.windowWidth, view.windowHeight);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(static_cast<double>(view.viewOrigin.x),
            static_cast<double>(view.viewOrigin.x + VIEW_SIZE),
            static_cast<double>(view.viewOrigin.y),
            static_cast<double>(view.viewOrigin.y + VIEW_SIZE), -1.0, 1.0);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}

void drawFrame(const Ship& s, const EditorState& view)
{
    setFrameView(view);
    drawScene(s.triangles, s.pendingPoints, view);
    drawAttachments(s, view);
}
