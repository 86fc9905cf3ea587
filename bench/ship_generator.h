#pragma once

#include "model/ship.h"

#include <algorithm>
#include <cmath>
#include <random>

// A reproducible ship for measurements: triangles on the grid laid out like a hull (pairs
// sharing an edge, spread over a square that grows with the count) and attachments a few
// units off random edge midpoints, so that most of them bind.
inline Ship makeBenchShip(int triangleCount, int attachmentCount, unsigned seed = 42)
{
    std::mt19937 rng(seed);
    Ship s;
    const int side = 1 + static_cast<int>(std::sqrt(static_cast<double>(triangleCount) / 2.0));
    std::uniform_int_distribution<int> jitter(-1, 1);
    for (int i = 0; s.triangles.size() < static_cast<std::size_t>(triangleCount); i++)
    {
        const double x = (i % side) * 12.5 - side * 6.25;
        const double y = (i / side) * 12.5 - side * 6.25;
        Triangle lower;
        lower.corners[0] = Vec2{x, y};
        lower.corners[1] = Vec2{x + 12.5 + 3.125 * jitter(rng), y};
        lower.corners[2] = Vec2{x, y + 12.5};
        s.triangles.push_back(lower);
        if (s.triangles.size() < static_cast<std::size_t>(triangleCount))
        {
            Triangle upper;
            upper.corners[0] = lower.corners[1];
            upper.corners[1] = Vec2{x + 12.5, y + 12.5 + 3.125 * jitter(rng)};
            upper.corners[2] = lower.corners[2];
            s.triangles.push_back(upper);
        }
    }
    std::uniform_int_distribution<int> pick(0, std::max(triangleCount - 1, 0));
    std::uniform_int_distribution<int> edge(0, 2);
    std::uniform_real_distribution<double> offset(-6.0, 6.0);
    std::uniform_real_distribution<double> anywhere(-140.0, 140.0);
    for (int j = 0; j < attachmentCount; j++)
    {
        if (triangleCount == 0)
        {
            // Nothing to bind to: spread them over the view.
            Attachment a;
            a.key = static_cast<unsigned char>('a' + j % 26);
            a.x = anywhere(rng);
            a.y = anywhere(rng);
            s.attachments.push_back(a);
            continue;
        }
        const Triangle& t = s.triangles[static_cast<std::size_t>(pick(rng))];
        const int k = edge(rng);
        const Vec2 m = edgeMidpoint(t, k);
        Attachment a;
        a.key = static_cast<unsigned char>('A' + j % 26);
        a.x = m.x + offset(rng);
        a.y = m.y + offset(rng);
        a.modeFlag = (j % 2) == 0;
        s.attachments.push_back(a);
    }
    return s;
}
