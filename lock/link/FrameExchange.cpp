// The request/reply exchange with the lock: one request frame, one reply frame whose
// length and CRC are right, three attempts.
#include "V38Bank.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>

namespace v38 {

namespace {
using timing::Attempts;

using FrameBuffer = std::array<std::uint8_t, MaxFrame>;

// Raises or restores the read allowance of the open port; a port that refuses is dropped.
void changeTimeouts(RS232& port, int extra) {
    if (port.portNumber != 0 && !port.setTimeouts(extra))
        port.dropPort();
}

// "'C' block 3", "'S'": what a request asks, for the trace.
std::string describeRequest(const std::uint8_t* payload, int length) {
    std::string text = "'";
    text += static_cast<char>(payload[0]);
    text += "'";
    if ((payload[0] == ReadBlockRequest || payload[0] == WriteBlockRequest) && length > 1)
        text += " block " + std::to_string(payload[1]);
    return text;
}
} // namespace

V38Bank::Attempt V38Bank::attemptExchange(const std::uint8_t* request, std::size_t requestSize,
                                          int expected, int extraTime, std::uint8_t* frame) {
    Attempt attempt;
    const auto garbled = [&](const std::uint8_t* bytes, std::size_t size, std::string_view why) {
        attempt.answer = Answer::Garbled;
        if (!throwAway(bytes, size, why))
            throw CommErr(); // a line that never goes quiet carries nothing to trust
        return attempt;
    };
    // A frame carries nothing that says which request it answers: whatever came before
    // the request (a late answer to one given up on, a device talking unasked) must not
    // be taken for its reply.
    if (!dropStaleInput())
        throw CommErr();
    attempt.sentAt = system().milliseconds();
    sendBytes(static_cast<std::uint32_t>(requestSize), request);
    attempt.sentEnd = system().milliseconds();
    // The lock answers only once it has heard the whole request. Bytes that come before
    // then are no answer to it: another device's frame, or a late answer to an earlier
    // request, sent while this request was on its way. On a line where one talks at a
    // time, such a request may never have been heard at all, and the answers that follow
    // pair with the wrong requests, one off, until a request that gets no answer evens
    // the count: nothing is left over at the end to show it. Taking them is doubtful.
    const std::uint64_t lineTime = lineMs(requestSize);
    const std::uint64_t heardAt = attempt.sentAt + lineTime;
    std::uint32_t header = 0;
    // Held up past that moment already, the link cannot tell what came while the request
    // was going out from its answer.
    if (lineTime > 0 && attempt.sentEnd >= heardAt) {
        header = receiveWaiting(2, frame);
        if (header > 0)
            doubtEarly("bytes waiting when the request was out");
    }
    // The extra time is for the lock to think before it answers: it covers the header
    // only, the rest of the reply comes under the standard time-outs.
    if (extraTime != 0)
        changeTimeouts(*this, extraTime);
    if (header < 2)
        header += receiveBytes(2 - header, frame + header);
    if (extraTime != 0)
        changeTimeouts(*this, 0);
    if (header > 0 && system().milliseconds() < heardAt)
        doubtEarly("an answer before the request was out");
    if (header == 0) {
        trace("no answer in time");
        return attempt;
    }
    // An answer that began before the deadline gets the time its length needs: cut
    // short, its rest would be taken for the start of the next reply.
    if (header == 1)
        header += receiveBytes(1, frame + 1);
    if (header < 2)
        return garbled(frame, header, "an answer broke off");
    const int size = frameLength(frame);
    if (size < MinFrame || size > MaxFrame)
        return garbled(frame, 2, "a length out of range");
    const auto rest = static_cast<std::uint32_t>(size - 2);
    const std::uint32_t got = receiveBytes(rest, frame + 2);
    if (got < rest) {
        trace("no rest of the answer in time");
        return garbled(frame, 2 + got, "an answer broke off");
    }
    if (!isWholeFrame(frame, static_cast<std::size_t>(size)))
        return garbled(frame, static_cast<std::size_t>(size), "a damaged frame");
    // The lock sends one frame per request and then nothing: more bytes right behind
    // the reply mean another device on the line, or answers out of step with requests.
    FrameBuffer more{};
    if (const std::uint32_t waiting = receiveWaiting(MaxFrame, more.data()); waiting > 0)
        return garbled(more.data(), waiting, "bytes behind a reply");
    // A NAK asks for the same request again; when one byte is expected the caller is a
    // command, for which a NAK is an answer (and a refusal).
    if (size == MinFrame && frame[2] == NAK && expected != 1) {
        attempt.answer = Answer::Refused;
        return attempt;
    }
    attempt.answer = Answer::Reply;
    attempt.payloadSize = size - FrameOverhead;
    return attempt;
}

int V38Bank::transact(int length, const std::uint8_t* payload, int expected, std::uint8_t* reply,
                      int extraTime) {
    if (length < 1 || length > MaxPayload)
        return 0;
    FrameBuffer request{};
    const std::size_t requestSize = encodeFrame(payload, length, request.data());
    const std::string what = describeRequest(payload, length);
    FrameBuffer frame{};
    // A lock that is late answers every attempt, in order. Once an attempt has gone
    // unanswered, every attempt from it on may still be answered after the reply is
    // taken: those answers are waited out before the line is used again.
    bool answersDue = false;
    std::uint64_t firstDueSentAt = 0;
    for (int n = 1; n <= Attempts; ++n) {
        trace("attempt " + std::to_string(n) + " of " + what);
        const Attempt attempt =
            attemptExchange(request.data(), requestSize, expected, extraTime, frame.data());
        if (attempt.answer == Answer::Unanswered) {
            doubt("attempt " + std::to_string(n) + " of " + what + " unanswered");
            if (!answersDue)
                firstDueSentAt = attempt.sentAt;
            answersDue = true;
        }
        if (attempt.answer != Answer::Reply)
            continue;
        if (answersDue && !awaitLateAnswers(firstDueSentAt, attempt.sentEnd))
            throw CommErr();
        // Only bytes that came from the lock reach the caller; behind a shorter payload
        // its buffer keeps what it held.
        const int copied = std::min(std::clamp(expected, 0, MaxPayload), attempt.payloadSize);
        if (copied > 0)
            std::memcpy(reply, frame.data() + 2, static_cast<std::size_t>(copied));
        return attempt.payloadSize;
    }
    throw CommErr();
}

void V38Bank::command(int length, const std::uint8_t* payload, int extraTime) {
    std::uint8_t answer = 0;
    if (transact(length, payload, 1, &answer, extraTime) != 1 || answer != ACK)
        throw CommErr();
}

} // namespace v38
