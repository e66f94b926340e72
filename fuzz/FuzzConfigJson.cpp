// Importing arbitrary bytes as a JSON document: any input is either refused with a
// one-line reason that begins with where, leaving the image as it was, or gives an
// image whose export imports back to the same bytes. The other direction, images to
// documents, is fuzz_config_json_export: a full export and import under the
// sanitizers costs a hundred times a refusal, and most inputs are refused.
#include "FuzzCheck.h"

#include "ConfigJson.h"

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
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    ConfigImage image = marked();
    const std::string reason = importConfigJson(text, image);
    if (!reason.empty()) {
        check(image == marked(), "a refused document leaves the image untouched");
        check(reason.find('\n') == std::string::npos, "a reason is one line");
        check(reason[0] == '/', "a reason begins with where");
        return 0;
    }
    const std::string document = exportConfigJson(image);
    ConfigImage back = marked();
    check(importConfigJson(document, back).empty(), "an exported document is accepted");
    check(back == image, "an exported document imports to the same 512 bytes");
    check(exportConfigJson(back) == document, "exporting again gives the same document");
    return 0;
}
