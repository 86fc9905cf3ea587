#pragma once

// The display callback: draws one whole frame from the global ship, presents it and asks
// for the next one.
void drawScene();
