#include "editor_session.h"

#include <X11/keysym.h>
#include <algorithm>

namespace
{
constexpr int RIGHT = 3;
} // namespace

TEST_F(EditorTest, HandWrittenFileLoadsAndSavesInTheWriterLayout)
{
    ASSERT_TRUE(editor.writeWorkFile("ship.hul", HAND_WRITTEN));
    ASSERT_TRUE(editor.keyTap(XK_0));
    ASSERT_TRUE(editor.waitForStdout("LOADED!"));
    ASSERT_TRUE(editor.waitForFrames(2)); // the binding of the loaded attachment
    ASSERT_TRUE(editor.keyTap(XK_1));
    ASSERT_TRUE(editor.waitForStdout("SAVED!"));
    EXPECT_EQ(editor.readWorkFile("ship.hul"), WRITER_LAYOUT);
    EXPECT_EQ(editor.stdoutText(), "LOADED!\nSAVED!\n") << "status lines reach a pipe at once";
    EXPECT_EQ(editor.stderrText(), "");
}

TEST_F(EditorTest, FailedLoadsKeepTheShipAndSayWhy)
{
    // Build a triangle and leave one point pending.
    ASSERT_TRUE(editor.click(RIGHT, 450, 450));
    ASSERT_TRUE(editor.click(RIGHT, 525, 450));
    ASSERT_TRUE(editor.click(RIGHT, 450, 375));
    ASSERT_TRUE(editor.click(RIGHT, 600, 600));

    // No file at all.
    ASSERT_TRUE(editor.keyTap(XK_0));
    // A damaged file: the second triangle line stops early.
    ASSERT_TRUE(editor.waitForFrames(2));
    ASSERT_TRUE(editor.writeWorkFile("ship.hul", "2\r\n0 0 1 0 0 1 0\r\n5 5 6\r\n"));
    ASSERT_TRUE(editor.keyTap(XK_0));
    // The pending point survived both: two more clicks complete a second triangle.
    ASSERT_TRUE(editor.click(RIGHT, 675, 600));
    ASSERT_TRUE(editor.click(RIGHT, 600, 525));
    ASSERT_TRUE(editor.keyTap(XK_1));
    ASSERT_TRUE(editor.waitForStdout("SAVED!"));

    EXPECT_EQ(editor.stdoutText(), "SAVED!\n") << "no LOADED! for a failed load";
    EXPECT_EQ(editor.readWorkFile("ship.hul"),
              "2\r\n"
              "-0.000000 -0.000000 25.000000 -0.000000 -0.000000 25.000000 3.125000\r\n"
              "50.000000 -50.000000 75.000000 -50.000000 50.000000 -25.000000 3.125000\r\n"
              "0\r\n");
    const std::string errors = editor.stderrText();
    EXPECT_NE(errors.find("ship.hul"), std::string::npos) << errors;
    // One line for each failed load.
    EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 2) << errors;
    EXPECT_TRUE(editor.isAlive());
}
