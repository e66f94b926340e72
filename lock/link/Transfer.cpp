#include "Transfer.h"

#include <algorithm>
#include <functional>

namespace v38 {

namespace {

using Order = V38Bank::Order;

// A stop asked for during a second pass: it leaves the pass between two exchanges, past
// the read-back's own retries.
struct StopRequested {};

// Reports each block of a second pass, and ends the pass there when a stop was asked for.
std::function<void(int)> blockChecked(TransferHooks& hooks) {
    return [&hooks](int n) {
        hooks.blockChecked(n);
        if (hooks.stopRequested())
            throw StopRequested();
    };
}

// A read is done only once a reading in the other block order, between fences, agrees
// with the one before it: readings alternate orders, at most MaxReadings in all
// (docs/link.md, 1). The first reading is `image`; it ends as the one confirmed.
void confirmRead(V38Bank& bank, TransferHooks& hooks, ConfigImage& image) {
    Order order = Order::Forward;
    for (int reading = 2; reading <= timing::MaxReadings; ++reading) {
        order = order == Order::Forward ? Order::Backward : Order::Forward;
        const V38Bank::Reading next = bank.readBetweenFences(order, blockChecked(hooks));
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
    const auto failedAt = [&](int at) {
        if (reading)
            bank.resetImage();
        hooks.failed(at);
        outcome.result = TransferResult::CommError;
        outcome.failedStep = at;
        return outcome;
    };
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
            // From here on the lock may hold the new image: 'S' went out.
            outcome.lockMayHoldImage = true;
            const V38Bank::Reading back =
                bank.readBetweenFences(Order::Backward, blockChecked(hooks));
            if (!back.clean)
                throw CommErr();
            outcome.lockMayHoldImage = false; // the read-back told
            outcome.lockHoldsImage = back.image == image;
            if (!finished || !outcome.lockHoldsImage)
                throw CommErr();
        }
        bank.closePort();
    } catch (const CommErr&) {
        return failedAt(step);
    } catch (const StopRequested&) {
        return failedAt(step);
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
