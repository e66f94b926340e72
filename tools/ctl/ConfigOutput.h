#pragma once

#include <string>
#include <string_view>

namespace v38::ctl {

// Where a command's output goes, by the name on the command line: "-" is standard
// output; a device or pipe (/dev/null, /dev/fd/N) is written through; any other name
// is a file, replaced whole or not at all.

// The name asks for a JSON document: it ends in .json, in any case.
bool isJsonName(const std::string& name);

// Why output to `name` is refused before anything else is done: the 514-byte file
// (`binary`) is not written to a terminal. Empty when it may go there.
std::string terminalRefusal(const std::string& name, bool binary);

// Why `output` may not be written: it is the very file `input` (read first), which a
// write would destroy. Empty when they differ.
std::string sameFileRefusal(const std::string& input, const std::string& output);

// Writes `bytes` to `name`; returns the text for standard error on failure (the
// system's file message naming the file), else an empty string.
std::string writeOutput(const std::string& name, std::string_view bytes);

} // namespace v38::ctl
