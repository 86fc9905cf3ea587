#include "editor_session.h"

#include <X11/keysym.h>

// The default view shows world (-150..150) on 900 pixels: pixel (x, y) is world
// (x / 3 - 150, 150 - y / 3), so these helpers give the pixel of a world position.
static int px(double wx)
{
    return static_cast<int>((wx + 150.0) * 3.0);
}
static int py(double wy)
{
    return static_cast<int>((150.0 - wy) * 3.0);
}

namespace
{
constexpr int LEFT = 1;
constexpr int MIDDLE = 2;
constexpr int RIGHT = 3;

class EditingTest : public EditorTest
{
  protected:
    // Presses '1' and waits for its status line: everything typed or clicked before has
    // been handled by then, and the file holds the ship as the user sees it.
    std::string save()
    {
        saves++;
        EXPECT_TRUE(editor.keyTap(XK_1));
        EXPECT_TRUE(editor.waitForStdout("SAVED!", saves));
        return editor.readWorkFile("ship.hul");
    }

    void rightClickAt(double wx, double wy)
    {
        ASSERT_TRUE(editor.click(RIGHT, px(wx), py(wy)));
    }

    // A left drag through the given world positions, one motion event each.
    void leftDragThrough(std::initializer_list<std::pair<double, double>> path)
    {
        auto it = path.begin();
        ASSERT_TRUE(editor.moveTo(px(it->first), py(it->second)));
        ASSERT_TRUE(editor.button(LEFT, true));
        for (++it; it != path.end(); ++it)
        {
            ASSERT_TRUE(editor.moveTo(px(it->first), py(it->second)));
        }
        ASSERT_TRUE(editor.button(LEFT, false));
    }

    int saves = 0;
};

// A click that snaps to 0 gives -0: the snap rounds half steps down with ceil(v - 0.5),
// which keeps the sign of a small negative intermediate. The file shows it as it is.
const std::string ONE_TRIANGLE_AT_ORIGIN =
    "1\r\n-0.000000 -0.000000 25.000000 -0.000000 -0.000000 25.000000 3.125000\r\n0\r\n";
} // namespace

TEST_F(EditingTest, RightClicksMakeTrianglesInEitherWinding)
{
    rightClickAt(0, 0);
    rightClickAt(25, 0);
    rightClickAt(0, 25);
    EXPECT_EQ(save(), ONE_TRIANGLE_AT_ORIGIN);

    // Clicked clockwise, stored counter-clockwise; off-grid clicks land on the grid.
    rightClickAt(50.3, 0.9);
    rightClickAt(49.0, 25.4);
    rightClickAt(76.0, -1.0);
    // A fourth click starts the next triangle, which the file does not hold yet.
    rightClickAt(100, 100);
    EXPECT_EQ(save(), "2\r\n"
                      "-0.000000 -0.000000 25.000000 -0.000000 -0.000000 25.000000 3.125000\r\n"
                      "50.000000 -0.000000 75.000000 -0.000000 50.000000 25.000000 3.125000\r\n"
                      "0\r\n");

    // The section sign takes back the pending point; the next three clicks make a triangle.
    ASSERT_TRUE(editor.keyTap(XK_section));
    rightClickAt(-50, 0);
    rightClickAt(-25, 0);
    rightClickAt(-50, 25);
    const std::string file = save();
    EXPECT_NE(file.find("-50.000000 -0.000000 -25.000000 -0.000000 -50.000000 25.000000 3.125000"),
              std::string::npos)
        << file;
    EXPECT_EQ(file.find("100.000000"), std::string::npos) << file;
    EXPECT_TRUE(editor.isAlive());
}

TEST_F(EditingTest, LeftDragMovesSharedCornerAndControlMovesOne)
{
    // Two triangles sharing the corner (25, 0).
    rightClickAt(0, 0);
    rightClickAt(25, 0);
    rightClickAt(0, 25);
    rightClickAt(25, 0);
    rightClickAt(50, 0);
    rightClickAt(25, 25);

    leftDragThrough({{25, 0}, {25, -6.25}, {25, -12.5}, {25, -25}});
    EXPECT_EQ(save(), "2\r\n"
                      "-0.000000 -0.000000 25.000000 -25.000000 -0.000000 25.000000 3.125000\r\n"
                      "25.000000 -25.000000 50.000000 -0.000000 25.000000 25.000000 6.250000\r\n"
                      "0\r\n");

    // Control pressed after the left press: only the first triangle's corner moves on.
    ASSERT_TRUE(editor.moveTo(px(25), py(-25)));
    ASSERT_TRUE(editor.button(LEFT, true));
    ASSERT_TRUE(editor.keyDown(XK_Control_L));
    ASSERT_TRUE(editor.moveTo(px(25), py(-37.5)));
    ASSERT_TRUE(editor.moveTo(px(25), py(-50)));
    ASSERT_TRUE(editor.button(LEFT, false));
    ASSERT_TRUE(editor.keyUp(XK_Control_L));
    EXPECT_EQ(save(), "2\r\n"
                      "-0.000000 -0.000000 25.000000 -50.000000 -0.000000 25.000000 3.125000\r\n"
                      "25.000000 -25.000000 50.000000 -0.000000 25.000000 25.000000 6.250000\r\n"
                      "0\r\n");
}

TEST_F(EditingTest, DragFromEmptyGridPicksUpTheCornerItReachesAndMiddleDoesNothing)
{
    rightClickAt(0, 0);
    rightClickAt(25, 0);
    rightClickAt(0, 25);
    // Starts on empty grid, passes over the corner (25, 0), then carries it up.
    leftDragThrough({{50, 0}, {37.5, 0}, {25, 0}, {25, 12.5}, {25, 25}});
    const std::string moved = save();
    EXPECT_EQ(moved,
              "1\r\n-0.000000 -0.000000 25.000000 25.000000 -0.000000 25.000000 3.125000\r\n0\r\n");

    // The middle button neither adds points nor drags corners.
    ASSERT_TRUE(editor.click(MIDDLE, px(0), py(0)));
    ASSERT_TRUE(editor.drag(MIDDLE, px(0), py(0), px(-40), py(-40), 8));
    ASSERT_TRUE(editor.click(RIGHT, px(60), py(60)));
    ASSERT_TRUE(editor.keyTap(XK_section)); // only the right click's point is pending
    ASSERT_TRUE(editor.click(MIDDLE, px(60), py(60)));
    rightClickAt(60, 60);
    rightClickAt(70, 60);
    EXPECT_EQ(save(), moved) << "two pending points only";
}

TEST_F(EditingTest, ShiftLeftDragPansSoLaterClicksLandInThePannedWorld)
{
    // Even steps of 6 pixels pan 3 world units each, however the motion events are grouped.
    ASSERT_TRUE(editor.keyDown(XK_Shift_L));
    ASSERT_TRUE(editor.drag(LEFT, 450, 450, 510, 450, 10));
    ASSERT_TRUE(editor.keyUp(XK_Shift_L));
    // The view origin is now (-180, -150): pixel (450, 450) is world (-30, 0).
    ASSERT_TRUE(editor.click(RIGHT, 450, 450));
    ASSERT_TRUE(editor.click(RIGHT, 525, 450));
    ASSERT_TRUE(editor.click(RIGHT, 450, 375));
    EXPECT_EQ(
        save(),
        "1\r\n-31.250000 -0.000000 -6.250000 -0.000000 -31.250000 25.000000 3.125000\r\n0\r\n");
}

TEST_F(EditingTest, AttachmentsTakeKeyAndFlagAndFollowTheirDrag)
{
    rightClickAt(0, 0);
    rightClickAt(25, 0);
    rightClickAt(0, 25);

    // Shift + q makes 'Q' the key; Tab clears the flag, which starts set.
    ASSERT_TRUE(editor.keyDown(XK_Shift_L));
    ASSERT_TRUE(editor.keyTap(XK_q));
    ASSERT_TRUE(editor.keyUp(XK_Shift_L));
    ASSERT_TRUE(editor.keyTap(XK_Tab));
    ASSERT_TRUE(editor.keyDown(XK_Control_L));
    ASSERT_TRUE(editor.click(RIGHT, 480, 470)); // world (10, -6.67), not snapped
    ASSERT_TRUE(editor.keyUp(XK_Control_L));

    // Holding Tab while typing two characters toggles three times: Tab itself, z and y.
    ASSERT_TRUE(editor.keyDown(XK_Tab));
    ASSERT_TRUE(editor.keyTap(XK_z));
    ASSERT_TRUE(editor.keyTap(XK_y));
    ASSERT_TRUE(editor.keyUp(XK_Tab));
    ASSERT_TRUE(editor.keyDown(XK_Control_L));
    ASSERT_TRUE(editor.click(RIGHT, px(-100), py(100))); // far from every edge
    ASSERT_TRUE(editor.keyUp(XK_Control_L));
    ASSERT_TRUE(editor.waitForFrames(2)); // the binding is made by the next frames

    // Bound to edge 0 of triangle 0 (midpoint (12.5, 0) is nearest); the far one unbound.
    EXPECT_EQ(save(),
              ONE_TRIANGLE_AT_ORIGIN.substr(0, ONE_TRIANGLE_AT_ORIGIN.size() - 3) +
                  "2\r\n10.000000 -6.666667 81 0 0 0\r\n-100.000000 100.000000 81 9999 9999 1\r\n");

    // Control + left drag picks the nearest attachment and moves it along the grid.
    ASSERT_TRUE(editor.keyDown(XK_Control_L));
    ASSERT_TRUE(editor.drag(LEFT, 480, 470, px(0), py(-12.5), 6));
    ASSERT_TRUE(editor.keyUp(XK_Control_L));
    ASSERT_TRUE(editor.waitForFrames(2));
    const std::string file = save();
    EXPECT_NE(file.find("\r\n-0.000000 -12.500000 81 0 0 0\r\n"), std::string::npos) << file;
}

// Tab, Shift and Control are followed by their keys, not by the characters they give: a Tab
// released while Shift is held (it goes up as another keysym) is up, and Control + I, which
// gives Tab's character, is not Tab. Every attachment here keeps the flag the one Tab gave.
TEST_F(EditingTest, TabIsTheKeyNotItsCharacter)
{
    ASSERT_TRUE(editor.keyDown(XK_Tab));
    ASSERT_TRUE(editor.keyDown(XK_Shift_L));
    ASSERT_TRUE(editor.keyUp(XK_Tab));
    ASSERT_TRUE(editor.keyUp(XK_Shift_L));
    const double spots[3] = {-100, 0, 100};
    for (double wx : spots)
    {
        ASSERT_TRUE(editor.keyDown(XK_Control_L));
        ASSERT_TRUE(editor.click(RIGHT, px(wx), py(100)));
        ASSERT_TRUE(editor.keyTap(XK_i));
        ASSERT_TRUE(editor.keyUp(XK_Control_L));
        ASSERT_TRUE(editor.keyTap(XK_a));
    }
    EXPECT_EQ(save(), "0\r\n3\r\n-100.000000 100.000000 0 9999 9999 0\r\n"
                      "0.000000 100.000000 0 9999 9999 0\r\n"
                      "100.000000 100.000000 0 9999 9999 0\r\n");
}
