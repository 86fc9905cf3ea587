#include "platform/file_system.h"
#include "platform/text_utf16.h"

#include <cstdio>
#include <windows.h>

std::string systemReason(unsigned long code)
{
    switch (code)
    {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
            return "No such file or directory";
        case ERROR_ACCESS_DENIED:
        case ERROR_WRITE_PROTECT:
            return "Permission denied";
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return "No space left on device";
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            return "Device or resource busy";
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY:
            return "Cannot allocate memory";
        default:
            break;
    }
    wchar_t* message = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&message), 0, nullptr);
    std::wstring wide = length > 0 ? std::wstring(message, length) : std::wstring();
    LocalFree(message);
    while (!wide.empty() && (wide.back() == L'\r' || wide.back() == L'\n' || wide.back() == L' ' ||
                             wide.back() == L'.'))
    {
        wide.pop_back();
    }
    for (wchar_t& c : wide)
    {
        c = (c == L'\r' || c == L'\n') ? L' ' : c;
    }
    if (wide.empty())
    {
        char number[32];
        std::snprintf(number, sizeof number, "system error %lu", static_cast<unsigned long>(code));
        return number;
    }
    return narrow(wide);
}

// What an open handle leads to. `info` is null when the file's information cannot be had.
static FileKind kindOfHandle(HANDLE handle, const BY_HANDLE_FILE_INFORMATION* info)
{
    const DWORD type = GetFileType(handle);
    FileKind kind = FileKind::regular;
    if (type == FILE_TYPE_PIPE)
    {
        kind = FileKind::pipe;
    }
    else if (type == FILE_TYPE_CHAR)
    {
        kind = FileKind::device;
    }
    else if (type != FILE_TYPE_DISK || info == nullptr)
    {
        kind = FileKind::other;
    }
    else if ((info->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
    {
        kind = FileKind::folder;
    }
    return kind;
}

// A device name (CON, NUL, COM1, a pipe ...) reads as a path in the device namespace once
// made whole, wherever it stands in the path; such a name is refused before it is opened, as
// opening some devices may wait or fail in ways that say nothing about the file.
static FileKind kindOfName(const std::wstring& path)
{
    wchar_t full[MAX_PATH + 1];
    const DWORD length = GetFullPathNameW(path.c_str(), MAX_PATH + 1, full, nullptr);
    const std::wstring whole = length > 0 && length <= MAX_PATH ? std::wstring(full, length) : path;
    FileKind kind = FileKind::regular;
    if (whole.compare(0, 9, L"\\\\.\\pipe\\") == 0)
    {
        kind = FileKind::pipe;
    }
    else if (whole.compare(0, 4, L"\\\\.\\") == 0)
    {
        kind = FileKind::device;
    }
    return kind;
}

// Opening with no access and backup semantics reaches folders too, and opening a device name
// this way does not wait for anything.
bool pathKind(const std::string& path, FileKind& kind, unsigned long& failure)
{
    const std::wstring wide = widen(path);
    if (wide.empty())
    {
        failure = ERROR_INVALID_NAME;
        return false;
    }
    kind = kindOfName(wide);
    if (kind != FileKind::regular)
    {
        return true;
    }
    HANDLE handle =
        CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
    {
        failure = GetLastError();
        return false;
    }
    uint64_t size = 0;
    const bool known = openFileFacts(reinterpret_cast<intptr_t>(handle), kind, size, failure);
    CloseHandle(handle);
    return known;
}

// A pipe or a device is known by its type alone; a disk file's kind and length need its
// information, and without it the system cannot say what the file is.
bool openFileFacts(intptr_t handle, FileKind& kind, uint64_t& size, unsigned long& failure)
{
    const HANDLE file = reinterpret_cast<HANDLE>(handle);
    failure = 0;
    size = 0;
    SetLastError(NO_ERROR);
    const DWORD type = GetFileType(file);
    if (type == FILE_TYPE_UNKNOWN && GetLastError() != NO_ERROR)
    {
        failure = GetLastError();
        return false;
    }
    BY_HANDLE_FILE_INFORMATION info;
    const bool known = GetFileInformationByHandle(file, &info) != 0;
    if (!known && type == FILE_TYPE_DISK)
    {
        failure = GetLastError();
        return false;
    }
    kind = kindOfHandle(file, known ? &info : nullptr);
    size = known ? (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow : 0;
    return true;
}
