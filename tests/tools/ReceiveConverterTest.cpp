#include "ReceiveConverter.h"

#include <gtest/gtest.h>

using namespace v38::sim;
using std::chrono::milliseconds;

namespace {

using Bytes = std::vector<std::uint8_t>;
const Clock::time_point T0{};

Bytes joined(const std::vector<Bytes>& pieces) {
    Bytes all;
    for (const Bytes& piece : pieces)
        all.insert(all.end(), piece.begin(), piece.end());
    return all;
}

// A latency timer holds bytes until it fires: started by the first byte that waits,
// firing every period while bytes come, resting after a tick that finds none; a full
// packet goes at once.
TEST(ReceiveConverter, LatencyTimerReleasesOnlyAtItsTicksOrAFullPacket) {
    ReceiveConverter usb(16, false, 1);
    usb.push(1, T0 + milliseconds(3));
    usb.push(2, T0 + milliseconds(4));
    EXPECT_TRUE(usb.release(T0 + milliseconds(18)).empty());
    EXPECT_EQ(usb.nextRelease(), T0 + milliseconds(19));
    EXPECT_EQ(joined(usb.release(T0 + milliseconds(19))), (Bytes{1, 2}));
    // The timer runs on from its first byte: the next tick is at 35, not 16 after 20.
    usb.push(3, T0 + milliseconds(20));
    EXPECT_TRUE(usb.release(T0 + milliseconds(34)).empty());
    EXPECT_EQ(joined(usb.release(T0 + milliseconds(35))), (Bytes{3}));
    // A tick with nothing waiting (51) rests it: a byte at 60 starts it anew.
    usb.push(4, T0 + milliseconds(60));
    EXPECT_TRUE(usb.release(T0 + milliseconds(75)).empty());
    EXPECT_EQ(joined(usb.release(T0 + milliseconds(76))), (Bytes{4}));

    // 62 bytes waiting go at once, the rest at the tick.
    ReceiveConverter full(32, false, 1);
    for (int i = 0; i < 70; ++i)
        full.push(std::uint8_t(i), T0 + milliseconds(100) + i * std::chrono::microseconds(250));
    const Clock::time_point packetFull =
        T0 + milliseconds(100) + 61 * std::chrono::microseconds(250);
    EXPECT_EQ(joined(full.release(packetFull)).size(), ReceiveConverter::BatchBytes);
    EXPECT_TRUE(full.release(T0 + milliseconds(131)).empty());
    EXPECT_EQ(joined(full.release(T0 + milliseconds(132))).size(), 8u);
}

// Chunks split what comes into pieces of at most MaxChunk bytes, in order, each after
// the one before and never before its bytes came; a piece not full goes after a quiet
// spell.
TEST(ReceiveConverter, ChunksKeepOrderAndTime) {
    ReceiveConverter usb(0, true, 7);
    Bytes sent;
    for (int i = 0; i < 200; ++i) {
        sent.push_back(std::uint8_t(i));
        usb.push(std::uint8_t(i), T0 + i * milliseconds(1));
    }
    Bytes got;
    std::size_t pieces = 0;
    std::size_t largest = 0;
    for (Clock::time_point now = T0; now < T0 + milliseconds(400);
         now += std::chrono::microseconds(100)) {
        for (const Bytes& piece : usb.release(now)) {
            ASSERT_FALSE(piece.empty());
            // A piece holding byte b cannot go before b came at b ms.
            ASSERT_GE(now, T0 + int(piece.back()) * milliseconds(1));
            got.insert(got.end(), piece.begin(), piece.end());
            largest = std::max(largest, piece.size());
            ++pieces;
        }
    }
    EXPECT_EQ(got, sent);
    EXPECT_LE(largest, ReceiveConverter::MaxChunk);
    EXPECT_GT(largest, 1u);
    EXPECT_GT(pieces, sent.size() / ReceiveConverter::MaxChunk);
    EXPECT_FALSE(usb.nextRelease());
}

} // namespace
