#include "platform/display.h"
#include "platform/window_icon.h"

#include <GL/glx.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XInput2.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

// The connection prepareDisplay holds until the toolkit has its own.
static Display* heldDisplay = nullptr;

// Xlib calls this from whichever call found the connection broken, and ends the program if it
// returns. Nothing more can be drawn or asked of the server, so it ends the editor itself.
static int onConnectionLost(Display* display)
{
    char line[512];
    std::snprintf(line, sizeof line, "gantrix: lost the connection to the X display '%s'",
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
                      "program?)",
                      name);
    }
    else
    {
        char text[128] = "";
        XGetErrorText(display, event->error_code, text, sizeof text);
        std::snprintf(line, sizeof line, "gantrix: X display '%s' refused a request: %s", name,
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
    exitWhenDisplayLost();
    char place[300];
    std::snprintf(place, sizeof place, " on X display '%s'", shown);
    reportToolkitErrors(place, "no OpenGL there: use a screen depth of 24, not 8, and ask for no "
                               "indirect rendering (-indirect, LIBGL_ALWAYS_INDIRECT); no GPU is "
                               "needed");
    return true;
}

// The editor's window and its connection, once finishDisplay has seen them.
static Display* windowDisplay = nullptr;
static Window shownWindow = 0;

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

void finishDisplay()
{
    if (heldDisplay != nullptr)
    {
        XCloseDisplay(heldDisplay);
        heldDisplay = nullptr;
    }
    noteWindowOpen();
    Display* display = glXGetCurrentDisplay();
    const GLXDrawable window = glXGetCurrentDrawable();
    if (display == nullptr || window == 0)
    {
        return;
    }
    windowDisplay = display;
    shownWindow = window;
    // The toolkit asks the X input extension for enter and leave events and keeps, never
    // freeing it, the data of each such event about the root window, which a drag leaving the
    // window brings. The window then takes the core X events the toolkit also asks for, which
    // carry everything the editor uses.
    unsigned char noEvents[2] = {0, 0};
    XIEventMask mask = {XIAllMasterDevices, sizeof noEvents, noEvents};
    XISelectEvents(display, window, &mask, 1);
    // The class ("gantrix", "Gantrix") and the process id are how window managers, task lists
    // and "end this window" commands find the window; the id only means something together
    // with the machine's name, which the toolkit sets.
    char name[] = "gantrix";
    char className[] = "Gantrix";
    XClassHint hint = {name, className};
    XSetClassHint(display, window, &hint);
    const Atom pidAtom = XInternAtom(display, "_NET_WM_PID", False);
    const long pid = static_cast<long>(getpid());
    XChangeProperty(display, window, pidAtom, XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&pid), 1);
    showWindowIcon();
    XFlush(display);
}
