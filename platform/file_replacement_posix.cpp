#include "platform/file_replacement.h"
#include "platform/file_rules.h"
#include "platform/file_system.h"

#include <cassert>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <type_traits>
#include <unistd.h>

// The line for a failed step on `path`, with the reason errno gives.
static std::string failedStep(const char* step, const std::string& path)
{
    return stepLine(step, path, std::strerror(errno));
}

// Writes all of `data`; `written` counts the bytes the system took, also when it fails.
static bool writeAll(int fd, const char* data, size_t size, size_t& written)
{
    written = 0;
    while (written < size)
    {
        const ssize_t n = write(fd, data + written, size - written);
        if (n < 0 && errno == EINTR)
        {
            continue;
        }
        if (n <= 0)
        {
            if (n == 0)
            {
                errno = EIO;
            }
            return false;
        }
        written += static_cast<size_t>(n);
    }
    return true;
}

static std::string folderOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    std::string folder = ".";
    if (slash == 0)
    {
        folder = "/";
    }
    else if (slash != std::string::npos)
    {
        folder = path.substr(0, slash);
    }
    return folder;
}

// The file a save must replace: a symbolic link is followed to its target (relative targets
// from the link's folder), so the link stays and the file it names receives the ship. A target
// that does not exist yet is created. Gives up, like the system does, after 40 links.
static bool followLinks(const std::string& path, std::string& target, std::string& error)
{
    target = path;
    for (int hops = 0; hops < 40; ++hops)
    {
        struct stat info;
        if (lstat(target.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
        {
            return true;
        }
        std::string link(static_cast<size_t>(info.st_size) + 256, '\0');
        const ssize_t n = readlink(target.c_str(), &link[0], link.size());
        if (n < 0 || static_cast<size_t>(n) >= link.size())
        {
            error = failedStep("reading the link", target);
            return false;
        }
        link.resize(static_cast<size_t>(n));
        target = (link[0] == '/' || target.find('/') == std::string::npos)
                     ? link
                     : folderOf(target) + "/" + link;
    }
    errno = ELOOP;
    error = failedStep(nullptr, path);
    return false;
}

// Where the folder refuses a new file (no write permission on it) the target may still be
// writable; it is then rewritten in place, as a plain rewrite would.
static bool openInPlace(const std::string& target, FileReplacement& replacement, std::string& error)
{
    const int fd = open(target.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
    {
        error = failedStep(nullptr, target);
        return false;
    }
    // The target was a regular file when it was looked at; it must still be one.
    FileKind kind = FileKind::other;
    uint64_t size = 0;
    unsigned long failure = 0;
    const bool known = openFileFacts(fd, kind, size, failure);
    if (!known || kind != FileKind::regular)
    {
        error =
            known ? refusedTarget(target, kind) : stepLine(nullptr, target, systemReason(failure));
        close(fd);
        return false;
    }
    replacement.handle = fd;
    replacement.inPlace = true;
    replacement.oldSize = size;
    return true;
}

bool beginFileReplacement(const char* path, FileReplacement& replacement, std::string& error)
{
    replacement = FileReplacement{};
    std::string target;
    if (!followLinks(path, target, error))
    {
        return false;
    }
    // A new file gets the bits fopen would give it; an existing one keeps its own. A file
    // the user may not write stays refused, as it was when the file was opened for writing.
    // The umask can only be read by setting it; the editor runs on one thread.
    const mode_t mask = umask(0);
    umask(mask);
    mode_t mode = 0666 & ~mask;
    struct stat existing;
    const bool replacing = stat(target.c_str(), &existing) == 0;
    // A folder on the way that is missing, or is a file, leaves nothing there, as a missing
    // file does.
    const int lookFailure = errno;
    if (!replacing && !targetIsNew(target, static_cast<unsigned long>(lookFailure),
                                   lookFailure == ENOENT || lookFailure == ENOTDIR, error))
    {
        return false;
    }
    // Only a regular file is replaced. Renaming over a FIFO or a device would put a plain file
    // in the place of a node some other program (or the system) relies on.
    FileKind kind = FileKind::regular;
    unsigned long failure = 0;
    if (replacing && pathKind(target, kind, failure) && kind != FileKind::regular)
    {
        error = refusedTarget(target, kind);
        return false;
    }
    if (replacing)
    {
        if (access(target.c_str(), W_OK) != 0)
        {
            error = failedStep(nullptr, target);
            return false;
        }
        mode = existing.st_mode & 07777;
    }

    // The new content goes to a file beside the target and is renamed over it only once it
    // is complete on disk, so a crash or a full disk never leaves a truncated ship file.
    // mkstemp leaves its last try in the name when it fails, a file that was never made, so a
    // failure names the pattern instead.
    const std::string pattern = target + ".XXXXXX";
    std::string tempPath = pattern;
    const int fd = mkstemp(&tempPath[0]);
    if (fd < 0)
    {
        const bool folderRefuses = errno == EACCES || errno == EPERM;
        error = failedStep("creating", pattern);
        replacement.target = target;
        return rewritesInPlace(replacing, folderRefuses) && openInPlace(target, replacement, error);
    }
    // An administrator saving a user's ship leaves it that user's. Others cannot give a file
    // away, and their save makes the file theirs, as any rewrite by them would.
    if (replacing && (existing.st_uid != geteuid() || existing.st_gid != getegid()))
    {
        const int ignored = fchown(fd, existing.st_uid, existing.st_gid);
        (void)ignored;
    }
    if (fchmod(fd, mode) != 0)
    {
        const int failure = errno;
        close(fd);
        unlink(tempPath.c_str());
        error = stepLine("setting the permissions of", tempPath, std::strerror(failure));
        return false;
    }
    // Moved, not copied: nothing that could fail for memory comes between creating the
    // temporary file and recording it for abandonFileReplacement.
    replacement.handle = fd;
    replacement.target = std::move(target);
    replacement.tempPath = std::move(tempPath);
    return true;
}

bool writeFileReplacement(FileReplacement& replacement, const char* data, size_t size,
                          std::string& error)
{
    assert(replacement.handle >= 0);
    size_t written = 0;
    const bool ok = writeAll(static_cast<int>(replacement.handle), data, size, written);
    replacement.changed = replacement.changed || (replacement.inPlace && written > 0);
    if (!ok)
    {
        error = failedStep("writing", writtenPath(replacement));
    }
    return ok;
}

bool reserveFileReplacement(FileReplacement& replacement, uint64_t size, std::string& error)
{
    assert(replacement.handle >= 0);
    if (!replacement.inPlace)
    {
        return true;
    }
    // A write past the file-size limit fails wherever the old file ends, so the limit is
    // weighed against the whole new length, shorter than the old file or not.
    rlimit limit;
    if (getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
        size > static_cast<uint64_t>(limit.rlim_cur))
    {
        error = stepLine("writing", replacement.target, std::strerror(EFBIG));
        return false;
    }
    if (size == 0)
    {
        return true;
    }
    const int fd = static_cast<int>(replacement.handle);
    // The type numbers are 32 bits wide; where f_type is a signed 32-bit number, some read as
    // negative.
    struct statfs fileSystem;
    if (fstatfs(fd, &fileSystem) == 0 &&
        overwritesNeedNewSpace(static_cast<uint32_t>(fileSystem.f_type)))
    {
        error = stepLine("writing", replacement.target, NO_RESERVATION_COPY_ON_WRITE);
        return false;
    }
    // A block the file shares with another (a copy made by reference) needs one of its own
    // before it can be written over, and asking for space does not give it one: the shared
    // part of the old bytes is made the file's own first. A file system that shares no
    // blocks says it does not know the request.
    int result;
    const uint64_t kept = size < replacement.oldSize ? size : replacement.oldSize;
    do
    {
        result =
            kept == 0 ? 0 : fallocate(fd, FALLOC_FL_UNSHARE_RANGE, 0, static_cast<off_t>(kept));
    } while (result != 0 && errno == EINTR);
    if (result != 0 && errno != EOPNOTSUPP && errno != EINVAL)
    {
        error = failedStep("writing", replacement.target);
        return false;
    }
    // Allocating the whole range, not only the growth, also gives blocks to any hole in the
    // old file, which a write would otherwise need at a moment the disk may be full. The
    // old bytes keep their values; a growth that fails is cut back to the old length.
    do
    {
        result = fallocate(fd, 0, 0, static_cast<off_t>(size));
    } while (result != 0 && errno == EINTR);
    if (result != 0)
    {
        const int failure = errno;
        if (size > replacement.oldSize)
        {
            const int ignored = ftruncate(fd, static_cast<off_t>(replacement.oldSize));
            (void)ignored;
        }
        error = stepLine("writing", replacement.target,
                         failure == EOPNOTSUPP ? NO_RESERVATION : std::strerror(failure));
        return false;
    }
    return true;
}

// A rewrite in place wrote over the old bytes from the start, into room reserved beforehand,
// and the file is cut to the new length once everything is written. The step names are plain
// text, so nothing between taking the descriptor and closing it can fail for memory.
static bool commitInPlace(FileReplacement& replacement, std::string& error)
{
    const int fd = static_cast<int>(replacement.handle);
    replacement.handle = -1;
    const off_t length = lseek(fd, 0, SEEK_CUR);
    replacement.changed =
        replacement.changed || static_cast<uint64_t>(length) != replacement.oldSize;
    const char* step = "writing";
    bool ok = length >= 0 && ftruncate(fd, length) == 0;
    if (ok)
    {
        step = "flushing";
        ok = fsync(fd) == 0;
    }
    int failure = errno;
    if (close(fd) != 0 && ok)
    {
        step = "closing";
        ok = false;
        failure = errno;
    }
    if (!ok)
    {
        error = stepLine(step, replacement.target, std::strerror(failure));
    }
    return ok;
}

bool commitFileReplacement(FileReplacement& replacement, std::string& error)
{
    assert(replacement.handle >= 0);
    if (replacement.inPlace)
    {
        return commitInPlace(replacement, error);
    }
    const int fd = static_cast<int>(replacement.handle);
    replacement.handle = -1;
    const char* step = "flushing";
    bool renaming = false;
    bool ok = fsync(fd) == 0;
    int failure = errno;
    if (close(fd) != 0 && ok)
    {
        step = "closing";
        ok = false;
        failure = errno;
    }
    if (ok)
    {
        step = "renaming";
        renaming = true;
        ok = rename(replacement.tempPath.c_str(), replacement.target.c_str()) == 0;
        failure = errno;
    }
    if (!ok)
    {
        unlink(replacement.tempPath.c_str());
        const std::string tempPath = std::move(replacement.tempPath);
        replacement.tempPath.clear();
        error = stepLine(step, tempPath + (renaming ? " to " + replacement.target : std::string()),
                         std::strerror(failure));
        return false;
    }
    replacement.tempPath.clear();

    // Makes the rename itself survive a power loss. The new file is already in place, so a
    // folder that cannot be synced does not turn a finished save into a failure.
    const int folder =
        open(folderOf(replacement.target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0)
    {
        fsync(folder);
        close(folder);
    }
    error.clear();
    return true;
}

void abandonFileReplacement(FileReplacement& replacement)
{
    if (replacement.handle >= 0)
    {
        if (replacement.inPlace && !replacement.changed)
        {
            const int ignored = ftruncate(static_cast<int>(replacement.handle),
                                          static_cast<off_t>(replacement.oldSize));
            (void)ignored;
        }
        close(static_cast<int>(replacement.handle));
        replacement.handle = -1;
    }
    if (!replacement.tempPath.empty())
    {
        unlink(replacement.tempPath.c_str());
        replacement.tempPath.clear();
    }
}
