#include "crc16.h"

namespace v38 {

std::uint16_t crc16(const void* data, std::size_t size, std::uint16_t init) {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    std::uint16_t crc = init;
    for (std::size_t i = 0; i < size; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001)
                            : static_cast<std::uint16_t>(crc >> 1);
    }
    return crc;
}

} // namespace v38
