#include "ServiceCard.h"

namespace v38 {

namespace {
std::uint8_t nibble(const std::uint8_t card[20], int j) {
    return (j % 2 == 0) ? std::uint8_t(card[j / 2] >> 4) : std::uint8_t(card[j / 2] & 0x0F);
}
} // namespace

std::string magneticCardText(const std::uint8_t card[20]) {
    std::string text;
    for (int j = 0; j < MagneticCardMaxLength; ++j) {
        const std::uint8_t n = nibble(card, j);
        if (n == 0xF)
            break;
        text.push_back(char(0x30 + n));
    }
    return text;
}

std::string proximityCardText(const std::uint8_t card[20]) {
    static constexpr char Hex[] = "0123456789ABCDEF";
    std::string text;
    for (int j = 0; j < ProximityCardDigits; ++j)
        text.push_back(Hex[nibble(card, j)]);
    return text;
}

} // namespace v38
