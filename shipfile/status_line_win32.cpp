#include "shipfile/status_line.h"

#include <windows.h>

// One write of the whole line, or nothing. A program started without a console, or with its
// output closed, has no handle and the line is dropped; a pipe was put in the mode that fails
// a write that does not fit at once (prepareProcess), so a reader that stopped reading never
// stalls the editor.
static void writeLine(DWORD which, const std::string& line)
{
    HANDLE handle = GetStdHandle(which);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE)
    {
        return;
    }
    const std::string text = line + "\r\n";
    DWORD written = 0;
    if (GetFileType(handle) == FILE_TYPE_CHAR)
    {
        // A console shows UTF-16, so a path that is not ASCII reads as it was typed.
        const int size = static_cast<int>(text.size());
        const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
        std::wstring wide(static_cast<size_t>(length > 0 ? length : 0), L'\0');
        MultiByteToWideChar(CP_UTF8, 0, text.data(), size, &wide[0], length);
        if (WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr))
        {
            return;
        }
    }
    WriteFile(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

void writeStatusLine(const char* line)
{
    writeLine(STD_OUTPUT_HANDLE, line);
}

void writeErrorLine(const std::string& line)
{
    writeLine(STD_ERROR_HANDLE, line);
}
