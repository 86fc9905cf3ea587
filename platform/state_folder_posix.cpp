#include "platform/file_system.h"
#include "platform/state_folder.h"

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <sys/stat.h>
#include <unistd.h>

// Makes `path` a folder unless it is one, mode 0700; its parent must exist.
static bool makeFolder(const std::string& path, std::string& error)
{
    if (mkdir(path.c_str(), 0700) == 0 || errno == EEXIST)
    {
        struct stat facts;
        if (stat(path.c_str(), &facts) == 0 && S_ISDIR(facts.st_mode))
        {
            return true;
        }
        error = path + " is not a folder";
        return false;
    }
    error = "cannot make " + path + ": " + systemReason(static_cast<unsigned long>(errno));
    return false;
}

bool recoveryFolder(std::string& folder, std::string& error)
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
    const std::string local = fromState ? std::string() : std::string(home) + "/.local";
    const std::string base = fromState ? std::string(state) : local + "/state";
    // Each folder made on the way is private to the user, as the desktop's state folders are.
    folder = base + "/gantrix/recovery";
    return (fromState || makeFolder(local, error)) && makeFolder(base, error) &&
           makeFolder(base + "/gantrix", error) && makeFolder(folder, error);
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
