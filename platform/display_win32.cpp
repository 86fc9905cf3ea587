#include "platform/console.h"
#include "platform/display.h"

#include <GL/freeglut.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <windows.h>

// Set by finishDisplay, once the window exists.
static bool windowOpen = false;

static void (*lastWordsOnLoss)() = nullptr;

void setDisplayLostLastWords(void (*lastWords)())
{
    lastWordsOnLoss = lastWords;
}

// Windows has no display server to find or lose: the toolkit opens its window on the desktop
// of the session. What it cannot do ends the editor, with status 1 and one line in the
// editor's own words, as the display check does elsewhere, instead of the toolkit's: before
// the window exists, any toolkit error means it could not be opened; later ones are named as
// the toolkit's failure. The line goes through the error queue, whose wait at exit is bounded,
// so a stream that takes nothing does not hold the exit up.
static void onToolkitError(const char* format, va_list arguments)
{
    char message[512];
    std::vsnprintf(message, sizeof message, format, arguments);
    // A window that cannot open almost always means no OpenGL in the session; say where that
    // happens, since the toolkit's own words do not.
    char line[800];
    std::snprintf(line, sizeof line, "gantrix: %s: %s%s",
                  windowOpen ? "the toolkit failed" : "cannot open the window", message,
                  windowOpen ? ""
                             : " (no OpenGL here: remote desktop sessions and virtual machines "
                               "often have none; start it at the computer's own screen, or "
                               "update the graphics driver)");
    for (char* c = line; *c != '\0'; ++c)
    {
        *c = *c == '\r' || *c == '\n' ? ' ' : *c;
    }
    writeErrorLine(static_cast<const char*>(line));
    if (windowOpen && lastWordsOnLoss != nullptr)
    {
        lastWordsOnLoss();
    }
    std::exit(1);
}

// The toolkit's warnings, in its own words, go through the error queue too: written straight to
// the C runtime's stream, a warning would wait for a console with a selection held.
static void onToolkitWarning(const char* format, va_list arguments)
{
    char message[512];
    std::vsnprintf(message, sizeof message, format, arguments);
    char line[600];
    std::snprintf(line, sizeof line, "freeglut (gantrix): %s", message);
    writeErrorLine(static_cast<const char*>(line));
}

bool prepareDisplay(int, char**, std::string& reason)
{
    reason.clear();
    glutInitErrorFunc(onToolkitError);
    glutInitWarningFunc(onToolkitWarning);
    return true;
}

// Windows holds no connection to let go of, and the window takes the input it needs as it is;
// from here on a toolkit error is the toolkit's failure, no longer a window that cannot open.
static WNDPROC toolkitWindowProcedure = nullptr;

// A log-off or a shutdown ends the process once the window has answered WM_ENDSESSION, with
// no event the toolkit passes on; the last recovery copy is written before the answer.
static LRESULT CALLBACK onWindowMessage(HWND window, UINT message, WPARAM w, LPARAM l)
{
    if (message == WM_ENDSESSION && w != FALSE && lastWordsOnLoss != nullptr)
    {
        lastWordsOnLoss();
    }
    return CallWindowProcW(toolkitWindowProcedure, window, message, w, l);
}

void finishDisplay()
{
    windowOpen = true;
    HWND window = WindowFromDC(wglGetCurrentDC());
    if (window != nullptr)
    {
        toolkitWindowProcedure = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(onWindowMessage)));
    }
}

// A window closed by another program ends the toolkit's loop, and with it the editor.
void exitIfWindowDestroyed() {}
