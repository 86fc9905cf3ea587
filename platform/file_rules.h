#pragma once

#include "platform/file_replacement.h"

#include <cstdint>
#include <string>

// What the file steps decide and say the same way on every system. The system's own files
// (file_source_*.cpp, file_replacement_*.cpp) ask the system and leave the decision and the
// words to these.

// What a path or an open file is, as far as reading it and replacing it go.
enum class FileKind
{
    regular,
    folder,
    fifo,   // a named pipe of a POSIX system
    pipe,   // a pipe of Windows' pipe namespace
    device, // a character or block device, or a Windows device name such as CON or NUL
    socket,
    other,
};

// Why a file of `kind` is neither read nor replaced, as the reason of a line; null for a
// regular file.
const char* refusalOf(FileKind kind);

// The line for a save target of `kind` that is not replaced: "path is a folder, not ...".
std::string refusedTarget(const std::string& path, FileKind kind);

// Whether a save target that could not be looked at, for the system's error `failure`, is a
// new file: only when the system says nothing is there (`notFound`). Any other failure to look
// (no right to look, an I/O error) refuses the save with its line in `error`, so that a file
// that may be there is never saved over blindly.
bool targetIsNew(const std::string& target, unsigned long failure, bool notFound,
                 std::string& error);

// The one line a failed step gives: "step path: reason", or "path: reason" for a null step.
std::string stepLine(const char* step, const std::string& path, const std::string& reason);

// Whether a save whose temporary file the folder refused rewrites the target in place instead:
// only a target that is there (a regular file the user may write), and only when the folder
// refused for want of permission. Any other failure (a full disk, a missing folder) is the
// save's own.
bool rewritesInPlace(bool targetExists, bool folderRefusedPermission);

// The name a failed write or flush is reported with: the temporary file, or the target itself.
const std::string& writtenPath(const FileReplacement& replacement);

// Whether a file system, known by the type number the system reports for it, cannot promise
// the space for writing over a file's own bytes. A copy-on-write file system puts every block
// written over somewhere new, and a block the file shares with a snapshot or a copy stays taken
// too, so no amount of space asked for beforehand covers the rewrite.
bool overwritesNeedNewSpace(uint64_t fileSystemType);

// Why a rewrite in place does not start where the system cannot promise the space for it.
constexpr const char* NO_RESERVATION =
    "the file system cannot reserve space for rewriting the file in place";
constexpr const char* NO_RESERVATION_COPY_ON_WRITE =
    "a copy-on-write file system cannot promise the space for rewriting the file in place";
constexpr const char* NO_RESERVATION_SPARSE =
    "a sparse or compressed file cannot have space reserved for rewriting it in place";
