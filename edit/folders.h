#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The working folder and the files of a folder, as the save, the load and the recovery copies
// name them: over the standard library's file system, and the system's own for the folders made
// (platform/file_system.h), the same on every system. Paths are
// UTF-8; every failure comes back as a one-line reason in `error`; nothing here prints.

// The full path of the working folder.
bool workingFolder(std::string& folder, std::string& error);
// `name` in `folder`, with the system's separator.
std::string pathInFolder(const std::string& folder, const std::string& name);

// Makes `top` and each folder on the relative path `below` in it, as far as they are not there
// yet, each folder made the user's alone (mode 0700 where the system has modes); `folder` is the
// innermost.
bool makePrivateFolders(const std::string& top, const std::string& below, std::string& folder,
                        std::string& error);

// One regular file of a folder: its name and when it was last written (seconds since 1970).
struct FolderFile
{
    std::string name;
    int64_t modified = 0;
};
// The regular files directly in `folder`; links and folders are not among them.
bool listFolderFiles(const std::string& folder, std::vector<FolderFile>& files, std::string& error);
