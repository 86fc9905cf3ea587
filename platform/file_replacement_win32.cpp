#include "platform/file_replacement.h"
#include "platform/file_rules.h"
#include "platform/file_system.h"
#include "platform/text_utf16.h"

#include <windows.h>

static HANDLE toHandle(intptr_t handle)
{
    return reinterpret_cast<HANDLE>(handle);
}

// The line for a failed step on `path`, with the reason for the system's error `code`.
static std::string failedStep(const char* step, const std::string& path, DWORD code)
{
    return stepLine(step, path, systemReason(code));
}

// A name beside the target that no other file has yet: the target's name, a dot and six
// letters or digits, as the other systems' temporary files are named.
static HANDLE createTemporary(const std::string& target, std::string& tempPath,
                              std::wstring& wideTempPath, DWORD& failure)
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
        wideTempPath = widen(tempPath);
        handle = CreateFileW(wideTempPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
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
    replacement.systemTarget = widen(path);
    const std::wstring& wide = replacement.systemTarget;
    // An existing target must be a regular file the user may write; a read-only file stays
    // as it is, as it would against any program that opened it for writing.
    FileKind kind = FileKind::regular;
    unsigned long inspectFailure = 0;
    const bool replacing = pathKind(replacement.target, kind, inspectFailure);
    const bool notFound =
        inspectFailure == ERROR_FILE_NOT_FOUND || inspectFailure == ERROR_PATH_NOT_FOUND;
    if (!replacing && !targetIsNew(replacement.target, inspectFailure, notFound, error))
    {
        return false;
    }
    if (replacing && kind != FileKind::regular)
    {
        error = refusedTarget(replacement.target, kind);
        return false;
    }
    if (replacing)
    {
        // The read-only attribute is asked for too: not every system that runs Windows
        // programs refuses the open for it.
        HANDLE writable = CreateFileW(wide.c_str(), GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (writable == INVALID_HANDLE_VALUE)
        {
            error = failedStep(nullptr, replacement.target, GetLastError());
            return false;
        }
        BY_HANDLE_FILE_INFORMATION info;
        const bool readOnly = GetFileInformationByHandle(writable, &info) != 0 &&
                              (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
        CloseHandle(writable);
        if (readOnly)
        {
            error = failedStep(nullptr, replacement.target, ERROR_ACCESS_DENIED);
            return false;
        }
    }

    DWORD failure = 0;
    HANDLE handle = createTemporary(replacement.target, replacement.tempPath,
                                    replacement.systemTempPath, failure);
    if (handle == INVALID_HANDLE_VALUE &&
        rewritesInPlace(replacing, failure == ERROR_ACCESS_DENIED))
    {
        // A folder that takes no new files but whose ship file may be written: the file is
        // rewritten where it is, and cut to its new length only once all of it is written.
        replacement.tempPath.clear();
        replacement.systemTempPath.clear();
        handle = CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
        failure = handle == INVALID_HANDLE_VALUE ? GetLastError() : 0;
        if (handle == INVALID_HANDLE_VALUE)
        {
            error = failedStep(nullptr, replacement.target, failure);
            return false;
        }
        LARGE_INTEGER length;
        if (!GetFileSizeEx(handle, &length))
        {
            error = failedStep(nullptr, replacement.target, GetLastError());
            CloseHandle(handle);
            return false;
        }
        replacement.inPlace = true;
        replacement.oldSize = static_cast<uint64_t>(length.QuadPart);
    }
    if (handle == INVALID_HANDLE_VALUE)
    {
        error = failedStep("creating", replacement.tempPath, failure);
        replacement.tempPath.clear();
        replacement.systemTempPath.clear();
        return false;
    }
    replacement.handle = reinterpret_cast<intptr_t>(handle);
    error.clear();
    return true;
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
            error = failedStep("writing", writtenPath(replacement), failure);
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
        error = failedStep("writing", replacement.target, GetLastError());
        return false;
    }
    if ((info.dwFileAttributes & (FILE_ATTRIBUTE_SPARSE_FILE | FILE_ATTRIBUTE_COMPRESSED)) != 0)
    {
        error = stepLine("writing", replacement.target, NO_RESERVATION_SPARSE);
        return false;
    }
    const uint64_t old = replacement.oldSize;
    DWORD failure = 0;
    bool ok = true;
    if (size > old)
    {
        ok = !surelyLacksRoom(replacement.systemTarget, size - old);
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
        error = failedStep("writing", replacement.target, failure);
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
    const char* step = "flushing";
    std::string path = writtenPath(replacement);
    bool ok = true;
    if (replacement.inPlace)
    {
        // Cutting the file to the new length changes it too, if only at its end.
        LARGE_INTEGER length{};
        const LARGE_INTEGER here{};
        SetFilePointerEx(handle, here, &length, FILE_CURRENT);
        replacement.changed =
            replacement.changed || static_cast<uint64_t>(length.QuadPart) != replacement.oldSize;
        step = "writing";
        ok = SetEndOfFile(handle) != 0;
    }
    if (ok)
    {
        step = "flushing";
        ok = FlushFileBuffers(handle) != 0;
    }
    DWORD failure = ok ? 0 : GetLastError();
    if (!CloseHandle(handle) && ok)
    {
        step = "closing";
        ok = false;
        failure = GetLastError();
    }
    replacement.handle = -1;
    if (ok && !replacement.inPlace)
    {
        const std::wstring& target = replacement.systemTarget;
        const std::wstring& temp = replacement.systemTempPath;
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
        step = "renaming";
        path = replacement.tempPath + " to " + replacement.target;
        ok = putInPlaceWithRetries(temp, target, failure);
    }
    if (!ok)
    {
        abandonFileReplacement(replacement);
        error = failedStep(step, path, failure);
        return false;
    }
    replacement.tempPath.clear();
    replacement.systemTempPath.clear();
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
    if (!replacement.systemTempPath.empty())
    {
        DeleteFileW(replacement.systemTempPath.c_str());
    }
    replacement.tempPath.clear();
    replacement.systemTempPath.clear();
}
