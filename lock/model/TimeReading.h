#pragma once

#include <cstdint>
#include <string>

namespace v38 {

// The readings shown beside the time edits, in seconds and minutes.

// Bolt pulse, 0.1 s units: 255 gives "= 25,5 sek".
std::string boltPulseReading(int value);

// Lock-outs, 10 s units: 255 gives "= 42min 30sek".
std::string lockoutReading(int value);

} // namespace v38
