#include "ConfigDiff.h"

#include "Captions.h"
#include "CardMask.h"
#include "ConfigJson.h"
#include "HexText.h"
#include "Messages.h"
#include "PrefixEntry.h"
#include "ServiceCard.h"

#include <nlohmann/json.hpp>

#include <algorithm>

namespace v38::ctl {

namespace {
using Json = nlohmann::ordered_json;

std::string box(bool on) {
    return on ? "[x]" : "[ ]";
}

void flagDifferences(const ConfigImage& a, const ConfigImage& b, std::vector<Difference>& out) {
    for (std::size_t i = 0; i < std::size(FlagCaptions); ++i) {
        const Flag flag = FlagCaptions[i].flag;
        const bool from = a[offset::flags] & flag;
        const bool to = b[offset::flags] & flag;
        if (from != to)
            out.push_back({std::string("flags.") + FlagNames[i].name, FlagCaptions[i].caption,
                           box(from), box(to), Json(from).dump(), Json(to).dump(), false});
    }
    const std::uint8_t other = 0xFF & ~FlagsMask;
    const std::uint8_t from = a[offset::flags] & other;
    const std::uint8_t to = b[offset::flags] & other;
    if (from != to)
        out.push_back({"flags.otherBits", "", hexText(&from, 1), hexText(&to, 1),
                       Json(hexText(&from, 1)).dump(), Json(hexText(&to, 1)).dump(), false});
}

void timeDifferences(const ConfigImage& a, const ConfigImage& b, std::vector<Difference>& out) {
    for (std::size_t i = 0; i < std::size(TimeCaptions); ++i) {
        const std::size_t at = TimeCaptions[i].offset;
        // The label's colon belongs to the window, not to the quoted caption.
        std::string caption = TimeCaptions[i].caption;
        if (!caption.empty() && caption.back() == ':')
            caption.pop_back();
        if (a[at] != b[at])
            out.push_back({std::string("times.") + TimeNames[i].name, caption, timeText(at, a[at]),
                           timeText(at, b[at]), std::to_string(a[at]), std::to_string(b[at]),
                           false});
    }
}

bool isErased(const std::uint8_t bytes[4]) {
    return std::all_of(bytes, bytes + 4, [](std::uint8_t x) { return x == Erased; });
}

// An entry as the list shows it, or its bytes where the list would not tell it apart;
// `json` as the document holds it (null: erased).
std::string entryText(const std::uint8_t bytes[4], std::string& json) {
    const PrefixEntry entry = decodeEntry(bytes);
    std::uint8_t again[4];
    const bool plain = entry.position > 0 && !entry.text.empty() &&
                       encodeEntry(entry.position, entry.text, again) == EntryStored &&
                       std::equal(again, again + 4, bytes);
    if (plain) {
        json = Json{{"prefix", entry.text}, {"position", entry.position}}.dump();
        return say(Msg::AtPosition, {entry.text, std::to_string(entry.position)});
    }
    if (isErased(bytes)) {
        json = "null";
        return say(Msg::NoEntry);
    }
    json = Json{{"hex", hexText(bytes, 4)}}.dump();
    return "hex " + hexText(bytes, 4);
}

void entryDifferences(const ConfigImage& a, const ConfigImage& b, std::vector<Difference>& out) {
    for (int i = 0; i < EntryCount; ++i) {
        if (std::equal(a.entry(i), a.entry(i) + EntrySize, b.entry(i)))
            continue;
        Difference d;
        d.field = "prefixes[" + std::to_string(i + 1) + "]";
        d.from = entryText(a.entry(i), d.fromJson);
        d.to = entryText(b.entry(i), d.toJson);
        out.push_back(d);
    }
}

// A masked number may hide the very digits that differ: the line says so, so that a
// difference is never lost to the mask.
std::string shownChange(const std::string& from, const std::string& to) {
    return from + " -> " + to + (from == to ? say(Msg::MaskedDigitsDiffer) : "");
}

std::string cardJson(const ShownCard& card) {
    return Json{{"hex", card.hex}, {"magnetic", card.magnetic}, {"proximity", card.proximity}}
        .dump();
}

void cardDifferences(const ConfigImage& a, const ConfigImage& b, bool wholeCards,
                     std::vector<Difference>& out) {
    for (int k = 0; k < ServiceCardCount; ++k) {
        const std::uint8_t* from = a.serviceCard(k);
        const std::uint8_t* to = b.serviceCard(k);
        if (std::equal(from, from + ServiceCardSize, to))
            continue;
        const ShownCard shownFrom = shownCard(from, wholeCards);
        const ShownCard shownTo = shownCard(to, wholeCards);
        // The three readings of one card on one line, each only where it changed.
        std::string line = "hex " + shownChange(shownFrom.hex, shownTo.hex);
        if (magneticCardText(from) != magneticCardText(to))
            line += "; magnetic " +
                    shownChange("\"" + shownFrom.magnetic + "\"", "\"" + shownTo.magnetic + "\"");
        if (proximityCardText(from) != proximityCardText(to))
            line += "; proximity " + shownChange(shownFrom.proximity, shownTo.proximity);
        Difference d{"serviceCards.card" + std::to_string(k + 1),
                     "",
                     line,
                     "",
                     cardJson(shownFrom),
                     cardJson(shownTo),
                     false};
        d.onlyMaskedDigits = shownFrom.hex == shownTo.hex;
        out.push_back(d);
    }
}

void reservedDifferences(const ConfigImage& a, const ConfigImage& b, std::vector<Difference>& out) {
    for (std::size_t i = offset::reserved; i < ConfigImage::Size; ++i) {
        if (a[i] != b[i])
            out.push_back({"reserved[" + std::to_string(i - offset::reserved) + "]", "",
                           hexText(&a[i], 1), hexText(&b[i], 1), Json(hexText(&a[i], 1)).dump(),
                           Json(hexText(&b[i], 1)).dump(), false});
    }
}
} // namespace

std::vector<Difference> compare(const ConfigImage& from, const ConfigImage& to, bool wholeCards) {
    std::vector<Difference> out;
    flagDifferences(from, to, out);
    timeDifferences(from, to, out);
    entryDifferences(from, to, out);
    cardDifferences(from, to, wholeCards, out);
    reservedDifferences(from, to, out);
    return out;
}

std::vector<std::string> differences(const ConfigImage& from, const ConfigImage& to,
                                     bool wholeCards) {
    std::vector<std::string> lines;
    for (const Difference& d : compare(from, to, wholeCards)) {
        std::string line = d.field;
        if (!d.caption.empty())
            line += " \"" + d.caption + "\"";
        // A card's line carries its readings' changes already.
        line += ": " + (d.to.empty() ? d.from : d.from + " -> " + d.to);
        lines.push_back(line);
    }
    return lines;
}

std::string differencesJson(const std::vector<Difference>& list) {
    std::string out = "[";
    for (std::size_t i = 0; i < list.size(); ++i) {
        const Difference& d = list[i];
        Json entry = {{"field", d.field}};
        if (!d.caption.empty())
            entry["caption"] = d.caption;
        entry["from"] = Json::parse(d.fromJson);
        entry["to"] = Json::parse(d.toJson);
        if (d.onlyMaskedDigits)
            entry["onlyMaskedDigitsDiffer"] = true;
        out += (i ? ",\n    " : "\n    ") + entry.dump();
    }
    return out + (list.empty() ? "]" : "\n  ]");
}

} // namespace v38::ctl
