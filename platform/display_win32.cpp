#include "platform/display.h"

#include <GL/freeglut.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

// Windows has no display server to find or lose: the toolkit opens its window on the desktop
// of the session. What it cannot do there ends the editor with one line in the editor's own
// words, as the display check does elsewhere, instead of the toolkit's.
static void onToolkitError(const char* format, va_list arguments)
{
    char message[512];
    std::vsnprintf(message, sizeof message, format, arguments);
    std::fprintf(stderr, "gantrix: cannot open the window: %s\n", message);
    std::exit(1);
}

bool holdDisplay(int, char**, std::string& reason)
{
    reason.clear();
    glutInitErrorFunc(onToolkitError);
    return true;
}

void releaseDisplay() {}

void exitWhenDisplayLost() {}

void useCoreInputEvents() {}

// The desktop finds a Windows window through its process already.
void nameWindowForDesktop() {}

// A window closed by another program ends the toolkit's loop, and with it the editor.
void exitIfWindowDestroyed() {}
