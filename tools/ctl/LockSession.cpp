#include "LockSession.h"

#include "Console.h"
#include "FileMessages.h"
#include "LinkMessages.h"
#include "Messages.h"
#include "PortDiagnosis.h"

#include <cctype>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#ifndef _WIN32
#include "serial/PortList.h"
#endif

namespace v38::ctl {

namespace {
constexpr int SearchedPorts = 16;

volatile std::sig_atomic_t interrupted = 0;

// The first Ctrl-C asks the transfer to stop at its next boundary; a second one ends
// the program at once, as Ctrl-C does.
extern "C" void onInterrupt(int) {
    interrupted = 1;
    std::signal(SIGINT, SIG_DFL);
}

void catchInterrupt() {
    // A program started with Ctrl-C ignored (in the background of a script) keeps it so.
    if (std::signal(SIGINT, onInterrupt) == SIG_IGN)
        std::signal(SIGINT, SIG_IGN);
}

int error(const std::string& text, int status) {
    writeText(stderr, !text.empty() && text.back() != '\n' ? text + "\n" : text);
    return status;
}

// COMn (any case, also as \\.\COMn) -> n; 0 when the text is no COM name.
int comNumber(const std::string& text) {
    std::string name = text;
    if (name.compare(0, 4, "\\\\.\\") == 0)
        name = name.substr(4);
    if (name.size() < 4 || name.size() > 5)
        return 0;
    for (std::size_t i = 0; i < 3; ++i)
        name[i] = char(std::toupper(static_cast<unsigned char>(name[i])));
    if (name.compare(0, 3, "COM") != 0)
        return 0;
    int number = 0;
    for (std::size_t i = 3; i < name.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(name[i])))
            return 0;
        number = number * 10 + (name[i] - '0');
    }
    return number >= 1 && number <= SearchedPorts ? number : 0;
}

#ifndef _WIN32
// Leaves only COM<number> on `device` in the port list, every other number without a
// device, so that the search passes over them at once.
void keepOnly(int number, const std::string& device) {
    ::setenv(serial::PortListVariable, (std::string(number - 1, ':') + device).c_str(), 1);
}

// The COM number of a device path: its place in the port list, or 1 when it has none.
int numberOfDevice(const std::string& device) {
    const std::vector<std::string> devices = serial::comPortDevices();
    for (std::size_t i = 0; i < devices.size() && i < std::size_t(SearchedPorts); ++i) {
        std::error_code error;
        if (devices[i] == device || std::filesystem::equivalent(devices[i], device, error))
            return int(i) + 1;
    }
    return 1;
}
#endif
} // namespace

LockSession::LockSession(const Invocation& call) : call_(call) {}

LockSession::~LockSession() = default;

void LockSession::Trace::note(std::uint64_t ms, std::string_view event, const std::uint8_t* bytes,
                              std::size_t size) {
    lastMs = ms;
    file->note(ms, event, bytes, size);
}

bool LockSession::start() {
    if (!call_.port.empty()) {
        wantedPort_ = comNumber(call_.port);
#ifndef _WIN32
        if (wantedPort_) {
            keepOnly(wantedPort_, serial::devicePathForPort(wantedPort_));
        } else if (call_.port.find('/') != std::string::npos) {
            wantedPort_ = numberOfDevice(call_.port);
            keepOnly(wantedPort_, call_.port);
        }
#endif
        if (!wantedPort_) {
            error(say(Msg::BadPort, {call_.port}) + "; " + say(Msg::SeeHelp), UsageOrFileError);
            return false;
        }
    }
    if (!call_.trace.empty()) {
        trace_.file = std::make_unique<TraceFile>(call_.trace, call_.commandLine, call_.showCards);
        if (!trace_.file->isOpen()) {
            error(fileStatusMessage(FileStatus::CannotOpen, call_.trace) +
                      trace_.file->failure(currentLanguage()),
                  UsageOrFileError);
            return false;
        }
        bank.setTrace(&trace_);
    }
    return true;
}

std::uint32_t LockSession::searchMask() const {
    return wantedPort_ ? 1u << (wantedPort_ - 1) : AllComPorts;
}

bool LockSession::find() {
    if (!bank.findLock(searchMask()))
        return false;
    foundPort_ = bank.portNumber();
    return true;
}

TransferOutcome LockSession::read() {
    writing_ = false;
    catchInterrupt();
    return readLock(bank, *this);
}

TransferOutcome LockSession::write() {
    writing_ = true;
    catchInterrupt();
    return writeLock(bank, *this);
}

void LockSession::lockFound() {
    foundPort_ = bank.portNumber();
    // The transfer searches every port; another lock than the one asked for is left alone.
    wrongPort_ = wantedPort_ != 0 && foundPort_ != wantedPort_;
}

bool LockSession::stopRequested() {
    return interrupted != 0 || wrongPort_;
}

int LockSession::reportNotFound() {
    error(NoConnectionMessage, NoLockFound);
    std::vector<std::string> lines = whyNotFound(bank, searchMask());
    error(say(Msg::SearchFailedPorts), NoLockFound);
    for (const std::string& line : lines)
        error("  " + line, NoLockFound);
    return error(say(Msg::SeePorts), NoLockFound);
}

int LockSession::reportFailure(const TransferOutcome& outcome, const std::string& file) {
    if (outcome.result == TransferResult::NoLock)
        return reportNotFound();
    if (wrongPort_) {
        return error(say(Msg::WrongLock,
                         {"COM" + std::to_string(foundPort_), "COM" + std::to_string(wantedPort_)}),
                     NoLockFound);
    }
    if (interrupted) {
        // The port closes first, so that the trace ends with what ended the run.
        bank.closePort();
        if (trace_.file)
            trace_.note(trace_.lastMs,
                        "interrupted (Ctrl-C) before step " + std::to_string(outcome.failedStep) +
                            ": the transfer ends here",
                        nullptr, 0);
        return error(writing_ ? say(Msg::InterruptedWrite, {portName(), file})
                              : say(Msg::InterruptedRead),
                     Interrupted);
    }
    error(CommErrorMessage, LineFailed);
    // Which pass failed, and for a write what the lock holds, as far as the line told.
    const std::string block = std::to_string(outcome.failedStep);
    if (!writing_) {
        error(outcome.failedStep < FinishStep ? say(Msg::FailedAtBlockRead, {block})
                                              : say(Msg::FailedConfirmation),
              LineFailed);
    } else if (outcome.failedStep < FinishStep) {
        error(say(Msg::FailedAtBlockWrite, {block}), LineFailed);
    } else {
        if (outcome.failedStep == FinishStep)
            error(say(Msg::FailedFinish), LineFailed);
        if (outcome.lockHoldsImage)
            error(say(Msg::TookItNevertheless), LineFailed);
        else if (outcome.lockMayHoldImage)
            error(say(Msg::ReadBackUntold, {file}), LineFailed);
        else
            error(say(Msg::ReadBackDiffers), LineFailed);
    }
    return LineFailed;
}

std::string LockSession::comName() const {
    return "COM" + std::to_string(foundPort_);
}

std::string LockSession::deviceName() const {
#ifdef _WIN32
    return "\\\\.\\" + comName();
#else
    return serial::devicePathForPort(foundPort_);
#endif
}

std::string LockSession::portName() const {
#ifdef _WIN32
    return comName();
#else
    return comName() + " " + deviceName();
#endif
}

} // namespace v38::ctl
