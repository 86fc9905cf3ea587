#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Writes an 8-bit RGB image (rows top to bottom, three bytes per pixel) as a PNG file.
// The image data goes into stored deflate blocks, so no compression library is needed;
// the file is larger than it could be but any PNG reader accepts it.
// Returns false, after one line on stderr, when the file cannot be written.
bool writePng(const std::string& path, int width, int height, const std::vector<uint8_t>& rgb);

// Encodes the same file into memory; writePng is this plus the disk write.
std::vector<uint8_t> encodePng(int width, int height, const std::vector<uint8_t>& rgb);

// Checksums of the PNG container, exposed so the encoder can be checked against known values.
uint32_t pngCrc32(const uint8_t* data, size_t size);
uint32_t zlibAdler32(const uint8_t* data, size_t size);
