#include "shipfile/whole_file.h"

#include <cstdio>
#include <windows.h>

// Paths are UTF-8 inside the editor and UTF-16 for Windows, so a folder whose name is not
// ASCII works like any other. Text that is not valid UTF-8 gives an empty result.
static std::wstring widen(const std::string& text)
{
    std::wstring wide;
    const int size = static_cast<int>(text.size());
    const int length =
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
    if (length > 0)
    {
        wide.assign(static_cast<size_t>(length), L'\0');
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, &wide[0], length);
    }
    return wide;
}

static std::string narrow(const std::wstring& wide)
{
    std::string text;
    const int size = static_cast<int>(wide.size());
    const int length =
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    if (length > 0)
    {
        text.assign(static_cast<size_t>(length), '\0');
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, &text[0], length, nullptr, nullptr);
    }
    return text;
}

// The reason for a system error in the words the editor uses on every system for the common
// ones, and in the system's own words, on one line, for the rest.
static std::string reasonFor(DWORD code)
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

static std::string systemError(const std::string& what, DWORD code)
{
    return what + ": " + reasonFor(code);
}

static HANDLE toHandle(intptr_t handle)
{
    return reinterpret_cast<HANDLE>(handle);
}

// What an open handle leads to, when it is not a regular disk file; null when it is one.
static const char* notAFile(HANDLE handle, const BY_HANDLE_FILE_INFORMATION* info)
{
    const DWORD type = GetFileType(handle);
    const char* kind = nullptr;
    if (type == FILE_TYPE_PIPE)
    {
        kind = "a pipe, not a regular file";
    }
    else if (type == FILE_TYPE_CHAR)
    {
        kind = "a device, not a regular file";
    }
    else if (type != FILE_TYPE_DISK || info == nullptr)
    {
        kind = "not a regular file";
    }
    else if ((info->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
    {
        kind = "a folder, not a regular file";
    }
    return kind;
}

// A device name (CON, NUL, COM1, a pipe ...) reads as a path in the device namespace once
// made whole, wherever it stands in the path; such a name is refused before it is opened, as
// opening some devices may wait or fail in ways that say nothing about the file.
static const char* deviceKind(const std::wstring& path)
{
    wchar_t full[MAX_PATH + 1];
    const DWORD length = GetFullPathNameW(path.c_str(), MAX_PATH + 1, full, nullptr);
    const std::wstring whole = length > 0 && length <= MAX_PATH ? std::wstring(full, length) : path;
    const char* kind = nullptr;
    if (whole.compare(0, 9, L"\\\\.\\pipe\\") == 0)
    {
        kind = "a pipe, not a regular file";
    }
    else if (whole.compare(0, 4, L"\\\\.\\") == 0)
    {
        kind = "a device, not a regular file";
    }
    return kind;
}

// Opens whatever `path` names without reading or writing it, folders included, so that it can
// be looked at before anything is done to it. Opening a device name such as CON or NUL this
// way does not wait for anything.
static HANDLE openToInspect(const std::wstring& path, DWORD access)
{
    return CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

bool openFileSource(const char* path, FileSource& source, std::string& error)
{
    const std::wstring wide = widen(path);
    if (wide.empty())
    {
        error = reasonFor(ERROR_INVALID_NAME);
        return false;
    }
    const char* device = deviceKind(wide);
    if (device != nullptr)
    {
        error = device;
        return false;
    }
    HANDLE handle = openToInspect(wide, GENERIC_READ);
    if (handle == INVALID_HANDLE_VALUE)
    {
        error = reasonFor(GetLastError());
        return false;
    }
    BY_HANDLE_FILE_INFORMATION info;
    const bool known = GetFileInformationByHandle(handle, &info) != 0;
    const char* kind = notAFile(handle, known ? &info : nullptr);
    if (kind != nullptr)
    {
        error = kind;
        CloseHandle(handle);
        return false;
    }
    source.handle = reinterpret_cast<intptr_t>(handle);
    source.size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    error.clear();
    return true;
}

long long readFileSource(FileSource& source, char* buffer, size_t capacity, std::string& error)
{
    const DWORD ask = capacity > 0x40000000 ? 0x40000000 : static_cast<DWORD>(capacity);
    DWORD got = 0;
    if (!ReadFile(toHandle(source.handle), buffer, ask, &got, nullptr))
    {
        error = reasonFor(GetLastError());
        return -1;
    }
    return static_cast<long long>(got);
}

void closeFileSource(FileSource& source)
{
    if (source.handle != -1)
    {
        CloseHandle(toHandle(source.handle));
        source.handle = -1;
    }
}

// A name beside the target that no other file has yet: the target's name, a dot and six
// letters or digits, as the other systems' temporary files are named.
static HANDLE createTemporary(const std::string& target, std::string& tempPath, DWORD& failure)
{
    static const char LETTERS[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    unsigned long long seed =
        static_cast<unsigned long long>(now.QuadPart) ^ (GetCurrentProcessId() * 2654435761ull);
    HANDLE handle = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 100 && handle == INVALID_HANDLE_VALUE; ++attempt)
    {
        tempPath = target + ".";
        for (int i = 0; i < 6; ++i)
        {
            seed = seed * 6364136223846793005ull + 1442695040888963407ull;
            tempPath += LETTERS[(seed >> 33) % (sizeof LETTERS - 1)];
        }
        handle = CreateFileW(widen(tempPath).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
        failure = handle == INVALID_HANDLE_VALUE ? GetLastError() : 0;
        if (failure != ERROR_FILE_EXISTS && failure != ERROR_ALREADY_EXISTS)
        {
            break;
        }
    }
    return handle;
}

bool beginFileReplacement(const char* path, FileReplacement& replacement, std::string& error)
{
    replacement = FileReplacement{};
    replacement.target = path;
    const std::wstring wide = widen(path);
    if (wide.empty())
    {
        error = systemError(path, ERROR_INVALID_NAME);
        return false;
    }
    const char* device = deviceKind(wide);
    if (device != nullptr)
    {
        error = replacement.target + " is " + device;
        return false;
    }
    // An existing target must be a regular file the user may write; a read-only file stays
    // as it is, as it would against any program that opened it for writing. Only a target
    // that is surely not there is a new file: one that is there but cannot be looked at is
    // not saved over blindly.
    bool replacing = false;
    HANDLE existing = openToInspect(wide, 0);
    const DWORD inspectFailure = existing == INVALID_HANDLE_VALUE ? GetLastError() : 0;
    if (existing == INVALID_HANDLE_VALUE && inspectFailure != ERROR_FILE_NOT_FOUND &&
        inspectFailure != ERROR_PATH_NOT_FOUND)
    {
        error = systemError(replacement.target, inspectFailure);
        return false;
    }
    if (existing != INVALID_HANDLE_VALUE)
    {
        BY_HANDLE_FILE_INFORMATION info;
        const bool known = GetFileInformationByHandle(existing, &info) != 0;
        const char* kind = notAFile(existing, known ? &info : nullptr);
        CloseHandle(existing);
        if (kind != nullptr)
        {
            error = replacement.target + " is " + kind;
            return false;
        }
        if ((info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0)
        {
            error = systemError(replacement.target, ERROR_ACCESS_DENIED);
            return false;
        }
        HANDLE writable = openToInspect(wide, GENERIC_WRITE);
        if (writable == INVALID_HANDLE_VALUE)
        {
            error = systemError(replacement.target, GetLastError());
            return false;
        }
        CloseHandle(writable);
        replacing = true;
    }

    DWORD failure = 0;
    HANDLE handle = createTemporary(replacement.target, replacement.tempPath, failure);
    if (handle == INVALID_HANDLE_VALUE && failure == ERROR_ACCESS_DENIED && replacing)
    {
        // A folder that takes no new files but whose ship file may be written: the file is
        // rewritten where it is, and cut to its new length only once all of it is written.
        replacement.tempPath.clear();
        handle = CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
        failure = handle == INVALID_HANDLE_VALUE ? GetLastError() : 0;
        if (handle == INVALID_HANDLE_VALUE)
        {
            error = systemError(replacement.target, failure);
            return false;
        }
        LARGE_INTEGER length;
        if (!GetFileSizeEx(handle, &length))
        {
            error = systemError(replacement.target, GetLastError());
            CloseHandle(handle);
            return false;
        }
        replacement.inPlace = true;
        replacement.oldSize = static_cast<uint64_t>(length.QuadPart);
    }
    if (handle == INVALID_HANDLE_VALUE)
    {
        error = systemError("creating " + replacement.tempPath, failure);
        replacement.tempPath.clear();
        return false;
    }
    replacement.handle = reinterpret_cast<intptr_t>(handle);
    error.clear();
    return true;
}

static std::string writtenFile(const FileReplacement& replacement)
{
    return replacement.inPlace ? replacement.target : replacement.tempPath;
}

bool writeFileReplacement(FileReplacement& replacement, const char* data, size_t size,
                          std::string& error)
{
    size_t written = 0;
    while (written < size)
    {
        const size_t left = size - written;
        const DWORD ask = left > 0x40000000 ? 0x40000000 : static_cast<DWORD>(left);
        DWORD done = 0;
        const bool wrote =
            WriteFile(toHandle(replacement.handle), data + written, ask, &done, nullptr) != 0;
        replacement.changed = replacement.changed || (replacement.inPlace && done > 0);
        if (!wrote || done == 0)
        {
            // A write that succeeds without taking a byte sets no error of its own; whatever
            // GetLastError() still holds is from some earlier call.
            const DWORD failure = wrote ? ERROR_WRITE_FAULT : GetLastError();
            error = systemError("writing " + writtenFile(replacement), failure);
            return false;
        }
        written += done;
    }
    return true;
}

// Moves the file's position to `offset` from its start.
static bool seekTo(HANDLE handle, uint64_t offset)
{
    LARGE_INTEGER at;
    at.QuadPart =
        offset > static_cast<uint64_t>(INT64_MAX) ? INT64_MAX : static_cast<LONGLONG>(offset);
    return SetFilePointerEx(handle, at, nullptr, FILE_BEGIN) != 0;
}

// Whether the volume that holds `path` surely lacks `needed` more bytes for this user (its
// quota included). A volume that cannot be asked is not taken for a full one.
static bool surelyLacksRoom(const std::wstring& path, uint64_t needed)
{
    wchar_t full[MAX_PATH + 1];
    wchar_t* name = nullptr;
    const DWORD length = GetFullPathNameW(path.c_str(), MAX_PATH + 1, full, &name);
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
static bool fillTail(HANDLE handle, uint64_t from, uint64_t size, DWORD& failure)
{
    static const char ZEROS[64 * 1024] = {};
    bool ok = seekTo(handle, from);
    for (uint64_t at = from; ok && at < size;)
    {
        const DWORD ask =
            size - at > sizeof ZEROS ? DWORD{sizeof ZEROS} : static_cast<DWORD>(size - at);
        DWORD done = 0;
        const bool wrote = WriteFile(handle, ZEROS, ask, &done, nullptr) != 0;
        // A write that takes fewer bytes without an error of its own is the disk filling up.
        ok = wrote && done == ask;
        failure = ok ? 0 : wrote ? ERROR_DISK_FULL : GetLastError();
        at += done;
    }
    if (ok && !FlushFileBuffers(handle))
    {
        ok = false;
        failure = GetLastError();
    }
    return ok;
}

bool reserveFileReplacement(FileReplacement& replacement, uint64_t size, std::string& error)
{
    if (!replacement.inPlace)
    {
        return true;
    }
    HANDLE handle = toHandle(replacement.handle);
    // A sparse or compressed file may need new space for any byte written over, and no call
    // promises it; such a file is not rewritten in place.
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handle, &info))
    {
        error = systemError("writing " + replacement.target, GetLastError());
        return false;
    }
    if ((info.dwFileAttributes & (FILE_ATTRIBUTE_SPARSE_FILE | FILE_ATTRIBUTE_COMPRESSED)) != 0)
    {
        error = "writing " + replacement.target +
                ": a sparse or compressed file cannot have space reserved for rewriting it in "
                "place";
        return false;
    }
    const uint64_t old = replacement.oldSize;
    DWORD failure = 0;
    bool ok = true;
    if (size > old)
    {
        ok = !surelyLacksRoom(widen(replacement.target), size - old);
        failure = ok ? 0 : ERROR_DISK_FULL;
        ok = ok && fillTail(handle, old, size, failure);
        if (!ok)
        {
            // The file is cut back to its old length: byte for byte the old file again.
            seekTo(handle, old);
            SetEndOfFile(handle);
        }
    }
    if (!seekTo(handle, 0) && ok)
    {
        ok = false;
        failure = GetLastError();
    }
    if (!ok)
    {
        error = systemError("writing " + replacement.target, failure);
    }
    return ok;
}

// Puts the finished temporary file in the target's place with a rename, which replaces the
// old file as a whole: the file in place has the temporary file's security (the folder's, as
// any new file there gets) and creation time, and the old file's attributes only as far as
// they were copied. ReplaceFileW would keep more, but where it fails half way it can leave
// files of its own in the user's folder.
static bool putInPlace(const std::wstring& temp, const std::wstring& target, DWORD& failure)
{
    if (MoveFileExW(temp.c_str(), target.c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    {
        return true;
    }
    failure = GetLastError();
    return false;
}

// A file just closed is often held for a moment by a virus scanner or the search indexer,
// which makes the replacement fail as if the file were locked; a few short waits outlast them.
static bool putInPlaceWithRetries(const std::wstring& temp, const std::wstring& target,
                                  DWORD& failure)
{
    constexpr int TRIES = 5;
    constexpr DWORD PAUSE_MS = 20;
    for (int attempt = 1;; ++attempt)
    {
        if (putInPlace(temp, target, failure))
        {
            return true;
        }
        const bool passing = failure == ERROR_ACCESS_DENIED || failure == ERROR_SHARING_VIOLATION ||
                             failure == ERROR_LOCK_VIOLATION;
        if (!passing || attempt == TRIES)
        {
            return false;
        }
        Sleep(PAUSE_MS);
    }
}

bool commitFileReplacement(FileReplacement& replacement, std::string& error)
{
    HANDLE handle = toHandle(replacement.handle);
    std::string step = "flushing " + writtenFile(replacement);
    bool ok = true;
    if (replacement.inPlace)
    {
        // Cutting the file to the new length changes it too, if only at its end.
        LARGE_INTEGER length{};
        const LARGE_INTEGER here{};
        SetFilePointerEx(handle, here, &length, FILE_CURRENT);
        replacement.changed =
            replacement.changed || static_cast<uint64_t>(length.QuadPart) != replacement.oldSize;
        step = "writing " + replacement.target;
        ok = SetEndOfFile(handle) != 0;
    }
    if (ok)
    {
        step = "flushing " + writtenFile(replacement);
        ok = FlushFileBuffers(handle) != 0;
    }
    DWORD failure = ok ? 0 : GetLastError();
    if (!CloseHandle(handle) && ok)
    {
        step = "closing " + writtenFile(replacement);
        ok = false;
        failure = GetLastError();
    }
    replacement.handle = -1;
    if (ok && !replacement.inPlace)
    {
        const std::wstring target = widen(replacement.target);
        const std::wstring temp = widen(replacement.tempPath);
        // The new file takes those of the old one's attributes that the user sets (hidden,
        // system, archive, not indexed); the ones that describe how the old file is stored
        // (offline, recalled on open, a reparse point ...) are not the new file's to claim.
        constexpr DWORD KEPT = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                               FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
        const DWORD attributes = GetFileAttributesW(target.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & KEPT) != 0)
        {
            SetFileAttributesW(temp.c_str(), attributes & KEPT);
        }
        step = "renaming " + replacement.tempPath + " to " + replacement.target;
        ok = putInPlaceWithRetries(temp, target, failure);
    }
    if (!ok)
    {
        abandonFileReplacement(replacement);
        error = systemError(step, failure);
        return false;
    }
    replacement.tempPath.clear();
    error.clear();
    return true;
}

void abandonFileReplacement(FileReplacement& replacement)
{
    if (replacement.handle != -1)
    {
        if (replacement.inPlace && !replacement.changed)
        {
            seekTo(toHandle(replacement.handle), replacement.oldSize);
            SetEndOfFile(toHandle(replacement.handle));
        }
        CloseHandle(toHandle(replacement.handle));
        replacement.handle = -1;
    }
    if (!replacement.tempPath.empty())
    {
        DeleteFileW(widen(replacement.tempPath).c_str());
        replacement.tempPath.clear();
    }
}
