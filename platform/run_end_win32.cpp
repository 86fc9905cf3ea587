#include "platform/run_end.h"
#include "platform/text_utf16.h"

#include <atomic>
#include <windows.h>

namespace
{
// A closed console, a log-off or a shutdown ends the process once the handler returns, and the
// system waits about five seconds for it; the frame is given a little less to end the run.
constexpr DWORD WAIT_FOR_FRAME_MS = 4000;

std::atomic<bool> asked{false};

// Runs on a thread of its own that the system starts for the event.
BOOL WINAPI onConsoleEvent(DWORD)
{
    bool none = false;
    if (asked.compare_exchange_strong(none, true))
    {
        Sleep(WAIT_FOR_FRAME_MS);
    }
    removeHeldFiles();
    // The exit code of a process that Ctrl+C or a closed console ends.
    ExitProcess(CONTROL_C_EXIT);
}
} // namespace

void removeHeldFile(const char* path)
{
    const WidePath wide(path);
    if (wide.valid)
    {
        DeleteFileW(wide.text);
    }
}

void watchRunEnd()
{
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

bool runEndAsked()
{
    return asked.load(std::memory_order_relaxed);
}

void endRunAsAsked()
{
    removeHeldFiles();
    ExitProcess(CONTROL_C_EXIT);
}
