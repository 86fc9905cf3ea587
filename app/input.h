#pragma once

// Pointer handling behind the toolkit's mouse and motion callbacks, free of toolkit calls
// so that it runs the same in tests. Key states come from the platform key-state layer.

#include "edit/pointer_edit.h"

// A pointer movement while a button is held, at pixel (x, y): maps the pointer, then runs
// the pan, the corner drag and the attachment drag that are active, in that order.
void handlePointerMotion(int x, int y);

// A left or right button press or release at pixel (x, y); `pressed` is false for a release.
void handlePointerButton(PointerButton button, bool pressed, int x, int y);
