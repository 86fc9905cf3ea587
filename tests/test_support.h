#pragma once

// Helpers shared by the unit tests.

#include "model/ship.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <system_error>
#include <unistd.h>

inline Triangle tri(Vec2 a, Vec2 b, Vec2 c)
{
    Triangle t;
    t.corners[0] = a;
    t.corners[1] = b;
    t.corners[2] = c;
    return t;
}

// A test that starts with an empty ship and fresh editor state, working in a folder of
// its own (so "ship.hul" is private to it), and leaves both as it found them.
class ScratchFolderTest : public testing::Test
{
  protected:
    void SetUp() override
    {
        ship = Ship{};
        editor = EditorState{};
        startFolder = std::filesystem::current_path().string();
        std::string pattern =
            (std::filesystem::temp_directory_path() / "gantrix-test-XXXXXX").string();
        ASSERT_NE(mkdtemp(&pattern[0]), nullptr);
        scratch = pattern;
        ASSERT_EQ(chdir(scratch.c_str()), 0);
    }

    void TearDown() override
    {
        EXPECT_EQ(chdir(startFolder.c_str()), 0);
        std::error_code ignored;
        std::filesystem::remove_all(scratch, ignored);
        ship = Ship{};
        editor = EditorState{};
    }

    std::string startFolder;
    std::string scratch;
};
