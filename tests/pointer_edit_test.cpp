#include "app/input.h"
#include "edit/corner_index.h"
#include "edit/geometry.h"
#include "edit/pointer_edit.h"
#include "platform/key_state.h"
#include "test_support.h"
#include "tests/key_press.h"
#include "tests/ship_setup.h"

#include <cmath>
#include <gtest/gtest.h>
#include <random>
#include <vector>

namespace
{
// The default view shows world (-150..150) on 900 pixels: 3 pixels per unit, y flipped.
int px(double wx)
{
    return static_cast<int>(std::lround((wx + 150.0) * 3.0));
}
int py(double wy)
{
    return static_cast<int>(std::lround((150.0 - wy) * 3.0));
}

void click(PointerButton button, double wx, double wy)
{
    handlePointerButton(button, true, px(wx), py(wy));
    handlePointerButton(button, false, px(wx), py(wy));
}

void drag(double fromX, double fromY, double toX, double toY, int steps = 8)
{
    handlePointerButton(PointerButton::Left, true, px(fromX), py(fromY));
    for (int i = 1; i <= steps; i++)
    {
        handlePointerMotion(px(fromX + (toX - fromX) * i / steps),
                            py(fromY + (toY - fromY) * i / steps));
    }
    handlePointerButton(PointerButton::Left, false, px(toX), py(toY));
}

void expectAt(Vec2 v, double x, double y)
{
    EXPECT_EQ(v.x, x);
    EXPECT_EQ(v.y, y);
}
} // namespace

class PointerEditTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        useShip({}, {});
        forgetShipChanges(ship);
        editor = EditorState{};
        editor.windowWidth = 900;
        editor.windowHeight = 900;
        // Every key up, wherever the platform keeps the key state.
        pressKey(Key::Shift, false);
        pressKey(Key::Control, false);
        pressKey(Key::Tab, false);
    }
};

TEST_F(PointerEditTest, RightClicksBuildTrianglesInClickOrderAndWinding)
{
    click(PointerButton::Right, 0.4, 0.2);
    click(PointerButton::Right, 3.0, 0.1);
    ASSERT_EQ(ship.pendingPoints.size(), 2u);
    expectAt(ship.pendingPoints[1], 3.125, 0.0);
    click(PointerButton::Right, 0.1, 2.9);
    ASSERT_EQ(ship.triangles.size(), 1u);
    EXPECT_TRUE(ship.pendingPoints.empty());
    expectAt(ship.triangles[0].corners[0], 0, 0);
    expectAt(ship.triangles[0].corners[1], 3.125, 0);
    expectAt(ship.triangles[0].corners[2], 0, 3.125);

    // Clockwise clicks are stored counter-clockwise: b and c exchanged.
    click(PointerButton::Right, 12.5, 12.5);
    EXPECT_EQ(ship.pendingPoints.size(), 1u) << "the fourth click starts the next triangle";
    click(PointerButton::Right, 12.5, 25);
    click(PointerButton::Right, 25, 12.5);
    ASSERT_EQ(ship.triangles.size(), 2u);
    expectAt(ship.triangles[1].corners[0], 12.5, 12.5);
    expectAt(ship.triangles[1].corners[1], 25, 12.5);
    expectAt(ship.triangles[1].corners[2], 12.5, 25);

    // Shift does not matter on the right button; the release adds nothing.
    pressKey(Key::Shift, true);
    click(PointerButton::Right, 30, 30);
    EXPECT_EQ(ship.pendingPoints.size(), 1u);
}

TEST_F(PointerEditTest, CornerDragMovesSharedCornersAndControlMovesOnlyTheFirst)
{
    // Two triangles sharing the corner (25, 0).
    appendTriangle(ship, tri({0, 0}, {25, 0}, {0, 25}));
    appendTriangle(ship, tri({25, 0}, {50, 0}, {25, 25}));
    forgetShipChanges(ship);
    drag(25, 0, 25, -12.5);
    expectAt(ship.triangles[0].corners[1], 25, -12.5);
    expectAt(ship.triangles[1].corners[0], 25, -12.5);
    EXPECT_FALSE(editor.vertexDragActive);
    // Each of the four grid steps of the drag wrote both triangles, and the record says so.
    ASSERT_EQ(ship.changes.triangleCount, 8);
    EXPECT_EQ(ship.changes.triangles[6], 0u);
    EXPECT_EQ(ship.changes.triangles[7], 1u);
    EXPECT_FALSE(ship.changes.everything);

    // Control pressed after the left press: only the lower-indexed triangle's corner moves.
    handlePointerButton(PointerButton::Left, true, px(25), py(-12.5));
    pressKey(Key::Control, true);
    handlePointerMotion(px(25), py(-25));
    handlePointerMotion(px(25), py(-37.5));
    handlePointerButton(PointerButton::Left, false, px(25), py(-37.5));
    expectAt(ship.triangles[0].corners[1], 25, -37.5);
    expectAt(ship.triangles[1].corners[0], 25, -12.5);
}

TEST_F(PointerEditTest, DragFromEmptyGridPicksUpTheCornerItReaches)
{
    appendTriangle(ship, tri({0, 0}, {25, 0}, {0, 25}));
    // Motion within one grid step changes nothing.
    handlePointerButton(PointerButton::Left, true, px(24.0), py(0.5));
    handlePointerMotion(px(25.5), py(-0.5));
    expectAt(ship.triangles[0].corners[1], 25, 0);
    handlePointerButton(PointerButton::Left, false, px(25.5), py(-0.5));

    drag(50, 0, 25, 0, 8); // reaches the corner on the last step; moves nothing yet
    expectAt(ship.triangles[0].corners[1], 25, 0);
    handlePointerButton(PointerButton::Left, true, px(37.5), py(0));
    handlePointerMotion(px(25), py(0));
    handlePointerMotion(px(12.5), py(-12.5));
    handlePointerButton(PointerButton::Left, false, px(12.5), py(-12.5));
    expectAt(ship.triangles[0].corners[1], 12.5, -12.5);
}

TEST_F(PointerEditTest, AttachmentsArePlacedPickedAndDragged)
{
    editor.currentKey = 'A';
    editor.modeFlag = false;
    ship.pendingPoints.push_back(Vec2{3.125, 3.125});
    pressKey(Key::Control, true);
    handlePointerButton(PointerButton::Right, true, 451, 449);
    ASSERT_EQ(ship.attachments.size(), 1u);
    EXPECT_NEAR(ship.attachments[0].x, 1.0 / 3.0, 1e-9) << "placed at the unsnapped pointer";
    EXPECT_EQ(ship.attachments[0].key, 'A');
    EXPECT_FALSE(ship.attachments[0].modeFlag);
    EXPECT_EQ(ship.attachments[0].triangle, NO_EDGE);
    EXPECT_EQ(ship.pendingPoints.size(), 1u) << "pending points are left alone";

    // A second one at the same place: a pick there takes the earlier one.
    editor.currentKey = 'B';
    handlePointerButton(PointerButton::Right, true, 451, 449);
    handlePointerButton(PointerButton::Left, true, 460, 449);
    EXPECT_TRUE(editor.attachmentDragActive);
    EXPECT_EQ(editor.draggedAttachment, 0);
    EXPECT_NEAR(ship.attachments[0].x, 1.0 / 3.0, 1e-9) << "the press does not move it";
    handlePointerMotion(px(10.2), py(-4.0));
    EXPECT_EQ(ship.attachments[0].x, 9.375);
    EXPECT_EQ(ship.attachments[0].y, -3.125);

    EXPECT_EQ(ship.changes.attachments[ship.changes.attachmentCount - 1], 0u);

    // A load that empties the list mid-drag leaves the drag harmless until the release.
    adoptShipLists(ship, {}, {});
    handlePointerMotion(px(20), py(20));
    handlePointerButton(PointerButton::Left, false, px(20), py(20));
    EXPECT_FALSE(editor.attachmentDragActive);
    EXPECT_TRUE(ship.attachments.empty());
}

TEST_F(PointerEditTest, PickFindsNothingBeyondRange)
{
    Attachment far;
    far.x = 1000.0;
    appendAttachment(ship, far);
    pressKey(Key::Control, true);
    handlePointerButton(PointerButton::Left, true, px(0), py(0));
    EXPECT_FALSE(editor.attachmentDragActive || editor.vertexDragActive || editor.panActive);
    handlePointerMotion(px(10), py(10));
    EXPECT_EQ(ship.attachments[0].x, 1000.0);

    writeAttachmentPosition(ship, 0, Vec2{999.0, 0.0});
    handlePointerButton(PointerButton::Left, true, px(0), py(0));
    EXPECT_TRUE(editor.attachmentDragActive);
}

TEST_F(PointerEditTest, ShiftLeftDragPans)
{
    // Shift wins over Control on a left press.
    pressKey(Key::Shift, true);
    pressKey(Key::Control, true);
    handlePointerButton(PointerButton::Left, true, 400, 400);
    EXPECT_TRUE(editor.panActive);
    pressKey(Key::Shift, false);
    pressKey(Key::Control, false);
    handlePointerMotion(430, 380);
    // The pointer of an event is mapped with the origin from before its pan step.
    EXPECT_EQ(editor.pointerWorld.x, 430.0 / 900.0 * 300.0 - 150.0);
    handlePointerButton(PointerButton::Left, false, 500, 380); // the release applies one last step
    EXPECT_FALSE(editor.panActive);
    EXPECT_EQ(editor.viewOrigin.x, -150 - 15 - 35);
    EXPECT_EQ(editor.viewOrigin.y, -150 - 10);

    // A later click lands at the panned world position.
    click(PointerButton::Right, 0, 0); // pixel of world (0, 0) in the old view
    ASSERT_EQ(ship.pendingPoints.size(), 1u);
    expectAt(ship.pendingPoints[0], -50, -9.375);
}

namespace
{
// The corner drag step as a walk over every triangle: the rule the editor's step, which finds
// the corners through an index, must follow corner for corner.
void walkingDragStep(std::vector<Triangle>& triangles, Vec2 previous, Vec2 next, bool control)
{
    const Vec2 from = snapToGrid(previous);
    const Vec2 to = snapToGrid(next);
    for (Triangle& t : triangles)
    {
        for (int k = 0; k < 3; k++)
        {
            if (t.corners[k].x == from.x && t.corners[k].y == from.y)
            {
                t.corners[k] = to;
                normaliseWinding(t);
                if (control)
                {
                    return;
                }
            }
        }
    }
}
} // namespace

// Drags on random ships of shared, repeated and re-wound corners, with and without Control,
// with frames after some steps and triangles added between: the ship always equals the walk's.
TEST_F(PointerEditTest, CornerDragsThroughTheIndexEqualTheWalkOverTheShip)
{
    std::mt19937 rng(11);
    const auto gridPoint = [&](int span)
    {
        return Vec2{GRID_STEP * std::uniform_int_distribution<int>(-span, span)(rng),
                    GRID_STEP * std::uniform_int_distribution<int>(-span, span)(rng)};
    };
    int indexed = 0;
    for (int round = 0; round < 40 && !HasFailure(); round++)
    {
        std::vector<Triangle> start;
        for (int i = 0; i < 60; i++)
        {
            start.push_back(tri(gridPoint(4), gridPoint(4), gridPoint(4)));
        }
        useShip(start);
        std::vector<Triangle> walked = start;
        for (int step = 0; step < 200 && !HasFailure(); step++)
        {
            if (rng() % 3 == 0)
            {
                followCornerChanges(ship);
                forgetShipChanges(ship);
                uint32_t found[8];
                int count = 0;
                indexed += trianglesWithCorner(ship, gridPoint(4), found, 8, count) ? 1 : 0;
            }
            if (rng() % 25 == 0)
            {
                const Triangle t = tri(gridPoint(4), gridPoint(4), gridPoint(4));
                addTriangle(t);
                walked.push_back(t);
            }
            const Vec2 from =
                rng() % 2 == 0 ? walked[rng() % walked.size()].corners[rng() % 3] : gridPoint(4);
            const Vec2 to{from.x + GRID_STEP * static_cast<int>(rng() % 3 - 1),
                          from.y + GRID_STEP * static_cast<int>(rng() % 3 - 1)};
            const bool control = rng() % 4 == 0;
            pressKey(Key::Control, control);
            cornerDragStep(from, to);
            if (!(from.x == to.x && from.y == to.y))
            {
                walkingDragStep(walked, from, to, control);
            }
            ASSERT_EQ(describe({}, ship.triangles, {}), describe({}, walked, {}))
                << "round " << round << " step " << step;
        }
    }
    pressKey(Key::Control, false);
    EXPECT_GT(indexed, 1000);
}
