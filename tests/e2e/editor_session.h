#pragma once

// End-to-end test kit: runs the real editor on a private X server and drives it with real
// X input. Every wait is bounded; a wait that runs out, or an action that cannot be done,
// records a GoogleTest failure saying what was awaited and returns false (or an empty
// result), so a test writes ASSERT_TRUE(editor.waitForStdout("SAVED!")) and stops there.
//
// Each session owns one Xvfb, one temporary folder and the editor processes it started; the
// destructor ends them by their own PIDs and removes the folder, so tests run in parallel.

#include "tests/test_support.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <gtest/gtest.h>
#include <map>
#include <ostream>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

using Millis = std::chrono::milliseconds;

// Waits for a whole Xvfb start-up, an editor start-up, or one frame.
// A ship written by hand: an octal count, tabs, a single line feed, everything after the
// first count on one line, a key above 127, a flag of 2 and white space after the last record.
inline const std::string HAND_WRITTEN = "02\n"
                                        "0\t0\t25 0 0 25 99  -50 -50 -25 -50 -50 -25 1e9 "
                                        "01 12.5 -3 167 5 5 2 \t\n\n";
// The same ship as the editor writes it back after loading it.
inline const std::string WRITER_LAYOUT =
    "2\r\n"
    "0.000000 0.000000 25.000000 0.000000 0.000000 25.000000 3.125000\r\n"
    "-50.000000 -50.000000 -25.000000 -50.000000 -50.000000 -25.000000 3.125000\r\n"
    "1\r\n"
    "12.500000 -3.000000 167 0 0 1\r\n";

constexpr Millis SERVER_START_TIMEOUT{15000};
constexpr Millis WINDOW_TIMEOUT{20000};
constexpr Millis FRAME_TIMEOUT{10000};
constexpr Millis OUTPUT_TIMEOUT{10000};

// Whether a line of `text` is the failure of a save or load (`what`) of ship.hul that names
// its folder (a Windows path under Wine) and ends in `detail`.
bool holdsFailureLine(const std::string& text, const std::string& what, const std::string& detail);

// Whether `text` holds a report of AddressSanitizer, LeakSanitizer or UndefinedBehaviorSanitizer.
bool holdsSanitizerReport(const std::string& text);

// The editor's icon of one size as the desktop gets it (desktop/icons/gantrix-SIZE.png):
// 0xAARRGGBB pixels row by row; empty when unreadable.
std::vector<unsigned long> installedIcon(int size);

// A copy of the window's pixels; width 0 when the grab failed.
struct WindowImage
{
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb; // rows top to bottom, three bytes per pixel

    // Colour at window pixel (x, y), y pointing down like the toolkit's pixel positions.
    Rgb pixel(int x, int y) const;
    bool writePng(const std::string& path) const;
};

// Where a window sits on the root window and how large it is, in pixels.
struct WindowGeometry
{
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

// A mapped direct child of the root window; without a window manager these are exactly
// the programs' top-level windows.
struct TopLevelWindow
{
    unsigned long id = 0;
    std::string name; // WM_NAME, empty when unset
    WindowGeometry geometry;
};

// Where one of the editor's standard streams goes: a file the kit reads back (stdoutText,
// stderrText), no descriptor at all, a pipe whose reader has already gone, or a pipe that the
// kit fills before the start and then holds without reading (until drainFullPipes).
enum class EditorStream
{
    captured,
    closed,
    readerGone,
    fullPipe,
};

class EditorSession
{
  public:
    EditorSession();
    ~EditorSession();
    EditorSession(const EditorSession&) = delete;
    EditorSession& operator=(const EditorSession&) = delete;

    // Runs the Windows build at `exePath` under Wine (scripts/with-wine) instead of the Linux
    // editor, from the next start on. Its window is found by its title and its size, since
    // Wine places it where it likes.
    void useWindowsEditor(const std::string& exePath);

    // Starts Xvfb, creates the work folder and starts the editor in it (extraArgs follow the
    // program name), then waits for its window and first frame.
    bool start(const std::vector<std::string>& extraArgs = {});

    // Starts Xvfb and creates the work folder without starting the editor.
    bool startServer();
    // Starts the editor (again) in the same work folder; its stdout and stderr captures start
    // empty. Waits for the window "Gantrix" and its first frame.
    bool startEditor(const std::vector<std::string>& extraArgs = {},
                     EditorStream out = EditorStream::captured,
                     EditorStream err = EditorStream::captured);
    // Starts the editor without waiting for anything; waitForEditorWindow() waits later.
    bool launchEditor(const std::vector<std::string>& extraArgs = {},
                      EditorStream out = EditorStream::captured,
                      EditorStream err = EditorStream::captured);
    // From now on the kit reads the full pipes it holds: what the editor writes into them
    // after the filling lands in the stdout and stderr captures, until the editor stops.
    void drainFullPipes();
    // Waits for the window "Gantrix" and its first frame.
    bool waitForEditorWindow();
    // Closes the kit's own connection, so that the editor may be the server's only client
    // and the server resets when the editor leaves, as a desktop server does. The next
    // wait for a window connects again.
    void disconnectX();
    // Ends the X server under the running editor, as when a desktop session ends.
    void stopServer();
    // Waits until the editor has ended by itself; exitStatus() then holds its wait status.
    bool waitForExit(Millis timeout = OUTPUT_TIMEOUT);
    // Ends the editor and reaps it; the server stays. The editor is asked to close its window
    // first, so it exits normally and a sanitizer build checks for leaks; SIGTERM, then
    // SIGKILL, follow when it does not end in time. A sanitizer report on the editor's
    // stderr, from any time in its run, fails the test.
    void stopEditor();

    bool isAlive();
    // Raw wait status once the editor has ended and been reaped, -1 while it runs.
    int exitStatus() const;
    // The running editor's process id, -1 when none runs.
    pid_t pid() const;

    // The editor's output captured so far.
    std::string stdoutText() const;
    std::string stderrText() const;
    // Waits until `text` has appeared at least `occurrences` times on the editor's stdout.
    bool waitForStdout(const std::string& text, int occurrences = 1,
                       Millis timeout = OUTPUT_TIMEOUT);
    // The same for the editor's stderr.
    bool waitForStderr(const std::string& text, int occurrences = 1,
                       Millis timeout = OUTPUT_TIMEOUT);

    // The editor's working folder, and files in it.
    const std::string& workDir() const;
    bool workFileExists(const std::string& name) const;
    std::string readWorkFile(const std::string& name) const;
    bool writeWorkFile(const std::string& name, const std::string& content) const;

    // From the next start on, the editor works in the folder `name` beside the first one.
    bool useWorkFolder(const std::string& name);
    // The editor's recovery copies, full paths in name order: the kit points the editor's
    // state folder (XDG_STATE_HOME, and under Wine LOCALAPPDATA) into its own temporary
    // folder, never the real home.
    std::vector<std::string> recoveryCopies() const;
    // Sends `signal` to the running editor (under Wine, to the Windows program).
    bool signalEditor(int signal);
    // Under Wine: ends the Windows session the editor runs in, as a log-off does; the editor
    // may have ended with it.
    bool endWindowsSession();

    // The editor's window.
    unsigned long window() const;
    std::string windowTitle();
    WindowGeometry windowGeometry();
    std::vector<TopLevelWindow> topLevelWindows();
    // The window's WM_CLASS as "instance/class", and its _NET_WM_PID (-1 when unset).
    std::string windowClass();
    long windowPid();
    // The window's _NET_WM_ICON: for each size its width, its height and its 0xAARRGGBB
    // pixels; empty when unset.
    std::vector<unsigned long> windowIcon();
    // Destroys the editor's window from the kit's own connection, as another program may.
    bool destroyWindowFromOutside();
    int display() const; // the X display number, -1 before the server started

    // Pointer, all positions in window pixels.
    bool moveTo(int x, int y);
    bool button(int which, bool down); // 1 left, 2 middle, 3 right; a press when `down`
    bool click(int which, int x, int y);
    // Presses at `from`, moves in `steps` equal motion events to `to`, releases there.
    bool drag(int which, int fromX, int fromY, int toX, int toY, int steps = 10);

    // Keys by keysym (X11/keysymdef.h). A keysym that is not on the unshifted level of some
    // key is put on a spare keycode for the rest of the session, so it arrives as itself.
    // The pointer is moved into the window first if it is outside, since the keyboard
    // follows the pointer.
    bool keyDown(unsigned long keysym);
    bool keyUp(unsigned long keysym);
    bool keyTap(unsigned long keysym);

    // Pause after every input action, so the editor sees each event in its own turn.
    void setInputPause(Millis pause);

    // Waits until the editor has presented `count` new frames after this call. With a count
    // of two or more, events sent before the call have been handled and drawn: the first
    // frame may already have been under way when the call began.
    bool waitForFrames(int count = 1, Millis timeout = FRAME_TIMEOUT);

    // The window's current picture.
    WindowImage grab();
    Rgb pixel(int x, int y);

  private:
    pid_t programPid() const;
    bool fail(const std::string& what);
    bool startXvfb();
    void endEditor();
    bool closeWindowAndWait();
    void expectNoSanitizerReport();
    bool ensureX();
    bool connectX();
    bool waitForWindow(const std::string& title, Millis timeout);
    bool pointerInsideWindow();
    unsigned int keycodeFor(unsigned long keysym);
    bool putSectionSignOnGraveKey();
    bool fakeKey(unsigned long keysym, bool down);
    bool finishAction();
    unsigned long colourToPixel(const Rgb& c) const;
    void stopDraining();

    std::string rootDir; // temporary folder holding the work folder and the logs
    std::string work;    // the editor's working folder
    pid_t serverPid = -1;
    pid_t editorPid = -1;
    int editorStatus = -1;
    bool editorStderrChecked = true; // false from a start until the stop has read its stderr
    int displayNumber = -1;
    void* xDisplay = nullptr; // Display*, kept opaque so Xlib's macros stay out of tests
    unsigned long editorWindow = 0;
    Millis inputPause{10};
    std::map<unsigned long, unsigned int> remappedKeys; // keysym -> spare keycode it sits on
    std::string windowsEditor;        // gantrix.exe run under Wine; empty for the Linux editor
    int fullPipeReader[2] = {-1, -1}; // read ends of a full stdout and stderr pipe; -1 for none
    size_t fullPipeFill[2] = {0, 0};  // bytes put into each before the start
    std::thread drainer;              // runs while the kit reads the full pipes
    std::atomic<bool> drainerStop{false};
};

// A test whose editor is running, with its window shown, when the body starts.
class EditorTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(editor.start());
    }

    EditorSession editor;
};
