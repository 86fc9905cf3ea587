#include "platform/process.h"

#include <csignal>
#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

// Free memory the C library keeps at the top of its heap rather than hand back to the system.
// The software renderer keeps each frame's drawing state in blocks it frees when the frame is
// done; handed back at once, they are faulted in anew, page by page, on the next frame, and
// with many markers in view that costs more than the drawing. 64 MiB is what the library
// comes to of itself after a large block is freed.
constexpr int HEAP_TOP_KEPT = 64 * 1024 * 1024;

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
    mallopt(M_TRIM_THRESHOLD, HEAP_TOP_KEPT);
}
