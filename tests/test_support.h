#pragma once

// Helpers shared by the unit tests.

#include "model/ship.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <system_error>

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
        // A fresh name: creating the folder fails when another test holds it already.
        std::random_device entropy;
        std::error_code error;
        bool created = false;
        for (int attempt = 0; attempt < 100 && !created; ++attempt)
        {
            const std::string name = "gantrix-test-" + std::to_string(entropy());
            scratch = (std::filesystem::temp_directory_path() / name).string();
            created = std::filesystem::create_directory(scratch, error);
        }
        ASSERT_TRUE(created) << scratch << ": " << error.message();
        std::filesystem::current_path(scratch, error);
        ASSERT_FALSE(error) << scratch << ": " << error.message();
    }

    void TearDown() override
    {
        std::error_code ignored;
        std::filesystem::current_path(startFolder, ignored);
        EXPECT_FALSE(ignored) << startFolder;
        std::filesystem::remove_all(scratch, ignored);
        ship = Ship{};
        editor = EditorState{};
    }

    std::string startFolder;
    std::string scratch;
};
