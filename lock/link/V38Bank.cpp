#include "V38Bank.h"

#include "PrefixEntry.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace v38 {

V38Bank::V38Bank() : image(ConfigImage::erased()) {}

V38Bank::V38Bank(serial::SerialSystem& system) : RS232(system), image(ConfigImage::erased()) {}

void V38Bank::resetImage() {
    image = ConfigImage::defaults();
}

void V38Bank::getServiceCard(int k, std::uint8_t out[20]) const {
    std::memcpy(out, image.serviceCard(k), ServiceCardSize);
}

void V38Bank::getEntry(int i, int& position, char text[8]) const {
    if (!isEntry(i))
        return;
    const PrefixEntry entry = decodeEntry(image.entry(i));
    position = entry.position;
    std::memset(text, 0, MaxPrefixLength + 1);
    std::memcpy(text, entry.text.data(), entry.text.size());
}

int V38Bank::setEntry(int i, int position, const char* text) {
    if (!isEntry(i))
        return EntryOutOfRange;
    // Only the first seven characters count; never read past the terminator.
    const std::size_t length = text ? strnlen(text, MaxPrefixLength) : 0;
    return encodeEntry(position, std::string_view(text ? text : "", length), image.entry(i));
}

} // namespace v38
