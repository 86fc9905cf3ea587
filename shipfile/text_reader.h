#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Reads values from text the way the "%i" and "%f" conversions of the C library's scanf read
// them from a stream in the C locale, so that every ship file written by hand or by another
// tool reads the same way: any white space between values, a conversion stops where scanf's would
// and the next value starts there. strtoll and strtof convert; where the longest number they take
// is shorter than what scanf takes, the reader takes the rest as scanf does. Unlike scanf, a value
// that cannot be held (an integer beyond int, a coordinate that is not finite as a float) is an
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

// The bytes of a file read at a time: enough to make the calls to the system few, small
// enough that a file of any size is read in bounded memory.
constexpr size_t READ_PIECE_SIZE = 64 * 1024;

// Where a reader takes a file's bytes from, piece by piece: `read` puts at most `capacity`
// bytes in `buffer` and returns how many (0 at the end), or -1 with a one-line reason in
// `error`; `context` is handed to it unchanged.
struct PieceSource
{
    long long (*read)(void* context, char* buffer, size_t capacity, std::string& error) = nullptr;
    void* context = nullptr;
    uint64_t size = 0; // the bytes the source holds, as known when it was opened
};

// The place a text is read at, value by value. The text is either all in memory (`text` set,
// `source` null), or read piece by piece from a source (`source` set): then `text` views the
// bytes read and not yet passed over, which hold at least the value being read, however long.
struct TextReader
{
    std::string_view text;
    size_t pos = 0;
    int line = 1;          // line of `pos`, counting line feeds
    std::string longValue; // the copy of a value too long for the stack; keeps its capacity

    const PieceSource* source = nullptr; // where the text comes from; null for text in memory
    std::string piece;                   // the file's bytes from `passed` on, as far as read
    uint64_t passed = 0;                 // bytes of the file dropped before `piece`
    bool sourceEnded = false;            // the source gave its last byte, or failed
    std::string readError; // why the source could not be read to its end; empty if it could
};

// The bytes of the text from the reader's position to its end (for a source, by its size).
uint64_t bytesLeft(const TextReader& r);

// Skips white space, counting lines; returns false when the text is used up.
bool skipSpace(TextReader& r);

// Reads a "%i" integer (decimal, octal after 0, hexadecimal after 0x) that fits in an int.
ReadStatus readInteger(TextReader& r, int& value);

// Reads a "%f" number as single precision; a number beyond the largest float is tooLarge, a
// nan or inf written as such is notFinite.
ReadStatus readFloat(TextReader& r, float& value);
