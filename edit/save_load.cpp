#include "edit/save_load.h"

#include "bind/binding.h"
#include "edit/corner_index.h"
#include "edit/folders.h"
#include "edit/recovery.h"
#include "platform/console.h"
#include "shipfile/file_replacement.h"
#include "shipfile/file_source.h"
#include "shipfile/text_reader.h"

#include <cstdint>
#include <new>

static bool countPiece(void* context, const char*, size_t size)
{
    *static_cast<uint64_t*>(context) += size;
    return true;
}

// A replacement under way and where its failure is said.
struct ReplacementSink
{
    FileReplacement* replacement;
    std::string* error;
};

static bool writePiece(void* context, const char* data, size_t size)
{
    const ReplacementSink& sink = *static_cast<ReplacementSink*>(context);
    return writeFileReplacement(*sink.replacement, data, size, *sink.error);
}

bool writeShipFile(const std::string& path, const std::vector<Triangle>& triangles,
                   const std::vector<Attachment>& attachments, std::string& error)
{
    FileReplacement replacement;
    if (!beginFileReplacement(path.c_str(), replacement, error))
    {
        return false;
    }
    bool ok = false;
    try
    {
        // A rewrite in place changes the old file as it goes, so it first makes room for the
        // whole new text, whose length one formatting pass that writes nothing tells.
        uint64_t size = 0;
        if (replacement.inPlace)
        {
            writeShipText(triangles, attachments, PieceSink{countPiece, &size});
        }
        ReplacementSink sink{&replacement, &error};
        ok = reserveFileReplacement(replacement, size, error) &&
             writeShipText(triangles, attachments, PieceSink{writePiece, &sink});
        ok = ok && commitFileReplacement(replacement, error);
    }
    catch (const std::bad_alloc&)
    {
        error = "out of memory";
        ok = false;
    }
    if (!ok)
    {
        // Everything that could refuse a rewrite in place was asked before its first byte
        // changed; what fails after that (an I/O error) cannot give the old file back.
        const bool damaged = replacement.inPlace && replacement.changed;
        try
        {
            abandonFileReplacement(replacement, &error);
        }
        catch (const std::bad_alloc&)
        {
            abandonFileReplacement(replacement);
        }
        if (damaged)
        {
            // The warning must reach the user even when memory is what ran out.
            try
            {
                error += "; " + replacement.target +
                         " may be damaged, but the ship in the editor is whole and can be saved "
                         "again";
            }
            catch (const std::bad_alloc&)
            {
                writeErrorLine("gantrix: ship.hul may be damaged, but the ship in the editor is "
                               "whole and can be saved again");
            }
        }
    }
    return ok;
}

// A save or a load that cannot get the memory it needs fails like any other: the ship and the
// file stay as they were and the editor goes on. The line names the working folder, which a
// user who started the editor from a menu cannot guess. When even the line cannot be put
// together, a literal that needs no memory says what happened.
static void reportFailure(const char* what, const std::string& error)
{
    try
    {
        std::string folder;
        std::string ignored;
        const std::string where = workingFolder(folder, ignored) ? " in " + folder : "";
        writeErrorLine(std::string("gantrix: cannot ") + what + " " + SHIP_FILE_NAME + where +
                       ": " + error);
    }
    catch (const std::bad_alloc&)
    {
        writeErrorLine(what[0] == 's' ? "gantrix: cannot save ship.hul: out of memory"
                                      : "gantrix: cannot load ship.hul: out of memory");
    }
}

// Runs one save or load step and reports it: `done` on stdout when it succeeds, one line on
// stderr when it fails or runs out of memory.
static bool runReported(const char* what, bool (*step)(std::string& error), const char* done)
{
    std::string error;
    bool ok = false;
    try
    {
        ok = step(error);
    }
    catch (const std::bad_alloc&)
    {
        error = "out of memory";
    }
    if (!ok)
    {
        reportFailure(what, error);
        return false;
    }
    writeStatusLine(done);
    return true;
}

void saveShip()
{
    const bool saved = runReported(
        "save",
        [](std::string& error)
        { return writeShipFile(SHIP_FILE_NAME, ship.triangles, ship.attachments, error); },
        "SAVED!");
    if (saved)
    {
        recoveryAfterSave();
    }
}

// Triangles, and attachments, that a loaded ship may gain before its lists and its binding
// ask for more memory: GROWTH_ROOM, and one in GROWTH_ROOM_SHARE of the ship's, so that a long
// session of editing rarely asks.
static constexpr std::size_t GROWTH_ROOM = 256;
static constexpr std::size_t GROWTH_ROOM_SHARE = 16;

static std::size_t growthRoom(std::size_t triangles)
{
    return GROWTH_ROOM + triangles / GROWTH_ROOM_SHARE;
}

bool adoptShip(ShipFileContent& content, std::string& error)
{
    try
    {
        const std::size_t room = growthRoom(content.triangles.size());
        content.triangles.reserve(content.triangles.size() + room);
        content.attachments.reserve(content.attachments.size() + room);
        prepareCornerIndex(content.triangles.capacity());
        prepareBinding(content.triangles, content.attachments);
    }
    catch (const std::bad_alloc&)
    {
        discardPreparedCornerIndex();
        error = "out of memory for a ship of " + std::to_string(content.triangles.size()) +
                " triangles";
        return false;
    }
    adoptShipLists(ship, std::move(content.triangles), std::move(content.attachments));
    adoptPreparedBinding(ship);
    adoptPreparedCornerIndex();
    return true;
}

static long long readPiece(void* context, char* buffer, size_t capacity, std::string& error)
{
    return readFileSource(*static_cast<FileSource*>(context), buffer, capacity, error);
}

bool readShipContent(const std::string& path, ShipFileContent& content, std::string& error)
{
    FileSource source;
    if (!openFileSource(path.c_str(), source, error))
    {
        return false;
    }
    const PieceSource pieces{readPiece, &source, source.size};
    TextReader r;
    r.source = &pieces;
    bool ok = false;
    bool outOfMemory = false;
    try
    {
        ok = parseShip(r, content, error, growthRoom);
    }
    catch (const std::bad_alloc&)
    {
        outOfMemory = true;
    }
    // Closed before anything else may ask for memory.
    closeFileSource(source);
    if (outOfMemory)
    {
        error = "out of memory for a ship this large";
    }
    return ok;
}

// Builds the new ship beside the old one, which is replaced only once the whole file has been
// read and found valid.
static bool readShipFile(std::string& error)
{
    ShipFileContent content;
    return readShipContent(SHIP_FILE_NAME, content, error) && adoptShip(content, error);
}

void loadShip()
{
    // A changed ship goes to its recovery copy before anything can replace it.
    recoveryBeforeLoad();
    recoveryAfterLoad(runReported("load", readShipFile, "LOADED!"));
}
