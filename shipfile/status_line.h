#pragma once

#include <string>

// Writes one status line ("SAVED!", "LOADED!") to standard output at once. A line that cannot
// be written now (a reader that has gone, a full pipe nobody reads, a closed terminal) is
// dropped: the status lines are a courtesy, and the editor must neither stop nor stall for them.
void writeStatusLine(const char* line);

// Writes one failure line (given without its newline) to standard error, under the same
// rule: dropped when the stream cannot take it now.
void writeErrorLine(const std::string& line);
