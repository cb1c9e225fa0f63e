// The production record: one JSON line per port and command, appended to a file that
// several zelkctl processes, one per port, write at once.
#pragma once

#include <string>

// Appends line (one JSON object, no line end; the function adds "\n") to path as one whole
// write under an exclusive lock, creating the file if needed (mode 0644 less umask), so that
// lines from parallel ports and processes never interleave. A write that fails halfway (a
// full disk) is taken back, so the file never holds part of a line. False with the reason,
// without the path, in *error otherwise.
bool AppendLogLine(const std::string& path, const std::string& line, std::string* error);
