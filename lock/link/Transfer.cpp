#include "Transfer.h"

namespace v38 {

namespace {

TransferOutcome transfer(V38Bank& bank, TransferHooks& hooks, TransferDirection direction) {
    const bool reading = direction == TransferDirection::Read;
    if (!bank.findLock(AllComPorts))
        return {TransferResult::NoLock};
    hooks.lockFound();
    int step = 0;
    try {
        for (; step < BlockCount; ++step) {
            if (reading)
                bank.readBlock(step);
            else
                bank.writeBlock(step);
            hooks.blockDone(step);
        }
        if (reading)
            hooks.imageRead();
        else
            bank.finishWrite();
        bank.closePort();
    } catch (const CommErr&) {
        if (reading)
            bank.resetImage();
        hooks.failed(step);
        return {TransferResult::CommError, step};
    }
    return {TransferResult::Done};
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
