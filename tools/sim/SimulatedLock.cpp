#include "SimulatedLock.h"

#include "Protocol.h"

#include <algorithm>

namespace v38::sim {

namespace {
const std::vector<std::uint8_t> Ack{ACK};
const std::vector<std::uint8_t> Nak{NAK};
} // namespace

SimulatedLock::SimulatedLock(const ConfigImage& committed, Store store)
    : committed_(committed), staging_(committed), store_(std::move(store)) {}

std::vector<std::uint8_t> SimulatedLock::answer(const std::vector<std::uint8_t>& request,
                                                bool act) {
    if (request.empty())
        return Nak;
    switch (request[0]) {
    case ProbeRequest:
        if (request.size() != ProbeRequestSize)
            return Nak;
        if (act)
            stagedBlocks_.reset();
        return {ProbeAnswerStart[2], ProbeAnswerStart[3], LockIdentity[0], LockIdentity[1]};
    case ReadBlockRequest:
        return readBlock(request);
    case WriteBlockRequest:
        return stageBlock(request, act);
    case FinishWriteRequest:
        return request.size() == FinishRequestSize ? commit(act) : Nak;
    default:
        return Nak;
    }
}

std::vector<std::uint8_t> SimulatedLock::readBlock(const std::vector<std::uint8_t>& request) const {
    if (request.size() != ReadRequestSize || !isBlock(request[1]))
        return Nak;
    const std::uint8_t* block = committed_.block(request[1]);
    return {block, block + BlockSize};
}

std::vector<std::uint8_t> SimulatedLock::stageBlock(const std::vector<std::uint8_t>& request,
                                                    bool act) {
    if (request.size() != WriteRequestSize || !isBlock(request[1]))
        return Nak;
    if (act) {
        std::copy(request.begin() + 2, request.end(), staging_.block(request[1]));
        stagedBlocks_.set(request[1]);
    }
    return Ack;
}

std::vector<std::uint8_t> SimulatedLock::commit(bool act) {
    // A partial image would mix two configurations.
    if (!stagedBlocks_.all())
        return Nak;
    if (!act)
        return Ack;
    if (store_ && !store_(staging_))
        return Nak;
    committed_ = staging_;
    stagedBlocks_.reset();
    return Ack;
}

} // namespace v38::sim
