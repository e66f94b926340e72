// Decoding entries and card texts from arbitrary images: every entry decodes into at
// most seven alphabet characters and a position 0..15, its row texts agree with what
// was decoded, storing what was decoded is accepted and touches only that entry, and
// card texts hold only their characters and keep their lengths.
#include "ImageEntries.h"
#include "FuzzCheck.h"

#include "PrefixEntry.h"
#include "ServiceCard.h"
#include "V38Bank.h"

#include <cstring>
#include <string>

using namespace v38;
using v38::fuzz::check;

namespace {

bool isUpperHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

void checkEntry(V38Bank& bank, int i) {
    int position = -1;
    char text[8];
    std::memset(text, 'x', sizeof text);
    getEntry(bank.image(), i, position, text);
    check(position >= 0 && position <= MaxPosition, "a position is 0..15");
    check(text[7] == '\0', "an entry text is always terminated");
    const std::string prefix(text);
    for (char c : prefix)
        check(isPrefixChar(c), "an entry text holds only alphabet characters");
    check(position != 0 || prefix.empty(), "an inactive entry has no text");
    check((position == 0) == ((bank.image().entry(i)[0] >> 4) == EndNibble),
          "an entry is inactive exactly when its first nibble is 0xF");

    const RowTexts row = rowTexts(decodeEntry(bank.image().entry(i)));
    if (position == 0) {
        check(row.prefix.empty() && row.position.empty() && row.card.empty(),
              "an inactive entry shows three empty cells");
    } else {
        check(row.prefix == prefix, "the row shows the decoded prefix");
        check(row.position == std::to_string(position), "the row shows the decoded position");
        check(row.card == std::string(std::size_t(position - 1), 'x') + prefix + "...",
              "the card picture is x letters, the prefix and dots");
    }

    // Storing what was decoded changes nothing but the entry and reads back the same.
    const ConfigImage before = bank.image();
    check(setEntry(bank.image(), i, position, text) == EntryStored, "a decoded entry can be stored");
    const std::size_t start = entryOffset(i);
    const std::size_t end = start + EntrySize;
    check(std::memcmp(bank.image().data(), before.data(), start) == 0 &&
              std::memcmp(bank.image().data() + end, before.data() + end, ConfigImage::Size - end) ==
                  0,
          "storing an entry touches only its 4 bytes");
    int again = -1;
    char againText[8];
    getEntry(bank.image(), i, again, againText);
    if (!prefix.empty())
        check(again == position && prefix == againText, "a stored entry reads back the same");
    else
        check(again == 0 && againText[0] == '\0', "an entry without text is stored inactive");
}

void checkCard(const V38Bank& bank, int k) {
    std::uint8_t card[ServiceCardSize];
    getServiceCard(bank.image(), k, card);
    check(std::memcmp(card, bank.image().serviceCard(k), ServiceCardSize) == 0,
          "the raw card is the image's 20 bytes");
    const std::string magnetic = magneticCardText(card);
    check(magnetic.size() <= std::size_t(MagneticCardMaxLength), "a magnetic text has <= 37");
    for (char c : magnetic)
        check(isPrefixChar(c), "a magnetic text holds only alphabet characters");
    const std::string proximity = proximityCardText(card);
    check(proximity.size() == std::size_t(ProximityCardDigits), "a proximity text has 20 digits");
    for (char c : proximity)
        check(isUpperHexDigit(c), "a proximity text holds only upper-case hexadecimal digits");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static V38Bank bank; // one object, as the configurator keeps one
    bank.image() = ConfigImage::erased();
    std::memcpy(bank.image().data(), data, size < ConfigImage::Size ? size : ConfigImage::Size);

    for (int i = 0; i < EntryCount; ++i)
        checkEntry(bank, i);
    // Indexes outside 0..99 leave the outputs as they were and store nothing.
    const ConfigImage before = bank.image();
    for (int i : {-1, EntryCount, 1 << 30}) {
        int position = 77;
        char text[8] = "keep";
        getEntry(bank.image(), i, position, text);
        check(position == 77 && std::strcmp(text, "keep") == 0, "a bad index reads nothing");
        check(setEntry(bank.image(), i, 1, "1") == EntryOutOfRange, "a bad index is refused");
    }
    check(bank.image() == before, "refused calls change nothing");
    for (int k = 0; k < 4; ++k)
        checkCard(bank, k);
    return 0;
}
