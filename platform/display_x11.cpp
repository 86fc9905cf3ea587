#include "platform/display.h"
#include "platform/window_icon.h"

#include <GL/glx.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XInput2.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

// The connection prepareDisplay holds until the toolkit has its own.
static Display* heldDisplay = nullptr;

static void releaseDisplay();

// The X error the display check's own requests raised; 0 when none.
static int checkError = 0;

static int noteCheckError(Display*, XErrorEvent* event)
{
    checkError = event->error_code;
    return 0;
}

// Whether the display can give the editor what the toolkit will ask for: the GLX extension, a
// double-buffered RGB visual, and a context on it. Unchecked, the toolkit would end the program
// with its own message, or Xlib with a dump of the failed request.
static bool checkOpenGl(Display* display, const char* shown, std::string& reason)
{
    int errorBase = 0;
    int eventBase = 0;
    if (!glXQueryExtension(display, &errorBase, &eventBase))
    {
        reason = std::string("X display '") + shown +
                 "' has no OpenGL: the server lacks the GLX extension at this screen depth";
        return false;
    }
    const int attributes[] = {GLX_RENDER_TYPE,
                              GLX_RGBA_BIT,
                              GLX_DRAWABLE_TYPE,
                              GLX_WINDOW_BIT,
                              GLX_DOUBLEBUFFER,
                              True,
                              GLX_RED_SIZE,
                              1,
                              GLX_GREEN_SIZE,
                              1,
                              GLX_BLUE_SIZE,
                              1,
                              None};
    int count = 0;
    GLXFBConfig* configs = glXChooseFBConfig(display, DefaultScreen(display), attributes, &count);
    if (configs == nullptr || count == 0)
    {
        reason = std::string("X display '") + shown +
                 "' has no double-buffered RGB OpenGL visual for the window";
        return false;
    }
    // The server may refuse the context only in the reply or in an error (an indirect context
    // a server without indirect GLX will not make), so the check waits for both.
    checkError = 0;
    XErrorHandler previous = XSetErrorHandler(noteCheckError);
    GLXContext context = glXCreateNewContext(display, configs[0], GLX_RGBA_TYPE, nullptr, True);
    XSync(display, False);
    if (context != nullptr)
    {
        glXDestroyContext(display, context);
        XSync(display, False);
    }
    XSetErrorHandler(previous);
    XFree(configs);
    if (context == nullptr || checkError != 0)
    {
        reason = std::string("X display '") + shown +
                 "' refused an OpenGL context (is indirect rendering asked for, as by "
                 "LIBGL_ALWAYS_INDIRECT, on a server without it?)";
        return false;
    }
    return true;
}

// Runs checkOpenGl in a child process on a connection of its own. Loading the GL driver and
// making a context in the editor itself would leave the driver's threads and their memory
// arenas behind (hundreds of MB of address space, which a memory limit counts), and the
// toolkit loads its own anyway. A check that cannot run, or does not end within ten
// seconds, refuses nothing: the toolkit then reports what it finds.
static bool checkOpenGlApart(const char* name, const char* shown, std::string& reason)
{
    int ends[2];
    if (pipe(ends) != 0)
    {
        return true;
    }
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child == 0)
    {
        close(ends[0]);
        Display* display = XOpenDisplay(name);
        std::string childReason;
        if (display != nullptr && !checkOpenGl(display, shown, childReason))
        {
            const ssize_t ignored = write(ends[1], childReason.data(), childReason.size());
            (void)ignored;
        }
        _exit(0); // the connection goes with the process, without the driver's clean-up
    }
    close(ends[1]);
    // The child writes its few bytes before it ends, so the pipe never makes it wait. Where
    // the editor was started with SIGCHLD ignored, the system reaps the child itself, and the
    // wait then finds no child once it has ended.
    int status = 0;
    bool ended = child < 0;
    for (int waited = 0; !ended && waited < 10000; waited += 10)
    {
        const pid_t done = waitpid(child, &status, WNOHANG);
        ended = done == child || (done < 0 && errno == ECHILD);
        if (!ended)
        {
            usleep(10000);
        }
    }
    if (!ended)
    {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
    }
    char found[512];
    const ssize_t n = ended && child > 0 ? read(ends[0], found, sizeof found) : 0;
    close(ends[0]);
    if (n <= 0)
    {
        return true;
    }
    reason.assign(found, static_cast<size_t>(n));
    return false;
}

bool prepareDisplay(int argc, char** argv, std::string& reason)
{
    const char* name = nullptr;
    for (int i = 1; i + 1 < argc; i++)
    {
        if (std::strcmp(argv[i], "-display") == 0)
        {
            name = argv[i + 1];
        }
    }
    const char* shown = name != nullptr ? name : std::getenv("DISPLAY");
    if (shown == nullptr || shown[0] == '\0')
    {
        reason = "no X display: DISPLAY is not set (start it from a desktop session, or "
                 "headless with xvfb-run from the xvfb and xauth packages)";
        return false;
    }
    // A server resetting because its last client just left refuses connections for a
    // moment; a few tries over about a second tell that from a server that is not there.
    for (int wait = 50; heldDisplay == nullptr; wait *= 2)
    {
        heldDisplay = XOpenDisplay(name);
        if (heldDisplay != nullptr || wait > 400)
        {
            break;
        }
        usleep(static_cast<useconds_t>(wait) * 1000);
    }
    if (heldDisplay == nullptr)
    {
        reason = std::string("cannot open X display '") + shown +
                 "': is an X server running there and may this user connect?";
        return false;
    }
    if (!checkOpenGlApart(name, shown, reason))
    {
        releaseDisplay();
        return false;
    }
    return true;
}

// Closes the connection prepareDisplay opened.
static void releaseDisplay()
{
    if (heldDisplay != nullptr)
    {
        XCloseDisplay(heldDisplay);
        heldDisplay = nullptr;
    }
}

static void (*lastWordsOnLoss)() = nullptr;

void setDisplayLostLastWords(void (*lastWords)())
{
    lastWordsOnLoss = lastWords;
}

// Writes the line to standard error, or drops it if the descriptor cannot take it now: a stderr
// nobody reads must not keep the program from ending. Then runs the editor's last words once (a
// failure inside them comes back here, and must not call them again) and ends the program. The
// callers format on the stack, as they run inside a failed Xlib call.
[[noreturn]] static void endWithLine(const char* line)
{
    pollfd out = {STDERR_FILENO, POLLOUT, 0};
    if (poll(&out, 1, 0) == 1 && (out.revents & POLLOUT) != 0)
    {
        const ssize_t ignored = write(STDERR_FILENO, line, std::strlen(line));
        (void)ignored;
    }
    void (*lastWords)() = lastWordsOnLoss;
    lastWordsOnLoss = nullptr;
    if (lastWords != nullptr)
    {
        lastWords();
    }
    _exit(1);
}

// Xlib calls this from whichever call found the connection broken, and ends the program if it
// returns. Nothing more can be drawn or asked of the server, so it ends the editor itself.
static int onConnectionLost(Display* display)
{
    char line[512];
    std::snprintf(line, sizeof line, "gantrix: lost the connection to the X display '%s'\n",
                  display != nullptr ? DisplayString(display) : "");
    endWithLine(line);
}

// Any error from the server ends the editor, as Xlib's own handler would, but with one line:
// the editor sends no request that may fail in normal use. The usual cause is the window
// destroyed by another program, after which every drawing request fails.
static int onRequestFailed(Display* display, XErrorEvent* event)
{
    const char* name = display != nullptr ? DisplayString(display) : "";
    char line[512];
    if (event->error_code == BadWindow || event->error_code == BadDrawable)
    {
        std::snprintf(line, sizeof line,
                      "gantrix: the window on X display '%s' is gone (closed by another "
                      "program?)\n",
                      name);
    }
    else
    {
        char text[128] = "";
        XGetErrorText(display, event->error_code, text, sizeof text);
        std::snprintf(line, sizeof line, "gantrix: X display '%s' refused a request: %s\n", name,
                      text);
    }
    endWithLine(line);
}

// From now on a lost connection to the X server, or a request it refuses, ends the editor
// with one line on stderr naming the display, and exit status 1.
static void exitWhenDisplayLost()
{
    XSetIOErrorHandler(onConnectionLost);
    XSetErrorHandler(onRequestFailed);
}

// The editor's window and its connection, once nameWindowForDesktop has seen them.
static Display* windowDisplay = nullptr;
static Window shownWindow = 0;

// Gives the window its class ("gantrix", "Gantrix") and the editor's process id, by which
// window managers, task lists and "end this window" commands find it.
static void nameWindowForDesktop()
{
    Display* display = glXGetCurrentDisplay();
    const GLXDrawable window = glXGetCurrentDrawable();
    if (display == nullptr || window == 0)
    {
        return;
    }
    windowDisplay = display;
    shownWindow = window;
    char name[] = "gantrix";
    char className[] = "Gantrix";
    XClassHint hint = {name, className};
    XSetClassHint(display, window, &hint);
    // The process id lets a window manager or a task list end the editor that owns the window;
    // it only means something together with the machine's name, which the toolkit sets.
    const Atom pidAtom = XInternAtom(display, "_NET_WM_PID", False);
    const long pid = static_cast<long>(getpid());
    XChangeProperty(display, window, pidAtom, XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&pid), 1);
    showWindowIcon();
    XFlush(display);
}

void exitIfWindowDestroyed()
{
    if (windowDisplay == nullptr)
    {
        return;
    }
    // A destroyed window fails this request, and the error handler ends the editor.
    XWindowAttributes attributes;
    XGetWindowAttributes(windowDisplay, shownWindow, &attributes);
}

// The toolkit asks the X input extension for enter and leave events and keeps, never freeing
// it, the data of each such event about the root window, which a drag leaving the window
// brings. The window then takes the core X events the toolkit also asks for, which carry
// everything the editor uses.
static void useCoreInputEvents()
{
    Display* display = glXGetCurrentDisplay();
    const GLXDrawable window = glXGetCurrentDrawable();
    if (display == nullptr || window == 0)
    {
        return;
    }
    unsigned char noEvents[2] = {0, 0};
    XIEventMask mask = {XIAllMasterDevices, sizeof noEvents, noEvents};
    XISelectEvents(display, window, &mask, 1);
}

void finishDisplay()
{
    releaseDisplay();
    exitWhenDisplayLost();
    useCoreInputEvents();
    nameWindowForDesktop();
}
