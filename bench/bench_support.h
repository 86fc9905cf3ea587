#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <unistd.h>

// Runs the measurement inside a scratch folder, as the editor saves into its own.
struct ScratchFolder
{
    std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::path path;
    ScratchFolder()
    {
        char pattern[] = "/tmp/gantrix-bench-XXXXXX";
        path = mkdtemp(pattern);
        std::filesystem::current_path(path);
    }
    ~ScratchFolder()
    {
        std::filesystem::current_path(previous);
        std::filesystem::remove_all(path);
    }
};

// Saves and loads print a status line each; keep them off the benchmark's table.
struct QuietStdout
{
    int saved = dup(fileno(stdout));
    QuietStdout()
    {
        std::fflush(stdout);
        FILE* null = std::fopen("/dev/null", "w");
        dup2(fileno(null), fileno(stdout));
        std::fclose(null);
    }
    ~QuietStdout()
    {
        std::fflush(stdout);
        dup2(saved, fileno(stdout));
        close(saved);
    }
};
