#include "shipfile/whole_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

static std::string systemError(const std::string& what)
{
    return what + ": " + std::strerror(errno);
}

static const char* fileKind(mode_t mode)
{
    const char* kind = "not a regular file";
    if (S_ISDIR(mode))
    {
        kind = "a folder, not a regular file";
    }
    else if (S_ISFIFO(mode))
    {
        kind = "a FIFO, not a regular file";
    }
    else if (S_ISCHR(mode) || S_ISBLK(mode))
    {
        kind = "a device, not a regular file";
    }
    else if (S_ISSOCK(mode))
    {
        kind = "a socket, not a regular file";
    }
    return kind;
}

// Reads a regular file whole. Anything else is refused before a byte is read: a FIFO would
// block until some other program wrote to it, and a device such as /dev/zero never ends.
// Opening without blocking lets a FIFO be looked at without waiting for a writer.
bool readWholeFile(const char* path, std::string& text, std::string& error)
{
    const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
    {
        error = std::strerror(errno);
        return false;
    }
    struct stat info;
    const bool known = fstat(fd, &info) == 0;
    if (!known || !S_ISREG(info.st_mode))
    {
        error = known ? fileKind(info.st_mode) : std::strerror(errno);
        close(fd);
        return false;
    }
    // The file's size at the open bounds the memory taken; one byte more shows a file that
    // grew while it was read, which is not read on.
    const size_t size = static_cast<size_t>(info.st_size);
    text.assign(size + 1, '\0');
    size_t got = 0;
    bool ok = true;
    while (ok && got < text.size())
    {
        const ssize_t n = read(fd, &text[got], text.size() - got);
        if (n > 0)
        {
            got += static_cast<size_t>(n);
        }
        else if (n == 0)
        {
            break;
        }
        else if (errno != EINTR)
        {
            error = std::strerror(errno);
            ok = false;
        }
    }
    close(fd);
    if (ok && got > size)
    {
        error = "the file grew while it was read";
        ok = false;
    }
    text.resize(ok ? got : 0);
    return ok;
}

static bool writeAll(int fd, const std::string& content)
{
    size_t written = 0;
    while (written < content.size())
    {
        const ssize_t n = write(fd, content.data() + written, content.size() - written);
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
            error = systemError("reading the link " + target);
            return false;
        }
        link.resize(static_cast<size_t>(n));
        target = (link[0] == '/' || target.find('/') == std::string::npos)
                     ? link
                     : folderOf(target) + "/" + link;
    }
    errno = ELOOP;
    error = systemError(path);
    return false;
}

bool replaceFileContent(const std::string& linkPath, const std::string& content, std::string& error)
{
    std::string path;
    if (!followLinks(linkPath, path, error))
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
    const bool replacing = stat(path.c_str(), &existing) == 0 && S_ISREG(existing.st_mode);
    if (replacing)
    {
        if (access(path.c_str(), W_OK) != 0)
        {
            error = systemError(path);
            return false;
        }
        mode = existing.st_mode & 07777;
    }

    // The new content goes to a file beside the target and is renamed over it only once it
    // is complete on disk, so a crash or a full disk never leaves a truncated ship file.
    std::string tempPath = path + ".XXXXXX";
    const int fd = mkstemp(&tempPath[0]);
    if (fd < 0)
    {
        error = systemError("creating " + tempPath);
        return false;
    }
    // An administrator saving a user's ship leaves it that user's. Others cannot give a file
    // away, and their save makes the file theirs, as any rewrite by them would.
    if (replacing && (existing.st_uid != geteuid() || existing.st_gid != getegid()))
    {
        const int ignored = fchown(fd, existing.st_uid, existing.st_gid);
        (void)ignored;
    }
    std::string step = "setting the permissions of " + tempPath;
    bool ok = fchmod(fd, mode) == 0;
    if (ok)
    {
        step = "writing " + tempPath;
        ok = writeAll(fd, content);
    }
    if (ok)
    {
        step = "flushing " + tempPath;
        ok = fsync(fd) == 0;
    }
    int failure = errno;
    if (close(fd) != 0 && ok)
    {
        step = "closing " + tempPath;
        ok = false;
        failure = errno;
    }
    if (ok)
    {
        step = "renaming " + tempPath + " to " + path;
        ok = rename(tempPath.c_str(), path.c_str()) == 0;
        failure = errno;
    }
    if (!ok)
    {
        unlink(tempPath.c_str());
        error = step + ": " + std::strerror(failure);
        return false;
    }

    // Makes the rename itself survive a power loss. The new file is already in place, so a
    // folder that cannot be synced does not turn a finished save into a failure.
    const int folder = open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0)
    {
        fsync(folder);
        close(folder);
    }
    error.clear();
    return true;
}
