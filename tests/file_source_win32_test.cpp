// The Windows file source, run under Wine: what a load refuses at once, and reading in pieces.

#include "edit/save_load.h"
#include "model/ship.h"
#include "platform/file_source.h"
#include "tests/test_support.h"

#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <windows.h>

namespace fs = std::filesystem;

using WindowsFileTest = ScratchFolderTest;

TEST_F(WindowsFileTest, LoadRefusesAnythingButADiskFileAtOnce)
{
    std::string error;
    FileSource source;
    const auto started = std::chrono::steady_clock::now();

    EXPECT_FALSE(openFileSource("CON", source, error));
    EXPECT_EQ(error, "a device, not a regular file");
    EXPECT_FALSE(openFileSource("NUL", source, error));
    EXPECT_EQ(error, "a device, not a regular file");

    fs::create_directory("folder");
    EXPECT_FALSE(openFileSource("folder", source, error));
    EXPECT_EQ(error, "a folder, not a regular file");

    // A pipe that nobody ever writes to: refused without waiting for a writer.
    HANDLE pipe = CreateNamedPipeW(L"\\\\.\\pipe\\gantrix-test-load", PIPE_ACCESS_DUPLEX,
                                   PIPE_TYPE_BYTE | PIPE_WAIT, 1, 4096, 4096, 0, nullptr);
    ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(openFileSource("\\\\.\\pipe\\gantrix-test-load", source, error));
    EXPECT_EQ(error, "a pipe, not a regular file");
    CloseHandle(pipe);

    EXPECT_FALSE(openFileSource("missing.hul", source, error));
    EXPECT_EQ(error, "No such file or directory");
    EXPECT_EQ(source.handle, -1);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));

    // Through the editor's load: the ship stays as it was.
    ship.triangles.push_back(tri({0, 0}, {25, 0}, {0, 25}));
    loadShip();
    EXPECT_EQ(ship.triangles.size(), 1u);
}

TEST_F(WindowsFileTest, ReadsInPiecesUpToTheSizeAtTheOpen)
{
    std::string content(10000, 'x');
    for (size_t i = 0; i < content.size(); ++i)
    {
        content[i] = static_cast<char>('a' + i % 26);
    }
    writeFile("piece.bin", content);
    FileSource source;
    std::string error;
    ASSERT_TRUE(openFileSource("piece.bin", source, error)) << error;
    EXPECT_EQ(source.size, content.size());
    std::string read;
    char buffer[777];
    long long n = 0;
    while ((n = readFileSource(source, buffer, sizeof buffer, error)) > 0)
    {
        read.append(buffer, static_cast<size_t>(n));
    }
    closeFileSource(source);
    EXPECT_EQ(n, 0) << error;
    EXPECT_EQ(read, content);
    EXPECT_EQ(source.handle, -1);
}
