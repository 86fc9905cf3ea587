#include "platform/process.h"

#include <windows.h>

// Output that nobody reads must not stall the editor: a pipe is switched to the mode in which
// a write takes at once what fits in the pipe, which may be only part of it or nothing, and
// never waits for the rest. A console or a file is left as it is; neither fills up the way a
// pipe does, but a write to them can still wait, e.g. on a console while the user holds a
// text selection in it (QuickEdit), or on a file on a slow network share.
static void neverWaitOn(DWORD which)
{
    HANDLE handle = GetStdHandle(which);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE ||
        GetFileType(handle) != FILE_TYPE_PIPE)
    {
        return;
    }
    DWORD mode = PIPE_READMODE_BYTE | PIPE_NOWAIT;
    SetNamedPipeHandleState(handle, &mode, nullptr, nullptr);
}

void prepareProcess()
{
    // A failing disk or an empty drive gives a failed save or load with its line on stderr,
    // not a dialog box that waits for someone to click it.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    neverWaitOn(STD_OUTPUT_HANDLE);
    neverWaitOn(STD_ERROR_HANDLE);
}
