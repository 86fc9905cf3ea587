#pragma once

#include <string>

// Call before the toolkit opens the window. Makes sure the window can open, so that the editor
// ends with one line in its own words (`reason`, returning false) instead of the toolkit's.
// On X it opens the display the toolkit will open (a "-display NAME" argument, else $DISPLAY)
// and holds the connection until finishDisplay: a server resets when its last client leaves,
// so a check that connected and left at once would let the toolkit's own connection land in
// that reset. It refuses a display that does not answer or cannot give the window OpenGL (no
// GLX, no double-buffered RGB visual, a context refused). On Windows nothing is checked
// beforehand; any toolkit error before the window exists ends the editor with one line
// saying the window cannot open.
bool prepareDisplay(int argc, char** argv, std::string& reason);

// Call once the window exists and its GL context is current. Lets go of what prepareDisplay
// held and names the window for the desktop. From now on a lost connection to the display,
// or a request it refuses (as every drawing request is once another program destroyed the
// window), ends the editor with one line on stderr and exit status 1.
void finishDisplay();

// What the editor still owes before the display's loss ends it (the last recovery copy): called
// once, on the editor's thread, after the line and before the exit. Nothing draws after it.
// On Windows a log-off or a shutdown, which ends the process, calls it too.
void setDisplayLostLastWords(void (*lastWords)());

// Call when the window is hidden. A window destroyed by another program is first unmapped, and
// the toolkit draws no hidden window, so no failed drawing request would tell; this asks the
// server, and a window that is gone ends the editor as finishDisplay describes.
void exitIfWindowDestroyed();
