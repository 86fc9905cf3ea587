#include "png_writer.h"

#include <array>
#include <cassert>
#include <cstdio>

// A stored deflate block holds at most this many bytes.
static constexpr size_t STORED_BLOCK_MAX = 65535;

static const std::array<uint32_t, 256>& crcTable()
{
    static const std::array<uint32_t, 256> table = []
    {
        std::array<uint32_t, 256> t{};
        for (uint32_t n = 0; n < 256; ++n)
        {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k)
            {
                c = (c & 1u) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            }
            t[n] = c;
        }
        return t;
    }();
    return table;
}

static uint32_t crcUpdate(uint32_t crc, const uint8_t* data, size_t size)
{
    const std::array<uint32_t, 256>& table = crcTable();
    for (size_t i = 0; i < size; ++i)
    {
        crc = table[(crc ^ data[i]) & 0xFFu] ^ (crc >> 8);
    }
    return crc;
}

uint32_t pngCrc32(const uint8_t* data, size_t size)
{
    return crcUpdate(0xFFFFFFFFu, data, size) ^ 0xFFFFFFFFu;
}

uint32_t zlibAdler32(const uint8_t* data, size_t size)
{
    uint32_t a = 1;
    uint32_t b = 0;
    for (size_t i = 0; i < size; ++i)
    {
        a = (a + data[i]) % 65521u;
        b = (b + a) % 65521u;
    }
    return (b << 16) | a;
}

static void putBigEndian32(std::vector<uint8_t>& out, uint32_t value)
{
    out.push_back(static_cast<uint8_t>(value >> 24));
    out.push_back(static_cast<uint8_t>(value >> 16));
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value));
}

// Appends one chunk: length, type, data, and the CRC over type and data.
static void putChunk(std::vector<uint8_t>& out, const char type[4],
                     const std::vector<uint8_t>& data)
{
    putBigEndian32(out, static_cast<uint32_t>(data.size()));
    size_t typeStart = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    putBigEndian32(out, pngCrc32(out.data() + typeStart, out.size() - typeStart));
}

std::vector<uint8_t> encodePng(int width, int height, const std::vector<uint8_t>& rgb)
{
    assert(width > 0 && height > 0);
    assert(rgb.size() == static_cast<size_t>(width) * static_cast<size_t>(height) * 3);

    // Each row is preceded by its filter type, 0 (none).
    size_t rowBytes = static_cast<size_t>(width) * 3;
    std::vector<uint8_t> raw;
    raw.reserve((rowBytes + 1) * static_cast<size_t>(height));
    for (int y = 0; y < height; ++y)
    {
        raw.push_back(0);
        const uint8_t* row = rgb.data() + rowBytes * static_cast<size_t>(y);
        raw.insert(raw.end(), row, row + rowBytes);
    }

    // zlib stream: header (deflate, 32K window, no dictionary), stored blocks, Adler-32.
    std::vector<uint8_t> zlib = {0x78, 0x01};
    size_t offset = 0;
    do
    {
        size_t length = raw.size() - offset;
        if (length > STORED_BLOCK_MAX)
        {
            length = STORED_BLOCK_MAX;
        }
        bool last = offset + length == raw.size();
        zlib.push_back(last ? 1 : 0);
        zlib.push_back(static_cast<uint8_t>(length & 0xFFu));
        zlib.push_back(static_cast<uint8_t>(length >> 8));
        zlib.push_back(static_cast<uint8_t>(~length & 0xFFu));
        zlib.push_back(static_cast<uint8_t>((~length >> 8) & 0xFFu));
        zlib.insert(zlib.end(), raw.begin() + static_cast<std::ptrdiff_t>(offset),
                    raw.begin() + static_cast<std::ptrdiff_t>(offset + length));
        offset += length;
    } while (offset < raw.size());
    putBigEndian32(zlib, zlibAdler32(raw.data(), raw.size()));

    std::vector<uint8_t> header;
    putBigEndian32(header, static_cast<uint32_t>(width));
    putBigEndian32(header, static_cast<uint32_t>(height));
    header.push_back(8); // bits per channel
    header.push_back(2); // colour type: RGB
    header.push_back(0); // compression: deflate
    header.push_back(0); // filter method
    header.push_back(0); // no interlace

    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    putChunk(png, "IHDR", header);
    putChunk(png, "IDAT", zlib);
    putChunk(png, "IEND", {});
    return png;
}

bool writePng(const std::string& path, int width, int height, const std::vector<uint8_t>& rgb)
{
    std::vector<uint8_t> png = encodePng(width, height, rgb);
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
    {
        std::fprintf(stderr, "writePng: cannot open %s for writing\n", path.c_str());
        return false;
    }
    size_t written = std::fwrite(png.data(), 1, png.size(), file);
    bool closed = std::fclose(file) == 0;
    if (written != png.size() || !closed)
    {
        std::fprintf(stderr, "writePng: could not write all of %s\n", path.c_str());
        return false;
    }
    return true;
}
