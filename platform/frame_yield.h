#pragma once

// Ends a frame. The editor asks for the next frame at once, so it hands the rest of its time
// slice to whatever else is ready to run rather than spinning.
void yieldAfterFrame();
