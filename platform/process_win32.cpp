#include "platform/process.h"

#include <windows.h>

// Output that nobody reads must not stall the editor: a pipe is switched to the mode in which
// a write that does not fit fails at once. A console or a file never fills up that way.
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
