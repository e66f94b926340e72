#pragma once

#include "FaultPlan.h"
#include "LinePacer.h"
#include "RequestParser.h"
#include "SimulatedLock.h"

#include <deque>
#include <iosfwd>
#include <optional>

namespace v38::sim {

// How late a late lock answers: drawn for each request, both ends included.
struct LagRange {
    int minMs = 0;
    int maxMs = 0;
};

struct LineSettings {
    int baud = 9600;
    Clock::duration latency = std::chrono::milliseconds(3);
    Clock::duration slowDelay = std::chrono::milliseconds(1500);
    std::optional<LagRange> lag; // a late lock: every request answered this late
};

// Serves the lock's end of the line. The lock handles one request at a time: from the
// end of a request until the last byte of its reply is out it does not listen, so
// bytes that arrive meanwhile are lost, as on the lock's half-duplex bus. That keeps
// a late reply from answering a later request: without sequence numbers no client
// could tell them apart. A late lock (the lag mode, or a lag fault) is the exception
// that clients must survive: it hears every request and answers each in its turn. So
// is another device that sends unasked (a chatter fault): its frames go out on their
// own, between or across the lock's.
class SimulatorLoop {
public:
    // `log`, when given, receives every frame in hex.
    SimulatorLoop(int lineFd, SimulatedLock& lock, FaultPlan& faults, const LineSettings& line,
                  std::ostream* log);

    // Runs until stopFd becomes readable, or controlFd (when not -1) reaches its end.
    void run(int stopFd, int controlFd);

private:
    struct TimedByte {
        std::uint8_t byte;
        Clock::time_point due; // when it has crossed the line
    };

    void hear(Clock::time_point now);
    void deliver(Clock::time_point now);
    void handle(const std::vector<ParsedBytes>& found, Clock::time_point at);
    void respond(const ParsedBytes& frame, Clock::time_point at);
    void transmit(Clock::time_point now);
    int pollTimeout(Clock::time_point now) const;
    void note(const char* what, const std::vector<std::uint8_t>& bytes,
              const std::string& remark = {});
    void noteLost();

    int lineFd_;
    SimulatedLock& lock_;
    FaultPlan& faults_;
    LineSettings line_;
    std::ostream* log_;
    Clock::time_point started_;

    RequestParser parser_;
    LinePacer inbound_;
    LinePacer outbound_;
    Clock::duration frameGap_;
    std::deque<TimedByte> incoming_;
    std::deque<TimedByte> outgoing_;
    LinePacer unaskedPacer_;
    std::deque<TimedByte> unasked_; // what another device sends
    Clock::time_point busyUntil_{};
    Clock::time_point queuingUntil_{}; // the answer that fell behind is due: requests queue
    Clock::duration lag_{};            // how late the lock answers the request in hand
    Clock::time_point lastHeard_{};
    std::vector<std::uint8_t> lost_;
};

} // namespace v38::sim
