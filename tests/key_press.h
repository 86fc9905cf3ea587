#pragma once

#include "platform/key_state.h"

// Holds or releases one key as the key-state queries will report it for the next event, the
// way the system would tell the editor of it (key_press_x11.cpp, key_press_win32.cpp).
void pressKey(Key key, bool down);
