#include "platform/file_source.h"
#include "platform/file_system.h"

#include <cassert>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

// Opening without blocking lets a FIFO be looked at without waiting for a writer; on a
// regular file the flag changes nothing.
bool openFileSource(const char* path, FileSource& source, std::string& error)
{
    source = FileSource{};
    const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
    {
        error = systemReason(static_cast<unsigned long>(errno));
        return false;
    }
    FileKind kind = FileKind::other;
    uint64_t size = 0;
    unsigned long failure = 0;
    const bool known = openFileFacts(fd, kind, size, failure);
    if (!known || kind != FileKind::regular)
    {
        error = known ? refusalOf(kind) : systemReason(failure);
        close(fd);
        return false;
    }
    source.handle = fd;
    source.size = size;
    return true;
}

long long readFileSource(FileSource& source, char* buffer, size_t capacity, std::string& error)
{
    assert(source.handle >= 0);
    ssize_t n;
    do
    {
        n = read(static_cast<int>(source.handle), buffer, capacity);
    } while (n < 0 && errno == EINTR);
    if (n < 0)
    {
        error = systemReason(static_cast<unsigned long>(errno));
    }
    return n;
}

void closeFileSource(FileSource& source)
{
    if (source.handle >= 0)
    {
        close(static_cast<int>(source.handle));
    }
    source = FileSource{};
}
