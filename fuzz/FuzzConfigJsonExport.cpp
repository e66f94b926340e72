// Arbitrary bytes as an image for export: every image exports to a document that is
// accepted, imports back to the same 512 bytes and exports again to the same document.
// An input shorter than the image fills its start and the rest is erased, so that
// short inputs are images with few entries, which export fast.
#include "FuzzCheck.h"

#include "ConfigJson.h"

#include <algorithm>

using namespace v38;
using v38::fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ConfigImage image = ConfigImage::erased();
    std::copy(data, data + std::min(size, ConfigImage::Size), image.begin());
    const std::string document = exportConfigJson(image);
    ConfigImage back = ConfigImage::defaults();
    check(importConfigJson(document, back).empty(), "an exported document is accepted");
    check(back == image, "an exported document imports to the same 512 bytes");
    check(exportConfigJson(back) == document, "exporting again gives the same document");
    return 0;
}
