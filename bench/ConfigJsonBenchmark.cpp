// Round trips of random images through the JSON document: export, import, compare.
// Prints how many came back byte for byte and the time per round trip.
//   bench_config_json [IMAGES] [SEED]       (100000 and 38 by default)
#include "ConfigJson.h"
#include "OddImage.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>

using namespace v38;

int main(int argc, char** argv) {
    const long images = argc > 1 ? std::atol(argv[1]) : 100000;
    std::mt19937 random(argc > 2 ? unsigned(std::atol(argv[2])) : 38u);
    long identical = 0;
    std::size_t bytes = 0;
    const auto start = std::chrono::steady_clock::now();
    for (long n = 0; n < images; ++n) {
        const ConfigImage image = test::oddImage(random);
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
