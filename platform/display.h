#pragma once

#include <string>

// Opens the X display the toolkit will open (a "-display NAME" argument, else $DISPLAY) and
// holds the connection until releaseDisplay(). A server resets when its last client leaves,
// so a check that connected and left at once would let the toolkit's own connection land in
// that reset. When the display does not answer, or cannot give the window OpenGL (no GLX, no
// double-buffered RGB visual, a context refused), returns false with one line for the user.
bool holdDisplay(int argc, char** argv, std::string& reason);

// Closes the connection holdDisplay opened; call it once the toolkit has its own.
void releaseDisplay();

// From now on a lost connection to the X server, or a request it refuses (as every drawing
// request is once another program destroyed the window), ends the editor with one line on
// stderr naming the display, and exit status 1.
void exitWhenDisplayLost();

// Call once the window exists and its GL context is current. Gives the window its class
// ("gantrix", "Gantrix") and the editor's process id, by which window managers, task lists
// and "end this window" commands find it.
void nameWindowForDesktop();

// Call when the window is hidden. A window destroyed by another program is first unmapped, and
// the toolkit draws no hidden window, so no failed drawing request would tell; this asks the
// server, and a window that is gone ends the editor as exitWhenDisplayLost describes.
void exitIfWindowDestroyed();

// Call once the window exists and its GL context is current. The toolkit asks the X input
// extension for enter and leave events and keeps the data of those about the root window,
// which a drag leaving the window brings: 188 bytes each, never freed. The window then takes
// the core X events the toolkit also asks for, which carry everything the editor uses.
void useCoreInputEvents();
