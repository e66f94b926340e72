#include "Frame.h"

#include "Protocol.h"
#include "crc16.h"

#include <cstring>

namespace v38 {

std::size_t encodeFrame(const std::uint8_t* payload, int length, std::uint8_t* out) {
    const auto size = static_cast<std::size_t>(length + FrameOverhead);
    out[0] = static_cast<std::uint8_t>(size >> 8);
    out[1] = static_cast<std::uint8_t>(size & 0xFF);
    std::memcpy(out + 2, payload, static_cast<std::size_t>(length));
    const std::uint16_t crc = crc16(out, size - 2, Crc16Init);
    out[size - 2] = static_cast<std::uint8_t>(crc & 0xFF);
    out[size - 1] = static_cast<std::uint8_t>(crc >> 8);
    return size;
}

bool isWholeFrame(const std::uint8_t* frame, std::size_t size) {
    return crc16(frame, size, Crc16Init) == 0;
}

bool isProbeAnswer(const std::uint8_t* frame, std::size_t size) {
    return size == ProbeAnswerSize &&
           std::memcmp(frame, ProbeAnswerStart, sizeof ProbeAnswerStart) == 0 &&
           isWholeFrame(frame, size);
}

const std::array<std::uint8_t, 5>& probeRequestFrame() {
    static const std::array<std::uint8_t, 5> frame = [] {
        std::array<std::uint8_t, 5> built{};
        encodeFrame(&ProbeRequest, int(ProbeRequestSize), built.data());
        return built;
    }();
    return frame;
}

} // namespace v38
