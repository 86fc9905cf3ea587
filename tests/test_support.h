#pragma once

// Helpers shared by the unit and end-to-end tests.

#include "model/ship.h"
#include "shipfile/file_replacement.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <ostream>
#include <random>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

inline Triangle tri(Vec2 a, Vec2 b, Vec2 c)
{
    Triangle t;
    t.corners[0] = a;
    t.corners[1] = b;
    t.corners[2] = c;
    return t;
}

// Every field of a ship, doubles in exact hexadecimal form, so two ships compare as text.
inline std::string describe(const std::vector<Vec2>& pending,
                            const std::vector<Triangle>& triangles,
                            const std::vector<Attachment>& attachments)
{
    std::string out;
    char line[512];
    for (const Vec2& p : pending)
    {
        std::snprintf(line, sizeof line, "pending %a %a\n", p.x, p.y);
        out += line;
    }
    for (const Triangle& t : triangles)
    {
        std::snprintf(line, sizeof line, "triangle %a %a %a %a %a %a\n", t.corners[0].x,
                      t.corners[0].y, t.corners[1].x, t.corners[1].y, t.corners[2].x,
                      t.corners[2].y);
        out += line;
    }
    for (const Attachment& a : attachments)
    {
        std::snprintf(line, sizeof line, "attachment %u %a %a %d %d %d\n", unsigned{a.key}, a.x,
                      a.y, a.triangle, a.edge, int{a.modeFlag});
        out += line;
    }
    return out;
}

inline std::string describe(const Ship& s)
{
    return describe(s.pendingPoints, s.triangles, s.attachments);
}

// A file's bytes, as they are on the disk; empty when it cannot be read.
inline std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// Puts exactly `bytes` in the file at `path`.
inline void writeFile(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

// The names in `folder`, sorted.
inline std::vector<std::string> sortedFolderEntries(const std::string& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
    {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// An 8-bit colour, each channel 0-255.
struct Rgb
{
    int r = 0;
    int g = 0;
    int b = 0;
};

inline bool operator==(const Rgb& a, const Rgb& b)
{
    return a.r == b.r && a.g == b.g && a.b == b.b;
}

inline bool operator!=(const Rgb& a, const Rgb& b)
{
    return !(a == b);
}

inline std::ostream& operator<<(std::ostream& out, const Rgb& c)
{
    return out << "rgb(" << c.r << ", " << c.g << ", " << c.b << ")";
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

// The start of the line a failed save or load of ship.hul gives, naming the working folder.
inline std::string failedLine(const char* what)
{
    return std::string("gantrix: cannot ") + what + " ship.hul in " +
           std::filesystem::current_path().string() + ": ";
}

// The file layer's whole replacement, as a save runs it, with one piece of content.
inline bool replaceFileContent(const std::string& path, const std::string& content,
                               std::string& error)
{
    FileReplacement replacement;
    if (!beginFileReplacement(path.c_str(), replacement, error))
    {
        return false;
    }
    if (!writeFileReplacement(replacement, content.data(), content.size(), error) ||
        !commitFileReplacement(replacement, error))
    {
        abandonFileReplacement(replacement);
        return false;
    }
    return true;
}
