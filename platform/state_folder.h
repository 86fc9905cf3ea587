#pragma once

#include <cstdint>
#include <ctime>
#include <string>

// What the recovery copies ask the system, one source per system: state_folder_posix.cpp and
// state_folder_win32.cpp. Paths are UTF-8; every failure comes back as a one-line reason in
// `error`; nothing here prints.

// Where the editor's recovery copies go: the folder `below` (a relative path) in `top`, the
// outermost folder the editor may make on the way: gantrix/recovery in $XDG_STATE_HOME, else
// state/gantrix/recovery in $HOME/.local; on Windows recovery in %LOCALAPPDATA%\Gantrix.
bool recoveryFolder(std::string& top, std::string& below, std::string& error);

// `seconds` since 1970 as the user's clock shows it; false when the system cannot say.
bool localTime(int64_t seconds, std::tm& local);

// The editor's process id, which tells two runs started in the same second apart.
unsigned long processId();
