#include "shipfile/ship_file.h"

#include "shipfile/text_reader.h"

#include <algorithm>
#include <cassert>
#include <charconv>
#include <cmath>
#include <cstdint>

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

bool writeShipText(const std::vector<Triangle>& triangles,
                   const std::vector<Attachment>& attachments, const PieceSink& sink)
{
    std::string out;
    // A record is at most a few hundred bytes (every digit of the largest doubles), so the
    // piece never grows past its first size.
    out.reserve(WRITE_PIECE_SIZE + 4096);
    bool ok = true;
    auto endLine = [&out, &ok, &sink]()
    {
        out += "\r\n";
        if (out.size() >= WRITE_PIECE_SIZE)
        {
            ok = ok && sink.write(sink.context, out.data(), out.size());
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
    return ok && (out.empty() || sink.write(sink.context, out.data(), out.size()));
}

static bool appendPiece(void* context, const char* data, size_t size)
{
    static_cast<std::string*>(context)->append(data, size);
    return true;
}

std::string formatShipFile(const std::vector<Triangle>& triangles,
                           const std::vector<Attachment>& attachments)
{
    std::string text;
    writeShipText(triangles, attachments, PieceSink{appendPiece, &text});
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
            problem = "nan, infinity or a number beyond 3.4e38";
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

// The storage to reserve for a list of `records` in a ship of `triangles` triangles, with the
// room its reader asked for.
static std::size_t withRoom(uint64_t records, std::size_t triangles, ShipRoom room)
{
    const std::size_t n = static_cast<std::size_t>(records);
    return room == nullptr ? n : n + room(triangles);
}

bool parseShip(TextReader& r, ShipFileContent& content, std::string& error, ShipRoom room)
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
    const uint64_t backed =
        std::min<uint64_t>(static_cast<uint64_t>(triangleCount), bytesLeft(r) / 14);
    read.triangles.reserve(withRoom(backed, static_cast<std::size_t>(backed), room));
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
        withRoom(std::min<uint64_t>(static_cast<uint64_t>(attachmentCount), bytesLeft(r) / 12),
                 read.triangles.size(), room));
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
