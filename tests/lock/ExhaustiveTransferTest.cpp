// What a transfer reports, checked against a model of the lock on a half-duplex line
// rather than against the link's own paths: every placement of one fault, and every pair
// of placements of a few, over every exchange of a read and of a write.
#include "Transfer.h"
#include "V38Bank.h"

#include "ModelLock.h"
#include "LinkTestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace v38 {
namespace {

using serial::ScriptedSerial;
using test::FaultKind;
using test::ModelLock;
using test::LineFault;
using test::ReplayAt;
using test::ReplayOf;

// A stall of the PC before one serial call.
struct Stall {
    std::size_t call = 0;
    std::uint64_t ms = 0;
};

struct Case {
    bool reading = true;
    std::vector<LineFault> faults;
    std::vector<Stall> stalls;
};

const char* replayAtName(ReplayAt at) {
    switch (at) {
    case ReplayAt::WhollyBefore:
        return "wholly before";
    case ReplayAt::OverlappingStart:
        return "over its start";
    case ReplayAt::MidRequest:
        return "mid-request";
    case ReplayAt::LastByte:
        return "at its last byte";
    case ReplayAt::AtEnd:
        return "at its end";
    case ReplayAt::BehindAnswer:
        return "behind the answer";
    case ReplayAt::HalfAllowance:
        return "half the allowance on";
    }
    return "?";
}

std::string describe(const LineFault& fault) {
    const std::string at = " at request " + std::to_string(fault.request);
    switch (fault.kind) {
    case FaultKind::RequestLost:
        return "request lost" + at;
    case FaultKind::AnswerLost:
        return "answer lost" + at;
    case FaultKind::AnswerTwice:
        return "answer twice" + at;
    case FaultKind::Replay:
        return std::string(fault.of == ReplayOf::SameKind ? "same-kind" : "latest") +
               " frame replayed " + replayAtName(fault.at) + at;
    }
    return "?";
}

std::string describe(const Case& c) {
    std::string text = c.reading ? "read:" : "write:";
    for (const LineFault& fault : c.faults)
        text += " " + describe(fault) + ";";
    for (const Stall& stall : c.stalls)
        text += " stall " + std::to_string(stall.ms) + " ms before call " +
                std::to_string(stall.call) + ";";
    return text;
}

// The image a write sends: unlike the lock's in every block, and its blocks unlike each
// other, so that an answer paired with the wrong request shows.
ConfigImage newImage() {
    ConfigImage image;
    for (std::size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<std::uint8_t>(i * 13 + 101);
    return image;
}

enum class Wrong {
    None,
    ReadNotTheLocks,   // a read reported done holds other bytes than the lock's
    WriteNotHeld,      // a write reported done, the lock does not hold what was sent
    FailedWriteMixed,  // a failed write left neither the old image nor the new one
    HoldsImageNotHeld, // lockHoldsImage, yet the lock does not hold the image
};

const char* wrongName(Wrong wrong) {
    switch (wrong) {
    case Wrong::None:
        return "none";
    case Wrong::ReadNotTheLocks:
        return "read done, not the lock's image";
    case Wrong::WriteNotHeld:
        return "write done, the lock does not hold it";
    case Wrong::FailedWriteMixed:
        return "failed write left a mixture";
    case Wrong::HoldsImageNotHeld:
        return "lockHoldsImage, the lock does not hold it";
    }
    return "?";
}

struct CaseResult {
    Wrong wrong = Wrong::None;
    bool done = false;
    std::vector<std::uint8_t> codes;      // the requests on the line
    std::size_t calls = 0;                // serial calls made
    std::vector<std::size_t> afterWrites; // the number of the call after each write
};

// One transfer against a fresh lock; the converter settings, when given, set up the line.
template <typename Setup> CaseResult runCase(const Case& c, Setup setup, LinkTrace* trace) {
    ScriptedSerial line;
    ModelLock lock(line);
    setup(line, lock);
    lock.faults = c.faults;
    for (const Stall& stall : c.stalls)
        line.stallBefore(stall.call, stall.ms);
    V38Bank bank{line};
    bank.setTrace(trace);
    CaseResult run;
    const ConfigImage before = lock.image;
    if (c.reading) {
        bank.image() = ConfigImage::erased();
        const TransferOutcome outcome = readLock(bank);
        run.done = outcome.result == TransferResult::Done;
        if (run.done && bank.image() != lock.image)
            run.wrong = Wrong::ReadNotTheLocks;
    } else {
        bank.image() = newImage();
        const ConfigImage sent = bank.image();
        const TransferOutcome outcome = writeLock(bank);
        run.done = outcome.result == TransferResult::Done;
        if (run.done && lock.image != sent)
            run.wrong = Wrong::WriteNotHeld;
        else if (!run.done && lock.image != before && lock.image != sent)
            run.wrong = Wrong::FailedWriteMixed;
        else if (outcome.lockHoldsImage && lock.image != sent)
            run.wrong = Wrong::HoldsImageNotHeld;
    }
    bank.closePort();
    run.codes = lock.codes();
    run.calls = line.calls();
    // Each call leaves one line in the double's trace, a stall one more.
    std::size_t call = 0;
    for (const std::string& entry : line.trace()) {
        if (entry.rfind("stall", 0) == 0)
            continue;
        ++call;
        if (entry.rfind("write", 0) == 0)
            run.afterWrites.push_back(call);
    }
    return run;
}

CaseResult runCase(const Case& c, LinkTrace* trace) {
    return runCase(
        c, [](ScriptedSerial&, ModelLock&) {}, trace);
}

// The single-fault alphabet at request `k` of a clean run whose requests were `codes`:
// each replay of a frame the lock had sent by then, the latest frame only when it is
// not also the latest of the same kind.
std::vector<LineFault> singleFaultsAt(const std::vector<std::uint8_t>& codes, int k) {
    std::vector<LineFault> faults{
        {FaultKind::RequestLost, k}, {FaultKind::AnswerLost, k}, {FaultKind::AnswerTwice, k}};
    const auto begin = codes.begin();
    const bool sameKindSent = std::find(begin, begin + k, codes[std::size_t(k)]) != begin + k;
    const bool latestDiffers = k > 0 && codes[std::size_t(k) - 1] != codes[std::size_t(k)];
    for (const ReplayAt at : test::AllReplayOffsets) {
        if (sameKindSent)
            faults.push_back({FaultKind::Replay, k, at, ReplayOf::SameKind});
        if (latestDiffers)
            faults.push_back({FaultKind::Replay, k, at, ReplayOf::Latest});
    }
    return faults;
}

// The smaller alphabet of the pairs.
std::vector<LineFault> pairFaultsAt(const std::vector<std::uint8_t>& codes, int k) {
    std::vector<LineFault> faults{
        {FaultKind::RequestLost, k}, {FaultKind::AnswerLost, k}, {FaultKind::AnswerTwice, k}};
    const auto begin = codes.begin();
    if (std::find(begin, begin + k, codes[std::size_t(k)]) != begin + k) {
        faults.push_back({FaultKind::Replay, k, ReplayAt::LastByte, ReplayOf::SameKind});
        faults.push_back({FaultKind::Replay, k, ReplayAt::BehindAnswer, ReplayOf::SameKind});
    }
    return faults;
}

inline constexpr std::uint64_t StallsMs[] = {5, 50, 500};
// The stall of the pairs, before the call that follows a request's write.
inline constexpr std::uint64_t PairStallMs = 500;

struct Tally {
    int cases = 0;
    int done = 0;
    std::map<Wrong, int> wrong;
    std::vector<std::string> examples;
    std::vector<Case> firstWrong; // at most one

    void add(const Case& c, const CaseResult& run, const char* alphabet) {
        ++cases;
        done += run.done;
        if (run.wrong == Wrong::None)
            return;
        ++wrong[run.wrong];
        if (firstWrong.empty())
            firstWrong.push_back(c);
        if (examples.size() < 25)
            examples.push_back(std::string(alphabet) + " " + describe(c) + " -> " +
                               wrongName(run.wrong));
    }
    int wrongCount() const {
        int count = 0;
        for (const auto& entry : wrong)
            count += entry.second;
        return count;
    }
};

// Every placement of one fault (request lost, answer lost, answer twice, a genuine earlier
// frame replayed at seven offsets around the request, a stall of 5, 50 or 500 ms before
// any serial call) over every exchange of a clean read and of a clean write, and every
// pair of placements of request lost, answer lost, answer twice, a same-kind frame
// replayed at the request's last byte or behind its answer, and a 500 ms stall right
// after the request is written. No transfer may report what did not happen. The counts
// are printed; the pairs' alphabet is what to cut if the test grows too slow.
TEST(ExhaustiveTransferTest, NoPlacementOfOneOrTwoFaultsYieldsAFalseSuccess) {
    std::map<std::string, Tally> tallies; // by alphabet and direction
    for (const bool reading : {true, false}) {
        const char* direction = reading ? "read" : "write";
        const CaseResult clean = runCase(Case{reading, {}, {}}, nullptr);
        ASSERT_TRUE(clean.done) << direction << " on a clean line";
        ASSERT_EQ(clean.wrong, Wrong::None);
        const int requests = static_cast<int>(clean.codes.size());

        Tally& single = tallies[std::string(direction) + ", one fault"];
        for (int k = 0; k < requests; ++k)
            for (const LineFault& fault : singleFaultsAt(clean.codes, k)) {
                const Case c{reading, {fault}, {}};
                single.add(c, runCase(c, nullptr), "one fault");
            }
        Tally& stalls = tallies[std::string(direction) + ", one stall"];
        for (std::size_t call = 0; call < clean.calls; ++call)
            for (const std::uint64_t ms : StallsMs) {
                const Case c{reading, {}, {{call, ms}}};
                stalls.add(c, runCase(c, nullptr), "one stall");
            }

        // A placement of the pairs' alphabet: a fault, or a stall right after a request.
        std::vector<Case> placements;
        for (int k = 0; k < requests; ++k) {
            for (const LineFault& fault : pairFaultsAt(clean.codes, k))
                placements.push_back({reading, {fault}, {}});
            placements.push_back({reading, {}, {{clean.afterWrites[std::size_t(k)], PairStallMs}}});
        }
        Tally& pairs = tallies[std::string(direction) + ", two placements"];
        for (std::size_t a = 0; a < placements.size(); ++a)
            for (std::size_t b = a + 1; b < placements.size(); ++b) {
                Case c = placements[a];
                c.faults.insert(c.faults.end(), placements[b].faults.begin(),
                                placements[b].faults.end());
                c.stalls.insert(c.stalls.end(), placements[b].stalls.begin(),
                                placements[b].stalls.end());
                pairs.add(c, runCase(c, nullptr), "two placements");
            }
    }
    int cases = 0;
    int wrong = 0;
    std::vector<std::string> examples;
    std::vector<Case> wrongCases;
    for (const auto& [name, tally] : tallies) {
        wrongCases.insert(wrongCases.end(), tally.firstWrong.begin(), tally.firstWrong.end());
        cases += tally.cases;
        wrong += tally.wrongCount();
        std::printf("%-22s %6d cases, %6d done, %5d false successes", name.c_str(), tally.cases,
                    tally.done, tally.wrongCount());
        for (const auto& [kind, count] : tally.wrong)
            std::printf(" [%s: %d]", wrongName(kind), count);
        std::printf("\n");
        examples.insert(examples.end(), tally.examples.begin(), tally.examples.end());
    }
    std::printf("%d cases in all\n", cases);
    EXPECT_EQ(wrong, 0) << ::testing::PrintToString(examples);
    // The link's own account of the first of them, to start from.
    if (!wrongCases.empty()) {
        test::RecordedTrace trace;
        runCase(wrongCases.front(), &trace);
        std::string text = describe(wrongCases.front()) + "\n";
        for (const auto& event : trace.events)
            text += "  " + event.text + " " + serial::hexBytes(event.bytes) + "\n";
        ADD_FAILURE() << text;
    }
}

// Converters technicians use, on a clean line: a clock with Windows' 15.6 ms steps, a
// two-wire converter that echoes, a USB latency timer of 16 ms, a write call that returns
// a few ms after its bytes crossed the line, a lock that thinks as long as its figures
// let it behind a 32 ms latency timer, and all of them at once. Every read and write
// gets through and does what it says.
TEST(ConverterTest, ReadsAndWritesGetThroughEveryConverterOnACleanLine) {
    struct Converter {
        const char* name;
        std::uint64_t clockStepUs;
        bool echo;
        std::uint32_t batchMs;
        bool lateWrite;
        bool thinksItsExtraTime; // the lock thinks as long as its figures let it
    };
    const Converter converters[] = {
        // clang-format off
        {"coarse clock",      15600, false,  0, false, false},
        {"echo",                  1, true,   0, false, false},
        {"16 ms batches",         1, false, 16, false, false},
        {"late write return",     1, false,  0, true,  false},
        {"slow lock, 32 ms",      1, false, 32, false, true},
        {"all at once",       15600, true,  16, true,  true},
        // clang-format on
    };
    // Past the time the lock takes to think and send an answer's header: it waits.
    constexpr std::uint64_t LateWriteMs = 8;
    // The clock's steps and the latency timer meet the exchanges at every phase.
    constexpr std::uint64_t Phases = 16;
    // A lock in time sees the requests it sees without a converter, none of them twice.
    const std::vector<std::uint8_t> plain[] = {runCase(Case{true, {}, {}}, nullptr).codes,
                                               runCase(Case{false, {}, {}}, nullptr).codes};
    std::vector<std::string> failures;
    for (const Converter& converter : converters) {
        int failed[2] = {0, 0}; // reads, writes
        for (std::uint64_t phaseMs = 0; phaseMs < Phases; ++phaseMs) {
            const auto setup = [&converter, phaseMs](ScriptedSerial& line, ModelLock& lock) {
                line.stallBefore(0, phaseMs);
                line.setClockStepUs(converter.clockStepUs);
                line.setEcho(converter.echo);
                line.setReceiveBatchMs(converter.batchMs);
                if (converter.lateWrite)
                    line.setWriteReturn(serial::WriteReturn::AfterLine, LateWriteMs);
                if (converter.thinksItsExtraTime)
                    lock.thinkUs = [](std::uint8_t code) {
                        return std::uint64_t(timing::extraMs(code)) * 1000;
                    };
            };
            for (const bool reading : {true, false}) {
                const CaseResult run = runCase(Case{reading, {}, {}}, setup, nullptr);
                const bool repeated = run.codes != plain[reading ? 0 : 1];
                if (run.done && run.wrong == Wrong::None && !repeated)
                    continue;
                ++failed[reading ? 0 : 1];
                failures.push_back(std::string(converter.name) + ", phase " +
                                   std::to_string(phaseMs) +
                                   (reading ? " ms, read: " : " ms, write: ") +
                                   (!run.done                  ? "failed"
                                    : run.wrong != Wrong::None ? wrongName(run.wrong)
                                                               : "requests repeated"));
            }
        }
        std::printf("%-18s reads failed %2d of %d, writes failed %2d of %d\n", converter.name,
                    failed[0], int(Phases), failed[1], int(Phases));
    }
    EXPECT_EQ(failures, std::vector<std::string>{});
}

} // namespace
} // namespace v38
