#pragma once

#include "ConfigImage.h"

#include <bitset>
#include <cstdint>
#include <functional>
#include <vector>

namespace v38::sim {

// The two bytes the simulated lock puts behind 00 E8 in its probe answer.
inline constexpr std::uint8_t LockIdentity[2] = {0x53, 0x01};

// The lock's side of the requests: 'M' probe, 'C' read a block, 'K' stage a block,
// 'S' commit. Blocks written with 'K' are staged and reach the committed image only
// when 'S' comes after all eight were staged, so a write broken off half-way never
// half-changes the lock. A probe starts a new session and forgets what was staged.
// Every request gets a reply payload; what it does not understand gets NAK.
class SimulatedLock {
public:
    // Keeps the committed image where it must survive the lock; false when it could
    // not, and then the commit is refused.
    using Store = std::function<bool(const ConfigImage&)>;

    explicit SimulatedLock(const ConfigImage& committed, Store store = {});

    // The reply payload to a request payload. With act false nothing changes: the
    // reply is the one the lock would give, for a request that it never took in.
    std::vector<std::uint8_t> answer(const std::vector<std::uint8_t>& request, bool act = true);

    const ConfigImage& committed() const { return committed_; }
    bool staged(int block) const { return stagedBlocks_.test(std::size_t(block)); }

private:
    std::vector<std::uint8_t> readBlock(const std::vector<std::uint8_t>& request) const;
    std::vector<std::uint8_t> stageBlock(const std::vector<std::uint8_t>& request, bool act);
    std::vector<std::uint8_t> commit(bool act);

    ConfigImage committed_;
    ConfigImage staging_;
    std::bitset<BlockCount> stagedBlocks_;
    Store store_;
};

} // namespace v38::sim
