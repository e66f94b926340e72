#include "ConfigReport.h"

#include "Captions.h"
#include "CardMask.h"
#include "PrefixEntry.h"

#include <cstdio>

namespace v38::ctl {

namespace {
std::string format(const char* pattern, const std::string& a, const std::string& b,
                   const std::string& c, const std::string& d) {
    char line[160];
    std::snprintf(line, sizeof line, pattern, a.c_str(), b.c_str(), c.c_str(), d.c_str());
    return line;
}

void describeFlagsAndTimes(const ConfigImage& image, std::string& out) {
    char line[96];
    std::snprintf(line, sizeof line, "Konfiguracja Zamka (0x%02X)\n", image[offset::flags]);
    out += line;
    for (const FlagCaption& flag : FlagCaptions) {
        out += (image[offset::flags] & flag.flag) ? "  [x] " : "  [ ] ";
        out += flag.caption;
        out += '\n';
    }
    for (const TimeCaption& time : TimeCaptions)
        out += std::string("  ") + time.caption + " " + timeText(time.offset, image[time.offset]) +
               '\n';
}

void describePrefixes(const ConfigImage& image, std::string& out) {
    const char* row = "%-4s %-8s %-8s %s\n";
    out += format(row, "Nr", "Prefiks", "Pozycja", "Karta");
    for (int i = 0; i < EntryCount; ++i) {
        const PrefixEntry entry = decodeEntry(image.entry(i));
        if (entry.position == 0)
            continue;
        const RowTexts texts = rowTexts(entry);
        out += format(row, std::to_string(i + 1), texts.prefix, texts.position, texts.card);
    }
}

void describeServiceCards(const ConfigImage& image, bool wholeCards, std::string& out) {
    const auto card = [&](int k, const std::string& text) {
        out += "  Karta " + std::to_string(k + 1) + ":" + (text.empty() ? "" : " " + text) + '\n';
    };
    out += "Karty Serwisowe (magnetyczne)\n";
    for (int k = 0; k < ServiceCardCount; ++k)
        card(k, shownCard(image.serviceCard(k), wholeCards).magnetic);
    out += "Karty Serwisowe (zbliżeniowe)\n";
    for (int k = 0; k < ServiceCardCount; ++k)
        card(k, shownCard(image.serviceCard(k), wholeCards).proximity);
}
} // namespace

std::string describeConfiguration(const ConfigImage& image, bool wholeCards) {
    std::string out;
    describeFlagsAndTimes(image, out);
    out += '\n';
    describePrefixes(image, out);
    out += '\n';
    describeServiceCards(image, wholeCards, out);
    return out;
}

} // namespace v38::ctl
