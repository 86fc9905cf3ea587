#pragma once

#include "shipfile/ship_file.h"

#include <string>

// The editor's save and load of its one ship file, over the global ship. Each reports itself:
// a status line when it succeeds, one line on stderr when it fails, and a failure (running out
// of memory included) leaves the ship and the file as they were.

// Writes a ship to `path` through a replacement of the file, so the file holds the old ship or
// the new one, never half; on failure the old file stays as it was and `error` says why.
// Prints nothing and touches no global, so a writer thread may call it.
bool writeShipFile(const std::string& path, const std::vector<Triangle>& triangles,
                   const std::vector<Attachment>& attachments, std::string& error);

// Reads the ship file at `path` whole into `content`, with the room for editing an adopted
// ship keeps; false with the reason in `error` when it cannot be opened or read or is not a
// valid ship file. Prints nothing.
bool readShipContent(const std::string& path, ShipFileContent& content, std::string& error);

// Makes `content`, read whole and valid, the editor's ship, with its binding; a half-built
// triangle does not survive. Everything the ship needs once adopted is had first, while the
// old ship is still whole, so a ship the memory cannot hold is refused here with the reason
// in `error`, and nothing changes.
bool adoptShip(ShipFileContent& content, std::string& error);

// Writes the global ship to SHIP_FILE_NAME and prints "SAVED!"; on failure prints one
// line on stderr and leaves the old file as it was.
void saveShip();

// Replaces the global ship by the content of SHIP_FILE_NAME and prints "LOADED!"; a file
// that is missing or damaged changes nothing and prints one line on stderr.
void loadShip();
