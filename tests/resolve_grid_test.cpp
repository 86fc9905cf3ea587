#include "render/resolve.h"
#include "render/resolve_grid.h"

#include <gtest/gtest.h>

#include <random>

namespace
{
// A random ship on the grid whose triangles share edges (each new one often grows from an
// edge of an earlier one), with attachments placed where bindings are decided by ties:
// on midpoints, halfway between two midpoints, at exactly the binding range, on a fine
// lattice where equal distances are common, and at arbitrary positions.
struct RandomShip
{
    std::vector<Triangle> triangles;
    std::vector<Attachment> attachments;
};

Vec2 mid(const Triangle& t, int k)
{
    return midpoint(t.corners[k], t.corners[(k + 1) % 3]);
}

RandomShip makeShip(unsigned seed, int triangleCount, int attachmentCount, double spread)
{
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> gridStep(-static_cast<int>(spread / 3.125),
                                                static_cast<int>(spread / 3.125));
    std::uniform_int_distribution<int> smallStep(-8, 8);
    std::uniform_int_distribution<int> percent(0, 99);
    RandomShip s;
    for (int i = 0; i < triangleCount; i++)
    {
        Triangle t;
        if (i > 0 && percent(rng) < 60)
        {
            const Triangle& from = s.triangles[std::uniform_int_distribution<int>(0, i - 1)(rng)];
            const int k = std::uniform_int_distribution<int>(0, 2)(rng);
            t.corners[0] = from.corners[(k + 1) % 3];
            t.corners[1] = from.corners[k];
            t.corners[2] = Vec2{t.corners[0].x + 3.125 * smallStep(rng),
                                t.corners[0].y + 3.125 * smallStep(rng)};
        }
        else
        {
            const Vec2 a{3.125 * gridStep(rng), 3.125 * gridStep(rng)};
            t.corners[0] = a;
            t.corners[1] = Vec2{a.x + 3.125 * smallStep(rng), a.y + 3.125 * smallStep(rng)};
            t.corners[2] = Vec2{a.x + 3.125 * smallStep(rng), a.y + 3.125 * smallStep(rng)};
        }
        s.triangles.push_back(t);
    }
    const Vec2 atRange[] = {{10, 30}, {-30, 10}, {26, -18}, {-18, -26}, {0, 31.5}, {31.625, 0}};
    std::uniform_real_distribution<double> anywhere(-spread - 50, spread + 50);
    for (int j = 0; j < attachmentCount; j++)
    {
        Attachment a;
        a.triangle = 12345; // overwritten by both searches
        a.edge = -7;
        const Triangle& t = s.triangles[std::uniform_int_distribution<int>(0, triangleCount - 1)(rng)];
        const Vec2 m = mid(t, std::uniform_int_distribution<int>(0, 2)(rng));
        switch (percent(rng) % 5)
        {
            case 0:
                a.x = m.x;
                a.y = m.y;
                break;
            case 1:
            {
                const Triangle& u = s.triangles[std::uniform_int_distribution<int>(0, triangleCount - 1)(rng)];
                const Vec2 n = mid(u, std::uniform_int_distribution<int>(0, 2)(rng));
                const Vec2 between = midpoint(m, n);
                a.x = between.x;
                a.y = between.y;
                break;
            }
            case 2:
            {
                const Vec2 o = atRange[std::uniform_int_distribution<int>(0, 5)(rng)];
                a.x = m.x + o.x;
                a.y = m.y + o.y;
                break;
            }
            case 3:
                a.x = m.x + 0.78125 * smallStep(rng);
                a.y = m.y + 0.78125 * smallStep(rng);
                break;
            default:
                a.x = anywhere(rng);
                a.y = anywhere(rng);
                break;
        }
        s.attachments.push_back(a);
    }
    return s;
}

// Compares the grid search with the one-by-one search; returns how many attachments bound.
int expectSameBindings(const RandomShip& s, BindingGrid& grid, const char* what)
{
    std::vector<Attachment> naive = s.attachments;
    std::vector<Attachment> fast = s.attachments;
    for (Attachment& a : naive)
    {
        resolveAttachment(s.triangles, a);
    }
    resolveAttachments(grid, s.triangles, fast);
    int bound = 0;
    for (std::size_t j = 0; j < naive.size(); j++)
    {
        EXPECT_EQ(fast[j].triangle, naive[j].triangle) << what << " attachment " << j;
        EXPECT_EQ(fast[j].edge, naive[j].edge) << what << " attachment " << j;
        bound += naive[j].triangle != NO_EDGE ? 1 : 0;
    }
    return bound;
}
} // namespace

TEST(ResolveGrid, SameBindingsAsOneByOneOnRandomShips)
{
    BindingGrid grid; // reused across ships, as the editor reuses it across frames
    int bound = 0, total = 0;
    for (unsigned seed = 1; seed <= 300; seed++)
    {
        const int triangles = 1 + static_cast<int>(seed % 40) * 5;
        const double spread = seed % 3 == 0 ? 60.0 : (seed % 3 == 1 ? 400.0 : 5000.0);
        const RandomShip s = makeShip(seed, triangles, 60, spread);
        bound += expectSameBindings(s, grid, ("seed " + std::to_string(seed)).c_str());
        total += 60;
        if (HasFailure())
        {
            break;
        }
    }
    // The generator must exercise both outcomes, or the comparison proves little.
    EXPECT_GT(bound, total / 10);
    EXPECT_LT(bound, total * 9 / 10);
}

TEST(ResolveGrid, EdgeCasesMatchOneByOne)
{
    BindingGrid grid;
    RandomShip s;
    // No triangles: everything unbound.
    Attachment a;
    a.triangle = 3;
    a.edge = 1;
    s.attachments.push_back(a);
    EXPECT_EQ(expectSameBindings(s, grid, "empty"), 0);

    // A midpoint at exactly the range does not bind; a hair inside does.
    Triangle t;
    t.corners[0] = Vec2{0, 0};
    t.corners[1] = Vec2{20, 0};
    t.corners[2] = Vec2{0, 200};
    s.triangles.push_back(t);
    s.attachments[0].x = 20.0;
    s.attachments[0].y = 30.0; // (10, 0) is 10² + 30² = 1000 away
    EXPECT_EQ(expectSameBindings(s, grid, "range"), 0);
    s.attachments[0].y = 29.999;
    EXPECT_EQ(expectSameBindings(s, grid, "inside"), 1);

    // A shared edge always ties with itself.
    Triangle u;
    u.corners[0] = Vec2{20, 0};
    u.corners[1] = Vec2{0, 0};
    u.corners[2] = Vec2{10, -50};
    s.triangles.push_back(u);
    s.attachments[0].x = 10.0;
    s.attachments[0].y = 1.0;
    EXPECT_EQ(expectSameBindings(s, grid, "shared"), 0);

    // Far-flung triangles make big cells, and huge coordinates fall back to the one-by-one
    // search; both still agree.
    t.corners[0] = Vec2{1.0e9, -1.0e9};
    t.corners[1] = Vec2{1.0e9 + 10, -1.0e9};
    t.corners[2] = Vec2{1.0e9, -1.0e9 + 10};
    s.triangles.push_back(t);
    Attachment b;
    b.x = 1.0e9 + 5;
    b.y = -1.0e9 - 1;
    s.attachments.push_back(b);
    EXPECT_EQ(expectSameBindings(s, grid, "far"), 1);
    t.corners[0].x = 3.0e38;
    s.triangles.push_back(t);
    EXPECT_EQ(expectSameBindings(s, grid, "huge"), 1);
}
