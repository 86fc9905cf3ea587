#pragma once

#include "model/ship.h"

// Draws one whole frame of `s` into the current buffer; its attachments must be bound for
// this frame.
void drawScene(const Ship& s);
