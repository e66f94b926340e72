#include "V38Bank.h"

#include "LinkTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <iterator>

namespace v38 {
namespace {

using serial::ScriptedSerial;
using test::Bytes;
using Trace = std::vector<std::string>;

// What selectPort does to a port that opens, and the probes that follow.
Trace opened(int port) {
    const std::string com = "COM" + std::to_string(port);
    return {"open " + com, "configure " + com + " 9600 8N1 DTR+ RTS+", "queues " + com + " 264/264",
            "timeouts " + com + " read 2x+61 write 2x+61", "sleep 100"};
}
Trace probed(int port, int answered) {
    const std::string com = "COM" + std::to_string(port);
    // The probe's answer gets its 8 * 2 + 61 ms and a converter's 32 ms more.
    return {"waiting " + com + " 132 -> 0", "write " + com + " 00 05 4D B2 A5",
            "timeouts " + com + " read 2x+93 write 2x+61",
            "read " + com + " 8 -> " + std::to_string(answered),
            "timeouts " + com + " read 2x+61 write 2x+61"};
}
Trace operator+(Trace a, const Trace& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class DiscoveryTest : public ::testing::Test {
protected:
    ScriptedSerial line;
    V38Bank bank{line};
};

TEST_F(DiscoveryTest, AnEmptyMaskTriesNothing) {
    line.port(1).reply(test::ProbeAnswer);
    EXPECT_FALSE(bank.findLock(0));
    EXPECT_TRUE(line.trace().empty());
    EXPECT_EQ(bank.portNumber(), 0);
}

TEST_F(DiscoveryTest, SilentPortsAreProbedTwiceAndClosedBeforeTheLockIsFound) {
    line.port(1);
    line.port(2);
    line.port(3).reply(test::ProbeAnswer, 20);
    line.port(4).reply(test::ProbeAnswer);
    ASSERT_TRUE(bank.findLock(0xFFFF));
    EXPECT_EQ(bank.portNumber(), 3);
    EXPECT_EQ(line.openPort(), 3);
    EXPECT_EQ(line.trace(), opened(1) + probed(1, 0) + probed(1, 0) + Trace{"close COM1"} +
                                opened(2) + probed(2, 0) + probed(2, 0) + Trace{"close COM2"} +
                                opened(3) + probed(3, 8));
    // Each silent port: the pause and two probe reads of 8 * 2 + 61 ms.
    EXPECT_EQ(line.now(), 2 * (100 + 2 * 109) + 100 + 20u); // 109: 77 and a converter's 32
}

TEST_F(DiscoveryTest, PortsThatCannotBeOpenedArePassedOverAtOnce) {
    line.port(2).busy = true;
    line.port(5).reply(test::ProbeAnswer);
    ASSERT_TRUE(bank.findLock(0xFFFF));
    EXPECT_EQ(bank.portNumber(), 5);
    EXPECT_EQ(line.trace(), (Trace{"open COM1 failed", "open COM2 failed", "open COM3 failed",
                                   "open COM4 failed"} +
                             opened(5) + probed(5, 8)));
    EXPECT_EQ(line.now(), 100u);
}

TEST_F(DiscoveryTest, ALockThatAnswersOnlyTheSecondProbeIsFound) {
    line.port(1).silent().reply(test::ProbeAnswer);
    ASSERT_TRUE(bank.findLock(0xFFFF));
    // The first probe may still be answered, as late after the second probe as the answer
    // came after the first (77 ms): the line must stay quiet until then, and a byte's
    // allowance (2 + 61 ms) longer, before the port is used.
    const Trace drained{"read COM1 1 -> 0", "read COM1 1 -> 0", "read COM1 1 -> 0"};
    EXPECT_EQ(line.trace(), opened(1) + probed(1, 0) + probed(1, 8) + drained);
    EXPECT_EQ(line.now(), 100 + 109 + 3 * 63u);
    EXPECT_TRUE(bank.doubtful());
}

TEST_F(DiscoveryTest, WhatAFailedTransferLeftOnTheLineIsNotTakenForTheProbeAnswer) {
    // A block read given up on after three silent attempts is answered at last; the port
    // stays open, and the next search probes it as it is.
    line.port(1).reply(test::frameAround(test::repeated(64, 0x11)), 900);
    ASSERT_TRUE(bank.selectPort(1));
    EXPECT_THROW(bank.readBlock(0), CommErr);
    line.sleep(200);
    line.port(1).reply(test::ProbeAnswer, 5);
    ASSERT_TRUE(bank.findLock(1));
    // Read and thrown away, which makes the next transfer doubtful.
    EXPECT_EQ(test::traceFrom(line, line.trace().size() - 6),
              (Trace{"waiting COM1 132 -> 68", "read COM1 1 -> 0", "write COM1 00 05 4D B2 A5",
                     "timeouts COM1 read 2x+93 write 2x+61", "read COM1 8 -> 8",
                     "timeouts COM1 read 2x+61 write 2x+61"}));
    EXPECT_TRUE(bank.doubtful());
}

TEST_F(DiscoveryTest, WithoutALockEveryPortOfTheMaskIsTriedAndNoneStaysOpen) {
    for (int port = 1; port <= 20; ++port)
        line.port(port);
    EXPECT_FALSE(bank.findLock(0xFFFF));
    EXPECT_EQ(bank.portNumber(), 0);
    EXPECT_EQ(line.openPort(), 0);
    EXPECT_EQ(line.writes().size(), 32u);
    EXPECT_EQ(line.writes().back().port, 16);
}

TEST_F(DiscoveryTest, OnlyThePortsOfTheMaskAreTriedInAscendingOrder) {
    for (int port = 1; port <= 32; ++port)
        line.port(port);
    EXPECT_FALSE(bank.findLock((1u << 2) | (1u << 4) | (1u << 31)));
    std::vector<int> opened;
    for (const std::string& entry : line.trace())
        if (entry.rfind("open ", 0) == 0)
            opened.push_back(std::stoi(entry.substr(8)));
    EXPECT_EQ(opened, (std::vector<int>{3, 5, 32}));
}

TEST_F(DiscoveryTest, TheProbeAcceptsOnlyAWholeAnswerBeginning0008_00E8) {
    const Bytes otherMiddle = test::frameAround({0x00, 0xE8, 0x12, 0x34});
    Bytes wrongCode = test::frameAround({0x00, 0xE9, 0x00, 0x00});
    Bytes wrongCrc = test::ProbeAnswer;
    wrongCrc[7] ^= 0x80;
    const Bytes shortAnswer(test::ProbeAnswer.begin(), test::ProbeAnswer.end() - 1);
    const Bytes otherLength = test::frameAround({0x00, 0xE8, 0x00, 0x00, 0x00});

    line.port(1);
    ASSERT_TRUE(bank.selectPort(1));
    const struct {
        const Bytes& answer;
        bool accepted;
    } cases[] = {{test::ProbeAnswer, true}, {otherMiddle, true},  {wrongCode, false},
                 {wrongCrc, false},         {shortAnswer, false}, {otherLength, false}};
    for (const auto& c : cases) {
        line.port(1).reply(c.answer);
        EXPECT_EQ(bank.probe(), c.accepted) << serial::hexBytes(c.answer);
        bank.channel().receiveBytes(132, std::array<std::uint8_t, 132>{}.data()); // clear leftovers
    }
    EXPECT_EQ(line.writes().size(), std::size(cases));
    for (const auto& write : line.writes())
        EXPECT_EQ(write.bytes, test::ProbeFrame);
}

// Whether the line keeps its pace is decided by the first probe on a port opened anew, on
// a quiet line, and by nothing else: an answer sooner than the line can carry it switches
// the rule of early answers off there only, and another device's frame that comes too
// soon later on fails that probe instead of switching the rule off for the transfer.
TEST(LinePaceTest, OnlyTheFirstProbeOnAQuietFreshPortFindsTheLineNotTimed) {
    const struct {
        const char* name;
        bool timesTheLine;
        bool staleBefore;       // bytes wait on the line before the first probe
        std::uint64_t firstMs;  // when the first probe's answer comes, after its request
        std::uint64_t secondMs; // and the second probe's, sent on the same port
        bool firstAccepted, secondAccepted, notTimed;
    } cases[] = {
        // The request and the answer take 13.5 ms on the line.
        {"a lock in step with the line", true, false, 20, 20, true, true, false},
        {"a far end without the line's pace", true, false, 0, 0, true, true, true},
        {"...but not after stale bytes", true, true, 0, 20, false, true, false},
        {"an answer too soon on a later probe", true, false, 20, 0, true, false, false},
        {"a stand-in that does not time the line", false, false, 0, 0, true, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedSerial line;
        line.setTimesTheLine(c.timesTheLine);
        V38Bank bank{line};
        line.port(1);
        ASSERT_TRUE(bank.selectPort(1));
        if (c.staleBefore) {
            line.port(1).reply({0x55});
            bank.channel().sendBytes(1, std::array<std::uint8_t, 1>{0}.data());
        }
        line.port(1).reply(test::ProbeAnswer, c.firstMs);
        EXPECT_EQ(bank.probe(), c.firstAccepted);
        line.port(1).reply(test::ProbeAnswer, c.secondMs);
        EXPECT_EQ(bank.probe(), c.secondAccepted);
        EXPECT_EQ(bank.ledger().count(LineEvent::LineNotTimed, 0), c.notTimed ? 1 : 0);
    }
}

TEST_F(DiscoveryTest, TheProbeReadsEightBytesAndLeavesTheRest) {
    line.port(1).reply(test::concat(test::ProbeAnswer, {0xAB, 0xCD}));
    ASSERT_TRUE(bank.selectPort(1));
    ASSERT_TRUE(bank.probe());
    std::uint8_t rest[4] = {};
    EXPECT_EQ(bank.channel().receiveBytes(4, rest), 2u);
    EXPECT_EQ(rest[0], 0xAB);
}

TEST_F(DiscoveryTest, AnOpenPortFirstInTheMaskIsProbedAsItIs) {
    line.port(1).reply(test::ProbeAnswer);
    ASSERT_TRUE(bank.channel().openPort(1, 9600, 3, 3, 264, 264));
    const std::size_t before = line.trace().size();
    ASSERT_TRUE(bank.findLock(0xFFFF));
    EXPECT_EQ(test::traceFrom(line, before), probed(1, 8));
}

TEST_F(DiscoveryTest, AnOpenPortLaterInTheMaskIsClosedAndOpenedAnewInItsTurn) {
    line.port(1);
    line.port(2).reply(test::ProbeAnswer);
    ASSERT_TRUE(bank.channel().openPort(2, 9600, 3, 3, 264, 264));
    const std::size_t before = line.trace().size();
    ASSERT_TRUE(bank.findLock(0xFFFF));
    EXPECT_EQ(test::traceFrom(line, before), Trace{"close COM2"} + opened(1) + probed(1, 0) +
                                                 probed(1, 0) + Trace{"close COM1"} + opened(2) +
                                                 probed(2, 8));
}

TEST_F(DiscoveryTest, SelectPortRefusesWhatCannotBeOpened) {
    line.port(1).configureFails = true;
    EXPECT_FALSE(bank.selectPort(1));
    EXPECT_FALSE(bank.selectPort(2));
    EXPECT_FALSE(bank.selectPort(0)); // no port open is no port 0
    EXPECT_EQ(bank.portNumber(), 0);
    EXPECT_EQ(std::count(line.trace().begin(), line.trace().end(), "sleep 100"), 0);
}

} // namespace
} // namespace v38
