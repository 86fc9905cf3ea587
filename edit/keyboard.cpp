#include "edit/keyboard.h"

#include "edit/save_load.h"
#include "model/ship.h"
#include "platform/key_state.h"

void keyboardCommand(unsigned char character)
{
    switch (character)
    {
        case KEY_REMOVE_POINT:
            if (!ship.pendingPoints.empty())
            {
                ship.pendingPoints.pop_back();
            }
            break;
        case KEY_SAVE:
            saveShip();
            break;
        case KEY_LOAD:
            loadShip();
            break;
        default:
            break;
    }
    // Both checks run after the command and for every character, commands included.
    EditorState& e = editor;
    if (isKeyDown(Key::Tab))
    {
        e.modeFlag = !e.modeFlag;
    }
    if (isKeyDown(Key::Shift))
    {
        e.currentKey = character;
    }
}
