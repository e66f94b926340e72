#include "ImageEntries.h"
#include "PrefixEntry.h"
#include "ServiceCard.h"
#include "TimeReading.h"
#include "V38Bank.h"

#include <gtest/gtest.h>

#include <array>
#include <random>

using namespace v38;

namespace {
using Card = std::array<std::uint8_t, 20>;

Card card(std::initializer_list<std::uint8_t> head, std::uint8_t fill = 0xFF) {
    Card c;
    c.fill(fill);
    std::copy(head.begin(), head.end(), c.begin());
    return c;
}
} // namespace

TEST(ServiceCardText, WorkedExamples) {
    const Card track = card({0x12, 0x34, 0x56, 0x78, 0x90, 0x12, 0x34, 0x56, 0xD2, 0x51, 0x2F});
    EXPECT_EQ(magneticCardText(track.data()), "1234567890123456=2512");
    EXPECT_EQ(proximityCardText(track.data()), "1234567890123456D251");

    const Card erased = card({});
    EXPECT_EQ(magneticCardText(erased.data()), "");
    EXPECT_EQ(proximityCardText(erased.data()), std::string(20, 'F'));

    Card counting;
    for (std::size_t j = 0; j < 20; ++j)
        counting[j] = std::uint8_t(j);
    EXPECT_EQ(magneticCardText(counting.data()), "000102030405060708090:0;0<0=0>0");
    EXPECT_EQ(proximityCardText(counting.data()), "00010203040506070809");

    const Card full = card({0x12, 0x34, 0x56, 0x78, 0x90, 0x12, 0x34, 0x56, 0x78, 0x90,
                            0x12, 0x34, 0x56, 0x78, 0x90, 0x12, 0x34, 0x56, 0x78, 0x99});
    EXPECT_EQ(magneticCardText(full.data()), "1234567890123456789012345678901234567");
    EXPECT_EQ(proximityCardText(full.data()), "12345678901234567890");
}

TEST(ServiceCardText, LengthsHoldForAnyBytes) {
    std::mt19937 random(20);
    for (int round = 0; round < 5000; ++round) {
        Card c;
        for (auto& b : c)
            b = std::uint8_t(random() % 3 == 0 ? 0xFF : random());
        const std::string magnetic = magneticCardText(c.data());
        EXPECT_LE(magnetic.size(), 37u);
        for (char ch : magnetic)
            EXPECT_TRUE(isPrefixChar(ch));
        EXPECT_EQ(proximityCardText(c.data()).size(), 20u);
    }
}

TEST(ServiceCardText, CardsComeFromTheirOffsets) {
    V38Bank bank;
    bank.image()[404] = 0x12;
    bank.image()[405] = 0xF0;
    bank.image()[424] = 0x3F;
    std::uint8_t out[20];
    getServiceCard(bank.image(), 0, out);
    EXPECT_EQ(magneticCardText(out), "12");
    getServiceCard(bank.image(), 1, out);
    EXPECT_EQ(magneticCardText(out), "3");
}

// The times as typed into their edits: the value the filter checks against a byte, and
// the byte collected into the image.
TEST(TimeText, ValuesAndBytes) {
    const struct {
        const char* text;
        int value;
        int byte;
    } cases[] = {
        {"", 0, 0},
        {"0", 0, 0},
        {"007", 7, 7},
        {"255", 255, 255},
        {"256", 256, 0}, // the low 8 bits
        {"1000", 1000, 232},
        {"12a3", 12, 12}, // the number ends at the first non-digit
        {"1 2", 1, 1},
        {"a12", 0, 0},
        {"  12", 0, 12}, // leading blanks and a sign count only for the byte
        {"\t7", 0, 7},
        {"+5", 0, 5},
        {"-1", 0, 255},
        {"-0", 0, 0},
        {"--1", 0, 0}, // one sign only
        {"- 1", 0, 0},
        {"99999999999999999999", 1000000, 255}, // saturated; 10^20 is a multiple of 256
    };
    for (const auto& c : cases) {
        EXPECT_EQ(timeValue(c.text), c.value) << '"' << c.text << '"';
        EXPECT_EQ(timeByte(c.text), c.byte) << '"' << c.text << '"';
    }
}
