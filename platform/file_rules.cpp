#include "platform/file_rules.h"

#include "platform/file_system.h"

const char* refusalOf(FileKind kind)
{
    switch (kind)
    {
        case FileKind::regular:
            return nullptr;
        case FileKind::folder:
            return "a folder, not a regular file";
        case FileKind::fifo:
            return "a FIFO, not a regular file";
        case FileKind::pipe:
            return "a pipe, not a regular file";
        case FileKind::device:
            return "a device, not a regular file";
        case FileKind::socket:
            return "a socket, not a regular file";
        case FileKind::other:
            break;
    }
    return "not a regular file";
}

std::string refusedTarget(const std::string& path, FileKind kind)
{
    return path + " is " + refusalOf(kind);
}

std::string stepLine(const char* step, const std::string& path, const std::string& reason)
{
    return (step != nullptr ? std::string(step) + " " : std::string()) + path + ": " + reason;
}

bool targetIsNew(const std::string& target, unsigned long failure, bool notFound,
                 std::string& error)
{
    if (!notFound)
    {
        error = stepLine(nullptr, target, systemReason(failure));
    }
    return notFound;
}

bool overwritesNeedNewSpace(uint64_t fileSystemType)
{
    constexpr uint64_t BTRFS = 0x9123683E;
    constexpr uint64_t ZFS = 0x2FC12FC1;
    constexpr uint64_t BCACHEFS = 0xCA451A4E;
    return fileSystemType == BTRFS || fileSystemType == ZFS || fileSystemType == BCACHEFS;
}

bool rewritesInPlace(bool targetExists, bool folderRefusedPermission)
{
    return targetExists && folderRefusedPermission;
}

const std::string& writtenPath(const FileReplacement& replacement)
{
    return replacement.inPlace ? replacement.target : replacement.tempPath;
}
