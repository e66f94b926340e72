#pragma once

#include "LinkTrace.h"
#include "crc16.h"
#include "serial/ScriptedSerial.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace v38::test {

using Bytes = std::vector<std::uint8_t>;

// A frame around a payload, built here independently of the code under test.
inline Bytes frameAround(const Bytes& payload) {
    const std::size_t size = payload.size() + 4;
    Bytes frame(size);
    frame[0] = static_cast<std::uint8_t>(size >> 8);
    frame[1] = static_cast<std::uint8_t>(size & 0xFF);
    std::copy(payload.begin(), payload.end(), frame.begin() + 2);
    const std::uint16_t crc = crc16(frame.data(), size - 2, 0xFFFF);
    frame[size - 2] = static_cast<std::uint8_t>(crc & 0xFF);
    frame[size - 1] = static_cast<std::uint8_t>(crc >> 8);
    return frame;
}

inline Bytes repeated(std::size_t count, std::uint8_t byte) {
    return Bytes(count, byte);
}

inline Bytes concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

inline const Bytes AckFrame{0x00, 0x05, 0x06, 0xF2, 0x92};
inline const Bytes NakFrame{0x00, 0x05, 0x15, 0xB3, 0x5F};
inline const Bytes ProbeFrame{0x00, 0x05, 0x4D, 0xB2, 0xA5};
inline const Bytes ProbeAnswer{0x00, 0x08, 0x00, 0xE8, 0x00, 0x00, 0x61, 0xEE};

// The link's own account of what it did, event by event.
class RecordedTrace : public LinkTrace {
public:
    struct Event {
        std::string text;
        Bytes bytes;
    };
    void note(std::uint64_t, std::string_view event, const std::uint8_t* bytes,
              std::size_t size) override {
        events.push_back({std::string(event), Bytes(bytes, bytes + size)});
    }
    // The events whose text begins with `prefix`.
    std::vector<Event> find(std::string_view prefix) const {
        std::vector<Event> found;
        for (const Event& event : events)
            if (event.text.rfind(prefix, 0) == 0)
                found.push_back(event);
        return found;
    }
    std::vector<Event> events;
};

// The trace lines from index `from` on.
inline std::vector<std::string> traceFrom(const serial::ScriptedSerial& line, std::size_t from) {
    const auto& trace = line.trace();
    return {trace.begin() + static_cast<std::ptrdiff_t>(std::min(from, trace.size())), trace.end()};
}

} // namespace v38::test
