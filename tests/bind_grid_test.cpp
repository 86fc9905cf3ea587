#include "bind/binding.h"
#include "shipfile/ship_file.h"
#include "test_support.h"
#include "tests/bind_plain.h"
#include "tests/failing_allocations.h"
#include "tests/ship_setup.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
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

// Whether every attachment of the editor's ship holds what the one-by-one rule gives; returns
// how many bound.
int expectOneByOne(const char* what, unsigned seed = 0, int frame = 0)
{
    int bound = 0;
    for (std::size_t j = 0; j < ship.attachments.size(); j++)
    {
        const Attachment& a = ship.attachments[j];
        Attachment naive = a;
        bindOneByOne(ship.triangles, naive);
        EXPECT_EQ(a.triangle, naive.triangle)
            << what << " seed " << seed << " frame " << frame << " attachment " << j;
        EXPECT_EQ(a.edge, naive.edge)
            << what << " seed " << seed << " frame " << frame << " attachment " << j;
        bound += naive.triangle != NO_EDGE ? 1 : 0;
    }
    return bound;
}

// The editor's frame, as far as the binding goes.
void frame()
{
    bindFrame(ship);
    forgetShipChanges(ship);
}

// Loads `s` and binds it in the first frame; returns how many bound, checked against the rule.
int expectSameBindings(const RandomShip& s, const char* what)
{
    useShip(s.triangles, s.attachments);
    frame();
    return expectOneByOne(what);
}
} // namespace

TEST(BindGrid, SameBindingsAsOneByOneOnRandomShips)
{
    int bound = 0, total = 0;
    for (unsigned seed = 1; seed <= 300; seed++)
    {
        const int triangles = 1 + static_cast<int>(seed % 40) * 5;
        const double spread = seed % 3 == 0 ? 60.0 : (seed % 3 == 1 ? 400.0 : 5000.0);
        const RandomShip s = makeShip(seed, triangles, 60, spread);
        bound += expectSameBindings(s, ("seed " + std::to_string(seed)).c_str());
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
    RandomShip s;
    // No triangles: everything unbound.
    Attachment a;
    a.triangle = 3;
    a.edge = 1;
    s.attachments.push_back(a);
    EXPECT_EQ(expectSameBindings(s, "empty"), 0);

    // A midpoint at exactly the range does not bind; a hair inside does.
    Triangle t;
    t.corners[0] = Vec2{0, 0};
    t.corners[1] = Vec2{20, 0};
    t.corners[2] = Vec2{0, 200};
    s.triangles.push_back(t);
    s.attachments[0].x = 20.0;
    s.attachments[0].y = 30.0; // (10, 0) is 10² + 30² = 1000 away
    EXPECT_EQ(expectSameBindings(s, "range"), 0);
    s.attachments[0].y = 29.999;
    EXPECT_EQ(expectSameBindings(s, "inside"), 1);

    // A shared edge always ties with itself.
    Triangle u;
    u.corners[0] = Vec2{20, 0};
    u.corners[1] = Vec2{0, 0};
    u.corners[2] = Vec2{10, -50};
    s.triangles.push_back(u);
    s.attachments[0].x = 10.0;
    s.attachments[0].y = 1.0;
    EXPECT_EQ(expectSameBindings(s, "shared"), 0);

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
    EXPECT_EQ(expectSameBindings(s, "far"), 1);
    t.corners[0].x = 3.0e38;
    s.triangles.push_back(t);
    EXPECT_EQ(expectSameBindings(s, "huge"), 1);

    // Midpoints 4 units either side of 2^32, where the cells end and the far list begins:
    // tied from halfway, the far one from nearer to it.
    const double edge = 4294967296.0;
    s.triangles.push_back(tri({edge - 8, 0}, {edge, 0}, {edge - 4, 200}));
    s.triangles.push_back(tri({edge, 0}, {edge + 8, 0}, {edge + 4, 200}));
    s.attachments.assign(3, Attachment{});
    s.attachments[0].x = edge;
    s.attachments[1].x = edge + 1;
    s.attachments[2].x = edge - 30;
    EXPECT_EQ(expectSameBindings(s, "straddling"), 2);
}

namespace
{
// Makes these lists the ship without a load: the frame files them itself.
void replaceLists(std::vector<Triangle> triangles, std::vector<Attachment> attachments)
{
    reserveBinding(triangles.size(), attachments.size());
    adoptShipLists(ship, std::move(triangles), std::move(attachments));
}

// One edit of the editor's ship of the kinds the editor makes between frames, through the
// ship's operations, plus loads (of the same ship with its fields cleared, or of another),
// lists replaced without a load, and far-flung triangles.
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
                const std::size_t picked = static_cast<std::size_t>(pick(rng, 0, lastTriangle));
                const Vec2 from = s.triangles[picked].corners[pick(rng, 0, 2)];
                const Vec2 to{from.x + 3.125 * pick(rng, -3, 3), from.y + 3.125 * pick(rng, -3, 3)};
                for (std::size_t i = 0; i < s.triangles.size(); i++)
                {
                    Triangle u = s.triangles[i];
                    for (Vec2& c : u.corners)
                    {
                        c = c.x == from.x && c.y == from.y ? to : c;
                    }
                    if (i == picked && pick(rng, 0, 3) == 0)
                    {
                        std::swap(u.corners[1], u.corners[2]);
                    }
                    if (std::memcmp(&u, &s.triangles[i], sizeof u) != 0)
                    {
                        writeTriangle(s, i, u);
                    }
                }
            }
            break;
        case 3:
            addTriangle(randomTriangle(rng, s.triangles, spread));
            break;
        case 4:
        {
            Attachment a;
            const Vec2 p = randomPlace(rng, s.triangles, spread);
            a.x = p.x;
            a.y = p.y;
            addAttachment(a);
            break;
        }
        case 5:
        case 6:
            if (lastAttachment >= 0)
            {
                writeAttachmentPosition(s, static_cast<std::size_t>(pick(rng, 0, lastAttachment)),
                                        randomPlace(rng, s.triangles, spread));
            }
            break;
        case 7:
        {
            // The same ship loaded back: positions as before, fields cleared.
            std::vector<Attachment> cleared = s.attachments;
            for (Attachment& a : cleared)
            {
                a.triangle = NO_EDGE;
                a.edge = NO_EDGE;
            }
            ASSERT_TRUE(loadShipFromText(formatShipFile(s.triangles, cleared), error)) << error;
            break;
        }
        case 8:
        {
            std::vector<Triangle> triangles = s.triangles;
            std::vector<Attachment> attachments = s.attachments;
            if (lastTriangle >= 0 && pick(rng, 0, 1) == 0)
            {
                triangles.erase(triangles.begin() + pick(rng, 0, lastTriangle));
            }
            else if (lastAttachment >= 0)
            {
                attachments.erase(attachments.begin() + pick(rng, 0, lastAttachment));
            }
            replaceLists(std::move(triangles), std::move(attachments));
            break;
        }
        case 9:
        {
            // A run of triangles shifted by one grid step: many changed edges at once.
            const int first = pick(rng, 0, std::max(lastTriangle, 0));
            const int end = std::min(lastTriangle + 1, first + pick(rng, 1, 60));
            for (int i = first; i < end; i++)
            {
                Triangle t = s.triangles[static_cast<std::size_t>(i)];
                for (Vec2& c : t.corners)
                {
                    c.x += 3.125;
                }
                writeTriangle(s, static_cast<std::size_t>(i), t);
            }
            break;
        }
        case 10:
        {
            // A triangle far out (inside and beyond 2^32), with an attachment by it.
            const double x = pick(rng, 0, 1) == 0 ? 2.0e9 : 6.0e9;
            addTriangle(tri({x, -x}, {x + 12.5, -x}, {x, 12.5 - x}));
            Attachment a;
            a.x = x + 6.25 + pick(rng, -4, 4);
            a.y = -x + pick(rng, -4, 4);
            addAttachment(a);
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

// Edits that change more than the record holds, or grow the ship past its room: a burst of
// far-flung triangles, every triangle moved.
void largeEdit(std::mt19937& rng, double spread)
{
    Ship& s = ship;
    if (pick(rng, 0, 1) == 0)
    {
        for (int i = pick(rng, 200, 700); i > 0; i--)
        {
            addTriangle(randomTriangle(rng, s.triangles, spread * 40));
            if (i % 8 == 0)
            {
                const Vec2 p = mid(s.triangles.back(), pick(rng, 0, 2));
                addAttachment(Attachment{0, p.x + 0.78125 * pick(rng, -8, 8), p.y});
            }
        }
        return;
    }
    for (std::size_t i = 0; i < s.triangles.size(); i++)
    {
        Triangle t = s.triangles[i];
        for (Vec2& c : t.corners)
        {
            c.y += 3.125;
        }
        writeTriangle(s, i, t);
    }
}
} // namespace

// The attachments and triangles the binding's cells give for a box around a random attachment:
// in list order, and among them every one in the box and every attachment the cells cannot
// hold. Returns how many lay in the box.
int expectBoxListsItsAttachments(std::mt19937& rng)
{
    if (ship.attachments.empty())
    {
        return 0;
    }
    const Attachment& at = ship.attachments[static_cast<std::size_t>(
        pick(rng, 0, static_cast<int>(ship.attachments.size()) - 1))];
    const Vec2 low{at.x - pick(rng, 0, 3) * 12.5, at.y - pick(rng, 0, 3) * 12.5};
    const Vec2 high{at.x + pick(rng, 0, 3) * 12.5, at.y + pick(rng, 0, 3) * 12.5};
    if (!(std::fabs(at.x) < 1e9 && std::fabs(at.y) < 1e9))
    {
        return 0;
    }
    allocationsLeft = 0;
    const std::vector<uint32_t>* listed = attachmentsInBox(ship, low, high);
    allocationsLeft = -1;
    EXPECT_NE(listed, nullptr) << "a box of a few cells";
    if (listed == nullptr)
    {
        return 0;
    }
    EXPECT_TRUE(std::adjacent_find(listed->begin(), listed->end(), std::greater_equal<>()) ==
                listed->end());
    int inBox = 0;
    for (uint32_t j = 0; j < ship.attachments.size(); j++)
    {
        const Attachment& a = ship.attachments[j];
        const bool inside = a.x >= low.x && a.x <= high.x && a.y >= low.y && a.y <= high.y;
        const bool outsideCells = !(std::fabs(a.x) < 4294967296.0 && std::fabs(a.y) < 4294967296.0);
        inBox += inside;
        if (inside || outsideCells)
        {
            EXPECT_TRUE(std::binary_search(listed->begin(), listed->end(), j))
                << "attachment " << j << " at (" << a.x << ", " << a.y << ")";
        }
    }
    // The triangles, where the cells can find them: every one whose box meets the box.
    const std::vector<uint32_t>* triangles = trianglesInBox(ship, low, high);
    for (uint32_t i = 0; triangles != nullptr && i < ship.triangles.size(); i++)
    {
        const Vec2* c = ship.triangles[i].corners;
        const bool meets = std::max({c[0].x, c[1].x, c[2].x}) >= low.x &&
                           std::min({c[0].x, c[1].x, c[2].x}) <= high.x &&
                           std::max({c[0].y, c[1].y, c[2].y}) >= low.y &&
                           std::min({c[0].y, c[1].y, c[2].y}) <= high.y;
        inBox += meets;
        EXPECT_TRUE(!meets || std::binary_search(triangles->begin(), triangles->end(), i))
            << "triangle " << i;
    }
    return inBox;
}

// Frames of random edits, each ending in the frame's binding step: after every frame, each
// attachment holds what the one-by-one search gives for the ship as it is at that frame, and
// the frame asked for no memory. The attachments in a box are found through the cells.
TEST(BindGrid, FrameBindingFollowsEveryEdit)
{
    int rebound = 0; // attachments whose binding changed though they stayed in place
    int bound = 0, checked = 0, inBoxes = 0;
    for (unsigned seed = 1; seed <= 150 && !HasFailure(); seed++)
    {
        std::mt19937 rng(seed);
        const double spread = seed % 2 == 0 ? 60.0 : 300.0;
        const int triangles = seed % 10 == 0 ? 1500 : 1 + static_cast<int>(seed % 50) * 4;
        const RandomShip start = makeShip(seed, triangles, 40, spread);
        std::string error;
        ASSERT_TRUE(loadShipFromText(formatShipFile(start.triangles, start.attachments), error));
        std::vector<Attachment> last;
        for (int f = 0; f < 40 && !HasFailure(); f++)
        {
            if (pick(rng, 0, 19) == 0)
            {
                largeEdit(rng, spread);
            }
            for (int edits = pick(rng, 0, 3); edits > 0; edits--)
            {
                randomEdit(rng, spread);
            }
            allocationsLeft = 0;
            frame();
            allocationsLeft = -1;
            bound += expectOneByOne("edits", seed, f);
            checked += static_cast<int>(ship.attachments.size());
            inBoxes += expectBoxListsItsAttachments(rng);
            for (std::size_t j = 0; j < ship.attachments.size() && j < last.size(); j++)
            {
                const Attachment& a = ship.attachments[j];
                if (last[j].x == a.x && last[j].y == a.y &&
                    (last[j].triangle != a.triangle || last[j].edge != a.edge))
                {
                    rebound++;
                }
            }
            last = ship.attachments;
        }
    }
    useShip({}, {});
    // The edits must move bindings of attachments that stayed put, and bind some but not
    // all, or the comparison proves little.
    EXPECT_GT(rebound, 500);
    EXPECT_GT(bound, checked / 10);
    EXPECT_LT(bound, checked * 9 / 10);
    EXPECT_GT(inBoxes, 10000);
}

// The memory of the ship and its binding follows the ship: bounded per triangle for a large
// one, and given back when a tiny ship replaces it.
TEST(BindGrid, StorageFollowsTheShip)
{
    RandomShip big = makeShip(7, 60000, 3000, 2000);
    const RandomShip tiny = makeShip(8, 4, 3, 60);
    useShip({}, {});
    frame();
    const long long empty = bytesInUse;
    useShip(std::move(big.triangles), std::move(big.attachments));
    frame();
    // The lists with their room for editing, and the binding: edges and their cells.
    const long long bigBytes = bytesInUse - empty;
    EXPECT_GE(bigBytes, 60000 * static_cast<long long>(sizeof(Triangle) + 3 * 16));
    EXPECT_LT(bigBytes, 60000 * 250);
    expectOneByOne("big");

    useShip(tiny.triangles, tiny.attachments);
    frame();
    EXPECT_LT(bytesInUse - empty, 256 * 1024);
    expectOneByOne("tiny");
}

// An edit that grows the ship asks for its memory first: refused, it adds nothing and leaves
// the ship and its binding whole, and the frames after it still bind by the rule.
TEST(BindGrid, GrowthRefusedMemoryLeavesTheShipWhole)
{
    const RandomShip start = makeShip(3, 40, 20, 60);
    useShip(start.triangles, start.attachments);
    frame();
    std::mt19937 rng(5);
    int refused = 0;
    for (int i = 0; i < 400 && !HasFailure(); i++)
    {
        const std::string before = describe(ship);
        allocationsLeft = pick(rng, 0, 2);
        const bool room = roomForGrowth();
        allocationsLeft = -1;
        if (!room)
        {
            refused++;
            EXPECT_EQ(describe(ship), before);
        }
        else
        {
            appendTriangle(ship, randomTriangle(rng, ship.triangles, 60));
            const Vec2 p = randomPlace(rng, ship.triangles, 60);
            appendAttachment(ship, Attachment{0, p.x, p.y});
        }
        allocationsLeft = 0;
        frame();
        allocationsLeft = -1;
        expectOneByOne("growth", 3, i);
    }
    useShip({}, {});
    EXPECT_GT(refused, 5);
    EXPECT_GT(ship.triangles.capacity(), 0u);
}
