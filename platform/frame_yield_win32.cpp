#include "platform/frame_yield.h"

#include <windows.h>

void yieldAfterFrame()
{
    // A zero-length sleep gives up the slice to any ready thread of equal priority and
    // returns at once when there is none.
    Sleep(0);
}
