#pragma once

#include <cstdint>
#include <string>

namespace v38 {

inline constexpr int MagneticCardMaxLength = 37;
inline constexpr int ProximityCardDigits = 20;

// A service card's 20 raw bytes read as nibbles M0..M39, high nibble first.

// The second-track characters: M0.. up to the first 0xF nibble, at most 37 of them.
std::string magneticCardText(const std::uint8_t card[20]);

// The card number: M0..M19 as upper-case hexadecimal digits; 0xF is a digit here.
std::string proximityCardText(const std::uint8_t card[20]);

} // namespace v38
