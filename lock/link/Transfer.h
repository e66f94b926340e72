#pragma once

#include "V38Bank.h"

namespace v38 {

// The whole configuration to or from the lock: find the lock on COM1..COM16, move
// blocks 0..7 (and end a write with 'S'), close the port. A communication error ends
// the transfer and leaves the port as the link left it, so that the next search takes
// it over. The configurator's windows, v38ctl and the soak all transfer through here.
//
// After its last exchange every transfer fences the line (V38Bank::fence): an answer
// still coming then shows that a reply was paired with the wrong request. A doubtful
// transfer (V38Bank::doubtful) is done only once it has been checked on the same port: a read by reading the image again after a fence and finding it equal, a
// write by reading the lock's image back after 'S' and finding exactly what was sent.
// A write whose 'S' failed is read back as well, to tell whether the lock took it.

enum class TransferDirection { Read, Write };

enum class TransferResult {
    Done,
    NoLock,    // no port answered the probe: nothing was sent, the image is untouched
    CommError, // an exchange failed after the lock was found
};

// The step at which a transfer failed: the block 0..7, FinishStep for the 'S' command,
// CheckStep for the check of a doubtful transfer.
inline constexpr int FinishStep = BlockCount;
inline constexpr int CheckStep = BlockCount + 1;

struct TransferOutcome {
    TransferResult result = TransferResult::Done;
    int failedStep = -1;  // set for CommError only
    bool checked = false; // the transfer was doubtful and the check ran
    // A write that failed at 'S' or in its check, yet the lock's image read back was
    // exactly what was sent: the lock took it all the same.
    bool lockHoldsImage = false;
};

// What a caller does between the steps. Each hook runs on the transferring thread,
// in this order: lockFound, blockDone(0..7), then for a doubtful transfer checking and
// blockChecked(0..7), then imageRead (a read only, before the port is closed); or
// failed(step) once, instead of the rest, when an exchange or the check failed.
class TransferHooks {
public:
    virtual ~TransferHooks() = default;
    // The lock answered and its port is open; a write sends bank.image after this
    // returns, so this is where the image gets its last changes.
    virtual void lockFound() {}
    virtual void blockDone(int /*block*/) {}
    // The blocks are read again from the lock to check a doubtful transfer.
    virtual void checking() {}
    virtual void blockChecked(int /*block*/) {}
    // All eight blocks arrived and bank.image holds the lock's configuration.
    virtual void imageRead() {}
    // A read has already reset bank.image to the default configuration: never a
    // mixture of old and new blocks.
    virtual void failed(int /*step*/) {}
    // Asked before each block and before 'S' (or the read's closing check): true ends
    // the transfer there as a CommError, at an exchange boundary, with failed(step).
    virtual bool stopRequested() { return false; }
};

TransferOutcome readLock(V38Bank& bank, TransferHooks& hooks);
TransferOutcome writeLock(V38Bank& bank, TransferHooks& hooks);

// Without hooks.
TransferOutcome readLock(V38Bank& bank);
TransferOutcome writeLock(V38Bank& bank);

} // namespace v38
