#pragma once

#include "ConfigImage.h"

#include <string>
#include <string_view>

namespace v38::ctl {

// The names that "-" stands for on the command line, as messages show them.
std::string standardInputName();
std::string standardOutputName();
std::string shownInputName(const std::string& name);

// Reads a configuration from the file `name` ("-": standard input), whatever its name:
// a JSON document (after an optional byte-order mark and white space, '{') or the
// 514-byte file. On failure returns false with the text for standard error in `error`
// (the system's file message, then the file's name and what it looks like) and leaves
// `image` untouched.
bool loadConfiguration(const std::string& name, ConfigImage& image, std::string& error);

// The same for bytes already read; `shown` names them in the error.
bool decodeConfiguration(std::string_view bytes, const std::string& shown, ConfigImage& image,
                         std::string& error);

} // namespace v38::ctl
