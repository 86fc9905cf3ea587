#include "platform/window_icon.h"
#include "platform/window_icon_pixels.h"

#include <GL/glx.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <vector>

void showWindowIcon()
{
    Display* display = glXGetCurrentDisplay();
    const GLXDrawable window = glXGetCurrentDrawable();
    if (display == nullptr || window == 0)
    {
        return;
    }
    // Xlib takes 32-bit property data as an array of long, whatever the width of long.
    const std::vector<long> data(WINDOW_ICON_PIXELS, WINDOW_ICON_PIXELS + WINDOW_ICON_PIXEL_COUNT);
    const Atom iconAtom = XInternAtom(display, "_NET_WM_ICON", False);
    XChangeProperty(display, window, iconAtom, XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(data.data()),
                    static_cast<int>(data.size()));
    XFlush(display);
}
