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
    noteEventModifiers(3);
    releaseAllKeys();
    EXPECT_FALSE(isKeyDown(Key::Shift) || isKeyDown(Key::Control) || isKeyDown(Key::Tab));
}
