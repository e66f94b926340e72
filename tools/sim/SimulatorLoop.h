#pragma once

#include "FaultPlan.h"
#include "LinePacer.h"
#include "ReceiveConverter.h"
#include "RequestParser.h"
#include "SimulatedLock.h"

#include <array>
#include <deque>
#include <iosfwd>
#include <optional>
#include <random>
#include <utility>

namespace v38::sim {

// How late a late lock answers, or how long a lock thinks: drawn for each request, both
// ends included.
struct LagRange {
    int minMs = 0;
    int maxMs = 0;
};

struct LineSettings {
    int baud = 9600;
    Clock::duration latency = std::chrono::milliseconds(3);
    Clock::duration slowDelay = std::chrono::milliseconds(1500);
    std::optional<LagRange> lag;   // a late lock: every request answered this late
    std::optional<LagRange> think; // instead of latency, a thinking time drawn per request
    bool thinkToAllowance = false; // instead of latency, up to the client's allowance
    int replayPercent = 0;
    bool halfDuplex = false;
    bool echo = false;
    int rxBatchMs = 0;
    bool chunks = false;
    std::uint32_t seed = 1; // the line's own draws: replays, thinking, chunks
};

// Serves the lock's end of the line. The lock handles one request at a time: from the
// end of a request until the last byte of its reply is out it does not listen, so
// bytes that arrive meanwhile are lost, as on the lock's half-duplex bus. That keeps
// a late reply from answering a later request: without sequence numbers no client
// could tell them apart. A late lock (the lag mode, or a lag fault) is the exception
// that clients must survive: it hears every request and answers each in its turn. So
// is another device that sends unasked (a chatter fault, a replay): its frames go out
// on their own, between or across the lock's.
//
// Three senders use the line: the PC, the lock and another device, each one byte after
// another at the line's pace, none waiting for the others. A byte that overlaps another
// sender's on the same pair is lost to every receiver. The lock and another device
// always share their pair; the PC has its own (four wires) unless the line is
// half-duplex (two wires), when all three share one and the lock hears the others too.
// What reaches the PC passes a converter: its echo of the PC's own bytes (on two wires
// only), its latency timer, its chunks.
class SimulatorLoop {
public:
    // `log`, when given, receives every frame in hex.
    SimulatorLoop(int lineFd, SimulatedLock& lock, FaultPlan& faults, const LineSettings& line,
                  std::ostream* log);

    // Runs until stopFd becomes readable, or controlFd (when not -1) reaches its end.
    void run(int stopFd, int controlFd);

private:
    enum class Sender { Pc, Lock, Other };
    struct TimedByte {
        std::uint8_t byte;
        Clock::time_point due; // when it has crossed the line
    };
    struct Span {
        Clock::time_point start;
        Clock::time_point end;
        Sender sender;
    };

    // Each sender's bytes still to cross the line, with the sender.
    template <typename Self> static auto queuesOf(Self& self) {
        return std::array{std::pair{&self.incoming_, Sender::Pc},
                          std::pair{&self.outgoing_, Sender::Lock},
                          std::pair{&self.unasked_, Sender::Other}};
    }

    void hear(Clock::time_point now);
    void pass(Clock::time_point now);
    // A collision that another device took part in was injected; one of the PC and the
    // lock alone is the PC's doing, talking over the lock.
    enum class Collision { None, TalkedOver, Injected };
    Collision collides(Sender sender, const TimedByte& byte) const;
    static const char* collisionText(Collision collision, bool toLock);
    void lockHears(const TimedByte& heard, Collision collision);
    void handle(const std::vector<ParsedBytes>& found, Clock::time_point at);
    void respond(const ParsedBytes& frame, Clock::time_point at);
    Clock::duration thinking(std::uint8_t code);
    void replayMaybe(Clock::time_point now, Clock::duration window);
    void transmit(Clock::time_point now);
    std::optional<Clock::duration> pollTimeout(Clock::time_point now) const;
    void note(const char* what, const std::vector<std::uint8_t>& bytes,
              const std::string& remark = {});
    void noteLost();
    void noteLostToPc();

    int lineFd_;
    SimulatedLock& lock_;
    FaultPlan& faults_;
    LineSettings line_;
    std::ostream* log_;
    Clock::time_point started_;
    std::mt19937 random_; // the line's draws, apart from the faults' so as not to shift them

    RequestParser parser_;
    LinePacer inbound_;
    LinePacer outbound_;
    Clock::duration frameGap_;
    std::deque<TimedByte> incoming_;
    std::deque<TimedByte> outgoing_;
    LinePacer unaskedPacer_;
    std::deque<TimedByte> unasked_; // what another device sends
    std::deque<Span> spans_;        // the last bytes that crossed the line
    ReceiveConverter converter_;
    std::deque<std::vector<std::uint8_t>> sent_; // the lock's last well-formed answers
    Clock::time_point busyUntil_{};
    Clock::time_point queuingUntil_{}; // the answer that fell behind is due: requests queue
    Clock::duration lag_{};            // how late the lock answers the request in hand
    Clock::time_point lastHeard_{};
    std::vector<std::uint8_t> lost_;
    const char* lostWhy_ = "";
    std::vector<std::uint8_t> lostToPc_;
    const char* lostToPcWhy_ = "";
};

} // namespace v38::sim
