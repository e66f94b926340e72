#include "PrefixEntry.h"

#include <algorithm>

namespace v38 {

namespace {
std::uint8_t nibble(const std::uint8_t bytes[4], int n) {
    const std::uint8_t byte = bytes[n / 2];
    return (n % 2 == 0) ? std::uint8_t(byte >> 4) : std::uint8_t(byte & 0x0F);
}

void setNibble(std::uint8_t bytes[4], int n, std::uint8_t value) {
    std::uint8_t& byte = bytes[n / 2];
    byte = (n % 2 == 0) ? std::uint8_t((byte & 0x0F) | (value << 4))
                        : std::uint8_t((byte & 0xF0) | value);
}
} // namespace

PrefixEntry decodeEntry(const std::uint8_t bytes[4]) {
    PrefixEntry entry;
    const std::uint8_t n0 = nibble(bytes, 0);
    entry.position = (n0 + 1) & 0xF;
    if (n0 == EndNibble)
        return entry;
    for (int k = 1; k <= MaxPrefixLength; ++k) {
        const std::uint8_t n = nibble(bytes, k);
        if (n == EndNibble)
            break;
        entry.text.push_back(char(0x30 + n));
    }
    return entry;
}

int encodeEntry(int position, std::string_view text, std::uint8_t out[4]) {
    std::uint8_t bytes[4] = {0xFF, 0xFF, 0xFF, 0xFF};
    if (position < 0 || position > MaxPosition)
        return EntryOutOfRange;
    if (position != 0 && !text.empty()) {
        setNibble(bytes, 0, std::uint8_t(position - 1));
        const std::size_t used = std::min<std::size_t>(text.size(), MaxPrefixLength);
        for (std::size_t k = 0; k < used; ++k) {
            if (!isPrefixChar(text[k]))
                return EntryBadChar;
            setNibble(bytes, int(k) + 1, std::uint8_t(text[k] - 0x30));
        }
    }
    for (int b = 0; b < 4; ++b)
        out[b] = bytes[b];
    return EntryStored;
}

std::string cardPicture(int position, std::string_view text) {
    std::string picture(position > 1 ? std::size_t(position - 1) : 0, 'x');
    picture.append(text);
    picture.append("...");
    return picture;
}

RowTexts rowTexts(const PrefixEntry& entry) {
    if (entry.position == 0)
        return {};
    return {entry.text, std::to_string(entry.position), cardPicture(entry.position, entry.text)};
}

} // namespace v38
