// The request/reply exchange with the lock: one request frame, one reply frame whose
// length and CRC are right, three attempts.
#include "V38Bank.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace v38 {

namespace {
constexpr int Attempts = 3;

using FrameBuffer = std::array<std::uint8_t, MaxFrame>;

// Empties the line of the rest of a garbled reply before the request goes out again.
void flushRead(RS232& port, FrameBuffer& frame) {
    port.receiveBytes(MaxFrame, frame.data());
}

// Raises or restores the read allowance of the open port; a port that refuses is dropped.
void changeTimeouts(RS232& port, int extra) {
    if (port.portNumber != 0 && !port.setTimeouts(extra))
        port.dropPort();
}

struct Attempt {
    int payloadSize = 0;     // of the reply; 0 when the attempt failed
    bool answerLate = false; // failed waiting for the reply, which may still come
};

// One attempt: sends the request and takes the reply into `frame`.
Attempt attemptExchange(RS232& port, const FrameBuffer& request, std::size_t requestSize,
                        int expected, int extraTime, FrameBuffer& frame) {
    // A frame carries nothing that says which request it answers: whatever came before
    // the request (a late answer to one given up on) must not be taken for its reply.
    port.discardInput();
    port.sendBytes(static_cast<std::uint32_t>(requestSize), request.data());
    // The extra time is for the lock to think before it answers: it covers the header
    // only, the rest of the reply comes under the standard time-outs.
    if (extraTime != 0)
        changeTimeouts(port, extraTime);
    const std::uint32_t header = port.receiveBytes(2, frame.data());
    if (extraTime != 0)
        changeTimeouts(port, 0);
    if (header < 2)
        return {0, true};

    const int size = frameLength(frame.data());
    if (size < MinFrame || size > MaxFrame) {
        flushRead(port, frame);
        return {};
    }
    const auto rest = static_cast<std::uint32_t>(size - 2);
    if (port.receiveBytes(rest, frame.data() + 2) < rest)
        return {0, true};
    if (!isWholeFrame(frame.data(), static_cast<std::size_t>(size))) {
        flushRead(port, frame);
        return {};
    }
    // A NAK asks for the same request again; when one byte is expected the caller is a
    // command, for which a NAK is an answer (and a refusal).
    if (size == MinFrame && frame[2] == NAK && expected != 1)
        return {};
    return {size - FrameOverhead, false};
}
} // namespace

std::uint32_t V38Bank::exchangeAllowance(std::size_t requestSize, std::uint32_t replyBytes,
                                         int extraTime) const {
    const std::uint32_t sending =
        charTime * static_cast<std::uint32_t>(requestSize) + TimeoutConstantMs;
    const std::uint32_t waiting = charTime * replyBytes + TimeoutConstantMs +
                                  static_cast<std::uint32_t>(std::max(extraTime, 0));
    return sending + waiting;
}

bool V38Bank::drainLateAnswers(std::uint32_t quietMs, int answersDue) {
    // One byte at a time, so that each read ends as soon as a byte comes and the line
    // counts as quiet only after a whole allowance without one.
    const int extra = static_cast<int>(quietMs) - charTime - static_cast<int>(TimeoutConstantMs);
    changeTimeouts(*this, extra);
    // Each answer still due is one frame at most: a line that has not gone quiet by the
    // time those frames and their quiet take carries something else, and nothing on it
    // can be trusted.
    const std::uint64_t frameMs = std::uint64_t(charTime) * MaxFrame + TimeoutConstantMs;
    const std::uint64_t giveUpAt =
        system().milliseconds() + std::uint64_t(answersDue + 1) * (quietMs + frameMs);
    bool quiet = true;
    std::uint8_t byte = 0;
    for (int due = 0; due < answersDue && quiet; ++due) {
        while (quiet && receiveBytes(1, &byte) == 1)
            quiet = system().milliseconds() <= giveUpAt;
    }
    changeTimeouts(*this, 0);
    return quiet;
}

int V38Bank::transact(int length, const std::uint8_t* payload, int expected, std::uint8_t* reply,
                      int extraTime) {
    if (length < 1 || length > MaxPayload)
        return 0;
    FrameBuffer request{};
    const std::size_t requestSize = encodeFrame(payload, length, request.data());
    FrameBuffer frame{};
    // A frame carries nothing that says which request it answers, and a lock that is
    // late answers every attempt, in order. Once an attempt has given up waiting, every
    // failed attempt from it on may still be answered: counted here, and waited out
    // after success so that no such answer is taken for the reply to the next request.
    int answersDue = 0;
    for (int attempt = 0; attempt < Attempts; ++attempt) {
        const Attempt result =
            attemptExchange(*this, request, requestSize, expected, extraTime, frame);
        if (result.payloadSize == 0) {
            if (result.answerLate || answersDue > 0)
                ++answersDue;
            continue;
        }
        if (answersDue > 0 &&
            !drainLateAnswers(exchangeAllowance(requestSize, 2, extraTime), answersDue))
            throw CommErr();
        // Only bytes that came from the lock reach the caller; behind a shorter payload
        // its buffer keeps what it held.
        const int copied = std::min(std::clamp(expected, 0, MaxPayload), result.payloadSize);
        if (copied > 0)
            std::memcpy(reply, frame.data() + 2, static_cast<std::size_t>(copied));
        return result.payloadSize;
    }
    throw CommErr();
}

void V38Bank::command(int length, const std::uint8_t* payload, int extraTime) {
    std::uint8_t answer = 0;
    if (transact(length, payload, 1, &answer, extraTime) != 1 || answer != ACK)
        throw CommErr();
}

} // namespace v38
