#include "png_writer.h"

#include <cstring>
#include <gtest/gtest.h>
#include <string>

static uint32_t bigEndian32(const std::vector<uint8_t>& data, size_t at)
{
    return (uint32_t(data[at]) << 24) | (uint32_t(data[at + 1]) << 16) |
           (uint32_t(data[at + 2]) << 8) | uint32_t(data[at + 3]);
}

struct Chunk
{
    std::string type;
    std::vector<uint8_t> data;
};

// Splits a PNG into chunks, checking each chunk's CRC on the way.
static std::vector<Chunk> readChunks(const std::vector<uint8_t>& png)
{
    std::vector<Chunk> chunks;
    size_t at = 8;
    while (at + 12 <= png.size())
    {
        uint32_t length = bigEndian32(png, at);
        Chunk chunk;
        chunk.type.assign(png.begin() + static_cast<std::ptrdiff_t>(at + 4),
                          png.begin() + static_cast<std::ptrdiff_t>(at + 8));
        chunk.data.assign(png.begin() + static_cast<std::ptrdiff_t>(at + 8),
                          png.begin() + static_cast<std::ptrdiff_t>(at + 8 + length));
        EXPECT_EQ(bigEndian32(png, at + 8 + length), pngCrc32(png.data() + at + 4, length + 4))
            << "CRC of chunk " << chunk.type;
        chunks.push_back(chunk);
        at += 12 + length;
    }
    EXPECT_EQ(at, png.size());
    return chunks;
}

// Undoes the stored deflate blocks, checking their lengths and the Adler-32 trailer.
static std::vector<uint8_t> unstore(const std::vector<uint8_t>& zlib, int& blocks)
{
    std::vector<uint8_t> out;
    EXPECT_EQ(((zlib[0] << 8) | zlib[1]) % 31, 0) << "zlib header check";
    EXPECT_EQ(zlib[0] & 0x0F, 8) << "deflate method";
    size_t at = 2;
    bool last = false;
    blocks = 0;
    while (!last && at + 5 <= zlib.size())
    {
        last = (zlib[at] & 1) != 0;
        EXPECT_EQ(zlib[at] & 6, 0) << "block type must be stored";
        unsigned length = zlib[at + 1] | (zlib[at + 2] << 8);
        unsigned check = zlib[at + 3] | (zlib[at + 4] << 8);
        EXPECT_EQ(length ^ 0xFFFFu, check);
        out.insert(out.end(), zlib.begin() + static_cast<std::ptrdiff_t>(at + 5),
                   zlib.begin() + static_cast<std::ptrdiff_t>(at + 5 + length));
        at += 5 + length;
        ++blocks;
    }
    EXPECT_TRUE(last);
    EXPECT_EQ(at + 4, zlib.size());
    EXPECT_EQ(bigEndian32(zlib, at), zlibAdler32(out.data(), out.size()));
    return out;
}

TEST(PngWriter, ChecksumsMatchTheirStandardCheckValues)
{
    const char* digits = "123456789";
    EXPECT_EQ(pngCrc32(reinterpret_cast<const uint8_t*>(digits), 9), 0xCBF43926u);
    EXPECT_EQ(pngCrc32(nullptr, 0), 0u);
    const char* word = "Wikipedia";
    EXPECT_EQ(zlibAdler32(reinterpret_cast<const uint8_t*>(word), 9), 0x11E60398u);
    EXPECT_EQ(zlibAdler32(nullptr, 0), 1u);
}

TEST(PngWriter, ImageRoundTripsThroughStoredBlocks)
{
    // 200 x 150 RGB is more than one stored block can hold, so the split is exercised.
    const int width = 200;
    const int height = 150;
    std::vector<uint8_t> rgb(width * height * 3);
    for (size_t i = 0; i < rgb.size(); ++i)
    {
        rgb[i] = static_cast<uint8_t>(i * 7 + i / 600);
    }
    std::vector<uint8_t> png = encodePng(width, height, rgb);

    const uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    ASSERT_GT(png.size(), 8u);
    EXPECT_EQ(std::memcmp(png.data(), signature, 8), 0);

    std::vector<Chunk> chunks = readChunks(png);
    ASSERT_EQ(chunks.size(), 3u);
    EXPECT_EQ(chunks[0].type, "IHDR");
    EXPECT_EQ(chunks[1].type, "IDAT");
    EXPECT_EQ(chunks[2].type, "IEND");
    EXPECT_TRUE(chunks[2].data.empty());
    ASSERT_EQ(chunks[0].data.size(), 13u);
    EXPECT_EQ(bigEndian32(chunks[0].data, 0), uint32_t(width));
    EXPECT_EQ(bigEndian32(chunks[0].data, 4), uint32_t(height));
    EXPECT_EQ(chunks[0].data[8], 8);  // bits per channel
    EXPECT_EQ(chunks[0].data[9], 2);  // RGB
    EXPECT_EQ(chunks[0].data[12], 0); // not interlaced

    int blocks = 0;
    std::vector<uint8_t> raw = unstore(chunks[1].data, blocks);
    EXPECT_EQ(blocks, 2);
    const size_t rowBytes = width * 3;
    ASSERT_EQ(raw.size(), (rowBytes + 1) * height);
    for (int y = 0; y < height; ++y)
    {
        const uint8_t* row = raw.data() + (rowBytes + 1) * y;
        ASSERT_EQ(row[0], 0) << "filter of row " << y;
        ASSERT_EQ(std::memcmp(row + 1, rgb.data() + rowBytes * y, rowBytes), 0) << "row " << y;
    }
}
