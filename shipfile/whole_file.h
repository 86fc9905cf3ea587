#pragma once

#include <string>

// Reads the regular file at `path` whole into `text`. Anything else (a folder, a FIFO, a
// device) is refused before a byte is read. Returns false with a one-line reason in `error`.
bool readWholeFile(const char* path, std::string& text, std::string& error);

// Replaces the file at `path` by `content` so that the old file stays whole until the
// new one is complete on disk. Returns false with a one-line reason on any failure.
bool replaceFileContent(const std::string& path, const std::string& content, std::string& error);
