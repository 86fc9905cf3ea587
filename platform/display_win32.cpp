#include "platform/display.h"

#include <GL/freeglut.h>

#include <windows.h>

// Windows has no display server to find or lose: the toolkit opens its window on the desktop
// of the session, and nothing is checked beforehand.
bool prepareDisplay(int, char**, std::string& reason)
{
    reason.clear();
    reportToolkitErrors("", "no OpenGL here: remote desktop sessions and virtual machines often "
                            "have none; start it at the computer's own screen, or update the "
                            "graphics driver");
    return true;
}

static WNDPROC toolkitWindowProcedure = nullptr;

// A log-off or a shutdown ends the process once the window has answered WM_ENDSESSION, with
// no event the toolkit passes on; the last recovery copy is written before the answer.
static LRESULT CALLBACK onWindowMessage(HWND window, UINT message, WPARAM w, LPARAM l)
{
    if (message == WM_ENDSESSION && w != FALSE)
    {
        sayLastWords();
    }
    return CallWindowProcW(toolkitWindowProcedure, window, message, w, l);
}

// Windows holds no connection to let go of, and the window takes the input it needs as it is.
void finishDisplay()
{
    noteWindowOpen();
    HWND window = WindowFromDC(wglGetCurrentDC());
    if (window != nullptr)
    {
        toolkitWindowProcedure = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(onWindowMessage)));
    }
}

// A window closed by another program ends the toolkit's loop, and with it the editor.
void exitIfWindowDestroyed() {}
