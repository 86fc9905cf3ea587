#pragma once

// Pointer handling behind the toolkit's mouse and motion callbacks. It makes no toolkit calls:
// it works on the pixel positions the callbacks pass on, and asks the platform's key state for
// the keys.

#include "edit/pointer_edit.h"

// A pointer movement while a button is held, at pixel (x, y): maps the pointer, then runs
// the pan, the corner drag and the attachment drag that are active, in that order.
void handlePointerMotion(int x, int y);

// A left or right button press or release at pixel (x, y); `pressed` is false for a release.
void handlePointerButton(PointerButton button, bool pressed, int x, int y);
