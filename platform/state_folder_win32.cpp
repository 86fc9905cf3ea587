#include "platform/state_folder.h"
#include "platform/text_utf16.h"

#include <cstdlib>
#include <ctime>
#include <windows.h>

// Under %LOCALAPPDATA% every folder is the user's own already.
bool recoveryFolder(std::string& top, std::string& below, std::string& error)
{
    const wchar_t* local = _wgetenv(L"LOCALAPPDATA");
    if (local == nullptr || local[0] == L'\0')
    {
        error = "LOCALAPPDATA names no folder";
        return false;
    }
    top = narrow(local) + "\\Gantrix";
    below = "recovery";
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
