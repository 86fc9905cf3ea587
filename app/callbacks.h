#pragma once

// The editor's window and the toolkit's event callbacks: thin functions that turn window
// events into editor state.

constexpr int WINDOW_SIZE = 900; // width and height of the window as it opens, pixels

// Starts the toolkit and opens the editor's window: double-buffered RGB, WINDOW_SIZE square
// at (0, 0), titled "Gantrix". Returns the toolkit's window id.
int createEditorWindow(int* argc, char** argv);

// One frame: binds the attachments, draws the ship, presents the frame and asks for the
// next one.
void onDisplay();

// Reshape and pointer events only update the editor state; each frame sets GL's from it.
void onKeyboard(unsigned char character, int x, int y);
void onReshape(int width, int height);
void onMouse(int button, int state, int x, int y);
void onMotion(int x, int y);

// A window that another program destroys is hidden first, and no longer drawn: each time the
// window is hidden, the editor makes sure it still exists.
void onWindowStatus(int state);
// The window is being closed (by the user or the desktop).
void onClose();
// How often the editor looks whether the system asked the run to end (a signal, a closed
// console); the run then ends after its last recovery copy.
constexpr int RUN_END_CHECK_MILLISECONDS = 100;
void onRunEndCheck(int);
