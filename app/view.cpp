#include "app/view.h"

void mapPointerToWorld(EditorState& state, int x, int y)
{
    if (state.windowWidth == 0 || state.windowHeight == 0)
    {
        return;
    }
    // Each operation in this order, in double: the divisions first, so pixel column x
    // maps to the left edge of that column with no half-pixel offset.
    const double wx =
        (static_cast<double>(x) / static_cast<double>(state.windowWidth)) * VIEW_SIZE +
        static_cast<double>(state.viewOrigin.x);
    const double top = static_cast<double>(state.viewOrigin.y + VIEW_SIZE);
    const double wy =
        top - (static_cast<double>(y) / static_cast<double>(state.windowHeight)) * VIEW_SIZE;
    state.pointerWorld = Vec2{wx, wy};
}

void panStep(EditorState& state, int x, int y)
{
    // Integer halving truncates toward zero, so a pointer that moves one pixel per event
    // never pans; the remainder is not carried over.
    const int32_t dx = x - state.lastPointerX;
    state.lastPointerX = x;
    state.viewOrigin.x -= dx / 2;
    const int32_t dy = y - state.lastPointerY;
    state.viewOrigin.y += dy / 2;
    state.lastPointerY = y;
}
