#include "render/scene.h"

#include "model/ship.h"
#include "render/markers.h"

#include <GL/freeglut.h>

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstddef>
#include <vector>

// Indices of the triangles that may touch the window this frame; kept between frames so
// that a steady ship allocates nothing.
static std::vector<std::size_t> touchingTriangles;

static void vertex(const Vec2& p)
{
    glVertex2f(static_cast<float>(p.x), static_cast<float>(p.y));
}

// One pass of grid lines with the coordinate t * 200 - 100 for t from -6 while below 7.
// The steps are powers of two, so t and the coordinate are exact and the last line falls
// one step short of 1300.
static void drawGridPass(float grey, double step)
{
    glColor3f(grey, grey, grey);
    for (double t = -6.0; t < 7.0; t += step)
    {
        const float v = static_cast<float>(t * 200.0 - 100.0);
        glVertex2f(v, -1000.0f);
        glVertex2f(v, 1000.0f);
    }
    for (double t = -6.0; t < 7.0; t += step)
    {
        const float v = static_cast<float>(t * 200.0 - 100.0);
        glVertex2f(-1000.0f, v);
        glVertex2f(1000.0f, v);
    }
}

// Green level of a triangle's fill: 0.2 plus a tenth of its area in hundreds of square
// units. It is left unclamped; the pipeline saturates it at 800 square units.
static float fillGreen(const Triangle& t)
{
    const double area = std::fabs(doubleSignedArea(t)) * 0.5;
    return static_cast<float>(area / 100.0 / 10.0 + 0.2);
}

WorldBox viewReach(const EditorState& state, double pixels)
{
    WorldBox box{-INFINITY, -INFINITY, INFINITY, INFINITY};
    if (state.windowWidth > 0 && state.windowHeight > 0)
    {
        const double left = static_cast<double>(state.viewOrigin.x);
        const double bottom = static_cast<double>(state.viewOrigin.y);
        // GL maps the world to the window in single precision, a few units in the seventh
        // digit of the view's coordinates off; far from the origin that is more than pixels.
        const double rounding = 1e-5 * (std::fabs(left) + std::fabs(bottom) + VIEW_SIZE);
        const double across = pixels * VIEW_SIZE / state.windowWidth + rounding;
        const double up = pixels * VIEW_SIZE / state.windowHeight + rounding;
        box = WorldBox{left - across, bottom - up, left + VIEW_SIZE + across,
                       bottom + VIEW_SIZE + up};
    }
    return box;
}

// mayTouch for one triangle, written out: the scan of every triangle in each frame takes
// less than half the time this way, 2 ms for a million.
static bool triangleMayTouch(const Triangle& t, const WorldBox& reach)
{
    const double x0 = t.corners[0].x;
    const double x1 = t.corners[1].x;
    const double x2 = t.corners[2].x;
    const double y0 = t.corners[0].y;
    const double y1 = t.corners[1].y;
    const double y2 = t.corners[2].y;
    const bool beyond = (x0 < reach.left && x1 < reach.left && x2 < reach.left) |
                        (x0 > reach.right && x1 > reach.right && x2 > reach.right) |
                        (y0 < reach.bottom && y1 < reach.bottom && y2 < reach.bottom) |
                        (y0 > reach.top && y1 > reach.top && y2 > reach.top);
    const double magnitude = std::fabs(x0) + std::fabs(x1) + std::fabs(x2) + std::fabs(y0) +
                             std::fabs(y1) + std::fabs(y2);
    return !beyond || !(magnitude < SINGLE_PRECISION_SAFE);
}

void drawScene(const Ship& s)
{
    const EditorState& e = editor;
    const WorldBox reach = viewReach(e, SHAPE_REACH_PIXELS);
    std::vector<std::size_t>& touching = touchingTriangles;
    touching.clear();
    for (std::size_t i = 0; i < s.triangles.size(); i++)
    {
        if (triangleMayTouch(s.triangles[i], reach))
        {
            touching.push_back(i);
        }
    }

    glClear(GL_COLOR_BUFFER_BIT);

    // The coarser passes draw over lines of the finer ones, so every fourth fine line
    // shows in the middle grey and every sixteenth in the light one.
    glLineWidth(1.0f);
    glBegin(GL_LINES);
    {
        drawGridPass(0.2f, 1.0 / 64.0);
        drawGridPass(0.4f, 1.0 / 16.0);
        drawGridPass(0.7f, 1.0 / 4.0);
    }
    glEnd();

    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glEnable(GL_BLEND);
    glBegin(GL_TRIANGLES);
    {
        for (std::size_t i : touching)
        {
            const Triangle& t = s.triangles[i];
            glColor4f(0.0f, fillGreen(t), 0.0f, 0.75f);
            vertex(t.corners[0]);
            vertex(t.corners[1]);
            vertex(t.corners[2]);
        }
    }
    glEnd();
    glDisable(GL_BLEND);

    glLineWidth(2.0f);
    glColor4f(0.0f, 1.0f, 0.0f, 1.0f);
    glBegin(GL_LINES);
    {
        for (std::size_t i : touching)
        {
            const Triangle& t = s.triangles[i];
            vertex(t.corners[0]);
            vertex(t.corners[1]);
            vertex(t.corners[1]);
            vertex(t.corners[2]);
            vertex(t.corners[2]);
            vertex(t.corners[0]);
        }
    }
    glEnd();

    glPointSize(11.0f);
    glColor3f(1.0f, 1.0f, 0.0f);
    glBegin(GL_POINTS);
    {
        for (const Vec2& p : s.pendingPoints)
        {
            if (mayTouch(&p, 1, reach))
            {
                vertex(p);
            }
        }
    }
    glEnd();

    // Corners come after the pending points, so a corner shows in the middle of a
    // pending point clicked on it.
    glPointSize(7.0f);
    glColor3f(1.0f, 0.0f, 0.0f);
    glBegin(GL_POINTS);
    {
        for (std::size_t i : touching)
        {
            const Triangle& t = s.triangles[i];
            vertex(t.corners[0]);
            vertex(t.corners[1]);
            vertex(t.corners[2]);
        }
    }
    glEnd();

    glColor3f(1.0f, 1.0f, 1.0f);
    drawAttachments(s, e);
}
