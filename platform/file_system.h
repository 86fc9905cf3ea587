#pragma once

#include "platform/file_rules.h"

#include <cstdint>
#include <string>

// What the file source and the file replacement both ask the system, one source per system:
// file_system_posix.cpp and file_system_win32.cpp.

// The reason for the system's error `code` (errno, or GetLastError() on Windows) on one line:
// the words the editor uses on every system for the common ones, the system's own for the rest.
std::string systemReason(unsigned long code);

// What `path` is, links followed, found without reading, writing or waiting on it (a FIFO
// without a writer, a device name such as CON). False, with the system's error code in
// `failure`, when nothing can be looked at there (nothing there, or no right to look).
bool pathKind(const std::string& path, FileKind& kind, unsigned long& failure);

// The kind and the length of the open file `handle`. False, with the system's error code in
// `failure`, when the system cannot say.
bool openFileFacts(intptr_t handle, FileKind& kind, uint64_t& size, unsigned long& failure);
