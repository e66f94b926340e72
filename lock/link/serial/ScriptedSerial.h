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
    std::uint64_t at = 0;            // virtual time in ms when the write was called
    std::vector<std::uint8_t> bytes; // as asked to write
    std::uint32_t written = 0;
    // When the written bytes began to cross the line and when the last one was over, in
    // microseconds: on a line that is not timed, both when the write was called.
    std::uint64_t lineStartUs = 0;
    std::uint64_t lineEndUs = 0;
};

// One byte reaching the PC's receiver, at a virtual time in microseconds.
struct Arrival {
    std::uint64_t atUs = 0;
    std::uint8_t byte = 0;
};

// When a write call returns: at once, the bytes still in the driver's queue (a USB
// converter, a pseudo-terminal), or only once they have crossed the line, and `lateMs`
// later still (a UART driver that waits for the line, a PC held up right after it).
enum class WriteReturn { AtOnce, AfterLine };

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
//
// The converters between the PC and the lock's line are modelled too: a clock that
// moves in coarse steps, a write that returns late, a converter that echoes what the PC
// sends, and a receiver that hands bytes over only in batches.
class ScriptedSerial final : public SerialSystem {
public:
    // The script of COM<n>; the port exists from this call on.
    PortScript& port(int n);

    // The virtual time, exact, in whole milliseconds and in microseconds.
    std::uint64_t now() const { return nowUs_ / 1000; }
    std::uint64_t nowUs() const { return nowUs_; }
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
    // Stalls before different calls add up; a second one before the same call replaces it.
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
    // Scripted answers come when the script says, as soon as the request is written.
    // A script whose far end answers no sooner than a request's last byte has crossed
    // the line at the port's speed says so here, and the link then holds earlier bytes
    // for no answer.
    bool timesTheLine() const override { return timesTheLine_; }
    void setTimesTheLine(bool times) { timesTheLine_ = times; }

    // --- converters ---
    // The clock the link reads moves in steps of `stepUs` (Windows' tick count: 15600),
    // showing the time of the last step; reads, pauses and arrivals keep exact time.
    void setClockStepUs(std::uint64_t stepUs) { clockStepUs_ = stepUs > 0 ? stepUs : 1; }
    std::uint64_t microseconds() override { return nowUs_ - nowUs_ % clockStepUs_; }
    std::uint64_t clockStepUs() const override { return clockStepUs_; }
    // When a write returns (at once by default). On a timed line a write's bytes cross
    // it at the configured speed, 10 bits a byte, behind those written before them.
    void setWriteReturn(WriteReturn when, std::uint64_t lateMs = 0);
    // Every byte written comes back to the PC as it crosses the line (at once when the
    // line is not timed): a two-wire converter whose receiver stays on.
    void setEcho(bool echo) { echo_ = echo; }
    // Received bytes reach the reader only at whole multiples of `ms` on the clock, as a
    // USB converter's latency timer hands them over; 0 hands every byte over at once.
    void setReceiveBatchMs(std::uint32_t ms) { batchUs_ = std::uint64_t(ms) * 1000; }

    // --- far ends on the virtual clock ---
    // Bytes reaching COM<port>, if it is open, at the given times (through the receive
    // batching); a time already past lands at once, as if between the caller's last look
    // and its next call. For a far end that times its answers itself (`respond` reads
    // writes().back() for the request's line times).
    void arrive(int port, const std::vector<Arrival>& bytes);
    // `bytes` sent on the line of COM<port> from `startUs` on, each reaching the PC once
    // its 10 bits have crossed it at the port's speed; returns when the last is over.
    std::uint64_t transmit(int port, std::uint64_t startUs, const std::vector<std::uint8_t>& bytes);
    // The time `bytes` take on the line of the open COM<port> at its speed, 10 bits a
    // byte: 0 when the line is not timed or the port is not open.
    std::uint64_t lineUs(int port, std::size_t bytes) const;

private:
    struct OpenPort {
        int port = 0;
        Timeouts timeouts;
        std::int32_t baud = 0;      // as configured; 0 until then
        std::uint64_t txFreeUs = 0; // when the bytes written so far are all over the line
        std::deque<Arrival> input;  // in order of arrival, at the times the reader gets them
        int timeoutsCalls = 0;
        int writeCalls = 0;
    };

    void tick();
    OpenPort* find(PortHandle handle, const char* call);
    OpenPort* openAt(int port);
    const OpenPort* openAt(int port) const;
    std::uint64_t lineUs(const OpenPort& open, std::size_t bytes) const;
    void deliver(OpenPort& open, const Reaction& reaction);
    void enqueue(OpenPort& open, std::vector<Arrival> bytes);

    std::map<int, PortScript> scripts_;
    std::map<PortHandle, OpenPort> open_;
    PortHandle nextHandle_ = 1;
    std::uint64_t nowUs_ = 0;
    bool timesTheLine_ = false;
    std::uint64_t clockStepUs_ = 1;
    WriteReturn writeReturn_ = WriteReturn::AtOnce;
    std::uint64_t writeLateUs_ = 0;
    bool echo_ = false;
    std::uint64_t batchUs_ = 0;
    std::vector<WriteRecord> writes_;
    std::vector<ReadRecord> reads_;
    std::vector<std::string> trace_;
    int misuse_ = 0;
    std::size_t calls_ = 0;
    std::map<std::size_t, std::uint64_t> stalls_; // ms before a call
};

// "00 05 4D" for the bytes 0x00 0x05 0x4D: how tests print bytes.
std::string hexBytes(const std::vector<std::uint8_t>& bytes);

} // namespace v38::serial
