#include "platform/file_system.h"
#include "platform/state_folder.h"
#include "platform/text_utf16.h"

#include <cstdlib>
#include <ctime>
#include <windows.h>

// Makes `path` a folder unless it is one. Under %LOCALAPPDATA% it is the user's own already.
static bool makeFolder(const std::string& path, std::string& error)
{
    const std::wstring wide = widen(path);
    if (CreateDirectoryW(wide.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS)
    {
        const DWORD attributes = GetFileAttributesW(wide.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        {
            return true;
        }
        error = path + " is not a folder";
        return false;
    }
    error = "cannot make " + path + ": " + systemReason(GetLastError());
    return false;
}

bool recoveryFolder(std::string& folder, std::string& error)
{
    const wchar_t* local = _wgetenv(L"LOCALAPPDATA");
    if (local == nullptr || local[0] == L'\0')
    {
        error = "LOCALAPPDATA names no folder";
        return false;
    }
    const std::string base = narrow(local) + "\\Gantrix";
    folder = base + "\\recovery";
    return makeFolder(base, error) && makeFolder(folder, error);
}

bool workingFolder(std::string& folder, std::string& error)
{
    wchar_t path[MAX_PATH * 4];
    const DWORD length = GetCurrentDirectoryW(MAX_PATH * 4, path);
    if (length == 0 || length >= MAX_PATH * 4)
    {
        error = "cannot tell the working folder: " + systemReason(GetLastError());
        return false;
    }
    folder = narrow(std::wstring(path, length));
    return true;
}

std::string pathInFolder(const std::string& folder, const std::string& name)
{
    return folder + "\\" + name;
}

// FILETIME counts 100 ns steps from 1601; 11644473600 seconds lie between 1601 and 1970.
static int64_t unixSeconds(const FILETIME& time)
{
    const uint64_t ticks = (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    return static_cast<int64_t>(ticks / 10000000ULL) - 11644473600LL;
}

bool listFolderFiles(const std::string& folder, std::vector<FolderFile>& files, std::string& error)
{
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(widen(folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
    {
        error = "cannot read " + folder + ": " + systemReason(GetLastError());
        return false;
    }
    do
    {
        if ((found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ==
            0)
        {
            files.push_back(
                FolderFile{narrow(found.cFileName), unixSeconds(found.ftLastWriteTime)});
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return true;
}

bool localTime(int64_t seconds, std::tm& local)
{
    const time_t when = static_cast<time_t>(seconds);
    return localtime_s(&local, &when) == 0;
}

unsigned long processId()
{
    return static_cast<unsigned long>(GetCurrentProcessId());
}
