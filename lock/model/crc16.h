#pragma once

#include <cstddef>
#include <cstdint>

namespace v38 {

// CRC-16/MODBUS: reflected polynomial 0xA001, no final XOR. Callers start from 0xFFFF.
// The CRC travels low byte first, so data followed by its CRC gives 0: that is how
// every receiver (frames, probe answers, configuration files) checks what it got.
std::uint16_t crc16(const void* data, std::size_t size, std::uint16_t init);

inline constexpr std::uint16_t Crc16Init = 0xFFFF;

} // namespace v38
