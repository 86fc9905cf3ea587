#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// What the editor asks of the system's files, one source per system: file_system_posix.cpp and
// file_system_win32.cpp. Each call asks the system and decides nothing: a failure returns false
// with the system's error code in `failure` (errno, or GetLastError() on Windows), which
// systemReason() words. The save and the load that use them are written once, above them, in
// shipfile/file_replacement.cpp and shipfile/file_source.cpp. Paths are UTF-8.

using FileHandle = intptr_t;
constexpr FileHandle NO_FILE = -1;

// What a path or an open file is, as far as reading it and replacing it go.
enum class FileKind
{
    regular,
    folder,
    fifo,   // a named pipe of a POSIX system
    pipe,   // a pipe of Windows' pipe namespace
    device, // a character or block device, or a Windows device name such as CON or NUL
    socket,
    other,
};

// The reason for the system's error `code` on one line: the words the editor uses on every
// system for the common ones, the system's own for the rest.
std::string systemReason(unsigned long code);
// Whether `failure` says nothing is there: no such file, or a folder on the way is missing.
bool isNotFound(unsigned long failure);
// Whether `failure` is a refusal for want of permission.
bool isPermissionRefusal(unsigned long failure);

// The file that `path`'s symbolic links lead to (relative links from the link's folder);
// `path` itself where the system has no such links to follow or there is none.
bool followLinks(const std::string& path, std::string& target, unsigned long& failure);
// What is at `path`, links followed, found without reading, writing or waiting on it (a FIFO
// without a writer, a device name such as CON).
bool pathKind(const std::string& path, FileKind& kind, unsigned long& failure);
// Whether the user may write the existing file at `path` (a read-only file is refused).
bool mayWrite(const std::string& path, unsigned long& failure);
// Whether the folder holding `path` refuses that its entries be replaced or removed, though
// it may take new ones (an append-only folder).
bool folderKeepsEntries(const std::string& path);

// Opening never waits: not for a FIFO's writer, nor for a device.
bool openForReading(const std::string& path, FileHandle& handle, unsigned long& failure);
bool openForRewrite(const std::string& path, FileHandle& handle, unsigned long& failure);
// Creates the file `path`, which must not be there yet, with the permissions a new file gets
// there, and holds it for removal at an end of the run that cannot wait (platform/run_end.h):
// `hold` is the slot, -1 when none was free.
bool createNewFile(const std::string& path, FileHandle& handle, int& hold, unsigned long& failure);
// Whether `failure` says a file of that name is there already.
bool isAlreadyThere(unsigned long failure);
// Makes the folder `path`, whose parent is there, the user's alone from the start (mode 0700
// where the system has modes); true too when a folder is there already, which stays as it is.
bool makeFolder(const std::string& path, unsigned long& failure);
// Gives the new file `handle` at `tempPath` everything the old file at `target` carries besides
// its bytes: the permission bits, the owner and group, the ACL and every extended attribute on
// POSIX systems; the owner, the access list and the user's attributes on Windows. False when any
// of that cannot be given.
bool copyFileFacts(const std::string& target, FileHandle handle, const std::string& tempPath,
                   unsigned long& failure);

// The kind of the open file and its length.
bool openFileFacts(FileHandle handle, FileKind& kind, uint64_t& size, unsigned long& failure);
// Reads at most `capacity` bytes: how many (0 at the end), or -1.
long long readSome(FileHandle handle, char* buffer, size_t capacity, unsigned long& failure);
// Writes all of `data`; `written` counts the bytes the system took, also when it fails.
bool writeAll(FileHandle handle, const char* data, size_t size, size_t& written,
              unsigned long& failure);
// Makes the file `length` bytes long, its end there.
bool cutFile(FileHandle handle, uint64_t length, unsigned long& failure);
bool flushFile(FileHandle handle, unsigned long& failure);
bool closeFile(FileHandle handle, unsigned long& failure);

// Asks, for the open file at `path` of `oldSize` bytes that is to be written over from its first
// byte with `size` bytes, for everything that could refuse those bytes later: the process's
// file-size limit, real space on the disk for the whole length, holes and shared blocks included.
// What cannot be promised fails, with what the system cannot do in `refusal`, or the system's
// error in `failure` (`refusal` none). The file keeps its bytes and length either way, and the
// next write goes to its first byte.
enum class Unreserved
{
    none,
    unsupported, // the file system takes no requests for space
    copyOnWrite, // every block written over goes somewhere new
    sparse,      // a sparse or compressed file
};
bool reserveRewrite(FileHandle handle, const std::string& path, uint64_t oldSize, uint64_t size,
                    unsigned long& failure, Unreserved& refusal);

// Puts the file at `from` in the place of `to` in one step, `to` replaced whole; a file that
// another program holds for a moment (a virus scanner) is waited for a little.
bool replaceFile(const std::string& from, const std::string& to, unsigned long& failure);
bool removeFile(const std::string& path, unsigned long& failure);
// Makes the folder's entries survive a power loss, as far as the system can.
void syncFolderOf(const std::string& path);
