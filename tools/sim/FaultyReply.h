#pragma once

#include "FaultPlan.h"

#include <cstdint>
#include <vector>

namespace v38::sim {

// What goes out on the line in answer to one request.
struct OutgoingReply {
    std::vector<std::uint8_t> bytes; // empty: nothing goes out
    bool late = false;               // held back until the client has stopped waiting
};

// The reply frame for `payload`, spoiled the way `kind` says.
OutgoingReply shapeReply(FaultKind kind, const std::vector<std::uint8_t>& payload);

} // namespace v38::sim
