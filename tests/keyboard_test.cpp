#include "edit/keyboard.h"
#include "platform/key_state.h"
#include "shipfile/ship_file.h"
#include "test_support.h"
#include "tests/key_press.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

class KeyboardTest : public ScratchFolderTest
{
  protected:
    void SetUp() override
    {
        ScratchFolderTest::SetUp();
        // Every key up, wherever the platform keeps the key state.
        pressKey(Key::Shift, false);
        pressKey(Key::Control, false);
        pressKey(Key::Tab, false);
    }
};

TEST_F(KeyboardTest, SectionSignTakesBackPendingPointsOnly)
{
    appendTriangle(ship, Triangle{});
    ship.pendingPoints = {Vec2{1, 1}, Vec2{2, 2}};
    keyboardCommand(KEY_REMOVE_POINT);
    ASSERT_EQ(ship.pendingPoints.size(), 1u);
    EXPECT_EQ(ship.pendingPoints[0].x, 1.0);
    keyboardCommand(KEY_REMOVE_POINT);
    keyboardCommand(KEY_REMOVE_POINT);
    EXPECT_TRUE(ship.pendingPoints.empty());
    EXPECT_EQ(ship.triangles.size(), 1u);

    // The Tab and Shift checks still run after the removal.
    ship.pendingPoints = {Vec2{1, 1}};
    pressKey(Key::Tab, true);
    pressKey(Key::Shift, true);
    keyboardCommand(KEY_REMOVE_POINT);
    EXPECT_TRUE(ship.pendingPoints.empty());
    EXPECT_FALSE(editor.modeFlag);
    EXPECT_EQ(editor.currentKey, KEY_REMOVE_POINT);
}

TEST_F(KeyboardTest, TabTogglesOncePerCharacterAndShiftSetsTheKey)
{
    keyboardCommand('a');
    EXPECT_TRUE(editor.modeFlag);
    EXPECT_EQ(editor.currentKey, 0);

    pressKey(Key::Tab, true);
    keyboardCommand(9);
    EXPECT_FALSE(editor.modeFlag);
    keyboardCommand('x');
    keyboardCommand('y');
    EXPECT_FALSE(editor.modeFlag) << "toggled once per character";
    EXPECT_EQ(editor.currentKey, 0) << "Shift was not down";
    pressKey(Key::Tab, false);

    pressKey(Key::Shift, true);
    keyboardCommand('Q');
    EXPECT_EQ(editor.currentKey, 'Q');
    EXPECT_FALSE(editor.modeFlag);
    keyboardCommand(0xE9);
    EXPECT_EQ(editor.currentKey, 0xE9);
}

TEST_F(KeyboardTest, SaveWithTabHeldWritesTheShipThenToggles)
{
    Attachment a;
    a.key = 'k';
    a.modeFlag = true;
    appendAttachment(ship, a);
    pressKey(Key::Tab, true);
    pressKey(Key::Shift, true);
    testing::internal::CaptureStdout();
    keyboardCommand(KEY_SAVE);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "SAVED!\n");
    EXPECT_FALSE(editor.modeFlag);
    EXPECT_EQ(editor.currentKey, '1');
    std::ifstream in(SHIP_FILE_NAME, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str(), "0\r\n1\r\n0.000000 0.000000 107 9999 9999 1\r\n");

    // Loading it back replaces the ship and keeps the editor's key and flag.
    emptyShip(ship);
    ship.pendingPoints.push_back(Vec2{5, 5});
    pressKey(Key::Tab, false);
    pressKey(Key::Shift, false);
    testing::internal::CaptureStdout();
    keyboardCommand(KEY_LOAD);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "LOADED!\n");
    ASSERT_EQ(ship.attachments.size(), 1u);
    EXPECT_EQ(ship.attachments[0].key, 'k');
    EXPECT_TRUE(ship.pendingPoints.empty());
    EXPECT_FALSE(editor.modeFlag);
    EXPECT_EQ(editor.currentKey, '1');
}
