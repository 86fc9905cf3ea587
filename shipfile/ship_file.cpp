#include "shipfile/ship_file.h"

#include "shipfile/status_line.h"
#include "shipfile/whole_file.h"

#include <algorithm>
#include <cassert>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// ---------------------------------------------------------------------------------------------
// Writer

static void appendFormat(std::string& out, const char* format, ...)
    __attribute__((format(printf, 2, 3)));

static void appendFormat(std::string& out, const char* format, ...)
{
    char buffer[128];
    va_list args;
    va_start(args, format);
    const int length = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    assert(length >= 0);
    if (static_cast<size_t>(length) < sizeof buffer)
    {
        out.append(buffer, static_cast<size_t>(length));
        return;
    }
    // "%f" of a very large double runs to hundreds of digits.
    const size_t start = out.size();
    out.resize(start + static_cast<size_t>(length) + 1);
    va_start(args, format);
    std::vsnprintf(&out[start], static_cast<size_t>(length) + 1, format, args);
    va_end(args);
    out.resize(start + static_cast<size_t>(length));
}

// The value stored after the corners: the area over 100. The two first cross terms are
// added before the third, and the halving comes before the division, so that every build
// writes the same digits for the same corners.
static double storedArea(const Triangle& t)
{
    return (std::fabs(doubleSignedArea(t)) * 0.5) / 100.0;
}

std::string formatShipFile(const std::vector<Triangle>& triangles,
                           const std::vector<Attachment>& attachments)
{
    std::string out;
    appendFormat(out, "%i\r\n", static_cast<int>(triangles.size()));
    for (const Triangle& t : triangles)
    {
        for (const Vec2& corner : t.corners)
        {
            appendFormat(out, "%f %f ", corner.x, corner.y);
        }
        appendFormat(out, "%f\r\n", storedArea(t));
    }
    appendFormat(out, "%i\r\n", static_cast<int>(attachments.size()));
    for (const Attachment& a : attachments)
    {
        // The key goes out as its unsigned code, so 0xA7 is written 167, never negative.
        appendFormat(out, "%f %f %i %i %i %i\r\n", a.x, a.y, static_cast<int>(a.key), a.triangle,
                     a.edge, a.modeFlag ? 1 : 0);
    }
    return out;
}

// ---------------------------------------------------------------------------------------------
// Reader
//
// Values are read the way the "%i" and "%f" conversions of the C library's scanf read them
// from a stream in the C locale, so hand-written files load as they always have: any white
// space between values, a conversion stops where scanf's would and the next value starts
// there. strtoll and strtof convert; where the longest number they take is shorter than what
// scanf takes, the reader takes the rest as scanf does. Unlike scanf, a value that cannot be
// held (an integer beyond int, a coordinate that is not finite as a float) is an error,
// because it would otherwise become garbage in the ship.

enum class ReadStatus
{
    ok,
    end,        // only white space was left
    notNumber,  // the text at this place is no number
    outOfRange, // an integer beyond int
    notFinite,  // nan or inf
    tooLarge,   // a number beyond the largest float
    negative,   // a count below zero
};

struct TextReader
{
    std::string_view text;
    size_t pos = 0;
    int line = 1;          // line of `pos`, counting line feeds
    std::string longValue; // the copy of a value too long for the stack; keeps its capacity
};

static bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

static bool isSign(char c)
{
    return c == '+' || c == '-';
}

static char lowerCase(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// The character `offset` places after the reader's position, lower case; 0 past the end.
static char lowerAt(const TextReader& r, size_t offset)
{
    return r.pos + offset < r.text.size() ? lowerCase(r.text[r.pos + offset]) : '\0';
}

// Skips white space; returns false when the text is used up.
static bool skipSpace(TextReader& r)
{
    while (r.pos < r.text.size() && isSpace(r.text[r.pos]))
    {
        if (r.text[r.pos] == '\n')
        {
            r.line++;
        }
        r.pos++;
    }
    return r.pos < r.text.size();
}

// Runs `convert` on a NUL-terminated copy of the text at the reader's position and returns
// how many characters it took. The copy stops at white space and normally fits on the stack.
// A conversion that ends near the end of a copy cut short might have gone on ("1e+" before
// the exponent's digits): it runs again on a copy twice as long.
template <typename Convert> static size_t convertCopy(TextReader& r, Convert convert)
{
    // More than the longest text a conversion can pass over before it is a number again (a
    // long "nan(...)" is not a number either way).
    constexpr size_t LOOKAHEAD = 8;
    char stackCopy[64];
    char* copy = stackCopy;
    size_t capacity = sizeof stackCopy;
    for (;;)
    {
        const size_t available = std::min(capacity - 1, r.text.size() - r.pos);
        size_t length = 0;
        while (length < available && !isSpace(r.text[r.pos + length]))
        {
            copy[length] = r.text[r.pos + length];
            length++;
        }
        copy[length] = '\0';
        const bool cut = length == capacity - 1 && r.pos + length < r.text.size() &&
                         !isSpace(r.text[r.pos + length]);
        const size_t used = convert(copy);
        if (!cut || used + LOOKAHEAD < length)
        {
            return used;
        }
        capacity *= 2;
        r.longValue.resize(capacity);
        copy = &r.longValue[0];
    }
}

// A "%i" integer: optional sign, then 0x and hexadecimal digits, 0 and octal digits, or
// decimal digits. A lone "0x" reads as zero with the x consumed.
static ReadStatus readInteger(TextReader& r, int& value)
{
    if (!skipSpace(r))
    {
        return ReadStatus::end;
    }
    // The base is chosen here rather than by strtoll, which in newer C libraries also takes
    // 0b as a binary prefix; to "%i" that is a zero followed by a b.
    const size_t sign = isSign(r.text[r.pos]) ? 1 : 0;
    const bool zero = lowerAt(r, sign) == '0';
    const bool hexadecimal = zero && lowerAt(r, sign + 1) == 'x';
    const int base = hexadecimal ? 16 : zero ? 8 : 10;
    long long converted = 0;
    size_t used = convertCopy(r,
                              [&converted, base](const char* copy)
                              {
                                  char* end = nullptr;
                                  converted = std::strtoll(copy, &end, base);
                                  return static_cast<size_t>(end - copy);
                              });
    if (used == 0)
    {
        return ReadStatus::notNumber;
    }
    if (hexadecimal && used == sign + 1)
    {
        used++; // strtoll leaves the x of a "0x" without digits, scanf takes it
    }
    r.pos += used;
    // strtoll holds any int and clamps beyond its own range, which is beyond int too.
    if (converted < INT_MIN || converted > INT_MAX)
    {
        return ReadStatus::outOfRange;
    }
    value = static_cast<int>(converted);
    return ReadStatus::ok;
}

// A "%f" number read as single precision. scanf takes a few characters more than strtof where
// they cannot complete a number: the x and a point after 0 ("0x." reads 0, a "0x" with
// nothing after is no number), and an exponent letter with its sign but no digits ("1e+"
// reads 1), so that the next value starts after them. "1.5.25" reads as 1.5, then .25.
static ReadStatus readFloat(TextReader& r, float& value)
{
    if (!skipSpace(r))
    {
        return ReadStatus::end;
    }
    float converted = 0.0f;
    size_t used = convertCopy(r,
                              [&converted](const char* copy)
                              {
                                  char* end = nullptr;
                                  converted = std::strtof(copy, &end);
                                  return static_cast<size_t>(end - copy);
                              });
    if (used == 0)
    {
        return ReadStatus::notNumber;
    }
    const size_t sign = isSign(r.text[r.pos]) ? 1 : 0;
    const bool hexadecimal = lowerAt(r, sign) == '0' && lowerAt(r, sign + 1) == 'x';
    if (hexadecimal && used == sign + 1)
    {
        if (lowerAt(r, used + 1) != '.')
        {
            return ReadStatus::notNumber;
        }
        used += 2;
    }
    else
    {
        const std::string_view taken = r.text.substr(r.pos, used);
        const char exponent = hexadecimal ? 'p' : 'e';
        if (lowerAt(r, used) == exponent &&
            taken.find_first_of(hexadecimal ? "pP" : "eE") == std::string_view::npos)
        {
            used++;
            used += isSign(lowerAt(r, used)) ? 1 : 0;
        }
    }
    // nan and inf (or infinity) are numbers to scanf, but no place in a ship can hold them.
    const bool special = lowerAt(r, sign) == 'n' || lowerAt(r, sign) == 'i';
    r.pos += used;
    if (!std::isfinite(converted))
    {
        return special ? ReadStatus::notFinite : ReadStatus::tooLarge;
    }
    value = converted;
    return ReadStatus::ok;
}

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
    error = "line " + std::to_string(r.line) + ": " + problem + " (" + where + ")";
    return false;
}

bool parseShipFile(std::string_view text, ShipFileContent& content, std::string& error)
{
    content = ShipFileContent{};
    TextReader r;
    r.text = text;
    // Records are reserved no further than the rest of the text can back: a damaged count
    // must not claim memory the file does not hold.
    ShipFileContent read;

    int triangleCount = 0;
    ReadStatus status = readInteger(r, triangleCount);
    if (status == ReadStatus::ok && triangleCount < 0)
    {
        status = ReadStatus::negative;
    }
    if (status != ReadStatus::ok)
    {
        return failParse(status, true, r, "triangle count", error);
    }
    // The shortest triangle record is seven one-digit numbers and their separators, so the
    // text bounds what a count can claim.
    read.triangles.reserve(
        std::min<size_t>(static_cast<size_t>(triangleCount), (text.size() - r.pos) / 14));
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
    status = readInteger(r, attachmentCount);
    if (status == ReadStatus::ok && attachmentCount < 0)
    {
        status = ReadStatus::negative;
    }
    if (status != ReadStatus::ok)
    {
        return failParse(status, true, r, "attachment count", error);
    }
    read.attachments.reserve(
        std::min<size_t>(static_cast<size_t>(attachmentCount), (text.size() - r.pos) / 12));
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
    if (skipSpace(r))
    {
        error = "line " + std::to_string(r.line) + ": text after the last record";
        return false;
    }
    content = std::move(read);
    error.clear();
    return true;
}

void saveShip()
{
    const Ship& s = ship;
    std::string error;
    if (!replaceFileContent(SHIP_FILE_NAME, formatShipFile(s.triangles, s.attachments), error))
    {
        std::fprintf(stderr, "gantrix: cannot save %s: %s\n", SHIP_FILE_NAME, error.c_str());
        return;
    }
    writeStatusLine("SAVED!");
}

bool loadShipFromText(std::string_view text, std::string& error)
{
    Ship& s = ship;
    ShipFileContent content;
    // Nothing changes until the whole text has been found complete and valid.
    if (!parseShipFile(text, content, error))
    {
        return false;
    }
    s.triangles = std::move(content.triangles);
    s.attachments = std::move(content.attachments);
    s.pendingPoints.clear(); // a half-built triangle does not survive a load
    return true;
}

void loadShip()
{
    std::string text;
    std::string error;
    if (!readWholeFile(SHIP_FILE_NAME, text, error) || !loadShipFromText(text, error))
    {
        std::fprintf(stderr, "gantrix: cannot load %s: %s\n", SHIP_FILE_NAME, error.c_str());
        return;
    }
    writeStatusLine("LOADED!");
}
