#include "TransferSequences.h"

namespace v38::soak {

Outcome readSequence(V38Bank& bank) {
    if (!bank.findLock(AllComPorts))
        return Outcome::NoLock;
    try {
        for (int b = 0; b < BlockCount; ++b)
            bank.readBlock(b);
        bank.closePort();
    } catch (const CommErr&) {
        bank.resetImage();
        return Outcome::CommError;
    }
    return Outcome::Done;
}

WriteResult writeSequence(V38Bank& bank) {
    if (!bank.findLock(AllComPorts))
        return {Outcome::NoLock};
    int step = 0;
    try {
        for (; step < BlockCount; ++step)
            bank.writeBlock(step);
        bank.finishWrite();
        bank.closePort();
    } catch (const CommErr&) {
        return {Outcome::CommError, step};
    }
    return {Outcome::Done};
}

} // namespace v38::soak
