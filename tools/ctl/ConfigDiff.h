#pragma once

#include "ConfigImage.h"

#include <string>
#include <vector>

namespace v38::ctl {

// What changes from `from` to `to`, one line per field, in the document's field names
// and the configurator's readings: flags by name, times with their readings, prefixes
// by number, service cards, bits 6 and 7, reserved bytes by offset. Empty when the
// 512 bytes are equal.
std::vector<std::string> differences(const ConfigImage& from, const ConfigImage& to);

} // namespace v38::ctl
