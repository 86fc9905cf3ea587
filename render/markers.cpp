#include "render/markers.h"

#include "model/ship.h"
#include "model/table_sqrt.h"

#include <GL/freeglut.h>

#include <cassert>
#include <cstddef>
#include <cstdio>
#include <vector>

static void vertex(const Vec2& p)
{
    glVertex2f(static_cast<float>(p.x), static_cast<float>(p.y));
}

static void drawSegment(const Vec2& from, const Vec2& to, float width)
{
    glLineWidth(width);
    glBegin(GL_LINES);
    {
        vertex(from);
        vertex(to);
    }
    glEnd();
}

static void drawDot(const Vec2& at, float size)
{
    glPointSize(size);
    glBegin(GL_POINTS);
    {
        vertex(at);
    }
    glEnd();
}

Vec2 markerArmTip(Vec2 p, Vec2 q)
{
    const Vec2 m = midpoint(p, q);
    const double ex = p.x - q.x;
    const double ey = p.y - q.y;
    // The table root keeps the arm within about 1.5e-5 of its length; an edge whose
    // corners coincide has no direction, so its arm collapses onto the midpoint.
    const float length = fastLength(ex, ey);
    double ux = 0.0;
    double uy = 0.0;
    if (length > 0.0f)
    {
        ux = ex / length;
        uy = ey / length;
    }
    return Vec2{m.x - MARKER_ARM_LENGTH * uy, m.y + MARKER_ARM_LENGTH * ux};
}

// Magenta for attachments placed with the mode flag set, red otherwise.
static void setMarkerColour(const Attachment& a)
{
    glColor3f(1.0f, 0.0f, a.modeFlag ? 1.0f : 0.0f);
}

// A bound marker: the link from the edge to the attachment, the arm standing off the
// edge, a dot on the edge and the cyan ring. An unbound one shows only a ring in the
// marker colour. Both end with the black centre that turns the ring into a frame.
static void drawMarker(const Attachment& a, const std::vector<Triangle>& triangles)
{
    const Vec2 at{a.x, a.y};
    if (a.triangle != NO_EDGE)
    {
        assert(0 <= a.triangle && static_cast<std::size_t>(a.triangle) < triangles.size());
        assert(0 <= a.edge && a.edge < 3);
        const Triangle& bound = triangles[static_cast<std::size_t>(a.triangle)];
        const Vec2& p = bound.corners[a.edge];
        const Vec2& q = bound.corners[(a.edge + 1) % 3];
        const Vec2 mid = midpoint(p, q);
        const Vec2 tip = markerArmTip(p, q);

        glColor3f(0.0f, 1.0f, 1.0f);
        drawSegment(mid, at, 2.0f);
        setMarkerColour(a);
        drawSegment(mid, tip, 5.0f);
        setMarkerColour(a);
        drawDot(mid, 16.0f);
        glColor3f(0.0f, 1.0f, 1.0f);
        drawDot(at, 16.0f);
    }
    else
    {
        setMarkerColour(a);
        drawDot(at, 16.0f);
    }
    glColor3f(0.0f, 0.0f, 0.0f);
    drawDot(at, 12.0f);
}

void drawAttachments(const Ship& s)
{
    for (const Attachment& a : s.attachments)
    {
        drawMarker(a, s.triangles);

        // The raster position takes the current colour when it is set: white.
        glColor3f(1.0f, 1.0f, 1.0f);
        char label[2];
        std::snprintf(label, sizeof label, "%c", static_cast<int>(a.key));
        drawCentredText(a.x, a.y, label);
    }
}

void drawCentredText(double x, double y, const char* text)
{
    const int length =
        glutBitmapLength(GLUT_BITMAP_HELVETICA_10, reinterpret_cast<const unsigned char*>(text));
    const int width = editor.windowWidth;
    // The offsets turn pixels into world units at 200 / width (not the view's 300 / width),
    // so the text starts a little left of x and its baseline sits a little below y.
    // Before the first reshape there is no width to scale by: the text starts at (x, y).
    double rx = x;
    double ry = y;
    if (width != 0)
    {
        const double w = static_cast<double>(width);
        rx = x - (static_cast<double>(length) / w) * 200.0 * 0.5;
        ry = y - (3.5 / w) * 200.0;
    }
    glRasterPos2f(static_cast<float>(rx), static_cast<float>(ry));
    // Characters go to the font as 0..255: the font has glyphs for the upper half too
    // (a key such as the section sign), which a negative code would leave undrawn.
    for (const char* c = text; *c != '\0'; c++)
    {
        glutBitmapCharacter(GLUT_BITMAP_HELVETICA_10,
                            static_cast<int>(static_cast<unsigned char>(*c)));
    }
}
