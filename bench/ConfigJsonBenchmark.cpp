// Round trips of random images through the JSON document: export, import, compare.
// Prints how many came back byte for byte and the time per round trip.
//   bench_config_json [IMAGES] [SEED]       (100000 and 38 by default)
#include "ConfigJson.h"
#include "PrefixEntry.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>

using namespace v38;

namespace {
// Every kind of entry a lock may hold, bits 6 and 7, arbitrary cards and reserved bytes.
ConfigImage randomImage(std::mt19937& random) {
    ConfigImage image;
    for (auto& b : image)
        b = std::uint8_t(random());
    for (int i = 0; i < EntryCount; ++i) {
        std::uint8_t* entry = image.entry(i);
        switch (random() % 4) {
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
        default:
            break; // random bytes: inactive with leftovers, empty prefixes, odd tails
        }
    }
    return image;
}
} // namespace

int main(int argc, char** argv) {
    const long images = argc > 1 ? std::atol(argv[1]) : 100000;
    std::mt19937 random(argc > 2 ? unsigned(std::atol(argv[2])) : 38u);
    long identical = 0;
    std::size_t bytes = 0;
    const auto start = std::chrono::steady_clock::now();
    for (long n = 0; n < images; ++n) {
        const ConfigImage image = randomImage(random);
        const std::string document = exportConfigJson(image);
        ConfigImage back = ConfigImage::defaults();
        if (importConfigJson(document, back).empty() && back == image)
            ++identical;
        bytes += document.size();
    }
    const std::chrono::duration<double, std::micro> elapsed =
        std::chrono::steady_clock::now() - start;
    std::printf("JSON round trips: %ld of %ld random images came back byte for byte\n", identical,
                images);
    std::printf("  %.1f us per export and import, documents of %.0f bytes on average\n",
                elapsed.count() / double(images ? images : 1),
                double(bytes) / double(images ? images : 1));
    return identical == images ? 0 : 1;
}
