#include "render/scene.h"

#include "model/ship.h"
#include "render/markers.h"

#include <GL/freeglut.h>

#include <cmath>

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

void drawScene(const Ship& s)
{
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
        for (const Triangle& t : s.triangles)
        {
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
        for (const Triangle& t : s.triangles)
        {
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
            vertex(p);
        }
    }
    glEnd();

    // Corners come after the pending points, so a corner shows in the middle of a
    // pending point clicked on it.
    glPointSize(7.0f);
    glColor3f(1.0f, 0.0f, 0.0f);
    glBegin(GL_POINTS);
    {
        for (const Triangle& t : s.triangles)
        {
            vertex(t.corners[0]);
            vertex(t.corners[1]);
            vertex(t.corners[2]);
        }
    }
    glEnd();

    glColor3f(1.0f, 1.0f, 1.0f);
    drawAttachments(s);
}
