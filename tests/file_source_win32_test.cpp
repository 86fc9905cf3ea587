// The Windows file source, run under Wine: what a load refuses at once, and reading in pieces.

#include "edit/save_load.h"
#include "model/ship.h"
#include "platform/file_system.h"
#include "shipfile/file_source.h"
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
    EXPECT_EQ(error, "CON is a device, not a regular file");
    EXPECT_FALSE(openFileSource("NUL", source, error));
    EXPECT_EQ(error, "NUL is a device, not a regular file");

    fs::create_directory("folder");
    EXPECT_FALSE(openFileSource("folder", source, error));
    EXPECT_EQ(error, "folder is a folder, not a regular file");

    // A pipe that nobody ever writes to: refused without waiting for a writer.
    HANDLE pipe = CreateNamedPipeW(L"\\\\.\\pipe\\gantrix-test-load", PIPE_ACCESS_DUPLEX,
                                   PIPE_TYPE_BYTE | PIPE_WAIT, 1, 4096, 4096, 0, nullptr);
    ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(openFileSource("\\\\.\\pipe\\gantrix-test-load", source, error));
    EXPECT_EQ(error, "\\\\.\\pipe\\gantrix-test-load is a pipe, not a regular file");
    CloseHandle(pipe);

    EXPECT_FALSE(openFileSource("missing.hul", source, error));
    EXPECT_EQ(error, "No such file or directory");
    EXPECT_EQ(source.handle, -1);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));

    // Through the editor's load: the ship stays as it was.
    appendTriangle(ship, tri({0, 0}, {25, 0}, {0, 25}));
    loadShip();
    EXPECT_EQ(ship.triangles.size(), 1u);
}

// A handle that leads to no file at all: the system cannot say what it is, and says why,
// rather than passing for a file of some kind.
TEST_F(WindowsFileTest, AHandleTheSystemCannotDescribeGivesItsReason)
{
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(event, nullptr);
    FileKind kind = FileKind::regular;
    uint64_t size = 0;
    unsigned long failure = 0;
    EXPECT_FALSE(openFileFacts(reinterpret_cast<intptr_t>(event), kind, size, failure));
    EXPECT_NE(failure, 0ul);
    CloseHandle(event);

    // A disk file is described, kind and length.
    writeFile("ship.hul", "0\r\n0\r\n");
    HANDLE file = CreateFileW(L"ship.hul", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(openFileFacts(reinterpret_cast<intptr_t>(file), kind, size, failure));
    EXPECT_EQ(kind, FileKind::regular);
    EXPECT_EQ(size, 6u);
    CloseHandle(file);
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
