#include "tests/bind_plain.h"

#include <cstddef>

void bindOneByOne(const std::vector<Triangle>& triangles, Attachment& attachment)
{
    const Vec2 at{attachment.x, attachment.y};
    double best = ATTACH_RANGE_SQ;
    bool found = false;
    int triangle = NO_EDGE;
    int edge = NO_EDGE;

    // Squared distances are compared exactly. An edge met again at the same best distance
    // clears the result but keeps `best`, so a shared edge (whose two copies give the same
    // midpoint to the last bit) can never bind; only a strictly nearer edge met later can.
    for (std::size_t i = 0; i < triangles.size(); i++)
    {
        for (int k = 0; k < 3; k++)
        {
            const double d = squaredDistance(edgeMidpoint(triangles[i], k), at);
            if (d < best)
            {
                best = d;
                triangle = static_cast<int>(i);
                edge = k;
                found = true;
            }
            else if (d == best)
            {
                found = false;
            }
        }
    }

    attachment.triangle = found ? triangle : NO_EDGE;
    attachment.edge = found ? edge : NO_EDGE;
}
