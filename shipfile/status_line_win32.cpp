#include "shipfile/status_line.h"

#include <cstring>
#include <windows.h>

// A longer line is cut to this many bytes, line end included.
constexpr size_t LONGEST_LINE = 4096;

// The line goes out in one write, and what that write does not take is dropped, never
// waited for or tried again. A program started without a console, or with its output closed,
// has no handle and the line is dropped whole. A pipe was put in the mode in which a write
// takes at once only what fits (prepareProcess), so a reader that stopped reading never
// stalls the editor, but it may see the end of a line cut off when the pipe is nearly full.
// A console write can still wait: while the user holds a text selection in the console
// (QuickEdit), the console takes no output until the selection ends. A file on a slow or
// unreachable network share can make a write wait as well. The line is put together on the
// stack, so that saying a save ran out of memory needs none.
static void writeLine(DWORD which, const char* line, size_t length)
{
    HANDLE handle = GetStdHandle(which);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE)
    {
        return;
    }
    char text[LONGEST_LINE];
    if (length > sizeof text - 2)
    {
        length = sizeof text - 2;
    }
    std::memcpy(text, line, length);
    text[length] = '\r';
    text[length + 1] = '\n';
    const int size = static_cast<int>(length + 2);
    DWORD written = 0;
    if (GetFileType(handle) == FILE_TYPE_CHAR)
    {
        // A console shows UTF-16, so a path that is not ASCII reads as it was typed.
        wchar_t wide[LONGEST_LINE];
        const int count = MultiByteToWideChar(CP_UTF8, 0, text, size, wide, LONGEST_LINE);
        if (count > 0 && WriteConsoleW(handle, wide, static_cast<DWORD>(count), &written, nullptr))
        {
            return;
        }
    }
    WriteFile(handle, text, static_cast<DWORD>(size), &written, nullptr);
}

void writeStatusLine(const char* line)
{
    writeLine(STD_OUTPUT_HANDLE, line, std::strlen(line));
}

void writeErrorLine(const std::string& line)
{
    writeLine(STD_ERROR_HANDLE, line.data(), line.size());
}

void writeErrorLine(const char* line)
{
    writeLine(STD_ERROR_HANDLE, line, std::strlen(line));
}
