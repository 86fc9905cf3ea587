#include "model/ship.h"

Ship ship;
EditorState editor;

double doubleSignedArea(const Triangle& t)
{
    const Vec2& a = t.corners[0];
    const Vec2& b = t.corners[1];
    const Vec2& c = t.corners[2];
    return ((a.x * b.y - b.x * a.y) + (b.x * c.y - c.x * b.y)) + (c.x * a.y - a.x * c.y);
}
