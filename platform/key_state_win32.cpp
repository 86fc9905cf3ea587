#include "platform/key_state.h"

#include <windows.h>

// Windows keeps the state of every key as of the message being handled, so the editor asks
// it directly; the high-order bit of the answer is set while the key is held.
bool isKeyDown(Key key)
{
    constexpr int VIRTUAL_KEYS[] = {VK_SHIFT, VK_CONTROL, VK_TAB}; // in the order of Key
    return (GetKeyState(VIRTUAL_KEYS[static_cast<int>(key)]) & 0x8000) != 0;
}

void sampleKeysForEvent() {}
