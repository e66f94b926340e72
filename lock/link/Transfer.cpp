#include "Transfer.h"

namespace v38 {

namespace {

// Reads the image back and compares it with `expected`, showing the progress.
bool check(V38Bank& bank, TransferHooks& hooks, const ConfigImage& expected) {
    hooks.checking();
    return bank.readBackMatches(expected, [&hooks](int block) { hooks.blockChecked(block); });
}

// After the last exchange the line is fenced, however smoothly the transfer went: a frame
// of another device, of just the shape an answer has, may have come before the lock's own
// answer and been taken for it, each later answer then pairing with the request after its
// own; the lock's answer to the last request then comes after that request's reply was
// taken, and nothing else shows it. Every frame before the fence's answer is such an
// answer, and makes the transfer doubtful.
TransferOutcome transfer(V38Bank& bank, TransferHooks& hooks, TransferDirection direction) {
    const bool reading = direction == TransferDirection::Read;
    if (!bank.findLock(AllComPorts))
        return {TransferResult::NoLock};
    hooks.lockFound();
    TransferOutcome outcome;
    int step = 0;
    try {
        for (; step < BlockCount; ++step) {
            if (hooks.stopRequested())
                throw CommErr();
            if (reading)
                bank.readBlock(step);
            else
                bank.writeBlock(step);
            hooks.blockDone(step);
        }
        if (hooks.stopRequested()) {
            step = reading ? CheckStep : FinishStep;
            throw CommErr();
        }
        // 'S' may have been taken although its answer was lost, and a doubtful exchange
        // may have paired an answer with the wrong request: the lock's image tells. A
        // read compares it with what it read, a write with what it sent; both are in
        // bank.image, which the check leaves as it was.
        bool finished = true;
        if (!reading) {
            try {
                bank.finishWrite();
            } catch (const CommErr&) {
                finished = false;
            }
        }
        if (!finished || !bank.fence() || bank.doubtful()) {
            outcome.checked = true;
            step = finished ? CheckStep : FinishStep;
            const bool holds = check(bank, hooks, bank.image);
            if (!finished || !holds) {
                outcome.lockHoldsImage = !reading && holds;
                throw CommErr();
            }
        }
        if (reading)
            hooks.imageRead();
        bank.closePort();
    } catch (const CommErr&) {
        if (reading)
            bank.resetImage();
        hooks.failed(step);
        outcome.result = TransferResult::CommError;
        outcome.failedStep = step;
        return outcome;
    }
    return outcome;
}

} // namespace

TransferOutcome readLock(V38Bank& bank, TransferHooks& hooks) {
    return transfer(bank, hooks, TransferDirection::Read);
}

TransferOutcome writeLock(V38Bank& bank, TransferHooks& hooks) {
    return transfer(bank, hooks, TransferDirection::Write);
}

TransferOutcome readLock(V38Bank& bank) {
    TransferHooks none;
    return readLock(bank, none);
}

TransferOutcome writeLock(V38Bank& bank) {
    TransferHooks none;
    return writeLock(bank, none);
}

} // namespace v38
