// Saves two ships in turn, forever, into ship.hul in the working folder, so that a test can
// kill it at any moment of a save:
//   save_loop_helper FIRST.hul SECOND.hul
// It writes one byte "R" on stdout once both ships are read and the first save is about to
// start; every save then prints its usual status line. SIGINT, SIGTERM and SIGHUP end it as
// they end the editor: after the save under way, or at once at a second one.

#include "edit/save_load.h"
#include "model/ship.h"
#include "platform/run_end.h"
#include "shipfile/ship_file.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

static bool readShip(const char* path, ShipFileContent& content)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    std::string error;
    if (!in || !parseShipFile(text.str(), content, error))
    {
        std::fprintf(stderr, "save_loop_helper: cannot read %s: %s\n", path, error.c_str());
        return false;
    }
    return true;
}

int main(int argc, char** argv)
{
    if (argc != 3)
    {
        std::fprintf(stderr, "usage: save_loop_helper FIRST.hul SECOND.hul\n");
        return 2;
    }
    ShipFileContent ships[2];
    if (!readShip(argv[1], ships[0]) || !readShip(argv[2], ships[1]))
    {
        return 1;
    }
    watchRunEnd();
    if (write(STDOUT_FILENO, "R", 1) != 1)
    {
        return 1;
    }
    for (unsigned turn = 0;; ++turn)
    {
        const ShipFileContent& next = ships[turn % 2];
        ship.triangles = next.triangles;
        ship.attachments = next.attachments;
        saveShip();
        if (runEndAsked())
        {
            endRunAsAsked();
        }
    }
}
