#include "shipfile/file_source.h"

#include "platform/file_system.h"

#include <cassert>

const char* notRegularFile(FileKind kind)
{
    // By FileKind, from regular on.
    static const char* const WORDS[] = {
        "not a regular file",           "a folder, not a regular file",
        "a FIFO, not a regular file",   "a pipe, not a regular file",
        "a device, not a regular file", "a socket, not a regular file",
        "not a regular file",
    };
    static_assert(sizeof WORDS / sizeof *WORDS == static_cast<int>(FileKind::other) + 1, "");
    return WORDS[static_cast<int>(kind)];
}

// What the path names is looked at before it is opened, so a device name or a pipe is refused
// before the open could wait on it; the file opened is looked at again, since the path may
// have changed in between.
bool openFileSource(const char* path, FileSource& source, std::string& error)
{
    source = FileSource{};
    FileKind kind = FileKind::other;
    uint64_t size = 0;
    unsigned long failure = 0;
    if (!pathKind(path, kind, failure))
    {
        error = systemReason(failure);
        return false;
    }
    FileHandle handle = NO_FILE;
    if (kind == FileKind::regular && !openForReading(path, handle, failure))
    {
        error = systemReason(failure);
        return false;
    }
    const bool known = handle == NO_FILE || openFileFacts(handle, kind, size, failure);
    if (!known || kind != FileKind::regular)
    {
        error = known ? std::string(path) + " is " + notRegularFile(kind) : systemReason(failure);
        if (handle != NO_FILE)
        {
            closeFile(handle, failure);
        }
        return false;
    }
    source.handle = handle;
    source.size = size;
    error.clear();
    return true;
}

long long readFileSource(FileSource& source, char* buffer, size_t capacity, std::string& error)
{
    assert(source.handle != NO_FILE);
    unsigned long failure = 0;
    const long long n = readSome(source.handle, buffer, capacity, failure);
    if (n < 0)
    {
        error = systemReason(failure);
    }
    return n;
}

void closeFileSource(FileSource& source)
{
    unsigned long failure = 0;
    if (source.handle != NO_FILE)
    {
        closeFile(source.handle, failure);
    }
    source = FileSource{};
}
