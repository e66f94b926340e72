#include "FaultPlan.h"
#include "FaultyReply.h"
#include "Frame.h"
#include "Protocol.h"
#include "SimOptions.h"

#include <gtest/gtest.h>

using namespace v38;
using namespace v38::sim;

namespace {

using Bytes = std::vector<std::uint8_t>;

FaultRule rule(const char* text) {
    std::string error;
    const std::optional<FaultRule> parsed = parseFaultRule(text, error);
    EXPECT_TRUE(parsed) << text << ": " << error;
    return parsed.value_or(FaultRule{});
}

TEST(FaultPlan, ReadsRulesAndRefusesBadOnes) {
    const FaultRule targeted = rule("crc:3@C5");
    EXPECT_EQ(targeted.kind, FaultKind::BadCrc);
    EXPECT_EQ(targeted.remaining, 3);
    EXPECT_TRUE(targeted.selector.matches({'C', 5}));
    EXPECT_FALSE(targeted.selector.matches({'C', 4}));
    EXPECT_FALSE(targeted.selector.matches({'K', 5}));

    const FaultRule plain = rule("slow");
    EXPECT_EQ(plain.kind, FaultKind::Slow);
    EXPECT_EQ(plain.remaining, 1);
    EXPECT_TRUE(plain.selector.matches({}));
    EXPECT_TRUE(rule("nak@S").selector.matches({'S'}));
    EXPECT_FALSE(rule("nak@S").selector.matches({'M'}));

    for (const char* bad : {"", "loud", "crc:0", "crc:x", "crc@C8", "crc@S1", "crc@Q"}) {
        std::string error;
        EXPECT_FALSE(parseFaultRule(bad, error)) << bad;
        EXPECT_FALSE(error.empty());
    }
}

TEST(FaultPlan, AppliesRulesInOrderForTheirCount) {
    FaultPlan plan;
    plan.addRule(rule("nak:2@K3"));
    plan.addRule(rule("silence@K"));
    EXPECT_EQ(plan.next({'K', 2}), FaultKind::Silence);
    EXPECT_EQ(plan.next({'K', 2}), FaultKind::None);
    EXPECT_EQ(plan.next({'C', 3}), FaultKind::None);
    EXPECT_EQ(plan.next({'K', 3}), FaultKind::Nak);
    EXPECT_EQ(plan.next({'K', 3}), FaultKind::Nak);
    EXPECT_EQ(plan.next({'K', 3}), FaultKind::None);
}

TEST(FaultPlan, RandomFaultsFollowTheSeedAndTheRate) {
    std::string error;
    const std::optional<RandomFaults> random = parseRandomFaults("25:nak,crc", error);
    ASSERT_TRUE(random);
    EXPECT_FALSE(parseRandomFaults("101", error));
    EXPECT_FALSE(parseRandomFaults("10:nak,bogus", error));
    EXPECT_EQ(parseRandomFaults("10", error)->kinds.size(), 5u); // all but slow

    FaultPlan first;
    FaultPlan second;
    first.setRandom(*random, 42);
    second.setRandom(*random, 42);
    int faults = 0;
    for (int i = 0; i < 4000; ++i) {
        const FaultKind kind = first.next({'C', 0});
        EXPECT_EQ(kind, second.next({'C', 0}));
        EXPECT_TRUE(kind == FaultKind::None || kind == FaultKind::Nak || kind == FaultKind::BadCrc);
        faults += kind != FaultKind::None;
    }
    EXPECT_NEAR(faults, 1000, 150);
}

TEST(FaultPlan, LagsSpanZeroToThreeTimesWhatTheClientWaitsForTheAnswer) {
    FaultPlan plan;
    plan.setRandom({}, 7);
    // The probe's 8 bytes, and the header of the other answers with their extra time.
    for (const auto& [code, waitMs] :
         std::vector<std::pair<std::uint8_t, int>>{{'M', 77}, {'C', 265}, {'K', 365}, {'S', 165}}) {
        int least = 1 << 30;
        int most = -1;
        for (int i = 0; i < 4000; ++i) {
            const int lag = plan.drawLagMs({code, 0});
            least = std::min(least, lag);
            most = std::max(most, lag);
        }
        EXPECT_GE(least, 0) << code;
        EXPECT_LT(least, waitMs / 10) << code;
        EXPECT_LE(most, 3 * waitMs) << code;
        EXPECT_GT(most, 3 * waitMs - waitMs / 10) << code;
    }
}

// What a client reading the reply would make of it.
TEST(FaultyReply, EachFaultSpoilsTheReplyItsOwnWay) {
    const Bytes ack{ACK};
    const Bytes block(64, 0x5A);

    EXPECT_EQ(shapeReply(FaultKind::None, ack).bytes, (Bytes{0x00, 0x05, 0x06, 0xF2, 0x92}));
    EXPECT_TRUE(shapeReply(FaultKind::Silence, block).bytes.empty());
    EXPECT_EQ(shapeReply(FaultKind::Nak, block).bytes, (Bytes{0x00, 0x05, 0x15, 0xB3, 0x5F}));

    for (const Bytes& payload : {ack, block}) {
        const Bytes good = shapeReply(FaultKind::None, payload).bytes;
        const Bytes crc = shapeReply(FaultKind::BadCrc, payload).bytes;
        EXPECT_EQ(crc.size(), good.size());
        EXPECT_FALSE(isWholeFrame(crc.data(), crc.size()));

        const Bytes length = shapeReply(FaultKind::BadLength, payload).bytes;
        EXPECT_GT(frameLength(length.data()), MaxFrame);
        EXPECT_TRUE(std::equal(good.begin() + 2, good.end(), length.begin() + 2));

        const Bytes truncated = shapeReply(FaultKind::Truncated, payload).bytes;
        EXPECT_GE(truncated.size(), 2u); // the header comes, the rest does not
        EXPECT_LT(truncated.size(), good.size());
        EXPECT_TRUE(std::equal(truncated.begin(), truncated.end(), good.begin()));

        const OutgoingReply slow = shapeReply(FaultKind::Slow, payload);
        EXPECT_TRUE(slow.late);
        EXPECT_EQ(slow.bytes, good);
        EXPECT_FALSE(shapeReply(FaultKind::None, payload).late);
    }
}

TEST(SimOptions, ReadsTheCommandLine) {
    std::string error;
    const std::optional<SimOptions> options =
        parseSimOptions({"--image", "lock.bin", "--baud", "0", "--fault", "crc:2@C1", "--fault",
                         "nak@S", "--random", "10:lag,chatter", "--seed", "99", "--log", "--link",
                         "/tmp/lock", "--lag", "800"},
                        error);
    ASSERT_TRUE(options) << error;
    EXPECT_EQ(options->imagePath, "lock.bin");
    EXPECT_EQ(options->linkPath, "/tmp/lock");
    EXPECT_EQ(options->baud, 0);
    EXPECT_EQ(options->faults.size(), 2u);
    EXPECT_EQ(options->seed, 99u);
    EXPECT_TRUE(options->log);
    EXPECT_EQ(options->lagMinMs, 800);
    EXPECT_EQ(options->lagMaxMs, 800);
    EXPECT_EQ(options->randomFaults->kinds,
              (std::vector<FaultKind>{FaultKind::Lag, FaultKind::Chatter}));
    EXPECT_EQ(parseSimOptions({}, error)->baud, 9600);
    EXPECT_LT(parseSimOptions({}, error)->lagMinMs, 0); // no lag unless asked
    const std::optional<SimOptions> range = parseSimOptions({"--lag", "0-1300"}, error);
    ASSERT_TRUE(range) << error;
    EXPECT_EQ(range->lagMinMs, 0);
    EXPECT_EQ(range->lagMaxMs, 1300);

    for (const std::vector<std::string>& bad :
         std::vector<std::vector<std::string>>{{"--image"},
                                               {"--baud", "-1"},
                                               {"--latency", "3ms"},
                                               {"--lag", "-1"},
                                               {"--lag", "300-200"},
                                               {"--lag", "100-"},
                                               {"--fault", "crc@C9"},
                                               {"--frobnicate"}}) {
        EXPECT_FALSE(parseSimOptions(bad, error)) << bad[0];
        EXPECT_FALSE(error.empty());
    }
}

} // namespace
