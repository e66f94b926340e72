#include "CardMask.h"

#include "HexText.h"
#include "ServiceCard.h"

namespace v38::ctl {

namespace {
constexpr std::size_t ShownFirst = 6;
constexpr std::size_t ShownLast = 4;
constexpr char FieldSeparator = '=';
} // namespace

std::string maskedNumber(const std::string& digits) {
    if (digits.size() <= ShownFirst + ShownLast)
        return std::string(digits.size(), MaskCharacter);
    return digits.substr(0, ShownFirst) +
           std::string(digits.size() - ShownFirst - ShownLast, MaskCharacter) +
           digits.substr(digits.size() - ShownLast);
}

std::string maskedMagnetic(const std::string& text) {
    const std::size_t separator = text.find(FieldSeparator);
    if (separator == std::string::npos)
        return maskedNumber(text);
    return maskedNumber(text.substr(0, separator)) + FieldSeparator +
           std::string(text.size() - separator - 1, MaskCharacter);
}

ShownCard shownCard(const std::uint8_t card[20], bool whole) {
    ShownCard shown{hexText(card, 20), magneticCardText(card), proximityCardText(card)};
    if (!whole) {
        shown.hex = maskedNumber(shown.hex);
        shown.magnetic = maskedMagnetic(shown.magnetic);
        shown.proximity = maskedNumber(shown.proximity);
    }
    return shown;
}

} // namespace v38::ctl
