#include "platform/frame_yield.h"

#include <thread>

void yieldAfterFrame()
{
    std::this_thread::yield();
}
