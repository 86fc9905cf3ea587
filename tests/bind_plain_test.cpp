#include "render/markers.h"
#include "test_support.h"
#include "tests/bind_plain.h"

#include <cmath>
#include <gtest/gtest.h>
#include <vector>

static Attachment at(double x, double y)
{
    Attachment a;
    a.x = x;
    a.y = y;
    return a;
}

TEST(BindPlain, SingleTriangleBindsNearestEdgeAndArmPointsOut)
{
    const std::vector<Triangle> ts = {tri({0, 0}, {10, 0}, {0, 10})};
    // Squared distances 25, 100 and 125 to the midpoints of edges 0, 1 and 2.
    Attachment a = at(5, -5);
    bindOneByOne(ts, a);
    EXPECT_EQ(a.triangle, 0);
    EXPECT_EQ(a.edge, 0);

    const Vec2 tip = markerArmTip(ts[0].corners[0], ts[0].corners[1]);
    EXPECT_EQ(tip.x, 5.0);
    EXPECT_EQ(tip.y, -20.0);

    // Edge 2 runs from corner c back to corner a; its arm stands off to the left of x = 0.
    Attachment left = at(-3, 5);
    bindOneByOne(ts, left);
    EXPECT_EQ(left.triangle, 0);
    EXPECT_EQ(left.edge, 2);
    const Vec2 tip2 = markerArmTip(ts[0].corners[2], ts[0].corners[0]);
    EXPECT_EQ(tip2.x, -20.0);
    EXPECT_EQ(tip2.y, 5.0);

    // The hypotenuse: length from the table root, so the arm is 20 units to within its error.
    const Vec2 tip1 = markerArmTip(ts[0].corners[1], ts[0].corners[2]);
    EXPECT_NEAR(tip1.x, 5.0 + 20.0 / std::sqrt(2.0), 1e-3);
    EXPECT_NEAR(tip1.y, 5.0 + 20.0 / std::sqrt(2.0), 1e-3);

    // Corners that coincide give no direction: the arm has no length.
    const Vec2 same = markerArmTip(Vec2{3, 4}, Vec2{3, 4});
    EXPECT_EQ(same.x, 3.0);
    EXPECT_EQ(same.y, 4.0);
}

TEST(BindPlain, RangeIsStrictlyBelowThousand)
{
    // Edge 0's midpoint is (0, 0); the other midpoints are hundreds of units away.
    const std::vector<Triangle> ts = {tri({-10, 0}, {10, 0}, {0, 500})};

    // 30^2 + 10^2 = 1000 exactly: out of range.
    Attachment edgeOfRange = at(30, -10);
    bindOneByOne(ts, edgeOfRange);
    EXPECT_EQ(edgeOfRange.triangle, NO_EDGE);
    EXPECT_EQ(edgeOfRange.edge, NO_EDGE);

    // The next double below 30 puts it just inside.
    Attachment inside = at(std::nextafter(30.0, 0.0), -10);
    bindOneByOne(ts, inside);
    EXPECT_EQ(inside.triangle, 0);
    EXPECT_EQ(inside.edge, 0);

    // On the midpoint itself: distance 0.
    Attachment onMid = at(0, 0);
    bindOneByOne(ts, onMid);
    EXPECT_EQ(onMid.edge, 0);
}

TEST(BindPlain, SharedEdgeNeverBindsOutlineEdgeDoes)
{
    // Two counterclockwise triangles sharing the diagonal from (10, 0) to (0, 10): edge 1 of
    // the first and edge 2 of the second, whose midpoint (5, 5) is the same in both.
    const std::vector<Triangle> ts = {tri({0, 0}, {10, 0}, {0, 10}),
                                      tri({10, 0}, {10, 10}, {0, 10})};
    Attachment a = at(5, 6);
    bindOneByOne(ts, a);
    EXPECT_EQ(a.triangle, NO_EDGE);
    EXPECT_EQ(a.edge, NO_EDGE);

    // Moved near the top outline edge (second triangle's edge 1, midpoint (5, 10)).
    a.y = 9;
    bindOneByOne(ts, a);
    EXPECT_EQ(a.triangle, 1);
    EXPECT_EQ(a.edge, 1);

    // Exactly on an outline edge's midpoint (first triangle's edge 0) binds with no link.
    Attachment onEdge = at(5, 0);
    bindOneByOne(ts, onEdge);
    EXPECT_EQ(onEdge.triangle, 0);
    EXPECT_EQ(onEdge.edge, 0);
}

TEST(BindPlain, TieBetweenEdgesUnbindsUnlessLaterEdgeIsNearer)
{
    // Midpoints (0, 0), (10, 0) and (20, 0) from edge 0 of three separate slivers.
    const Triangle first = tri({-1, 0}, {1, 0}, {0, 200});
    const Triangle second = tri({9, 0}, {11, 0}, {10, 200});
    const Triangle third = tri({19, 0}, {21, 0}, {20, 200});

    // (5, 0) is 25 from the first two midpoints: tied, unbound though both are in range.
    Attachment tied = at(5, 0);
    bindOneByOne({first, second}, tied);
    EXPECT_EQ(tied.triangle, NO_EDGE);
    EXPECT_EQ(tied.edge, NO_EDGE);

    // A later edge strictly nearer wins over the tie.
    const Triangle nearer = tri({3, 1}, {7, 1}, {5, 200});
    Attachment won = at(5, 0);
    bindOneByOne({first, second, nearer}, won);
    EXPECT_EQ(won.triangle, 2);
    EXPECT_EQ(won.edge, 0);

    // A later edge at the tied distance keeps it unbound, and one farther does not revive
    // the earlier edges.
    Attachment stillTied = at(5, 0);
    bindOneByOne({first, second, third}, stillTied);
    EXPECT_EQ(stillTied.triangle, NO_EDGE);

    // Two edges tied farther out than the best so far do not unbind it.
    Attachment keptNearest = at(5, 0);
    bindOneByOne({nearer, first, second}, keptNearest);
    EXPECT_EQ(keptNearest.triangle, 0);
    EXPECT_EQ(keptNearest.edge, 0);
}

TEST(BindPlain, FieldsAreRewrittenOnEveryCall)
{
    std::vector<Triangle> ts;
    // Whatever the fields held before, no triangles means unbound.
    Attachment a = at(0, 0);
    a.triangle = 3;
    a.edge = 1;
    bindOneByOne(ts, a);
    EXPECT_EQ(a.triangle, NO_EDGE);
    EXPECT_EQ(a.edge, NO_EDGE);

    ts.push_back(tri({0, 0}, {10, 0}, {0, 10}));
    a = at(5, -5);
    bindOneByOne(ts, a);
    EXPECT_EQ(a.triangle, 0);
    EXPECT_EQ(a.edge, 0);

    // The triangle moved away: the stale binding is cleared, not kept.
    ts[0] = tri({100, 100}, {110, 100}, {100, 110});
    bindOneByOne(ts, a);
    EXPECT_EQ(a.triangle, NO_EDGE);
    EXPECT_EQ(a.edge, NO_EDGE);
}
