#include "platform/process.h"

#include <windows.h>

// Standard output and standard error keep the mode they were given: a pipe shared with other
// programs is theirs too, and a line for a pipe or a console goes out from a thread of its own
// (console.h), so a stream that waits cannot stall the editor.
void prepareProcess()
{
    // A failing disk or an empty drive gives a failed save or load with its line on stderr,
    // not a dialog box that waits for someone to click it.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
}
