// v38ctl: the configurator's lock and file operations from the command line, for
// technicians who script backups and for end-to-end tests.
#include "ConfigFile.h"
#include "ConfigReport.h"
#include "LockTransfer.h"
#include "Messages.h"
#include "PortDiagnosis.h"

#include <cstdio>
#include <cstring>
#include <string>

#ifndef _WIN32
#include "serial/PortList.h"
#endif

using namespace v38;
using namespace v38::ctl;

namespace {
constexpr int Success = 0;
constexpr int Failure = 1;
constexpr int BadUsage = 2;

constexpr const char* Usage = R"(Usage: v38ctl COMMAND [FILE]

  probe        find the lock on COM1..COM16 and print its port
  ports        try every port as the search does and say for each what is behind
               it and what it did: absent, cannot be opened (and why), silent, or
               the lock's answer; also lists the ports that are never searched.
               Exit status 0 when a lock answered, 1 when none did
  read FILE    read the lock's configuration into FILE; the file is written
               only when all eight blocks arrived
  write FILE   write the configuration in FILE to the lock, its bytes exactly as
               stored: v38ctl has no screen, so unlike the configurator it does
               not rebuild the flags and times (bits 6 and 7 of the flags byte
               go out as the file holds them)
  show FILE    print the configuration in FILE decoded
  --help       this text

On Linux, COM1, COM2, ... are the devices listed in V38_PORTS (separated by
colons) when it is set, else the serial devices present: /dev/ttyS* with real
hardware, then /dev/ttyUSB*, then /dev/ttyACM*.

Exit status: 0 on success; 1 on failure, with the configurator's message on
standard error; 2 on bad usage.
)";

int fail(const char* message) {
    std::fputs(message, stderr);
    std::fputc('\n', stderr);
    return Failure;
}

int failFile(FileStatus status, const std::string& name) {
    switch (status) {
    case FileStatus::Ok:
        return Success;
    case FileStatus::CannotOpen:
        std::fprintf(stderr, CannotOpenFileMessage, name.c_str());
        return Failure;
    case FileStatus::BadFile:
        std::fputs(BadFileMessage, stderr);
        return Failure;
    case FileStatus::WriteFailed:
        std::fputs(WriteFailedMessage, stderr);
        return Failure;
    }
    return Failure;
}

int failTransfer(TransferOutcome outcome) {
    return fail(outcome == TransferOutcome::NoLock ? NoConnectionMessage : CommErrorMessage);
}

int probeCommand() {
    V38Bank bank;
    if (!bank.findLock(AllComPorts))
        return fail(NoConnectionMessage);
    std::string port = "COM" + std::to_string(bank.portNumber);
#ifndef _WIN32
    port += " " + serial::devicePathForPort(bank.portNumber);
#endif
    std::printf("%s\n", port.c_str());
    return Success;
}

int portsCommand() {
    V38Bank bank;
    const std::vector<PortDiagnosis> ports = diagnosePorts(bank);
    std::fputs(describeDiagnosis(ports, unreachablePorts(serial::knownPorts())).c_str(), stdout);
    for (const PortDiagnosis& port : ports) {
        if (port.state == PortDiagnosis::LockAnswers)
            return Success;
    }
    return Failure;
}

int readCommand(const std::string& name) {
    V38Bank bank;
    ConfigImage image;
    const TransferOutcome outcome = readFromLock(bank, image);
    if (outcome != TransferOutcome::Done)
        return failTransfer(outcome);
    return failFile(writeConfigFile(name, image), name);
}

int writeCommand(const std::string& name) {
    ConfigImage image;
    if (const FileStatus status = readConfigFile(name, image); status != FileStatus::Ok)
        return failFile(status, name);
    V38Bank bank;
    const TransferOutcome outcome = writeToLock(bank, image);
    return outcome == TransferOutcome::Done ? Success : failTransfer(outcome);
}

int showCommand(const std::string& name) {
    ConfigImage image;
    if (const FileStatus status = readConfigFile(name, image); status != FileStatus::Ok)
        return failFile(status, name);
    std::fputs(describeConfiguration(image).c_str(), stdout);
    return Success;
}

int usage(FILE* stream, int status) {
    std::fputs(Usage, stream);
    return status;
}
} // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "--help" || command == "-h")
        return usage(stdout, Success);
    if (command == "probe" && argc == 2)
        return probeCommand();
    if (command == "ports" && argc == 2)
        return portsCommand();
    if (argc != 3)
        return usage(stderr, BadUsage);
    if (command == "read")
        return readCommand(argv[2]);
    if (command == "write")
        return writeCommand(argv[2]);
    if (command == "show")
        return showCommand(argv[2]);
    return usage(stderr, BadUsage);
}
