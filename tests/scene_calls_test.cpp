// Links the drawing code against recording versions of the GL and GLUT calls it makes,
// then checks one frame's calls. This binary must not link libGL or libglut: these
// definitions take their place, and a call to anything else fails to link.
#include "model/ship.h"
#include "render/resolve_grid.h"
#include "render/scene.h"

#include <GL/freeglut.h>
#include <GL/gl.h>

#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace
{
std::vector<std::string> calls;
std::vector<Vec2> rasterPositions;

// Shortest plain decimal that reads back as the same float, so 0.2f shows as "0.2" and a
// value that is off in its last bit shows all its digits.
std::string num(float v)
{
    char text[32];
    for (int precision = 1; precision <= 9; precision++)
    {
        std::snprintf(text, sizeof text, "%.*g", precision, static_cast<double>(v));
        float back = 0.0f;
        std::sscanf(text, "%f", &back);
        if (back == v && std::strchr(text, 'e') == nullptr)
        {
            break;
        }
    }
    return text;
}

std::string enumName(GLenum e)
{
    switch (e)
    {
        case GL_LINES:
            return "LINES";
        case GL_POINTS:
            return "POINTS";
        case GL_TRIANGLES:
            return "TRIANGLES";
        case GL_BLEND:
            return "BLEND";
        case GL_SRC_ALPHA:
            return "SRC_ALPHA";
        case GL_ONE_MINUS_SRC_ALPHA:
            return "ONE_MINUS_SRC_ALPHA";
        case GL_COLOR_BUFFER_BIT:
            return "COLOR_BUFFER_BIT";
        default:
            return "enum " + std::to_string(e);
    }
}

std::string fontName(void* font)
{
    return font == GLUT_BITMAP_HELVETICA_10 ? "HELVETICA_10" : "other font";
}

void record(const std::string& call)
{
    calls.push_back(call);
}
} // namespace

void* glutBitmapHelvetica10 = nullptr;

void glClear(GLbitfield mask)
{
    record("glClear " + enumName(mask));
}
void glBegin(GLenum mode)
{
    record("glBegin " + enumName(mode));
}
void glEnd()
{
    record("glEnd");
}
void glVertex2f(GLfloat x, GLfloat y)
{
    record("v " + num(x) + " " + num(y));
}
void glColor3f(GLfloat r, GLfloat g, GLfloat b)
{
    record("glColor3f " + num(r) + " " + num(g) + " " + num(b));
}
void glColor4f(GLfloat r, GLfloat g, GLfloat b, GLfloat a)
{
    record("glColor4f " + num(r) + " " + num(g) + " " + num(b) + " " + num(a));
}
void glLineWidth(GLfloat width)
{
    record("glLineWidth " + num(width));
}
void glPointSize(GLfloat size)
{
    record("glPointSize " + num(size));
}
void glBlendFunc(GLenum s, GLenum d)
{
    record("glBlendFunc " + enumName(s) + " " + enumName(d));
}
void glEnable(GLenum cap)
{
    record("glEnable " + enumName(cap));
}
void glDisable(GLenum cap)
{
    record("glDisable " + enumName(cap));
}
// The position is checked as a number; the sequence only notes that it was set.
void glRasterPos2f(GLfloat x, GLfloat y)
{
    rasterPositions.push_back(Vec2{x, y});
    record("glRasterPos2f");
}
// Every glyph is taken as 6 pixels wide.
int glutBitmapLength(void* font, const unsigned char* text)
{
    EXPECT_EQ(fontName(font), "HELVETICA_10");
    int length = 0;
    for (const unsigned char* c = text; *c != 0; c++)
    {
        length += 6;
    }
    return length;
}
void glutBitmapCharacter(void* font, int character)
{
    record("glutBitmapCharacter " + fontName(font) + " " + std::to_string(character));
}

class SceneCalls : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ship = Ship{};
        editor = EditorState{};
        editor.windowWidth = 900;
        editor.windowHeight = 900;
        calls.clear();
        rasterPositions.clear();
    }

    // Draws one frame; checks the grid block that opens it and returns the calls after it.
    static std::vector<std::string> drawFrameAfterGrid()
    {
        bindAttachments(ship);
        drawScene(ship);
        EXPECT_GE(calls.size(), 3u);
        EXPECT_EQ(calls[0], "glClear COLOR_BUFFER_BIT");
        EXPECT_EQ(calls[1], "glLineWidth 1");
        EXPECT_EQ(calls[2], "glBegin LINES");

        // Pass by pass: the grey, then the vertical lines, then the horizontal ones.
        const struct
        {
            const char* grey;
            int linesPerDirection;
            const char* first;
            const char* last;
        } passes[] = {{"0.2", 832, "-1300", "1296.875"},
                      {"0.4", 208, "-1300", "1287.5"},
                      {"0.7", 52, "-1300", "1250"}};
        std::size_t i = 3;
        int lines = 0;
        for (const auto& pass : passes)
        {
            EXPECT_EQ(calls[i],
                      std::string("glColor3f ") + pass.grey + " " + pass.grey + " " + pass.grey);
            i++;
            const std::size_t vertical = i;
            const std::size_t horizontal = i + 2 * pass.linesPerDirection;
            EXPECT_EQ(calls[vertical], std::string("v ") + pass.first + " -1000");
            EXPECT_EQ(calls[vertical + 1], std::string("v ") + pass.first + " 1000");
            EXPECT_EQ(calls[horizontal - 2], std::string("v ") + pass.last + " -1000");
            EXPECT_EQ(calls[horizontal - 1], std::string("v ") + pass.last + " 1000");
            EXPECT_EQ(calls[horizontal], std::string("v -1000 ") + pass.first);
            EXPECT_EQ(calls[horizontal + 1], std::string("v 1000 ") + pass.first);
            i = horizontal + 2 * pass.linesPerDirection;
            EXPECT_EQ(calls[i - 2], std::string("v -1000 ") + pass.last);
            EXPECT_EQ(calls[i - 1], std::string("v 1000 ") + pass.last);
            for (std::size_t k = vertical; k < i; k++)
            {
                EXPECT_EQ(calls[k].rfind("v ", 0), 0u) << "at call " << k << ": " << calls[k];
            }
            lines += 2 * pass.linesPerDirection;
        }
        EXPECT_EQ(lines, 2184);
        EXPECT_EQ(calls[i], "glEnd");
        return std::vector<std::string>(calls.begin() + static_cast<long>(i) + 1, calls.end());
    }
};

TEST_F(SceneCalls, EmptyShipDrawsGridAndEmptyBlocks)
{
    const std::vector<std::string> rest = drawFrameAfterGrid();
    const std::vector<std::string> expected = {
        "glBlendFunc SRC_ALPHA ONE_MINUS_SRC_ALPHA",
        "glEnable BLEND",
        "glBegin TRIANGLES",
        "glEnd",
        "glDisable BLEND",
        "glLineWidth 2",
        "glColor4f 0 1 0 1",
        "glBegin LINES",
        "glEnd",
        "glPointSize 11",
        "glColor3f 1 1 0",
        "glBegin POINTS",
        "glEnd",
        "glPointSize 7",
        "glColor3f 1 0 0",
        "glBegin POINTS",
        "glEnd",
        "glColor3f 1 1 1",
    };
    EXPECT_EQ(rest, expected);

    // No grid line at 1300: the loop stops when t reaches 7.
    for (const std::string& c : calls)
    {
        EXPECT_NE(c, "v 1300 -1000");
        EXPECT_NE(c, "v -1000 1300");
    }
}

TEST_F(SceneCalls, SmallShipFrameOrderAndState)
{
    Triangle t;
    t.corners[0] = {0, 0};
    t.corners[1] = {10, 0};
    t.corners[2] = {0, 10};
    ship.triangles.push_back(t); // area 50: green 0.25
    ship.pendingPoints.push_back({20, 20});

    Attachment bound; // nearest edge 0, M = (5, 0), arm tip (5, -20)
    bound.key = 'H';
    bound.x = 5;
    bound.y = -5;
    bound.modeFlag = true;
    ship.attachments.push_back(bound);

    Attachment unbound; // out of range of every midpoint; key 0 draws no text
    unbound.x = 100;
    unbound.y = 100;
    unbound.triangle = 0; // stale values from an earlier frame
    unbound.edge = 2;
    ship.attachments.push_back(unbound);

    const std::vector<std::string> rest = drawFrameAfterGrid();
    const std::vector<std::string> expected = {
        // Fill, blended.
        "glBlendFunc SRC_ALPHA ONE_MINUS_SRC_ALPHA",
        "glEnable BLEND",
        "glBegin TRIANGLES",
        "glColor4f 0 0.25 0 0.75",
        "v 0 0",
        "v 10 0",
        "v 0 10",
        "glEnd",
        "glDisable BLEND",
        // Edges a-b, b-c, c-a.
        "glLineWidth 2",
        "glColor4f 0 1 0 1",
        "glBegin LINES",
        "v 0 0",
        "v 10 0",
        "v 10 0",
        "v 0 10",
        "v 0 10",
        "v 0 0",
        "glEnd",
        // Pending points, then corners over them.
        "glPointSize 11",
        "glColor3f 1 1 0",
        "glBegin POINTS",
        "v 20 20",
        "glEnd",
        "glPointSize 7",
        "glColor3f 1 0 0",
        "glBegin POINTS",
        "v 0 0",
        "v 10 0",
        "v 0 10",
        "glEnd",
        "glColor3f 1 1 1",
        // Bound marker with the mode flag: cyan link, magenta arm and edge dot, cyan ring.
        "glColor3f 0 1 1",
        "glLineWidth 2",
        "glBegin LINES",
        "v 5 0",
        "v 5 -5",
        "glEnd",
        "glColor3f 1 0 1",
        "glLineWidth 5",
        "glBegin LINES",
        "v 5 0",
        "v 5 -20",
        "glEnd",
        "glColor3f 1 0 1",
        "glPointSize 16",
        "glBegin POINTS",
        "v 5 0",
        "glEnd",
        "glColor3f 0 1 1",
        "glPointSize 16",
        "glBegin POINTS",
        "v 5 -5",
        "glEnd",
        "glColor3f 0 0 0",
        "glPointSize 12",
        "glBegin POINTS",
        "v 5 -5",
        "glEnd",
        "glColor3f 1 1 1",
        "glRasterPos2f",
        "glutBitmapCharacter HELVETICA_10 72",
        // Unbound marker without the flag: a red ring, and a label with no text.
        "glColor3f 1 0 0",
        "glPointSize 16",
        "glBegin POINTS",
        "v 100 100",
        "glEnd",
        "glColor3f 0 0 0",
        "glPointSize 12",
        "glBegin POINTS",
        "v 100 100",
        "glEnd",
        "glColor3f 1 1 1",
        "glRasterPos2f",
    };
    EXPECT_EQ(rest, expected);

    // The label starts 100 * width / W world units left of the attachment and its baseline
    // lies 700 / W below it; W = 900 and 'H' is 6 pixels wide here.
    ASSERT_EQ(rasterPositions.size(), 2u);
    EXPECT_NEAR(rasterPositions[0].x, 5.0 - 600.0 / 900.0, 1e-5);
    EXPECT_NEAR(rasterPositions[0].y, -5.0 - 700.0 / 900.0, 1e-5);
    EXPECT_NEAR(rasterPositions[1].x, 100.0, 1e-5);
    EXPECT_NEAR(rasterPositions[1].y, 100.0 - 700.0 / 900.0, 1e-5);

    // The frame wrote the binding into both attachments.
    EXPECT_EQ(ship.attachments[0].triangle, 0);
    EXPECT_EQ(ship.attachments[0].edge, 0);
    EXPECT_EQ(ship.attachments[1].triangle, NO_EDGE);
    EXPECT_EQ(ship.attachments[1].edge, NO_EDGE);
}

TEST_F(SceneCalls, FillGreenFollowsAreaUnclamped)
{
    Triangle small; // area 400: green 0.6
    small.corners[0] = {0, 0};
    small.corners[1] = {40, 0};
    small.corners[2] = {0, 20};
    Triangle large; // area 1250: green 1.45, left for the pipeline to clamp
    large.corners[0] = {-50, 0};
    large.corners[1] = {0, 0};
    large.corners[2] = {-50, 50};
    Triangle flat; // degenerate: green 0.2
    flat.corners[0] = {0, 0};
    flat.corners[1] = {10, 0};
    flat.corners[2] = {20, 0};
    ship.triangles = {small, large, flat};

    bindAttachments(ship);
    drawScene(ship);
    std::vector<std::string> fills;
    for (const std::string& c : calls)
    {
        if (c.rfind("glColor4f 0 ", 0) == 0 && c.size() > 12 && c.substr(c.size() - 5) == " 0.75")
        {
            fills.push_back(c);
        }
    }
    const std::vector<std::string> expected = {"glColor4f 0 0.6 0 0.75", "glColor4f 0 1.45 0 0.75",
                                               "glColor4f 0 0.2 0 0.75"};
    EXPECT_EQ(fills, expected);
}

TEST_F(SceneCalls, LabelBeforeFirstReshapeStaysOnAttachment)
{
    // No window size yet: the label cannot be offset in pixels, so it goes at the
    // attachment itself rather than to a position divided by zero.
    editor.windowWidth = 0;
    Attachment a;
    a.key = 'Q';
    a.x = 7;
    a.y = -3;
    ship.attachments.push_back(a);
    bindAttachments(ship);
    drawScene(ship);
    ASSERT_EQ(rasterPositions.size(), 1u);
    EXPECT_EQ(rasterPositions[0].x, 7.0);
    EXPECT_EQ(rasterPositions[0].y, -3.0);
}

// Keys from the upper half of the character set still get their label drawn.
TEST_F(SceneCalls, UpperHalfKeysReachTheFontUnsigned)
{
    Attachment a;
    a.key = 0xA7;
    ship.attachments.push_back(a);
    bindAttachments(ship);
    drawScene(ship);
    int drawn = 0;
    for (const std::string& c : calls)
    {
        if (c.rfind("glutBitmapCharacter", 0) == 0)
        {
            EXPECT_EQ(c, "glutBitmapCharacter HELVETICA_10 167");
            drawn++;
        }
    }
    EXPECT_EQ(drawn, 1);
}
