#pragma once

#include "ConfigImage.h"
#include "PrefixEntry.h"

#include <algorithm>
#include <random>
#include <string>

namespace v38::test {

// Images that a lock or a file may hold: every kind of entry (erased, plain, inactive
// with leftovers, active with an empty prefix, bytes after the prefix's end, random),
// bits 6 and 7, arbitrary cards and reserved bytes.
inline ConfigImage oddImage(std::mt19937& random) {
    ConfigImage image;
    for (auto& b : image)
        b = std::uint8_t(random());
    for (int i = 0; i < EntryCount; ++i) {
        std::uint8_t* entry = image.entry(i);
        switch (random() % 5) {
        case 0:
            std::fill(entry, entry + 4, Erased);
            break;
        case 1: {
            std::string text(1 + random() % 7, '0');
            for (char& c : text)
                c = PrefixAlphabet[random() % PrefixAlphabet.size()];
            encodeEntry(1 + int(random() % 15), text, entry);
            break;
        }
        case 2:
            entry[0] |= 0xF0; // inactive, the rest left as it is
            break;
        case 3:
            entry[0] = std::uint8_t((random() % 15) << 4 | 0xF); // active, empty prefix
            break;
        default:
            break; // random bytes: a prefix with something after its end, or none
        }
    }
    if (random() % 2)
        std::fill(image.begin() + offset::reserved, image.end(), Erased);
    return image;
}

} // namespace v38::test
