#include "platform/display.h"

// Windows has no display server to find or lose: the toolkit opens its window on the
// desktop of the session, and reports on its own anything it cannot create there.

bool holdDisplay(int, char**, std::string& reason)
{
    reason.clear();
    return true;
}

void releaseDisplay() {}

void exitWhenDisplayLost() {}

void useCoreInputEvents() {}
