#include "tests/key_press.h"

// Without a window the editor learns the keys from the toolkit's reports alone: the modifier
// bits of an event, and the Tab character going down or up.
void pressKey(Key key, bool down)
{
    if (key == Key::Tab)
    {
        noteCharacterKey('\t', down);
        return;
    }
    bool shift = isKeyDown(Key::Shift);
    bool control = isKeyDown(Key::Control);
    (key == Key::Shift ? shift : control) = down;
    noteEventModifiers((shift ? 1 : 0) | (control ? 2 : 0));
}
