#include "editor_session.h"

#include <X11/keysym.h>

// Counts the pixels of `after` that differ from `before` moved by (shiftX, shiftY), over the
// part of the window that both pictures cover, kept clear of the window's edges.
static int shiftedMismatches(const WindowImage& before, const WindowImage& after, int shiftX,
                             int shiftY)
{
    const int margin = 10;
    int mismatches = 0;
    for (int y = margin; y < after.height - margin; ++y)
    {
        for (int x = margin; x < after.width - margin; ++x)
        {
            int fromX = x - shiftX;
            int fromY = y - shiftY;
            if (fromX < margin || fromY < margin || fromX >= before.width - margin ||
                fromY >= before.height - margin)
            {
                continue;
            }
            if (after.pixel(x, y) != before.pixel(fromX, fromY))
            {
                ++mismatches;
            }
        }
    }
    return mismatches;
}

static int distinctColours(const WindowImage& image)
{
    std::vector<Rgb> seen;
    for (int y = 0; y < image.height && seen.size() < 3; y += 7)
    {
        for (int x = 0; x < image.width && seen.size() < 3; x += 7)
        {
            Rgb c = image.pixel(x, y);
            bool known = false;
            for (const Rgb& s : seen)
            {
                known = known || s == c;
            }
            if (!known)
            {
                seen.push_back(c);
            }
        }
    }
    return static_cast<int>(seen.size());
}

TEST_F(EditorTest, ShiftLeftDragPansThePictureWithThePointer)
{
    // A 900-pixel window shows 300 world units: 3 pixels per unit.
    ASSERT_TRUE(editor.waitForFrames(3));
    WindowImage before = editor.grab();
    ASSERT_EQ(before.width, 900);
    // A blank picture would match any shift; the grid gives the comparison something to see.
    ASSERT_GE(distinctColours(before), 2);

    // Ten motion steps of (+7, -5) pixels. Each step pans by half its travel, truncated:
    // 3 units right and 2 units up, so the odd remainders are dropped, not carried. The
    // picture follows the pointer by 10 * 3 * 3 = 90 pixels right and 10 * 2 * 3 = 60 up.
    ASSERT_TRUE(editor.keyDown(XK_Shift_L));
    ASSERT_TRUE(editor.drag(1, 450, 450, 520, 400, 10));
    ASSERT_TRUE(editor.keyUp(XK_Shift_L));
    ASSERT_TRUE(editor.waitForFrames(2));
    WindowImage panned = editor.grab();
    ASSERT_EQ(panned.width, 900);
    EXPECT_EQ(shiftedMismatches(before, panned, 90, -60), 0);
    // The pan is not the identity, nor the untruncated 105 by 75 pixels.
    EXPECT_GT(shiftedMismatches(before, panned, 0, 0), 0);
    EXPECT_GT(shiftedMismatches(before, panned, 105, -75), 0);

    // Without Shift a left drag over empty space does not pan.
    ASSERT_TRUE(editor.drag(1, 450, 450, 520, 400, 10));
    ASSERT_TRUE(editor.waitForFrames(2));
    EXPECT_EQ(shiftedMismatches(panned, editor.grab(), 0, 0), 0);
    EXPECT_TRUE(editor.isAlive());
}
