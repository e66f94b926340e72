#pragma once

#include "CommandLine.h"
#include "TraceFile.h"
#include "Transfer.h"

#include <cstdint>
#include <memory>
#include <string>

namespace v38::ctl {

// The lock as one command uses it: the port the line allows (--port), the trace, the
// first Ctrl-C, which ends a transfer at the next exchange boundary, and the messages
// for a transfer that did not happen. Its uses of the bank: findLock, readLock,
// writeLock, the open port's number, and for explanations selectPort, openFailure and
// closePort (PortDiagnosis).
class LockSession : private TransferHooks {
public:
    explicit LockSession(const Invocation& call);
    ~LockSession() override;
    LockSession(const LockSession&) = delete;
    LockSession& operator=(const LockSession&) = delete;

    // False, with the message on standard error, when the trace cannot be opened or
    // --port names no port.
    bool start();

    bool find();
    TransferOutcome read();
    TransferOutcome write();

    // The message and exit status of a transfer or a search that failed; `file` is the
    // configuration's name, for the advice after an interrupted write.
    int reportFailure(const TransferOutcome& outcome, const std::string& file);
    int reportNotFound();

    // The port the lock answered on: "COM3 /dev/ttyUSB0", "COM3", "/dev/ttyUSB0".
    std::string portName() const;
    std::string comName() const;
    std::string deviceName() const;

    // The ports the line allows: the one of --port, else COM1..COM16.
    std::uint32_t searchMask() const;

private:
    // The trace file, with the time of its latest line, so that a line of our own can
    // follow the link's.
    class Trace : public LinkTrace {
    public:
        void note(std::uint64_t ms, std::string_view event, const std::uint8_t* bytes,
                  std::size_t size) override;
        std::unique_ptr<TraceFile> file;
        std::uint64_t lastMs = 0;
    };

    void lockFound() override;
    bool stopRequested() override;

    const Invocation& call_;
    int wantedPort_ = 0; // 0: any of COM1..COM16
    int foundPort_ = 0;
    bool wrongPort_ = false;
    bool writing_ = false;
    Trace trace_; // before the bank, so that it sees the port closed

public:
    V38Bank bank;
};

} // namespace v38::ctl
