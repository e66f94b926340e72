#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace v38 {

// Prefixes and magnetic service cards use the 15 characters "0123456789:;<=>",
// each stored as one nibble (code - 0x30). The nibble 0xF ends a text.
inline constexpr std::string_view PrefixAlphabet = "0123456789:;<=>";
inline constexpr std::uint8_t EndNibble = 0xF;
inline constexpr int MaxPrefixLength = 7;
inline constexpr int MaxPosition = 15;

constexpr bool isPrefixChar(char c) {
    const auto code = static_cast<unsigned char>(c);
    return code >= 0x30 && code <= 0x3E;
}

// One decoded prefix entry. Position 0 means inactive (and then the text is empty);
// 1..15 is where on the card the first prefix character must stand.
struct PrefixEntry {
    int position = 0;
    std::string text;
};

enum SetEntryResult : int {
    EntryStored = 0,
    EntryOutOfRange = 1, // index or position out of range
    EntryBadChar = 2,    // a character outside the prefix alphabet
};

// Decodes four entry bytes (nibbles N0..N7, high nibble first).
PrefixEntry decodeEntry(const std::uint8_t bytes[4]);

// Encodes a position and the first seven characters of a text into out[4].
// Position 0 or an empty text give the inactive entry FF FF FF FF. On a result
// other than EntryStored, out is left untouched.
int encodeEntry(int position, std::string_view text, std::uint8_t out[4]);

// The texts of the columns "Prefiks", "Pozycja" and "Karta" for one entry;
// all three are empty for an inactive entry.
struct RowTexts {
    std::string prefix;
    std::string position;
    std::string card;
};
RowTexts rowTexts(const PrefixEntry& entry);

// What a matching card looks like: position - 1 letters x, the prefix, then "...".
std::string cardPicture(int position, std::string_view text);

} // namespace v38
