// The frame as drawn must equal, pixel for pixel, the frame drawn by sending everything in
// order. The plain drawing below is kept as the reference; both draw generated ships whose
// triangles, markers, labels and pending points straddle every border of views panned
// anywhere, in windows of several shapes, and the two framebuffers must read back equal.
#include "app/callbacks.h"
#include "app/frame.h"
#include "bind/binding.h"
#include "edit/pointer_edit.h"
#include "model/ship.h"
#include "render/markers.h"
#include "render/scene.h"
#include "tests/failing_allocations.h"
#include "tests/glut_window.h"
#include "tests/ship_setup.h"
#include "tests/test_support.h"

#include <GL/freeglut.h>
#include <GL/gl.h>

#include <cmath>
#include <cstddef>
#include <cstdio>
#include <gtest/gtest.h>
#include <random>
#include <vector>

namespace
{
// The reference: every shape of the frame sent in order, whether or not it can show.
void referenceVertex(const Vec2& p)
{
    glVertex2f(static_cast<float>(p.x), static_cast<float>(p.y));
}

void referenceGridPass(float grey, double step)
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

void referenceSegment(const Vec2& from, const Vec2& to, float width)
{
    glLineWidth(width);
    glBegin(GL_LINES);
    {
        referenceVertex(from);
        referenceVertex(to);
    }
    glEnd();
}

void referenceDot(const Vec2& at, float size)
{
    glPointSize(size);
    glBegin(GL_POINTS);
    {
        referenceVertex(at);
    }
    glEnd();
}

void referenceMarkerColour(const Attachment& a)
{
    glColor3f(1.0f, 0.0f, a.modeFlag ? 1.0f : 0.0f);
}

void referenceMarker(const Attachment& a, const std::vector<Triangle>& triangles)
{
    const Vec2 at{a.x, a.y};
    if (a.triangle != NO_EDGE)
    {
        const Triangle& bound = triangles[static_cast<std::size_t>(a.triangle)];
        const Vec2& p = bound.corners[a.edge];
        const Vec2& q = bound.corners[(a.edge + 1) % 3];
        const Vec2 mid = midpoint(p, q);
        const Vec2 tip = markerArmTip(p, q);

        glColor3f(0.0f, 1.0f, 1.0f);
        referenceSegment(mid, at, 2.0f);
        referenceMarkerColour(a);
        referenceSegment(mid, tip, 5.0f);
        referenceMarkerColour(a);
        referenceDot(mid, 16.0f);
        glColor3f(0.0f, 1.0f, 1.0f);
        referenceDot(at, 16.0f);
    }
    else
    {
        referenceMarkerColour(a);
        referenceDot(at, 16.0f);
    }
    glColor3f(0.0f, 0.0f, 0.0f);
    referenceDot(at, 12.0f);
}

void referenceCentredText(double x, double y, const char* text)
{
    const int length =
        glutBitmapLength(GLUT_BITMAP_HELVETICA_10, reinterpret_cast<const unsigned char*>(text));
    const int width = editor.windowWidth;
    double rx = x;
    double ry = y;
    if (width != 0)
    {
        const double w = static_cast<double>(width);
        rx = x - (static_cast<double>(length) / w) * 200.0 * 0.5;
        ry = y - (3.5 / w) * 200.0;
    }
    glRasterPos2f(static_cast<float>(rx), static_cast<float>(ry));
    for (const char* c = text; *c != '\0'; c++)
    {
        glutBitmapCharacter(GLUT_BITMAP_HELVETICA_10,
                            static_cast<int>(static_cast<unsigned char>(*c)));
    }
}

void referenceAttachments(const Ship& s)
{
    for (const Attachment& a : s.attachments)
    {
        referenceMarker(a, s.triangles);
        glColor3f(1.0f, 1.0f, 1.0f);
        char label[2];
        std::snprintf(label, sizeof label, "%c", static_cast<int>(a.key));
        referenceCentredText(a.x, a.y, label);
    }
}

void referenceDrawScene(const Ship& s)
{
    glClear(GL_COLOR_BUFFER_BIT);

    glLineWidth(1.0f);
    glBegin(GL_LINES);
    {
        referenceGridPass(0.2f, 1.0 / 64.0);
        referenceGridPass(0.4f, 1.0 / 16.0);
        referenceGridPass(0.7f, 1.0 / 4.0);
    }
    glEnd();

    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glEnable(GL_BLEND);
    glBegin(GL_TRIANGLES);
    {
        for (const Triangle& t : s.triangles)
        {
            const double area = std::fabs(doubleSignedArea(t)) * 0.5;
            glColor4f(0.0f, static_cast<float>(area / 100.0 / 10.0 + 0.2), 0.0f, 0.75f);
            referenceVertex(t.corners[0]);
            referenceVertex(t.corners[1]);
            referenceVertex(t.corners[2]);
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
            referenceVertex(t.corners[0]);
            referenceVertex(t.corners[1]);
            referenceVertex(t.corners[1]);
            referenceVertex(t.corners[2]);
            referenceVertex(t.corners[2]);
            referenceVertex(t.corners[0]);
        }
    }
    glEnd();

    glPointSize(11.0f);
    glColor3f(1.0f, 1.0f, 0.0f);
    glBegin(GL_POINTS);
    {
        for (const Vec2& p : s.pendingPoints)
        {
            referenceVertex(p);
        }
    }
    glEnd();

    glPointSize(7.0f);
    glColor3f(1.0f, 0.0f, 0.0f);
    glBegin(GL_POINTS);
    {
        for (const Triangle& t : s.triangles)
        {
            referenceVertex(t.corners[0]);
            referenceVertex(t.corners[1]);
            referenceVertex(t.corners[2]);
        }
    }
    glEnd();

    glColor3f(1.0f, 1.0f, 1.0f);
    referenceAttachments(s);
}

// The whole window as RGB rows from the bottom, read from the back buffer before any swap.
std::vector<unsigned char> readWindow()
{
    const EditorState& e = editor;
    std::vector<unsigned char> pixels(static_cast<std::size_t>(e.windowWidth) * e.windowHeight * 3);
    glReadBuffer(GL_BACK);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, e.windowWidth, e.windowHeight, GL_RGB, GL_UNSIGNED_BYTE, pixels.data());
    return pixels;
}

double snapped(double v)
{
    return std::round(v / 3.125) * 3.125;
}

// Generates ships around the view of `editor`: most shapes within a few pixels of a border
// of the view or of a corner of it, the rest anywhere across or around it.
struct ShipMaker
{
    std::mt19937 rng;

    double uniform(double low, double high)
    {
        return std::uniform_real_distribution<double>(low, high)(rng);
    }

    int pick(int count)
    {
        return std::uniform_int_distribution<int>(0, count - 1)(rng);
    }

    // A coordinate on the axis whose view starts at `low`, with `pixel` world units a pixel.
    double nearBorder(double low, double pixel)
    {
        const double border = pick(2) == 0 ? low : low + VIEW_SIZE;
        switch (pick(4))
        {
            case 0:
                return border + uniform(-1.5, 1.5) * pixel;
            case 1:
                return border + uniform(-12.0, 12.0) * pixel;
            case 2:
                return border + uniform(-60.0, 60.0);
            default:
                return low + uniform(-80.0, VIEW_SIZE + 80.0);
        }
    }

    Vec2 nearView(const EditorState& e)
    {
        const double px = static_cast<double>(VIEW_SIZE) / e.windowWidth;
        const double py = static_cast<double>(VIEW_SIZE) / e.windowHeight;
        return Vec2{nearBorder(e.viewOrigin.x, px), nearBorder(e.viewOrigin.y, py)};
    }

    Triangle triangleNear(Vec2 c, double reach)
    {
        Triangle t;
        for (Vec2& corner : t.corners)
        {
            corner =
                Vec2{snapped(c.x + uniform(-reach, reach)), snapped(c.y + uniform(-reach, reach))};
        }
        return t;
    }

    // Where the label of a one-character key starts, relative to its attachment, so that a
    // label can be put with its start just inside or just outside a border.
    Vec2 labelOffset(unsigned char key, const EditorState& e)
    {
        const unsigned char text[] = {key, 0};
        const double length = glutBitmapLength(GLUT_BITMAP_HELVETICA_10, text);
        const double w = e.windowWidth;
        return Vec2{(length / w) * 200.0 * 0.5, (3.5 / w) * 200.0};
    }

    Ship make(const EditorState& e)
    {
        const double px = static_cast<double>(VIEW_SIZE) / e.windowWidth;
        const double py = static_cast<double>(VIEW_SIZE) / e.windowHeight;
        const double ox = e.viewOrigin.x;
        const double oy = e.viewOrigin.y;
        Ship s;
        for (int i = 0; i < 30; i++)
        {
            s.triangles.push_back(triangleNear(nearView(e), pick(3) == 0 ? 8.0 : 40.0));
        }
        // Shapes that cross the view with every corner outside it; in half of the ships one
        // of them covers the whole view.
        if (pick(2) == 0)
        {
            s.triangles.push_back(
                tri({ox - 400, oy - 400}, {ox + 1200, oy - 400}, {ox - 400, oy + 1200}));
        }
        s.triangles.push_back(
            tri({ox - 50, oy + 100}, {ox + 350, oy + 103.125}, {ox - 50, oy + 106.25}));
        s.triangles.push_back(
            tri({ox + 150, oy - 90}, {ox + 156.25, oy + 390}, {ox + 162.5, oy - 90}));

        for (int i = 0; i < 40; i++)
        {
            Attachment a;
            a.key = static_cast<unsigned char>(pick(5) == 0 ? 'W' : 1 + pick(255));
            a.modeFlag = pick(2) == 0;
            Vec2 at = nearView(e);
            const int kind = pick(4);
            if (kind == 0)
            {
                // Just off an edge midpoint, so that it binds.
                const Triangle& t = s.triangles[static_cast<std::size_t>(pick(30))];
                const int k = pick(3);
                const Vec2 m = midpoint(t.corners[k], t.corners[(k + 1) % 3]);
                at = Vec2{m.x + uniform(-6.0, 6.0), m.y + uniform(-6.0, 6.0)};
            }
            else if (kind == 1)
            {
                // The label's start within a pixel and a half of a border, on either side.
                const Vec2 shift = labelOffset(a.key, e);
                const double bx = pick(2) == 0 ? ox : ox + VIEW_SIZE;
                const double by = pick(2) == 0 ? oy : oy + VIEW_SIZE;
                at.x = pick(2) == 0 ? at.x : bx + shift.x + uniform(-1.5, 1.5) * px;
                at.y = pick(2) == 0 ? at.y : by + shift.y + uniform(-1.5, 1.5) * py;
                if (pick(3) == 0)
                {
                    at.x = bx + shift.x;
                    at.y = by + shift.y;
                }
            }
            else if (kind == 2 && !s.attachments.empty())
            {
                // Over the previous marker.
                const Attachment& before = s.attachments.back();
                at = Vec2{before.x + uniform(-4.0, 4.0) * px, before.y + uniform(-4.0, 4.0) * py};
            }
            a.x = at.x;
            a.y = at.y;
            s.attachments.push_back(a);
        }
        // In some ships, attachments beyond what the binding's cells hold: too far out for
        // them, beyond single precision, and not finite.
        if (pick(3) == 0)
        {
            for (const Vec2 at : {Vec2{ox + 6e9, oy}, Vec2{-1e38, oy + 100}, Vec2{NAN, oy},
                                  Vec2{ox + 50, INFINITY}})
            {
                s.attachments.insert(s.attachments.begin() + pick(20), Attachment{'Q', at.x, at.y});
            }
        }
        for (int i = pick(3); i > 0; i--)
        {
            const Vec2 p = nearView(e);
            s.pendingPoints.push_back(Vec2{snapped(p.x), snapped(p.y)});
        }
        return s;
    }

    // Edits of the editor's ship as made between frames: triangles moved along the view's
    // borders, into it and out of it, attachments moved, a triangle added.
    void edit(const EditorState& e)
    {
        Ship& s = ship;
        for (int n = pick(12); n > 0 && !s.triangles.empty(); n--)
        {
            const std::size_t i =
                static_cast<std::size_t>(pick(static_cast<int>(s.triangles.size())));
            Triangle t = s.triangles[i];
            const double dx = pick(3) == 0 ? uniform(-400.0, 400.0) : snapped(uniform(-20.0, 20.0));
            const double dy = pick(3) == 0 ? uniform(-400.0, 400.0) : snapped(uniform(-20.0, 20.0));
            for (Vec2& c : t.corners)
            {
                c = Vec2{c.x + dx, c.y + dy};
            }
            writeTriangle(s, i, t);
        }
        for (int n = pick(6); n > 0 && !s.attachments.empty(); n--)
        {
            const std::size_t j =
                static_cast<std::size_t>(pick(static_cast<int>(s.attachments.size())));
            writeAttachmentPosition(s, j, nearView(e));
        }
        if (pick(2) == 0)
        {
            const Vec2 a = nearView(e);
            addTriangle(tri(a, Vec2{a.x + 25, a.y}, Vec2{a.x, a.y + 25}));
        }
    }
};

TEST(FrameEquality, DrawnFramesEqualTheFramesThatSendEverything)
{
    const struct
    {
        int width;
        int height;
    } windows[] = {{900, 900}, {1200, 520}, {431, 877}, {161, 97}};
    ShipMaker maker{std::mt19937(20240611)};
    long whitePixels = 0;
    long greenPixels = 0;
    for (const auto& window : windows)
    {
        ASSERT_TRUE(resizeEditorWindow(window.width, window.height));
        for (int round = 0; round < 10; round++)
        {
            EditorState& e = editor;
            // Mostly over the grid, which ends 1300 units from the origin.
            e.viewOrigin = ViewOrigin{maker.pick(3001) - 1700, maker.pick(3001) - 1700};
            setFrameView(editorView(e));
            // Every other round edits the ship of the round before, seen from its new view.
            if (round % 2 == 0)
            {
                const Ship made = maker.make(e);
                useShip(made.triangles, made.attachments);
                ship.pendingPoints = made.pendingPoints;
            }
            else
            {
                maker.edit(e);
            }
            bindFrame(ship);

            referenceDrawScene(ship);
            const std::vector<unsigned char> expected = readWindow();
            drawFrame(ship, editorView(e));
            forgetShipChanges(ship);
            const std::vector<unsigned char> actual = readWindow();
            ASSERT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));

            long differing = 0;
            std::size_t first = 0;
            for (std::size_t i = 0; i < expected.size(); i += 3)
            {
                const bool same = expected[i] == actual[i] && expected[i + 1] == actual[i + 1] &&
                                  expected[i + 2] == actual[i + 2];
                if (!same && differing++ == 0)
                {
                    first = i / 3;
                }
                whitePixels +=
                    expected[i] == 255 && expected[i + 1] == 255 && expected[i + 2] == 255;
                greenPixels += expected[i] == 0 && expected[i + 1] == 255 && expected[i + 2] == 0;
            }
            EXPECT_EQ(differing, 0) << "window " << window.width << " x " << window.height
                                    << ", view origin (" << e.viewOrigin.x << ", " << e.viewOrigin.y
                                    << "), round " << round << ": first at pixel ("
                                    << first % window.width << ", " << first / window.width << ")";
        }
    }
    // The cases show labels and edges, so the comparison covers them.
    EXPECT_GT(whitePixels, 1000);
    EXPECT_GT(greenPixels, 1000);
}

// Many markers in one view: a lattice of rings far enough apart to be drawn together, in more
// than fit in one batch of drawing, markers bound to the edges of small triangles, one under
// the arm of the marker after it, and markers stacked on the one before. The frame must equal the
// one that draws marker after marker.
TEST(FrameEquality, CrowdedMarkersEqualMarkersDrawnOneAfterAnother)
{
    std::mt19937 rng(7);
    const auto uniform = [&rng](double low, double high)
    { return std::uniform_real_distribution<double>(low, high)(rng); };
    ASSERT_TRUE(resizeEditorWindow(900, 900));
    for (const ViewOrigin origin : {ViewOrigin{-150, -150}, ViewOrigin{52000, -71000}})
    {
        EditorState& e = editor;
        e.viewOrigin = origin;
        setFrameView(editorView(e));
        const double ox = origin.x;
        const double oy = origin.y;
        Ship s;
        for (double y = oy + 4; y < oy + 110; y += 12)
        {
            for (double x = ox + 4; x < ox + 300; x += 12)
            {
                const int key = std::uniform_int_distribution<int>(1, 255)(rng);
                s.attachments.push_back(Attachment{static_cast<unsigned char>(key), x, y});
            }
        }
        for (double x = ox + 10; x < ox + 290; x += 40)
        {
            for (double y = oy + 185; y < oy + 290; y += 60)
            {
                // Below the triangle's bottom edge, whose midpoint is (mx, y), a small one,
                // and bound to it a marker whose ring lies under the arm of the next marker.
                const double mx = x + 12.5;
                s.triangles.push_back(tri({mx + 2, y - 24}, {mx + 14, y - 24}, {mx + 8, y - 34}));
                s.attachments.push_back(
                    Attachment{'u', mx + 2.0, y - 14.0, NO_EDGE, NO_EDGE, true});
                s.triangles.push_back(tri({x, y}, {x + 25, y}, {x, y + 25}));
                for (int k = 0; k < 3; k++)
                {
                    const Vec2 m = edgeMidpoint(s.triangles.back(), k);
                    const double dx = k == 0 ? -3.0 : uniform(-5.0, 5.0);
                    const double dy = k == 0 ? 3.0 : uniform(-5.0, 5.0);
                    Attachment a{static_cast<unsigned char>('A' + k), m.x + dx, m.y + dy};
                    a.modeFlag = k == 1;
                    s.attachments.push_back(a);
                    if (k == 2)
                    {
                        a.x += uniform(-2.0, 2.0);
                        a.y += uniform(-2.0, 2.0);
                        s.attachments.push_back(a);
                    }
                }
            }
        }
        useShip(s.triangles, s.attachments);
        bindFrame(ship);

        referenceDrawScene(ship);
        const std::vector<unsigned char> expected = readWindow();
        drawFrame(ship, editorView(e));
        forgetShipChanges(ship);
        const std::vector<unsigned char> actual = readWindow();
        ASSERT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
        EXPECT_TRUE(expected == actual) << "view origin (" << ox << ", " << oy << ")";
        long bound = 0;
        for (const Attachment& a : ship.attachments)
        {
            bound += a.triangle != NO_EDGE;
        }
        EXPECT_GT(bound, 50);
    }
}
} // namespace

// The editor's frames ask for no memory: idle, and while a shared corner, an attachment and
// the view move, on a ship with room set aside as a load leaves it. Each kind of frame runs
// once before it is counted, for the renderer's own first-time work.
TEST(FrameEquality, FramesAskForNoMemory)
{
    ASSERT_TRUE(resizeEditorWindow(WINDOW_SIZE, WINDOW_SIZE));
    EditorState& e = editor;
    e.viewOrigin = ViewOrigin{};
    std::vector<Triangle> triangles;
    std::vector<Attachment> attachments;
    for (int i = 0; i < 400; i++)
    {
        const double x = (i % 20) * 12.5 - 100;
        const double y = (i / 20) * 12.5 - 100;
        triangles.push_back(tri({x, y}, {x + 12.5, y}, {x, y + 12.5}));
        attachments.push_back(
            Attachment{static_cast<unsigned char>('a' + i % 26), x + 6.0, y - 1.0});
    }
    useShip(triangles, attachments);
    const Vec2 corner = ship.triangles[210].corners[0];
    const Vec2 moved{corner.x + 3.125, corner.y + 3.125};
    const auto frames = [&](int count, auto&& edit)
    {
        for (int i = 0; i < count; i++)
        {
            edit(i);
            onDisplay();
        }
        glFinish();
    };
    const auto idle = [](int) {};
    const auto dragCorner = [&](int i)
    { cornerDragStep(i % 2 ? moved : corner, i % 2 ? corner : moved); };
    const auto dragAttachment = [&](int i)
    {
        e.attachmentDragActive = true;
        e.draggedAttachment = 5;
        attachmentDragStep(Vec2{-50.0 + 3.125 * i, 25.0 - 3.125 * i});
    };
    const auto pan = [&](int i) { e.viewOrigin = ViewOrigin{-150 + (i % 40), -150 - (i % 30)}; };
    frames(2, idle);
    frames(2, dragCorner);
    frames(2, dragAttachment);
    frames(2, pan);
    constexpr long PLENTY = 1000000000;
    allocationsLeft = PLENTY;
    frames(50, idle);
    frames(50, dragCorner);
    frames(50, dragAttachment);
    frames(50, pan);
    const long made = PLENTY - allocationsLeft;
    allocationsLeft = -1;
    EXPECT_EQ(made, 0);
    e.attachmentDragActive = false;
    EXPECT_EQ(ship.attachments[5].x, -50.0 + 3.125 * 49);
}

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new EditorWindowEnvironment);
    return RUN_ALL_TESTS();
}
