#include "shipfile/status_line.h"

#include <cerrno>
#include <poll.h>
#include <string>
#include <unistd.h>

void writeStatusLine(const char* line)
{
    std::string text = std::string(line) + "\n";
    // A pipe that polls writable has room for PIPE_BUF bytes, which a write of one short line
    // fills at once; a descriptor that does not poll writable right now would block.
    pollfd out = {STDOUT_FILENO, POLLOUT, 0};
    if (poll(&out, 1, 0) != 1 || (out.revents & POLLOUT) == 0)
    {
        return;
    }
    ssize_t n;
    do
    {
        n = write(STDOUT_FILENO, text.data(), text.size());
    } while (n < 0 && errno == EINTR);
}
