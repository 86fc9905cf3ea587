#include "editor_session.h"
#include "tests/small_disk.h"
#include "tests/test_support.h"

#include <X11/keysym.h>
#include <algorithm>
#include <filesystem>

namespace fs = std::filesystem;

namespace
{
constexpr int RIGHT = 3;

int lineCount(const std::string& text)
{
    return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

// The triangle of three right clicks at world (0, 0), (25, 0) and (0, 25).
const std::string ONE_TRIANGLE =
    "1\r\n-0.000000 -0.000000 25.000000 -0.000000 -0.000000 25.000000 3.125000\r\n0\r\n";
// A ship of `count` triangles in a row, in the layout the editor writes.
std::string shipInARow(int count)
{
    std::string text = std::to_string(count) + "\r\n";
    char line[128];
    for (int i = 0; i < count; ++i)
    {
        std::snprintf(line, sizeof line,
                      "%d.000000 0.000000 %d.000000 0.000000 %d.000000 "
                      "25.000000 3.125000\r\n",
                      25 * i, 25 * i + 25, 25 * i);
        text += line;
    }
    return text + "0\r\n";
}

// On a nearly full disk, in a folder that takes no new files, the editor rewrites ship.hul in
// place. A ship longer than the old file must fail before a byte of the old file changes, and then
// be saved whole once there is room: the failure kept the ship in the editor too.
void rewriteInPlaceOnAFullDisk(const std::string& windowsEditor)
{
    EditorSession editor;
    if (!windowsEditor.empty())
    {
        editor.useWindowsEditor(windowsEditor);
    }
    ASSERT_TRUE(editor.startServer());
    const std::string work = editor.workDir();
    const std::string why = mountPrivateImage(work, work + "-disk.img", 2048, "ext4");
    if (!why.empty())
    {
        GTEST_SKIP() << why;
    }
    const std::string ship = shipInARow(3000);
    ASSERT_TRUE(editor.writeWorkFile("ship.hul", ship));
    ASSERT_TRUE(editor.startEditor());
    ASSERT_TRUE(editor.keyTap(XK_0));
    ASSERT_TRUE(editor.waitForStdout("LOADED!", 1));

    ASSERT_TRUE(editor.writeWorkFile("ship.hul", ONE_TRIANGLE));
    fillDisk(work + "/filler", 16 * 1024);
    ASSERT_TRUE(setImmutable(work, true)) << std::strerror(errno);
    ASSERT_TRUE(editor.keyTap(XK_1));
    ASSERT_TRUE(editor.waitForStderr("cannot save ship.hul", 1));
    const std::string errors = editor.stderrText();
    EXPECT_TRUE(holdsFailureLine(errors, "save", "writing ship.hul: No space left on device"))
        << errors;
    const std::string after = editor.readWorkFile("ship.hul");
    EXPECT_TRUE(after == ONE_TRIANGLE) << after.size() << " bytes";
    EXPECT_EQ(sortedFolderEntries(work),
              (std::vector<std::string>{"filler", "lost+found", "ship.hul"}));

    ASSERT_TRUE(setImmutable(work, false));
    ASSERT_TRUE(fs::remove(work + "/filler"));
    ASSERT_TRUE(setImmutable(work, true));
    ASSERT_TRUE(editor.keyTap(XK_1));
    ASSERT_TRUE(editor.waitForStdout("SAVED!", 1));
    EXPECT_TRUE(editor.readWorkFile("ship.hul") == ship);
    EXPECT_EQ(sortedFolderEntries(work), (std::vector<std::string>{"lost+found", "ship.hul"}));
    editor.stopEditor();
    EXPECT_TRUE(setImmutable(work, false));
    EXPECT_EQ(umount2(work.c_str(), MNT_DETACH), 0) << std::strerror(errno);
}
} // namespace

TEST(SaveFaults, RewriteInPlaceOnAFullDiskKeepsTheOldFileAndTheShip)
{
    rewriteInPlaceOnAFullDisk("");
}

#ifdef GANTRIX_WINDOWS_EDITOR
// The Windows editor under Wine: growing a file there only notes its new length, so the
// space must be made real before the rewrite.
TEST(SaveFaults, WindowsEditorRewriteInPlaceOnAFullDiskKeepsTheOldFileAndTheShip)
{
    rewriteInPlaceOnAFullDisk(GANTRIX_WINDOWS_EDITOR);
}
#endif

// The running editor meets a save target that is a folder, and then loses its working
// folder altogether. Each failed save or load says so in one line, prints no status line,
// touches nothing, and the editor goes on working with its ship intact.
TEST_F(EditorTest, SaveFailsCleanlyOnAFolderTargetAndAVanishedFolder)
{
    ASSERT_TRUE(editor.click(RIGHT, 450, 450));
    ASSERT_TRUE(editor.click(RIGHT, 525, 450));
    ASSERT_TRUE(editor.click(RIGHT, 450, 375));
    ASSERT_TRUE(editor.keyTap(XK_1));
    ASSERT_TRUE(editor.waitForStdout("SAVED!", 1));
    ASSERT_EQ(editor.readWorkFile("ship.hul"), ONE_TRIANGLE);

    // ship.hul is now a folder with a file in it.
    const std::string work = editor.workDir();
    ASSERT_TRUE(fs::remove(work + "/ship.hul"));
    ASSERT_TRUE(fs::create_directory(work + "/ship.hul"));
    ASSERT_TRUE(editor.writeWorkFile("ship.hul/inside", "kept"));
    ASSERT_TRUE(editor.keyTap(XK_1));
    ASSERT_TRUE(editor.waitForStderr("cannot save ship.hul", 1));
    ASSERT_TRUE(editor.keyTap(XK_0));
    ASSERT_TRUE(editor.waitForStderr("cannot load ship.hul", 1));
    std::string errors = editor.stderrText();
    EXPECT_EQ(lineCount(errors), 2) << errors;
    EXPECT_TRUE(holdsFailureLine(errors, "save", "ship.hul is a folder, not a regular file"))
        << errors;
    EXPECT_EQ(editor.readWorkFile("ship.hul/inside"), "kept");
    EXPECT_EQ(sortedFolderEntries(work), std::vector<std::string>{"ship.hul"});
    EXPECT_EQ(sortedFolderEntries(work + "/ship.hul"), std::vector<std::string>{"inside"});

    // With the folder gone, the same ship saves as before: neither failure changed it.
    fs::remove_all(work + "/ship.hul");
    ASSERT_TRUE(editor.keyTap(XK_1));
    ASSERT_TRUE(editor.waitForStdout("SAVED!", 2));
    EXPECT_EQ(editor.readWorkFile("ship.hul"), ONE_TRIANGLE);

    // The working folder is removed while the editor runs.
    fs::remove_all(work);
    ASSERT_FALSE(fs::exists(work));
    ASSERT_TRUE(editor.keyTap(XK_1));
    ASSERT_TRUE(editor.waitForStderr("cannot save ship.hul", 2));
    ASSERT_TRUE(editor.keyTap(XK_0));
    ASSERT_TRUE(editor.waitForStderr("cannot load ship.hul", 2));
    // Editing goes on: a point, taken back with the section sign, then more frames.
    ASSERT_TRUE(editor.click(RIGHT, 600, 600));
    ASSERT_TRUE(editor.keyTap(XK_section));
    ASSERT_TRUE(editor.waitForFrames(3));
    EXPECT_TRUE(editor.isAlive());
    EXPECT_FALSE(fs::exists(work)) << "nothing recreated the folder";

    errors = editor.stderrText();
    EXPECT_EQ(lineCount(errors), 4) << errors;
    EXPECT_NE(errors.find("No such file or directory\n"), std::string::npos) << errors;
    EXPECT_EQ(editor.stdoutText(), "SAVED!\nSAVED!\n");
}
