#pragma once

#include <algorithm>
#include <chrono>

namespace v38::sim {

using Clock = std::chrono::steady_clock;

// One direction of the emulated serial line: each byte takes the time of 10 bits
// (start, 8 data, stop) and cannot start before the one ahead of it has finished.
// A pseudo-terminal moves bytes at once; this puts the wire's time back.
class LinePacer {
public:
    // baud 0: bytes take no time.
    explicit LinePacer(int baud)
        : byteTime_(baud > 0 ? std::chrono::nanoseconds(10'000'000'000LL / baud)
                             : std::chrono::nanoseconds(0)) {}

    Clock::duration byteTime() const { return byteTime_; }

    // When a byte put on the line at `start` has reached the other end.
    Clock::time_point pass(Clock::time_point start) {
        free_ = std::max(start, free_) + byteTime_;
        return free_;
    }

private:
    Clock::duration byteTime_;
    Clock::time_point free_{};
};

} // namespace v38::sim
