#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// A file replaced whole by new content, written once over the system's file primitives
// (platform/file_system.h). Every failure comes back as one line in `error`; nothing here prints.

// A save in progress: the new content goes to a temporary file beside the target, or, where
// that would lose what the old file carries or the folder refuses it, into the target in place.
struct FileReplacement
{
    intptr_t handle = -1;
    std::string target;   // the file to be replaced, links followed (UTF-8)
    std::string tempPath; // the temporary file beside it; empty when rewriting in place
    int hold = -1;        // the temporary file's slot for removal at an end of the run
    bool inPlace = false; // the target itself is written over, from its first byte
    uint64_t oldSize = 0; // in place: the target's length before the save, to cut back to
    uint64_t length = 0;  // in place: the bytes written so far, from the first, to cut to
    bool changed = false; // in place: a byte of the target may differ from the old file
};

// Prepares to replace the file at `path`. Refuses, touching nothing, a target (or what its
// links lead to) that exists and is not a regular file, and a target the user may not write.
// The choice between a temporary file and a rewrite in place is made here, before a byte of
// the new content is written.
bool beginFileReplacement(const char* path, FileReplacement& replacement, std::string& error);
// A rewrite in place first asks for everything that could refuse `size` bytes (the process's
// file-size limit, real space on the disk for the whole new length, holes included), so that
// a full disk, a quota or a limit fails the save with the old file byte for byte. Where the
// system cannot promise the space, the rewrite is refused too. A replacement through a
// temporary file needs nothing and returns true. Call it before the first write.
bool reserveFileReplacement(FileReplacement& replacement, uint64_t size, std::string& error);
bool writeFileReplacement(FileReplacement& replacement, const char* data, size_t size,
                          std::string& error);
// Flushes the new content to the disk and puts it in place in one step.
// A rewrite in place is flushed too, but a crash during it can leave the file part old, part new,
// and so can a write or flush that fails once bytes have changed (an I/O error): `changed`
// then tells that the file may be damaged.
bool commitFileReplacement(FileReplacement& replacement, std::string& error);
// Gives up a replacement that was begun: closes and removes the temporary file; where the
// system refuses the removal, `error` (when given) gets the name of the file left. A rewrite in
// place that has not changed a byte is cut back to its old length, which makes it the old file
// again; one that has changed bytes is only closed. It takes no memory, so it also cleans up
// after a save that ran out of it.
void abandonFileReplacement(FileReplacement& replacement, std::string* error = nullptr);
