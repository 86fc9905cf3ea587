#pragma once

#include "shipfile/ship_file.h"

#include <string>
#include <string_view>

// The editor's save and load of its one ship file, over the global ship. Each reports itself:
// a status line when it succeeds, one line on stderr when it fails, and a failure (running out
// of memory included) leaves the ship and the file as they were.

// Writes the global ship to SHIP_FILE_NAME and prints "SAVED!"; on failure prints one
// line on stderr and leaves the old file as it was.
void saveShip();

// Replaces the global ship's triangles and attachments by the ship in `text` and empties
// its pending points. Text that does not parse changes nothing and returns false with a
// one-line reason in `error`. Prints nothing; loadShip reports.
bool loadShipFromText(std::string_view text, std::string& error);

// Replaces the global ship by the content of SHIP_FILE_NAME and prints "LOADED!"; a file
// that is missing or damaged changes nothing and prints one line on stderr.
void loadShip();
