#include "platform/key_state.h"

// The key state followed from the toolkit's key and modifier events as they arrive, so that it
// answers for the event being handled; nothing here asks the system.

namespace
{
// Codes the toolkit uses for modifier presses reported as special keys.
constexpr int SPECIAL_SHIFT_LEFT = 0x70;
constexpr int SPECIAL_SHIFT_RIGHT = 0x71;
constexpr int SPECIAL_CTRL_LEFT = 0x72;
constexpr int SPECIAL_CTRL_RIGHT = 0x73;
constexpr int MODIFIER_SHIFT = 1;
constexpr int MODIFIER_CTRL = 2;
constexpr unsigned char TAB_CHARACTER = 9;

struct KeyState
{
    // Left and right are tracked apart so that releasing one while the other is held
    // does not report the modifier as up.
    bool shiftLeft = false;
    bool shiftRight = false;
    bool ctrlLeft = false;
    bool ctrlRight = false;
    bool tab = false;
};

KeyState keys;
} // namespace

bool isKeyDown(Key key)
{
    switch (key)
    {
        case Key::Shift:
            return keys.shiftLeft || keys.shiftRight;
        case Key::Control:
            return keys.ctrlLeft || keys.ctrlRight;
        case Key::Tab:
            return keys.tab;
    }
    return false;
}

// Sets one key as if only its left-hand key were held or released.
void setKeyDown(Key key, bool down)
{
    switch (key)
    {
        case Key::Shift:
            keys.shiftLeft = down;
            keys.shiftRight = false;
            break;
        case Key::Control:
            keys.ctrlLeft = down;
            keys.ctrlRight = false;
            break;
        case Key::Tab:
            keys.tab = down;
            break;
    }
}

void noteEventModifiers(int modifierBits)
{
    // The event's own report wins; only correct the side bits when they disagree, so a
    // held right-hand key keeps being tracked as such.
    if (((modifierBits & MODIFIER_SHIFT) != 0) != isKeyDown(Key::Shift))
    {
        setKeyDown(Key::Shift, (modifierBits & MODIFIER_SHIFT) != 0);
    }
    if (((modifierBits & MODIFIER_CTRL) != 0) != isKeyDown(Key::Control))
    {
        setKeyDown(Key::Control, (modifierBits & MODIFIER_CTRL) != 0);
    }
}

void noteSpecialKey(int specialKey, bool down)
{
    switch (specialKey)
    {
        case SPECIAL_SHIFT_LEFT:
            keys.shiftLeft = down;
            break;
        case SPECIAL_SHIFT_RIGHT:
            keys.shiftRight = down;
            break;
        case SPECIAL_CTRL_LEFT:
            keys.ctrlLeft = down;
            break;
        case SPECIAL_CTRL_RIGHT:
            keys.ctrlRight = down;
            break;
        default:
            break;
    }
}

void noteCharacterKey(unsigned char character, bool down)
{
    if (character == TAB_CHARACTER)
    {
        keys.tab = down;
    }
}

void releaseAllKeys()
{
    keys = KeyState{};
}
