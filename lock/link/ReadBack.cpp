// The fence, and the check of a transfer: the line proven clear by a fence, the image
// read back from the lock, the line proven clear again, and the image compared.
#include "V38Bank.h"

#include <algorithm>
#include <string>

namespace v38 {

namespace {
std::string differingBlocks(const ConfigImage& a, const ConfigImage& b) {
    std::string blocks;
    for (int block = 0; block < BlockCount; ++block) {
        if (!std::equal(a.block(block), a.block(block) + BlockSize, b.block(block)))
            blocks += (blocks.empty() ? "" : ",") + std::to_string(block);
    }
    return blocks;
}
} // namespace

FenceOutcome V38Bank::fence() {
    const auto& request = probeRequestFrame();
    const LineLedger::Mark start = ledger_.mark();
    // What the fence met: whole frames before its answer, or anything else.
    const auto outcome = [&] {
        if (ledger_.cleanSince(start))
            return FenceOutcome::Clear;
        for (const auto& entry : ledger_.since(start))
            if (entry.event != LineEvent::FrameBeforeFence)
                return FenceOutcome::Garbage;
        return FenceOutcome::AfterFrames;
    };
    const auto noAnswer = [&] {
        note(LineEvent::FenceUnanswered, "no fence");
        return FenceOutcome::NoAnswer;
    };
    for (int round = 1; round <= timing::FenceRounds && port_.isOpen(); ++round) {
        if (!dropStaleInput())
            return noAnswer();
        port_.trace("fence " + std::to_string(round));
        const std::uint64_t sentAtUs = nowUs();
        const std::uint64_t sentAt = sentAtUs / 1000;
        if (!sendRequest(request.data(), request.size()))
            continue;
        std::uint64_t waitUntil = sentAt + timing::FenceWaitMs;
        const std::uint64_t giveUpAt = sentAt + timing::FenceLimitMs;
        // Whole frames, one after the other, by their length fields: the frames before
        // the probe's answer are answers to earlier requests.
        std::uint8_t frame[MaxFrame];
        for (;;) {
            std::uint32_t have = 0;
            while (port_.isOpen() && have == 0 && now() < waitUntil)
                have = port_.receiveBytes(1, frame);
            if (have == 0)
                break;
            int size = 0;
            const FrameRead read = completeFrame(frame, have, size);
            if (read != FrameRead::Whole) {
                const std::size_t kept = read == FrameRead::BadLength ? 2 : have;
                if (!throwAway(frame, kept, LineEvent::GarbledAnswer,
                               "no frame while waiting for the fence"))
                    return noAnswer();
                break;
            }
            // A probe's answer sooner than the lock can have given it is another device's.
            if (isProbeAnswer(frame, static_cast<std::size_t>(size)) &&
                !cameTooSoon(sentAtUs, request.size(), static_cast<std::size_t>(size))) {
                std::uint8_t more[MaxFrame];
                if (const std::uint32_t waiting = port_.receiveWaiting(MaxFrame, more);
                    waiting > 0) {
                    if (!throwAway(more, waiting, LineEvent::BytesBehindReply,
                                   "bytes behind the fence"))
                        return noAnswer();
                    break;
                }
                port_.trace("the line is clear");
                return outcome();
            }
            port_.trace("thrown away", frame, static_cast<std::size_t>(size));
            note(LineEvent::FrameBeforeFence, "an earlier answer before the fence");
            const std::uint64_t at = now();
            if (at >= giveUpAt)
                break;
            waitUntil = std::max(waitUntil, std::min(at + timing::FenceWaitMs, giveUpAt));
        }
    }
    return noAnswer();
}

V38Bank::Reading V38Bank::readOnceBetweenFences(Order order,
                                                const std::function<void(int)>& blockRead) {
    Reading reading;
    try {
        if (fence() == FenceOutcome::NoAnswer)
            return reading;
        const LineLedger::Mark blocks = ledger_.mark();
        for (int n = 0; n < BlockCount; ++n) {
            const int block = order == Order::Forward ? n : BlockCount - 1 - n;
            const Block data = readBlock(block);
            std::copy(data.begin(), data.end(), reading.image.block(block));
            if (blockRead)
                blockRead(n);
        }
        // A frame of another device taken for a block would make a reading agree with one
        // that went astray the same way. Only a reading in which no answer came too soon,
        // whose closing fence meets nothing but its own answer, counts (docs/link.md, 6).
        const bool early = ledger_.count(LineEvent::EarlyAnswer, blocks) > 0;
        reading.clean = !early && fence() == FenceOutcome::Clear;
        port_.trace(reading.clean ? "read between fences" : "read between fences: doubtful");
    } catch (const CommErr&) {
        port_.trace("read between fences: failed");
    }
    return reading;
}

V38Bank::Reading V38Bank::readBetweenFences(Order order,
                                            const std::function<void(int)>& blockRead) {
    Reading reading;
    // A reading that met trouble of its own says nothing: once more.
    for (int round = 1; round <= timing::CheckRounds && !reading.clean && port_.isOpen(); ++round)
        reading = readOnceBetweenFences(order, blockRead);
    // A reading that came through clean has proven the line in step with the requests.
    if (reading.clean)
        note(LineEvent::LineInStep, {});
    return reading;
}

bool V38Bank::readBackMatches(const ConfigImage& expected,
                              const std::function<void(int)>& blockRead) {
    const Reading reading = readBetweenFences(Order::Backward, blockRead);
    if (!reading.clean)
        return false;
    if (reading.image == expected) {
        port_.trace("read back: the same");
        return true;
    }
    port_.trace("read back: blocks " + differingBlocks(reading.image, expected) + " differ");
    return false;
}

} // namespace v38
