#include "ConfigJson.h"
#include "OddImage.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <random>
#include <string>

using namespace v38;
using ::testing::HasSubstr;

namespace {

TEST(ConfigJson, EveryImageComesBackByteForByte) {
    std::mt19937 random(38);
    for (int n = 0; n < 300; ++n) { // bench_config_json runs the hundred thousands
        const ConfigImage image = n == 0 ? ConfigImage::erased() : test::oddImage(random);
        const std::string document = exportConfigJson(image);
        ConfigImage back = ConfigImage::defaults();
        ASSERT_EQ(importConfigJson(document, back), "") << document;
        ASSERT_EQ(back, image) << document;
    }
}

ConfigImage sample() {
    ConfigImage image = ConfigImage::defaults();
    image[offset::flags] = 0xE2;
    image[offset::boltPulse] = 25;
    const std::uint8_t plain[] = {0x24, 0x56, 0x7F, 0xFF};
    const std::uint8_t leftovers[] = {0xF0, 0x12, 0x34, 0x56};
    std::copy(plain, plain + 4, image.entry(0));
    std::copy(leftovers, leftovers + 4, image.entry(99));
    return image;
}

TEST(ConfigJson, NamesWhatTheBytesMeanAndKeepsTheRestAsHex) {
    const std::string document = exportConfigJson(sample());
    EXPECT_THAT(document, HasSubstr("\"format\": \"v38-config\",\n  \"version\": 1,"));
    EXPECT_THAT(document,
                HasSubstr("\"doorSensor\": false,\n    \"doorSensorOpenWhenClosed\": true,"));
    EXPECT_THAT(document, HasSubstr("\"proximityServiceCards\": true,\n    \"otherBits\": \"C0\""));
    EXPECT_THAT(document, HasSubstr("\"boltPulseTenthsOfSecond\": 25,"));
    EXPECT_THAT(document, HasSubstr("\n    {\"number\":1,\"prefix\":\"4567\",\"position\":3},\n"
                                    "    {\"number\":100,\"hex\":\"F0123456\"}\n  ],"));
    EXPECT_THAT(document, HasSubstr("\"card2\": {\n      \"hex\": \"" + std::string(40, 'F') +
                                    "\",\n      \"magnetic\": \"\",\n      \"proximity\": \"" +
                                    std::string(20, 'F') + "\"\n    }"));
    EXPECT_THAT(document, HasSubstr("\"reserved\": \"" + std::string(136, 'F') + "\"\n}\n"));
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    const std::size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

TEST(ConfigJson, RefusesEachKindOfBadDocumentSayingWhereAndWhyAndChangesNothing) {
    const std::string good = exportConfigJson(sample());
    const std::string entry = "{\"number\":1,\"prefix\":\"4567\",\"position\":3}";
    const std::string bolt = "\"boltPulseTenthsOfSecond\": 25";
    const std::string card = "\"hex\": \"FFFFFFFF";
    const struct {
        std::string document;
        std::string reason;
    } cases[] = {
        {replaced(good, "\"halfStripe\"", "\"halfstripe\""), "/flags/halfstripe: unknown field"},
        {replaced(good, "\"doorSensor\": false", "\"doorSensor\": 0"),
         "/flags/doorSensor = 0: must be true or false"},
        {replaced(good, bolt, "\"boltPulseTenthsOfSecond\": 256"),
         "/times/boltPulseTenthsOfSecond = 256: a time is 0..255"},
        {replaced(good, bolt, "\"boltPulseTenthsOfSecond\": 2.5"),
         "/times/boltPulseTenthsOfSecond = 2.5: must be a whole number"},
        {replaced(good, bolt, "\"boltPulseTenthsOfSecond\": -1"), "= -1: a time is 0..255"},
        {replaced(good, bolt, "\"boltPulseTenthsOfSecond\": 18446744073709551615"),
         "= 18446744073709551615: a time is 0..255"},
        {replaced(good, entry, "{\"number\":1,\"prefix\":\"4567\",\"position\":16}"),
         "/prefixes/0/position = 16: a position is 1..15"},
        {replaced(good, entry, "{\"number\":1,\"prefix\":\"45a7\",\"position\":3}"),
         "/prefixes/0/prefix = \"45a7\": character 3 is outside the prefix alphabet"},
        {replaced(good, entry, "{\"number\":1,\"prefix\":\"12345678\",\"position\":3}"),
         "/prefixes/0/prefix = \"12345678\": a prefix has 1..7 characters"},
        {replaced(good, entry, "{\"number\":1,\"prefix\":\"ąąąą\",\"position\":3}"),
         "/prefixes/0/prefix = \"\\u0105\\u0105\\u0105\\u0105\": character 1 is outside the "
         "prefix alphabet"},
        {replaced(good, entry, "{\"number\":100,\"prefix\":\"4567\",\"position\":3}"),
         "/prefixes/1/number = 100: this prefix number is given twice"},
        {replaced(good, entry, "{\"number\":0,\"prefix\":\"4567\",\"position\":3}"),
         "/prefixes/0/number = 0: a prefix number is 1..100"},
        {replaced(good, entry, "{\"number\":1,\"prefix\":\"4567\"}"),
         "/prefixes/0/position: missing"},
        {replaced(good, "\"F0123456\"", "\"F01234\""),
         "/prefixes/1/hex = \"F01234\": must be 8 hex digits (4 bytes), not 6"},
        {replaced(good, card, "\"hex\": \"FFFFFFFG"), "/serviceCards/card1/hex = \"FFFFFFFG"},
        {replaced(good, "\"magnetic\": \"\"", "\"magnetic\": \"1\""),
         "/serviceCards/card1/magnetic = \"1\": read-only: the hex reads \"\""},
        {replaced(good, "\"otherBits\": \"C0\"", "\"otherBits\": \"C1\""),
         "/flags/otherBits = \"C1\": may hold bits 6 and 7 only (C0)"},
        {replaced(good, "\"version\": 1", "\"version\": 2"),
         "/version = 2: this v38ctl reads version 1"},
        {replaced(good, "\"version\": 1", "\"version\": 1, \"version\": 1"),
         "/version: given twice"},
        {replaced(good, entry, "{\"number\":1,\"number\":1,\"prefix\":\"4567\",\"position\":3}"),
         "/prefixes/0/number: given twice"},
        {replaced(good, "\"reserved\"", "\"" + std::string(300000, 'k') + "\": 1, \"reserved\""),
         "/" + std::string(40, 'k') + "...: unknown field"},
        {replaced(good, "\"format\"", "\"$schema\": 1, \"format\""),
         "/$schema = 1: must be a string"},
        {replaced(good, "\"reserved\"", "\"a/b~\\u0007\": 1, \"reserved\""),
         "/a~1b~0?: unknown field"},
        {replaced(good, "\"reserved\"", "\"kept\""), "/kept: unknown field"},
        {good.substr(0, good.size() / 2), "not valid JSON: "},
        {replaced(good, "\"v38-config\"", std::string(20, '[') + std::string(20, ']')),
         "/format/0/0/0/0/0/0/0/0: nested deeper than 8 levels"},
        {replaced(good, "\"4567\"", "\"45\xC3\x28\""), "not valid JSON: "},
        {replaced(good, "\"v38-config\"", "1e400"),
         "not valid JSON: number overflow parsing '1e400'"},
        {"[1]", "/ = [1]: must be an object"},
        {"\xEF\xBB\xBF{\"format\" 1}", "/format: not valid JSON: "},
        {good + std::string(MaxConfigJsonSize, ' '), "larger than 1024 KiB"},
    };
    for (const auto& c : cases) {
        ConfigImage image = ConfigImage::erased();
        const std::string reason = importConfigJson(c.document, image);
        EXPECT_THAT(reason, HasSubstr(c.reason));
        EXPECT_EQ(reason[0], '/') << "every refusal names where";
        EXPECT_LT(reason.size(), 400u) << "long keys and values are shortened";
        EXPECT_EQ(reason.find_first_of("\x80\xC3"), std::string::npos) << "only plain bytes";
        EXPECT_EQ(image, ConfigImage::erased()) << c.reason;
    }
}

} // namespace
