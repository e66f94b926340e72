#pragma once

#include "ConfigImage.h"
#include "V38Bank.h"

namespace v38::ctl {

enum class TransferOutcome {
    Done,
    NoLock,     // no port of COM1..COM16 answered the probe
    CommFailed, // the lock was found but an exchange failed
};

// Finds the lock and reads its eight blocks. `image` changes only when all eight
// arrived: a transfer broken off half-way leaves nothing half-read behind.
TransferOutcome readFromLock(V38Bank& bank, ConfigImage& image);

// Finds the lock and writes the eight blocks of `image`, then ends the write. The
// bytes go out exactly as they are.
TransferOutcome writeToLock(V38Bank& bank, const ConfigImage& image);

} // namespace v38::ctl
