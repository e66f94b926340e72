// Bytes that no request asked for: read and thrown away (never taken for a reply), and
// recorded, since the transfer is doubtful from then on (docs/link.md, 2).
#include "V38Bank.h"

#include <algorithm>
#include <string>

namespace v38 {

using timing::babbleMs;
using timing::MaxLateMs;
using timing::TimeoutConstantMs;

bool V38Bank::dropStaleInput() {
    std::uint8_t waiting[MaxFrame];
    const std::uint32_t size = port_.receiveWaiting(MaxFrame, waiting);
    return size == 0 ||
           throwAway(waiting, size, LineEvent::StaleBytes, "bytes before a request");
}

bool V38Bank::throwAway(const std::uint8_t* bytes, std::size_t size, LineEvent why,
                        std::string_view detail) {
    note(why, detail);
    const std::uint64_t start = now();
    return readUntilQuiet({bytes, bytes + size}, start, start + babbleMs(port_.charTime()));
}

bool V38Bank::readUntilQuiet(std::vector<std::uint8_t> thrown, std::uint64_t until,
                             std::uint64_t giveUpAt) {
    const std::size_t already = thrown.size();
    bool quiet = true;
    // One byte under the standard time-outs: the read ends as soon as a byte comes,
    // and the line counts as quiet only after a byte's whole allowance without one,
    // far longer than the gap between two bytes of a frame.
    std::uint8_t chunk[MaxFrame];
    while (port_.isOpen()) {
        if (port_.receiveBytes(1, chunk) == 0) {
            if (now() >= until)
                break;
            continue;
        }
        const std::uint32_t more = port_.receiveWaiting(MaxFrame - 1, chunk + 1);
        thrown.insert(thrown.end(), chunk, chunk + 1 + more);
        if (now() >= giveUpAt) {
            quiet = false;
            break;
        }
    }
    if (!thrown.empty())
        port_.trace("thrown away", thrown.data(), thrown.size());
    if (thrown.size() > already)
        note(LineEvent::BytesAfterThrown, "bytes came after");
    if (!quiet)
        port_.trace("the line does not go quiet");
    return quiet;
}

bool V38Bank::awaitLateAnswers(std::uint64_t firstDueSentAt, std::uint64_t lastSentEnd) {
    // Timed from the sending, not from now: a PC held up between two attempts sends the
    // next one late, and its answer comes as late after it.
    const std::uint64_t start = now();
    const std::uint64_t lag = std::min(start - firstDueSentAt, MaxLateMs);
    const std::uint64_t until = lastSentEnd + lag + TimeoutConstantMs;
    port_.trace("waiting for quiet until " + std::to_string(until) + " ms");
    const bool quiet =
        readUntilQuiet({}, until, std::max(until, start) + babbleMs(port_.charTime()));
    if (quiet)
        port_.trace("quiet");
    return quiet;
}

} // namespace v38
