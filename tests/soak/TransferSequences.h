#pragma once

#include "V38Bank.h"

namespace v38::soak {

enum class Outcome {
    Done,
    NoLock,    // no port answered the probe: "Brak połączenia z Zamkiem."
    CommError, // an exchange failed: "Błąd komunikacji z Zamkiem."
};

// The main window's read, without its screen: find the lock, read blocks 0..7, close
// the port. A failed exchange resets the configuration to the defaults and leaves the
// port as the link left it.
Outcome readSequence(V38Bank& bank);

struct WriteResult {
    Outcome outcome = Outcome::Done;
    int failedStep = -1; // the block 0..7 that failed, or FinishStep for the 'S' command
};
inline constexpr int FinishStep = BlockCount;

// The main window's write of bank.image, without its screen: find the lock, write
// blocks 0..7, end the write, close the port. A failed exchange leaves the image and
// the port as they are.
WriteResult writeSequence(V38Bank& bank);

} // namespace v38::soak
