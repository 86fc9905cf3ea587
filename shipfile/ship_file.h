#pragma once

#include "model/ship.h"

#include <string>
#include <string_view>
#include <vector>

// The one file the editor saves to and loads from, in the working directory.
constexpr const char* SHIP_FILE_NAME = "ship.hul";

// A ship as read from a file: attachments come back unbound (NO_EDGE).
struct ShipFileContent
{
    std::vector<Triangle> triangles;
    std::vector<Attachment> attachments;
};

// The bytes the writer puts in a ship file for these lists.
std::string formatShipFile(const std::vector<Triangle>& triangles,
                           const std::vector<Attachment>& attachments);

// Reads a ship file's text from memory. Returns true and fills `content` when the text
// is complete and valid; otherwise returns false, leaves `content` empty and puts a
// one-line reason in `error` (with the line number where a value fails).
bool parseShipFile(std::string_view text, ShipFileContent& content, std::string& error);

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
