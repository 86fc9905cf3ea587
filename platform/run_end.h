#pragma once

// The ends of the run that the system announces (SIGINT, SIGTERM and SIGHUP on POSIX systems;
// a console closed, a log-off or a shutdown on Windows), handled on one path, one source per
// system: run_end_posix.cpp and run_end_win32.cpp.
//
// When an end is announced, every path held for removal is removed at once, from the handler
// itself, so that no temporary file outlives the run. Then the handler returns and the editor's
// own thread, at the end of its next frame, finishes what the run still owes (its last words)
// and calls endRunAsAnnounced. A second announcement before that ends the run at once.

// Starts watching for the announced ends. Called once, before the first file is written.
void watchRunEnd();

// Whether an end has been announced since the watch started.
bool runEndAnnounced();

// Ends the process as the announced end would have ended it (the signal's own default action,
// or the exit code Windows gives a closed console). Only after runEndAnnounced().
[[noreturn]] void endRunAsAnnounced();

// A path that an announced end removes: a temporary file while it is written. Holding takes
// one of a few fixed slots (a save on the editor's thread and a copy on a writer thread may
// hold one each) and copies `path` into it, so the handler asks for no memory; it returns the
// slot, or -1 when every slot is taken or the path is too long (that file is then removed only
// by its own clean-up). Safe from any thread.
int holdForRemoval(const char* path);
void releaseRemoval(int slot);
