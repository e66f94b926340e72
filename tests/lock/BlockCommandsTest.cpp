#include "Transfer.h"
#include "V38Bank.h"

#include "LinkTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace v38 {
namespace {

using serial::ScriptedSerial;
using test::Bytes;
using test::frameAround;
using test::repeated;

class BlockCommandsTest : public ::testing::Test {
protected:
    void SetUp() override {
        bank.resetImage();
        ASSERT_TRUE(bank.channel().openPort(1, 9600, 0x03, 0x03, 264, 264));
    }
    // The header read of the n-th exchange, to see the extra time in force.
    const serial::ReadRecord& headerRead(std::size_t n = 0) const {
        std::size_t seen = 0;
        for (const auto& read : line.reads())
            if (read.asked == 2 && seen++ == n)
                return read;
        throw std::logic_error("no such header read");
    }

    // The block read into the bank's image, as a transfer does.
    void readBlock(int block) {
        const Block data = bank.readBlock(block);
        if (isBlock(block))
            std::copy(data.begin(), data.end(), bank.image().block(block));
    }
    // The block of the bank's image written.
    void writeBlock(int block) {
        Block data{};
        if (isBlock(block))
            std::copy_n(bank.image().block(block), BlockSize, data.begin());
        bank.writeBlock(block, data);
    }

    ScriptedSerial line;
    V38Bank bank{line};
    serial::PortScript& lock = line.port(1);
};

TEST_F(BlockCommandsTest, ReadBlockSendsTheTabledRequestsAndFillsExactlyItsBlock) {
    const Bytes frames[8] = {
        {0x00, 0x06, 0x43, 0x00, 0xD1, 0x15}, {0x00, 0x06, 0x43, 0x01, 0x10, 0xD5},
        {0x00, 0x06, 0x43, 0x02, 0x50, 0xD4}, {0x00, 0x06, 0x43, 0x03, 0x91, 0x14},
        {0x00, 0x06, 0x43, 0x04, 0xD0, 0xD6}, {0x00, 0x06, 0x43, 0x05, 0x11, 0x16},
        {0x00, 0x06, 0x43, 0x06, 0x51, 0x17}, {0x00, 0x06, 0x43, 0x07, 0x90, 0xD7},
    };
    for (int block = 0; block < 8; ++block) {
        const ConfigImage before = bank.image();
        lock.reply(frameAround(repeated(64, static_cast<std::uint8_t>(0xA0 + block))));
        readBlock(block);
        EXPECT_EQ(line.writes().back().bytes, frames[block]);
        EXPECT_EQ(headerRead(static_cast<std::size_t>(block)).timeouts.readConstant, 261u + timing::LatencyMarginMs);
        for (std::size_t i = 0; i < ConfigImage::Size; ++i) {
            const bool inBlock = i / 64 == static_cast<std::size_t>(block);
            ASSERT_EQ(bank.image()[i], inBlock ? 0xA0 + block : before[i]) << block << " " << i;
        }
    }
}

TEST_F(BlockCommandsTest, ReadBlockTakesTheWorkedReplyOfAnErasedBlock) {
    bank.image().fill(0x00);
    lock.reply(test::concat(test::concat({0x00, 0x44}, repeated(64, 0xFF)), {0xC2, 0x80}));
    readBlock(3);
    EXPECT_TRUE(
        std::all_of(bank.image().block(3), bank.image().block(4), [](auto b) { return b == 0xFF; }));
    EXPECT_EQ(bank.image()[3 * 64 - 1], 0x00);
    EXPECT_EQ(bank.image()[4 * 64], 0x00);
}

TEST_F(BlockCommandsTest, ReadBlockAnsweredByNakThenDataSucceeds) {
    lock.reply(test::NakFrame).reply(frameAround(repeated(64, 0x12)));
    readBlock(0);
    EXPECT_EQ(line.writes().size(), 2u);
    EXPECT_EQ(bank.image()[0], 0x12);
}

TEST_F(BlockCommandsTest, BlocksOutsideZeroToSevenSendNothing) {
    const std::size_t before = line.trace().size();
    EXPECT_NO_THROW(readBlock(8));
    EXPECT_NO_THROW(readBlock(-1));
    EXPECT_NO_THROW(writeBlock(8));
    EXPECT_NO_THROW(writeBlock(-1));
    EXPECT_EQ(line.trace().size(), before);
    EXPECT_EQ(bank.image(), ConfigImage::defaults());
}

TEST_F(BlockCommandsTest, WriteBlockSendsTheWorkedFramesAndLeavesTheImage) {
    lock.reply(test::AckFrame).reply(test::AckFrame);
    writeBlock(0);
    writeBlock(7);
    ASSERT_EQ(line.writes().size(), 2u);
    const Bytes block0 = test::concat(
        test::concat({0x00, 0x46, 0x4B, 0x00, 0x19}, repeated(63, 0xFF)), {0xCC, 0xB4});
    const Bytes block7 =
        test::concat(test::concat({0x00, 0x46, 0x4B, 0x07}, repeated(64, 0xFF)), {0xE6, 0x6E});
    EXPECT_EQ(line.writes()[0].bytes, block0);
    EXPECT_EQ(line.writes()[1].bytes, block7);
    EXPECT_EQ(headerRead().timeouts.readConstant, 361u + timing::LatencyMarginMs);
    EXPECT_EQ(bank.image(), ConfigImage::defaults());
}

TEST_F(BlockCommandsTest, FinishWriteSendsSAndWantsAnAck) {
    lock.reply(test::AckFrame);
    bank.finishWrite();
    ASSERT_EQ(line.writes().size(), 1u);
    EXPECT_EQ(line.writes()[0].bytes, (Bytes{0x00, 0x05, 0x53, 0x32, 0xAD}));
    EXPECT_EQ(headerRead().timeouts.readConstant, 161u + timing::LatencyMarginMs);
}

// A command that gets no good answer throws CommErr after the requests it is allowed (three
// to silence, one to a wrong answer) and leaves the image as it was.
struct FailedCommand {
    const char* name;
    std::uint8_t command; // 'C' reads `block`, 'K' writes it, 'S' finishes
    int block;
    std::vector<Bytes> answers; // in turn, one per request; none: silence
    std::size_t requests;
};

class FailedCommandTest : public BlockCommandsTest,
                          public ::testing::WithParamInterface<FailedCommand> {};

TEST_P(FailedCommandTest, ThrowsAndKeepsTheImage) {
    const FailedCommand& c = GetParam();
    for (const Bytes& answer : c.answers)
        lock.reply(answer);
    const ConfigImage before = bank.image();
    if (c.command == ReadBlockRequest)
        EXPECT_THROW(readBlock(c.block), CommErr);
    else if (c.command == WriteBlockRequest)
        EXPECT_THROW(writeBlock(c.block), CommErr);
    else
        EXPECT_THROW(bank.finishWrite(), CommErr);
    EXPECT_EQ(line.writes().size(), c.requests);
    EXPECT_EQ(bank.image(), before);
}

const FailedCommand FailedCommands[] = {
    // A reply that is not sixty-four bytes is no block.
    {"ReadAnsweredByAck", ReadBlockRequest, 2, {test::AckFrame}, 1},
    {"ReadAnswered63Bytes", ReadBlockRequest, 2, {frameAround(repeated(63, 0x12))}, 1},
    {"ReadAnswered65Bytes", ReadBlockRequest, 2, {frameAround(repeated(65, 0x12))}, 1},
    {"ReadUnanswered", ReadBlockRequest, 5, {}, 3},
    // Refused, and not asked again although the lock would acknowledge it.
    {"WriteRefusedByNak", WriteBlockRequest, 1, {test::NakFrame, test::AckFrame}, 1},
    {"FinishAnsweredTwoBytes", FinishWriteRequest, 0, {frameAround({0x06, 0x00})}, 1},
    {"FinishUnanswered", FinishWriteRequest, 0, {}, 3},
};
INSTANTIATE_TEST_SUITE_P(Each, FailedCommandTest, ::testing::ValuesIn(FailedCommands),
                         [](const auto& info) { return std::string(info.param.name); });

// The order in which a transfer calls its hooks is what the windows' screen relies on.
class RecordedSteps : public TransferHooks {
public:
    explicit RecordedSteps(const V38Bank& bank) : bank_(bank) {}
    void lockFound() override { steps.push_back(port("found")); }
    void blockDone(int block) override { steps.push_back("block " + std::to_string(block)); }
    void imageRead() override { steps.push_back(port("read")); }
    void failed(int step) override { steps.push_back(port("failed " + std::to_string(step))); }
    std::vector<std::string> steps;

private:
    std::string port(const std::string& step) const {
        return step + (bank_.portNumber() ? " open" : " closed");
    }
    const V38Bank& bank_;
};

TEST(TransferTest, HooksRunBetweenTheStepsAndFailuresLeaveThePortOpen) {
    using Steps = std::vector<std::string>;
    ScriptedSerial line;
    V38Bank bank{line};
    serial::PortScript& lock = line.port(1);

    lock.reply(test::ProbeAnswer);
    for (int b = 0; b < BlockCount; ++b)
        lock.reply(frameAround(repeated(64, static_cast<std::uint8_t>(b))));
    // The second reading, backward and between fences, confirms the first.
    lock.reply(test::ProbeAnswer);
    for (int b = BlockCount - 1; b >= 0; --b)
        lock.reply(frameAround(repeated(64, static_cast<std::uint8_t>(b))));
    lock.reply(test::ProbeAnswer);
    RecordedSteps read(bank);
    EXPECT_EQ(readLock(bank, read).result, TransferResult::Done);
    EXPECT_EQ(read.steps, (Steps{"found open", "block 0", "block 1", "block 2", "block 3",
                                 "block 4", "block 5", "block 6", "block 7", "read open"}));
    EXPECT_EQ(bank.portNumber(), 0);
    EXPECT_EQ(bank.image()[7 * 64], 7);

    // Block 2 goes unanswered: the blocks read before it do not stay in the image.
    lock.reply(test::ProbeAnswer)
        .reply(frameAround(repeated(64, 1)))
        .reply(frameAround(repeated(64, 1)));
    RecordedSteps broken(bank);
    const TransferOutcome failed = readLock(bank, broken);
    EXPECT_EQ(failed.result, TransferResult::CommError);
    EXPECT_EQ(failed.failedStep, 2);
    EXPECT_EQ(broken.steps, (Steps{"found open", "block 0", "block 1", "failed 2 open"}));
    EXPECT_EQ(bank.image(), ConfigImage::defaults());
    EXPECT_EQ(bank.portNumber(), 1);

    // A write refused at 'S' keeps its image and the port.
    lock.reply(test::ProbeAnswer);
    for (int b = 0; b < BlockCount; ++b)
        lock.reply(test::AckFrame);
    lock.reply(test::NakFrame);
    bank.image().fill(0x5A);
    RecordedSteps write(bank);
    EXPECT_EQ(writeLock(bank, write).failedStep, FinishStep);
    EXPECT_EQ(write.steps.front(), "found open");
    EXPECT_EQ(write.steps.back(), "failed 8 open");
    EXPECT_EQ(write.steps.size(), 10u);
    EXPECT_EQ(bank.image(), [] {
        ConfigImage i;
        i.fill(0x5A);
        return i;
    }());
    EXPECT_EQ(bank.portNumber(), 1);
}

} // namespace
} // namespace v38
