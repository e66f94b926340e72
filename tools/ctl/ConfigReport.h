#pragma once

#include "ConfigImage.h"

#include <string>

namespace v38::ctl {

// A configuration as text, for a person: the flags with their captions, the times
// with their readings, the active prefixes with position and card picture, and both
// service cards as magnetic and as proximity cards, their numbers masked (CardMask.h)
// unless `wholeCards`.
std::string describeConfiguration(const ConfigImage& image, bool wholeCards = false);

} // namespace v38::ctl
