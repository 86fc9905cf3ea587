#include "app/view.h"

#include <gtest/gtest.h>

static EditorState windowOf(int width, int height)
{
    EditorState s;
    s.windowWidth = width;
    s.windowHeight = height;
    return s;
}

TEST(View, StartValues)
{
    const EditorState s;
    EXPECT_EQ(s.viewOrigin.x, -150);
    EXPECT_EQ(s.viewOrigin.y, -150);
    EXPECT_EQ(s.windowWidth, 0);
    EXPECT_EQ(s.windowHeight, 0);
    EXPECT_EQ(s.pointerWorld.x, 0.0);
    EXPECT_EQ(s.pointerWorld.y, 0.0);
    EXPECT_FALSE(s.panActive || s.vertexDragActive || s.attachmentDragActive);
    EXPECT_EQ(s.draggedAttachment, 0);
    EXPECT_EQ(s.currentKey, 0);
    EXPECT_TRUE(s.modeFlag);
    EXPECT_EQ(NO_EDGE, 9999);
    const Attachment a;
    EXPECT_EQ(a.triangle, NO_EDGE);
    EXPECT_EQ(a.edge, NO_EDGE);
}

TEST(View, SquareWindowMapping)
{
    EditorState s = windowOf(900, 900);
    const struct
    {
        int px, py;
        double wx, wy;
    } cases[] = {{0, 0, -150, 150}, {450, 450, 0, 0}, {300, 600, -50, -50}, {900, 900, 150, -150}};
    for (const auto& c : cases)
    {
        mapPointerToWorld(s, c.px, c.py);
        EXPECT_EQ(s.pointerWorld.x, c.wx) << c.px << "," << c.py;
        EXPECT_EQ(s.pointerWorld.y, c.wy) << c.px << "," << c.py;
    }
    // Pixel columns map to their left edge: one pixel is a third of a world unit.
    mapPointerToWorld(s, 451, 449);
    EXPECT_NEAR(s.pointerWorld.x, 1.0 / 3.0, 1e-12);
    EXPECT_NEAR(s.pointerWorld.y, 1.0 / 3.0, 1e-12);
}

TEST(View, StretchedWindowMappingAndZeroSize)
{
    EditorState s = windowOf(600, 300);
    mapPointerToWorld(s, 150, 150);
    EXPECT_EQ(s.pointerWorld.x, -75.0);
    EXPECT_EQ(s.pointerWorld.y, 0.0);
    mapPointerToWorld(s, 600, 0);
    EXPECT_EQ(s.pointerWorld.x, 150.0);
    EXPECT_EQ(s.pointerWorld.y, 150.0);

    // Before the first reshape, or while minimised to nothing, the pointer stays put.
    for (EditorState z : {windowOf(0, 0), windowOf(0, 900), windowOf(900, 0)})
    {
        z.pointerWorld = Vec2{7.5, -2.0};
        mapPointerToWorld(z, 100, 100);
        EXPECT_EQ(z.pointerWorld.x, 7.5);
        EXPECT_EQ(z.pointerWorld.y, -2.0);
    }
}

TEST(View, PanHalvesTowardZeroAndDropsRemainder)
{
    EditorState s = windowOf(900, 900);
    s.lastPointerX = 100;
    s.lastPointerY = 100;
    panStep(s, 103, 100); // 3 / 2 = 1
    EXPECT_EQ(s.viewOrigin.x, -151);
    panStep(s, 104, 100); // 1 / 2 = 0, and the remainder is not carried
    EXPECT_EQ(s.viewOrigin.x, -151);
    panStep(s, 101, 100); // -3 / 2 = -1
    EXPECT_EQ(s.viewOrigin.x, -150);
    EXPECT_EQ(s.lastPointerX, 101);

    panStep(s, 101, 105); // moving down raises the origin
    EXPECT_EQ(s.viewOrigin.y, -148);
    panStep(s, 101, 100);
    EXPECT_EQ(s.viewOrigin.y, -150);
    EXPECT_EQ(s.lastPointerY, 100);
    panStep(s, 101, 99); // -1 / 2 = 0
    EXPECT_EQ(s.viewOrigin.y, -150);

    // The mapping uses whatever origin the pan left.
    s.viewOrigin = ViewOrigin{-100, -200};
    mapPointerToWorld(s, 450, 450);
    EXPECT_EQ(s.pointerWorld.x, 50.0);
    EXPECT_EQ(s.pointerWorld.y, -50.0);
}
