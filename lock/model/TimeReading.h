#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace v38 {

// The three times as the time edits show them: the number typed and the reading beside it.

// A time is one byte: the digits of an edit stand for a value below this.
inline constexpr int TimeLimit = 256;

// The value of a text of digits, up to its first non-digit; no digits give 0. Saturated
// far above any byte, so that a long text cannot overflow.
int timeValue(std::string_view digits);

// A time as it goes into the image: leading blanks and one sign are accepted, the number
// ends at the first non-digit, no digits give 0, and the low 8 bits are kept (computed
// modulo 256, so no text is too long).
std::uint8_t timeByte(std::string_view text);

// The readings shown beside the time edits, in seconds and minutes.

// Bolt pulse, 0.1 s units: 255 gives "= 25,5 sek".
std::string boltPulseReading(int value);

// Lock-outs, 10 s units: 255 gives "= 42min 30sek".
std::string lockoutReading(int value);

} // namespace v38
