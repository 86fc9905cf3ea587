#include "platform/file_source.h"
#include "platform/file_system.h"
#include "platform/text_utf16.h"

#include <windows.h>

// What `path` names is looked at first without reading it, so that a device name or a pipe
// is refused before it is opened for reading; the handle opened then is looked at again.
bool openFileSource(const char* path, FileSource& source, std::string& error)
{
    FileKind kind = FileKind::other;
    uint64_t size = 0;
    unsigned long failure = 0;
    if (!pathKind(path, kind, failure) || kind != FileKind::regular)
    {
        error = failure != 0 ? systemReason(failure) : refusalOf(kind);
        return false;
    }
    HANDLE handle = CreateFileW(widen(path).c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
    {
        error = systemReason(GetLastError());
        return false;
    }
    const bool known = openFileFacts(reinterpret_cast<intptr_t>(handle), kind, size, failure);
    if (!known || kind != FileKind::regular)
    {
        error = known ? refusalOf(kind) : systemReason(failure);
        CloseHandle(handle);
        return false;
    }
    source.handle = reinterpret_cast<intptr_t>(handle);
    source.size = size;
    error.clear();
    return true;
}

long long readFileSource(FileSource& source, char* buffer, size_t capacity, std::string& error)
{
    const DWORD ask = capacity > 0x40000000 ? 0x40000000 : static_cast<DWORD>(capacity);
    DWORD got = 0;
    if (!ReadFile(reinterpret_cast<HANDLE>(source.handle), buffer, ask, &got, nullptr))
    {
        error = systemReason(GetLastError());
        return -1;
    }
    return static_cast<long long>(got);
}

void closeFileSource(FileSource& source)
{
    if (source.handle != -1)
    {
        CloseHandle(reinterpret_cast<HANDLE>(source.handle));
        source.handle = -1;
    }
}
