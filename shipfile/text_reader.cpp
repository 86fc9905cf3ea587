#include "shipfile/text_reader.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>

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

// The copy of a value on the stack, long enough for any value the writer writes at grid scale.
constexpr size_t STACK_COPY = 64;
// More than the longest text a conversion can pass over before it is a number again (a long
// "nan(...)" is not a number either way), and more than the readers look past a value.
constexpr size_t LOOKAHEAD = 8;

uint64_t bytesLeft(const TextReader& r)
{
    uint64_t left = r.text.size() - r.pos;
    if (r.source != nullptr && !r.sourceEnded)
    {
        const uint64_t known = r.passed + r.text.size();
        left += r.source->size > known ? r.source->size - known : 0;
    }
    return left;
}

// Makes at least `wanted` bytes from the reader's position on available in `text`, unless the
// file ends first. Bytes before the position are dropped, so a piece holds what one value
// needs. A file that grows while it is read is not read on: its end would be a guess.
static void need(TextReader& r, size_t wanted)
{
    if (r.source == nullptr || r.sourceEnded || r.text.size() - r.pos >= wanted)
    {
        return;
    }
    r.piece.erase(0, r.pos);
    r.passed += r.pos;
    r.pos = 0;
    while (r.piece.size() < wanted && !r.sourceEnded)
    {
        const size_t old = r.piece.size();
        r.piece.resize(old + READ_PIECE_SIZE);
        const long long n =
            r.source->read(r.source->context, &r.piece[old], READ_PIECE_SIZE, r.readError);
        r.piece.resize(old + static_cast<size_t>(n > 0 ? n : 0));
        r.sourceEnded = n <= 0;
        if (r.passed + r.piece.size() > r.source->size)
        {
            r.readError = "the file grew while it was read";
            r.sourceEnded = true;
        }
    }
    r.text = r.piece;
}

bool skipSpace(TextReader& r)
{
    for (;;)
    {
        while (r.pos < r.text.size() && isSpace(r.text[r.pos]))
        {
            if (r.text[r.pos] == '\n')
            {
                r.line++;
            }
            r.pos++;
        }
        if (r.pos < r.text.size() || r.source == nullptr || r.sourceEnded)
        {
            break;
        }
        need(r, 1);
    }
    return r.pos < r.text.size();
}

// Runs `convert` on a NUL-terminated copy of the text at the reader's position and returns
// how many characters it took. The copy stops at white space and normally fits on the stack.
// A conversion that ends near the end of a copy cut short might have gone on ("1e+" before
// the exponent's digits): it runs again on a copy twice as long. A file read in pieces has
// the copy and a few bytes more in memory before each run, and nothing is read after the
// last one, so what the callers look at around the value stays in place.
template <typename Convert> static size_t convertCopy(TextReader& r, Convert convert)
{
    char stackCopy[STACK_COPY];
    char* copy = stackCopy;
    size_t capacity = sizeof stackCopy;
    for (;;)
    {
        need(r, capacity + LOOKAHEAD);
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
ReadStatus readInteger(TextReader& r, int& value)
{
    if (!skipSpace(r))
    {
        return ReadStatus::end;
    }
    need(r, STACK_COPY + LOOKAHEAD);
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
ReadStatus readFloat(TextReader& r, float& value)
{
    if (!skipSpace(r))
    {
        return ReadStatus::end;
    }
    need(r, STACK_COPY + LOOKAHEAD);
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
