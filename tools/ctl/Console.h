#pragma once

#include <cstdio>
#include <string_view>

namespace v38::ctl {

// Writes UTF-8 text to standard output or standard error. A Windows console gets it as
// UTF-16 (WriteConsoleW), which shows every letter whatever its code page; the C
// library's own console writes go through a code page and garble Polish letters.
// Anything else (a file, a pipe, a POSIX terminal) gets the bytes as they are.
void writeText(std::FILE* stream, std::string_view text);

// The system's error (errno) of the last write to standard output that failed, or 0:
// a failed fflush may have nothing left to write and say nothing.
int lastOutputError();

} // namespace v38::ctl
