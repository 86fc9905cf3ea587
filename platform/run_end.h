#pragma once

// The end of a run that the system asks for: SIGINT, SIGTERM and SIGHUP (Ctrl+C, a kill, a
// closed terminal, a shutdown) on POSIX systems; Ctrl+C, a closed console, a log-off or a
// shutdown on Windows. One source per system, run_end_posix.cpp and run_end_win32.cpp, over
// the files held for removal, kept once in run_end.cpp.
//
// The first request only raises a flag that the frame reads, so the editor ends between two
// frames, after a save under way is complete and the last recovery copy is written. A second
// request, or one the system will not wait for, ends the run at once; every temporary file
// held below is removed first, so no half-written file stays beside the ship.

// Registers the handling once, at start.
void watchRunEnd();
// Whether an end of the run was asked for.
bool runEndAsked();
// Ends the run as the request would have ended it (the signal's own end, or Ctrl+C's exit code).
[[noreturn]] void endRunAsAsked();

// Keeps the temporary file `path` ready for removal at an end that cannot wait. Returns the
// slot, or -1 when every slot is taken or the path is too long to keep; takes no memory.
int holdForRemoval(const char* path);
// The file of `slot` was put in place or removed. Ignores -1.
void releaseRemoval(int slot);

// For the system's source: removes every file held, at an end that cannot wait; safe in a
// signal handler. Each goes through the system's own removeHeldFile.
void removeHeldFiles();
void removeHeldFile(const char* path);
