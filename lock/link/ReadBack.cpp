// The check of a doubtful transfer: the line proven clear by a fence, the image read back
// from the lock, the line proven clear again, and the image compared.
#include "V38Bank.h"

#include <algorithm>
#include <string>

namespace v38 {

namespace {
using timing::CheckRounds;
using timing::FenceLimitMs;
using timing::FenceRounds;
using timing::FenceWaitMs;

std::string differingBlocks(const ConfigImage& a, const ConfigImage& b) {
    std::string blocks;
    for (int block = 0; block < BlockCount; ++block) {
        if (!std::equal(a.block(block), a.block(block) + BlockSize, b.block(block)))
            blocks += (blocks.empty() ? "" : ",") + std::to_string(block);
    }
    return blocks;
}
} // namespace

bool V38Bank::fence() {
    std::uint8_t request[FrameOverhead + ProbeRequestSize];
    const std::uint8_t code = ProbeRequest;
    encodeFrame(&code, ProbeRequestSize, request);
    for (int round = 1; round <= FenceRounds && portNumber != 0; ++round) {
        if (!dropStaleInput())
            return false;
        trace("fence " + std::to_string(round));
        const std::uint64_t sentAt = system().milliseconds();
        sendBytes(sizeof request, request);
        std::uint64_t waitUntil = sentAt + FenceWaitMs;
        const std::uint64_t giveUpAt = sentAt + FenceLimitMs;
        // Whole frames, one after the other, by their length fields: the frames before
        // the probe's answer are answers to earlier requests.
        std::uint8_t frame[MaxFrame];
        for (;;) {
            std::uint32_t header = 0;
            while (portNumber != 0 && header == 0 && system().milliseconds() < waitUntil)
                header = receiveBytes(1, frame);
            if (header == 0)
                break;
            header += receiveBytes(1, frame + 1);
            const int size = header == 2 ? frameLength(frame) : 0;
            if (size < MinFrame || size > MaxFrame) {
                if (!throwAway(frame, header, "no frame while waiting for the fence"))
                    return false;
                break;
            }
            const auto rest = static_cast<std::uint32_t>(size - 2);
            const std::uint32_t got = receiveBytes(rest, frame + 2);
            if (got < rest || !isWholeFrame(frame, static_cast<std::size_t>(size))) {
                if (!throwAway(frame, 2 + got, "no frame while waiting for the fence"))
                    return false;
                break;
            }
            if (isProbeAnswer(frame, static_cast<std::size_t>(size))) {
                std::uint8_t more[MaxFrame];
                if (const std::uint32_t waiting = receiveWaiting(MaxFrame, more); waiting > 0) {
                    if (!throwAway(more, waiting, "bytes behind the fence"))
                        return false;
                    break;
                }
                trace("the line is clear");
                return true;
            }
            trace("thrown away", frame, static_cast<std::size_t>(size));
            doubt("an earlier answer before the fence");
            const std::uint64_t now = system().milliseconds();
            if (now >= giveUpAt)
                break;
            waitUntil = std::max(waitUntil, std::min(now + FenceWaitMs, giveUpAt));
        }
    }
    trace("no fence");
    return false;
}

V38Bank::ReadBack V38Bank::readBackOnce(const ConfigImage& expected,
                                         const std::function<void(int)>& blockRead) {
    try {
        if (!fence())
            return ReadBack::Failed;
        const int earlyBefore = earlyAnswers_;
        for (int block = 0; block < BlockCount; ++block) {
            readBlock(block);
            if (blockRead)
                blockRead(block);
        }
        // A frame of another device taken for a block would make a read-back agree with
        // a read that went astray the same way. Taken while its request was still on
        // the way, it showed by its timing; taken after, it shifts every later block by
        // one, and the lock's answer to the last block comes after them. Only a read-back
        // with no early answer, whose fence meets nothing but its own answer, counts.
        const bool early = earlyAnswers_ != earlyBefore;
        doubtful_ = false;
        if (early || !fence() || doubtful_) {
            trace("read back: doubtful");
            return ReadBack::Doubtful;
        }
    } catch (const CommErr&) {
        trace("read back: failed");
        return ReadBack::Doubtful;
    }
    if (image == expected) {
        trace("read back: the same");
        return ReadBack::Same;
    }
    trace("read back: blocks " + differingBlocks(image, expected) + " differ");
    return ReadBack::Different;
}

bool V38Bank::readBackMatches(const ConfigImage& expected,
                              const std::function<void(int)>& blockRead) {
    const ConfigImage kept = expected; // `expected` may be the image itself
    ReadBack result = ReadBack::Doubtful;
    // A read-back that met trouble of its own says nothing either way: once more.
    for (int round = 1; round <= CheckRounds && result == ReadBack::Doubtful; ++round)
        result = readBackOnce(kept, blockRead);
    // A read-back that came through clean has proven the line in step with the requests.
    doubtful_ = result == ReadBack::Doubtful || result == ReadBack::Failed;
    image = kept;
    return result == ReadBack::Same;
}

} // namespace v38
