#include "platform/file_system.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

std::string systemReason(unsigned long code)
{
    return std::strerror(static_cast<int>(code));
}

static FileKind kindOfMode(mode_t mode)
{
    FileKind kind = FileKind::other;
    if (S_ISREG(mode))
    {
        kind = FileKind::regular;
    }
    else if (S_ISDIR(mode))
    {
        kind = FileKind::folder;
    }
    else if (S_ISFIFO(mode))
    {
        kind = FileKind::fifo;
    }
    else if (S_ISCHR(mode) || S_ISBLK(mode))
    {
        kind = FileKind::device;
    }
    else if (S_ISSOCK(mode))
    {
        kind = FileKind::socket;
    }
    return kind;
}

bool pathKind(const std::string& path, FileKind& kind, unsigned long& failure)
{
    struct stat info;
    if (stat(path.c_str(), &info) != 0)
    {
        failure = static_cast<unsigned long>(errno);
        return false;
    }
    kind = kindOfMode(info.st_mode);
    return true;
}

bool openFileFacts(intptr_t handle, FileKind& kind, uint64_t& size, unsigned long& failure)
{
    struct stat info;
    if (fstat(static_cast<int>(handle), &info) != 0)
    {
        failure = static_cast<unsigned long>(errno);
        return false;
    }
    kind = kindOfMode(info.st_mode);
    size = static_cast<uint64_t>(info.st_size);
    return true;
}
