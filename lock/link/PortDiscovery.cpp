// Finding the lock: each port of the mask in turn, opened with the lock's line settings,
// given time to settle, and probed twice with the 'M' request.
#include "V38Bank.h"

namespace v38 {

using timing::SettleMs;

bool V38Bank::selectPort(int port) {
    // An open port is used as it is: no reopening, no new set-up, no pause.
    if (portNumber != 0 && port == portNumber)
        return true;
    if (!openPort(port, LockBaud, LockFrameFlags, LockLineFlags, LockQueueSize, LockQueueSize))
        return false;
    system().sleep(SettleMs);
    return true;
}

bool V38Bank::probe() {
    ProbeAnswer answer;
    return probe(answer);
}

bool V38Bank::probe(ProbeAnswer& answer) {
    static_assert(sizeof answer.bytes == ProbeAnswerSize);
    std::uint8_t request[FrameOverhead + ProbeRequestSize];
    const std::uint8_t code = ProbeRequest;
    encodeFrame(&code, ProbeRequestSize, request);
    // No earlier answer is taken for this one.
    if (!dropStaleInput())
        return false;
    const std::uint64_t sentAt = system().milliseconds();
    sendBytes(sizeof request, request);
    answer.received = receiveBytes(ProbeAnswerSize, answer.bytes);
    // An answer that began within the allowance gets the time the rest of it needs.
    if (answer.received > 0 && answer.received < ProbeAnswerSize)
        answer.received +=
            receiveBytes(ProbeAnswerSize - answer.received, answer.bytes + answer.received);
    if (!isProbeAnswer(answer.bytes, answer.received))
        return false;
    // A far end that answers sooner than the line can carry the request and the answer
    // (a simulator on a pseudo-terminal that does not keep the line's pace) is not held
    // to it: the link then does not hold early answers for no answers on this port.
    if (system().milliseconds() < sentAt + lineMs(sizeof request + ProbeAnswerSize)) {
        trace("answers come sooner than the line carries them: the line is not timed");
        lineUntimed();
    }
    return true;
}

bool V38Bank::findLock(std::uint32_t mask) {
    for (int port = MinPort; mask != 0; ++port, mask >>= 1) {
        // A port that a failed transfer left open keeps its doubt: late answers of that
        // transfer may still be on their way.
        const bool leftOpen = portNumber == port;
        if (!(mask & 1) || !selectPort(port))
            continue;
        if (!leftOpen)
            doubtful_ = false;
        const std::uint64_t firstSentAt = system().milliseconds();
        if (probe())
            return true;
        doubt("the first probe unanswered");
        // The first probe may yet be answered, after the second: that answer must not
        // reach the first request on the port that now stays open.
        const std::uint64_t secondSentAt = system().milliseconds();
        if (probe() && awaitLateAnswers(firstSentAt, secondSentAt))
            return true;
        closePort();
    }
    return false;
}

} // namespace v38
