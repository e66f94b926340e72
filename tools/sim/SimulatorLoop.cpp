#include "SimulatorLoop.h"

#include "FaultyReply.h"
#include "HexText.h"
#include "Protocol.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <ostream>
#include <poll.h>
#include <unistd.h>

namespace v38::sim {

namespace {
// Silence on the line that ends a frame for good: far shorter than any client's time-out
// before it sends again, far longer than the gap between bytes of one frame.
constexpr Clock::duration MinFrameGap = std::chrono::milliseconds(20);
} // namespace

SimulatorLoop::SimulatorLoop(int lineFd, SimulatedLock& lock, FaultPlan& faults,
                             const LineSettings& line, std::ostream* log)
    : lineFd_(lineFd), lock_(lock), faults_(faults), line_(line), log_(log), started_(Clock::now()),
      inbound_(line.baud), outbound_(line.baud),
      frameGap_(std::max(MinFrameGap, 3 * inbound_.byteTime())), unaskedPacer_(line.baud) {}

void SimulatorLoop::run(int stopFd, int controlFd) {
    for (;;) {
        Clock::time_point now = Clock::now();
        deliver(now);
        transmit(now);

        pollfd fds[3] = {{lineFd_, POLLIN, 0}, {stopFd, POLLIN, 0}, {controlFd, POLLIN, 0}};
        const nfds_t count = controlFd >= 0 ? 3 : 2;
        const int ready = ::poll(fds, count, pollTimeout(now));
        if (ready < 0 && errno != EINTR)
            return;
        if (ready <= 0)
            continue;
        if (fds[1].revents != 0)
            return;
        if (count == 3 && fds[2].revents != 0) {
            char discard[64];
            const ssize_t n = ::read(controlFd, discard, sizeof discard);
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR))
                return;
        }
        if (fds[0].revents & POLLIN)
            hear(Clock::now());
        else if (fds[0].revents != 0)
            ::usleep(10'000); // a hung-up line: do not spin until it comes back
    }
}

void SimulatorLoop::hear(Clock::time_point now) {
    std::uint8_t chunk[256];
    const ssize_t n = ::read(lineFd_, chunk, sizeof chunk);
    for (ssize_t i = 0; i < n; ++i)
        incoming_.push_back({chunk[i], inbound_.pass(now)});
}

void SimulatorLoop::deliver(Clock::time_point now) {
    std::vector<ParsedBytes> found;
    while (!incoming_.empty() && incoming_.front().due <= now) {
        const TimedByte heard = incoming_.front();
        incoming_.pop_front();
        if (heard.due < busyUntil_) {
            lost_.push_back(heard.byte);
            continue;
        }
        noteLost();
        lastHeard_ = heard.due;
        parser_.feed(heard.byte, found);
        handle(found, heard.due);
        found.clear();
    }
    if (incoming_.empty())
        noteLost();
    if (parser_.holdsBytes() && now >= lastHeard_ + frameGap_) {
        parser_.lineIdle(found);
        handle(found, now);
    }
}

void SimulatorLoop::handle(const std::vector<ParsedBytes>& found, Clock::time_point at) {
    for (const ParsedBytes& part : found) {
        if (part.kind == ParsedBytes::Kind::Garbage)
            note("skip", part.bytes, "not a frame");
        else
            respond(part, at);
    }
}

void SimulatorLoop::respond(const ParsedBytes& frame, Clock::time_point at) {
    const std::vector<std::uint8_t> request = frame.payload();
    FaultKind fault = faults_.next(request);
    // A late lock stays late for every request it hears until the answer that fell
    // behind is out, each request late by a time drawn for it: a lag or a slow reply
    // drawn meanwhile changes nothing. Requests heard after that are answered as usual,
    // in their turn behind the rest.
    const bool lagging = line_.lag || at < queuingUntil_;
    if (lagging && (fault == FaultKind::Lag || fault == FaultKind::Slow))
        fault = FaultKind::None;
    if (line_.lag)
        lag_ = std::chrono::milliseconds(faults_.drawMs(line_.lag->minMs, line_.lag->maxMs));
    else if (lagging || fault == FaultKind::Lag)
        lag_ = std::chrono::milliseconds(faults_.drawLagMs(request));
    const bool late = lagging || fault == FaultKind::Lag;

    const bool takenIn =
        fault == FaultKind::None || fault == FaultKind::Lag || fault == FaultKind::Chatter;
    const OutgoingReply reply = shapeReply(fault, lock_.answer(request, takenIn));
    note("rx", frame.bytes);
    std::string remark =
        fault == FaultKind::None ? std::string() : "fault " + std::string(faultName(fault));
    if (reply.bytes.empty()) {
        note("--", {}, remark);
        return;
    }
    const Clock::duration delay = late ? lag_ : reply.late ? line_.slowDelay : line_.latency;
    // The pacer keeps the answers in order: none starts before the one ahead is out.
    for (std::uint8_t byte : reply.bytes)
        outgoing_.push_back({byte, outbound_.pass(at + delay)});
    const Clock::time_point replyOut = outgoing_.back().due;
    if (late) {
        if (fault == FaultKind::Lag)
            queuingUntil_ = replyOut;
        // Logged when decided on: say when it goes out.
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(replyOut - at);
        remark += (remark.empty() ? "" : ", ") + std::to_string(ms.count()) + " ms late";
    } else {
        busyUntil_ = replyOut;
    }
    if (fault == FaultKind::Chatter) {
        const FaultPlan::Chatter chatter = faults_.drawChatter();
        const std::vector<std::uint8_t> unasked =
            chatter.copy ? reply.bytes : shapeReply(FaultKind::None, {ACK}).bytes;
        const Clock::time_point start = replyOut + std::chrono::milliseconds(chatter.afterMs);
        for (std::uint8_t byte : unasked)
            unasked_.push_back({byte, unaskedPacer_.pass(start)});
        remark += std::string(", ") + (chatter.copy ? "a copy" : "an ACK") + " unasked " +
                  std::to_string(chatter.afterMs) + " ms after";
    }
    note("tx", reply.bytes, remark);
}

void SimulatorLoop::transmit(Clock::time_point now) {
    // The lock's bytes and another device's share the line in the order they are due.
    std::vector<std::uint8_t> due;
    for (;;) {
        const bool lockDue = !outgoing_.empty() && outgoing_.front().due <= now;
        const bool otherDue = !unasked_.empty() && unasked_.front().due <= now;
        if (!lockDue && !otherDue)
            break;
        std::deque<TimedByte>& from =
            lockDue && (!otherDue || outgoing_.front().due <= unasked_.front().due) ? outgoing_
                                                                                    : unasked_;
        due.push_back(from.front().byte);
        from.pop_front();
    }
    if (due.empty())
        return;
    const ssize_t n = ::write(lineFd_, due.data(), due.size());
    // A full queue means nobody has read the line for a long time: like a wire with
    // nobody listening, it loses the bytes rather than holding the lock up.
    if (n < ssize_t(due.size()))
        note("lost", {due.begin() + std::max<ssize_t>(n, 0), due.end()}, "nobody reads the line");
}

int SimulatorLoop::pollTimeout(Clock::time_point now) const {
    std::optional<Clock::time_point> next;
    const auto consider = [&](Clock::time_point t) { next = next ? std::min(*next, t) : t; };
    if (!incoming_.empty())
        consider(incoming_.front().due);
    if (!outgoing_.empty())
        consider(outgoing_.front().due);
    if (!unasked_.empty())
        consider(unasked_.front().due);
    if (parser_.holdsBytes())
        consider(lastHeard_ + frameGap_);
    if (!next)
        return -1;
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(*next - now).count();
    return int(std::clamp<decltype(wait)>(wait, 0, INT_MAX));
}

void SimulatorLoop::noteLost() {
    if (lost_.empty())
        return;
    note("lost", lost_, "came while the lock was answering");
    lost_.clear();
}

void SimulatorLoop::note(const char* what, const std::vector<std::uint8_t>& bytes,
                         const std::string& remark) {
    if (!log_)
        return;
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - started_).count();
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%10.3f ", ms);
    *log_ << stamp << what;
    if (!bytes.empty())
        *log_ << ' ' << hexText(bytes.data(), bytes.size(), " ");
    if (!remark.empty())
        *log_ << (bytes.empty() ? " " : "  ") << '[' << remark << ']';
    *log_ << std::endl;
}

} // namespace v38::sim
