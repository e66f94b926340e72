#pragma once

#include "ConfigImage.h"

#include <string>
#include <vector>

namespace v38::ctl {

// What changes from `from` to `to`, one line per field: flags and times by the
// configurator's captions (times with their readings), bits 6 and 7, prefixes by
// number, service cards (masked unless `wholeCards`), reserved bytes by offset. Empty
// when the 512 bytes are equal.
std::vector<std::string> differences(const ConfigImage& from, const ConfigImage& to,
                                     bool wholeCards = false);

} // namespace v38::ctl
