#include "edit/geometry.h"

#include <cmath>
#include <utility>

static double snapCoordinate(double v)
{
    // ceil(v - 0.5) rather than round(v): an exact half step goes down on both sides of 0.
    return std::ceil(v / GRID_STEP - 0.5) * GRID_STEP;
}

Vec2 snapToGrid(Vec2 p)
{
    return Vec2{snapCoordinate(p.x), snapCoordinate(p.y)};
}

void normaliseWinding(Triangle& t)
{
    Vec2& a = t.corners[0];
    Vec2& b = t.corners[1];
    Vec2& c = t.corners[2];
    // Slope comparison in plain IEEE arithmetic: a vertical edge gives a signed infinity,
    // coincident corners give NaN (every comparison false). Collinear and coincident
    // corners keep whatever order this test leaves; files store that order, so it stays.
    const bool p = a.x <= b.x;
    const bool q = a.x > c.x;
    const bool s = ((b.y - a.y) / (b.x - a.x) - (c.y - a.y) / (c.x - a.x)) < 0.0;
    if ((p == q) == s)
    {
        std::swap(b, c);
    }
}
