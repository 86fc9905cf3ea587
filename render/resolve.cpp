#include "render/resolve.h"

#include <cstddef>

Resolution resolveAttachment(const std::vector<Triangle>& triangles, Attachment& attachment)
{
    Resolution result;
    double best = ATTACH_RANGE_SQ;

    // Squared distances are compared exactly. An edge met again at the same best distance
    // clears the result but keeps `best`, so a shared edge (whose two copies give the same
    // midpoint to the last bit) can never bind; only a strictly nearer edge met later can.
    for (std::size_t i = 0; i < triangles.size(); i++)
    {
        const Triangle& t = triangles[i];
        for (int k = 0; k < 3; k++)
        {
            const int next = (k + 1) % 3;
            const Vec2& p = t.corners[k];
            const Vec2& q = t.corners[next];
            const Vec2 m = midpoint(p, q);
            const double dx = m.x - attachment.x;
            const double dy = m.y - attachment.y;
            const double d = dx * dx + dy * dy;
            if (d < best)
            {
                best = d;
                result.triangle = static_cast<int>(i);
                result.firstCorner = k;
                result.secondCorner = next;
                result.found = true;
            }
            else if (d == best)
            {
                result.found = false;
            }
        }
    }

    if (!result.found)
    {
        result = Resolution{};
    }
    attachment.triangle = result.triangle;
    attachment.edge = result.firstCorner;
    return result;
}
