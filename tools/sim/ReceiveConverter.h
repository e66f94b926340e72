#pragma once

#include "LinePacer.h"

#include <cstdint>
#include <deque>
#include <optional>
#include <random>
#include <vector>

namespace v38::sim {

// The PC's side of a USB serial converter: when bytes that have crossed the line reach
// the PC's read calls. Plain, each byte as soon as it has crossed. With a latency
// timer (batchMs > 0), as a converter that sends the PC what it holds when its timer
// runs out or its packet is full: the timer starts at the first byte that waits and
// fires every batchMs while bytes keep coming; a full packet (BatchBytes) goes at
// once. With chunks, what is released goes in pieces of 1 to MaxChunk bytes, a
// piece when it is full or the line has been quiet ChunkQuiet, each piece 0.1 to
// 0.6 ms after the one before, as from converters that pass on whatever they hold.
class ReceiveConverter {
public:
    static constexpr std::size_t BatchBytes = 62;
    static constexpr std::size_t MaxChunk = 8;
    static constexpr Clock::duration ChunkQuiet = std::chrono::milliseconds(2);

    ReceiveConverter(int batchMs, bool chunks, std::uint32_t seed)
        : batch_(std::chrono::milliseconds(batchMs)), chunks_(chunks), random_(seed) {}

    // A byte that crossed the line at `crossed`; bytes come in the order they crossed.
    void push(std::uint8_t byte, Clock::time_point crossed);
    // The pieces due by `now`, each to be handed over in a write of its own.
    std::vector<std::vector<std::uint8_t>> release(Clock::time_point now);
    // When the next piece is due, if any waits.
    std::optional<Clock::time_point> nextRelease() const;

private:
    struct Waiting {
        std::uint8_t byte;
        Clock::time_point crossed;
    };
    void runTimer(Clock::time_point now);
    void toChunker(std::uint8_t byte, Clock::time_point at);
    void closePiece(Clock::time_point when);
    std::optional<Clock::time_point> nextTimer() const;

    Clock::duration batch_;
    bool chunks_;
    std::mt19937 random_;

    std::deque<Waiting> batched_; // waiting for the latency timer
    std::optional<Clock::time_point> timerOrigin_;
    int timerTicks_ = 0; // ticks of the timer so far since its origin

    struct Piece {
        std::vector<std::uint8_t> bytes;
        Clock::time_point due;
    };
    std::deque<Piece> pieces_;       // closed, in order
    std::vector<std::uint8_t> open_; // the piece being filled
    std::size_t openSize_ = 0;       // how big it will be
    Clock::time_point openLast_{};   // when its last byte came
    Clock::time_point lastPiece_{};  // when the last piece was handed over
};

} // namespace v38::sim
