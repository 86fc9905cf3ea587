#include "platform/file_system.h"
#include "platform/run_end.h"
#include "platform/text_utf16.h"

#include <utility>
#include <vector>
#include <windows.h>

namespace
{
HANDLE toHandle(FileHandle handle)
{
    return reinterpret_cast<HANDLE>(handle);
}

bool failed(unsigned long& failure)
{
    failure = GetLastError();
    return false;
}

constexpr DWORD SHARE_ALL = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// A device name (CON, NUL, COM1, a pipe ...) reads as a path in the device namespace once
// made whole, wherever it stands in the path; such a name is known without opening it, as
// opening some devices may wait or fail in ways that say nothing about the file.
FileKind kindOfName(const wchar_t* path)
{
    static thread_local wchar_t full[32768];
    const DWORD length = GetFullPathNameW(path, 32768, full, nullptr);
    const wchar_t* whole = length > 0 && length < 32768 ? full : path;
    FileKind kind = FileKind::regular;
    if (wcsncmp(whole, L"\\\\.\\pipe\\", 9) == 0)
    {
        kind = FileKind::pipe;
    }
    else if (wcsncmp(whole, L"\\\\.\\", 4) == 0)
    {
        kind = FileKind::device;
    }
    return kind;
}

bool openWide(const std::string& path, DWORD access, DWORD share, DWORD flags, FileHandle& handle,
              unsigned long& failure, DWORD disposition = OPEN_EXISTING)
{
    const WidePath wide(path);
    HANDLE opened =
        wide.valid ? CreateFileW(wide.text, access, share, nullptr, disposition, flags, nullptr)
                   : INVALID_HANDLE_VALUE;
    if (!wide.valid)
    {
        SetLastError(ERROR_INVALID_NAME);
    }
    handle = opened == INVALID_HANDLE_VALUE ? NO_FILE : reinterpret_cast<FileHandle>(opened);
    return handle != NO_FILE || failed(failure);
}

bool seekTo(HANDLE handle, uint64_t offset)
{
    LARGE_INTEGER at;
    at.QuadPart =
        offset > static_cast<uint64_t>(INT64_MAX) ? INT64_MAX : static_cast<LONGLONG>(offset);
    return SetFilePointerEx(handle, at, nullptr, FILE_BEGIN) != 0;
}
} // namespace

std::string systemReason(unsigned long code)
{
    // The words the editor uses on every system for the failures met most.
    static const std::pair<DWORD, const char*> COMMON[] = {
        {ERROR_FILE_NOT_FOUND, "No such file or directory"},
        {ERROR_PATH_NOT_FOUND, "No such file or directory"},
        {ERROR_INVALID_NAME, "not a valid file name"},
        {ERROR_ACCESS_DENIED, "Permission denied"},
        {ERROR_WRITE_PROTECT, "Permission denied"},
        {ERROR_DISK_FULL, "No space left on device"},
        {ERROR_HANDLE_DISK_FULL, "No space left on device"},
        {ERROR_SHARING_VIOLATION, "in use by another program"},
        {ERROR_LOCK_VIOLATION, "in use by another program"},
        {ERROR_NOT_ENOUGH_MEMORY, "Cannot allocate memory"},
        {ERROR_OUTOFMEMORY, "Cannot allocate memory"},
    };
    for (const auto& [known, words] : COMMON)
    {
        if (known == code)
        {
            return words;
        }
    }
    wchar_t* message = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&message), 0, nullptr);
    std::string text = length > 0 ? narrow(std::wstring(message, length)) : std::string();
    LocalFree(message);
    for (char& c : text)
    {
        c = c == '\r' || c == '\n' ? ' ' : c;
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '.'))
    {
        text.pop_back();
    }
    return text.empty() ? "system error " + std::to_string(code) : text;
}

bool isNotFound(unsigned long failure)
{
    return failure == ERROR_FILE_NOT_FOUND || failure == ERROR_PATH_NOT_FOUND;
}

bool isPermissionRefusal(unsigned long failure)
{
    return failure == ERROR_ACCESS_DENIED;
}

// The editor follows no links of its own on Windows: the system does, when a file is opened.
bool followLinks(const std::string& path, std::string& target, unsigned long&)
{
    target = path;
    return true;
}

// Opening with no access and backup semantics reaches folders too, and opening a device name
// this way does not wait for anything.
bool pathKind(const std::string& path, FileKind& kind, unsigned long& failure)
{
    const WidePath wide(path);
    if (!wide.valid)
    {
        failure = ERROR_INVALID_NAME;
        return false;
    }
    kind = kindOfName(wide.text);
    if (kind != FileKind::regular)
    {
        return true;
    }
    FileHandle handle = NO_FILE;
    if (!openWide(path, 0, SHARE_ALL, FILE_FLAG_BACKUP_SEMANTICS, handle, failure))
    {
        return false;
    }
    uint64_t size = 0;
    const bool known = openFileFacts(handle, kind, size, failure);
    CloseHandle(toHandle(handle));
    return known;
}

// The read-only attribute is asked for too: not every system that runs Windows programs
// refuses the open for it.
bool mayWrite(const std::string& path, unsigned long& failure)
{
    FileHandle handle = NO_FILE;
    if (!openWide(path, GENERIC_WRITE, SHARE_ALL, FILE_FLAG_BACKUP_SEMANTICS, handle, failure))
    {
        return false;
    }
    BY_HANDLE_FILE_INFORMATION info;
    const bool readOnly = GetFileInformationByHandle(toHandle(handle), &info) != 0 &&
                          (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
    CloseHandle(toHandle(handle));
    failure = readOnly ? ERROR_ACCESS_DENIED : 0;
    return !readOnly;
}

bool folderKeepsEntries(const std::string&)
{
    return false;
}

bool openForReading(const std::string& path, FileHandle& handle, unsigned long& failure)
{
    return openWide(path, GENERIC_READ, SHARE_ALL, FILE_FLAG_BACKUP_SEMANTICS, handle, failure);
}

bool openForRewrite(const std::string& path, FileHandle& handle, unsigned long& failure)
{
    return openWide(path, GENERIC_WRITE, FILE_SHARE_READ, FILE_ATTRIBUTE_NORMAL, handle, failure);
}

bool createNewFile(const std::string& path, FileHandle& handle, int& hold, unsigned long& failure)
{
    const bool made =
        openWide(path, GENERIC_WRITE, 0, FILE_ATTRIBUTE_NORMAL, handle, failure, CREATE_NEW);
    hold = made ? holdForRemoval(path.c_str()) : -1;
    return made;
}

bool isAlreadyThere(unsigned long failure)
{
    return failure == ERROR_FILE_EXISTS || failure == ERROR_ALREADY_EXISTS;
}

bool makeFolder(const std::string& path, unsigned long& failure)
{
    const WidePath wide(path);
    if (CreateDirectoryW(wide.text, nullptr))
    {
        return true;
    }
    failure = GetLastError();
    const DWORD attributes = GetFileAttributesW(wide.text);
    return failure == ERROR_ALREADY_EXISTS && attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// The old file's owner, group and access list go to the new file as they are, protected or
// inherited; of its attributes, the ones the user sets (hidden, system, archive, not indexed),
// not the ones that describe how the old file is stored (offline, a reparse point ...).
bool copyFileFacts(const std::string& target, FileHandle, const std::string& tempPath,
                   unsigned long& failure)
{
    const WidePath wide(target);
    const WidePath temp(tempPath);
    constexpr SECURITY_INFORMATION WHAT =
        OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    DWORD needed = 0;
    GetFileSecurityW(wide.text, WHAT, nullptr, 0, &needed);
    std::vector<char> descriptor(needed > 0 ? needed : 1);
    if (needed == 0 || !GetFileSecurityW(wide.text, WHAT, descriptor.data(), needed, &needed) ||
        !SetFileSecurityW(temp.text, WHAT, descriptor.data()))
    {
        return failed(failure);
    }
    constexpr DWORD KEPT = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                           FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    const DWORD attributes = GetFileAttributesW(wide.text);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & KEPT) != 0 &&
        !SetFileAttributesW(temp.text, attributes & KEPT))
    {
        return failed(failure);
    }
    return true;
}

// A pipe or a device is known by its type alone; a disk file's kind and length need its
// information, and without it the system cannot say what the file is.
bool openFileFacts(FileHandle handle, FileKind& kind, uint64_t& size, unsigned long& failure)
{
    const HANDLE file = toHandle(handle);
    SetLastError(NO_ERROR);
    const DWORD type = GetFileType(file);
    if (type == FILE_TYPE_UNKNOWN && GetLastError() != NO_ERROR)
    {
        return failed(failure);
    }
    BY_HANDLE_FILE_INFORMATION info;
    const bool known = GetFileInformationByHandle(file, &info) != 0;
    if (!known && type == FILE_TYPE_DISK)
    {
        return failed(failure);
    }
    kind = type == FILE_TYPE_PIPE                                    ? FileKind::pipe
           : type == FILE_TYPE_CHAR                                  ? FileKind::device
           : type != FILE_TYPE_DISK || !known                        ? FileKind::other
           : (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? FileKind::folder
                                                                     : FileKind::regular;
    size = known ? (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow : 0;
    return true;
}

long long readSome(FileHandle handle, char* buffer, size_t capacity, unsigned long& failure)
{
    const DWORD ask = capacity > 0x40000000 ? 0x40000000 : static_cast<DWORD>(capacity);
    DWORD got = 0;
    if (!ReadFile(toHandle(handle), buffer, ask, &got, nullptr))
    {
        failed(failure);
        return -1;
    }
    return static_cast<long long>(got);
}

bool writeAll(FileHandle handle, const char* data, size_t size, size_t& written,
              unsigned long& failure)
{
    written = 0;
    while (written < size)
    {
        const size_t left = size - written;
        const DWORD ask = left > 0x40000000 ? 0x40000000 : static_cast<DWORD>(left);
        DWORD done = 0;
        const bool wrote = WriteFile(toHandle(handle), data + written, ask, &done, nullptr) != 0;
        written += done;
        if (!wrote || done == 0)
        {
            // A write that succeeds without taking a byte sets no error of its own; whatever
            // GetLastError() still holds is from some earlier call.
            failure = wrote ? ERROR_WRITE_FAULT : GetLastError();
            return false;
        }
    }
    return true;
}

bool cutFile(FileHandle handle, uint64_t length, unsigned long& failure)
{
    return (seekTo(toHandle(handle), length) && SetEndOfFile(toHandle(handle))) || failed(failure);
}

bool flushFile(FileHandle handle, unsigned long& failure)
{
    return FlushFileBuffers(toHandle(handle)) || failed(failure);
}

bool closeFile(FileHandle handle, unsigned long& failure)
{
    return CloseHandle(toHandle(handle)) || failed(failure);
}

// Whether the volume that holds the file surely lacks `needed` more bytes for this user (its
// quota included). A volume that cannot be asked is not taken for a full one.
static bool surelyLacksRoom(const std::string& path, uint64_t needed)
{
    wchar_t full[MAX_PATH + 1];
    wchar_t* name = nullptr;
    const DWORD length = GetFullPathNameW(WidePath(path).text, MAX_PATH + 1, full, &name);
    if (length == 0 || length > MAX_PATH || name == nullptr)
    {
        return false;
    }
    *name = L'\0';
    ULARGE_INTEGER available;
    return GetDiskFreeSpaceExW(full, &available, nullptr, nullptr) != 0 &&
           available.QuadPart < needed;
}

// Writes zeros from the old end of the file to `size`. Growing the end of a file does not
// give it space on every file system (a network share or a file system that keeps holes may
// only note the new length), but written bytes have their space, and none of the old bytes
// changes on the way.
static bool fillTail(FileHandle file, uint64_t from, uint64_t size, unsigned long& failure)
{
    static const char ZEROS[64 * 1024] = {};
    bool ok = seekTo(toHandle(file), from) || failed(failure);
    for (uint64_t at = from; ok && at < size; at += sizeof ZEROS)
    {
        size_t written = 0;
        ok = writeAll(file, ZEROS, size - at < sizeof ZEROS ? size - at : sizeof ZEROS, written,
                      failure);
    }
    return ok && flushFile(file, failure);
}

// A sparse or compressed file may need new space for any byte written over, and no call
// promises it; such a file is not rewritten in place.
bool reserveRewrite(FileHandle file, const std::string& path, uint64_t oldSize, uint64_t size,
                    unsigned long& failure, Unreserved& refusal)
{
    refusal = Unreserved::none;
    const HANDLE handle = toHandle(file);
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handle, &info))
    {
        return failed(failure);
    }
    if ((info.dwFileAttributes & (FILE_ATTRIBUTE_SPARSE_FILE | FILE_ATTRIBUTE_COMPRESSED)) != 0)
    {
        refusal = Unreserved::sparse;
        return false;
    }
    bool ok = true;
    if (size > oldSize)
    {
        ok = !surelyLacksRoom(path, size - oldSize);
        failure = ok ? 0 : ERROR_DISK_FULL;
        ok = ok && fillTail(file, oldSize, size, failure);
        if (!ok)
        {
            seekTo(handle, oldSize);
            SetEndOfFile(handle);
        }
    }
    return (seekTo(handle, 0) || (ok && failed(failure))) && ok;
}

// A file just closed is often held for a moment by a virus scanner or the search indexer,
// which makes the replacement fail as if the file were locked; a few short waits outlast them.
// The rename replaces the old file as a whole; ReplaceFileW would keep more of it, but where it
// fails half way it can leave files of its own in the user's folder.
bool replaceFile(const std::string& from, const std::string& to, unsigned long& failure)
{
    constexpr int TRIES = 5;
    constexpr DWORD PAUSE_MS = 20;
    const WidePath source(from);
    const WidePath target(to);
    for (int attempt = 1;
         !MoveFileExW(source.text, target.text, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
         ++attempt)
    {
        failure = GetLastError();
        const bool passing = failure == ERROR_ACCESS_DENIED || failure == ERROR_SHARING_VIOLATION ||
                             failure == ERROR_LOCK_VIOLATION;
        if (!passing || attempt == TRIES)
        {
            return false;
        }
        Sleep(PAUSE_MS);
    }
    return true;
}

bool removeFile(const std::string& path, unsigned long& failure)
{
    return DeleteFileW(WidePath(path).text) || GetLastError() == ERROR_FILE_NOT_FOUND ||
           failed(failure);
}

// MOVEFILE_WRITE_THROUGH has the rename on the disk when it returns.
void syncFolderOf(const std::string&) {}
