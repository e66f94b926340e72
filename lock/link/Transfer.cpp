#include "Transfer.h"

#include <algorithm>

namespace v38 {

namespace {

using Order = V38Bank::Order;

// A read is done only once a reading in the other block order, between fences, agrees
// with the one before it: readings alternate orders, at most MaxReadings in all
// (docs/link.md, 1). The first reading is `image`; it ends as the one confirmed.
void confirmRead(V38Bank& bank, TransferHooks& hooks, ConfigImage& image) {
    Order order = Order::Forward;
    for (int reading = 2; reading <= timing::MaxReadings; ++reading) {
        order = order == Order::Forward ? Order::Backward : Order::Forward;
        const V38Bank::Reading next =
            bank.readBetweenFences(order, [&hooks](int n) { hooks.blockChecked(n); });
        if (!next.clean)
            throw CommErr();
        if (next.image == image)
            return;
        image = next.image;
    }
    throw CommErr();
}

TransferOutcome transfer(V38Bank& bank, TransferHooks& hooks, TransferDirection direction) {
    const bool reading = direction == TransferDirection::Read;
    if (!bank.findLock(AllComPorts))
        return {TransferResult::NoLock};
    hooks.lockFound();
    // The image this transfer moves: what it reads, or what it writes as it stands now.
    ConfigImage image = reading ? ConfigImage::erased() : bank.image();
    TransferOutcome outcome;
    int step = 0;
    try {
        for (; step < BlockCount; ++step) {
            if (hooks.stopRequested())
                throw CommErr();
            if (reading) {
                const Block data = bank.readBlock(step);
                std::copy(data.begin(), data.end(), image.block(step));
            } else {
                Block data{};
                std::copy_n(image.block(step), BlockSize, data.begin());
                bank.writeBlock(step, data);
            }
            hooks.blockDone(step);
        }
        if (hooks.stopRequested()) {
            step = reading ? CheckStep : FinishStep;
            throw CommErr();
        }
        if (reading) {
            step = CheckStep;
            outcome.checked = true;
            hooks.checking();
            confirmRead(bank, hooks, image);
            bank.image() = image;
            hooks.imageRead();
        } else {
            // 'S' may have been taken although its answer was lost: the read-back tells.
            bool finished = true;
            try {
                bank.finishWrite();
            } catch (const CommErr&) {
                finished = false;
            }
            step = finished ? CheckStep : FinishStep;
            outcome.checked = true;
            hooks.checking();
            const V38Bank::Reading back = bank.readBetweenFences(
                Order::Backward, [&hooks](int n) { hooks.blockChecked(n); });
            if (!back.clean) {
                outcome.lockMayHoldImage = true; // 'S' went out: it may have been taken
                throw CommErr();
            }
            outcome.lockHoldsImage = back.image == image;
            if (!finished || !outcome.lockHoldsImage)
                throw CommErr();
        }
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
