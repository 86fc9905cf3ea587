#pragma once

#include <string>

// Whether the X display the toolkit will open (a "-display NAME" argument, else $DISPLAY)
// answers. When it does not, `reason` holds one line for the user.
bool displayReachable(int argc, char** argv, std::string& reason);
