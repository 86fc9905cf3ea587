#include "shipfile/status_line.h"

#include <cerrno>
#include <climits>
#include <poll.h>
#include <string>
#include <unistd.h>

// A pipe that polls writable has room for PIPE_BUF bytes, which one write of a line no longer
// than that fills at once; a descriptor that does not poll writable right now would block.
// Writing to the descriptor without blocking by switching it to O_NONBLOCK is no way out: the
// flag belongs to the open file, which a terminal or a pipe shares with other programs.
static void writeLine(int fd, std::string text)
{
    if (text.size() > PIPE_BUF - 1)
    {
        text.resize(PIPE_BUF - 1);
    }
    text += '\n';
    pollfd out = {fd, POLLOUT, 0};
    if (poll(&out, 1, 0) != 1 || (out.revents & POLLOUT) == 0)
    {
        return;
    }
    ssize_t n;
    do
    {
        n = write(fd, text.data(), text.size());
    } while (n < 0 && errno == EINTR);
}

void writeStatusLine(const char* line)
{
    writeLine(STDOUT_FILENO, line);
}

void writeErrorLine(const std::string& line)
{
    writeLine(STDERR_FILENO, line);
}
