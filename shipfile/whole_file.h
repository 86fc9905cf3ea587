#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Reads the regular file at `path` whole into `text`. Anything else (a folder, a FIFO, a
// device) is refused before a byte is read. Returns false with a one-line reason in `error`.
bool readWholeFile(const char* path, std::string& text, std::string& error);

// Replaces the file at `path` by `content` so that the old file stays whole until the
// new one is complete on disk. Returns false with a one-line reason on any failure.
bool replaceFileContent(const std::string& path, const std::string& content, std::string& error);

// The per-OS seam under the two calls above: reading in pieces and replacing in one step.
// whole_file_win32.cpp implements it for Windows.

// A regular disk file opened for reading in pieces.
struct FileSource
{
    intptr_t handle = -1; // the operating system's descriptor or handle; -1 when not open
    uint64_t size = 0;    // bytes at the open
};

// Opens `path` for reading. Anything but a regular disk file (a folder, a FIFO or pipe, a
// device, and on Windows a device name such as CON or NUL) is refused before a byte is read.
// Returns false with a one-line reason in `error`.
bool openFileSource(const char* path, FileSource& source, std::string& error);
// Reads at most `capacity` bytes; returns how many (0 at the end) or -1 with a reason.
long long readFileSource(FileSource& source, char* buffer, size_t capacity, std::string& error);
void closeFileSource(FileSource& source);

// A save in progress: the new content goes to a temporary file beside the target (or, where
// the folder refuses new files but the target itself is writable, into the target in place).
struct FileReplacement
{
    intptr_t handle = -1;
    std::string target;   // the file to be replaced, links followed (UTF-8)
    std::string tempPath; // the temporary file beside it; empty when rewriting in place
};

// Prepares to replace the file at `path`. Refuses, touching nothing, a target (or what its
// links lead to) that exists and is not a regular file, and a target the user may not write.
bool beginFileReplacement(const char* path, FileReplacement& replacement, std::string& error);
bool writeFileReplacement(FileReplacement& replacement, const char* data, size_t size,
                          std::string& error);
// Flushes the new content to the disk and puts it in place in one step (attributes kept).
bool commitFileReplacement(FileReplacement& replacement, std::string& error);
// Gives up a replacement that was begun: closes and removes the temporary file.
void abandonFileReplacement(FileReplacement& replacement);
