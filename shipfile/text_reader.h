#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Reads values from text the way the "%i" and "%f" conversions of the C library's scanf read
// them from a stream in the C locale, so hand-written ship files load as they always have: any
// white space between values, a conversion stops where scanf's would and the next value
// starts there. strtoll and strtof convert; where the longest number they take is shorter
// than what scanf takes, the reader takes the rest as scanf does. Unlike scanf, a value that
// cannot be held (an integer beyond int, a coordinate that is not finite as a float) is an
// error, because it would otherwise become garbage in the ship.

enum class ReadStatus
{
    ok,
    end,        // only white space was left
    notNumber,  // the text at this place is no number
    outOfRange, // an integer beyond int
    notFinite,  // nan or inf
    tooLarge,   // a number beyond the largest float
    negative,   // a count below zero (the ship file's own rule)
};

// The place a text is read at, value by value.
struct TextReader
{
    std::string_view text;
    size_t pos = 0;
    int line = 1;          // line of `pos`, counting line feeds
    std::string longValue; // the copy of a value too long for the stack; keeps its capacity
};

// Skips white space, counting lines; returns false when the text is used up.
bool skipSpace(TextReader& r);

// Reads a "%i" integer (decimal, octal after 0, hexadecimal after 0x) that fits in an int.
ReadStatus readInteger(TextReader& r, int& value);

// Reads a "%f" number as single precision; a number beyond the largest float is tooLarge, a
// nan or inf written as such is notFinite.
ReadStatus readFloat(TextReader& r, float& value);
