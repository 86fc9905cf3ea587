#pragma once

#include "model/ship.h"

#include <cstddef>
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

struct TextReader;

// Where the writer's text goes, piece by piece: `write` takes one piece and returns false to
// stop the writing; `context` is handed to it unchanged (a file, a string, a counter).
struct PieceSink
{
    bool (*write)(void* context, const char* data, size_t size) = nullptr;
    void* context = nullptr;
};

// Formats the ship file's text for these lists and hands it to `sink` in pieces of about
// 64 KiB, so that writing a ship takes the same small memory for any ship; stops with false as
// soon as the sink fails.
bool writeShipText(const std::vector<Triangle>& triangles,
                   const std::vector<Attachment>& attachments, const PieceSink& sink);

// The bytes the writer puts in a ship file for these lists, in one string.
std::string formatShipFile(const std::vector<Triangle>& triangles,
                           const std::vector<Attachment>& attachments);

// Reads a ship file's text from memory. Returns true and fills `content` when the text
// is complete and valid; otherwise returns false, leaves `content` empty and puts a
// one-line reason in `error` (with the line number where a value fails).
bool parseShipFile(std::string_view text, ShipFileContent& content, std::string& error);

// The records that each list of a ship of `triangles` triangles may gain once it is read: the
// room its reader sets aside.
using ShipRoom = std::size_t (*)(std::size_t triangles);

// Reads a whole ship from `r`, in memory or from a piece source, into `content`; the same
// rules and messages as parseShipFile. With `room`, each list is read into storage with that
// room beyond its records, so that the ship can be edited without its lists being copied first.
bool parseShip(TextReader& r, ShipFileContent& content, std::string& error,
               ShipRoom room = nullptr);
