#pragma once

#include "SerialSystem.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace v38::serial {

// Bytes that reach the PC at once, `afterMs` after the write they answer.
struct Burst {
    std::uint64_t afterMs = 0;
    std::vector<std::uint8_t> bytes;
};

// What the far end does about one complete write: zero or more bursts.
using Reaction = std::vector<Burst>;

// The script of one COM port. A port without a script does not exist.
struct PortScript {
    bool busy = false; // exists, but open fails (in use, no access)
    bool configureFails = false;
    bool queuesFail = false;
    // Counted from each open, 1-based; 0 = never.
    int failingTimeoutsCall = 0; // the n-th setTimeouts fails
    int shortWriteCall = 0;      // the n-th write moves only half its bytes
    // One reaction per complete write, in order; once they are used up the port is silent,
    // or, when set, the far end decides from the bytes written (a model of the lock).
    std::deque<Reaction> reactions;
    std::function<Reaction(const std::vector<std::uint8_t>& written)> respond;

    // Queues the answer to the next write, arriving afterMs after it.
    PortScript& reply(std::vector<std::uint8_t> bytes, std::uint64_t afterMs = 0);
    // Queues a reaction in several bursts (a reply that stalls, a late tail).
    PortScript& react(Reaction reaction);
    // The next write gets no answer.
    PortScript& silent();
};

struct WriteRecord {
    int port = 0;
    std::uint64_t at = 0;
    std::vector<std::uint8_t> bytes; // as asked to write
    std::uint32_t written = 0;
};

struct ReadRecord {
    int port = 0;
    std::uint64_t at = 0;   // virtual time when the read started
    std::uint64_t done = 0; // and when it returned
    std::uint32_t asked = 0;
    std::vector<std::uint8_t> bytes; // what it returned
    Timeouts timeouts;               // in force for this read
};

// A serial system for tests and fuzzing: ports that exist or not, answers scripted per
// write, faults on request, and a virtual clock that reads and pauses advance exactly
// as real ones would take, so time-out rules are checked without waiting. Reads follow
// total time-out rules: a read of k bytes ends when k bytes have arrived or after
// k * multiplier + constant ms, with the bytes that arrived by then.
class ScriptedSerial final : public SerialSystem {
public:
    // The script of COM<n>; the port exists from this call on.
    PortScript& port(int n);

    std::uint64_t now() const { return now_; }
    const std::vector<WriteRecord>& writes() const { return writes_; }
    // The reads that wait; a readWaiting shows in the trace only.
    const std::vector<ReadRecord>& reads() const { return reads_; }
    // One line per call, in order, e.g. "open COM3", "sleep 100", "read COM3 8 -> 0".
    const std::vector<std::string>& trace() const { return trace_; }
    // Calls made with a handle that is not open: each is a fault of the caller.
    int misuse() const { return misuse_; }
    // The port open right now, 0 when none.
    int openPort() const;
    // Holds the caller up for `ms` before its call number `call` (0-based; every call
    // but the clock's counts, so that tracing changes nothing): the PC busy elsewhere.
    void stallBefore(std::size_t call, std::uint64_t ms);
    std::size_t calls() const { return calls_; }

    PortHandle open(int port, OpenFailure& failure) override;
    bool configure(PortHandle handle, const LineSettings& settings) override;
    bool setQueues(PortHandle handle, std::uint32_t inQueue, std::uint32_t outQueue) override;
    bool setTimeouts(PortHandle handle, const Timeouts& timeouts) override;
    std::uint32_t write(PortHandle handle, const std::uint8_t* data, std::uint32_t count) override;
    std::uint32_t read(PortHandle handle, std::uint8_t* buffer, std::uint32_t count) override;
    // The bytes that have arrived by now; those still on their way come later.
    std::uint32_t readWaiting(PortHandle handle, std::uint8_t* buffer,
                              std::uint32_t count) override;
    // The scripted line is never unplugged.
    bool hungUp(PortHandle) override { return false; }
    void close(PortHandle handle) override;
    void sleep(std::uint32_t milliseconds) override;
    std::uint64_t microseconds() override { return now_ * 1000; }
    // Scripted answers come when the script says, as soon as the request is written.
    // A script whose far end answers no sooner than a request's last byte has crossed
    // the line at the port's speed says so here, and the link then holds earlier bytes
    // for no answer.
    bool timesTheLine() const override { return timesTheLine_; }
    void setTimesTheLine(bool times) { timesTheLine_ = times; }

private:
    struct Arrival {
        std::uint64_t at;
        std::uint8_t byte;
    };
    struct OpenPort {
        int port = 0;
        Timeouts timeouts;
        std::deque<Arrival> input; // in order of arrival
        int timeoutsCalls = 0;
        int writeCalls = 0;
    };

    void tick();
    OpenPort* find(PortHandle handle, const char* call);
    void deliver(OpenPort& open, const Reaction& reaction);

    std::map<int, PortScript> scripts_;
    std::map<PortHandle, OpenPort> open_;
    PortHandle nextHandle_ = 1;
    std::uint64_t now_ = 0;
    bool timesTheLine_ = false;
    std::vector<WriteRecord> writes_;
    std::vector<ReadRecord> reads_;
    std::vector<std::string> trace_;
    int misuse_ = 0;
    std::size_t calls_ = 0;
    std::size_t stallCall_ = SIZE_MAX;
    std::uint64_t stallMs_ = 0;
};

// "00 05 4D" for the bytes 0x00 0x05 0x4D: how tests print bytes.
std::string hexBytes(const std::vector<std::uint8_t>& bytes);

} // namespace v38::serial
