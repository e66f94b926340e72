#pragma once

#include "V38Bank.h"

namespace v38 {

// The whole configuration to or from the lock: find the lock on COM1..COM16, move
// blocks 0..7 (and end a write with 'S'), close the port. A communication error ends
// the transfer and leaves the port as the link left it, so that the next search takes
// it over. The configurator's windows, v38ctl and the soak all transfer through here.

enum class TransferDirection { Read, Write };

enum class TransferResult {
    Done,
    NoLock,    // no port answered the probe: nothing was sent, the image is untouched
    CommError, // an exchange failed after the lock was found
};

// The step at which a transfer failed: the block 0..7, or FinishStep for the 'S' command.
inline constexpr int FinishStep = BlockCount;

struct TransferOutcome {
    TransferResult result = TransferResult::Done;
    int failedStep = -1; // set for CommError only
};

// What a caller does between the steps. Each hook runs on the transferring thread,
// in this order: lockFound, blockDone(0..7), imageRead (a read only, before the port is
// closed); or failed(step) once, instead of the rest, when an exchange failed.
class TransferHooks {
public:
    virtual ~TransferHooks() = default;
    // The lock answered and its port is open; a write sends bank.image after this
    // returns, so this is where the image gets its last changes.
    virtual void lockFound() {}
    virtual void blockDone(int /*block*/) {}
    // All eight blocks arrived and bank.image holds the lock's configuration.
    virtual void imageRead() {}
    // A read has already reset bank.image to the default configuration: never a
    // mixture of old and new blocks.
    virtual void failed(int /*step*/) {}
};

TransferOutcome readLock(V38Bank& bank, TransferHooks& hooks);
TransferOutcome writeLock(V38Bank& bank, TransferHooks& hooks);

// Without hooks.
TransferOutcome readLock(V38Bank& bank);
TransferOutcome writeLock(V38Bank& bank);

} // namespace v38
