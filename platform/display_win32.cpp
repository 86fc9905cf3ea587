#include "platform/display.h"

#include <GL/freeglut.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <windows.h>

// Set by finishDisplay, once the window exists.
static bool windowOpen = false;

// Windows has no display server to find or lose: the toolkit opens its window on the desktop
// of the session. What it cannot do ends the editor, with status 1 and one line in the
// editor's own words, as the display check does elsewhere, instead of the toolkit's: before
// the window exists, any toolkit error means it could not be opened; later ones are named as
// the toolkit's failure. The line goes straight to the error handle, so a pipe that nobody
// reads does not stall the exit (prepareProcess).
static void onToolkitError(const char* format, va_list arguments)
{
    char message[512];
    std::vsnprintf(message, sizeof message, format, arguments);
    char line[600];
    int length =
        std::snprintf(line, sizeof line - 2, "gantrix: %s: %s",
                      windowOpen ? "the toolkit failed" : "cannot open the window", message);
    length = length < 0 ? 0 : std::min(length, static_cast<int>(sizeof line) - 3);
    for (int i = 0; i < length; ++i)
    {
        line[i] = line[i] == '\r' || line[i] == '\n' ? ' ' : line[i];
    }
    line[length] = '\r';
    line[length + 1] = '\n';
    HANDLE handle = GetStdHandle(STD_ERROR_HANDLE);
    DWORD written = 0;
    if (handle != nullptr && handle != INVALID_HANDLE_VALUE)
    {
        WriteFile(handle, line, static_cast<DWORD>(length + 2), &written, nullptr);
    }
    std::exit(1);
}

bool prepareDisplay(int, char**, std::string& reason)
{
    reason.clear();
    glutInitErrorFunc(onToolkitError);
    return true;
}

// The desktop finds a Windows window through its process already.
static void nameWindowForDesktop() {}

// Windows holds no connection to let go of, and the window takes the input it needs as it is;
// from here on a toolkit error is the toolkit's failure, no longer a window that cannot open.
void finishDisplay()
{
    windowOpen = true;
    nameWindowForDesktop();
}

// A window closed by another program ends the toolkit's loop, and with it the editor.
void exitIfWindowDestroyed() {}
