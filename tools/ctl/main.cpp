// v38ctl: the configurator's lock and file operations from the command line, for
// technicians who script backups and for end-to-end tests.
#include "ConfigDiff.h"
#include "ConfigFile.h"
#include "ConfigInput.h"
#include "ConfigJson.h"
#include "ConfigOutput.h"
#include "ConfigReport.h"
#include "FileMessages.h"
#include "LinkMessages.h"
#include "PortDiagnosis.h"
#include "TraceFile.h"
#include "Transfer.h"

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#ifndef _WIN32
#include "serial/PortList.h"
#endif

using namespace v38;
using namespace v38::ctl;

namespace {
constexpr int Success = 0;
constexpr int Failure = 1;
constexpr int BadUsage = 2;
// diff and verify answer as diff(1) does: 0 equal, 1 different, 2 trouble.
constexpr int Different = 1;
constexpr int Trouble = 2;

constexpr const char* Usage = R"(Usage: v38ctl [OPTIONS] COMMAND [ARGUMENTS]

  probe        find the lock on COM1..COM16 and print its port
  ports        try every port as the search does and say for each what is behind
               it and what it did: absent, cannot be opened (and why), silent, or
               the lock's answer; also lists the ports that are never searched.
               Exit status 0 when a lock answered, 1 when none did
  read FILE    read the lock's configuration into FILE, a JSON document when its
               name ends in .json, else the 514-byte file; FILE is written only
               when all eight blocks arrived
  write FILE   write the configuration in FILE to the lock, its bytes exactly as
               stored: v38ctl has no screen, so unlike the configurator it does
               not rebuild the flags and times (bits 6 and 7 of the flags byte
               go out as the file holds them); when the write failed yet the
               lock's image read back afterwards is the one written, a second
               line says so (the exit status stays 1)
  show FILE    print the configuration in FILE decoded
  export FILE [OUT]
               the configuration as a JSON document, into OUT (replaced whole)
               or on standard output; every byte of the configuration is kept
  import FILE OUT
               the document as a 514-byte configuration file, written only when
               the whole document is valid; otherwise why not, and nothing written
  diff A B     what differs from A to B, field by field, after a line naming the
               two; exit status 0 when equal, 1 when different, 2 on trouble
  verify FILE  read the lock and compare it with FILE, as diff does, from the file
               to the lock; exit status 0 when the lock holds exactly that
               configuration, 1 with the differences listed, 2 when a file cannot
               be read, there is no lock or the line fails

Options:
  --trace FILE   (probe, ports, read, write, verify) append to FILE what went over
                 the line: each frame sent and received with the time to the
                 millisecond, attempts, time-outs, waits for quiet, bytes thrown away
  --show-cards   (show, diff, verify) print the service cards' numbers whole; by
                 default only their first six and last four digits are shown. With
                 --trace, the trace shows their bytes too (by default **)
  --help         this text

A configuration is read by its content, whatever its name: a JSON document (it
begins with {) or the 514-byte file. FILE - is standard input or standard output;
the 514-byte file is never written to a terminal. An output that is the input
itself is refused.

On Linux, COM1, COM2, ... are the devices listed in V38_PORTS (separated by
colons) when it is set, else the serial devices present: /dev/ttyS* with real
hardware, then /dev/ttyUSB*, then /dev/ttyACM*.

Exit status: 0 on success; 1 on failure, with the configurator's message on
standard error; 2 on bad usage (diff, verify and ports: see above).
)";

struct Options {
    std::string trace; // empty: no trace
    bool showCards = false;
    std::vector<std::string> arguments; // the command and its operands
    std::string commandLine;            // all of it, to begin the trace with
};

int fail(const char* message) {
    std::fputs(message, stderr);
    std::fputc('\n', stderr);
    return Failure;
}

int failWith(const std::string& message, int status = Failure) {
    std::fputs(message.c_str(), stderr);
    return status;
}

int failTransfer(TransferResult result) {
    return fail(result == TransferResult::NoLock ? NoConnectionMessage : CommErrorMessage);
}

// The lock's port with its trace, if one was asked for.
class LockSession {
public:
    // False, with the message on standard error, when the trace file cannot be opened.
    bool start(const Options& options) {
        if (options.trace.empty())
            return true;
        trace_ = std::make_unique<TraceFile>(options.trace, options.commandLine, options.showCards);
        if (!trace_->isOpen()) {
            failWith(fileStatusMessage(FileStatus::CannotOpen, options.trace) + trace_->failure() +
                     "\n");
            return false;
        }
        bank.setTrace(trace_.get());
        return true;
    }

private:
    // Declared before the bank, so that it outlives it and sees the port closed.
    std::unique_ptr<TraceFile> trace_;

public:
    V38Bank bank;
};

std::string portName(int port) {
    std::string name = "COM" + std::to_string(port);
#ifndef _WIN32
    name += " " + serial::devicePathForPort(port);
#endif
    return name;
}

int probeCommand(const Options& options) {
    LockSession lock;
    if (!lock.start(options))
        return Failure;
    if (!lock.bank.findLock(AllComPorts))
        return fail(NoConnectionMessage);
    std::printf("%s\n", portName(lock.bank.portNumber()).c_str());
    return Success;
}

int portsCommand(const Options& options) {
    LockSession lock;
    if (!lock.start(options))
        return Failure;
    const std::vector<PortDiagnosis> ports = diagnosePorts(lock.bank);
    std::fputs(describeDiagnosis(ports, unreachablePorts(serial::knownPorts())).c_str(), stdout);
    for (const PortDiagnosis& port : ports) {
        if (port.state == PortDiagnosis::LockAnswers)
            return Success;
    }
    return Failure;
}

// A document when the name asks for one, else the 514-byte file.
std::string fileBytes(const ConfigImage& image, bool document) {
    if (document)
        return exportConfigJson(image);
    const ConfigFileBytes bytes = encodeConfigFile(image);
    return {bytes.begin(), bytes.end()};
}

int readCommand(const Options& options, const std::string& name) {
    const bool document = isJsonName(name);
    if (const std::string refusal = terminalRefusal(name, !document); !refusal.empty())
        return failWith(refusal);
    LockSession lock;
    if (!lock.start(options))
        return Failure;
    if (const TransferResult result = readLock(lock.bank).result; result != TransferResult::Done)
        return failTransfer(result);
    const std::string error = writeOutput(name, fileBytes(lock.bank.image(), document));
    return error.empty() ? Success : failWith(error);
}

int writeCommand(const Options& options, const std::string& name) {
    ConfigImage image;
    if (std::string error; !loadConfiguration(name, image, error))
        return failWith(error);
    LockSession lock;
    if (!lock.start(options))
        return Failure;
    V38Bank& bank = lock.bank;
    bank.image() = image;
    const TransferOutcome outcome = writeLock(bank);
    if (outcome.result == TransferResult::Done)
        return Success;
    const int status = failTransfer(outcome.result);
    // The exchange failed, but the image read back afterwards is the one sent.
    if (outcome.lockHoldsImage)
        std::fputs("The lock's image read back afterwards is the one written: the lock took "
                   "it nevertheless.\n",
                   stderr);
    return status;
}

int showCommand(const Options& options, const std::string& name) {
    ConfigImage image;
    if (std::string error; !loadConfiguration(name, image, error))
        return failWith(error);
    std::fputs(describeConfiguration(image, options.showCards).c_str(), stdout);
    return Success;
}

// Reads `in` and writes it to `out` as a document or as the 514-byte file; an output
// that is the input, or the 514-byte file to a terminal, is refused before anything.
int convert(const std::string& in, const std::string& out, bool document) {
    if (const std::string refusal = sameFileRefusal(in, out); !refusal.empty())
        return failWith(refusal, BadUsage);
    if (const std::string refusal = terminalRefusal(out, !document); !refusal.empty())
        return failWith(refusal);
    ConfigImage image;
    if (std::string error; !loadConfiguration(in, image, error))
        return failWith(error);
    const std::string error = writeOutput(out, fileBytes(image, document));
    return error.empty() ? Success : failWith(error);
}

int listDifferences(const std::string& header, const ConfigImage& from, const ConfigImage& to,
                    const Options& options) {
    const std::vector<std::string> lines = differences(from, to, options.showCards);
    if (lines.empty())
        return Success;
    std::printf("%s\n", header.c_str());
    for (const std::string& line : lines)
        std::printf("%s\n", line.c_str());
    return Different;
}

int diffCommand(const Options& options, const std::string& a, const std::string& b) {
    ConfigImage from;
    ConfigImage to;
    std::string error;
    if (!loadConfiguration(a, from, error) || !loadConfiguration(b, to, error))
        return failWith(error, Trouble);
    return listDifferences("From " + shownInputName(a) + " to " + shownInputName(b) + ":", from, to,
                           options);
}

// Remembers the port on which the lock was found, which is closed by the time the
// read is done.
class PortOfLock : public TransferHooks {
public:
    explicit PortOfLock(const V38Bank& bank) : bank_(bank) {}
    void lockFound() override { port = bank_.portNumber(); }
    int port = 0;

private:
    const V38Bank& bank_;
};

// The lines read "what the file holds -> what the lock holds".
int verifyCommand(const Options& options, const std::string& name) {
    ConfigImage expected;
    if (std::string error; !loadConfiguration(name, expected, error))
        return failWith(error, Trouble);
    LockSession lock;
    if (!lock.start(options))
        return Trouble;
    PortOfLock found(lock.bank);
    if (const TransferResult result = readLock(lock.bank, found).result;
        result != TransferResult::Done) {
        failTransfer(result);
        return Trouble;
    }
    return listDifferences("From " + shownInputName(name) + " to the lock on " +
                               portName(found.port) + ":",
                           expected, lock.bank.image(), options);
}

int usage(FILE* stream, int status) {
    std::fputs(Usage, stream);
    return status;
}

// Options go anywhere; "--" ends them, and "-" is an operand (standard input or output).
bool parseOptions(int argc, char** argv, Options& options, bool& help) {
    options.commandLine = "v38ctl";
    for (int i = 1; i < argc; ++i)
        options.commandLine += std::string(" ") + argv[i];
    bool operandsOnly = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (operandsOnly || argument == "-" || argument.substr(0, 1) != "-") {
            options.arguments.emplace_back(argument);
        } else if (argument == "--") {
            operandsOnly = true;
        } else if (argument == "--help" || argument == "-h") {
            help = true;
        } else if (argument == "--show-cards") {
            options.showCards = true;
        } else if (argument == "--trace" && i + 1 < argc && argv[i + 1][0] != '\0') {
            options.trace = argv[++i];
        } else {
            return false;
        }
    }
    return true;
}
} // namespace

int main(int argc, char** argv) {
    Options options;
    bool help = false;
    if (!parseOptions(argc, argv, options, help))
        return usage(stderr, BadUsage);
    if (help)
        return usage(stdout, Success);
    const std::vector<std::string>& args = options.arguments;
    const std::string command = args.empty() ? "" : args[0];
    const std::size_t operands = args.empty() ? 0 : args.size() - 1;
    const bool talksToLock = command == "probe" || command == "ports" || command == "read" ||
                             command == "write" || command == "verify";
    const bool showsCards = command == "show" || command == "diff" || command == "verify";
    if ((!options.trace.empty() && !talksToLock) ||
        (options.showCards && !showsCards && options.trace.empty()))
        return usage(stderr, BadUsage);
    if (command == "probe" && operands == 0)
        return probeCommand(options);
    if (command == "ports" && operands == 0)
        return portsCommand(options);
    if (command == "export" && (operands == 1 || operands == 2))
        return convert(args[1], operands == 2 ? args[2] : "-", true);
    if (command == "import" && operands == 2)
        return convert(args[1], args[2], false);
    if (command == "diff" && operands == 2)
        return diffCommand(options, args[1], args[2]);
    if (operands != 1)
        return usage(stderr, BadUsage);
    if (command == "verify")
        return verifyCommand(options, args[1]);
    if (command == "read")
        return readCommand(options, args[1]);
    if (command == "write")
        return writeCommand(options, args[1]);
    if (command == "show")
        return showCommand(options, args[1]);
    return usage(stderr, BadUsage);
}
