#include "render/markers.h"

#include "bind/binding.h"
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

// Where a label's glyphs go: the raster position, and the window pixels they are kept to.
struct LabelPlace
{
    float x = 0.0f; // raster position, world units
    float y = 0.0f;
    bool scissored = false;      // the glyphs are kept to the scissor box
    GLint box[4] = {0, 0, 0, 0}; // scissor box: left, bottom, width, height, window pixels
};

// Where the label of `a` goes: its key in the small bitmap font, starting half its width left
// of the attachment, with its baseline a little below it. False when it draws nothing: a key
// of 0 has no label, and GL draws none at a raster position outside the view.
static bool placeLabel(const Attachment& a, const LabelView& v, LabelPlace& place)
{
    if (a.key == 0)
    {
        return false;
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
        return false;
    }
    place.x = x;
    place.y = y;

    // The renderer draws a glyph through a quad many times its size; a scissor box around the
    // glyphs keeps the pixels it visits to a few hundred, whether the glyphs come from the
    // display lists or are sent directly. It holds every pixel the glyphs can set, so the
    // picture is the same.
    place.scissored = v.width > 0 && v.height > 0 && std::isfinite(x) && std::isfinite(y);
    if (place.scissored)
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
        place.box[0] = static_cast<GLint>(x0);
        place.box[1] = static_cast<GLint>(y0);
        place.box[2] = static_cast<GLint>(x1 - x0);
        place.box[3] = static_cast<GLint>(y1 - y0);
    }
    return true;
}

static void drawLabel(unsigned char key, const LabelPlace& place, GLuint lists)
{
    if (place.scissored)
    {
        glEnable(GL_SCISSOR_TEST);
        glScissor(place.box[0], place.box[1], place.box[2], place.box[3]);
    }
    // The raster position takes the current colour when it is set: white.
    glColor3f(1.0f, 1.0f, 1.0f);
    glRasterPos2f(place.x, place.y);
    // The key goes to the font as 0..255: the font has glyphs for the upper half too (a key
    // such as the section sign), which a negative code would leave undrawn.
    if (lists != 0)
    {
        glCallLists(1, GL_UNSIGNED_BYTE, &key);
    }
    else
    {
        glutBitmapCharacter(GLUT_BITMAP_HELVETICA_10, static_cast<int>(key));
    }
    if (place.scissored)
    {
        glDisable(GL_SCISSOR_TEST);
    }
}

// Batches. A marker is five elements, drawn in this order: the link, the arm, the 16-pixel
// dots (the one on the edge, then the ring), the black centre and the label. Drawn marker by
// marker, each element is a draw of its own, and on the software renderer a draw costs far
// more than the few pixels of a marker. A batch draws its markers element by element instead,
// one block per element in list order: the same pixels, so long as no pixel that a marker's
// later element sets is set by an earlier element of a marker after it in the batch. Markers
// that would are left to the next batch, and batches are drawn in order.
enum MarkerElement
{
    LINK,
    ARM,
    RINGS,
    CENTRE,
    LABEL,
    ELEMENT_COUNT
};

// Window pixels, inclusive; empty (left above right) for an element a marker does not draw.
struct PixelBox
{
    double left = INFINITY;
    double bottom = INFINITY;
    double right = -INFINITY;
    double top = -INFINITY;
};

static bool overlap(const PixelBox& a, const PixelBox& b)
{
    return a.left <= b.right && b.left <= a.right && a.bottom <= b.top && b.bottom <= a.top;
}

// What one attachment draws in the attachment pass, and the pixels each element may set.
struct MarkerItem
{
    const Attachment* attachment = nullptr;
    MarkerPlace marker;
    bool markerDrawn = false;
    LabelPlace label;
    bool labelDrawn = false;
    bool anywhere = false; // its pixels are not known: drawn in a batch of its own
    PixelBox pixels[ELEMENT_COUNT];
};

// Markers in one batch at most. The check against the batch is linear, and more than a few
// dozen markers of a view rarely fit in one.
constexpr int MARKER_BATCH = 64;

// The batch being gathered; kept between frames so that a frame allocates nothing.
static MarkerItem batchItems[MARKER_BATCH];
static int batchCount = 0;

// Pixels kept around an element's points beyond half its width or size: the rounding of the
// pipeline and the way wide lines end.
constexpr double ELEMENT_PIXEL_MARGIN = 2.0;

// The window pixels that a shape through `points` `count` may set, reaching `halfSize`
// pixels beyond them. False when GL's single precision may put them anywhere.
static bool pixelBox(const Vec2* points, int count, double halfSize, const WindowView& view,
                     PixelBox& box)
{
    const double left = static_cast<double>(view.origin.x);
    const double bottom = static_cast<double>(view.origin.y);
    const double across = view.width / static_cast<double>(VIEW_SIZE);
    const double up = view.height / static_cast<double>(VIEW_SIZE);
    double magnitude = std::fabs(left) + std::fabs(bottom) + VIEW_SIZE;
    for (int i = 0; i < count; i++)
    {
        magnitude += std::fabs(points[i].x) + std::fabs(points[i].y);
    }
    if (!(magnitude < SINGLE_PRECISION_SAFE))
    {
        return false;
    }
    // The same allowance for single precision as the view's reach, in pixels on each axis.
    const double rounding = 1e-5 * magnitude;
    const double reachX = halfSize + ELEMENT_PIXEL_MARGIN + rounding * across;
    const double reachY = halfSize + ELEMENT_PIXEL_MARGIN + rounding * up;
    for (int i = 0; i < count; i++)
    {
        const double x = (points[i].x - left) * across;
        const double y = (points[i].y - bottom) * up;
        box.left = std::fmin(box.left, x - reachX);
        box.right = std::fmax(box.right, x + reachX);
        box.bottom = std::fmin(box.bottom, y - reachY);
        box.top = std::fmax(box.top, y + reachY);
    }
    return true;
}

// Fills in the pixels of each element `item` draws, or marks it as drawn anywhere.
static void findPixels(MarkerItem& item, const WindowView& view)
{
    if (view.width <= 0 || view.height <= 0)
    {
        // Before the first reshape the projection is not the view's.
        item.anywhere = true;
        return;
    }
    bool known = true;
    if (item.markerDrawn)
    {
        const MarkerPlace& m = item.marker;
        const Vec2& at = m.points[0];
        if (m.bound)
        {
            const Vec2 link[2] = {m.points[1], at};
            const Vec2 arm[2] = {m.points[1], m.points[2]};
            known = pixelBox(link, 2, 1.0, view, item.pixels[LINK]) &&
                    pixelBox(arm, 2, 2.5, view, item.pixels[ARM]) &&
                    pixelBox(link, 2, 8.0, view, item.pixels[RINGS]);
        }
        else
        {
            known = pixelBox(&at, 1, 8.0, view, item.pixels[RINGS]);
        }
        known = known && pixelBox(&at, 1, 6.0, view, item.pixels[CENTRE]);
    }
    if (item.labelDrawn)
    {
        const LabelPlace& l = item.label;
        known = known && l.scissored;
        item.pixels[LABEL] = PixelBox{static_cast<double>(l.box[0]), static_cast<double>(l.box[1]),
                                      static_cast<double>(l.box[0] + l.box[2]),
                                      static_cast<double>(l.box[1] + l.box[3])};
    }
    item.anywhere = !known;
}

// Whether `later`, drawn after `earlier` in a batch, would show otherwise than drawn after it.
static bool conflicts(const MarkerItem& earlier, const MarkerItem& later)
{
    for (int e = LINK + 1; e < ELEMENT_COUNT; e++)
    {
        for (int f = LINK; f < e; f++)
        {
            if (overlap(earlier.pixels[e], later.pixels[f]))
            {
                return true;
            }
        }
    }
    return false;
}

// Draws the batch element by element and empties it.
static void drawBatch(GLuint lists)
{
    const MarkerItem* items = batchItems;
    const int count = batchCount;
    batchCount = 0;
    glColor3f(0.0f, 1.0f, 1.0f);
    glLineWidth(2.0f);
    glBegin(GL_LINES);
    {
        for (int i = 0; i < count; i++)
        {
            const MarkerPlace& m = items[i].marker;
            if (items[i].markerDrawn && m.bound)
            {
                sendVertex(m.points[1]);
                sendVertex(m.points[0]);
            }
        }
    }
    glEnd();
    glLineWidth(5.0f);
    glBegin(GL_LINES);
    {
        for (int i = 0; i < count; i++)
        {
            const MarkerPlace& m = items[i].marker;
            if (items[i].markerDrawn && m.bound)
            {
                setMarkerColour(*items[i].attachment);
                sendVertex(m.points[1]);
                sendVertex(m.points[2]);
            }
        }
    }
    glEnd();
    // A bound marker's dot on the edge in the marker colour and its ring in cyan; an unbound
    // marker's ring in the marker colour.
    glPointSize(16.0f);
    glBegin(GL_POINTS);
    {
        for (int i = 0; i < count; i++)
        {
            const MarkerPlace& m = items[i].marker;
            if (items[i].markerDrawn)
            {
                setMarkerColour(*items[i].attachment);
                if (m.bound)
                {
                    sendVertex(m.points[1]);
                    glColor3f(0.0f, 1.0f, 1.0f);
                }
                sendVertex(m.points[0]);
            }
        }
    }
    glEnd();
    // The black centre turns the ring into a frame.
    glColor3f(0.0f, 0.0f, 0.0f);
    glPointSize(12.0f);
    glBegin(GL_POINTS);
    {
        for (int i = 0; i < count; i++)
        {
            if (items[i].markerDrawn)
            {
                sendVertex(items[i].marker.points[0]);
            }
        }
    }
    glEnd();
    for (int i = 0; i < count; i++)
    {
        if (items[i].labelDrawn)
        {
            drawLabel(items[i].attachment->key, items[i].label, lists);
        }
    }
}

// Adds `item` to the batch, first drawing the batch when the item cannot join it.
static void addToBatch(const MarkerItem& item, GLuint lists)
{
    bool joins = !item.anywhere && batchCount < MARKER_BATCH;
    for (int i = 0; joins && i < batchCount; i++)
    {
        joins = !batchItems[i].anywhere && !conflicts(batchItems[i], item);
    }
    if (!joins && batchCount > 0)
    {
        drawBatch(lists);
    }
    batchItems[batchCount++] = item;
}

void drawAttachments(const Ship& s, const WindowView& view)
{
    const std::vector<Attachment>& attachments = s.attachments;
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
    batchCount = 0;
    const WorldBox shown{std::fmin(markerReach.left, labels.nearby.left),
                         std::fmin(markerReach.bottom, labels.nearby.bottom),
                         std::fmax(markerReach.right, labels.nearby.right),
                         std::fmax(markerReach.top, labels.nearby.top)};
    const auto consider = [&](std::size_t i)
    {
        const Attachment& a = attachments[i];
        const Vec2 at{a.x, a.y};
        const bool markerNear = mayTouch(&at, 1, markerReach);
        const bool labelNear = mayTouch(&at, 1, labels.nearby);
        // What the cells give may still lie outside: it costs these two tests.
        if (!markerNear && !labelNear)
        {
            return;
        }
        MarkerItem item;
        item.attachment = &a;
        if (markerNear)
        {
            item.marker = placeMarker(a, s.triangles);
            item.markerDrawn = mayTouch(item.marker.points, item.marker.bound ? 3 : 1, reach);
        }
        if (labelNear)
        {
            item.labelDrawn = placeLabel(a, labels, item.label);
        }
        if (item.markerDrawn || item.labelDrawn)
        {
            findPixels(item, view);
            addToBatch(item, labels.lists);
        }
    };
    // The binding's cells find the few attachments near the view of a large ship, in list
    // order; where they cannot, every attachment is looked at.
    const std::vector<uint32_t>* inBox =
        attachmentsInBox(s, Vec2{shown.left, shown.bottom}, Vec2{shown.right, shown.top});
    if (inBox != nullptr)
    {
        for (const uint32_t i : *inBox)
        {
            consider(i);
        }
    }
    else
    {
        for (std::size_t i = 0; i < attachments.size(); i++)
        {
            consider(i);
        }
    }
    if (batchCount > 0)
    {
        drawBatch(labels.lists);
    }
}
