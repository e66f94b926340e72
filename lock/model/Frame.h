#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace v38 {

// A frame, the same in both directions: the total length N (2 bytes, high first, counting
// everything), a payload of 1..128 bytes, then crc16 of the bytes before it, low first.
inline constexpr int MinFrame = 5;
inline constexpr int MaxFrame = 132;
inline constexpr int MaxPayload = 128;
inline constexpr int FrameOverhead = 4; // length and CRC

// Builds the frame of `length` payload bytes (1..128) in out, which has room for
// length + 4 bytes, and returns its size.
std::size_t encodeFrame(const std::uint8_t* payload, int length, std::uint8_t* out);

// The total length that a frame's first two bytes announce.
constexpr int frameLength(const std::uint8_t* header) {
    return header[0] * 256 + header[1];
}

// A frame is whole when crc16 over all of it, its CRC included, gives 0.
bool isWholeFrame(const std::uint8_t* frame, std::size_t size);

// The lock's whole answer to the probe: 8 bytes beginning 00 08 00 E8, no other answer
// has that shape.
bool isProbeAnswer(const std::uint8_t* frame, std::size_t size);

// The probe's request, 'M' in a frame: 00 05 4D B2 A5.
const std::array<std::uint8_t, 5>& probeRequestFrame();

} // namespace v38
