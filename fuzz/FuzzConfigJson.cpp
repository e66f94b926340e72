// Importing arbitrary bytes as a JSON document: any input is either refused with a
// reason, leaving the image as it was, or gives an image whose export imports back to
// the same bytes. Inputs of 512 bytes or more also go the other way, as an image.
#include "FuzzCheck.h"

#include "ConfigJson.h"

#include <cstring>
#include <string_view>

using namespace v38;
using v38::fuzz::check;

namespace {
ConfigImage marked() {
    ConfigImage image;
    for (std::size_t i = 0; i < ConfigImage::Size; ++i)
        image[i] = std::uint8_t(i * 7 + 3);
    return image;
}

void roundTrip(const ConfigImage& image) {
    const std::string document = exportConfigJson(image);
    ConfigImage back = marked();
    check(importConfigJson(document, back).empty(), "an exported document is accepted");
    check(back == image, "an exported document imports to the same 512 bytes");
    check(exportConfigJson(back) == document, "exporting again gives the same document");
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    ConfigImage image = marked();
    const std::string reason = importConfigJson(text, image);
    if (reason.empty()) {
        roundTrip(image);
    } else {
        check(image == marked(), "a refused document leaves the image untouched");
        check(reason.find('\n') == std::string::npos, "a reason is one line");
    }
    if (size >= ConfigImage::Size) {
        ConfigImage raw;
        std::memcpy(raw.data(), data, ConfigImage::Size);
        roundTrip(raw);
    }
    return 0;
}
