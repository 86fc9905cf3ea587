#include "render/scene.h"

#include "bind/binding.h"
#include "render/cull.h"
#include "render/gl_vertex.h"

#include <GL/freeglut.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <iterator>
#include <vector>

// Where the editor ship's triangles lie, run by run, as of the last frame drawn.
static RunBoxes triangleRuns;

static int trianglePoints(const void* list, std::size_t i, Vec2* points)
{
    const Triangle& t = (*static_cast<const std::vector<Triangle>*>(list))[i];
    std::copy(std::begin(t.corners), std::end(t.corners), points);
    return 3;
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

void drawScene(const Ship& s, const WindowView& view)
{
    const std::vector<Triangle>& triangles = s.triangles;
    updateRunBoxes(triangleRuns, &triangles, triangles.size(), trianglePoints, s.changes.triangles,
                   s.changes.triangleCount, s.changes, s.editStamp);
    const WorldBox reach = viewReach(view, SHAPE_REACH_PIXELS);
    // Every pass visits the same triangles in list order: those that may touch the window,
    // found through the binding's cells, or where they cannot tell, through the runs.
    const std::vector<uint32_t>* inBox =
        trianglesInBox(s, Vec2{reach.left, reach.bottom}, Vec2{reach.right, reach.top});
    const auto forEachTouching = [&](auto&& draw)
    {
        const auto visit = [&](std::size_t i)
        {
            if (triangleMayTouch(triangles[i], reach))
            {
                draw(triangles[i]);
            }
        };
        if (inBox != nullptr)
        {
            std::for_each(inBox->begin(), inBox->end(), visit);
        }
        else
        {
            forEachInTouchingRuns(triangleRuns, reach, visit);
        }
    };

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
        forEachTouching(
            [](const Triangle& t)
            {
                glColor4f(0.0f, fillGreen(t), 0.0f, 0.75f);
                sendVertex(t.corners[0]);
                sendVertex(t.corners[1]);
                sendVertex(t.corners[2]);
            });
    }
    glEnd();
    glDisable(GL_BLEND);

    glLineWidth(2.0f);
    glColor4f(0.0f, 1.0f, 0.0f, 1.0f);
    glBegin(GL_LINES);
    {
        forEachTouching(
            [](const Triangle& t)
            {
                for (int k = 0; k < 3; k++)
                {
                    sendVertex(t.corners[k]);
                    sendVertex(t.corners[nextCorner(k)]);
                }
            });
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
                sendVertex(p);
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
        forEachTouching(
            [](const Triangle& t)
            {
                for (const Vec2& corner : t.corners)
                {
                    sendVertex(corner);
                }
            });
    }
    glEnd();

    // The attachments that follow start from white.
    glColor3f(1.0f, 1.0f, 1.0f);
}
