#include "ConfigReport.h"
#include "ConfigDiff.h"
#include "Messages.h"
#include "TimeReading.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

using namespace v38;
using namespace v38::ctl;

namespace {

TEST(TimeReading, ShowsTenthsOfSecondsAndMinutes) {
    const struct {
        int value;
        const char* bolt;
        const char* lockout;
    } cases[] = {
        {0, "= 0,0 sek", "= 0min 00sek"},     {1, "= 0,1 sek", "= 0min 10sek"},
        {6, "= 0,6 sek", "= 1min 00sek"},     {25, "= 2,5 sek", "= 4min 10sek"},
        {100, "= 10,0 sek", "= 16min 40sek"}, {255, "= 25,5 sek", "= 42min 30sek"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(boltPulseReading(c.value), c.bolt);
        EXPECT_EQ(lockoutReading(c.value), c.lockout);
    }
}

bool hasLine(const std::string& text, const std::string& line) {
    return ("\n" + text).find("\n" + line + "\n") != std::string::npos;
}

TEST(ConfigReport, DescribesFlagsTimesPrefixesAndBothFormsOfTheCards) {
    ConfigImage image = ConfigImage::defaults();
    image[offset::flags] = 0xE2; // bits 6 and 7 set as a file may hold them
    image[offset::boltPulse] = 25;
    image[offset::entryLockout] = 0;
    image[offset::matLockout] = 6;
    const std::uint8_t rows[][4] = {
        {0x24, 0x56, 0x7F, 0xFF}, // row 1: position 3, 4567
        {0xF0, 0x12, 0x34, 0x56}, // row 2: inactive whatever follows
        {0x2F, 0x12, 0x34, 0x56}, // row 3: active, empty prefix
    };
    for (int i = 0; i < 3; ++i)
        std::copy(rows[i], rows[i] + 4, image.entry(i));
    std::copy_n(rows[0], 4, image.entry(99));
    const std::uint8_t card[] = {0x12, 0x34, 0x56, 0x78, 0x90, 0x12, 0x34, 0x56, 0xD2, 0x51, 0x2F};
    std::copy(std::begin(card), std::end(card), image.data() + serviceCardOffset(0));

    const std::string text = describeConfiguration(image);
    EXPECT_TRUE(hasLine(text, "Konfiguracja Zamka (0xE2)")) << text;
    EXPECT_TRUE(hasLine(text, "  [ ] Czujnik otwarcia drzwi"));
    EXPECT_TRUE(hasLine(text, "  [x] Czujnik drzwi rozwarty gdy drzwi zamknięte"));
    EXPECT_TRUE(hasLine(text, "  [x] Zbliżeniowe karty serwisowe"));
    EXPECT_TRUE(hasLine(text, "  Impuls otwarcia rygla (x0.1s): 25 = 2,5 sek"));
    EXPECT_TRUE(hasLine(text, "  Blokada po wejściu (x10s): 0 = 0min 00sek"));
    EXPECT_TRUE(hasLine(text, "  Blokada po wejściu na matę (x10s): 6 = 1min 00sek"));
    EXPECT_TRUE(hasLine(text, "1    4567     3        xx4567..."));
    EXPECT_TRUE(hasLine(text, "3             3        xx..."));
    EXPECT_TRUE(hasLine(text, "100  4567     3        xx4567..."));
    EXPECT_EQ(text.find("\n2 "), std::string::npos); // inactive rows are left out
    // Card numbers masked: the first six and last four digits of the number, nothing
    // after the stripe's separator; whole on request.
    EXPECT_TRUE(hasLine(text, "  Karta 1: 123456******3456=****"));
    EXPECT_TRUE(hasLine(text, "  Karta 1: 123456**********D251"));
    EXPECT_TRUE(hasLine(text, "  Karta 2:")); // an erased card has no magnetic text
    EXPECT_TRUE(hasLine(text, "  Karta 2: FFFFFF**********FFFF"));
    EXPECT_LT(text.find("(magnetyczne)"), text.find("(zbliżeniowe)"));
    const std::string whole = describeConfiguration(image, true);
    EXPECT_TRUE(hasLine(whole, "  Karta 1: 1234567890123456=2512"));
    EXPECT_TRUE(hasLine(whole, "  Karta 1: 1234567890123456D251"));
}

TEST(ConfigDiff, SaysEachChangedFieldInPlainWordsAndNothingForEqualImages) {
    setLanguage(Language::English);
    ConfigImage from = ConfigImage::defaults();
    const std::uint8_t card[] = {0x12, 0x34, 0x56, 0x78, 0x90, 0x12, 0x34, 0x56, 0xD2, 0x51, 0x2F};
    std::copy(std::begin(card), std::end(card), from.data() + serviceCardOffset(0));
    EXPECT_TRUE(differences(from, from).empty());
    ConfigImage to = from;
    to[offset::flags] = 0xC0 | 0x18 | PresenceSensorNC; // DoorSensor off, bits 6 and 7 on
    to[offset::boltPulse] = 25;
    const std::uint8_t plain[] = {0x24, 0x56, 0x7F, 0xFF};
    const std::uint8_t odd[] = {0x2F, 0xFF, 0xFF, 0xFF}; // active with an empty prefix
    std::copy(plain, plain + 4, to.entry(0));
    std::copy(odd, odd + 4, to.entry(99));
    to[serviceCardOffset(1)] = 0x12;
    to[serviceCardOffset(0) + 4] = 0x91; // a digit that the mask hides in every form
    to[511] = 0x00;
    const std::string masked = "FFFFFF" + std::string(30, '*') + "FFFF";
    const std::string card1 = "123456" + std::string(30, '*') + "FFFF";
    const std::string hidden = " (differs in masked digits)";
    EXPECT_THAT(
        differences(from, to),
        ::testing::ElementsAre(
            "flags.doorSensor \"Czujnik otwarcia drzwi\": [x] -> [ ]",
            "flags.presenceSensorNC \"Rozwierny czujnik obecności\": [ ] -> [x]",
            "flags.otherBits: 00 -> C0",
            "times.boltPulseTenthsOfSecond \"Impuls otwarcia rygla (x0.1s)\": 255 = 25,5 "
            "sek -> 25 = 2,5 sek",
            "prefixes[1]: (none) -> 4567 at position 3", "prefixes[100]: (none) -> hex 2FFFFFFF",
            "serviceCards.card1: hex " + card1 + " -> " + card1 + hidden +
                "; magnetic \"123456******3456=****\" -> \"123456******3456=****\"" + hidden +
                "; proximity 123456**********D251 -> 123456**********D251" + hidden,
            "serviceCards.card2: hex " + masked + " -> 12FFFF" + std::string(30, '*') +
                "FFFF; magnetic \"\" -> \"**\"; proximity FFFFFF**********FFFF -> "
                "12FFFF**********FFFF",
            "reserved[67]: FF -> 00"));
    EXPECT_THAT(differences(from, to, true)[7],
                ::testing::EndsWith("; proximity " + std::string(20, 'F') + " -> 12" +
                                    std::string(18, 'F')));
}

// A Polish run says its own words in Polish and keeps the names of the document's
// fields and the window's captions as they are.
TEST(ConfigDiff, SpeaksTheLanguageOfTheRun) {
    ConfigImage from = ConfigImage::defaults();
    ConfigImage to = from;
    const std::uint8_t plain[] = {0x24, 0x56, 0x7F, 0xFF};
    std::copy(plain, plain + 4, to.entry(4));
    to[offset::matLockout] = 6;
    setLanguage(Language::Polish);
    const std::vector<std::string> polish = differences(from, to);
    setLanguage(Language::English);
    EXPECT_THAT(polish, ::testing::ElementsAre("times.matLockoutTensOfSeconds \"Blokada po "
                                               "wejściu na matę (x10s)\": 255 = 42min 30sek -> 6 "
                                               "= 1min 00sek",
                                               "prefixes[5]: (brak) -> 4567 na pozycji 3"));
    EXPECT_EQ(differencesJson(compare(from, to)),
              "[\n    {\"field\":\"times.matLockoutTensOfSeconds\",\"caption\":\"Blokada po "
              "wejściu na matę (x10s)\",\"from\":255,\"to\":6},\n    "
              "{\"field\":\"prefixes[5]\",\"from\":null,\"to\":{\"prefix\":\"4567\","
              "\"position\":3}}\n  ]");
}

} // namespace
