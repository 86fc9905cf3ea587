#pragma once

#include <fstream>
#include <string>
#include <sys/resource.h>

// Limits this process's address space to what it has mapped now plus `spareBytes`, so that a
// test can make the next allocations fail the way a user's `ulimit -v` makes them fail. Call it
// in a child process: the limit cannot be raised again. False when it cannot be set.
inline bool limitAddressSpaceAbove(long spareBytes)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    long mapped = 0;
    while (std::getline(status, line))
    {
        if (line.rfind("VmSize:", 0) == 0)
        {
            mapped = std::stol(line.substr(7)) * 1024;
        }
    }
    rlimit limit = {};
    getrlimit(RLIMIT_AS, &limit);
    limit.rlim_cur = static_cast<rlim_t>(mapped + spareBytes);
    return mapped != 0 && setrlimit(RLIMIT_AS, &limit) == 0;
}
