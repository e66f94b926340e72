// Finding the lock: each port of the mask in turn, opened with the lock's line settings,
// given time to settle, and probed twice with the 'M' request.
#include "V38Bank.h"

#include <algorithm>
#include <string>

namespace v38 {

bool V38Bank::selectPort(int port) {
    // An open port is used as it is: no reopening, no new set-up, no pause. It keeps its
    // account too: late answers of a transfer that failed on it may still be on their way.
    if (port_.isOpen() && port == port_.portNumber())
        return true;
    if (!port_.openPort(port, LockBaud, LockFrameFlags, LockLineFlags, LockQueueSize,
                        LockQueueSize))
        return false;
    portMark_ = ledger_.mark();
    note(LineEvent::PortOpened, {});
    freshPort_ = true;
    echo_ = false;
    port_.system().sleep(timing::SettleMs);
    return true;
}

bool V38Bank::probe() {
    ProbeAnswer answer;
    return probe(answer);
}

bool V38Bank::probe(ProbeAnswer& answer) {
    static_assert(sizeof answer.bytes == ProbeAnswerSize);
    const auto& request = probeRequestFrame();
    // The first probe on a port opened anew, on a quiet line, tells whether the far end
    // keeps the line's pace; no later one may (docs/link.md, 3).
    const bool judgePace = freshPort_;
    freshPort_ = false;
    // No earlier answer is taken for this one.
    if (!dropStaleInput())
        return false;
    const bool quiet = ledger_.cleanSince(portMark_);
    const std::uint64_t sentAtUs = nowUs();
    if (!sendRequest(request.data(), request.size()))
        return false;
    const std::uint64_t deadlineUs =
        answerDeadlineUs(sentAtUs, request.size(), ProbeAnswerSize, 0);
    answer.received = receiveWithin(answer.bytes, ProbeAnswerSize, deadlineUs);
    // A converter that echoes sends the probe's own five bytes back first.
    if (!echo_ && answer.received >= request.size() &&
        std::equal(request.begin(), request.end(), answer.bytes)) {
        echo_ = true;
        answer.echo = true;
        note(LineEvent::EchoFound, "the converter echoes what is sent");
        answer.received -= static_cast<std::uint32_t>(request.size());
        std::copy_n(answer.bytes + request.size(), answer.received, answer.bytes);
        answer.received += receiveWithin(answer.bytes + answer.received,
                                         ProbeAnswerSize - answer.received, deadlineUs);
    }
    answer.echo = echo_;
    // An answer that began within the allowance gets the time the rest of it needs.
    if (answer.received > 0 && answer.received < ProbeAnswerSize)
        answer.received +=
            port_.receiveBytes(ProbeAnswerSize - answer.received, answer.bytes + answer.received);
    if (!isProbeAnswer(answer.bytes, answer.received))
        return false;
    // A far end that answers sooner than the line can carry the request and the answer
    // (a simulator on a pseudo-terminal that does not keep the line's pace) is not held
    // to it: the link then does not hold early answers for no answers on this port.
    if (cameTooSoon(sentAtUs, request.size(), ProbeAnswerSize)) {
        if (judgePace && quiet)
            note(LineEvent::LineNotTimed,
                 "answers come sooner than the line carries them: the line is not timed");
        else
            return false; // another device's frame, not this probe's answer
    }
    return true;
}

bool V38Bank::findLock(std::uint32_t mask) {
    for (int port = MinPort; mask != 0; ++port, mask >>= 1) {
        if (!(mask & 1) || !selectPort(port))
            continue;
        const std::uint64_t firstSentAt = now();
        if (probe())
            return true;
        note(LineEvent::FirstProbeUnanswered, "the first probe unanswered");
        // The first probe may yet be answered, after the second: that answer must not
        // reach the first request on the port that now stays open.
        const std::uint64_t secondSentAt = now();
        if (probe() && awaitLateAnswers(firstSentAt, secondSentAt))
            return true;
        port_.closePort();
    }
    return false;
}

} // namespace v38
