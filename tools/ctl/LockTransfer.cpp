#include "LockTransfer.h"

namespace v38::ctl {

TransferOutcome readFromLock(V38Bank& bank, ConfigImage& image) {
    if (!bank.findLock(AllComPorts))
        return TransferOutcome::NoLock;
    try {
        for (int block = 0; block < BlockCount; ++block)
            bank.readBlock(block);
    } catch (const CommErr&) {
        return TransferOutcome::CommFailed;
    }
    bank.closePort();
    image = bank.image;
    return TransferOutcome::Done;
}

TransferOutcome writeToLock(V38Bank& bank, const ConfigImage& image) {
    if (!bank.findLock(AllComPorts))
        return TransferOutcome::NoLock;
    bank.image = image;
    try {
        for (int block = 0; block < BlockCount; ++block)
            bank.writeBlock(block);
        bank.finishWrite();
    } catch (const CommErr&) {
        return TransferOutcome::CommFailed;
    }
    bank.closePort();
    return TransferOutcome::Done;
}

} // namespace v38::ctl
