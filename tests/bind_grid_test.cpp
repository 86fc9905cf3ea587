#include "bind/bind_plain.h"
#include "bind/binding_state.h"
#include "edit/save_load.h"
#include "shipfile/ship_file.h"
#include "test_support.h"
#include "tests/failing_allocations.h"
#include "tests/program_internals.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <new>
#include <random>
#include <string>
#include <vector>

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
    return edgeMidpoint(t, k);
}

int pick(std::mt19937& rng, int low, int high)
{
    return std::uniform_int_distribution<int>(low, high)(rng);
}

// A triangle on the grid, often grown from an edge of an earlier one so that they share it.
Triangle randomTriangle(std::mt19937& rng, const std::vector<Triangle>& triangles, double spread)
{
    const int cells = static_cast<int>(spread / 3.125);
    Triangle t;
    if (!triangles.empty() && pick(rng, 0, 99) < 60)
    {
        const Triangle& from = triangles[pick(rng, 0, static_cast<int>(triangles.size()) - 1)];
        const int k = pick(rng, 0, 2);
        t.corners[0] = from.corners[(k + 1) % 3];
        t.corners[1] = from.corners[k];
        t.corners[2] = Vec2{t.corners[0].x + 3.125 * pick(rng, -8, 8),
                            t.corners[0].y + 3.125 * pick(rng, -8, 8)};
    }
    else
    {
        const Vec2 a{3.125 * pick(rng, -cells, cells), 3.125 * pick(rng, -cells, cells)};
        t.corners[0] = a;
        t.corners[1] = Vec2{a.x + 3.125 * pick(rng, -8, 8), a.y + 3.125 * pick(rng, -8, 8)};
        t.corners[2] = Vec2{a.x + 3.125 * pick(rng, -8, 8), a.y + 3.125 * pick(rng, -8, 8)};
    }
    return t;
}

// A position where bindings are decided by ties: on a midpoint, halfway between two, at
// exactly the binding range from one, on a fine lattice around one, or anywhere.
Vec2 randomPlace(std::mt19937& rng, const std::vector<Triangle>& triangles, double spread)
{
    const Vec2 atRange[] = {{10, 30}, {-30, 10}, {26, -18}, {-18, -26}, {0, 31.5}, {31.625, 0}};
    std::uniform_real_distribution<double> anywhere(-spread - 50, spread + 50);
    const int last = static_cast<int>(triangles.size()) - 1;
    const int way = triangles.empty() ? 4 : pick(rng, 0, 4);
    const Vec2 m = way == 4 ? Vec2{} : mid(triangles[pick(rng, 0, last)], pick(rng, 0, 2));
    switch (way)
    {
        case 0:
            return m;
        case 1:
            return midpoint(m, mid(triangles[pick(rng, 0, last)], pick(rng, 0, 2)));
        case 2:
        {
            const Vec2 o = atRange[pick(rng, 0, 5)];
            return Vec2{m.x + o.x, m.y + o.y};
        }
        case 3:
            return Vec2{m.x + 0.78125 * pick(rng, -8, 8), m.y + 0.78125 * pick(rng, -8, 8)};
        default:
            return Vec2{anywhere(rng), anywhere(rng)};
    }
}

RandomShip makeShip(unsigned seed, int triangleCount, int attachmentCount, double spread)
{
    std::mt19937 rng(seed);
    RandomShip s;
    for (int i = 0; i < triangleCount; i++)
    {
        s.triangles.push_back(randomTriangle(rng, s.triangles, spread));
    }
    for (int j = 0; j < attachmentCount; j++)
    {
        Attachment a;
        a.triangle = 12345; // overwritten by both searches
        a.edge = -7;
        const Vec2 p = randomPlace(rng, s.triangles, spread);
        a.x = p.x;
        a.y = p.y;
        s.attachments.push_back(a);
    }
    return s;
}

// Compares the grid search with the one-by-one search; returns how many attachments bound.
int expectSameBindings(const RandomShip& s, MidpointGrid& grid, const char* what)
{
    std::vector<Attachment> naive = s.attachments;
    std::vector<Attachment> fast = s.attachments;
    for (Attachment& a : naive)
    {
        bindOneByOne(s.triangles, a);
    }
    bindWithGrid(grid, s.triangles, fast);
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

TEST(BindGrid, SameBindingsAsOneByOneOnRandomShips)
{
    MidpointGrid grid; // reused across ships, as the editor reuses it across frames
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

TEST(BindGrid, EdgeCasesMatchOneByOne)
{
    MidpointGrid grid;
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

    // Far-flung triangles, one within the cells' reach and one beyond it, leave the rest
    // of the ship in small cells; both still agree.
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

    // Midpoints 4 units either side of 2^32, where the cells end and the far list begins:
    // tied from halfway, the far one from nearer to it.
    const double edge = 4294967296.0;
    s.triangles.push_back(tri({edge - 8, 0}, {edge, 0}, {edge - 4, 200}));
    s.triangles.push_back(tri({edge, 0}, {edge + 8, 0}, {edge + 4, 200}));
    s.attachments.assign(3, Attachment{});
    s.attachments[0].x = edge;
    s.attachments[1].x = edge + 1;
    s.attachments[2].x = edge - 30;
    EXPECT_EQ(expectSameBindings(s, grid, "straddling"), 2);
}

namespace
{
// One edit of the global ship of the kinds the editor makes between frames, plus loads
// (of the same ship, which clears the fields, or of another) and far-flung triangles.
void randomEdit(std::mt19937& rng, double spread)
{
    Ship& s = ship;
    const int lastTriangle = static_cast<int>(s.triangles.size()) - 1;
    const int lastAttachment = static_cast<int>(s.attachments.size()) - 1;
    std::string error;
    switch (pick(rng, 0, 11))
    {
        case 0:
        case 1:
        case 2:
            // Every corner on one grid point moves, and sometimes a triangle is re-wound.
            if (lastTriangle >= 0)
            {
                Triangle& t = s.triangles[pick(rng, 0, lastTriangle)];
                const Vec2 from = t.corners[pick(rng, 0, 2)];
                const Vec2 to{from.x + 3.125 * pick(rng, -3, 3), from.y + 3.125 * pick(rng, -3, 3)};
                for (Triangle& u : s.triangles)
                {
                    for (Vec2& c : u.corners)
                    {
                        c = c.x == from.x && c.y == from.y ? to : c;
                    }
                }
                if (pick(rng, 0, 3) == 0)
                {
                    std::swap(t.corners[1], t.corners[2]);
                }
            }
            break;
        case 3:
            s.triangles.push_back(randomTriangle(rng, s.triangles, spread));
            break;
        case 4:
        {
            Attachment a;
            const Vec2 p = randomPlace(rng, s.triangles, spread);
            a.x = p.x;
            a.y = p.y;
            s.attachments.push_back(a);
            break;
        }
        case 5:
        case 6:
            if (lastAttachment >= 0)
            {
                Attachment& a = s.attachments[pick(rng, 0, lastAttachment)];
                const Vec2 p = randomPlace(rng, s.triangles, spread);
                a.x = p.x;
                a.y = p.y;
            }
            break;
        case 7:
            // The same ship loaded back: positions as before, fields cleared.
            if (pick(rng, 0, 1) == 0)
            {
                ASSERT_TRUE(loadShipFromText(formatShipFile(s.triangles, s.attachments), error))
                    << error;
            }
            for (Attachment& a : s.attachments)
            {
                a.triangle = NO_EDGE;
                a.edge = NO_EDGE;
            }
            break;
        case 8:
            if (lastTriangle >= 0 && pick(rng, 0, 1) == 0)
            {
                s.triangles.erase(s.triangles.begin() + pick(rng, 0, lastTriangle));
            }
            else if (lastAttachment >= 0)
            {
                s.attachments.erase(s.attachments.begin() + pick(rng, 0, lastAttachment));
            }
            break;
        case 9:
        {
            // A run of triangles shifted by one grid step: many changed edges at once.
            const int first = pick(rng, 0, std::max(lastTriangle, 0));
            const int end = std::min(lastTriangle + 1, first + pick(rng, 1, 60));
            for (int i = first; i < end; i++)
            {
                for (Vec2& c : s.triangles[static_cast<std::size_t>(i)].corners)
                {
                    c.x += 3.125;
                }
            }
            break;
        }
        case 10:
        {
            // A triangle far out (inside and beyond 2^32), with an attachment by it.
            const double x = pick(rng, 0, 1) == 0 ? 2.0e9 : 6.0e9;
            s.triangles.push_back(tri({x, -x}, {x + 12.5, -x}, {x, 12.5 - x}));
            Attachment a;
            a.x = x + 6.25 + pick(rng, -4, 4);
            a.y = -x + pick(rng, -4, 4);
            s.attachments.push_back(a);
            break;
        }
        default:
        {
            const RandomShip other = makeShip(rng(), pick(rng, 1, 120), pick(rng, 0, 60), spread);
            ASSERT_TRUE(loadShipFromText(formatShipFile(other.triangles, other.attachments), error))
                << error;
            break;
        }
    }
}
} // namespace

// Frames of random edits, each ending in the frame's binding step: after every frame, each
// attachment holds what the one-by-one search gives for the ship as it is at that frame.
TEST(BindGrid, FrameBindingFollowsEveryEdit)
{
    BindingState state; // one for the whole run, as the editor keeps one across loads
    int rebound = 0;    // attachments whose binding changed though they stayed in place
    int bound = 0, checked = 0;
    for (unsigned seed = 1; seed <= 150 && !HasFailure(); seed++)
    {
        std::mt19937 rng(seed);
        const double spread = seed % 2 == 0 ? 60.0 : 300.0;
        const int triangles = seed % 10 == 0 ? 1500 : 1 + static_cast<int>(seed % 50) * 4;
        const RandomShip start = makeShip(seed, triangles, 40, spread);
        std::string error;
        ASSERT_TRUE(loadShipFromText(formatShipFile(start.triangles, start.attachments), error));
        std::vector<Attachment> last;
        for (int frame = 0; frame < 40 && !HasFailure(); frame++)
        {
            for (int edits = pick(rng, 0, 3); edits > 0; edits--)
            {
                randomEdit(rng, spread);
            }
            bindFrame(state, ship.triangles, ship.attachments);
            for (std::size_t j = 0; j < ship.attachments.size(); j++)
            {
                const Attachment& a = ship.attachments[j];
                Attachment naive = a;
                bindOneByOne(ship.triangles, naive);
                EXPECT_EQ(a.triangle, naive.triangle) << "seed " << seed << " frame " << frame;
                EXPECT_EQ(a.edge, naive.edge) << "seed " << seed << " frame " << frame;
                bound += naive.triangle != NO_EDGE ? 1 : 0;
                checked++;
                if (j < last.size() && last[j].x == a.x && last[j].y == a.y &&
                    (last[j].triangle != a.triangle || last[j].edge != a.edge))
                {
                    rebound++;
                }
            }
            last = ship.attachments;
        }
    }
    ship = Ship{};
    // The edits must move bindings of attachments that stayed put, and bind some but not
    // all, or the comparison proves little.
    EXPECT_GT(rebound, 500);
    EXPECT_GT(bound, checked / 10);
    EXPECT_LT(bound, checked * 9 / 10);
}

// The binding's storage follows the ship: bounded per triangle for a large one, and given
// back when a tiny ship replaces it.
TEST(BindGrid, StorageFollowsTheShip)
{
    BindingState state;
    RandomShip big = makeShip(7, 60000, 3000, 2000);
    bindFrame(state, big.triangles, big.attachments);
    const std::size_t bigBytes = bindingStorageBytes(state);
    EXPECT_GE(bigBytes, 60000 * sizeof(Triangle)); // the snapshot of the triangles alone
    EXPECT_LT(bigBytes, 60000 * 250);

    // What remains is the room set aside for editing the tiny ship.
    RandomShip tiny = makeShip(8, 4, 3, 60);
    bindFrame(state, tiny.triangles, tiny.attachments);
    EXPECT_LT(bindingStorageBytes(state), 256u * 1024u);
    for (const Attachment& a : tiny.attachments)
    {
        Attachment naive = a;
        bindOneByOne(tiny.triangles, naive);
        EXPECT_EQ(a.triangle, naive.triangle);
        EXPECT_EQ(a.edge, naive.edge);
    }
}

namespace
{
// Edits of the global ship that the frame step meets rarely but that need memory: a burst of
// far-flung triangles beyond the room set aside, every triangle moved, most of them removed.
void largeEdit(std::mt19937& rng, double spread)
{
    Ship& s = ship;
    switch (pick(rng, 0, 2))
    {
        case 0:
            for (int i = pick(rng, 200, 700); i > 0; i--)
            {
                s.triangles.push_back(randomTriangle(rng, s.triangles, spread * 40));
                if (i % 8 == 0)
                {
                    Attachment a;
                    const Vec2 p = mid(s.triangles.back(), pick(rng, 0, 2));
                    a.x = p.x + 0.78125 * pick(rng, -8, 8);
                    a.y = p.y;
                    s.attachments.push_back(a);
                }
            }
            break;
        case 1:
            for (Triangle& t : s.triangles)
            {
                for (Vec2& c : t.corners)
                {
                    c.y += 3.125;
                }
            }
            break;
        default:
            s.triangles.resize(s.triangles.size() / 3);
            break;
    }
}
} // namespace

// Frames whose step is refused memory (every allocation, or all but the first few) still
// leave every attachment as the one-by-one search does, through edits of every kind, and the
// step says so once per prepared ship.
TEST(BindGrid, FrameShortOfMemoryBindsAsThePlainRule)
{
    int shortFrames = 0; // frames that first found memory short
    int refusedFrames = 0;
    for (unsigned seed = 1; seed <= 60 && !HasFailure(); seed++)
    {
        std::mt19937 rng(seed);
        const double spread = seed % 2 == 0 ? 60.0 : 300.0;
        const int triangles = seed % 10 == 0 ? 1500 : 1 + static_cast<int>(seed % 50) * 4;
        const RandomShip start = makeShip(seed, triangles, 40, spread);
        ship = Ship{};
        ship.triangles = start.triangles;
        ship.attachments = start.attachments;
        BindingState state;
        prepareBinding(state, ship.triangles, ship.attachments);
        bool saidShort = false;
        for (int frame = 0; frame < 40 && !HasFailure(); frame++)
        {
            if (pick(rng, 0, 9) == 0)
            {
                largeEdit(rng, spread);
            }
            for (int edits = pick(rng, 0, 3); edits > 0; edits--)
            {
                randomEdit(rng, spread);
            }
            const long allowed = pick(rng, -2, 6);
            refusedFrames += allowed >= 0 ? 1 : 0;
            allocationsLeft = allowed;
            const bool saysShort = bindFrame(state, ship.triangles, ship.attachments);
            allocationsLeft = -1;
            EXPECT_FALSE(saysShort && saidShort) << "seed " << seed << " frame " << frame;
            saidShort = saidShort || saysShort;
            for (std::size_t j = 0; j < ship.attachments.size(); j++)
            {
                const Attachment& a = ship.attachments[j];
                Attachment naive = a;
                bindOneByOne(ship.triangles, naive);
                EXPECT_EQ(a.triangle, naive.triangle) << "seed " << seed << " frame " << frame;
                EXPECT_EQ(a.edge, naive.edge) << "seed " << seed << " frame " << frame;
            }
        }
        shortFrames += saidShort ? 1 : 0;
    }
    ship = Ship{};
    // Most ships must meet a refusal they could not absorb in the room set aside, or the
    // comparison proves little.
    EXPECT_GT(refusedFrames, 1000);
    EXPECT_GT(shortFrames, 30);
}
