#include "shipfile/file_replacement.h"

#include "platform/file_system.h"
#include "platform/run_end.h"
#include "shipfile/file_source.h"

#include <cassert>
#include <chrono>

// A save passes through these states, the same on every system:
//
//   looked at   links followed; a target that is not a regular file, or that the user may not
//               write, is refused here, and nothing has been touched;
//   chosen      a temporary file beside the target that has everything the old file carries
//               (permissions, owner, ACL, attributes), or, where that cannot be had or the
//               folder would refuse the rename, the target itself, opened to be written over;
//   reserved    in place only: the space and limits for the whole new length asked for first;
//   written     the new bytes, then flushed to the disk;
//   in place    the temporary file renamed over the target and the folder synced, or the
//               rewritten target cut to its new length;
//   given up    from any state before that: the temporary file removed (its name in the line
//               when the system refuses), or the target cut back to its old length when no byte
//               of it changed.
//
// A temporary file is held for removal from its creation to its rename (platform/run_end.h), so
// an end of the run that cannot wait leaves none behind either.

namespace
{
// The one line a failed step gives: "step path: reason", or "path: reason" for a null step.
std::string stepLine(const char* step, const std::string& path, const std::string& reason)
{
    return (step != nullptr ? std::string(step) + " " : std::string()) + path + ": " + reason;
}

// Opens the target to be written over from its first byte; it was a regular file when it was
// looked at and must still be one.
bool openInPlace(FileReplacement& r, std::string& error)
{
    unsigned long failure = 0;
    FileHandle handle = NO_FILE;
    if (!openForRewrite(r.target, handle, failure))
    {
        error = stepLine(nullptr, r.target, systemReason(failure));
        return false;
    }
    FileKind kind = FileKind::other;
    uint64_t size = 0;
    const bool known = openFileFacts(handle, kind, size, failure);
    if (!known || kind != FileKind::regular)
    {
        error = known ? r.target + " is " + notRegularFile(kind)
                      : stepLine(nullptr, r.target, systemReason(failure));
        closeFile(handle, failure);
        return false;
    }
    r.handle = handle;
    r.inPlace = true;
    r.oldSize = size;
    error.clear();
    return true;
}

// Removes the temporary file; false when the system refuses, with its reason.
bool removeTemporary(FileReplacement& r, std::string& reason)
{
    unsigned long failure = 0;
    const bool removed = r.tempPath.empty() || removeFile(r.tempPath, failure);
    if (removed)
    {
        releaseRemoval(r.hold);
        r.hold = -1;
        r.tempPath.clear();
    }
    else
    {
        reason = systemReason(failure);
    }
    return removed;
}

// Creates a file beside the target that no other file has yet, named after it with a point and
// six letters or digits added, as temporary files are named.
bool createTemporary(FileReplacement& r, FileHandle& handle, unsigned long& failure)
{
    static const char LETTERS[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    // The clock and where this thread keeps its draw tell two runs, and two threads, apart.
    thread_local uint64_t draw =
        static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
        reinterpret_cast<uintptr_t>(&draw);
    for (int attempt = 0; attempt < 100; ++attempt)
    {
        draw = draw * 6364136223846793005ull + 1442695040888963407ull;
        r.tempPath = r.target + ".";
        for (int i = 0; i < 6; ++i)
        {
            r.tempPath += LETTERS[(draw >> (28 + 6 * i)) % (sizeof LETTERS - 1)];
        }
        if (createNewFile(r.tempPath, handle, r.hold, failure) || !isAlreadyThere(failure))
        {
            return handle != NO_FILE;
        }
    }
    return false;
}

// A failed save's line, with the temporary file the system would not remove named in it.
void sayLeft(const FileReplacement& r, const std::string& reason, std::string& error)
{
    error += "; the temporary file " + r.tempPath + " could not be removed (" + reason + ")";
}
} // namespace

bool beginFileReplacement(const char* path, FileReplacement& replacement, std::string& error)
{
    FileReplacement& r = replacement;
    r = FileReplacement{};
    unsigned long failure = 0;
    if (!followLinks(path, r.target, failure))
    {
        error = stepLine("reading the link", path, systemReason(failure));
        return false;
    }
    // A target that cannot be looked at is new only when the system says nothing is there;
    // any other failure (no right to look, an I/O error) refuses the save, so that a file that
    // may be there is never saved over blindly.
    FileKind kind = FileKind::regular;
    const bool replacing = pathKind(r.target, kind, failure);
    if (!replacing && !isNotFound(failure))
    {
        error = stepLine(nullptr, r.target, systemReason(failure));
        return false;
    }
    // Renaming over a FIFO or a device would put a plain file in the place of a node some
    // other program (or the system) relies on. A file the user may not write stays refused,
    // as it would be against any program that opened it for writing.
    if (replacing && kind != FileKind::regular)
    {
        error = r.target + " is " + notRegularFile(kind);
        return false;
    }
    if (replacing && !mayWrite(r.target, failure))
    {
        error = stepLine(nullptr, r.target, systemReason(failure));
        return false;
    }
    // A folder that keeps its entries would refuse the rename and the removal both, leaving a
    // whole temporary file behind each time; its ship file is written where it is.
    if (replacing && folderKeepsEntries(r.target))
    {
        return openInPlace(r, error);
    }

    // The new content goes to a file beside the target and is renamed over it only once it
    // is complete on disk, so a crash or a full disk never leaves a truncated ship file.
    FileHandle handle = NO_FILE;
    if (!createTemporary(r, handle, failure))
    {
        // The folder takes no new files, but its ship file may be writable.
        r.tempPath.clear();
        if (replacing && isPermissionRefusal(failure))
        {
            return openInPlace(r, error);
        }
        error = stepLine("creating a temporary file beside", r.target, systemReason(failure));
        return false;
    }
    r.handle = handle;
    // What the old file carries that a rename would lose (an owner the user cannot give the
    // new file, a colleague's ACL entry, an attribute) keeps the old file, rewritten in place.
    if (replacing && !copyFileFacts(r.target, handle, r.tempPath, failure))
    {
        closeFile(handle, failure);
        r.handle = NO_FILE;
        std::string reason;
        if (!removeTemporary(r, reason))
        {
            error = stepLine("copying the permissions to", r.tempPath, systemReason(failure));
            sayLeft(r, reason, error);
            return false;
        }
        return openInPlace(r, error);
    }
    error.clear();
    return true;
}

bool reserveFileReplacement(FileReplacement& replacement, uint64_t size, std::string& error)
{
    assert(replacement.handle != NO_FILE);
    if (!replacement.inPlace)
    {
        return true;
    }
    unsigned long failure = 0;
    Unreserved refusal = Unreserved::none;
    if (reserveRewrite(replacement.handle, replacement.target, replacement.oldSize, size, failure,
                       refusal))
    {
        return true;
    }
    // The words for what the system cannot do, by Unreserved.
    const char* const REFUSALS[] = {
        nullptr,
        "the file system cannot reserve space for rewriting the file in place",
        "a copy-on-write file system cannot promise the space for rewriting the file in place",
        "a sparse or compressed file cannot have space reserved for rewriting it in place",
    };
    const char* words = REFUSALS[static_cast<int>(refusal)];
    error =
        stepLine("writing", replacement.target, words != nullptr ? words : systemReason(failure));
    return false;
}

bool writeFileReplacement(FileReplacement& replacement, const char* data, size_t size,
                          std::string& error)
{
    assert(replacement.handle != NO_FILE);
    size_t written = 0;
    unsigned long failure = 0;
    const bool ok = writeAll(replacement.handle, data, size, written, failure);
    replacement.changed = replacement.changed || (replacement.inPlace && written > 0);
    replacement.length += written;
    if (!ok)
    {
        const std::string& path = replacement.inPlace ? replacement.target : replacement.tempPath;
        error = stepLine("writing", path, systemReason(failure));
    }
    return ok;
}

// The step names are plain text, so nothing between taking the handle and closing it can fail
// for memory.
bool commitFileReplacement(FileReplacement& replacement, std::string& error)
{
    FileReplacement& r = replacement;
    assert(r.handle != NO_FILE);
    const FileHandle handle = r.handle;
    r.handle = NO_FILE;
    unsigned long failure = 0;
    const char* step = "flushing";
    bool ok = true;
    if (r.inPlace)
    {
        // The rewrite went over the old bytes from the start; the file is cut to the new
        // length once everything is written, which changes it too, if only at its end.
        r.changed = r.changed || r.length != r.oldSize;
        ok = cutFile(handle, r.length, failure);
        step = ok ? "flushing" : "writing";
    }
    ok = ok && flushFile(handle, failure);
    unsigned long closeFailure = 0;
    if (!closeFile(handle, closeFailure) && ok)
    {
        step = "closing";
        ok = false;
        failure = closeFailure;
    }
    std::string path = r.inPlace ? r.target : r.tempPath;
    if (ok && !r.inPlace)
    {
        step = "renaming";
        path = r.tempPath + " to " + r.target;
        ok = replaceFile(r.tempPath, r.target, failure);
    }
    if (!ok)
    {
        error = stepLine(step, path, systemReason(failure));
        std::string reason;
        if (!removeTemporary(r, reason))
        {
            sayLeft(r, reason, error);
        }
        return false;
    }
    if (!r.inPlace)
    {
        releaseRemoval(r.hold);
        r.hold = -1;
        r.tempPath.clear();
        // Makes the rename itself survive a power loss. The new file is already in place, so a
        // folder that cannot be synced does not turn a finished save into a failure.
        syncFolderOf(r.target);
    }
    error.clear();
    return true;
}

// Takes no memory when the removal succeeds, so it also cleans up after a save that ran out
// of it.
void abandonFileReplacement(FileReplacement& replacement, std::string* error)
{
    FileReplacement& r = replacement;
    if (r.handle != NO_FILE)
    {
        // A rewrite in place that has not changed a byte is the old file again at its old
        // length; one that has is only closed.
        unsigned long failure = 0;
        if (r.inPlace && !r.changed)
        {
            cutFile(r.handle, r.oldSize, failure);
        }
        closeFile(r.handle, failure);
        r.handle = NO_FILE;
    }
    std::string reason;
    if (!removeTemporary(r, reason) && error != nullptr)
    {
        sayLeft(r, reason, *error);
    }
}
