#pragma once

#include "ConfigImage.h"

#include <cstddef>
#include <cstdint>

namespace v38 {

// The lock's requests: the first payload byte.
inline constexpr std::uint8_t ProbeRequest = 'M';       // are you there?
inline constexpr std::uint8_t ReadBlockRequest = 'C';   // 'C', block: the block's 64 bytes
inline constexpr std::uint8_t WriteBlockRequest = 'K';  // 'K', block, 64 bytes: ACK
inline constexpr std::uint8_t FinishWriteRequest = 'S'; // commit the eight blocks: ACK

// The one-byte answers to a write or a request the lock refuses.
inline constexpr std::uint8_t ACK = 0x06;
inline constexpr std::uint8_t NAK = 0x15;

// Request payload sizes.
inline constexpr std::size_t ProbeRequestSize = 1;
inline constexpr std::size_t ReadRequestSize = 2;
inline constexpr std::size_t WriteRequestSize = 2 + BlockSize;
inline constexpr std::size_t FinishRequestSize = 1;

// The probe's answer is a whole frame of 8 bytes whose payload begins 00 E8; the two
// bytes after that vary from lock to lock.
inline constexpr std::size_t ProbeAnswerSize = 8;
inline constexpr std::uint8_t ProbeAnswerStart[] = {0x00, 0x08, 0x00, 0xE8};

// How long the lock may take to answer each request: LinkTiming.h.

} // namespace v38
