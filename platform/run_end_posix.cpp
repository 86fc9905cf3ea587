#include "platform/run_end.h"

#include <atomic>
#include <csignal>
#include <unistd.h>

namespace
{
constexpr int SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};

std::atomic<int> askedBy{0}; // the first signal that asked for the end; 0 while none did

// Only async-signal-safe calls here: unlink, signal, raise.
void onEndSignal(int number)
{
    int none = 0;
    if (askedBy.compare_exchange_strong(none, number))
    {
        return;
    }
    removeHeldFiles();
    std::signal(number, SIG_DFL);
    std::raise(number);
}
} // namespace

void removeHeldFile(const char* path)
{
    unlink(path);
}

void watchRunEnd()
{
    struct sigaction action = {};
    action.sa_handler = onEndSignal;
    sigemptyset(&action.sa_mask);
    // A system call the signal interrupts goes on: the editor ends at the next frame.
    action.sa_flags = SA_RESTART;
    for (int number : SIGNALS)
    {
        // A run started with a signal ignored (nohup) keeps ignoring it.
        struct sigaction old = {};
        if (sigaction(number, nullptr, &old) == 0 && old.sa_handler != SIG_IGN)
        {
            sigaction(number, &action, nullptr);
        }
    }
}

bool runEndAsked()
{
    return askedBy.load(std::memory_order_relaxed) != 0;
}

void endRunAsAsked()
{
    const int number = askedBy.load();
    removeHeldFiles();
    std::signal(number, SIG_DFL);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, number);
    pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
    std::raise(number);
    _exit(128 + number);
}
