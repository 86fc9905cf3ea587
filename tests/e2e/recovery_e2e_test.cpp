// Unsaved work outlives the run: however the run ends, a recovery copy in the state folder
// holds the user's ship, the next start in that folder says where it is, and it loads back.

#include "editor_session.h"

#include <X11/keysym.h>
#include <csignal>
#include <thread>

namespace
{
constexpr int RIGHT = 3;

// The ship built below, as a save writes it: a triangle and an attachment bound to its edge 0.
const std::string USERS_SHIP = "1\r\n"
                               "-0.000000 -0.000000 25.000000 -0.000000 -0.000000 25.000000 "
                               "3.125000\r\n1\r\n10.000000 -6.666667 0 0 0 1\r\n";

enum class RunEnd
{
    windowClosed,
    serverKilled,
    signalled,
    killedAfterCopy, // SIGKILL once the copy made after the last edit is on disk
    sessionEnded,    // a log-off, under Wine
};

struct EndCase
{
    const char* name;
    RunEnd end;
    int signal;
    bool underWine = false; // the Windows build, when the tests are given one
};

const EndCase ENDS[] = {
    {"WindowClosed", RunEnd::windowClosed, 0},
    {"ServerKilled", RunEnd::serverKilled, 0},
    {"Sigterm", RunEnd::signalled, SIGTERM},
    {"Sighup", RunEnd::signalled, SIGHUP},
    {"Sigint", RunEnd::signalled, SIGINT},
    {"Sigkill", RunEnd::killedAfterCopy, SIGKILL},
    {"WineWindowClosed", RunEnd::windowClosed, 0, true},
    {"WineProcessKilled", RunEnd::killedAfterCopy, SIGKILL, true},
    {"WineSessionEnded", RunEnd::sessionEnded, 0, true},
};

void PrintTo(const EndCase& c, std::ostream* out)
{
    *out << c.name;
}

// Waits until the editor keeps `count` recovery copies; a copy follows about two seconds
// after the last change.
bool waitForCopies(EditorSession& editor, size_t count)
{
    for (int i = 0; i < 400; ++i)
    {
        if (editor.recoveryCopies().size() == count)
        {
            return true;
        }
        std::this_thread::sleep_for(Millis(25));
    }
    ADD_FAILURE() << "the editor never kept " << count << " recovery copies";
    return false;
}

int countOf(const std::string& text, const std::string& part)
{
    int n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
    {
        n++;
    }
    return n;
}

void placeUsersShip(EditorSession& editor)
{
    for (auto [x, y] : {std::pair{450, 450}, {525, 450}, {450, 375}})
    {
        ASSERT_TRUE(editor.click(RIGHT, x, y));
    }
    ASSERT_TRUE(editor.keyDown(XK_Control_L));
    ASSERT_TRUE(editor.click(RIGHT, 480, 470));
    ASSERT_TRUE(editor.keyUp(XK_Control_L));
    ASSERT_TRUE(editor.waitForFrames(2));
}

class RecoveryEnds : public ::testing::TestWithParam<EndCase>
{
};
} // namespace

TEST_P(RecoveryEnds, TheCopyHoldsTheShipAndLoadsBack)
{
    const EndCase& c = GetParam();
    EditorSession editor;
    if (c.underWine)
    {
#ifdef GANTRIX_WINDOWS_EDITOR
        editor.useWindowsEditor(GANTRIX_WINDOWS_EDITOR);
#else
        GTEST_SKIP() << "no Windows build given";
#endif
    }
    ASSERT_TRUE(editor.start());
    placeUsersShip(editor);
    switch (c.end)
    {
        case RunEnd::windowClosed:
            editor.stopEditor();
            EXPECT_EQ(editor.exitStatus(), 0) << "the window close ended the editor";
            break;
        case RunEnd::serverKilled:
            editor.stopServer();
            ASSERT_TRUE(editor.waitForExit());
            break;
        case RunEnd::signalled:
            ASSERT_TRUE(editor.signalEditor(c.signal));
            ASSERT_TRUE(editor.waitForExit());
            EXPECT_TRUE(WIFSIGNALED(editor.exitStatus()) &&
                        WTERMSIG(editor.exitStatus()) == c.signal)
                << editor.exitStatus();
            break;
        case RunEnd::sessionEnded:
            ASSERT_TRUE(editor.endWindowsSession());
            editor.stopEditor();
            break;
        case RunEnd::killedAfterCopy:
            ASSERT_TRUE(waitForCopies(editor, 1));
            ASSERT_TRUE(editor.signalEditor(c.signal));
            ASSERT_TRUE(editor.waitForExit());
            break;
    }
    const std::vector<std::string> copies = editor.recoveryCopies();
    ASSERT_EQ(copies.size(), 1u);
    ASSERT_EQ(readFile(copies[0]), USERS_SHIP);

    // The next start says where the copy is, and the user does what the line says.
    ASSERT_TRUE(editor.startEditor());
    const std::string said = editor.stderrText();
    // Under Wine the line names the folder by its Windows path.
    const std::string shown = c.underWine ? copies[0].substr(copies[0].rfind('/') + 1) : copies[0];
    EXPECT_EQ(countOf(said, "gantrix:"), 1) << said;
    EXPECT_NE(said.find("(1 triangle, 1 attachment) is kept in "), std::string::npos) << said;
    EXPECT_NE(said.find(shown + "; to get it back, copy it over ship.hul and press 0"),
              std::string::npos)
        << said;
    ASSERT_TRUE(editor.writeWorkFile("ship.hul", readFile(copies[0])));
    ASSERT_TRUE(editor.keyTap(XK_0));
    ASSERT_TRUE(editor.waitForStdout("LOADED!"));
    ASSERT_TRUE(editor.waitForFrames(2));
    ASSERT_TRUE(editor.keyTap(XK_1));
    ASSERT_TRUE(editor.waitForStdout("SAVED!"));
    EXPECT_EQ(editor.readWorkFile("ship.hul"), USERS_SHIP);

    // A change gets this run its own copy, and the save that takes the change removes it.
    ASSERT_TRUE(editor.keyDown(XK_Control_L));
    ASSERT_TRUE(editor.click(RIGHT, 100, 100));
    ASSERT_TRUE(editor.keyUp(XK_Control_L));
    ASSERT_TRUE(waitForCopies(editor, 2));
    ASSERT_TRUE(editor.keyTap(XK_1));
    ASSERT_TRUE(editor.waitForStdout("SAVED!", 2));
    EXPECT_EQ(editor.recoveryCopies(), copies);
}

INSTANTIATE_TEST_SUITE_P(EveryEnd, RecoveryEnds, ::testing::ValuesIn(ENDS),
                         [](const ::testing::TestParamInfo<EndCase>& info)
                         { return std::string(info.param.name); });

// A load over unsaved work first keeps that work in a copy, which later changes leave alone;
// only a start in the same working folder hears of the copies, and of the newest.
TEST_F(EditorTest, LoadKeepsTheReplacedShipAndOnlyItsFolderHearsOfIt)
{
    placeUsersShip(editor);
    ASSERT_TRUE(editor.writeWorkFile("ship.hul", "0\r\n0\r\n"));
    ASSERT_TRUE(editor.keyTap(XK_0));
    ASSERT_TRUE(editor.waitForStdout("LOADED!"));
    const std::vector<std::string> kept = editor.recoveryCopies();
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(readFile(kept[0]), USERS_SHIP);

    ASSERT_TRUE(editor.click(RIGHT, 450, 450));
    ASSERT_TRUE(editor.click(RIGHT, 525, 450));
    ASSERT_TRUE(editor.click(RIGHT, 450, 375));
    ASSERT_TRUE(waitForCopies(editor, 2));
    EXPECT_EQ(readFile(kept[0]), USERS_SHIP);
    std::vector<std::string> copies = editor.recoveryCopies();
    const std::string newest = copies[0] == kept[0] ? copies[1] : copies[0];
    EXPECT_EQ(readFile(newest).substr(0, 3), "1\r\n");
    editor.stopEditor();

    const std::string home = editor.workDir();
    ASSERT_TRUE(editor.useWorkFolder("elsewhere"));
    ASSERT_TRUE(editor.startEditor());
    EXPECT_EQ(editor.stderrText(), "");
    editor.stopEditor();

    ASSERT_TRUE(editor.useWorkFolder(home.substr(home.rfind('/') + 1)));
    ASSERT_TRUE(editor.startEditor());
    const std::string said = editor.stderrText();
    EXPECT_EQ(countOf(said, "gantrix: unsaved work from "), 1) << said;
    EXPECT_NE(said.find("(1 triangle, 0 attachments) is kept in " + newest + ";"),
              std::string::npos)
        << said;
}
