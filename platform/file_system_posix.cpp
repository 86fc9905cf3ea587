#include "platform/file_system.h"
#include "platform/run_end.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

// Every call returns false with errno in `failure`.
static bool failed(unsigned long& failure)
{
    failure = static_cast<unsigned long>(errno);
    return false;
}

std::string systemReason(unsigned long code)
{
    return std::strerror(static_cast<int>(code));
}

bool isNotFound(unsigned long failure)
{
    return failure == ENOENT || failure == ENOTDIR;
}

bool isPermissionRefusal(unsigned long failure)
{
    return failure == EACCES || failure == EPERM;
}

static std::string folderOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// Gives up, like the system does, after 40 links.
bool followLinks(const std::string& path, std::string& target, unsigned long& failure)
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
            return failed(failure);
        }
        link.resize(static_cast<size_t>(n));
        target = (link[0] == '/' || target.find('/') == std::string::npos)
                     ? link
                     : folderOf(target) + "/" + link;
    }
    failure = ELOOP;
    return false;
}

static FileKind kindOfMode(mode_t mode)
{
    return S_ISREG(mode)                    ? FileKind::regular
           : S_ISDIR(mode)                  ? FileKind::folder
           : S_ISFIFO(mode)                 ? FileKind::fifo
           : S_ISCHR(mode) || S_ISBLK(mode) ? FileKind::device
           : S_ISSOCK(mode)                 ? FileKind::socket
                                            : FileKind::other;
}

bool pathKind(const std::string& path, FileKind& kind, unsigned long& failure)
{
    struct stat info;
    if (stat(path.c_str(), &info) != 0)
    {
        return failed(failure);
    }
    kind = kindOfMode(info.st_mode);
    return true;
}

bool mayWrite(const std::string& path, unsigned long& failure)
{
    return access(path.c_str(), W_OK) == 0 || failed(failure);
}

bool folderKeepsEntries(const std::string& path)
{
    const int fd = open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int flags = 0;
    const bool known = fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (fd >= 0)
    {
        close(fd);
    }
    return known && (flags & (FS_APPEND_FL | FS_IMMUTABLE_FL)) != 0;
}

// Without blocking, a FIFO opens without waiting for its other end; a regular file is as ever.
static bool openWith(const std::string& path, int flags, FileHandle& handle, unsigned long& failure)
{
    const int fd = open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC);
    handle = fd;
    return fd >= 0 || failed(failure);
}

bool openForReading(const std::string& path, FileHandle& handle, unsigned long& failure)
{
    return openWith(path, O_RDONLY, handle, failure);
}

bool openForRewrite(const std::string& path, FileHandle& handle, unsigned long& failure)
{
    return openWith(path, O_WRONLY, handle, failure);
}

// The file is made and held with the end signals blocked, so a Ctrl+C cannot fall between the
// two and leave a file no one removes.
bool createNewFile(const std::string& path, FileHandle& handle, int& hold, unsigned long& failure)
{
    sigset_t ends;
    sigset_t before;
    sigemptyset(&ends);
    sigaddset(&ends, SIGINT);
    sigaddset(&ends, SIGTERM);
    sigaddset(&ends, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &ends, &before);
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    failure = static_cast<unsigned long>(errno);
    hold = fd >= 0 ? holdForRemoval(path.c_str()) : -1;
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    handle = fd;
    return fd >= 0;
}

bool isAlreadyThere(unsigned long failure)
{
    return failure == EEXIST;
}

// The chmod gives the owner back what a umask such as 0277 took.
bool makeFolder(const std::string& path, unsigned long& failure)
{
    struct stat info;
    return (mkdir(path.c_str(), 0700) == 0 && chmod(path.c_str(), 0700) == 0) ||
           (errno == EEXIST && stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) ||
           failed(failure);
}

// The names of the extended attributes of a path or of an open file, each ended by a zero. A
// list that grows between the two calls fails, and the save then writes the file in place.
static bool attributeNames(const char* path, int fd, std::vector<char>& names)
{
    const ssize_t size = path != nullptr ? listxattr(path, nullptr, 0) : flistxattr(fd, nullptr, 0);
    names.resize(size > 0 ? static_cast<size_t>(size) : 0);
    const ssize_t got = size <= 0         ? size
                        : path != nullptr ? listxattr(path, names.data(), names.size())
                                          : flistxattr(fd, names.data(), names.size());
    names.resize(got > 0 ? static_cast<size_t>(got) : 0);
    // A file system without extended attributes has none to keep.
    return got >= 0 || errno == ENOTSUP;
}

// The owner and group first, since giving a file away clears its set-id bits; then the bits;
// then the attributes, the access ACL among them, whose mask the group bits already hold. An
// attribute the new file has from its folder (a default ACL) that the old one lacks goes.
bool copyFileFacts(const std::string& target, FileHandle handle, const std::string&,
                   unsigned long& failure)
{
    const int fd = static_cast<int>(handle);
    struct stat old;
    if (stat(target.c_str(), &old) != 0)
    {
        return failed(failure);
    }
    if ((old.st_uid != geteuid() || old.st_gid != getegid()) &&
        fchown(fd, old.st_uid, old.st_gid) != 0)
    {
        return failed(failure);
    }
    if (fchmod(fd, old.st_mode & 07777) != 0)
    {
        return failed(failure);
    }
    std::vector<char> names;
    std::vector<char> fresh;
    if (!attributeNames(target.c_str(), -1, names) || !attributeNames(nullptr, fd, fresh))
    {
        return failed(failure);
    }
    // Each name between zeros, so one name is never found inside another.
    const std::string kept = '\0' + std::string(names.begin(), names.end());
    for (size_t at = 0; at < fresh.size(); at += std::strlen(&fresh[at]) + 1)
    {
        const bool hadIt = kept.find('\0' + std::string(&fresh[at]) + '\0') != std::string::npos;
        if (!hadIt && fremovexattr(fd, &fresh[at]) != 0)
        {
            return failed(failure);
        }
    }
    std::vector<char> value;
    for (size_t at = 0; at < names.size(); at += std::strlen(&names[at]) + 1)
    {
        const char* name = &names[at];
        const ssize_t size = getxattr(target.c_str(), name, nullptr, 0);
        value.resize(size > 0 ? static_cast<size_t>(size) : 0);
        const ssize_t got =
            size < 0 ? -1 : getxattr(target.c_str(), name, value.data(), value.size());
        if (got < 0 || fsetxattr(fd, name, value.data(), static_cast<size_t>(got), 0) != 0)
        {
            return failed(failure);
        }
    }
    return true;
}

bool openFileFacts(FileHandle handle, FileKind& kind, uint64_t& size, unsigned long& failure)
{
    struct stat info;
    if (fstat(static_cast<int>(handle), &info) != 0)
    {
        return failed(failure);
    }
    kind = kindOfMode(info.st_mode);
    size = static_cast<uint64_t>(info.st_size);
    return true;
}

long long readSome(FileHandle handle, char* buffer, size_t capacity, unsigned long& failure)
{
    ssize_t n;
    do
    {
        n = read(static_cast<int>(handle), buffer, capacity);
    } while (n < 0 && errno == EINTR);
    if (n < 0)
    {
        failed(failure);
    }
    return n;
}

bool writeAll(FileHandle handle, const char* data, size_t size, size_t& written,
              unsigned long& failure)
{
    written = 0;
    while (written < size)
    {
        const ssize_t n = write(static_cast<int>(handle), data + written, size - written);
        if (n < 0 && errno == EINTR)
        {
            continue;
        }
        if (n <= 0)
        {
            failure = n == 0 ? EIO : static_cast<unsigned long>(errno);
            return false;
        }
        written += static_cast<size_t>(n);
    }
    return true;
}

bool cutFile(FileHandle handle, uint64_t length, unsigned long& failure)
{
    return ftruncate(static_cast<int>(handle), static_cast<off_t>(length)) == 0 || failed(failure);
}

bool flushFile(FileHandle handle, unsigned long& failure)
{
    return fsync(static_cast<int>(handle)) == 0 || failed(failure);
}

bool closeFile(FileHandle handle, unsigned long& failure)
{
    return close(static_cast<int>(handle)) == 0 || failed(failure);
}

// Whether a file system, known by its type number, cannot promise the space for writing over
// a file's own bytes: a copy-on-write file system puts every block written over somewhere new,
// and a block the file shares with a snapshot stays taken too.
static bool overwritesNeedNewSpace(uint32_t type)
{
    constexpr uint32_t BTRFS = 0x9123683E;
    constexpr uint32_t ZFS = 0x2FC12FC1;
    constexpr uint32_t BCACHEFS = 0xCA451A4E;
    return type == BTRFS || type == ZFS || type == BCACHEFS;
}

static int allocate(int fd, int mode, uint64_t length)
{
    int result;
    do
    {
        result = length == 0 ? 0 : fallocate(fd, mode, 0, static_cast<off_t>(length));
    } while (result != 0 && errno == EINTR);
    return result;
}

bool reserveRewrite(FileHandle handle, const std::string&, uint64_t oldSize, uint64_t size,
                    unsigned long& failure, Unreserved& refusal)
{
    refusal = Unreserved::none;
    // A write past the file-size limit fails wherever the old file ends, so the limit is
    // weighed against the whole new length, shorter than the old file or not.
    rlimit limit;
    if (getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
        size > static_cast<uint64_t>(limit.rlim_cur))
    {
        failure = EFBIG;
        return false;
    }
    if (size == 0)
    {
        return true;
    }
    const int fd = static_cast<int>(handle);
    // The type numbers are 32 bits wide; where f_type is signed, some read as negative.
    struct statfs fileSystem;
    if (fstatfs(fd, &fileSystem) == 0 &&
        overwritesNeedNewSpace(static_cast<uint32_t>(fileSystem.f_type)))
    {
        refusal = Unreserved::copyOnWrite;
        return false;
    }
    // A block shared with another file (a copy made by reference) needs one of its own before
    // it can be written over, which asking for space does not give: the shared part of the old
    // bytes is made the file's own first. A file system that shares no blocks does not know
    // the request.
    if (allocate(fd, FALLOC_FL_UNSHARE_RANGE, size < oldSize ? size : oldSize) != 0 &&
        errno != EOPNOTSUPP && errno != EINVAL)
    {
        return failed(failure);
    }
    // The whole range, not only the growth, so a hole in the old file gets its blocks now and
    // not at a moment the disk may be full. A growth that fails is cut back.
    if (allocate(fd, 0, size) != 0)
    {
        const int error = errno;
        if (size > oldSize)
        {
            const int ignored = ftruncate(fd, static_cast<off_t>(oldSize));
            (void)ignored;
        }
        failure = static_cast<unsigned long>(error);
        refusal = error == EOPNOTSUPP ? Unreserved::unsupported : Unreserved::none;
        return false;
    }
    return true;
}

bool replaceFile(const std::string& from, const std::string& to, unsigned long& failure)
{
    return rename(from.c_str(), to.c_str()) == 0 || failed(failure);
}

bool removeFile(const std::string& path, unsigned long& failure)
{
    return unlink(path.c_str()) == 0 || errno == ENOENT || failed(failure);
}

void syncFolderOf(const std::string& path)
{
    const int folder = open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0)
    {
        fsync(folder);
        close(folder);
    }
}
