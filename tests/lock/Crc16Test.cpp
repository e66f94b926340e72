#include "crc16.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

using v38::crc16;

TEST(Crc16, KnownValues) {
    EXPECT_EQ(crc16("abc", 3, 0xFFFF), 0x5749);
    EXPECT_EQ(crc16("123456789", 9, 0xFFFF), 0x4B37); // the CRC-16/MODBUS check value
    EXPECT_EQ(crc16(nullptr, 0, 0xFFFF), 0xFFFF);
}

TEST(Crc16, DataFollowedByItsCrcLowByteFirstChecksToZero) {
    std::vector<std::uint8_t> data;
    for (int length = 1; length < 300; length += 7) {
        data.push_back(std::uint8_t(length * 37 + 11));
        std::vector<std::uint8_t> framed = data;
        const std::uint16_t crc = crc16(data.data(), data.size(), 0xFFFF);
        framed.push_back(std::uint8_t(crc & 0xFF));
        framed.push_back(std::uint8_t(crc >> 8));
        EXPECT_EQ(crc16(framed.data(), framed.size(), 0xFFFF), 0) << "length " << data.size();
    }
}

TEST(Crc16, ContinuesFromAnInitialValue) {
    const char text[] = "configuration";
    const std::uint16_t whole = crc16(text, 13, 0xFFFF);
    EXPECT_EQ(crc16(text + 5, 8, crc16(text, 5, 0xFFFF)), whole);
}

TEST(Crc16, WorkedFramesOfTheLink) {
    // ACK, NAK and the 'S' request as they travel.
    const std::uint8_t ack[] = {0x00, 0x05, 0x06};
    const std::uint8_t nak[] = {0x00, 0x05, 0x15};
    const std::uint8_t finish[] = {0x00, 0x05, 0x53};
    EXPECT_EQ(crc16(ack, 3, 0xFFFF), 0x92F2);
    EXPECT_EQ(crc16(nak, 3, 0xFFFF), 0x5FB3);
    EXPECT_EQ(crc16(finish, 3, 0xFFFF), 0xAD32);
}
