#include "app/input.h"

#include "app/view.h"
#include "edit/pointer_edit.h"

void handlePointerMotion(int x, int y)
{
    EditorState& e = editor;
    const Vec2 previous = e.pointerWorld;
    mapPointerToWorld(e, x, y);
    // The pan runs after the mapping, so this event's pointer uses the old origin.
    if (e.panActive)
    {
        panStep(e, x, y);
    }
    if (e.vertexDragActive && cornerDragStep(previous, e.pointerWorld))
    {
        return;
    }
    if (e.attachmentDragActive)
    {
        attachmentDragStep(e.pointerWorld);
    }
}

void handlePointerButton(PointerButton button, bool pressed, int x, int y)
{
    // The event's own position first: it updates the pointer and carries any pan or
    // drag in progress to here before the button changes anything.
    handlePointerMotion(x, y);
    pointerButtonCommand(button, pressed, x, y);
}
