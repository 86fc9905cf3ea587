#include "shipfile/ship_file.h"

#include "shipfile/status_line.h"
#include "shipfile/text_reader.h"
#include "shipfile/whole_file.h"

#include <algorithm>
#include <cassert>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

// ---------------------------------------------------------------------------------------------
// Writer

// Appends `value` in fixed notation with six decimals, the bytes "%f" gives: correctly rounded
// with ties to even, "-0.000000" for negative zero, every digit of a large value.
static void appendFixed(std::string& out, double value)
{
    char buffer[320]; // the largest double has 309 digits before the point
    const std::to_chars_result result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 6);
    assert(result.ec == std::errc());
    out.append(buffer, result.ptr);
}

static void appendInteger(std::string& out, int value)
{
    char buffer[16];
    const std::to_chars_result result = std::to_chars(buffer, buffer + sizeof buffer, value);
    assert(result.ec == std::errc());
    out.append(buffer, result.ptr);
}

// The value stored after the corners: the area over 100. The two first cross terms are
// added before the third, and the halving comes before the division, so that every build
// writes the same digits for the same corners.
static double storedArea(const Triangle& t)
{
    return (std::fabs(doubleSignedArea(t)) * 0.5) / 100.0;
}

// The text of a ship file goes out in pieces of about this size, so that a save takes the same
// small memory for any ship.
constexpr size_t WRITE_PIECE_SIZE = 64 * 1024;

// Formats the ship file's text and hands it to `flush` in pieces of about WRITE_PIECE_SIZE
// bytes; stops with false as soon as `flush` fails.
template <typename Flush>
static bool writeShipText(const std::vector<Triangle>& triangles,
                          const std::vector<Attachment>& attachments, Flush flush)
{
    std::string out;
    // A record is at most a few hundred bytes (every digit of the largest doubles), so the
    // piece never grows past its first size.
    out.reserve(WRITE_PIECE_SIZE + 4096);
    bool ok = true;
    auto endLine = [&out, &ok, &flush]()
    {
        out += "\r\n";
        if (out.size() >= WRITE_PIECE_SIZE)
        {
            ok = ok && flush(out);
            out.clear();
        }
    };
    appendInteger(out, static_cast<int>(triangles.size()));
    endLine();
    for (size_t i = 0; ok && i < triangles.size(); ++i)
    {
        const Triangle& t = triangles[i];
        for (const Vec2& corner : t.corners)
        {
            appendFixed(out, corner.x);
            out += ' ';
            appendFixed(out, corner.y);
            out += ' ';
        }
        appendFixed(out, storedArea(t));
        endLine();
    }
    appendInteger(out, static_cast<int>(attachments.size()));
    endLine();
    for (size_t j = 0; ok && j < attachments.size(); ++j)
    {
        const Attachment& a = attachments[j];
        appendFixed(out, a.x);
        out += ' ';
        appendFixed(out, a.y);
        // The key goes out as its unsigned code, so 0xA7 is written 167, never negative.
        for (const int value : {static_cast<int>(a.key), a.triangle, a.edge, a.modeFlag ? 1 : 0})
        {
            out += ' ';
            appendInteger(out, value);
        }
        endLine();
    }
    return ok && (out.empty() || flush(out));
}

std::string formatShipFile(const std::vector<Triangle>& triangles,
                           const std::vector<Attachment>& attachments)
{
    std::string text;
    writeShipText(triangles, attachments,
                  [&text](const std::string& piece)
                  {
                      text += piece;
                      return true;
                  });
    return text;
}

// ---------------------------------------------------------------------------------------------
// Reader

static std::string recordName(const char* kind, int index, int count)
{
    return std::string(kind) + " " + std::to_string(index + 1) + " of " + std::to_string(count);
}

static bool failParse(ReadStatus status, bool integer, const TextReader& r,
                      const std::string& where, std::string& error)
{
    const char* problem = "";
    switch (status)
    {
        case ReadStatus::end:
            problem = "file ends early";
            break;
        case ReadStatus::notNumber:
            problem = integer ? "expected an integer" : "expected a number";
            break;
        case ReadStatus::outOfRange:
            problem = "integer out of range";
            break;
        case ReadStatus::notFinite:
        case ReadStatus::tooLarge:
            problem = "number not finite in single precision";
            break;
        case ReadStatus::negative:
            problem = "negative count";
            break;
        case ReadStatus::ok:
            assert(false);
            break;
    }
    // A file that could not be read to its end is no damaged file; say what stopped it.
    error = !r.readError.empty()
                ? r.readError
                : "line " + std::to_string(r.line) + ": " + problem + " (" + where + ")";
    return false;
}

// A record count: an integer that is not below zero.
static ReadStatus readCount(TextReader& r, int& count)
{
    const ReadStatus status = readInteger(r, count);
    return status == ReadStatus::ok && count < 0 ? ReadStatus::negative : status;
}

// Reads a whole ship from `r` into `content`, which is left empty on failure.
static bool parseShip(TextReader& r, ShipFileContent& content, std::string& error)
{
    content = ShipFileContent{};
    ShipFileContent read;

    int triangleCount = 0;
    ReadStatus status = readCount(r, triangleCount);
    if (status != ReadStatus::ok)
    {
        return failParse(status, true, r, "triangle count", error);
    }
    // Records are reserved no further than the rest of the text can back, so a damaged count
    // claims no memory the file does not hold: the shortest triangle record is seven one-digit
    // numbers and their separators, the shortest attachment record six.
    read.triangles.reserve(
        std::min<uint64_t>(static_cast<uint64_t>(triangleCount), bytesLeft(r) / 14));
    for (int i = 0; i < triangleCount; ++i)
    {
        // Six coordinates, then the area, which is checked like any number and dropped. The
        // writer computes the area in double, so corners near the float limit give an area
        // beyond it; the area alone may be that large, or the editor could not load its own
        // file back.
        float values[7];
        for (int n = 0; n < 7; ++n)
        {
            status = readFloat(r, values[n]);
            if (n == 6 && status == ReadStatus::tooLarge)
            {
                status = ReadStatus::ok;
            }
            if (status != ReadStatus::ok)
            {
                return failParse(status, false, r, recordName("triangle", i, triangleCount), error);
            }
        }
        Triangle t;
        for (int k = 0; k < 3; ++k)
        {
            t.corners[k].x = static_cast<double>(values[2 * k]);
            t.corners[k].y = static_cast<double>(values[2 * k + 1]);
        }
        read.triangles.push_back(t);
    }

    int attachmentCount = 0;
    status = readCount(r, attachmentCount);
    if (status != ReadStatus::ok)
    {
        return failParse(status, true, r, "attachment count", error);
    }
    read.attachments.reserve(
        std::min<uint64_t>(static_cast<uint64_t>(attachmentCount), bytesLeft(r) / 12));
    for (int j = 0; j < attachmentCount; ++j)
    {
        float position[2];
        int integers[4]; // key, triangle, edge, flag
        bool integer = false;
        status = ReadStatus::ok;
        for (int n = 0; n < 2 && status == ReadStatus::ok; ++n)
        {
            status = readFloat(r, position[n]);
        }
        for (int n = 0; n < 4 && status == ReadStatus::ok; ++n)
        {
            integer = true;
            status = readInteger(r, integers[n]);
        }
        if (status != ReadStatus::ok)
        {
            return failParse(status, integer, r, recordName("attachment", j, attachmentCount),
                             error);
        }
        // The stored triangle and edge are dropped: the next frame binds the attachment anew.
        Attachment a;
        a.x = static_cast<double>(position[0]);
        a.y = static_cast<double>(position[1]);
        a.key = static_cast<unsigned char>(integers[0]); // the low 8 bits
        a.modeFlag = integers[3] != 0;
        read.attachments.push_back(a);
    }
    // A damaged count shifts every later value into another field, and the file can still
    // end in step by chance; text after the last record is the sign that it was misread.
    if (skipSpace(r) || !r.readError.empty())
    {
        error = r.readError.empty()
                    ? "line " + std::to_string(r.line) + ": text after the last record"
                    : r.readError;
        return false;
    }
    content = std::move(read);
    error.clear();
    return true;
}

bool parseShipFile(std::string_view text, ShipFileContent& content, std::string& error)
{
    TextReader r;
    r.text = text;
    return parseShip(r, content, error);
}

// Writes the ship through a replacement of the file; the old file stays as it was on failure.
static bool writeShipFile(const Ship& s, std::string& error)
{
    FileReplacement replacement;
    if (!beginFileReplacement(SHIP_FILE_NAME, replacement, error))
    {
        return false;
    }
    bool ok = false;
    try
    {
        ok = writeShipText(
            s.triangles, s.attachments,
            [&replacement, &error](const std::string& piece)
            { return writeFileReplacement(replacement, piece.data(), piece.size(), error); });
        ok = ok && commitFileReplacement(replacement, error);
    }
    catch (const std::bad_alloc&)
    {
        error = "out of memory";
        ok = false;
    }
    if (!ok)
    {
        abandonFileReplacement(replacement);
    }
    return ok;
}

// A save or a load that cannot get the memory it needs fails like any other: the ship and the
// file stay as they were and the editor goes on. The line is built from a literal, so that
// reporting needs no memory the failure may have left short.
static void reportFailure(const char* what, const std::string& error)
{
    try
    {
        writeErrorLine(std::string("gantrix: cannot ") + what + " " + SHIP_FILE_NAME + ": " +
                       error);
    }
    catch (const std::bad_alloc&)
    {
        writeErrorLine("gantrix: out of memory");
    }
}

void saveShip()
{
    std::string error;
    bool ok = false;
    try
    {
        ok = writeShipFile(ship, error);
    }
    catch (const std::bad_alloc&)
    {
        error = "out of memory";
    }
    if (!ok)
    {
        reportFailure("save", error);
        return;
    }
    writeStatusLine("SAVED!");
}

bool loadShipFromText(std::string_view text, std::string& error)
{
    TextReader r;
    r.text = text;
    ShipFileContent content;
    // Nothing changes until the whole text has been found complete and valid.
    if (!parseShip(r, content, error))
    {
        return false;
    }
    Ship& s = ship;
    s.triangles = std::move(content.triangles);
    s.attachments = std::move(content.attachments);
    s.pendingPoints.clear(); // a half-built triangle does not survive a load
    return true;
}

// What the rest of the editor takes for each record beyond the ship's own copy: the frame's
// binding keeps a copy of every triangle and a grid entry (24 bytes) for each of its edges,
// and a few words for each attachment.
constexpr uint64_t FRAME_BYTES_PER_TRIANGLE = sizeof(Triangle) + 3 * 24;
constexpr uint64_t FRAME_BYTES_PER_ATTACHMENT = 32;

// Holds the address of the memory probe, so that the allocation cannot be optimised away.
static void* volatile memoryProbe = nullptr;

// Whether the editor can get the memory a ship of this size needs after the load. A ship that
// parses within the memory left could still end the editor at the next frame; asked for here,
// while the old ship is still whole, the memory is refused as a failed load instead.
static bool frameMemoryAvailable(const ShipFileContent& content)
{
    const uint64_t needed = content.triangles.size() * FRAME_BYTES_PER_TRIANGLE +
                            content.attachments.size() * FRAME_BYTES_PER_ATTACHMENT;
    if (needed > SIZE_MAX)
    {
        return false;
    }
    memoryProbe = std::malloc(static_cast<size_t>(needed));
    const bool available = memoryProbe != nullptr || needed == 0;
    std::free(memoryProbe);
    memoryProbe = nullptr;
    return available;
}

// Reads the ship file in pieces and builds the new ship beside the old one, which is replaced
// only once the whole file has been read and found valid.
static bool readShipFile(std::string& error)
{
    FileSource source;
    if (!openFileSource(SHIP_FILE_NAME, source, error))
    {
        return false;
    }
    TextReader r;
    r.source = &source;
    ShipFileContent content;
    bool ok = false;
    try
    {
        ok = parseShip(r, content, error);
    }
    catch (const std::bad_alloc&)
    {
        error = "out of memory for a ship this large";
    }
    closeFileSource(source);
    if (ok && !frameMemoryAvailable(content))
    {
        error = "out of memory for a ship of " + std::to_string(content.triangles.size()) +
                " triangles";
        ok = false;
    }
    if (ok)
    {
        Ship& s = ship;
        s.triangles = std::move(content.triangles);
        s.attachments = std::move(content.attachments);
        s.pendingPoints.clear();
    }
    return ok;
}

void loadShip()
{
    std::string error;
    bool ok = false;
    try
    {
        ok = readShipFile(error);
    }
    catch (const std::bad_alloc&)
    {
        error = "out of memory";
    }
    if (!ok)
    {
        reportFailure("load", error);
        return;
    }
    writeStatusLine("LOADED!");
}
