// Bytes that no request asked for: read and thrown away (never taken for a reply), and
// what they mean for the transfer: it is doubtful from then on.
#include "V38Bank.h"

#include <algorithm>
#include <string>

namespace v38 {

using timing::babbleMs;
using timing::MaxLateMs;
using timing::TimeoutConstantMs;

void V38Bank::doubt(std::string_view why) {
    trace("doubtful: " + std::string(why));
    doubtful_ = true;
}

bool V38Bank::dropStaleInput() {
    std::uint8_t waiting[MaxFrame];
    const std::uint32_t size = receiveWaiting(MaxFrame, waiting);
    return size == 0 || throwAway(waiting, size, "bytes before a request");
}

bool V38Bank::throwAway(const std::uint8_t* bytes, std::size_t size, std::string_view why) {
    doubt(why);
    const std::uint64_t now = system().milliseconds();
    return readUntilQuiet({bytes, bytes + size}, now, now + babbleMs(charTime));
}

bool V38Bank::readUntilQuiet(std::vector<std::uint8_t> thrown, std::uint64_t until,
                             std::uint64_t giveUpAt) {
    const std::size_t already = thrown.size();
    bool quiet = true;
    // One byte under the standard time-outs: the read ends as soon as a byte comes,
    // and the line counts as quiet only after a byte's whole allowance without one,
    // far longer than the gap between two bytes of a frame.
    std::uint8_t chunk[MaxFrame];
    while (portNumber != 0) {
        if (receiveBytes(1, chunk) == 0) {
            if (system().milliseconds() >= until)
                break;
            continue;
        }
        const std::uint32_t more = receiveWaiting(MaxFrame - 1, chunk + 1);
        thrown.insert(thrown.end(), chunk, chunk + 1 + more);
        if (system().milliseconds() >= giveUpAt) {
            quiet = false;
            break;
        }
    }
    if (!thrown.empty())
        trace("thrown away", thrown.data(), thrown.size());
    if (thrown.size() > already)
        doubt("bytes came after");
    if (!quiet)
        trace("the line does not go quiet");
    return quiet;
}

bool V38Bank::awaitLateAnswers(std::uint64_t firstDueSentAt, std::uint64_t lastSentEnd) {
    // Timed from the sending, not from now: a PC held up between two attempts sends the
    // next one late, and its answer comes as late after it.
    const std::uint64_t now = system().milliseconds();
    const std::uint64_t lag = std::min(now - firstDueSentAt, MaxLateMs);
    const std::uint64_t until = lastSentEnd + lag + TimeoutConstantMs;
    trace("waiting for quiet until " + std::to_string(until) + " ms");
    const bool quiet = readUntilQuiet({}, until, std::max(until, now) + babbleMs(charTime));
    if (quiet)
        trace("quiet");
    return quiet;
}

} // namespace v38
