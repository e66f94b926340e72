#pragma once

#include "ConfigImage.h"
#include "TextTable.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace v38 {

// A configuration as a JSON document: the fields by what they mean, and whatever the
// named fields cannot say (odd entries, bits 6 and 7, the reserved area) as hex where
// it stands, so that every image survives export and import byte for byte.
inline constexpr const char* ConfigJsonFormat = "v38-config";
inline constexpr int ConfigJsonVersion = 1;
// A whole configuration takes about 10 KB; anything much larger is no configuration.
inline constexpr std::size_t MaxConfigJsonSize = 1024 * 1024;

// The names the document gives the flags and the times, in image order.
struct FlagName {
    Flag flag;
    const char* name;
};
inline constexpr FlagName FlagNames[] = {
    {DoorSensor, "doorSensor"},
    {DoorSensorOpenWhenClosed, "doorSensorOpenWhenClosed"},
    {PresenceSensorNC, "presenceSensorNC"},
    {BankFormat, "bankFormat"},
    {HalfStripe, "halfStripe"},
    {ProximityServiceCards, "proximityServiceCards"},
};
struct TimeName {
    std::size_t offset;
    const char* name;
};
inline constexpr TimeName TimeNames[] = {
    {offset::boltPulse, "boltPulseTenthsOfSecond"},
    {offset::entryLockout, "entryLockoutTensOfSeconds"},
    {offset::matLockout, "matLockoutTensOfSeconds"},
};

// The document of an image, indented, ending with a line break.
std::string exportConfigJson(const ConfigImage& image);

// Reads a document. Returns an empty string and sets `image` when the document is
// valid in every part; otherwise returns why not (where, the value, the rule broken,
// the rule in `language`) and leaves `image` untouched.
std::string importConfigJson(std::string_view text, ConfigImage& image,
                             TextLanguage language = TextLanguage::English);

} // namespace v38
