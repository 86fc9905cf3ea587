// The Windows file replacement, run under Wine: how a save replaces the ship file, how a
// rewrite in place makes room first, and a working folder whose name is not ASCII.

#include "edit/save_load.h"
#include "model/ship.h"
#include "shipfile/file_replacement.h"
#include "shipfile/file_source.h"
#include "shipfile/ship_file.h"
#include "tests/failing_allocations.h"
#include "tests/test_support.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <new>
#include <sstream>
#include <string>
#include <thread>
#include <vector>
#include <windows.h>
// The security descriptor texts need windows.h before them.
#include <sddl.h>

namespace fs = std::filesystem;

namespace
{
std::vector<std::string> folderEntries()
{
    std::vector<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator("."))
    {
        names.push_back(entry.path().filename().u8string());
    }
    return names;
}

DWORD attributesOf(const wchar_t* path)
{
    return GetFileAttributesW(path);
}

const std::string SAVED_TRIANGLE =
    "1\r\n0.000000 0.000000 25.000000 0.000000 0.000000 25.000000 3.125000\r\n0\r\n";

void addTriangle()
{
    appendTriangle(ship, tri({0, 0}, {25, 0}, {0, 25}));
}
} // namespace

using WindowsFileTest = ScratchFolderTest;

TEST_F(WindowsFileTest, SaveReplacesTheFileWholeAndKeepsItsAttributes)
{
    addTriangle();
    saveShip();
    EXPECT_EQ(readFile("ship.hul"), SAVED_TRIANGLE);

    // A hidden system file stays so once replaced; no temporary file is left beside it.
    ASSERT_TRUE(SetFileAttributesW(L"ship.hul", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                                    FILE_ATTRIBUTE_ARCHIVE));
    emptyShip(ship);
    saveShip();
    EXPECT_EQ(readFile("ship.hul"), "0\r\n0\r\n");
    const DWORD attributes = attributesOf(L"ship.hul");
    EXPECT_NE(attributes & FILE_ATTRIBUTE_HIDDEN, 0u) << attributes;
    EXPECT_NE(attributes & FILE_ATTRIBUTE_SYSTEM, 0u) << attributes;
    EXPECT_EQ(folderEntries(), std::vector<std::string>{"ship.hul"});
    SetFileAttributesW(L"ship.hul", FILE_ATTRIBUTE_NORMAL);

    // The file's own access list (here all rights for everyone, protected from the folder's,
    // which lets everyone only read) stays the file's once it is replaced.
    PSECURITY_DESCRIPTOR granted = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
        L"D:P(A;;FA;;;WD)", SDDL_REVISION_1, &granted, nullptr));
    ASSERT_TRUE(SetFileSecurityW(L"ship.hul", DACL_SECURITY_INFORMATION, granted));
    LocalFree(granted);
    const auto accessList = []()
    {
        DWORD needed = 0;
        GetFileSecurityW(L"ship.hul", DACL_SECURITY_INFORMATION, nullptr, 0, &needed);
        std::vector<char> descriptor(needed + 1);
        wchar_t* text = nullptr;
        std::wstring list;
        if (GetFileSecurityW(L"ship.hul", DACL_SECURITY_INFORMATION, descriptor.data(), needed,
                             &needed) &&
            ConvertSecurityDescriptorToStringSecurityDescriptorW(
                descriptor.data(), SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr))
        {
            list = text;
            LocalFree(text);
        }
        return list;
    };
    const std::wstring before = accessList();
    ASSERT_NE(before.find(L";;;WD)"), std::wstring::npos) << fs::path(before).u8string();
    addTriangle();
    saveShip();
    EXPECT_EQ(readFile("ship.hul"), SAVED_TRIANGLE);
    EXPECT_TRUE(accessList() == before) << fs::path(accessList()).u8string();
    EXPECT_EQ(folderEntries(), std::vector<std::string>{"ship.hul"});
    emptyShip(ship);
    saveShip();

    // A replacement given up leaves the target alone and takes its temporary file away.
    FileReplacement replacement;
    std::string error;
    ASSERT_TRUE(beginFileReplacement("ship.hul", replacement, error)) << error;
    EXPECT_FALSE(replacement.inPlace);
    EXPECT_EQ(replacement.tempPath.rfind("ship.hul.", 0), 0u) << replacement.tempPath;
    ASSERT_TRUE(writeFileReplacement(replacement, "junk", 4, error)) << error;
    abandonFileReplacement(replacement);
    EXPECT_EQ(readFile("ship.hul"), "0\r\n0\r\n");
    EXPECT_EQ(folderEntries(), std::vector<std::string>{"ship.hul"});

    // A target that is a folder or a device is refused before anything is created.
    fs::create_directory("box");
    EXPECT_FALSE(beginFileReplacement("box", replacement, error));
    EXPECT_EQ(error, "box is a folder, not a regular file");
    EXPECT_FALSE(beginFileReplacement("NUL", replacement, error));
    EXPECT_EQ(error, "NUL is a device, not a regular file");
    EXPECT_EQ(folderEntries().size(), 2u);
}

// Another program holds the ship file open, without letting it be deleted, for a moment after
// the new content is written, as a virus scanner does with a file just closed.
TEST_F(WindowsFileTest, ReplacementOutlastsABriefHoldAndGivesUpOnALongOne)
{
    writeFile("ship.hul", SAVED_TRIANGLE);
    std::string error;
    FileReplacement replacement;
    ASSERT_TRUE(beginFileReplacement("ship.hul", replacement, error)) << error;
    ASSERT_TRUE(writeFileReplacement(replacement, "0\r\n0\r\n", 6, error)) << error;
    HANDLE held = CreateFileW(L"ship.hul", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    std::thread scanner(
        [held]
        {
            Sleep(30);
            CloseHandle(held);
        });
    const bool committed = commitFileReplacement(replacement, error);
    scanner.join();
    EXPECT_TRUE(committed) << error;
    EXPECT_EQ(readFile("ship.hul"), "0\r\n0\r\n");
    EXPECT_EQ(folderEntries(), std::vector<std::string>{"ship.hul"});

    // Held for good: the save fails after a bounded wait, and the old file is kept whole.
    ASSERT_TRUE(beginFileReplacement("ship.hul", replacement, error)) << error;
    ASSERT_TRUE(writeFileReplacement(replacement, "junk", 4, error)) << error;
    const std::string temp = replacement.tempPath;
    held = CreateFileW(L"ship.hul", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(commitFileReplacement(replacement, error));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
    CloseHandle(held);
    EXPECT_EQ(error.rfind("renaming " + temp + " to ship.hul: ", 0), 0u) << error;
    EXPECT_EQ(readFile("ship.hul"), "0\r\n0\r\n");
    EXPECT_EQ(folderEntries(), std::vector<std::string>{"ship.hul"});
}

// Memory runs out once the new content is written: the save gives the replacement up, and
// that takes no memory, so no temporary file is left beside the ship file.
TEST_F(WindowsFileTest, GivingUpTakesNoMemoryAndLeavesNoTemporaryFile)
{
    writeFile("ship.hul", SAVED_TRIANGLE);
    std::string error;
    FileReplacement replacement;
    ASSERT_TRUE(beginFileReplacement("ship.hul", replacement, error)) << error;
    ASSERT_TRUE(writeFileReplacement(replacement, "0\r\n0\r\n", 6, error)) << error;
    ASSERT_EQ(folderEntries().size(), 2u);
    bool gaveUp = true;
    allocationsLeft = 0;
    try
    {
        abandonFileReplacement(replacement);
    }
    catch (const std::bad_alloc&)
    {
        gaveUp = false;
    }
    allocationsLeft = -1;
    EXPECT_TRUE(gaveUp);
    EXPECT_EQ(replacement.handle, -1);
    EXPECT_EQ(readFile("ship.hul"), SAVED_TRIANGLE);
    EXPECT_EQ(folderEntries(), std::vector<std::string>{"ship.hul"});
}

TEST_F(WindowsFileTest, TargetThatCannotBeLookedAtIsNotTakenForANewFile)
{
    std::string error;
    FileReplacement replacement;
    EXPECT_FALSE(beginFileReplacement("ship?.hul", replacement, error));
    EXPECT_EQ(error, "ship?.hul: not a valid file name");
    EXPECT_TRUE(replacement.tempPath.empty());
    EXPECT_TRUE(folderEntries().empty());
}

// The in-place rewrite, as a save takes it where the folder refuses new files, on a ship file
// opened the way the save opens it.
static FileReplacement inPlace(const wchar_t* path)
{
    FileReplacement replacement;
    replacement.target = fs::path(path).u8string();
    HANDLE handle = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    replacement.handle = handle == INVALID_HANDLE_VALUE ? -1 : reinterpret_cast<intptr_t>(handle);
    replacement.inPlace = true;
    replacement.oldSize = fs::file_size(path);
    return replacement;
}

// The space for the whole new text is made real before the first byte changes: the file grows
// by written bytes, and whatever stops the save before the rewrite (no room, or anything after
// the reservation) leaves the old file byte for byte. A write that fails once bytes changed is
// marked, so the save can say the file may be damaged.
TEST_F(WindowsFileTest, RewriteInPlaceMakesRoomFirstAndKeepsTheOldFileWhenThereIsNone)
{
    writeFile("ship.hul", SAVED_TRIANGLE);
    FileReplacement replacement = inPlace(L"ship.hul");
    ASSERT_NE(replacement.handle, -1);
    std::string error;

    EXPECT_FALSE(reserveFileReplacement(replacement, uint64_t(1) << 62, error));
    EXPECT_EQ(error, "writing ship.hul: No space left on device");
    EXPECT_EQ(readFile("ship.hul"), SAVED_TRIANGLE);

    // Given up after the reservation: cut back to the old bytes.
    const std::string longer(SAVED_TRIANGLE.size() + 100000, '#');
    ASSERT_TRUE(reserveFileReplacement(replacement, longer.size(), error)) << error;
    EXPECT_EQ(fs::file_size("ship.hul"), longer.size());
    EXPECT_EQ(readFile("ship.hul").substr(0, SAVED_TRIANGLE.size()), SAVED_TRIANGLE);
    abandonFileReplacement(replacement);
    EXPECT_EQ(readFile("ship.hul"), SAVED_TRIANGLE);

    replacement = inPlace(L"ship.hul");
    ASSERT_TRUE(reserveFileReplacement(replacement, longer.size(), error)) << error;
    ASSERT_TRUE(writeFileReplacement(replacement, longer.data(), longer.size(), error)) << error;
    ASSERT_TRUE(commitFileReplacement(replacement, error)) << error;
    EXPECT_EQ(readFile("ship.hul"), longer);

    // A write that fails after the first piece went in: here the handle loses its right to
    // write, as a failing disk would refuse it.
    replacement = inPlace(L"ship.hul");
    ASSERT_TRUE(reserveFileReplacement(replacement, SAVED_TRIANGLE.size(), error)) << error;
    ASSERT_TRUE(writeFileReplacement(replacement, SAVED_TRIANGLE.data(), 10, error)) << error;
    EXPECT_TRUE(replacement.changed);
    CloseHandle(reinterpret_cast<HANDLE>(replacement.handle));
    replacement.handle = reinterpret_cast<intptr_t>(
        CreateFileW(L"ship.hul", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_FALSE(writeFileReplacement(replacement, SAVED_TRIANGLE.data() + 10, 10, error));
    EXPECT_EQ(error, "writing ship.hul: Permission denied");
    abandonFileReplacement(replacement);

    // A replacement through a temporary file needs no room made.
    ASSERT_TRUE(beginFileReplacement("ship.hul", replacement, error)) << error;
    EXPECT_FALSE(replacement.inPlace);
    EXPECT_TRUE(reserveFileReplacement(replacement, uint64_t(1) << 62, error)) << error;
    abandonFileReplacement(replacement);
    EXPECT_EQ(readFile("ship.hul").substr(0, 10), SAVED_TRIANGLE.substr(0, 10));
}

TEST_F(WindowsFileTest, ReadOnlyShipFileIsAFailedSaveThatChangesNothing)
{
    writeFile("ship.hul", SAVED_TRIANGLE);
    ASSERT_TRUE(SetFileAttributesW(L"ship.hul", FILE_ATTRIBUTE_READONLY));
    std::string error;
    EXPECT_FALSE(replaceFileContent("ship.hul", "0\r\n0\r\n", error));
    EXPECT_EQ(error, "ship.hul: Permission denied");
    emptyShip(ship);
    saveShip();
    EXPECT_EQ(readFile("ship.hul"), SAVED_TRIANGLE);
    EXPECT_NE(attributesOf(L"ship.hul") & FILE_ATTRIBUTE_READONLY, 0u);
    EXPECT_EQ(folderEntries(), std::vector<std::string>{"ship.hul"});
    SetFileAttributesW(L"ship.hul", FILE_ATTRIBUTE_NORMAL);
}

TEST_F(WindowsFileTest, WorkingFolderWithANameThatIsNotAscii)
{
    // "Werft-Größe-船", written out in UTF-8.
    const std::string name = "Werft-Gr\xC3\xB6\xC3\x9F"
                             "e-\xE8\x88\xB9";
    const fs::path folder = fs::u8path(name);
    ASSERT_TRUE(fs::create_directory(folder));
    fs::current_path(folder);
    addTriangle();
    saveShip();
    EXPECT_EQ(readFile("ship.hul"), SAVED_TRIANGLE);
    emptyShip(ship);
    loadShip();
    EXPECT_EQ(ship.triangles.size(), 1u);

    // The seam's own paths are UTF-8 too, here with the folder's name in them.
    const std::string path = "../" + name + "/ship.hul";
    FileSource source;
    std::string error;
    ASSERT_TRUE(openFileSource(path.c_str(), source, error)) << error;
    EXPECT_EQ(source.size, SAVED_TRIANGLE.size());
    closeFileSource(source);
    ASSERT_TRUE(replaceFileContent(path, "0\r\n0\r\n", error)) << error;
    EXPECT_EQ(readFile("ship.hul"), "0\r\n0\r\n");
    fs::current_path("..");
}
