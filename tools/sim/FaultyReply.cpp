#include "FaultyReply.h"

#include "Frame.h"
#include "Protocol.h"

namespace v38::sim {

namespace {
std::vector<std::uint8_t> frameOf(const std::vector<std::uint8_t>& payload) {
    std::vector<std::uint8_t> frame(payload.size() + FrameOverhead);
    encodeFrame(payload.data(), int(payload.size()), frame.data());
    return frame;
}
} // namespace

OutgoingReply shapeReply(FaultKind kind, const std::vector<std::uint8_t>& payload) {
    OutgoingReply reply;
    switch (kind) {
    case FaultKind::Silence:
        return reply;
    case FaultKind::Nak:
        reply.bytes = frameOf({NAK});
        return reply;
    case FaultKind::None:
    case FaultKind::BadCrc:
    case FaultKind::BadLength:
    case FaultKind::Truncated:
    case FaultKind::Slow:
    case FaultKind::Lag:
    case FaultKind::Chatter:
    case FaultKind::Twice:
        break;
    }
    reply.bytes = frameOf(payload);
    switch (kind) {
    case FaultKind::BadCrc:
        reply.bytes.back() ^= 0xFF;
        break;
    case FaultKind::BadLength:
        // Frames are at most 132 bytes long, so the high byte is 0: adding 256 always
        // puts the length out of range.
        reply.bytes[0] += 1;
        break;
    case FaultKind::Truncated:
        reply.bytes.resize((reply.bytes.size() + 1) / 2);
        break;
    case FaultKind::Slow:
        reply.late = true;
        break;
    default:
        break;
    }
    return reply;
}

} // namespace v38::sim
