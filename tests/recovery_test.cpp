#include "edit/folders.h"
#include "edit/recovery.h"
#include "edit/save_load.h"
#include "tests/test_support.h"

#include <cstdlib>
#include <sys/stat.h>

namespace fs = std::filesystem;

// One run's copies from start to end, in a scratch state folder: the start's clean-up, a copy
// at the run's end, its removal by a save, and the copy a load keeps.
TEST_F(ScratchFolderTest, RecoveryCopiesAreKeptPrunedAndRemoved)
{
    const std::string copies = scratch + "/state/gantrix/recovery";
    fs::create_directories(copies);
    ASSERT_EQ(setenv("XDG_STATE_HOME", (scratch + "/state").c_str(), 1), 0);
    // Another folder's copies, one a day back, and one a month back; and a file of the user's.
    const auto now = fs::file_time_type::clock::now();
    for (int day = 1; day <= 13; day++)
    {
        const std::string name =
            copies + "/ships-0badf00d-20260101-0000" + std::to_string(10 + day) + "-7.hul";
        std::ofstream(name) << "0\r\n0\r\n";
        fs::last_write_time(name, now - std::chrono::hours(24 * (day == 13 ? 31 : day)));
    }
    std::ofstream(copies + "/notes.txt") << "mine";
    fs::last_write_time(copies + "/notes.txt", now - std::chrono::hours(24 * 40));
    fs::create_directory(scratch + "/my ships");
    fs::current_path(scratch + "/my ships");

    startRecovery(RECOVERY_QUIET_MILLISECONDS);
    std::vector<std::string> left;
    for (const fs::directory_entry& entry : fs::directory_iterator(copies))
    {
        left.push_back(entry.path().filename().string());
    }
    std::sort(left.begin(), left.end());
    ASSERT_EQ(left.size(), 11u);
    EXPECT_EQ(left.front(), "notes.txt");
    EXPECT_EQ(left.back(), "ships-0badf00d-20260101-000020-7.hul") << "the ten newest stay";

    // Nothing changed: the end writes nothing. A change: the end writes it, named after the
    // folder; a save removes it.
    writeRecoveryLastWords();
    EXPECT_EQ(std::distance(fs::directory_iterator(copies), fs::directory_iterator()), 11);
    appendTriangle(ship, tri({0, 0}, {25, 0}, {0, 25}));
    writeRecoveryLastWords();
    std::string mine;
    for (const fs::directory_entry& entry : fs::directory_iterator(copies))
    {
        const std::string name = entry.path().filename().string();
        mine = name.rfind("my_ships-", 0) == 0 ? entry.path().string() : mine;
    }
    ASSERT_FALSE(mine.empty());
    EXPECT_EQ(readFile(mine), formatShipFile(ship.triangles, ship.attachments));
    saveShip();
    EXPECT_FALSE(fs::exists(mine));

    // A load over a change keeps the change in the copy; the loaded ship's changes go apart.
    emptyShip(ship);
    loadShip();
    ASSERT_TRUE(fs::exists(mine));
    EXPECT_EQ(readFile(mine), "0\r\n0\r\n");
    EXPECT_EQ(ship.triangles.size(), 1u);
    appendAttachment(ship, Attachment{});
    writeRecoveryLastWords();
    const std::string next = mine.substr(0, mine.size() - 4) + "-2.hul";
    EXPECT_EQ(readFile(mine), "0\r\n0\r\n");
    EXPECT_EQ(readFile(next), formatShipFile(ship.triangles, ship.attachments));
}

// The folders on the way are made as far as they are missing, each the user's alone whatever the
// umask; a file in the way is named.
TEST_F(ScratchFolderTest, RecoveryFoldersAreMadePrivate)
{
    std::string folder;
    std::string error;
    const mode_t mask = umask(0);
    const bool made = makePrivateFolders(scratch + "/state/", "gantrix/recovery", folder, error);
    umask(mask);
    ASSERT_TRUE(made) << error;
    EXPECT_EQ(folder, scratch + "/state/gantrix/recovery");
    for (const std::string& path : {scratch + "/state", scratch + "/state/gantrix", folder})
    {
        EXPECT_EQ(fs::status(path).permissions(), fs::perms::owner_all) << path;
    }
    std::ofstream(folder + "/in the way");
    EXPECT_FALSE(makePrivateFolders(scratch, "state/gantrix/recovery/in the way/x", folder, error));
    EXPECT_EQ(error.find("cannot make the folder " + folder + "/in the way: "), 0u) << error;
}
