#include "tests/key_press.h"

#include <windows.h>

// The editor asks Windows for the thread's key state; the test writes it there.
void pressKey(Key key, bool down)
{
    BYTE state[256];
    if (!GetKeyboardState(state))
    {
        return;
    }
    const int virtualKey = key == Key::Shift ? VK_SHIFT : key == Key::Control ? VK_CONTROL : VK_TAB;
    state[virtualKey] =
        static_cast<BYTE>(down ? (state[virtualKey] | 0x80) : (state[virtualKey] & 0x7F));
    SetKeyboardState(state);
}
