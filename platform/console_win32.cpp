#include "platform/console.h"
#include "platform/text_utf16.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <windows.h>

// A longer line is cut to this many bytes, line end included.
constexpr size_t LONGEST_LINE = 4096;
// Lines that may wait for a stream that takes nothing; more are dropped and counted. A stall
// long enough to fill this is one the user is already looking at (a held selection, a pipe
// nobody reads), and the count says what it cost.
constexpr int QUEUED_LINES = 32;
// How long the end of the program waits for queued lines to go out. A line written just before
// exit (the toolkit's last error) is then not lost, and a stream that takes nothing holds the
// exit up for no longer than this.
constexpr DWORD EXIT_DRAIN_MS = 1000;
// One stream's lines, waiting for its writer thread. The storage is fixed, so that queueing a
// line takes no memory: saying that a save ran out of it must still work.
struct LineQueue
{
    HANDLE handle = nullptr; // our copy of the stream the program started with; nullptr: none
    SRWLOCK lock = SRWLOCK_INIT;
    CONDITION_VARIABLE queued = CONDITION_VARIABLE_INIT;
    char text[QUEUED_LINES][LONGEST_LINE];
    size_t length[QUEUED_LINES] = {};
    int first = 0;             // slot of the oldest line, which the writer may be writing now
    int count = 0;             // lines queued, the one being written included
    unsigned long dropped = 0; // lines dropped for want of a slot since the last one written
    bool threadRunning = false;
};

static LineQueue outputLines;
static LineQueue errorLines;
static INIT_ONCE writersStarted = INIT_ONCE_STATIC_INIT;
static bool usable(HANDLE handle)
{
    return handle != nullptr && handle != INVALID_HANDLE_VALUE;
}

// Copies the line, cut to LONGEST_LINE, with its line end into `text`; returns its length.
static size_t endLine(char* text, const char* line, size_t length)
{
    length = length > LONGEST_LINE - 2 ? LONGEST_LINE - 2 : length;
    std::memcpy(text, line, length);
    text[length] = '\r';
    text[length + 1] = '\n';
    return length + 2;
}

// Puts a line into the queue; false when every slot is taken (the line is then counted as
// dropped).
static bool enqueue(LineQueue& queue, const char* line, size_t length)
{
    AcquireSRWLockExclusive(&queue.lock);
    const bool room = queue.count < QUEUED_LINES;
    if (room)
    {
        const int slot = (queue.first + queue.count) % QUEUED_LINES;
        queue.length[slot] = endLine(queue.text[slot], line, length);
        ++queue.count;
    }
    else
    {
        ++queue.dropped;
    }
    ReleaseSRWLockExclusive(&queue.lock);
    if (room)
    {
        WakeConditionVariable(&queue.queued);
    }
    return room;
}

// One line, whole, to the stream; this is where a full pipe or a console with a selection
// held waits, on the writer's thread rather than the editor's.
static bool writeWhole(HANDLE handle, const char* text, size_t size)
{
    DWORD written = 0;
    if (GetFileType(handle) == FILE_TYPE_CHAR)
    {
        // A console shows UTF-16, so a path that is not ASCII reads as it was typed.
        wchar_t wide[LONGEST_LINE];
        const int count = widenInto(text, size, wide, static_cast<int>(LONGEST_LINE));
        if (count > 0 && WriteConsoleW(handle, wide, static_cast<DWORD>(count), &written, nullptr))
        {
            return true;
        }
    }
    return WriteFile(handle, text, static_cast<DWORD>(size), &written, nullptr) != 0;
}

static DWORD WINAPI writeQueuedLines(void* parameter)
{
    LineQueue& queue = *static_cast<LineQueue*>(parameter);
    for (;;)
    {
        AcquireSRWLockExclusive(&queue.lock);
        while (queue.count == 0)
        {
            SleepConditionVariableSRW(&queue.queued, &queue.lock, INFINITE, 0);
        }
        const int slot = queue.first;
        ReleaseSRWLockExclusive(&queue.lock);

        // The slot stays counted while it is written, so nothing else is put into it.
        const bool flowed = writeWhole(queue.handle, queue.text[slot], queue.length[slot]);

        AcquireSRWLockExclusive(&queue.lock);
        queue.first = (queue.first + 1) % QUEUED_LINES;
        --queue.count;
        const unsigned long dropped = flowed ? queue.dropped : 0;
        if (flowed)
        {
            queue.dropped = 0;
        }
        ReleaseSRWLockExclusive(&queue.lock);

        // Said on the error stream once this stream takes lines again, so that status lines
        // stay the only thing on standard output.
        if (dropped > 0)
        {
            char notice[80];
            const int length =
                std::snprintf(notice, sizeof notice, "gantrix: %lu console %s dropped", dropped,
                              dropped == 1 ? "line" : "lines");
            enqueue(errorLines, notice, static_cast<size_t>(length));
        }
    }
}

static void startWriter(LineQueue& queue)
{
    if (!usable(queue.handle))
    {
        return;
    }
    HANDLE thread = CreateThread(nullptr, 64 * 1024, writeQueuedLines, &queue,
                                 STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (thread != nullptr)
    {
        queue.threadRunning = true;
        CloseHandle(thread);
    }
}

static bool isEmpty(LineQueue& queue)
{
    AcquireSRWLockShared(&queue.lock);
    const bool empty = queue.count == 0 || !queue.threadRunning;
    ReleaseSRWLockShared(&queue.lock);
    return empty;
}

// At the end of the program the queues go out, within EXIT_DRAIN_MS.
static void drainAtExit()
{
    const ULONGLONG deadline = GetTickCount64() + EXIT_DRAIN_MS;
    for (LineQueue* queue : {&errorLines, &outputLines})
    {
        while (!isEmpty(*queue) && GetTickCount64() < deadline)
        {
            Sleep(5);
        }
    }
}

// A copy of a standard handle that only this file closes (never: it lives as long as the
// program), so a writer thread keeps its stream when the C runtime points a descriptor
// elsewhere and closes the handle it had; nullptr when there is no stream.
static HANDLE ownCopy(DWORD which)
{
    HANDLE handle = GetStdHandle(which);
    HANDLE copy = nullptr;
    if (!usable(handle) || !DuplicateHandle(GetCurrentProcess(), handle, GetCurrentProcess(), &copy,
                                            0, FALSE, DUPLICATE_SAME_ACCESS))
    {
        return nullptr;
    }
    return copy;
}

static BOOL CALLBACK startWriters(INIT_ONCE*, void*, void**)
{
    outputLines.handle = ownCopy(STD_OUTPUT_HANDLE);
    errorLines.handle = ownCopy(STD_ERROR_HANDLE);
    startWriter(outputLines);
    startWriter(errorLines);
    std::atexit(drainAtExit);
    return TRUE;
}

// A file on a disk takes a line without waiting for anyone, so the line is written here and
// now to the stream as it is at this moment. A pipe or a console can wait for its reader (a
// full pipe, a selection held in the console), so its lines go out whole and in order from
// the stream's writer thread, and the caller never waits. Without a stream (a program started
// without a console, or with the stream closed) the line is dropped. Should a writer thread
// be missing (no thread could be made), the line is written here as the one way it still
// gets out.
static void writeLine(LineQueue& queue, DWORD which, const char* line, size_t length)
{
    InitOnceExecuteOnce(&writersStarted, startWriters, nullptr, nullptr);
    const HANDLE handle = GetStdHandle(which);
    if (!usable(handle))
    {
        return;
    }
    if (queue.threadRunning && GetFileType(handle) != FILE_TYPE_DISK)
    {
        enqueue(queue, line, length);
        return;
    }
    char text[LONGEST_LINE];
    writeWhole(handle, text, endLine(text, line, length));
}

void startConsoleLines()
{
    InitOnceExecuteOnce(&writersStarted, startWriters, nullptr, nullptr);
}

void writeStatusLine(const char* line)
{
    writeLine(outputLines, STD_OUTPUT_HANDLE, line, std::strlen(line));
}

void writeErrorLine(const char* line)
{
    writeLine(errorLines, STD_ERROR_HANDLE, line, std::strlen(line));
}

void exitAfterLines()
{
    drainAtExit();
    _exit(1);
}
