#pragma once

#include <string>

// The editor's display, one source per system (display_x11.cpp, display_win32.cpp) over what
// both share (display.cpp): the window that cannot open, and the display that fails later.

// Call before the toolkit opens the window. On X it opens the display the toolkit will open (a
// "-display NAME" argument, else $DISPLAY) and holds the connection until finishDisplay: a
// server resets when its last client leaves, so a check that connected and left at once would
// let the toolkit's own connection land in that reset. A display that is not named or does not
// answer is refused here (`reason`, returning false). From here on anything that keeps the
// toolkit from opening the window (no OpenGL on the display, a context refused) ends the
// editor with one line in its own words, "gantrix: cannot open the window ...", and status 1,
// instead of the toolkit's message or a dump of the failed X request.
bool prepareDisplay(int argc, char** argv, std::string& reason);

// Call once the window exists and its GL context is current. Lets go of what prepareDisplay
// held and names the window for the desktop. From now on a lost connection to the display,
// a request it refuses (as every drawing request is once another program destroyed the
// window) or a toolkit error ends the editor with one line on stderr and exit status 1.
void finishDisplay();

// What the editor still owes before the display's loss ends it (the last recovery copy): called
// once, on the editor's thread, after the line and before the exit. Nothing draws after it.
// On Windows a log-off or a shutdown, which ends the process, calls it too.
void setDisplayLostLastWords(void (*lastWords)());

// Call when the window is hidden. A window destroyed by another program is first unmapped, and
// the toolkit draws no hidden window, so no failed drawing request would tell; this asks the
// server, and a window that is gone ends the editor as finishDisplay describes.
void exitIfWindowDestroyed();

// For the system's source. Has the toolkit's errors and warnings said in the editor's words;
// `place` says where the window was to open ("" or " on X display ':0'"), `hint` what usually
// keeps it from opening there.
void reportToolkitErrors(const char* place, const char* hint);
// From now on an error is the toolkit's failure, no longer a window that cannot open.
void noteWindowOpen();
// Runs the last words, once: a failure inside them that comes back here does not run them again.
void sayLastWords();
// Writes `line`, runs the last words and ends the editor with status 1.
[[noreturn]] void endWithLine(const char* line);
