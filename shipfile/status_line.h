#pragma once

#include <string>

// The editor's two console streams, one source per operating system: status_line_posix.cpp
// and status_line_win32.cpp. Each line goes out in one write: a line that cannot be written
// now (a reader that has gone, a full pipe nobody reads, a closed terminal) is dropped, because
// the editor must neither stop nor stall for its console. (On Windows a nearly full pipe may
// take only the start of a line.)

// Writes one status line ("SAVED!", "LOADED!") to standard output.
void writeStatusLine(const char* line);

// Writes one error line (given without its newline) to standard error.
void writeErrorLine(const std::string& line);
// The same for a line that is a literal; it takes no memory, so it can report running out.
void writeErrorLine(const char* line);
