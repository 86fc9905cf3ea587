#pragma once

// A small, full disk for save tests on Linux: a file system mounted in a mount namespace
// private to the calling process, a folder that refuses new entries (so a save
// rewrites its file in place), and a file that takes every block left.

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <sched.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <unistd.h>

// Mounts a disk image of `kib` KiB with a file system of `type` ("ext4", "ext2", "btrfs"), made
// at `image` with the options `make` of its mkfs, through a loop device on `folder`, seen by
// this process and the processes it starts from now on. Growing a file there only notes its new
// length, as on many disks. Returns an empty string, or why it could not.
inline std::string mountPrivateImage(const std::string& folder, const std::string& image, int kib,
                                     const std::string& type, const std::string& make = "-q -m 0")
{
    if (unshare(CLONE_NEWNS) != 0)
    {
        return std::string("cannot make a private mount namespace (") + std::strerror(errno) +
               "); this test needs the right to mount a small file system";
    }
    const std::string command = "truncate -s " + std::to_string(kib) + "K '" + image +
                                "' && mkfs." + type + " " + make + " '" + image +
                                "' >/dev/null && mount -o loop '" + image + "' '" + folder + "'";
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        std::system(command.c_str()) != 0)
    {
        return "cannot mount a disk image through a loop device: " + command;
    }
    return "";
}

// Makes `folder` take no new entries, the super-user's included, or take them again; the
// files already in it stay writable.
inline bool setImmutable(const std::string& folder, bool on)
{
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int flags = 0;
    bool ok = fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
    ok = ok && ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    if (fd >= 0)
    {
        close(fd);
    }
    return ok;
}

// Takes every block left on the disk for a file at `path`, then gives `leave` bytes back: a
// disk with a little room, too little for a whole ship.
inline void fillDisk(const std::string& path, off_t leave = 0)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const std::string block(4096, 'f');
    off_t size = 0;
    for (ssize_t n = 1; fd >= 0 && n > 0; size += n > 0 ? n : 0)
    {
        n = write(fd, block.data(), block.size());
    }
    if (fd >= 0)
    {
        const int ignored = ftruncate(fd, size > leave ? size - leave : 0);
        (void)ignored;
        close(fd);
    }
}
