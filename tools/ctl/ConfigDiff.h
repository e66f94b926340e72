#pragma once

#include "ConfigImage.h"

#include <string>
#include <vector>

namespace v38::ctl {

// One field that differs, named as the configuration document names it
// ("flags.doorSensor", "times.boltPulseTenthsOfSecond", "prefixes[12]" by the list's
// row, "serviceCards.card1", "reserved[3]" by the byte's place in the reserved area),
// with the window's caption where the window shows the field.
struct Difference {
    std::string field;
    std::string caption;
    std::string from; // as a person reads it: a time with its reading, a card masked
    std::string to;
    std::string fromJson; // the value as the document would hold it (cards masked alike)
    std::string toJson;
    bool onlyMaskedDigits = false; // the shown texts are equal: the mask hides the change
};

// What changes from `from` to `to`, field by field in document order; service cards
// masked unless `wholeCards`. Empty when the 512 bytes are equal.
std::vector<Difference> compare(const ConfigImage& from, const ConfigImage& to,
                                bool wholeCards = false);

// One line each, in the run's language: the field, the window's caption in quotes,
// then "from -> to".
std::vector<std::string> differences(const ConfigImage& from, const ConfigImage& to,
                                     bool wholeCards = false);

// A JSON array of {"field", "caption", "from", "to"}, one line per difference.
std::string differencesJson(const std::vector<Difference>& list);

} // namespace v38::ctl
