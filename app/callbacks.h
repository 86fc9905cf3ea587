#pragma once

// The toolkit's event callbacks: thin functions that turn window events into editor state.

void onKeyboard(unsigned char character, int x, int y);
void onReshape(int width, int height);
void onMouse(int button, int state, int x, int y);
void onMotion(int x, int y);

// These only keep the key state in step with the keyboard; they carry no command.
void onKeyboardUp(unsigned char character, int x, int y);
void onSpecial(int key, int x, int y);
void onSpecialUp(int key, int x, int y);
void onEntry(int state);
