#include "render/markers.h"

#include "model/table_sqrt.h"
#include "render/cull.h"
#include "render/gl_vertex.h"

#include <GL/freeglut.h>

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstddef>
#include <vector>

// Pixels kept around a label's glyphs by the scissor box it is drawn through. The glyphs of
// the label font reach 3 pixels below the raster position and never past its advance.
constexpr double LABEL_SCISSOR_MARGIN = 8.0;

static void drawSegment(const Vec2& from, const Vec2& to, float width)
{
    glLineWidth(width);
    glBegin(GL_LINES);
    {
        sendVertex(from);
        sendVertex(to);
    }
    glEnd();
}

static void drawDot(const Vec2& at, float size)
{
    glPointSize(size);
    glBegin(GL_POINTS);
    {
        sendVertex(at);
    }
    glEnd();
}

// Where the arm of a marker on the edge from p to q ends: MARKER_ARM_LENGTH from the
// edge's midpoint, at right angles, on the right of the edge walked from p to q.
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

// Where a marker's shapes lie: the attachment and, for a bound one, the bound edge's
// midpoint and the arm's tip (the attachment itself for an unbound one).
struct MarkerPlace
{
    Vec2 points[3];
    bool bound = false;
};

static MarkerPlace placeMarker(const Attachment& a, const std::vector<Triangle>& triangles)
{
    const Vec2 at{a.x, a.y};
    MarkerPlace m{{at, at, at}};
    if (a.triangle != NO_EDGE)
    {
        assert(0 <= a.triangle && static_cast<std::size_t>(a.triangle) < triangles.size());
        assert(0 <= a.edge && a.edge < 3);
        const Triangle& bound = triangles[static_cast<std::size_t>(a.triangle)];
        const Vec2& p = bound.corners[a.edge];
        const Vec2& q = bound.corners[nextCorner(a.edge)];
        m.points[1] = edgeMidpoint(bound, a.edge);
        m.points[2] = markerArmTip(p, q);
        m.bound = true;
        // The attachment pass leaves out markers by this range before reading the triangle.
        assert(squaredDistance(m.points[1], at) < ATTACH_RANGE_SQ);
    }
    return m;
}

// A bound marker: the link from the edge to the attachment, the arm standing off the
// edge, a dot on the edge and the cyan ring. An unbound one shows only a ring in the
// marker colour. Both end with the black centre that turns the ring into a frame.
static void drawMarker(const Attachment& a, const MarkerPlace& m)
{
    const Vec2& at = m.points[0];
    if (m.bound)
    {
        const Vec2& mid = m.points[1];
        const Vec2& tip = m.points[2];
        glColor3f(0.0f, 1.0f, 1.0f);
        drawSegment(mid, at, 2.0f);
        setMarkerColour(a);
        drawSegment(mid, tip, 5.0f);
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

// `v` kept within 0..limit.
static double clamp(double v, int limit)
{
    return std::fmin(std::fmax(v, 0.0), static_cast<double>(limit));
}

// First of 256 display lists, one a key, each holding the key's glyph as the font sends
// it; 0 before the first label and wherever GL has no lists to give.
static GLuint glyphLists = 0;
// The widest glyph's advance, pixels; measured with the first lists, as the font never changes.
static int widestGlyph = 0;

// The software renderer draws a glyph from a display list out of a texture of all of them
// that it builds once, where a glyph sent directly costs a texture and a draw of its own.
// GL runs a list as the commands it holds, here the font's own bitmap, so the pixels are the
// same.
static GLuint labelGlyphLists()
{
    // Made anew should this be another GL context than the last frame's.
    if (glyphLists == 0 || glIsList(glyphLists) == GL_FALSE)
    {
        glyphLists = glGenLists(256);
        for (GLuint c = 0; glyphLists != 0 && c < 256; c++)
        {
            glNewList(glyphLists + c, GL_COMPILE);
            glutBitmapCharacter(GLUT_BITMAP_HELVETICA_10, static_cast<int>(c));
            glEndList();
        }
        for (int c = 1; widestGlyph == 0 && c < 256; c++)
        {
            const unsigned char text[2] = {static_cast<unsigned char>(c), 0};
            widestGlyph = std::max(widestGlyph, glutBitmapLength(GLUT_BITMAP_HELVETICA_10, text));
        }
    }
    return glyphLists;
}

// How far left of and below its attachment a label of `length` pixels starts, world units,
// in a window `width` pixels wide. The offsets turn pixels into world units at 200 / width
// (not the view's 300 / width), so the text starts a little left of the attachment and its
// baseline sits a little below it.
static Vec2 labelOffset(int length, int width)
{
    const double w = static_cast<double>(width);
    return Vec2{(static_cast<double>(length) / w) * 200.0 * 0.5, (3.5 / w) * 200.0};
}

// What the labels of a frame need of its view.
struct LabelView
{
    int width = 0; // window pixels; 0 before the first reshape
    int height = 0;
    Vec2 origin;      // the view's lower-left corner, world units
    WorldBox valid;   // where a raster position may be valid, with a pixel to spare
    WorldBox glyphs;  // the view widened by the scissor margin
    GLuint lists = 0; // the glyphs' display lists, or 0 to send glyphs directly
    WorldBox nearby;  // a label whose attachment lies outside this has an invalid position
};

static LabelView labelView(const WindowView& view)
{
    LabelView v;
    v.width = view.width;
    v.height = view.height;
    v.origin = Vec2{static_cast<double>(view.origin.x), static_cast<double>(view.origin.y)};
    v.valid = viewReach(view, 1.0);
    v.glyphs = viewReach(view, LABEL_SCISSOR_MARGIN);
    v.lists = labelGlyphLists();
    // A raster position lies left of and below its attachment by at most the offsets of the
    // widest glyph, and a little more for the rounding.
    v.nearby = v.valid;
    if (v.width != 0)
    {
        const Vec2 offset = labelOffset(widestGlyph, v.width);
        v.nearby.right += offset.x + 1.0;
        v.nearby.top += offset.y + 1.0;
    }
    return v;
}

// The label of `a`: its key in the small bitmap font, starting half its width left of the
// attachment, with its baseline a little below it. A key of 0 has no label.
static void drawLabel(const Attachment& a, const LabelView& v)
{
    if (a.key == 0)
    {
        return;
    }
    const unsigned char text[2] = {a.key, 0};
    const int length = glutBitmapLength(GLUT_BITMAP_HELVETICA_10, text);
    // Before the first reshape there is no width to scale by: the text starts at (x, y).
    double rx = a.x;
    double ry = a.y;
    if (v.width != 0)
    {
        const Vec2 offset = labelOffset(length, v.width);
        rx = a.x - offset.x;
        ry = a.y - offset.y;
    }
    const float x = static_cast<float>(rx);
    const float y = static_cast<float>(ry);
    // GL draws no bitmap at a raster position outside the view, and draws the whole of one
    // whose position is inside, even past the border; only the first kind is left out.
    // A position GL's arithmetic may turn into NaN is always sent.
    const bool outside =
        std::isfinite(x) && std::isfinite(y) &&
        (x < v.valid.left || x > v.valid.right || y < v.valid.bottom || y > v.valid.top);
    if (outside)
    {
        return;
    }

    // The renderer draws a glyph through a quad many times its size; a scissor box around the
    // glyphs keeps the pixels it visits to a few hundred, whether the glyphs come from the
    // display lists or are sent directly. It holds every pixel the glyphs can set, so the
    // picture is the same.
    const bool scissored = v.width > 0 && v.height > 0 && std::isfinite(x) && std::isfinite(y);
    if (scissored)
    {
        const double across = v.width / static_cast<double>(VIEW_SIZE);
        const double up = v.height / static_cast<double>(VIEW_SIZE);
        const double marginX = v.origin.x - v.glyphs.left;
        const double marginY = v.origin.y - v.glyphs.bottom;
        const double height = glutBitmapHeight(GLUT_BITMAP_HELVETICA_10);
        const double x0 = std::floor(clamp((x - marginX - v.origin.x) * across, v.width));
        const double x1 = std::ceil(clamp((x + marginX - v.origin.x) * across + length, v.width));
        const double y0 = std::floor(clamp((y - marginY - v.origin.y) * up, v.height));
        const double y1 = std::ceil(clamp((y + marginY - v.origin.y) * up + height, v.height));
        glEnable(GL_SCISSOR_TEST);
        glScissor(static_cast<GLint>(x0), static_cast<GLint>(y0), static_cast<GLsizei>(x1 - x0),
                  static_cast<GLsizei>(y1 - y0));
    }
    // The raster position takes the current colour when it is set: white.
    glColor3f(1.0f, 1.0f, 1.0f);
    glRasterPos2f(x, y);
    // The key goes to the font as 0..255: the font has glyphs for the upper half too (a key
    // such as the section sign), which a negative code would leave undrawn.
    if (v.lists != 0)
    {
        glCallLists(1, GL_UNSIGNED_BYTE, &a.key);
    }
    else
    {
        glutBitmapCharacter(GLUT_BITMAP_HELVETICA_10, static_cast<int>(a.key));
    }
    if (scissored)
    {
        glDisable(GL_SCISSOR_TEST);
    }
}

void drawAttachments(const std::vector<Attachment>& attachments,
                     const std::vector<Triangle>& triangles, const WindowView& view)
{
    const WorldBox reach = viewReach(view, SHAPE_REACH_PIXELS);
    // A bound attachment lies within the binding range of its edge's midpoint, and the arm
    // reaches MARKER_ARM_LENGTH (and a rounding) beyond that. A marker whose attachment lies
    // farther outside cannot touch the window, and its triangle, scattered in memory across
    // a large ship, is never read.
    const double markerSize = std::sqrt(ATTACH_RANGE_SQ) + MARKER_ARM_LENGTH + 1.0;
    const WorldBox markerReach{reach.left - markerSize, reach.bottom - markerSize,
                               reach.right + markerSize, reach.top + markerSize};
    const LabelView labels = labelView(view);
    glListBase(labels.lists);
    for (const Attachment& a : attachments)
    {
        const Vec2 at{a.x, a.y};
        if (mayTouch(&at, 1, markerReach))
        {
            const MarkerPlace m = placeMarker(a, triangles);
            if (mayTouch(m.points, m.bound ? 3 : 1, reach))
            {
                drawMarker(a, m);
            }
        }
        if (mayTouch(&at, 1, labels.nearby))
        {
            drawLabel(a, labels);
        }
    }
}
