#pragma once

#include "V38Bank.h"

namespace v38 {

// The whole configuration to or from the lock: find the lock on COM1..COM16, move
// blocks 0..7 (and end a write with 'S'), close the port. A communication error ends
// the transfer and leaves the port as the link left it, so that the next search takes
// it over. The configurator's windows, v38ctl and the soak all transfer through here.
//
// A frame says nothing of the request it answers, so no transfer is done on the strength
// of its exchanges alone (docs/link.md, 1): a read is done once a second reading of the
// eight blocks, in the other order and between fences, agrees with the first; a write
// once the lock's image, read back between fences after 'S', is exactly what was sent. A
// write whose 'S' failed is read back as well, to tell whether the lock took it.

enum class TransferDirection { Read, Write };

enum class TransferResult {
    Done,
    NoLock,    // no port answered the probe: nothing was sent, the image is untouched
    CommError, // an exchange failed after the lock was found
};

// The step at which a transfer failed: the block 0..7 of the first pass, FinishStep for
// the 'S' command, CheckStep for the second pass (the read's confirmation or the
// write's read-back).
inline constexpr int FinishStep = BlockCount;
inline constexpr int CheckStep = BlockCount + 1;

struct TransferOutcome {
    TransferResult result = TransferResult::Done;
    int failedStep = -1;  // set for CommError only
    bool checked = false; // the second pass ran
    // A write: the lock's image read back was exactly what was sent. With CommError, the
    // lock took it all the same although 'S' failed.
    bool lockHoldsImage = false;
    // A write that failed after 'S' went out, whose read-back could not be made: the lock
    // holds the old image or the new one, whole, and which one could not be told.
    bool lockMayHoldImage = false;
};

// What a caller does between the steps. Each hook runs on the transferring thread,
// in this order: lockFound, blockDone(0..7), checking and blockChecked(n) for the n-th
// block of each reading of the second pass, then imageRead (a read only, before the
// port is closed); or failed(step) once, instead of the rest, when an exchange or the
// second pass failed.
class TransferHooks {
public:
    virtual ~TransferHooks() = default;
    // The lock answered and its port is open; a write sends bank.image after this
    // returns, so this is where the image gets its last changes.
    virtual void lockFound() {}
    virtual void blockDone(int /*block*/) {}
    // The blocks are read again from the lock: the second pass.
    virtual void checking() {}
    virtual void blockChecked(int /*block*/) {}
    // All eight blocks arrived and bank.image holds the lock's configuration.
    virtual void imageRead() {}
    // A read has already reset bank.image to the default configuration: never a
    // mixture of old and new blocks.
    virtual void failed(int /*step*/) {}
    // Asked before each block of the first pass, before 'S' (or the read's second pass)
    // and after each block of the second pass: true ends the transfer there as a
    // CommError, at an exchange boundary, with failed(step).
    virtual bool stopRequested() { return false; }
};

TransferOutcome readLock(V38Bank& bank, TransferHooks& hooks);
TransferOutcome writeLock(V38Bank& bank, TransferHooks& hooks);

// Without hooks.
TransferOutcome readLock(V38Bank& bank);
TransferOutcome writeLock(V38Bank& bank);

} // namespace v38
