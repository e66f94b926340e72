#include "ConfigDiff.h"

#include "ConfigJson.h"
#include "HexText.h"
#include "PrefixEntry.h"
#include "ServiceCard.h"
#include "TimeReading.h"

#include <algorithm>
#include <cstdio>

namespace v38::ctl {

namespace {

std::string change(const std::string& from, const std::string& to) {
    return from + " -> " + to;
}

void flagDifferences(const ConfigImage& a, const ConfigImage& b, std::vector<std::string>& out) {
    for (const FlagName& flag : FlagNames) {
        const bool from = a[offset::flags] & flag.flag;
        const bool to = b[offset::flags] & flag.flag;
        if (from != to)
            out.push_back(std::string("flag ") + flag.name + ": " +
                          change(from ? "on" : "off", to ? "on" : "off"));
    }
    const std::uint8_t other = 0xFF & ~FlagsMask;
    const std::uint8_t from = a[offset::flags] & other;
    const std::uint8_t to = b[offset::flags] & other;
    if (from != to)
        out.push_back("flag bits 6 and 7: " + change(hexText(&from, 1), hexText(&to, 1)));
}

void timeDifferences(const ConfigImage& a, const ConfigImage& b, std::vector<std::string>& out) {
    for (const TimeName& time : TimeNames) {
        if (a[time.offset] == b[time.offset])
            continue;
        const auto shown = [&](int value) {
            return std::to_string(value) + " (" +
                   (time.offset == offset::boltPulse ? boltPulseReading(value)
                                                     : lockoutReading(value)) +
                   ")";
        };
        out.push_back(std::string(time.name) + ": " +
                      change(shown(a[time.offset]), shown(b[time.offset])));
    }
}

// An entry as the list shows it, or its bytes where the list would not tell it apart.
std::string entryText(const std::uint8_t bytes[4]) {
    const PrefixEntry entry = decodeEntry(bytes);
    std::uint8_t again[4];
    const bool plain = entry.position > 0 && !entry.text.empty() &&
                       encodeEntry(entry.position, entry.text, again) == EntryStored &&
                       std::equal(again, again + 4, bytes);
    if (plain)
        return entry.text + " at position " + std::to_string(entry.position);
    if (std::all_of(bytes, bytes + 4, [](std::uint8_t x) { return x == Erased; }))
        return "(none)";
    return "hex " + hexText(bytes, 4);
}

void entryDifferences(const ConfigImage& a, const ConfigImage& b, std::vector<std::string>& out) {
    for (int i = 0; i < EntryCount; ++i) {
        if (!std::equal(a.entry(i), a.entry(i) + EntrySize, b.entry(i)))
            out.push_back("prefix " + std::to_string(i + 1) + ": " +
                          change(entryText(a.entry(i)), entryText(b.entry(i))));
    }
}

void cardDifferences(const ConfigImage& a, const ConfigImage& b, std::vector<std::string>& out) {
    for (int k = 0; k < ServiceCardCount; ++k) {
        const std::uint8_t* from = a.serviceCard(k);
        const std::uint8_t* to = b.serviceCard(k);
        if (std::equal(from, from + ServiceCardSize, to))
            continue;
        std::string line = "service card " + std::to_string(k + 1) + ": hex " +
                           change(hexText(from, ServiceCardSize), hexText(to, ServiceCardSize));
        if (magneticCardText(from) != magneticCardText(to))
            line +=
                "; magnetic \"" + magneticCardText(from) + "\" -> \"" + magneticCardText(to) + "\"";
        if (proximityCardText(from) != proximityCardText(to))
            line += "; proximity " + change(proximityCardText(from), proximityCardText(to));
        out.push_back(line);
    }
}

void reservedDifferences(const ConfigImage& a, const ConfigImage& b,
                         std::vector<std::string>& out) {
    for (std::size_t i = offset::reserved; i < ConfigImage::Size; ++i) {
        if (a[i] != b[i])
            out.push_back("reserved byte " + std::to_string(i) + ": " +
                          change(hexText(&a[i], 1), hexText(&b[i], 1)));
    }
}
} // namespace

std::vector<std::string> differences(const ConfigImage& from, const ConfigImage& to) {
    std::vector<std::string> out;
    flagDifferences(from, to, out);
    timeDifferences(from, to, out);
    entryDifferences(from, to, out);
    cardDifferences(from, to, out);
    reservedDifferences(from, to, out);
    return out;
}

} // namespace v38::ctl
