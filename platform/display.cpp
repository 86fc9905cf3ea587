#include "platform/display.h"

#include <X11/Xlib.h>

#include <cstdlib>
#include <cstring>

bool displayReachable(int argc, char** argv, std::string& reason)
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
    Display* display = XOpenDisplay(name);
    if (display == nullptr)
    {
        reason = std::string("cannot open X display '") + shown +
                 "': is an X server running there and may this user connect?";
        return false;
    }
    XCloseDisplay(display);
    return true;
}
