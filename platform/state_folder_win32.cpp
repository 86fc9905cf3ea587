#include "platform/file_system.h"
#include "platform/state_folder.h"
#include "platform/text_utf16.h"

#include <cstdlib>
#include <ctime>
#include <windows.h>

// Makes `path` a folder unless it is one. Under %LOCALAPPDATA% it is the user's own already.
static bool makeFolder(const std::string& path, std::string& error)
{
    const WidePath wide(path);
    if (CreateDirectoryW(wide.text, nullptr) || GetLastError() == ERROR_ALREADY_EXISTS)
    {
        const DWORD attributes = GetFileAttributesW(wide.text);
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

bool localTime(int64_t seconds, std::tm& local)
{
    const time_t when = static_cast<time_t>(seconds);
    return localtime_s(&local, &when) == 0;
}

unsigned long processId()
{
    return static_cast<unsigned long>(GetCurrentProcessId());
}
