#pragma once

#include <string>

// The editor's two console streams: status lines on standard output, error lines on
// standard error, one source per operating system (console_posix.cpp, console_win32.cpp).
// Writing a line never stops the editor: a line that a stream cannot take (a reader that has
// gone, a full pipe nobody reads, a closed terminal, a console with a selection held) is
// dropped rather than waited for. On Linux each line is one write, made only when the stream
// can take it at once. On Windows a line for a pipe or a console goes into a small queue that a
// thread per stream writes out; a line that finds the queue full is dropped and counted, and
// the count is said once the stream takes lines again. A line for a file is written at once.

// Sets the console up before anything else writes to it: on Windows it starts the writer
// threads.
void startConsoleLines();

// Writes one status line ("SAVED!", "LOADED!") to standard output.
void writeStatusLine(const char* line);

// Writes one error line (given without its newline) to standard error. The line as a literal
// takes no memory, so it can report running out.
void writeErrorLine(const char* line);
inline void writeErrorLine(const std::string& line)
{
    writeErrorLine(line.c_str());
}

// Ends the program with status 1 once the lines written so far are out (on Windows, within the
// wait the end of the program gives them), without other libraries' clean-up: it is called from
// inside a failed call of the toolkit or of the display's library.
[[noreturn]] void exitAfterLines();
