#include "edit/geometry.h"
#include "test_support.h"

#include <gtest/gtest.h>

static void expectCorners(const Triangle& t, Vec2 a, Vec2 b, Vec2 c)
{
    const Vec2 want[3] = {a, b, c};
    for (int k = 0; k < 3; k++)
    {
        EXPECT_EQ(t.corners[k].x, want[k].x) << "corner " << k;
        EXPECT_EQ(t.corners[k].y, want[k].y) << "corner " << k;
    }
}

TEST(Geometry, SnapGoesToNearestGridPointAndHalfStepsDown)
{
    const struct
    {
        double in, out;
    } cases[] = {{1.5625, 0.0},    {-1.5625, -3.125}, {1.5626, 3.125},  {4.6875, 3.125},
                 {-4.6875, -6.25}, {7.8, 6.25},       {1000.0, 1000.0}, {0.0, 0.0},
                 {-0.1, 0.0},      {-3.125, -3.125},  {2.0e6, 2.0e6}};
    for (const auto& c : cases)
    {
        const Vec2 s = snapToGrid(Vec2{c.in, c.in});
        EXPECT_EQ(s.x, c.out) << c.in;
        EXPECT_EQ(s.y, c.out) << c.in;
    }
    // The axes snap independently.
    const Vec2 s = snapToGrid(Vec2{0.4, 2.9});
    EXPECT_EQ(s.x, 0.0);
    EXPECT_EQ(s.y, 3.125);
}

TEST(Geometry, WindingMakesTrianglesCounterClockwise)
{
    Triangle ccw = tri({0, 0}, {3.125, 0}, {0, 3.125});
    normaliseWinding(ccw);
    expectCorners(ccw, {0, 0}, {3.125, 0}, {0, 3.125});

    Triangle cw = tri({0, 0}, {0, 3.125}, {3.125, 0});
    normaliseWinding(cw);
    expectCorners(cw, {0, 0}, {3.125, 0}, {0, 3.125});

    // Vertical edges from a go through the infinities and still end up counter-clockwise,
    // as do triangles with a to the right of both other corners.
    const Triangle others[] = {tri({0, 0}, {0, 10}, {-5, 5}),  tri({0, 0}, {-5, 5}, {0, 10}),
                               tri({0, 0}, {10, 5}, {0, -10}), tri({10, 0}, {0, 5}, {0, -5}),
                               tri({10, 0}, {0, -5}, {0, 5}),  tri({-3, 7}, {12.5, -4}, {6, 30})};
    for (Triangle t : others)
    {
        normaliseWinding(t);
        const Vec2 a = t.corners[0], b = t.corners[1], c = t.corners[2];
        EXPECT_GT((b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x), 0.0)
            << a.x << "," << a.y << " " << b.x << "," << b.y << " " << c.x << "," << c.y;
    }
}

// For collinear and coincident corners the slope test, not the cross product, decides.
TEST(Geometry, CollinearAndCoincidentCornersFollowTheSlopeTest)
{
    Triangle t = tri({0, 0}, {3.125, 0}, {6.25, 0});
    normaliseWinding(t);
    expectCorners(t, {0, 0}, {6.25, 0}, {3.125, 0});

    t = tri({3.125, 0}, {0, 0}, {6.25, 0});
    normaliseWinding(t);
    expectCorners(t, {3.125, 0}, {0, 0}, {6.25, 0});

    t = tri({0, 0}, {0, 3.125}, {0, 6.25});
    normaliseWinding(t);
    expectCorners(t, {0, 0}, {0, 6.25}, {0, 3.125});

    t = tri({0, 0}, {0, -3.125}, {0, 6.25});
    normaliseWinding(t);
    expectCorners(t, {0, 0}, {0, -3.125}, {0, 6.25});

    t = tri({1, 1}, {1, 1}, {1, 1});
    normaliseWinding(t);
    expectCorners(t, {1, 1}, {1, 1}, {1, 1});

    // Corner a never moves, whatever the test decides.
    t = tri({5, 5}, {5, 5}, {0, 0});
    normaliseWinding(t);
    EXPECT_EQ(t.corners[0].x, 5.0);
    EXPECT_EQ(t.corners[0].y, 5.0);
}
