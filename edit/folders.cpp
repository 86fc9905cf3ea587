#include "edit/folders.h"

#include "platform/file_system.h"

#include <chrono>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

bool workingFolder(std::string& folder, std::string& error)
{
    std::error_code failure;
    const fs::path path = fs::current_path(failure);
    if (failure)
    {
        error = "cannot tell the working folder: " + failure.message();
        return false;
    }
    folder = path.u8string();
    return true;
}

std::string pathInFolder(const std::string& folder, const std::string& name)
{
    return (fs::u8path(folder) / fs::u8path(name)).u8string();
}

bool makePrivateFolders(const std::string& top, const std::string& below, std::string& folder,
                        std::string& error)
{
    fs::path path = fs::u8path(top);
    const fs::path inner = fs::u8path(below);
    for (auto part = inner.begin();; path /= *part++)
    {
        unsigned long failure = 0;
        if (!makeFolder(path.u8string(), failure))
        {
            error = "cannot make the folder " + path.u8string() + ": " + systemReason(failure);
            return false;
        }
        if (part == inner.end())
        {
            folder = path.u8string();
            return true;
        }
    }
}

// The file system's clock need not count from 1970: its times are taken as a distance from
// its now, laid off from the system clock's now.
static int64_t unixSeconds(fs::file_time_type written)
{
    using namespace std::chrono;
    const auto since =
        duration_cast<system_clock::duration>(written - fs::file_time_type::clock::now());
    return duration_cast<seconds>((system_clock::now() + since).time_since_epoch()).count();
}

bool listFolderFiles(const std::string& folder, std::vector<FolderFile>& files, std::string& error)
{
    std::error_code failure;
    fs::directory_iterator entries(fs::u8path(folder), failure);
    for (; !failure && entries != fs::directory_iterator(); entries.increment(failure))
    {
        std::error_code ignored;
        const fs::directory_entry& entry = *entries;
        if (entry.symlink_status(ignored).type() == fs::file_type::regular)
        {
            const fs::file_time_type written = entry.last_write_time(ignored);
            files.push_back(
                FolderFile{entry.path().filename().u8string(), ignored ? 0 : unixSeconds(written)});
        }
    }
    if (failure)
    {
        error = "cannot read " + folder + ": " + failure.message();
        return false;
    }
    return true;
}
