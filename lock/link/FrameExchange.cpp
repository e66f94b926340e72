// The request/reply exchange with the lock: one request frame, one reply frame whose
// length and CRC are right, three attempts; and the one frame reader that the exchange
// and the fence share.
#include "V38Bank.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace v38 {

namespace {
using FrameBuffer = std::array<std::uint8_t, MaxFrame>;

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

V38Bank::FrameRead V38Bank::completeFrame(std::uint8_t* frame, std::uint32_t& have, int& size) {
    // A frame that began gets the time its length needs: cut short, its rest would be
    // taken for the start of the next one.
    if (have == 1)
        have += port_.receiveBytes(1, frame + 1);
    if (have < 2)
        return FrameRead::BrokeOff;
    size = frameLength(frame);
    if (size < MinFrame || size > MaxFrame)
        return FrameRead::BadLength;
    const auto rest = static_cast<std::uint32_t>(size - 2);
    const std::uint32_t got = port_.receiveBytes(rest, frame + 2);
    have += got;
    if (got < rest) {
        port_.trace("no rest of the answer in time");
        return FrameRead::BrokeOff;
    }
    if (!isWholeFrame(frame, static_cast<std::size_t>(size)))
        return FrameRead::Damaged;
    return FrameRead::Whole;
}

V38Bank::Attempt V38Bank::attemptExchange(const std::uint8_t* request, std::size_t requestSize,
                                          int expected, int extraTime, std::uint8_t* frame) {
    Attempt attempt;
    const auto garbled = [&](const std::uint8_t* bytes, std::size_t size, LineEvent why,
                             std::string_view detail) {
        attempt.answer = Answer::Garbled;
        if (!throwAway(bytes, size, why, detail))
            throw CommErr(); // a line that never goes quiet carries nothing to trust
        return attempt;
    };
    // Whatever came before the request is no answer to it (docs/link.md, 2).
    if (!dropStaleInput())
        throw CommErr();
    const std::uint64_t sentAtUs = nowUs();
    attempt.sentAt = sentAtUs / 1000;
    const bool sent = sendRequest(request, requestSize);
    attempt.sentEnd = now();
    if (!sent) {
        attempt.answer = Answer::Garbled;
        return attempt;
    }
    // The allowance runs from when the request has crossed the line (docs/link.md, 7).
    std::uint32_t header = receiveWithin(
        frame, 2, answerDeadlineUs(sentAtUs, requestSize, 2, extraTime));
    if (header == 0) {
        port_.trace("no answer in time");
        return attempt;
    }
    // The lock answers only once it has heard the whole request: bytes that came before
    // then are no answer to it (docs/link.md, 3).
    if (header == 2 && cameTooSoon(sentAtUs, requestSize, header))
        return garbled(frame, header, LineEvent::EarlyAnswer,
                       "an answer before the request was out");
    int size = 0;
    switch (completeFrame(frame, header, size)) {
    case FrameRead::BrokeOff:
        return garbled(frame, header, LineEvent::GarbledAnswer, "an answer broke off");
    case FrameRead::BadLength:
        return garbled(frame, 2, LineEvent::GarbledAnswer, "a length out of range");
    case FrameRead::Damaged:
        return garbled(frame, static_cast<std::size_t>(size), LineEvent::GarbledAnswer,
                       "a damaged frame");
    case FrameRead::Whole:
        break;
    }
    if (cameTooSoon(sentAtUs, requestSize, static_cast<std::size_t>(size)))
        return garbled(frame, static_cast<std::size_t>(size), LineEvent::EarlyAnswer,
                       "an answer before the request was out");
    // The lock sends one frame per request and then nothing: more bytes right behind
    // the reply mean another device on the line, or answers out of step with requests.
    FrameBuffer more{};
    if (const std::uint32_t waiting = port_.receiveWaiting(MaxFrame, more.data()); waiting > 0)
        return garbled(more.data(), waiting, LineEvent::BytesBehindReply,
                       "bytes behind a reply");
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
    // taken: those answers are waited out before the line is used again (docs/link.md, 4).
    bool answersDue = false;
    std::uint64_t firstDueSentAt = 0;
    for (int n = 1; n <= timing::Attempts; ++n) {
        port_.trace("attempt " + std::to_string(n) + " of " + what);
        const Attempt attempt =
            attemptExchange(request.data(), requestSize, expected, extraTime, frame.data());
        if (attempt.answer == Answer::Unanswered) {
            note(LineEvent::AttemptUnanswered,
                 "attempt " + std::to_string(n) + " of " + what + " unanswered");
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
