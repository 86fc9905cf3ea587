#include "platform/key_state.h"

#include <windows.h>

static int virtualKeyOf(Key key)
{
    int virtualKey = VK_SHIFT;
    switch (key)
    {
        case Key::Shift:
            virtualKey = VK_SHIFT;
            break;
        case Key::Control:
            virtualKey = VK_CONTROL;
            break;
        case Key::Tab:
            virtualKey = VK_TAB;
            break;
    }
    return virtualKey;
}

// Windows keeps the state of every key as of the message being handled, so the editor asks
// it directly.
bool isKeyDown(Key key)
{
    // The high-order bit of the result is set while the key is held.
    return (GetKeyState(virtualKeyOf(key)) & 0x8000) != 0;
}

void sampleKeysForEvent() {}
