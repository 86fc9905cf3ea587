// The editor where a user's machine differs from the test kit: a server that resets when
// its last client leaves, standard output closed or read by nobody, a ship.hul that is not a
// plain file, and an X server that goes away.

#include "editor_session.h"

#include <X11/keysym.h>
#include <fstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace
{
const std::string SHIP = "1\r\n"
                         "0.000000 0.000000 25.000000 0.000000 0.000000 25.000000 3.125000\r\n"
                         "1\r\n"
                         "12.500000 -3.000000 97 0 0 1\r\n";

// Waits until the work file `name` holds `content`: the only sign of a save when stdout
// says nothing.
bool waitForFile(EditorSession& editor, const std::string& name, const std::string& content)
{
    for (int i = 0; i < 400; ++i)
    {
        if (editor.workFileExists(name) && editor.readWorkFile(name) == content)
        {
            return true;
        }
        std::this_thread::sleep_for(Millis(25));
    }
    ADD_FAILURE() << name << " never held the expected ship";
    return false;
}
} // namespace

TEST(ProcessEdges, StartsEveryTimeOnAServerThatResets)
{
    EditorSession editor;
    ASSERT_TRUE(editor.startServer());
    for (int start = 1; start <= 10; ++start)
    {
        // The editor is the only client while it connects, as on a fresh desktop server.
        editor.disconnectX();
        ASSERT_TRUE(editor.launchEditor());
        std::this_thread::sleep_for(Millis(300));
        ASSERT_TRUE(editor.waitForEditorWindow()) << "start " << start;
        EXPECT_EQ(editor.stderrText(), "") << "start " << start;
        editor.stopEditor(); // the server now resets
    }
}

// Closed at start, stdout and stderr must not become the X connection; read by nobody, or
// full from the start, they must neither end nor stall the editor. Each way a load and a save
// still work.
TEST(ProcessEdges, StatusLinesThatCannotBeWrittenStopNothing)
{
    struct Streams
    {
        const char* name;
        EditorStream out;
        EditorStream err;
    };
    const EditorStream captured = EditorStream::captured;
    const Streams cases[] = {
        {"stdout closed", EditorStream::closed, captured},
        {"stdout reader gone", EditorStream::readerGone, captured},
        {"stdout full", EditorStream::fullPipe, captured},
        {"stderr full", captured, EditorStream::fullPipe},
        {"both closed", EditorStream::closed, EditorStream::closed},
    };
    for (const Streams& streams : cases)
    {
        SCOPED_TRACE(streams.name);
        const EditorStream out = streams.out;
        const EditorStream err = streams.err;
        EditorSession editor;
        ASSERT_TRUE(editor.startEditor({}, out, err));
        const std::string file = editor.workDir() + "/ship.hul";
        ASSERT_TRUE(editor.writeWorkFile("ship.hul", SHIP));
        ASSERT_TRUE(editor.keyTap(XK_0));
        ASSERT_TRUE(editor.waitForFrames(2));
        ASSERT_EQ(unlink(file.c_str()), 0);
        ASSERT_TRUE(editor.keyTap(XK_1));
        EXPECT_TRUE(waitForFile(editor, "ship.hul", SHIP));
        ASSERT_TRUE(editor.waitForFrames(2)) << "frames go on";
        EXPECT_TRUE(editor.isAlive());
        EXPECT_EQ(editor.stderrText(), "");
    }
}

TEST_F(EditorTest, LoadRefusesWhatIsNotARegularFileAtOnce)
{
    const std::string file = editor.workDir() + "/ship.hul";
    ASSERT_TRUE(editor.writeWorkFile("ship.hul", SHIP));
    ASSERT_TRUE(editor.keyTap(XK_0));
    ASSERT_TRUE(editor.waitForStdout("LOADED!"));

    // A FIFO nobody writes to would block the open; /dev/zero would never end.
    ASSERT_EQ(unlink(file.c_str()), 0);
    ASSERT_EQ(mkfifo(file.c_str(), 0644), 0);
    ASSERT_TRUE(editor.keyTap(XK_0));
    EXPECT_TRUE(editor.waitForStderr("ship.hul is a FIFO, not a regular file\n"));
    ASSERT_EQ(unlink(file.c_str()), 0);
    ASSERT_EQ(symlink("/dev/zero", file.c_str()), 0);
    ASSERT_TRUE(editor.keyTap(XK_0));
    EXPECT_TRUE(editor.waitForStderr("ship.hul is a device, not a regular file\n"));

    // The ship survived both: saved through a link into another folder, it reaches the
    // link's target, and the link stays a link.
    const std::string folder = editor.workDir() + "/../elsewhere";
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    ASSERT_EQ(unlink(file.c_str()), 0);
    ASSERT_EQ(symlink("../elsewhere/target.hul", file.c_str()), 0);
    ASSERT_TRUE(editor.keyTap(XK_1));
    ASSERT_TRUE(editor.waitForStdout("SAVED!"));
    EXPECT_EQ(editor.readWorkFile("../elsewhere/target.hul"), SHIP);
    struct stat link = {};
    ASSERT_EQ(lstat(file.c_str(), &link), 0);
    EXPECT_TRUE(S_ISLNK(link.st_mode));

    // An administrator's save leaves a user's file that user's.
    if (geteuid() == 0)
    {
        ASSERT_EQ(chown((folder + "/target.hul").c_str(), 65534, 65534), 0);
        ASSERT_TRUE(editor.keyTap(XK_1));
        ASSERT_TRUE(editor.waitForStdout("SAVED!", 2));
        struct stat target = {};
        ASSERT_EQ(stat(file.c_str(), &target), 0);
        EXPECT_EQ(target.st_uid, 65534u);
        EXPECT_EQ(target.st_gid, 65534u);
    }
    EXPECT_TRUE(editor.isAlive());
}

TEST_F(EditorTest, LosingTheServerEndsWithOneLine)
{
    const int display = editor.display();
    editor.stopServer();
    ASSERT_TRUE(editor.waitForExit());
    const int status = editor.exitStatus();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
    EXPECT_EQ(editor.stderrText(),
              "gantrix: lost the connection to the X display ':" + std::to_string(display) + "'\n");
}

// Window managers and task lists find the window by its class and its process and show it
// with the same icon as the desktop entry; a window that another program destroys ends the
// editor with one line, like a lost server.
TEST_F(EditorTest, WindowNamesItselfAndEndsWithOneLineWhenDestroyed)
{
    EXPECT_EQ(editor.windowClass(), "gantrix/Gantrix");
    EXPECT_EQ(editor.windowPid(), static_cast<long>(editor.pid()));
    const std::vector<unsigned long> icon = editor.windowIcon();
    size_t at = 0;
    for (int size : {16, 32, 48})
    {
        ASSERT_LE(at + 2, icon.size()) << "no icon of " << size << " pixels";
        EXPECT_EQ(icon[at], static_cast<unsigned long>(size));
        EXPECT_EQ(icon[at + 1], static_cast<unsigned long>(size));
        const std::vector<unsigned long> expected = installedIcon(size);
        ASSERT_EQ(expected.size(), static_cast<size_t>(size * size));
        ASSERT_LE(at + 2 + expected.size(), icon.size());
        const std::vector<unsigned long> shown(icon.begin() + static_cast<long>(at + 2),
                                               icon.begin() +
                                                   static_cast<long>(at + 2 + expected.size()));
        EXPECT_EQ(shown, expected)
            << "the " << size << "-pixel icon differs from gantrix-" << size << ".png";
        at += 2 + expected.size();
    }
    EXPECT_EQ(at, icon.size());
    // The desktop entry names the same class, so a desktop shows the running window as the
    // entry's program rather than as a stranger.
    std::ifstream entry(GANTRIX_DESKTOP_ENTRY);
    std::string line;
    std::string entryClass = "(none)";
    while (std::getline(entry, line))
    {
        entryClass = line.rfind("StartupWMClass=", 0) == 0 ? line.substr(15) : entryClass;
    }
    EXPECT_EQ("gantrix/" + entryClass, editor.windowClass());

    const int display = editor.display();
    ASSERT_TRUE(editor.destroyWindowFromOutside());
    ASSERT_TRUE(editor.waitForExit());
    const int status = editor.exitStatus();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
    EXPECT_EQ(editor.stderrText(), "gantrix: the window on X display ':" + std::to_string(display) +
                                       "' is gone (closed by another program?)\n");
}
