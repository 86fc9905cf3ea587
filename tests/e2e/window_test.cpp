#include "editor_session.h"

#include <X11/keysym.h>
#include <thread>

TEST_F(EditorTest, OneWindowTitledGantrixOf900By900AtTheOrigin)
{
    // Without a window manager the root's mapped children are the programs' top-level
    // windows, so this finds every window the editor shows, whatever its name.
    std::vector<TopLevelWindow> windows = editor.topLevelWindows();
    ASSERT_EQ(windows.size(), 1u);
    EXPECT_EQ(windows[0].name, "Gantrix");
    EXPECT_EQ(windows[0].id, editor.window());
    EXPECT_EQ(windows[0].geometry.x, 0);
    EXPECT_EQ(windows[0].geometry.y, 0);
    EXPECT_EQ(windows[0].geometry.width, 900);
    EXPECT_EQ(windows[0].geometry.height, 900);

    WindowImage image = editor.grab();
    EXPECT_EQ(image.width, 900);
    EXPECT_EQ(image.height, 900);
    EXPECT_TRUE(editor.isAlive());
}

TEST(EditorCommandLine, ExtraWordsAreAcceptedAndIgnored)
{
    EditorSession editor;
    // Digits and the ship file's name must not act like typed commands either.
    ASSERT_TRUE(editor.start({"--no-such-option", "extra", "words", "1", "0", "ship.hul"}));

    WindowGeometry g = editor.windowGeometry();
    EXPECT_EQ(editor.windowTitle(), "Gantrix");
    EXPECT_EQ(g.x, 0);
    EXPECT_EQ(g.y, 0);
    EXPECT_EQ(g.width, 900);
    EXPECT_EQ(g.height, 900);
    EXPECT_TRUE(editor.waitForFrames(3));
    EXPECT_TRUE(editor.isAlive());
    EXPECT_EQ(editor.stdoutText(), "");
    EXPECT_FALSE(editor.workFileExists("ship.hul"));
}

TEST_F(EditorTest, KeepsPresentingFramesWithoutInput)
{
    // The software rasteriser may round the very first frames differently from the rest.
    ASSERT_TRUE(editor.waitForFrames(3));
    WindowImage first = editor.grab();
    std::this_thread::sleep_for(Millis(300));
    WindowImage second = editor.grab();
    ASSERT_EQ(first.width, 900);
    ASSERT_EQ(second.width, 900);
    // Nothing changed in between, so the picture is the same.
    EXPECT_TRUE(first.rgb == second.rgb);

    // Frames keep coming on their own, with no input and no exposure to prompt them.
    EXPECT_TRUE(editor.waitForFrames(10));
    EXPECT_TRUE(editor.isAlive());
}

TEST_F(EditorTest, SurvivesABurstOfRealInput)
{
    // Clicks of all three buttons, spread over the window and its corners.
    for (int button = 1; button <= 3; ++button)
    {
        ASSERT_TRUE(editor.click(button, 450, 450));
        ASSERT_TRUE(editor.click(button, 0, 0));
        ASSERT_TRUE(editor.click(button, 899, 899));
        ASSERT_TRUE(editor.click(button, 123, 777));
    }

    // Drags with each button, one of them leaving the window while the button is held.
    ASSERT_TRUE(editor.drag(1, 300, 300, 600, 500));
    ASSERT_TRUE(editor.drag(3, 600, 500, 200, 700));
    ASSERT_TRUE(editor.drag(2, 100, 100, 800, 800));
    ASSERT_TRUE(editor.drag(1, 450, 450, 1100, 1000, 15));
    ASSERT_TRUE(editor.drag(1, 800, 50, 10, 880, 20));

    // Pans: Shift + left drags in several directions, with odd pixel steps.
    ASSERT_TRUE(editor.keyDown(XK_Shift_L));
    ASSERT_TRUE(editor.drag(1, 450, 450, 603, 300, 7));
    ASSERT_TRUE(editor.drag(1, 450, 450, 297, 611, 9));
    ASSERT_TRUE(editor.keyUp(XK_Shift_L));

    // Control + left and right clicks, and a Control + left drag.
    ASSERT_TRUE(editor.keyDown(XK_Control_L));
    ASSERT_TRUE(editor.click(1, 450, 450));
    ASSERT_TRUE(editor.click(3, 460, 440));
    ASSERT_TRUE(editor.click(3, 200, 200));
    ASSERT_TRUE(editor.drag(1, 460, 440, 500, 400));
    ASSERT_TRUE(editor.keyUp(XK_Control_L));

    // Right clicks that can complete triangles, then keys: letters, Tab, Shift + letter, the
    // section sign (not on the keyboard map), Escape, an arrow and a function key.
    ASSERT_TRUE(editor.click(3, 450, 450));
    ASSERT_TRUE(editor.click(3, 600, 450));
    ASSERT_TRUE(editor.click(3, 450, 300));
    ASSERT_TRUE(editor.click(3, 300, 300));
    ASSERT_TRUE(editor.keyTap(XK_a));
    ASSERT_TRUE(editor.keyTap(XK_Tab));
    ASSERT_TRUE(editor.keyDown(XK_Tab));
    ASSERT_TRUE(editor.keyTap(XK_z));
    ASSERT_TRUE(editor.keyUp(XK_Tab));
    ASSERT_TRUE(editor.keyDown(XK_Shift_L));
    ASSERT_TRUE(editor.keyTap(XK_b));
    ASSERT_TRUE(editor.keyUp(XK_Shift_L));
    ASSERT_TRUE(editor.keyTap(XK_section));
    ASSERT_TRUE(editor.keyTap(XK_section));
    ASSERT_TRUE(editor.keyTap(XK_section));
    ASSERT_TRUE(editor.keyTap(XK_Escape));
    ASSERT_TRUE(editor.keyTap(XK_Left));
    ASSERT_TRUE(editor.keyTap(XK_F5));

    // Still running, still the same window, still presenting frames.
    ASSERT_TRUE(editor.waitForFrames(3));
    EXPECT_TRUE(editor.isAlive());
    EXPECT_EQ(editor.windowTitle(), "Gantrix");
    WindowGeometry g = editor.windowGeometry();
    EXPECT_EQ(g.width, 900);
    EXPECT_EQ(g.height, 900);
    EXPECT_EQ(editor.grab().width, 900);
    // None of that input is a file command, so nothing was saved or loaded.
    EXPECT_EQ(editor.stdoutText(), "");
    EXPECT_FALSE(editor.workFileExists("ship.hul"));
}
