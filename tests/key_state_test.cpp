#include "platform/key_state.h"

#include <gtest/gtest.h>

class KeyStateTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        releaseAllKeys();
    }
};

TEST_F(KeyStateTest, ModifiersFollowSpecialKeyPressesAndReleases)
{
    EXPECT_FALSE(isKeyDown(Key::Shift));
    EXPECT_FALSE(isKeyDown(Key::Control));
    noteSpecialKey(0x72, true); // left Control
    EXPECT_TRUE(isKeyDown(Key::Control));
    EXPECT_FALSE(isKeyDown(Key::Shift));
    noteSpecialKey(0x73, true); // right Control as well
    noteSpecialKey(0x72, false);
    EXPECT_TRUE(isKeyDown(Key::Control)) << "right Control is still held";
    noteSpecialKey(0x73, false);
    EXPECT_FALSE(isKeyDown(Key::Control));

    noteSpecialKey(0x71, true); // right Shift
    EXPECT_TRUE(isKeyDown(Key::Shift));
    noteSpecialKey(0x71, false);
    EXPECT_FALSE(isKeyDown(Key::Shift));

    noteSpecialKey(0x65, true); // an arrow key changes nothing
    EXPECT_FALSE(isKeyDown(Key::Shift) || isKeyDown(Key::Control) || isKeyDown(Key::Tab));
}

TEST_F(KeyStateTest, EventModifiersCorrectTheTrackedState)
{
    noteEventModifiers(1);
    EXPECT_TRUE(isKeyDown(Key::Shift));
    EXPECT_FALSE(isKeyDown(Key::Control));
    noteEventModifiers(3);
    EXPECT_TRUE(isKeyDown(Key::Control));
    // A release missed while the window did not have the keyboard is corrected by the
    // next event's report.
    noteEventModifiers(0);
    EXPECT_FALSE(isKeyDown(Key::Shift));
    EXPECT_FALSE(isKeyDown(Key::Control));

    // Agreement keeps the side that is held, so its later release is seen.
    noteSpecialKey(0x73, true);
    noteEventModifiers(2);
    noteSpecialKey(0x73, false);
    EXPECT_FALSE(isKeyDown(Key::Control));
}

TEST_F(KeyStateTest, TabFollowsItsCharacterAndFocusLossReleasesAll)
{
    noteCharacterKey('a', true);
    EXPECT_FALSE(isKeyDown(Key::Tab));
    noteCharacterKey(9, true);
    EXPECT_TRUE(isKeyDown(Key::Tab));
    noteCharacterKey('a', false);
    EXPECT_TRUE(isKeyDown(Key::Tab));
    noteCharacterKey(9, false);
    EXPECT_FALSE(isKeyDown(Key::Tab));

    noteCharacterKey(9, true);
    noteSpecialKey(0x70, true);
    noteSpecialKey(0x72, true);
    releaseAllKeys();
    EXPECT_FALSE(isKeyDown(Key::Shift) || isKeyDown(Key::Control) || isKeyDown(Key::Tab));
}
