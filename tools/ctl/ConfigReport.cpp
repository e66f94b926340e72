#include "ConfigReport.h"

#include "PrefixEntry.h"
#include "ServiceCard.h"
#include "TimeReading.h"

#include <cstdio>

namespace v38::ctl {

namespace {
struct FlagCaption {
    Flag flag;
    const char* caption;
};
constexpr FlagCaption FlagCaptions[] = {
    {DoorSensor, "Czujnik otwarcia drzwi"},
    {DoorSensorOpenWhenClosed, "Czujnik drzwi rozwarty gdy drzwi zamknięte"},
    {PresenceSensorNC, "Rozwierny czujnik obecności"},
    {BankFormat, "Prefiksy 1..95 = format bankowy"},
    {HalfStripe, "Odczyt połowy paska magnetycznego"},
    {ProximityServiceCards, "Zbliżeniowe karty serwisowe"},
};

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
    const auto time = [&](const char* label, int value, const std::string& reading) {
        std::snprintf(line, sizeof line, "  %s %d %s\n", label, value, reading.c_str());
        out += line;
    };
    const int bolt = image[offset::boltPulse];
    const int entry = image[offset::entryLockout];
    const int mat = image[offset::matLockout];
    time("Impuls otwarcia rygla (x0.1s):", bolt, boltPulseReading(bolt));
    time("Blokada po wejściu (x10s):", entry, lockoutReading(entry));
    time("Blokada po wejściu na matę (x10s):", mat, lockoutReading(mat));
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

void describeServiceCards(const ConfigImage& image, std::string& out) {
    const auto card = [&](int k, const std::string& text) {
        out += "  Karta " + std::to_string(k + 1) + ":" + (text.empty() ? "" : " " + text) + '\n';
    };
    out += "Karty Serwisowe (magnetyczne)\n";
    for (int k = 0; k < ServiceCardCount; ++k)
        card(k, magneticCardText(image.serviceCard(k)));
    out += "Karty Serwisowe (zbliżeniowe)\n";
    for (int k = 0; k < ServiceCardCount; ++k)
        card(k, proximityCardText(image.serviceCard(k)));
}
} // namespace

std::string describeConfiguration(const ConfigImage& image) {
    std::string out;
    describeFlagsAndTimes(image, out);
    out += '\n';
    describePrefixes(image, out);
    out += '\n';
    describeServiceCards(image, out);
    return out;
}

} // namespace v38::ctl
