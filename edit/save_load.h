#pragma once

#include "shipfile/ship_file.h"

#include <string>

// The editor's save and load of its one ship file, over the global ship. Each reports itself:
// a status line when it succeeds, one line on stderr when it fails, and a failure (running out
// of memory included) leaves the ship and the file as they were.

// Writes the global ship to SHIP_FILE_NAME and prints "SAVED!"; on failure prints one
// line on stderr and leaves the old file as it was.
void saveShip();

// Replaces the global ship by the content of SHIP_FILE_NAME and prints "LOADED!"; a file
// that is missing or damaged changes nothing and prints one line on stderr.
void loadShip();
