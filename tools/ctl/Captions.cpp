#include "Captions.h"

#include "TimeReading.h"

#include <string>

namespace v38::ctl {

std::string timeText(std::size_t offset, int value) {
    return std::to_string(value) + " " +
           (offset == offset::boltPulse ? boltPulseReading(value) : lockoutReading(value));
}

} // namespace v38::ctl
