#pragma once

#include "platform/file_system.h"

#include <cstddef>
#include <cstdint>
#include <string>

// A regular disk file read in pieces, written once over the system's file primitives
// (platform/file_system.h). Every failure comes back as a one-line reason in `error`; nothing
// here prints.

struct FileSource
{
    intptr_t handle = -1; // the operating system's descriptor or handle; -1 when not open
    uint64_t size = 0;    // bytes at the open
};

// Opens `path` (UTF-8) for reading. Anything but a regular disk file (a folder, a FIFO or
// pipe, a device, and on Windows a device name such as CON or NUL) is refused before a byte is
// read: a FIFO would wait for a writer, and a device such as /dev/zero never ends.
// Returns false with a one-line reason in `error`.
bool openFileSource(const char* path, FileSource& source, std::string& error);
// Reads at most `capacity` bytes; returns how many (0 at the end) or -1 with a reason.
long long readFileSource(FileSource& source, char* buffer, size_t capacity, std::string& error);
void closeFileSource(FileSource& source);

// Why a file of `kind` is neither read nor replaced: "a folder, not a regular file". The words
// of the load and the save alike.
const char* notRegularFile(FileKind kind);
