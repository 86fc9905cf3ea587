#include "platform/process.h"

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

void prepareProcess()
{
    for (int fd = 0; fd <= 2; ++fd)
    {
        if (fcntl(fd, F_GETFD) >= 0)
        {
            continue;
        }
        // open() takes the lowest free descriptor, which is this one.
        const int opened = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (opened >= 0 && opened != fd)
        {
            close(opened);
        }
    }
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
}
