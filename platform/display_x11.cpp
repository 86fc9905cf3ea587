#include "platform/display.h"

#include <GL/glx.h>

#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

static Display* heldDisplay = nullptr;

bool holdDisplay(int argc, char** argv, std::string& reason)
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
                 "headless with xvfb-run)";
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
    return true;
}

void releaseDisplay()
{
    if (heldDisplay != nullptr)
    {
        XCloseDisplay(heldDisplay);
        heldDisplay = nullptr;
    }
}

// Xlib calls this once the connection is broken and ends the program if it returns. Only
// async-signal-safe calls: the connection's state is unknown and nothing more is drawn.
static int onConnectionLost(Display* display)
{
    const char* name = display != nullptr ? DisplayString(display) : "";
    char line[256];
    const int length = std::snprintf(line, sizeof line,
                                     "gantrix: lost the connection to the X display '%s'\n", name);
    if (length > 0)
    {
        const size_t size = static_cast<size_t>(length) < sizeof line ? static_cast<size_t>(length)
                                                                      : sizeof line - 1;
        ssize_t ignored = write(STDERR_FILENO, line, size);
        (void)ignored;
    }
    _exit(1);
}

void exitWhenDisplayLost()
{
    XSetIOErrorHandler(onConnectionLost);
}

void useCoreInputEvents()
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
