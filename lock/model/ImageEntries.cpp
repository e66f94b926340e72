#include "ImageEntries.h"

#include "PrefixEntry.h"

#include <cstring>
#include <string_view>

namespace v38 {

void getServiceCard(const ConfigImage& image, int k, std::uint8_t out[20]) {
    std::memcpy(out, image.serviceCard(k), ServiceCardSize);
}

void getEntry(const ConfigImage& image, int i, int& position, char text[8]) {
    if (!isEntry(i))
        return;
    const PrefixEntry entry = decodeEntry(image.entry(i));
    position = entry.position;
    std::memset(text, 0, MaxPrefixLength + 1);
    std::memcpy(text, entry.text.data(), entry.text.size());
}

int setEntry(ConfigImage& image, int i, int position, const char* text) {
    if (!isEntry(i))
        return EntryOutOfRange;
    // Only the first seven characters count; never read past the terminator.
    const std::size_t length = text ? strnlen(text, MaxPrefixLength) : 0;
    return encodeEntry(position, std::string_view(text ? text : "", length), image.entry(i));
}

} // namespace v38
