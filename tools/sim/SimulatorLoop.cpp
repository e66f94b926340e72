#include "SimulatorLoop.h"

#include "FaultyReply.h"
#include "HexText.h"
#include "LinkTiming.h"
#include "Protocol.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ostream>
#include <poll.h>
#include <unistd.h>

namespace v38::sim {

namespace {
// Silence on the line that ends a frame for good: far shorter than any client's time-out
// before it sends again, far longer than the gap between bytes of one frame.
constexpr Clock::duration MinFrameGap = std::chrono::milliseconds(20);

// How many of the lock's answers another device may resend, and how far ahead it may.
constexpr std::size_t ReplayedAnswers = 32;
constexpr int ReplayWindowMs = 600;
constexpr Clock::duration AroundRequest = std::chrono::milliseconds(5);

// Spans of bytes kept for telling collisions: more than ever overlap one byte.
constexpr std::size_t KeptSpans = 16;

std::string msText(Clock::duration d) {
    return std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(d).count()) + " ms";
}
} // namespace

SimulatorLoop::SimulatorLoop(int lineFd, SimulatedLock& lock, FaultPlan& faults,
                             const LineSettings& line, std::ostream* log)
    : lineFd_(lineFd), lock_(lock), faults_(faults), line_(line), log_(log), started_(Clock::now()),
      random_(line.seed ^ 0x11e5eedU), inbound_(line.baud), outbound_(line.baud),
      frameGap_(std::max(MinFrameGap, 3 * inbound_.byteTime())), unaskedPacer_(line.baud),
      converter_(line.rxBatchMs, line.chunks, line.seed ^ 0xc0117e2U) {}

void SimulatorLoop::run(int stopFd, int controlFd) {
    for (;;) {
        Clock::time_point now = Clock::now();
        pass(now);
        transmit(now);

        pollfd fds[3] = {{lineFd_, POLLIN, 0}, {stopFd, POLLIN, 0}, {controlFd, POLLIN, 0}};
        const nfds_t count = controlFd >= 0 ? 3 : 2;
        const std::optional<Clock::duration> wait = pollTimeout(now);
        timespec timeout{};
        if (wait) {
            const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(*wait).count();
            timeout.tv_sec = time_t(ns / 1'000'000'000);
            timeout.tv_nsec = long(ns % 1'000'000'000);
        }
        // Finer than poll's milliseconds: the line's times are judged to a fraction of one.
        const int ready = ::ppoll(fds, count, wait ? &timeout : nullptr, nullptr);
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
    if (n <= 0)
        return;
    // The PC starts sending on a quiet line: a moment another device may pick.
    const bool starts = incoming_.empty();
    for (ssize_t i = 0; i < n; ++i)
        incoming_.push_back({chunk[i], inbound_.pass(now)});
    if (starts)
        replayMaybe(now, incoming_.back().due - now + AroundRequest);
}

// Every byte that has crossed the line by `now`, in the order they crossed, to those
// who hear it.
void SimulatorLoop::pass(Clock::time_point now) {
    for (;;) {
        std::deque<TimedByte>* from = nullptr;
        Sender sender = Sender::Pc;
        for (auto [queue, who] : queuesOf(*this)) {
            if (!queue->empty() && queue->front().due <= now &&
                (!from || queue->front().due < from->front().due)) {
                from = queue;
                sender = who;
            }
        }
        if (!from)
            break;
        const TimedByte byte = from->front();
        from->pop_front();
        const Collision collision = collides(sender, byte);
        spans_.push_back({byte.due - inbound_.byteTime(), byte.due, sender});
        if (spans_.size() > KeptSpans)
            spans_.pop_front();
        if (sender == Sender::Pc) {
            // The converter echoes a byte as it crosses the line: out before the lock acts on
            // a request it completes, which may take a while (a commit writes the image file).
            if (line_.echo && collision == Collision::None) {
                converter_.push(byte.byte, byte.due);
                transmit(now);
            }
            lockHears(byte, collision);
            continue;
        }
        const char* why = collision == Collision::None ? nullptr : collisionText(collision, false);
        if (!lostToPc_.empty() && why != lostToPcWhy_)
            noteLostToPc();
        if (why) {
            lostToPcWhy_ = why;
            lostToPc_.push_back(byte.byte);
        } else {
            converter_.push(byte.byte, byte.due);
        }
        // The lock hears other devices only where the line is modelled as one pair.
        if (sender == Sender::Other && line_.halfDuplex)
            lockHears(byte, collision);
    }
    if (incoming_.empty() && unasked_.empty())
        noteLost();
    if (outgoing_.empty() && unasked_.empty())
        noteLostToPc();
    std::vector<ParsedBytes> found;
    if (parser_.holdsBytes() && now >= lastHeard_ + frameGap_) {
        parser_.lineIdle(found);
        handle(found, now);
    }
}

// Which other sender's bytes are on the same pair at any time this one is: those
// already passed, and those still to come. The lock and other devices on the bus always
// share a pair; the PC shares it only on a half-duplex line, else it sends on a pair of
// its own. Another device's bytes count before the lock's: they are the injected fault.
SimulatorLoop::Collision SimulatorLoop::collides(Sender sender, const TimedByte& byte) const {
    const auto apart = [this, sender](Sender other) {
        return other == sender ||
               (!line_.halfDuplex && (other == Sender::Pc || sender == Sender::Pc));
    };
    const Clock::time_point start = byte.due - inbound_.byteTime();
    Collision found = Collision::None;
    const auto hit = [&](Sender other) {
        const bool injected = other == Sender::Other || sender == Sender::Other;
        found = injected ? Collision::Injected : std::max(found, Collision::TalkedOver);
    };
    for (const Span& span : spans_) {
        if (!apart(span.sender) && span.start < byte.due && start < span.end)
            hit(span.sender);
    }
    for (auto [queue, who] : queuesOf(*this)) {
        if (apart(who))
            continue;
        for (const TimedByte& other : *queue) {
            if (other.due - inbound_.byteTime() >= byte.due)
                break;
            if (start < other.due)
                hit(who);
        }
    }
    return found;
}

const char* SimulatorLoop::collisionText(Collision collision, bool toLock) {
    if (collision == Collision::Injected)
        return toLock ? "fault collision, lost to the lock" : "fault collision, lost to the PC";
    return toLock ? "collision of the PC and the lock, lost to the lock"
                  : "collision of the PC and the lock, lost to the PC";
}

void SimulatorLoop::lockHears(const TimedByte& heard, Collision collision) {
    const char* why = heard.due < busyUntil_ ? "came while the lock was thinking or answering"
                      : collision != Collision::None ? collisionText(collision, true)
                                                     : nullptr;
    if (why) {
        if (!lost_.empty() && why != lostWhy_)
            noteLost();
        lostWhy_ = why;
        lost_.push_back(heard.byte);
        return;
    }
    noteLost();
    lastHeard_ = heard.due;
    std::vector<ParsedBytes> found;
    parser_.feed(heard.byte, found);
    handle(found, heard.due);
}

void SimulatorLoop::handle(const std::vector<ParsedBytes>& found, Clock::time_point at) {
    for (const ParsedBytes& part : found) {
        if (part.kind == ParsedBytes::Kind::Garbage)
            note("skip", part.bytes, "not a frame");
        else
            respond(part, at);
    }
}

Clock::duration SimulatorLoop::thinking(std::uint8_t code) {
    if (line_.thinkToAllowance) {
        // What the client allows for the first bytes of the answer, less their own
        // time on the line.
        const std::size_t first = code == ProbeRequest ? ProbeAnswerSize : 2;
        const std::uint64_t allowedUs = timing::replyAllowanceMs(code) * 1000;
        const std::uint64_t lineUs = timing::lineUs(first, line_.baud);
        const std::uint64_t maxUs = allowedUs > lineUs ? allowedUs - lineUs : 0;
        const std::uint64_t us = random_() % 4 == 0 ? maxUs : random_() % (maxUs + 1);
        return std::chrono::microseconds(us);
    }
    if (line_.think) {
        const auto span = std::uint32_t(line_.think->maxMs - line_.think->minMs + 1);
        return std::chrono::milliseconds(line_.think->minMs + int(random_() % span));
    }
    return line_.latency;
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

    const bool takenIn = fault == FaultKind::None || fault == FaultKind::Lag ||
                         fault == FaultKind::Chatter || fault == FaultKind::Twice;
    const OutgoingReply reply = shapeReply(fault, lock_.answer(request, takenIn));
    note("rx", frame.bytes);
    std::string remark =
        fault == FaultKind::None ? std::string() : "fault " + std::string(faultName(fault));
    if (reply.bytes.empty()) {
        note("--", {}, remark);
        return;
    }
    const std::uint8_t code = request.empty() ? 0 : request[0];
    const Clock::duration delay = late ? lag_ : reply.late ? line_.slowDelay : thinking(code);
    // The pacer keeps the answers in order: none starts before the one ahead is out.
    for (std::uint8_t byte : reply.bytes)
        outgoing_.push_back({byte, outbound_.pass(at + delay)});
    Clock::time_point replyOut = outgoing_.back().due;
    if (fault == FaultKind::Twice) {
        const auto gap = std::chrono::milliseconds(faults_.drawRepeatGapMs());
        for (std::uint8_t byte : reply.bytes)
            outgoing_.push_back({byte, outbound_.pass(replyOut + gap)});
        replyOut = outgoing_.back().due;
        remark += ", again " + msText(gap) + " after";
    }
    if (late) {
        if (fault == FaultKind::Lag)
            queuingUntil_ = replyOut;
        // Logged when decided on: say when it goes out.
        remark += (remark.empty() ? "" : ", ") + msText(replyOut - at) + " late";
    } else {
        busyUntil_ = replyOut;
        if (line_.think || line_.thinkToAllowance)
            remark += (remark.empty() ? "thinks " : ", thinks ") + msText(delay);
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
    if (takenIn || fault == FaultKind::Slow) {
        sent_.push_back(reply.bytes);
        if (sent_.size() > ReplayedAnswers)
            sent_.pop_front();
    }
    replayMaybe(at, std::chrono::milliseconds(ReplayWindowMs));
}

// With the replay rate's chance, another device resends one of the lock's earlier
// answers at a moment from `now` to `now + window`; for a window around a request,
// half the time over the next 600 ms instead.
void SimulatorLoop::replayMaybe(Clock::time_point now, Clock::duration window) {
    if (line_.replayPercent <= 0 || sent_.empty() ||
        random_() % 100 >= std::uint32_t(line_.replayPercent))
        return;
    if (random_() % 2 == 0)
        window = std::max(window, Clock::duration(std::chrono::milliseconds(ReplayWindowMs)));
    const auto windowUs = std::chrono::duration_cast<std::chrono::microseconds>(window).count();
    const auto offset = std::chrono::microseconds(random_() % std::uint64_t(windowUs + 1));
    const std::vector<std::uint8_t>& frame = sent_[random_() % sent_.size()];
    for (std::uint8_t byte : frame)
        unasked_.push_back({byte, unaskedPacer_.pass(now + offset)});
    const double ms =
        std::chrono::duration<double, std::milli>(unasked_.back().due - Clock::now()).count();
    char remark[64];
    std::snprintf(remark, sizeof remark, "fault replay, done in %.1f ms", ms);
    note("replay", frame, remark);
}

void SimulatorLoop::transmit(Clock::time_point now) {
    for (const std::vector<std::uint8_t>& piece : converter_.release(now)) {
        const ssize_t n = ::write(lineFd_, piece.data(), piece.size());
        // A full queue means nobody has read the line for a long time: like a wire with
        // nobody listening, it loses the bytes rather than holding the lock up.
        if (n < ssize_t(piece.size()))
            note("lost", {piece.begin() + std::max<ssize_t>(n, 0), piece.end()},
                 "nobody reads the line");
    }
}

std::optional<Clock::duration> SimulatorLoop::pollTimeout(Clock::time_point now) const {
    std::optional<Clock::time_point> next = converter_.nextRelease();
    const auto consider = [&](Clock::time_point t) { next = next ? std::min(*next, t) : t; };
    for (const auto& queue : queuesOf(*this)) {
        if (!queue.first->empty())
            consider(queue.first->front().due);
    }
    if (parser_.holdsBytes())
        consider(lastHeard_ + frameGap_);
    if (!next)
        return std::nullopt;
    return std::max(Clock::duration::zero(), *next - now);
}

void SimulatorLoop::noteLostToPc() {
    if (lostToPc_.empty())
        return;
    note("lost", lostToPc_, lostToPcWhy_);
    lostToPc_.clear();
}

void SimulatorLoop::noteLost() {
    if (lost_.empty())
        return;
    note("lost", lost_, lostWhy_);
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
