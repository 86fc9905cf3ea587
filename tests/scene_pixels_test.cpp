// Draws frames with the real OpenGL into a GLUT window on a private X server and reads
// the pixels back. Expected positions come from the view mapping of the default view:
// origin (-150, -150), 300 world units across 900 pixels, so world x lies at window
// x = (x + 150) * 3 and world y at window y = (y + 150) * 3 counted from the bottom, which
// is how glReadPixels numbers its rows. What no pixel shows (the grid beyond the view, where
// a label's text starts) is read from GL's feedback mode, which reports the primitives GL
// was given.
#include "app/callbacks.h"
#include "app/frame.h"
#include "bind/binding.h"
#include "model/ship.h"
#include "render/markers.h"
#include "render/scene.h"
#include "tests/glut_window.h"
#include "tests/ship_setup.h"
#include "tests/test_support.h"

#include <GL/freeglut.h>
#include <GL/gl.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <gtest/gtest.h>
#include <vector>

namespace
{
Rgb rgbOf(double r, double g, double b)
{
    return Rgb{static_cast<int>(std::lround(r * 255.0)), static_cast<int>(std::lround(g * 255.0)),
               static_cast<int>(std::lround(b * 255.0))};
}

const Rgb BLACK{0, 0, 0};
const Rgb WHITE{255, 255, 255};
const Rgb RED{255, 0, 0};
const Rgb GREEN{0, 255, 0};
const Rgb YELLOW{255, 255, 0};
const Rgb CYAN{0, 255, 255};
const Rgb MAGENTA{255, 0, 255};

bool matches(const Rgb& a, const Rgb& b, int tolerance)
{
    return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance &&
           std::abs(a.b - b.b) <= tolerance;
}

::testing::AssertionResult isColour(const Rgb& actual, const Rgb& expected, int tolerance)
{
    if (matches(actual, expected, tolerance))
    {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << "pixel is " << actual << ", expected " << expected << " within " << tolerance;
}

// What GL's feedback mode reported for a frame, in window coordinates: every line with
// its grey, and the position of every glyph drawn.
struct FeedbackLine
{
    float grey;
    Vec2 from;
    Vec2 to;
};

struct Feedback
{
    std::vector<FeedbackLine> lines;
    std::vector<Vec2> glyphs;
};

// Binds and draws the ship with GL in feedback mode, which rasterises nothing and instead
// reports each primitive it was given.
Feedback drawForFeedback()
{
    bindFrame(ship);
    std::vector<GLfloat> buffer(1 << 20);
    glFeedbackBuffer(static_cast<GLsizei>(buffer.size()), GL_3D_COLOR, buffer.data());
    glRenderMode(GL_FEEDBACK);
    drawScene(ship, editorView(editor));
    drawAttachments(ship, editorView(editor));
    forgetShipChanges(ship);
    const GLint size = glRenderMode(GL_RENDER);
    EXPECT_GT(size, 0) << "the feedback buffer overflowed";
    // Each vertex is x, y, z, then the colour as r, g, b, a.
    constexpr int VERTEX = 7;
    Feedback f;
    for (GLint i = 0; i < size;)
    {
        const GLenum token = static_cast<GLenum>(buffer[static_cast<std::size_t>(i)]);
        const GLfloat* v = &buffer[static_cast<std::size_t>(i) + 1];
        if (token == GL_LINE_TOKEN || token == GL_LINE_RESET_TOKEN)
        {
            f.lines.push_back(FeedbackLine{v[3], Vec2{v[0], v[1]}, Vec2{v[VERTEX], v[VERTEX + 1]}});
            i += 1 + 2 * VERTEX;
        }
        else if (token == GL_POLYGON_TOKEN)
        {
            i += 2 + static_cast<GLint>(v[0]) * VERTEX;
        }
        else if (token == GL_BITMAP_TOKEN)
        {
            f.glyphs.push_back(Vec2{v[0], v[1]});
            i += 1 + VERTEX;
        }
        else
        {
            EXPECT_EQ(token, static_cast<GLenum>(GL_POINT_TOKEN)) << "at " << i;
            i += 1 + VERTEX;
        }
    }
    return f;
}

// Window pixel (column, row counted from the bottom) that holds the world point, from the
// default view: 3 pixels per world unit, origin (-150, -150) at the bottom-left corner.
struct Pixel
{
    int x;
    int y;
};

Pixel pixelOf(double wx, double wy)
{
    return Pixel{static_cast<int>(std::floor((wx + 150.0) * 3.0)),
                 static_cast<int>(std::floor((wy + 150.0) * 3.0))};
}

// Window coordinate of a world coordinate; a grid line at an integer value lies on the
// boundary between two pixels, otherwise inside the pixel `floor` names.
double windowCoordinate(double w)
{
    return (w + 150.0) * 3.0;
}

// Middle of a fine grid cell, 1.5625 units (4.7 pixels) from the lines on either side.
double cellMiddle(int k)
{
    return k * 3.125 + 1.5625;
}

class ScenePixels : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        useShip({}, {});
        const EditorState e = editor;
        editor = EditorState{};
        editor.windowWidth = e.windowWidth;
        editor.windowHeight = e.windowHeight;
        // As a frame would, for the tests that draw only parts of one.
        setFrameView(editorView(editor));
    }

    // Binds and draws one frame as the display callback does, and reads it from the back
    // buffer before any swap: there its contents are defined (after a swap they are not, and
    // with this renderer the front buffer of a window on Xvfb reads back only black).
    void drawAndRead()
    {
        drawAndRead(editorView(editor));
    }

    void drawAndRead(const WindowView& view)
    {
        bindFrame(ship);
        drawFrame(ship, view);
        forgetShipChanges(ship);
        pixels.assign(static_cast<std::size_t>(WINDOW_SIZE) * WINDOW_SIZE * 3, 0);
        glReadBuffer(GL_BACK);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(0, 0, WINDOW_SIZE, WINDOW_SIZE, GL_RGB, GL_UNSIGNED_BYTE, pixels.data());
        ASSERT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    }

    Rgb at(int x, int y) const
    {
        const std::size_t i = (static_cast<std::size_t>(y) * WINDOW_SIZE + x) * 3;
        return Rgb{pixels[i], pixels[i + 1], pixels[i + 2]};
    }

    Rgb at(Pixel p) const
    {
        return at(p.x, p.y);
    }

    int countIn(int x0, int y0, int x1, int y1, const Rgb& colour) const
    {
        int n = 0;
        for (int y = y0; y <= y1; y++)
        {
            for (int x = x0; x <= x1; x++)
            {
                n += matches(at(x, y), colour, 0) ? 1 : 0;
            }
        }
        return n;
    }

    std::vector<unsigned char> pixels;
};

TEST_F(ScenePixels, GridOnBlack)
{
    drawAndRead();

    // Middles of grid cells across the window are background.
    for (int i : {-47, -20, -1, 0, 13, 46})
    {
        for (int j : {-47, -9, 0, 7, 46})
        {
            EXPECT_TRUE(isColour(at(pixelOf(cellMiddle(i), cellMiddle(j))), BLACK, 0))
                << i << ", " << j;
        }
    }

    // Lines whose window coordinate falls inside a pixel: that pixel holds the line, read
    // half-way between two lines of the other direction.
    const struct
    {
        double at;
        double grey;
    } inside[] = {{3.125, 0.2}, {-40.625, 0.2}, {134.375, 0.2}, {12.5, 0.4}, {-37.5, 0.4}};
    for (const auto& line : inside)
    {
        ASSERT_NE(windowCoordinate(line.at), std::floor(windowCoordinate(line.at)));
        const Rgb grey = rgbOf(line.grey, line.grey, line.grey);
        for (int k : {-30, 5, 22})
        {
            EXPECT_TRUE(isColour(at(pixelOf(line.at, cellMiddle(k))), grey, 1))
                << "x = " << line.at;
            EXPECT_TRUE(isColour(at(pixelOf(cellMiddle(k), line.at)), grey, 1))
                << "y = " << line.at;
        }
    }

    // Lines on a pixel boundary (every multiple of 25): one of the two pixels that meet
    // there holds the line and the other stays black, as do those just beyond.
    const struct
    {
        double at;
        double grey;
    } boundary[] = {{0.0, 0.7}, {50.0, 0.7}, {-100.0, 0.7}, {25.0, 0.4}, {-75.0, 0.4}};
    for (const auto& line : boundary)
    {
        const double c = windowCoordinate(line.at);
        ASSERT_EQ(c, std::floor(c));
        const int right = static_cast<int>(c);
        const Rgb grey = rgbOf(line.grey, line.grey, line.grey);
        for (int k : {-30, 5, 22})
        {
            const int across = pixelOf(cellMiddle(k), cellMiddle(k)).x;
            const bool verticalLeft = matches(at(right - 1, across), grey, 1);
            const bool verticalRight = matches(at(right, across), grey, 1);
            EXPECT_NE(verticalLeft, verticalRight) << "x = " << line.at;
            EXPECT_TRUE(isColour(at(verticalLeft ? right : right - 1, across), BLACK, 0));
            EXPECT_TRUE(isColour(at(right - 2, across), BLACK, 0));
            EXPECT_TRUE(isColour(at(right + 1, across), BLACK, 0));

            const bool horizontalBelow = matches(at(across, right - 1), grey, 1);
            const bool horizontalAbove = matches(at(across, right), grey, 1);
            EXPECT_NE(horizontalBelow, horizontalAbove) << "y = " << line.at;
            EXPECT_TRUE(isColour(at(across, horizontalBelow ? right : right - 1), BLACK, 0));
            EXPECT_TRUE(isColour(at(across, right - 2), BLACK, 0));
            EXPECT_TRUE(isColour(at(across, right + 1), BLACK, 0));
        }
    }
}

// The grid reaches far beyond any view, so its extent shows only in what GL is given. Under
// a projection of 2700 units across the 900 pixels, nothing of it is clipped: one line per
// grid coordinate from -1300 in each direction, the finest pass stopping one step short of
// 1300.
TEST_F(ScenePixels, GridIsOneBlockOf2184Lines)
{
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glOrtho(-1350.0, 1350.0, -1350.0, 1350.0, -1.0, 1.0);
    const Feedback f = drawForFeedback();
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);

    EXPECT_EQ(f.lines.size(), 2184u);
    const struct
    {
        float grey;
        int lines;
        double last;
    } passes[] = {{0.2f, 1664, 1296.875}, {0.4f, 416, 1287.5}, {0.7f, 104, 1250.0}};
    for (const auto& pass : passes)
    {
        int vertical = 0;
        int horizontal = 0;
        double lowest = INFINITY;
        double highest = -INFINITY;
        for (const FeedbackLine& l : f.lines)
        {
            if (std::fabs(l.grey - pass.grey) > 1e-4f)
            {
                continue;
            }
            // Back to world units: 3 per pixel from -1350.
            const Vec2 a{l.from.x * 3.0 - 1350.0, l.from.y * 3.0 - 1350.0};
            const Vec2 b{l.to.x * 3.0 - 1350.0, l.to.y * 3.0 - 1350.0};
            const bool isVertical = std::fabs(a.x - b.x) < 1e-2;
            vertical += isVertical ? 1 : 0;
            horizontal += isVertical ? 0 : 1;
            const double at = isVertical ? a.x : a.y;
            lowest = std::min(lowest, at);
            highest = std::max(highest, at);
            EXPECT_NEAR(std::fabs(isVertical ? b.y - a.y : b.x - a.x), 2000.0, 1e-2);
        }
        EXPECT_EQ(vertical, pass.lines / 2) << "grey " << pass.grey;
        EXPECT_EQ(horizontal, pass.lines / 2) << "grey " << pass.grey;
        EXPECT_NEAR(lowest, -1300.0, 1e-2) << "grey " << pass.grey;
        EXPECT_NEAR(highest, pass.last, 1e-2) << "grey " << pass.grey;
    }
}

// A large triangle (area 3200, full green), one of area 400 (green 0.6), a pending point on
// its own and one on a corner.
static void buildTriangles()
{
    Triangle big;
    big.corners[0] = {-100, -100};
    big.corners[1] = {-20, -100};
    big.corners[2] = {-100, -20};
    Triangle small;
    small.corners[0] = {20, -100};
    small.corners[1] = {60, -100};
    small.corners[2] = {20, -80};
    useShip({big, small});
    ship.pendingPoints = {{100, 100}, {-20, -100}};
}

// Three-quarters of the fill over what was there before.
static Rgb blended(double green, double under)
{
    return rgbOf(0.25 * under, 0.75 * green + 0.25 * under, 0.25 * under);
}

TEST_F(ScenePixels, TrianglesEdgesCornersAndPendingPoints)
{
    buildTriangles();
    drawAndRead();

    // Fill over black, inside each triangle well away from its edges.
    EXPECT_TRUE(isColour(at(pixelOf(cellMiddle(-20), cellMiddle(-23))), blended(1.0, 0.0), 2));
    EXPECT_TRUE(isColour(at(pixelOf(cellMiddle(8), cellMiddle(-31))), blended(0.6, 0.0), 2));
    // Fill over a fine line (x = -59.375) and a middle line (x = -62.5): the grid shows through.
    EXPECT_TRUE(isColour(at(pixelOf(-59.375, cellMiddle(-23))), blended(1.0, 0.2), 2));
    EXPECT_TRUE(isColour(at(pixelOf(-62.5, cellMiddle(-23))), blended(1.0, 0.4), 2));
    // Outside the triangles the grid is untouched.
    EXPECT_TRUE(isColour(at(pixelOf(cellMiddle(-20), cellMiddle(-36))), BLACK, 0));

    // Edges two pixels wide centred on a pixel boundary cover the pixel on each side: the
    // bottom edge (y = -100) and the left edge (x = -100) of the large triangle.
    const int bottom = static_cast<int>(windowCoordinate(-100.0));
    for (int k : {-25, -14})
    {
        const int x = pixelOf(cellMiddle(k), 0).x;
        EXPECT_TRUE(isColour(at(x, bottom - 1), GREEN, 0));
        EXPECT_TRUE(isColour(at(x, bottom), GREEN, 0));
        EXPECT_TRUE(isColour(at(bottom - 1, x), GREEN, 0));
        EXPECT_TRUE(isColour(at(bottom, x), GREEN, 0));
    }

    // Corners: 7-pixel red squares, over the edges and the fill.
    for (const Triangle& t : ship.triangles)
    {
        for (const Vec2& c : t.corners)
        {
            const Pixel p = pixelOf(c.x, c.y);
            EXPECT_TRUE(isColour(at(p), RED, 0));
            EXPECT_TRUE(isColour(at(p.x - 2, p.y - 2), RED, 0));
            EXPECT_TRUE(isColour(at(p.x + 2, p.y + 2), RED, 0));
        }
    }

    // A lone pending point: an 11-pixel yellow square.
    const Pixel lone = pixelOf(100, 100);
    EXPECT_TRUE(isColour(at(lone), YELLOW, 0));
    EXPECT_TRUE(isColour(at(lone.x - 4, lone.y + 4), YELLOW, 0));
    EXPECT_TRUE(isColour(at(lone.x + 4, lone.y - 4), YELLOW, 0));
    EXPECT_TRUE(isColour(at(lone.x + 8, lone.y + 3), BLACK, 0));
    // A pending point on a corner: yellow around the red corner drawn after it.
    const Pixel onCorner = pixelOf(-20, -100);
    EXPECT_TRUE(isColour(at(onCorner), RED, 0));
    EXPECT_TRUE(isColour(at(onCorner.x - 4, onCorner.y - 4), YELLOW, 0));
    EXPECT_TRUE(isColour(at(onCorner.x + 4, onCorner.y + 4), YELLOW, 0));
}

static Attachment attachmentAt(double x, double y, unsigned char key, bool modeFlag)
{
    Attachment a;
    a.x = x;
    a.y = y;
    a.key = key;
    a.modeFlag = modeFlag;
    return a;
}

TEST_F(ScenePixels, MarkersAndLabels)
{
    buildTriangles();
    ship.pendingPoints.clear();
    useShip(ship.triangles, {
                                attachmentAt(-45, -110, 'H', false), // bound to the large
                                                                     // triangle's bottom edge
                                attachmentAt(50, -112, 'H', true),   // bound to the small
                                                                     // triangle's bottom edge
                                attachmentAt(100, -50, 0, true),     // out of range, no label
                                attachmentAt(-100, 60, 0xA7, false), // out of range; a key
                                                                     // from the upper half
                            });
    drawAndRead();

    EXPECT_EQ(ship.attachments[0].triangle, 0);
    EXPECT_EQ(ship.attachments[0].edge, 0);
    EXPECT_EQ(ship.attachments[1].triangle, 1);
    EXPECT_EQ(ship.attachments[1].edge, 0);
    EXPECT_EQ(ship.attachments[2].triangle, NO_EDGE);
    EXPECT_EQ(ship.attachments[3].triangle, NO_EDGE);

    // Bound markers: edge midpoints M (-60, -100) and (40, -100), arms 20 units straight
    // down from them, out of the ship. Red without the mode flag, magenta with it.
    const struct
    {
        Vec2 mid;
        Vec2 at;
        Rgb colour;
    } bound[] = {{{-60, -100}, {-45, -110}, RED}, {{40, -100}, {50, -112}, MAGENTA}};
    for (const auto& b : bound)
    {
        // The arm, five pixels wide about the column boundary at M.x, half-way down.
        const Pixel arm = pixelOf(b.mid.x, b.mid.y - 15);
        EXPECT_TRUE(isColour(at(arm.x - 1, arm.y), b.colour, 0));
        EXPECT_TRUE(isColour(at(arm.x, arm.y), b.colour, 0));
        EXPECT_TRUE(isColour(at(arm.x + 4, arm.y), BLACK, 0));
        // Below its tip, nothing (read in the middle of a grid cell).
        const double besideArm = cellMiddle(static_cast<int>(std::floor(b.mid.x / 3.125)));
        EXPECT_TRUE(isColour(at(pixelOf(besideArm, cellMiddle(-40))), BLACK, 0));
        // The 16-pixel dot on the edge, reaching into the triangle above it.
        const Pixel m = pixelOf(b.mid.x, b.mid.y);
        EXPECT_TRUE(isColour(at(m.x + 6, m.y + 6), b.colour, 0));
        EXPECT_TRUE(isColour(at(m.x - 7, m.y - 7), b.colour, 0));
        // The cyan link, at the pixel holding the midpoint between M and A.
        const Vec2 link = midpoint(b.mid, b.at);
        EXPECT_TRUE(isColour(at(pixelOf(link.x, link.y)), CYAN, 0));
        // The cyan ring: 16 pixels with a 12-pixel black centre, so two pixels of frame.
        const Pixel a = pixelOf(b.at.x, b.at.y);
        EXPECT_TRUE(isColour(at(a.x - 8, a.y), CYAN, 0));
        EXPECT_TRUE(isColour(at(a.x - 7, a.y), CYAN, 0));
        EXPECT_TRUE(isColour(at(a.x - 6, a.y), BLACK, 0));
        EXPECT_TRUE(isColour(at(a.x, a.y - 8), CYAN, 0));
        EXPECT_TRUE(isColour(at(a.x, a.y - 7), CYAN, 0));
        EXPECT_TRUE(isColour(at(a.x - 4, a.y - 5), BLACK, 0));
        EXPECT_FALSE(matches(at(a.x - 9, a.y), CYAN, 0));
    }

    // Unbound markers: a ring in the marker colour.
    const struct
    {
        Vec2 at;
        Rgb colour;
    } loose[] = {{{100, -50}, MAGENTA}, {{-100, 60}, RED}};
    for (const auto& u : loose)
    {
        const Pixel a = pixelOf(u.at.x, u.at.y);
        EXPECT_TRUE(isColour(at(a.x - 8, a.y), u.colour, 0));
        EXPECT_TRUE(isColour(at(a.x, a.y - 8), u.colour, 0));
        EXPECT_TRUE(isColour(at(a.x - 4, a.y - 5), BLACK, 0));
    }

    // Labels: white glyph pixels inside each ring with a key, none where the key is 0.
    const Vec2 labelled[] = {{-45, -110}, {50, -112}, {-100, 60}};
    for (const Vec2& l : labelled)
    {
        const Pixel a = pixelOf(l.x, l.y);
        EXPECT_GE(countIn(a.x - 6, a.y - 6, a.x + 5, a.y + 5, WHITE), 5) << l.x << ", " << l.y;
    }
    const Pixel quiet = pixelOf(100, -50);
    EXPECT_EQ(countIn(quiet.x - 12, quiet.y - 12, quiet.x + 12, quiet.y + 12, WHITE), 0);
}

// A label starts left of its attachment by half its width and has its baseline a little
// below it; before the first reshape there is no width to scale by, and it sits on the
// attachment itself rather than at a position divided by zero.
TEST_F(ScenePixels, LabelsSitOnTheirAttachmentsEvenBeforeTheFirstReshape)
{
    useShip(ship.triangles, {attachmentAt(5, -5, 'H', true), attachmentAt(7, -3, 'Q', false)});
    const Feedback sized = drawForFeedback();
    ASSERT_EQ(sized.glyphs.size(), 2u);
    for (int i = 0; i < 2; i++)
    {
        const Attachment& a = ship.attachments[static_cast<std::size_t>(i)];
        const unsigned char text[] = {a.key, 0};
        const int width = glutBitmapLength(GLUT_BITMAP_HELVETICA_10, text);
        // The offsets take 200 world units per window width, 2/3 of a pixel per pixel here:
        // half the label's width is width / 3 pixels, and the 3.5-pixel drop is 7/3.
        EXPECT_NEAR(sized.glyphs[i].x, windowCoordinate(a.x) - width / 3.0, 1e-3);
        EXPECT_NEAR(sized.glyphs[i].y, windowCoordinate(a.y) - 7.0 / 3.0, 1e-3);
    }

    editor.windowWidth = 0;
    const Feedback unsized = drawForFeedback();
    ASSERT_EQ(unsized.glyphs.size(), 2u);
    for (int i = 0; i < 2; i++)
    {
        const Attachment& a = ship.attachments[static_cast<std::size_t>(i)];
        EXPECT_NEAR(unsized.glyphs[i].x, windowCoordinate(a.x), 1e-3);
        EXPECT_NEAR(unsized.glyphs[i].y, windowCoordinate(a.y), 1e-3);
    }
}
} // namespace

// A frame shows the world through the view it is given, whatever the editor's own view: here
// one 550 units right of and 150 above it, where every shape lies outside the editor's view.
TEST_F(ScenePixels, FramesShowTheViewTheyAreDrawnThrough)
{
    const WindowView view{ViewOrigin{400, 0}, WINDOW_SIZE, WINDOW_SIZE};
    useShip({Triangle{{Vec2{600, 200}, Vec2{650, 200}, Vec2{600, 250}}}},
            {attachmentAt(690, 290, 0, false)});
    ship.pendingPoints = {Vec2{401.0, 100.0}};
    drawAndRead(view);

    // Three pixels a world unit, from the view's lower-left corner.
    const auto pixel = [](double x, double y) {
        return Pixel{static_cast<int>((x - 400.0) * 3.0), static_cast<int>(y * 3.0)};
    };
    // The pending point just inside the left border: its 11-pixel square is cut by it.
    EXPECT_TRUE(isColour(at(pixel(401, 100)), YELLOW, 0));
    EXPECT_TRUE(isColour(at(0, pixel(401, 100).y), YELLOW, 0));
    // The triangle's corner and fill.
    EXPECT_TRUE(isColour(at(pixel(600, 200)), RED, 0));
    EXPECT_TRUE(isColour(at(pixel(610, 210)), blended(1.0, 0.0), 2));
    // The unbound marker near the top right corner: a red ring round a black centre.
    const Pixel marker = pixel(690, 290);
    EXPECT_TRUE(isColour(at(marker), BLACK, 0));
    EXPECT_TRUE(isColour(at(marker.x - 7, marker.y), RED, 0));
}

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new EditorWindowEnvironment);
    return RUN_ALL_TESTS();
}
