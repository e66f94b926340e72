#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace v38 {

// What went over the line and what the link made of it, for support work: each frame
// sent and received, attempts, time-outs, waits for quiet and what was thrown away.
// The link reports to it only when one is set; nothing is traced by default.
class LinkTrace {
public:
    virtual ~LinkTrace() = default;
    // `ms`: the link's monotonic clock. `bytes`: what crossed the line, when the event
    // is about bytes (size 0 otherwise).
    virtual void note(std::uint64_t ms, std::string_view event, const std::uint8_t* bytes,
                      std::size_t size) = 0;
};

} // namespace v38
