#include "SimulatedLock.h"
#include "Protocol.h"

#include <gtest/gtest.h>

using namespace v38;
using namespace v38::sim;

namespace {

using Bytes = std::vector<std::uint8_t>;
const Bytes Ack{ACK};
const Bytes Nak{NAK};

Bytes writeRequest(int block, std::uint8_t fill) {
    Bytes request{'K', std::uint8_t(block)};
    request.resize(66, fill);
    return request;
}

Bytes blockOf(const ConfigImage& image, int block) {
    return {image.block(block), image.block(block) + BlockSize};
}

class SimulatedLockTest : public ::testing::Test {
protected:
    void stageAll(std::uint8_t fill) {
        for (int b = 0; b < BlockCount; ++b)
            ASSERT_EQ(lock.answer(writeRequest(b, std::uint8_t(fill + b))), Ack);
    }

    int stores = 0;
    bool storeWorks = true;
    SimulatedLock lock{ConfigImage::defaults(), [this](const ConfigImage&) {
                           ++stores;
                           return storeWorks;
                       }};
};

TEST_F(SimulatedLockTest, AnswersTheProbeAndReadsCommittedBlocks) {
    EXPECT_EQ(lock.answer({'M'}), (Bytes{0x00, 0xE8, LockIdentity[0], LockIdentity[1]}));
    EXPECT_EQ(lock.answer({'C', 0}), blockOf(ConfigImage::defaults(), 0));
    EXPECT_EQ(lock.answer({'C', 0})[0], DefaultFlags);
    EXPECT_EQ(lock.answer({'C', 7}), Bytes(64, 0xFF));
}

TEST_F(SimulatedLockTest, CommitsOnlyAWholeStagedImage) {
    stageAll(0x10);
    // Staged blocks are not the lock's configuration yet.
    EXPECT_EQ(lock.answer({'C', 2}), Bytes(64, 0xFF));
    EXPECT_EQ(lock.answer({'S'}), Ack);
    EXPECT_EQ(stores, 1);
    for (int b = 0; b < BlockCount; ++b)
        EXPECT_EQ(lock.answer({'C', std::uint8_t(b)}), Bytes(64, std::uint8_t(0x10 + b)));
    // Nothing is staged after a commit: a second 'S' has nothing to commit.
    EXPECT_EQ(lock.answer({'S'}), Nak);
}

TEST_F(SimulatedLockTest, ABrokenWriteNeverReachesTheCommittedImage) {
    for (int b = 0; b < 5; ++b)
        lock.answer(writeRequest(b, 0x22));
    EXPECT_EQ(lock.answer({'S'}), Nak);

    // A new session (probe) forgets the half-staged write, so blocks of the old one
    // never mix into a later commit.
    for (int b = 5; b < BlockCount; ++b)
        lock.answer(writeRequest(b, 0x33));
    lock.answer({'M'});
    lock.answer(writeRequest(0, 0x44));
    EXPECT_EQ(lock.answer({'S'}), Nak);
    EXPECT_EQ(stores, 0);
    EXPECT_EQ(lock.committed(), ConfigImage::defaults());
}

TEST_F(SimulatedLockTest, RefusesTheCommitWhenTheImageCannotBeKept) {
    stageAll(0x50);
    storeWorks = false;
    EXPECT_EQ(lock.answer({'S'}), Nak);
    EXPECT_EQ(lock.committed(), ConfigImage::defaults());
    storeWorks = true;
    EXPECT_EQ(lock.answer({'S'}), Ack);
    EXPECT_EQ(lock.answer({'C', 1}), Bytes(64, 0x51));
}

TEST_F(SimulatedLockTest, ARequestNotActedUponChangesNothing) {
    for (int b = 0; b < BlockCount; ++b)
        EXPECT_EQ(lock.answer(writeRequest(b, 0x60), false), Ack);
    EXPECT_FALSE(lock.staged(0));
    stageAll(0x70);
    EXPECT_EQ(lock.answer({'S'}, false), Ack);
    EXPECT_EQ(lock.answer({'M'}, false).size(), 4u);
    EXPECT_TRUE(lock.staged(7));
    EXPECT_EQ(stores, 0);
    EXPECT_EQ(lock.committed(), ConfigImage::defaults());
}

TEST_F(SimulatedLockTest, NaksWhatItDoesNotUnderstand) {
    Bytes shortWrite = writeRequest(1, 0);
    shortWrite.pop_back();
    const std::vector<Bytes> refused{
        {},       {'X'},      {'M', 0},           {'C'}, {'C', 8}, {'C', 0xFF}, {'C', 0, 0},
        {'S', 0}, shortWrite, writeRequest(8, 0), {ACK}, {NAK},
    };
    for (const Bytes& request : refused)
        EXPECT_EQ(lock.answer(request), Nak) << request.size() << " bytes";
    EXPECT_FALSE(lock.staged(1));
}

} // namespace
