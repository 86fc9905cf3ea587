#include "platform/console.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <poll.h>
#include <unistd.h>

// A pipe that polls writable has room for PIPE_BUF bytes, which one write of a line no longer
// than that fills at once; a descriptor that does not poll writable right now would block.
// Writing to the descriptor without blocking by switching it to O_NONBLOCK is no way out: the
// flag belongs to the open file, which a terminal or a pipe shares with other programs. The line
// is put together on the stack, so that saying a save ran out of memory needs none.
static void writeLine(int fd, const char* line, size_t length)
{
    char text[PIPE_BUF];
    if (length > sizeof text - 1)
    {
        length = sizeof text - 1;
    }
    std::memcpy(text, line, length);
    text[length] = '\n';
    pollfd out = {fd, POLLOUT, 0};
    if (poll(&out, 1, 0) != 1 || (out.revents & POLLOUT) == 0)
    {
        return;
    }
    ssize_t n;
    do
    {
        n = write(fd, text, length + 1);
    } while (n < 0 && errno == EINTR);
}

// Each line is written by the caller, without waiting: there is nothing to start.
void startConsoleLines() {}

void writeStatusLine(const char* line)
{
    writeLine(STDOUT_FILENO, line, std::strlen(line));
}

void writeErrorLine(const char* line)
{
    writeLine(STDERR_FILENO, line, std::strlen(line));
}

void exitAfterLines()
{
    _exit(1);
}
