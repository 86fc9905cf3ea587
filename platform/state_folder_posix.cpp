#include "platform/state_folder.h"

#include <cstdlib>
#include <ctime>
#include <unistd.h>

bool recoveryFolder(std::string& top, std::string& below, std::string& error)
{
    // A relative XDG_STATE_HOME is to be ignored, as for every XDG folder.
    const char* state = std::getenv("XDG_STATE_HOME");
    const char* home = std::getenv("HOME");
    const bool fromState = state != nullptr && state[0] == '/';
    if (!fromState && (home == nullptr || home[0] != '/'))
    {
        error = "neither XDG_STATE_HOME nor HOME names a folder";
        return false;
    }
    top = fromState ? std::string(state) : std::string(home) + "/.local";
    below = fromState ? "gantrix/recovery" : "state/gantrix/recovery";
    return true;
}

bool localTime(int64_t seconds, std::tm& local)
{
    const time_t when = static_cast<time_t>(seconds);
    return localtime_r(&when, &local) != nullptr;
}

unsigned long processId()
{
    return static_cast<unsigned long>(getpid());
}
