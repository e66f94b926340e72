#pragma once

#include "Frame.h"
#include "Protocol.h"

#include <cstddef>
#include <cstdint>

// Every time the link keeps to on the line, in one table, with what depends on it. The
// link, the simulator's faults, the fuzzers and the tests take their figures from here;
// docs/link.md says why each holds.
namespace v38::timing {

// The lock's line: 9600 baud, 8 data bits, no parity, one stop bit.
inline constexpr std::int32_t LockBaud = 9600;

// Two ways of counting a byte, for two purposes:
// - a time-out allows 11 bit times a character (room for a parity or second stop bit on
//   any setting), rounded down and plus one: 2 ms at 9600 baud. It is what a read or a
//   write is granted.
// - the line carries a byte in 10 bit times (start, 8 data, stop, no gap): the least
//   time bytes can take, and so the earliest a far end can have heard them.
inline constexpr std::uint16_t charTimeMs(std::int32_t baud) {
    return static_cast<std::uint16_t>(11000 / (baud > 0 ? baud : 1) + 1);
}
inline constexpr std::uint64_t lineUs(std::size_t bytes, std::int32_t baud) {
    return baud > 0 ? std::uint64_t(bytes) * 10000000 / std::uint64_t(baud) : 0;
}
inline constexpr std::uint64_t lineMs(std::size_t bytes, std::int32_t baud) {
    return lineUs(bytes, baud) / 1000;
}

// The constant part of every read and write time-out.
inline constexpr std::uint32_t TimeoutConstantMs = 61;

// Time the lock may think before the header of its reply, beyond the line's own time
// (the extra time of the header's read).
inline constexpr int ReadBlockExtraMs = 200;
inline constexpr int WriteBlockExtraMs = 300;
inline constexpr int FinishWriteExtraMs = 100;

inline constexpr int extraMs(std::uint8_t requestCode) {
    return requestCode == ReadBlockRequest    ? ReadBlockExtraMs
           : requestCode == WriteBlockRequest ? WriteBlockExtraMs
           : requestCode == FinishWriteRequest ? FinishWriteExtraMs
                                               : 0;
}

// What the link waits, after writing a request, for the first bytes of its answer: the
// whole 8-byte answer of a probe, the 2-byte header of any other reply with the
// request's extra time.
inline constexpr std::uint64_t replyAllowanceMs(std::uint8_t requestCode,
                                                std::int32_t baud = LockBaud) {
    const std::uint64_t first = requestCode == ProbeRequest ? ProbeAnswerSize : 2;
    return first * charTimeMs(baud) + TimeoutConstantMs + std::uint64_t(extraMs(requestCode));
}
// Worked examples at 9600 baud, kept literal on purpose.
static_assert(replyAllowanceMs(ProbeRequest) == 77);
static_assert(replyAllowanceMs(ReadBlockRequest) == 265);
static_assert(replyAllowanceMs(WriteBlockRequest) == 365);
static_assert(replyAllowanceMs(FinishWriteRequest) == 165);

// Every allowance for an answer is timed from when its request has crossed the line, and
// has this much more for a USB converter, whose latency timer holds received bytes back
// for up to 16 ms by default and 32 ms on some settings.
inline constexpr std::uint64_t LatencyMarginMs = 32;

// The line's pace is known only to within the tolerance of two UARTs' clocks: a byte is
// taken to cross it in no less than 97% of its nominal time.
inline constexpr std::uint64_t PacePercent = 97;

// Time for the converter and the lock to settle after a port is opened.
inline constexpr std::uint32_t SettleMs = 100;

// Attempts of one request before the exchange fails.
inline constexpr int Attempts = 3;

// Whole frames back to back take at most this long each at the line's speed.
inline constexpr std::uint64_t frameMs(std::uint16_t charTime) {
    return std::uint64_t(charTime) * MaxFrame + TimeoutConstantMs;
}
// A line that talks for longer than a few frames without a pause is no lock answering.
inline constexpr std::uint64_t babbleMs(std::uint16_t charTime) {
    return 4 * frameMs(charTime);
}

// However late the lock is, a late answer is waited out for no longer than this: the
// check of a transfer catches one that comes later still.
inline constexpr std::uint64_t MaxLateMs = 2000;

// A fence: probes sent, and how long its answer may take behind the answers still due
// before it. Each earlier answer that comes moves the wait on, up to the limit.
inline constexpr int FenceRounds = 2;
inline constexpr std::uint64_t FenceWaitMs = 2000;
inline constexpr std::uint64_t FenceLimitMs = 8000;

// Read-backs of a write, and readings that confirm a read, that may be made when one met
// trouble of its own (a reading that came through clean but differs is not made again).
inline constexpr int CheckRounds = 2;
// Readings in all that confirm a read: the first reading, then readings in alternate
// block orders until two in opposite orders agree.
inline constexpr int MaxReadings = 3;

} // namespace v38::timing
