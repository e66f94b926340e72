#include "ImageEntries.h"
#include "PrefixEntry.h"
#include "V38Bank.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <random>
#include <string>

using namespace v38;

namespace {
using Bytes = std::array<std::uint8_t, 4>;

Bytes entryBytes(const V38Bank& bank, int i) {
    Bytes b;
    std::memcpy(b.data(), bank.image().entry(i), 4);
    return b;
}

struct Decoded {
    int position;
    std::string text;
};

Decoded get(const V38Bank& bank, int i) {
    int position = -1;
    char text[8];
    std::memset(text, 'z', sizeof text);
    getEntry(bank.image(), i, position, text);
    EXPECT_EQ(text[7], '\0') << "the text buffer is always terminated";
    return {position, text};
}
} // namespace

TEST(SetEntry, WorkedExamples) {
    struct Case {
        int position;
        const char* text;
        int result;
        Bytes bytes;
    };
    const Case cases[] = {
        {3, "4567", 0, {0x24, 0x56, 0x7F, 0xFF}},
        {1, "59", 0, {0x05, 0x9F, 0xFF, 0xFF}},
        {1, "0", 0, {0x00, 0xFF, 0xFF, 0xFF}},
        {15, "1234567", 0, {0xE1, 0x23, 0x45, 0x67}},
        {2, ":;<=>", 0, {0x1A, 0xBC, 0xDE, 0xFF}},
        {4, "123456789", 0, {0x31, 0x23, 0x45, 0x67}},
        {0, "123", 0, {0xFF, 0xFF, 0xFF, 0xFF}},
        {5, "", 0, {0xFF, 0xFF, 0xFF, 0xFF}},
    };
    for (const Case& c : cases) {
        V38Bank bank;
        bank.image().entry(42)[0] = 0x00; // make sure an inactive result really writes
        EXPECT_EQ(setEntry(bank.image(), 42, c.position, c.text), c.result) << c.text;
        EXPECT_EQ(entryBytes(bank, 42), c.bytes) << c.position << " " << c.text;
    }
}

TEST(SetEntry, RefusalsLeaveTheEntryAndItsNeighboursUntouched) {
    V38Bank bank;
    ASSERT_EQ(setEntry(bank.image(), 10, 3, "4567"), 0);
    const ConfigImage before = bank.image();

    EXPECT_EQ(setEntry(bank.image(), 10, 16, "1"), 1);
    EXPECT_EQ(setEntry(bank.image(), 10, -1, "1"), 1);
    EXPECT_EQ(setEntry(bank.image(), -1, 1, "1"), 1);
    EXPECT_EQ(setEntry(bank.image(), 100, 1, "1"), 1);
    EXPECT_EQ(setEntry(bank.image(), 10, 4, "12a"), 2);  // valid characters before the bad one
    EXPECT_EQ(setEntry(bank.image(), 10, 4, "123456?"), 2); // '?' is 0x3F, just past '>'
    EXPECT_EQ(setEntry(bank.image(), 10, 4, "/"), 2);        // 0x2F, just before '0'
    EXPECT_EQ(setEntry(bank.image(), 10, 4, "\xC5\x82"), 2); // a code of 0x80 or more
    EXPECT_EQ(bank.image(), before);

    // An eighth character is never looked at, whatever it is.
    EXPECT_EQ(setEntry(bank.image(), 10, 4, "1234567a"), 0);
    EXPECT_EQ(entryBytes(bank, 10), (Bytes{0x31, 0x23, 0x45, 0x67}));
}

TEST(GetEntry, WorkedExamplesAndRowTexts) {
    struct Case {
        Bytes bytes;
        int position;
        std::string text, card;
    };
    const Case cases[] = {
        {{0x24, 0x56, 0x7F, 0xFF}, 3, "4567", "xx4567..."},
        {{0x05, 0x9F, 0xFF, 0xFF}, 1, "59", "59..."},
        {{0xE1, 0x23, 0x45, 0x67}, 15, "1234567", std::string(14, 'x') + "1234567..."},
        {{0x01, 0xF2, 0x34, 0x56}, 1, "1", "1..."}, // nothing after the first 0xF shows
        {{0x00, 0x00, 0x00, 0x00}, 1, "0000000", "0000000..."},
        {{0x2F, 0x12, 0x34, 0x56}, 3, "", "xx..."}, // active with an empty prefix
        {{0xFF, 0xFF, 0xFF, 0xFF}, 0, "", ""},
        {{0xF0, 0x12, 0x34, 0x56}, 0, "", ""}, // inactive whatever follows N0
    };
    for (const Case& c : cases) {
        V38Bank bank;
        std::memcpy(bank.image().entry(99), c.bytes.data(), 4);
        const Decoded d = get(bank, 99);
        EXPECT_EQ(d.position, c.position);
        EXPECT_EQ(d.text, c.text);

        const RowTexts row = rowTexts(decodeEntry(c.bytes.data()));
        EXPECT_EQ(row.prefix, c.position ? c.text : "");
        EXPECT_EQ(row.position, c.position ? std::to_string(c.position) : "");
        EXPECT_EQ(row.card, c.card);
    }
    EXPECT_EQ(cardPicture(15, "1234567").size(), 24u);
}

TEST(GetEntry, OutOfRangeIndexLeavesBothOutputs) {
    V38Bank bank;
    int position = 7;
    char text[8] = "keep";
    getEntry(bank.image(), 100, position, text);
    getEntry(bank.image(), -1, position, text);
    EXPECT_EQ(position, 7);
    EXPECT_STREQ(text, "keep");
}

TEST(EntryCodec, RoundTripsEveryPositionAndManyTexts) {
    std::mt19937 random(38);
    std::uniform_int_distribution<int> length(0, 9), character(0, 14);
    V38Bank bank;
    for (int round = 0; round < 2000; ++round) {
        const int i = round % EntryCount;
        const int position = round % 16;
        std::string text;
        for (int n = length(random); n > 0; --n)
            text.push_back(PrefixAlphabet[std::size_t(character(random))]);

        ASSERT_EQ(setEntry(bank.image(), i, position, text.c_str()), 0);
        const Decoded d = get(bank, i);
        if (position == 0 || text.empty()) {
            EXPECT_EQ(d.position, 0);
            EXPECT_EQ(d.text, "");
            EXPECT_EQ(entryBytes(bank, i), (Bytes{0xFF, 0xFF, 0xFF, 0xFF}));
        } else {
            EXPECT_EQ(d.position, position);
            EXPECT_EQ(d.text, text.substr(0, 7));
        }
    }
}

TEST(EntryCodec, EveryByteCombinationDecodesAndReencodesToItsCanonicalForm) {
    // Decoding never fails, gives at most 7 alphabet characters, and encoding the
    // result again is stable (nibbles after the first 0xF come back as 0xF).
    std::mt19937 random(7);
    for (int round = 0; round < 20000; ++round) {
        Bytes bytes;
        for (auto& b : bytes)
            b = std::uint8_t(random());
        const PrefixEntry entry = decodeEntry(bytes.data());
        ASSERT_LE(entry.text.size(), 7u);
        ASSERT_LE(entry.position, 15);
        for (char c : entry.text)
            ASSERT_TRUE(isPrefixChar(c));
        Bytes again = {0, 0, 0, 0};
        ASSERT_EQ(encodeEntry(entry.position, entry.text, again.data()), 0);
        const PrefixEntry redecoded = decodeEntry(again.data());
        if (!entry.text.empty()) {
            EXPECT_EQ(redecoded.position, entry.position);
            EXPECT_EQ(redecoded.text, entry.text);
        } else {
            EXPECT_EQ(again, (Bytes{0xFF, 0xFF, 0xFF, 0xFF}));
        }
    }
}
