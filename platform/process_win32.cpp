#include "platform/process.h"

#include <windows.h>

// Standard output and standard error keep the mode they were given: pipes shared with other
// programs are theirs too, and a line is never written from the editor's own thread, so a
// stream that waits cannot stall it.
void prepareProcess()
{
    // A failing disk or an empty drive gives a failed save or load with its line on stderr,
    // not a dialog box that waits for someone to click it.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
}
