#pragma once

#include <cstdint>
#include <string>

namespace v38::ctl {

// A service card's data is enough to make a card that opens the room, so what v38ctl
// prints for people (show, diff, verify) masks the card number as card numbers are
// usually shown: the first six and the last four digits, '*' for the rest; a number
// of ten digits or fewer is masked whole. JSON documents keep the full data.
inline constexpr char MaskCharacter = '*';

std::string maskedNumber(const std::string& digits);

// The magnetic reading: its number (up to the first '=') masked as above, and all
// after the separator (expiry, service code, discretionary data) masked whole.
std::string maskedMagnetic(const std::string& text);

// A card as printed: the 20 bytes in hex and the two readings, masked unless `whole`.
struct ShownCard {
    std::string hex;
    std::string magnetic;
    std::string proximity;
};
ShownCard shownCard(const std::uint8_t card[20], bool whole);

} // namespace v38::ctl
