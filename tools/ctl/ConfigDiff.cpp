#include "ConfigDiff.h"

#include "Captions.h"
#include "CardMask.h"
#include "HexText.h"
#include "PrefixEntry.h"
#include "ServiceCard.h"

#include <algorithm>
#include <cstdio>

namespace v38::ctl {

namespace {

std::string change(const std::string& from, const std::string& to) {
    return from + " -> " + to;
}

void flagDifferences(const ConfigImage& a, const ConfigImage& b, std::vector<std::string>& out) {
    for (const FlagCaption& flag : FlagCaptions) {
        const bool from = a[offset::flags] & flag.flag;
        const bool to = b[offset::flags] & flag.flag;
        if (from != to)
            out.push_back(std::string(flag.caption) + ": " +
                          change(from ? "[x]" : "[ ]", to ? "[x]" : "[ ]"));
    }
    const std::uint8_t other = 0xFF & ~FlagsMask;
    const std::uint8_t from = a[offset::flags] & other;
    const std::uint8_t to = b[offset::flags] & other;
    if (from != to)
        out.push_back("flag bits 6 and 7: " + change(hexText(&from, 1), hexText(&to, 1)));
}

void timeDifferences(const ConfigImage& a, const ConfigImage& b, std::vector<std::string>& out) {
    for (const TimeCaption& time : TimeCaptions) {
        if (a[time.offset] != b[time.offset])
            out.push_back(std::string(time.caption) + " " +
                          change(timeText(time.offset, a[time.offset]),
                                 timeText(time.offset, b[time.offset])));
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

// A masked number may hide the very digits that differ: the line says so, so that a
// difference is never lost to the mask.
std::string shownChange(const std::string& from, const std::string& to) {
    return change(from, to) + (from == to ? " (differs in masked digits)" : "");
}

void cardDifferences(const ConfigImage& a, const ConfigImage& b, bool wholeCards,
                     std::vector<std::string>& out) {
    for (int k = 0; k < ServiceCardCount; ++k) {
        const std::uint8_t* from = a.serviceCard(k);
        const std::uint8_t* to = b.serviceCard(k);
        if (std::equal(from, from + ServiceCardSize, to))
            continue;
        const ShownCard shownFrom = shownCard(from, wholeCards);
        const ShownCard shownTo = shownCard(to, wholeCards);
        std::string line = "service card " + std::to_string(k + 1) + ": hex " +
                           shownChange(shownFrom.hex, shownTo.hex);
        if (magneticCardText(from) != magneticCardText(to))
            line += "; magnetic " +
                    shownChange("\"" + shownFrom.magnetic + "\"", "\"" + shownTo.magnetic + "\"");
        if (proximityCardText(from) != proximityCardText(to))
            line += "; proximity " + shownChange(shownFrom.proximity, shownTo.proximity);
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

std::vector<std::string> differences(const ConfigImage& from, const ConfigImage& to,
                                     bool wholeCards) {
    std::vector<std::string> out;
    flagDifferences(from, to, out);
    timeDifferences(from, to, out);
    entryDifferences(from, to, out);
    cardDifferences(from, to, wholeCards, out);
    reservedDifferences(from, to, out);
    return out;
}

} // namespace v38::ctl
