// The Windows build under Wine, driven by the same X input as the Linux editor: the same
// ship file bytes, the same pixels, and the same promises about loads and failed saves.

#include "editor_session.h"

#include <X11/keysym.h>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <vector>

namespace
{
constexpr int RIGHT = 3;

// Everything the editing session below does, as the Linux editor saves it: a triangle, a
// second one made after a pending point was taken back with the section sign, and an
// attachment keyed 'Q' (Shift + q) whose flag Tab cleared, bound to the first triangle.
const std::string EDITED_SHIP =
    "2\r\n"
    "-0.000000 -0.000000 25.000000 -0.000000 -0.000000 25.000000 3.125000\r\n"
    "50.000000 -50.000000 75.000000 -50.000000 50.000000 -25.000000 3.125000\r\n"
    "1\r\n"
    "10.000000 -6.666667 81 0 0 0\r\n";

bool editAndSave(EditorSession& editor)
{
    return editor.click(RIGHT, 450, 450) && editor.click(RIGHT, 525, 450) &&
           editor.click(RIGHT, 450, 375) && editor.click(RIGHT, 300, 300) &&
           editor.keyTap(XK_section) && editor.click(RIGHT, 300, 300) &&
           editor.keyTap(XK_section) && editor.click(RIGHT, 600, 600) &&
           editor.click(RIGHT, 675, 600) && editor.click(RIGHT, 600, 525) &&
           editor.keyDown(XK_Shift_L) && editor.keyTap(XK_q) && editor.keyUp(XK_Shift_L) &&
           editor.keyTap(XK_Tab) && editor.keyDown(XK_Control_L) && editor.click(RIGHT, 480, 470) &&
           editor.keyUp(XK_Control_L) && editor.waitForFrames(2) && editor.keyTap(XK_1) &&
           editor.waitForStdout("SAVED!") && editor.waitForFrames(2);
}

// The editor's own lines on stderr; Wine's toolkit layer adds a warning of its own.
std::string editorErrorLines(const std::string& text)
{
    std::string lines;
    for (size_t at = text.find("gantrix:"); at != std::string::npos;
         at = text.find("gantrix:", at + 1))
    {
        lines += text.substr(at, text.find('\n', at) - at) + "\n";
    }
    return lines;
}

// Waits until the window's picture differs from `before` outside the corner the frame probe
// paints: the sign of a drawn change when the console says nothing.
bool waitForPictureChange(EditorSession& editor, const WindowImage& before)
{
    for (int attempt = 0; attempt < 200; ++attempt)
    {
        const WindowImage now = editor.grab();
        int differing = 0;
        for (int y = 0; now.width == before.width && y < now.height - 4; ++y)
        {
            for (int x = 0; x < now.width - 4; ++x)
            {
                differing += now.pixel(x, y) != before.pixel(x, y) ? 1 : 0;
            }
        }
        if (differing > 0)
        {
            return true;
        }
        std::this_thread::sleep_for(Millis(50));
    }
    ADD_FAILURE() << "the window's picture never changed";
    return false;
}

// Waits until the work file `name` holds `content`.
bool waitForWorkFile(EditorSession& editor, const std::string& name, const std::string& content)
{
    for (int attempt = 0; attempt < 200; ++attempt)
    {
        if (editor.workFileExists(name) && editor.readWorkFile(name) == content)
        {
            return true;
        }
        std::this_thread::sleep_for(Millis(50));
    }
    ADD_FAILURE() << name << " never held the expected ship";
    return false;
}

// Starts the Windows editor with its streams as given, then loads and saves: the load must
// be drawn and the save must reach the disk whatever the console does.
bool loadAndSaveWithStreams(EditorSession& editor, EditorStream out, EditorStream err)
{
    editor.useWindowsEditor(GANTRIX_WINDOWS_EDITOR);
    if (!editor.startEditor({}, out, err))
    {
        return false;
    }
    const WindowImage empty = editor.grab();
    return editor.writeWorkFile("ship.hul", HAND_WRITTEN) && editor.keyTap(XK_0) &&
           waitForPictureChange(editor, empty) && editor.keyTap(XK_1) &&
           waitForWorkFile(editor, "ship.hul", WRITER_LAYOUT) && editor.isAlive();
}

std::vector<std::string> linesOf(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
    {
        lines.push_back(line);
    }
    return lines;
}
} // namespace

// A standard output that takes nothing from the start stops neither drawing nor input; the
// lines it could not hold are counted, and every line is either written whole or counted.
TEST(WindowsEditor, FullStdoutPipeStopsNothingAndCountsWhatItDrops)
{
    EditorSession editor;
    ASSERT_TRUE(loadAndSaveWithStreams(editor, EditorStream::fullPipe, EditorStream::captured));
    constexpr int MORE_LOADS = 40;
    for (int load = 0; load < MORE_LOADS; ++load)
    {
        ASSERT_TRUE(editor.keyTap(XK_0));
    }
    ASSERT_TRUE(editor.waitForFrames(2));
    EXPECT_EQ(editorErrorLines(editor.stderrText()), "") << "nothing is said while it is full";

    editor.drainFullPipes();
    ASSERT_TRUE(editor.waitForStderr("console lines dropped"));
    const std::string notice = editorErrorLines(editor.stderrText());
    const int dropped = std::atoi(notice.c_str() + std::strlen("gantrix: "));
    EXPECT_EQ(notice, "gantrix: " + std::to_string(dropped) + " console lines dropped\r\n");
    EXPECT_GT(dropped, 0);
    const int written = 2 + MORE_LOADS - dropped;
    ASSERT_TRUE(editor.waitForStdout("\n", written));
    const std::vector<std::string> lines = linesOf(editor.stdoutText());
    ASSERT_EQ(static_cast<int>(lines.size()), written);
    EXPECT_EQ(lines[0], "LOADED!\r");
    EXPECT_EQ(lines[1], "SAVED!\r");
    for (size_t i = 2; i < lines.size(); ++i)
    {
        EXPECT_EQ(lines[i], "LOADED!\r") << "line " << i;
    }
}

// The toolkit's own start-up warning into a standard error that takes nothing stops neither.
TEST(WindowsEditor, FullStderrPipeStopsNothing)
{
    EditorSession editor;
    EXPECT_TRUE(loadAndSaveWithStreams(editor, EditorStream::captured, EditorStream::fullPipe));
    EXPECT_EQ(editor.stdoutText(), "LOADED!\r\nSAVED!\r\n");
}

TEST(WindowsEditor, RunsWithBothStandardStreamsClosed)
{
    EditorSession editor;
    EXPECT_TRUE(loadAndSaveWithStreams(editor, EditorStream::closed, EditorStream::closed));
}

TEST(WindowsEditor, SameInputGivesTheSameShipFileAndPixelsAsTheLinuxEditor)
{
    EditorSession linuxEditor;
    ASSERT_TRUE(linuxEditor.start());
    ASSERT_TRUE(editAndSave(linuxEditor));
    ASSERT_EQ(linuxEditor.readWorkFile("ship.hul"), EDITED_SHIP);

    EditorSession windowsEditor;
    windowsEditor.useWindowsEditor(GANTRIX_WINDOWS_EDITOR);
    ASSERT_TRUE(windowsEditor.start());
    const WindowGeometry geometry = windowsEditor.windowGeometry();
    EXPECT_EQ(geometry.width, 900);
    EXPECT_EQ(geometry.height, 900);
    // The toolkit put the program's icon on its window, which Wine hands on to X.
    const std::vector<unsigned long> icon = windowsEditor.windowIcon();
    const std::vector<unsigned long> icon32 = installedIcon(32);
    ASSERT_EQ(icon32.size(), 32u * 32u);
    bool shown = false;
    for (size_t at = 0; at + 2 <= icon.size(); at += 2 + icon[at] * icon[at + 1])
    {
        const size_t end = std::min(icon.size(), at + 2 + icon[at] * icon[at + 1]);
        shown =
            shown || (icon[at] == 32 && icon[at + 1] == 32 &&
                      std::vector<unsigned long>(icon.begin() + static_cast<long>(at + 2),
                                                 icon.begin() + static_cast<long>(end)) == icon32);
    }
    EXPECT_TRUE(shown) << "the window does not show the 32-pixel gantrix.png";
    ASSERT_TRUE(editAndSave(windowsEditor));
    EXPECT_EQ(windowsEditor.readWorkFile("ship.hul"), EDITED_SHIP);
    EXPECT_EQ(windowsEditor.stdoutText(), "SAVED!\r\n");
    EXPECT_EQ(editorErrorLines(windowsEditor.stderrText()), "");

    // The same small ship on both: the same picture, pixel for pixel.
    const WindowImage expected = linuxEditor.grab();
    const WindowImage actual = windowsEditor.grab();
    ASSERT_EQ(actual.width, expected.width);
    ASSERT_EQ(actual.height, expected.height);
    int differing = 0;
    for (int y = 0; y < actual.height; ++y)
    {
        for (int x = 0; x < actual.width; ++x)
        {
            differing += actual.pixel(x, y) != expected.pixel(x, y) ? 1 : 0;
        }
    }
    EXPECT_EQ(differing, 0);
    if (differing != 0)
    {
        expected.writePng(testing::TempDir() + "gantrix-linux.png");
        actual.writePng(testing::TempDir() + "gantrix-windows.png");
    }
}

TEST(WindowsEditor, LoadsAndSavesAndAReadOnlyShipFileStaysAsItWas)
{
    EditorSession editor;
    editor.useWindowsEditor(GANTRIX_WINDOWS_EDITOR);
    ASSERT_TRUE(editor.start());
    ASSERT_TRUE(editor.writeWorkFile("ship.hul", HAND_WRITTEN));
    ASSERT_TRUE(editor.keyTap(XK_0));
    ASSERT_TRUE(editor.waitForStdout("LOADED!"));
    ASSERT_TRUE(editor.waitForFrames(2));
    ASSERT_TRUE(editor.keyTap(XK_1));
    ASSERT_TRUE(editor.waitForStdout("SAVED!"));
    // What the Linux editor writes for the same file and keys.
    EXPECT_EQ(editor.readWorkFile("ship.hul"), WRITER_LAYOUT);

    // Wine shows a file nobody may write as read-only: the save fails, says so, and leaves
    // the file and the folder as they were.
    const std::string path = editor.workDir() + "/ship.hul";
    ASSERT_EQ(chmod(path.c_str(), 0444), 0);
    ASSERT_TRUE(editor.click(RIGHT, 600, 600));
    ASSERT_TRUE(editor.click(RIGHT, 675, 600));
    ASSERT_TRUE(editor.click(RIGHT, 600, 525));
    ASSERT_TRUE(editor.keyTap(XK_1));
    ASSERT_TRUE(editor.waitForStderr("cannot save ship.hul"));
    EXPECT_TRUE(holdsFailureLine(editor.stderrText(), "save", "ship.hul: Permission denied"))
        << editor.stderrText();
    EXPECT_EQ(editor.readWorkFile("ship.hul"), WRITER_LAYOUT);
    int entries = 0;
    for (const auto& entry : std::filesystem::directory_iterator(editor.workDir()))
    {
        entries += entry.path().filename() == "ship.hul" ? 1 : 100;
    }
    EXPECT_EQ(entries, 1) << "no file but ship.hul in the working folder";
    EXPECT_EQ(editor.stdoutText(), "LOADED!\r\nSAVED!\r\n");
    EXPECT_TRUE(editor.isAlive());

    // Loading it again still works, and a load is all it takes to see that.
    ASSERT_TRUE(editor.keyTap(XK_0));
    ASSERT_TRUE(editor.waitForStdout("LOADED!", 2));
}

TEST(WindowsEditor, NoWindowPossibleIsOneLineAndStatusOne)
{
    // Without any display Wine can give it no window; the editor says so in its own words.
    const std::string errors = testing::TempDir() + "gantrix-no-window.txt";
    const std::string command = std::string("cd ") + testing::TempDir() +
                                " && env -u DISPLAY timeout 120 " GANTRIX_WITH_WINE
                                " --own-prefix " GANTRIX_WINDOWS_EDITOR
                                " </dev/null >/dev/null 2>" +
                                errors;
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    std::ifstream in(errors);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(editorErrorLines(text.str()),
              "gantrix: cannot open the window: Failed to create a window (Gantrix)! (no OpenGL "
              "here: remote desktop sessions and virtual machines often have none; start it at "
              "the computer's own screen, or update the graphics driver)\r\n")
        << text.str();
    std::remove(errors.c_str());
}
