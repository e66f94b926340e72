#include "RS232.h"

#include "LinkTestSupport.h"

#include <gtest/gtest.h>

namespace v38 {
namespace {

using serial::ScriptedSerial;
using test::Bytes;

class RS232Test : public ::testing::Test {
protected:
    bool open(int port, std::int32_t baud = 9600, std::uint8_t frameFlags = 0x03,
              std::uint8_t lineFlags = 0x03) {
        return rs232.openPort(port, baud, frameFlags, lineFlags, 264, 264);
    }
    std::string lastConfigure() const {
        for (auto it = line.trace().rbegin(); it != line.trace().rend(); ++it)
            if (it->rfind("configure", 0) == 0)
                return *it;
        return {};
    }

    ScriptedSerial line;
    RS232 rs232{line};
};

TEST_F(RS232Test, OpenSetsLineQueuesAndStandardTimeouts) {
    line.port(3);
    ASSERT_TRUE(open(3));
    EXPECT_EQ(rs232.portNumber(), 3);
    EXPECT_NE(rs232.portHandle(), serial::InvalidPortHandle);
    EXPECT_EQ(rs232.charTime(), 2);
    EXPECT_EQ(line.trace(), (std::vector<std::string>{
                                "open COM3",
                                "configure COM3 9600 8N1 DTR+ RTS+",
                                "queues COM3 264/264",
                                "timeouts COM3 read 2x+61 write 2x+61",
                            }));
}

TEST_F(RS232Test, PortsOutsideOneToThirtyTwoAreRefusedAndTheOpenPortStays) {
    line.port(5);
    line.port(32);
    line.port(33);
    ASSERT_TRUE(open(5));
    const std::size_t before = line.trace().size();
    EXPECT_FALSE(open(0));
    EXPECT_FALSE(open(33));
    EXPECT_FALSE(open(-1));
    EXPECT_EQ(rs232.portNumber(), 5);
    EXPECT_EQ(line.trace().size(), before);
    EXPECT_TRUE(open(32));
    EXPECT_EQ(rs232.portNumber(), 32);
}

TEST_F(RS232Test, OpeningAnotherPortClosesTheOpenOneFirst) {
    line.port(5);
    line.port(4);
    ASSERT_TRUE(open(5));
    const std::size_t before = line.trace().size();
    EXPECT_FALSE(open(3)); // COM3 does not exist
    EXPECT_EQ(test::traceFrom(line, before),
              (std::vector<std::string>{"close COM5", "open COM3 failed"}));
    EXPECT_EQ(rs232.portNumber(), 0);
    EXPECT_EQ(rs232.portHandle(), serial::InvalidPortHandle);

    ASSERT_TRUE(open(5));
    ASSERT_TRUE(open(4));
    EXPECT_EQ(line.openPort(), 4);
}

TEST_F(RS232Test, ReopeningTheOpenPortReconfiguresItWithoutOpeningAgain) {
    line.port(5);
    ASSERT_TRUE(open(5));
    const serial::PortHandle handle = rs232.portHandle();
    const std::size_t before = line.trace().size();
    ASSERT_TRUE(open(5, 1200, 0x1F, 0x00));
    EXPECT_EQ(rs232.portHandle(), handle);
    EXPECT_EQ(test::traceFrom(line, before), (std::vector<std::string>{
                                                 "configure COM5 1200 8E2 DTR- RTS-",
                                                 "queues COM5 264/264",
                                                 "timeouts COM5 read 10x+61 write 10x+61",
                                             }));
}

TEST_F(RS232Test, CharTimeIsElevenBitTimesRoundedDownPlusOne) {
    line.port(1);
    const std::pair<int, int> cases[] = {{9600, 2}, {19200, 1}, {1200, 10}, {300, 37}, {115200, 1}};
    for (const auto& [baud, expected] : cases) {
        ASSERT_TRUE(open(1, baud));
        EXPECT_EQ(rs232.charTime(), expected) << baud;
    }
}

TEST_F(RS232Test, FrameAndLineFlagsDecodeIntoLineSettings) {
    line.port(1);
    const struct {
        std::uint8_t frameFlags;
        std::uint8_t lineFlags;
        const char* expected;
    } cases[] = {
        {0x03, 0x03, "configure COM1 9600 8N1 DTR+ RTS+"},
        {0x1F, 0x03, "configure COM1 9600 8E2 DTR+ RTS+"},
        {0x08, 0x03, "configure COM1 9600 5O1 DTR+ RTS+"},
        {0xE3, 0x03, "configure COM1 9600 8N1 DTR+ RTS+"}, // bits 5..7 ignored
        {0x10, 0x03, "configure COM1 9600 5N1 DTR+ RTS+"}, // even without parity: none
        {0x0D, 0x03, "configure COM1 9600 6O2 DTR+ RTS+"},
        {0x03, 0x01, "configure COM1 9600 8N1 DTR+ RTS-"},
        {0x03, 0x02, "configure COM1 9600 8N1 DTR- RTS+"},
        {0x03, 0xFC, "configure COM1 9600 8N1 DTR- RTS-"}, // bits 2..7 ignored
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(open(1, 9600, c.frameFlags, c.lineFlags));
        EXPECT_EQ(lastConfigure(), c.expected);
    }
}

TEST_F(RS232Test, AFailedConfigurationStepClosesThePort) {
    line.port(1).configureFails = true;
    line.port(2).queuesFail = true;
    line.port(3).failingTimeoutsCall = 1;
    for (int port = 1; port <= 3; ++port) {
        EXPECT_FALSE(open(port));
        EXPECT_EQ(rs232.portNumber(), 0);
        EXPECT_EQ(rs232.portHandle(), serial::InvalidPortHandle);
        EXPECT_EQ(line.trace().back(), "close COM" + std::to_string(port));
    }
    // The same holds when the open port is set up anew.
    line.port(4).failingTimeoutsCall = 2;
    ASSERT_TRUE(open(4));
    EXPECT_FALSE(open(4));
    EXPECT_EQ(line.openPort(), 0);
    EXPECT_EQ(line.misuse(), 0);
}

TEST_F(RS232Test, SetTimeoutsAddsTheExtraTimeToTheReadConstantOnly) {
    line.port(1).failingTimeoutsCall = 3;
    ASSERT_TRUE(open(1));
    EXPECT_TRUE(rs232.setTimeouts(200));
    EXPECT_EQ(line.trace().back(), "timeouts COM1 read 2x+261 write 2x+61");
    // A refusal is reported; closing the port is left to the caller.
    EXPECT_FALSE(rs232.setTimeouts(0));
    EXPECT_EQ(rs232.portNumber(), 1);
}

TEST_F(RS232Test, AShortWriteClosesThePortAndLaterReadsReturnNothingAtOnce) {
    line.port(1).shortWriteCall = 1;
    line.port(1).reply({1, 2, 3});
    ASSERT_TRUE(open(1));
    const Bytes request{1, 2, 3, 4, 5};
    rs232.sendBytes(5, request.data());
    EXPECT_EQ(rs232.portNumber(), 0);
    EXPECT_EQ(line.trace().back(), "close COM1");

    std::uint8_t buffer[8] = {};
    EXPECT_EQ(rs232.receiveBytes(8, buffer), 0u);
    rs232.sendBytes(5, request.data());
    EXPECT_EQ(line.writes().size(), 1u);
    EXPECT_TRUE(line.reads().empty());
    EXPECT_EQ(line.now(), 0u);
    EXPECT_EQ(line.misuse(), 0);
}

TEST_F(RS232Test, AReadReturnsWhatCameWhenTheTotalTimeoutPasses) {
    line.port(1).reply({0xAA, 0xBB, 0xCC}, 10);
    ASSERT_TRUE(open(1));
    const Bytes request{0x01};
    rs232.sendBytes(1, request.data());
    std::uint8_t buffer[8] = {};
    EXPECT_EQ(rs232.receiveBytes(8, buffer), 3u);
    EXPECT_EQ(Bytes(buffer, buffer + 3), (Bytes{0xAA, 0xBB, 0xCC}));
    EXPECT_EQ(line.now(), 8u * 2 + 61); // 77 ms at 9600 baud
    EXPECT_EQ(rs232.portNumber(), 1);     // a short read leaves the port open
}

// The converters of the double, which the tests of the link lean on: at 9600 baud a byte
// takes 1041.67 us on a timed line.
TEST_F(RS232Test, TheDoublesConvertersKeepTheTimesOfRealOnes) {
    line.port(1);
    line.setTimesTheLine(true);
    ASSERT_TRUE(open(1));
    const Bytes request{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    std::uint8_t buffer[16] = {};

    // Echo: each byte comes back as it crosses the line, behind the write that returned
    // at once; a latency timer of 16 ms hands them over at 16 ms.
    line.setEcho(true);
    line.setReceiveBatchMs(16);
    rs232.sendBytes(12, request.data());
    EXPECT_EQ(line.nowUs(), 0u);
    EXPECT_EQ(line.writes().back().lineEndUs, 12500u);
    line.sleep(15);
    EXPECT_EQ(rs232.receiveWaiting(16, buffer), 0u);
    line.sleep(1);
    ASSERT_EQ(rs232.receiveWaiting(16, buffer), 12u);
    EXPECT_EQ(Bytes(buffer, buffer + 12), request);

    // Without batching, bytes come one by one; a second write queues behind the first.
    line.setReceiveBatchMs(0);
    rs232.sendBytes(12, request.data());
    rs232.sendBytes(1, request.data());
    EXPECT_EQ(line.writes().back().lineStartUs, 16000u + 12500);
    ASSERT_EQ(rs232.receiveBytes(13, buffer), 13u);
    EXPECT_EQ(line.nowUs(), 16000u + 13541);

    // A write that returns 3 ms after its last byte crossed the line.
    line.setEcho(false);
    line.setWriteReturn(serial::WriteReturn::AfterLine, 3);
    const std::uint64_t before = line.nowUs();
    rs232.sendBytes(12, request.data());
    EXPECT_EQ(line.nowUs(), before + 12500 + 3000);

    // A far end timing its own bytes; a coarse clock shows the last step only.
    line.setClockStepUs(15600);
    const std::uint64_t from = line.nowUs() + 500;
    EXPECT_EQ(line.transmit(1, from, {0xAA, 0xBB}), from + 2083);
    ASSERT_EQ(rs232.receiveBytes(2, buffer), 2u);
    EXPECT_EQ(line.nowUs(), from + 2083);
    EXPECT_EQ(line.microseconds(), (from + 2083) / 15600 * 15600);
    EXPECT_EQ(line.clockStepUs(), 15600u);
}

TEST_F(RS232Test, CloseIsIdempotentAndDestructionClosesTheOpenPort) {
    line.port(1);
    {
        RS232 other(line);
        ASSERT_TRUE(other.openPort(1, 9600, 3, 3, 264, 264));
    }
    EXPECT_EQ(line.trace().back(), "close COM1");
    ASSERT_TRUE(open(1));
    rs232.closePort();
    rs232.closePort();
    rs232.dropPort();
    EXPECT_EQ(std::count(line.trace().begin(), line.trace().end(), "close COM1"), 2);
    EXPECT_EQ(line.misuse(), 0);
}

} // namespace
} // namespace v38
