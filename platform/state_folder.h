#pragma once

#include <cstdint>
#include <ctime>
#include <string>

// What the recovery copies ask the system, one source per system: state_folder_posix.cpp and
// state_folder_win32.cpp. Paths are UTF-8; every failure comes back as a one-line reason in
// `error`; nothing here prints.

// The folder for the editor's recovery copies, made as needed (private to the user, mode 0700
// where the system has modes): $XDG_STATE_HOME/gantrix/recovery, else
// $HOME/.local/state/gantrix/recovery; on Windows %LOCALAPPDATA%\Gantrix\recovery.
bool recoveryFolder(std::string& folder, std::string& error);

// `seconds` since 1970 as the user's clock shows it; false when the system cannot say.
bool localTime(int64_t seconds, std::tm& local);

// The editor's process id, which tells two runs started in the same second apart.
unsigned long processId();
