#pragma once

// Makes the process safe to run from any console or launcher: standard descriptors that
// were closed at start are opened on /dev/null, so the X connection or a ship file never
// takes descriptor 1 and receives the status lines; a reader of standard output that has
// gone, or a file-size limit, fails that one write instead of ending the editor.
void prepareProcess();
