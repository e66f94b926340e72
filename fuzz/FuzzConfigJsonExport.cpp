// Arbitrary bytes as an image for export: every image exports to a document that is
// accepted, imports back to the same 512 bytes and exports again to the same document.
//
// The input gives the flags, the times and the first four entries (its first 20 bytes),
// then the service cards and the reserved tail (its next 108); the other entries stay
// erased. Entries are exported one by one, each alike and none depending on another,
// so four reach every branch of the export, while a full list costs a hundred times one
// under the sanitizers. Full images go through export and import in ConfigJsonTest and
// bench_config_json.
#include "FuzzCheck.h"

#include "ConfigJson.h"

#include <algorithm>

using namespace v38;
using v38::fuzz::check;

namespace {
constexpr std::size_t HeadSize = offset::prefixes + 4 * EntrySize;
constexpr std::size_t TailSize = ConfigImage::Size - offset::serviceCards;
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ConfigImage image = ConfigImage::erased();
    const std::size_t head = std::min(size, HeadSize);
    std::copy(data, data + head, image.begin());
    const std::size_t tail = std::min(size - head, TailSize);
    std::copy(data + head, data + head + tail, image.begin() + offset::serviceCards);

    const std::string document = exportConfigJson(image);
    ConfigImage back = ConfigImage::defaults();
    check(importConfigJson(document, back).empty(), "an exported document is accepted");
    check(back == image, "an exported document imports to the same 512 bytes");
    check(exportConfigJson(back) == document, "exporting again gives the same document");
    return 0;
}
