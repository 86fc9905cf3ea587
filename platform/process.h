#pragma once

// Makes the process safe to run from any console or launcher, one source per system
// (process_posix.cpp, process_win32.cpp). On Linux, standard descriptors that were closed at
// start are opened on /dev/null, so the X connection or a ship file never takes descriptor 1
// and receives the status lines, and a reader of standard output that has gone, or a
// file-size limit, fails that one write instead of ending the editor, and the memory the
// renderer frees after each frame stays with the process for the next. On Windows, a failing
// disk or an empty drive fails the save or load with its line instead of showing a dialog box
// that waits for a click.
void prepareProcess();
