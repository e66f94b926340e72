// v38ctl: the configurator's lock and file operations from the command line, for
// technicians who script backups and for end-to-end tests.
#include "ConfigDiff.h"
#include "ConfigFile.h"
#include "ConfigJson.h"
#include "ConfigReport.h"
#include "Messages.h"
#include "PortDiagnosis.h"
#include "ReplaceFile.h"
#include "Transfer.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <string_view>

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

constexpr const char* Usage = R"(Usage: v38ctl COMMAND [ARGUMENTS]

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
               go out as the file holds them); when the write failed yet the
               lock's image read back afterwards is the one written, a second
               line says so (the exit status stays 1)
  show FILE    print the configuration in FILE decoded
  export FILE.bin [OUT.json]
               the configuration as a JSON document, into OUT.json (replaced
               whole) or on standard output; every byte of the file is kept
  import IN.json OUT.bin
               the document as a configuration file, written only when the
               whole document is valid; otherwise why not, and nothing written
  diff A B     what differs from A to B, field by field, each a .bin or a .json
               file; exit status 0 when equal, 1 when different, 2 on trouble
  verify FILE  read the lock and compare it with FILE (.bin or .json); exit
               status 0 when the lock holds exactly that configuration, 1 with
               the differences listed, 2 when there is no lock or the line fails
  --help       this text

On Linux, COM1, COM2, ... are the devices listed in V38_PORTS (separated by
colons) when it is set, else the serial devices present: /dev/ttyS* with real
hardware, then /dev/ttyUSB*, then /dev/ttyACM*.

A file whose name ends in .json is a JSON document; any other is a 514-byte
configuration file.

Exit status: 0 on success; 1 on failure, with the configurator's message on
standard error; 2 on bad usage (diff, verify and ports: see above).
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

int failTransfer(TransferResult result) {
    return fail(result == TransferResult::NoLock ? NoConnectionMessage : CommErrorMessage);
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
    if (const TransferResult result = readLock(bank).result; result != TransferResult::Done)
        return failTransfer(result);
    return failFile(writeConfigFile(name, bank.image), name);
}

int writeCommand(const std::string& name) {
    ConfigImage image;
    if (const FileStatus status = readConfigFile(name, image); status != FileStatus::Ok)
        return failFile(status, name);
    V38Bank bank;
    bank.image = image;
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

int showCommand(const std::string& name) {
    ConfigImage image;
    if (const FileStatus status = readConfigFile(name, image); status != FileStatus::Ok)
        return failFile(status, name);
    std::fputs(describeConfiguration(image).c_str(), stdout);
    return Success;
}

bool isJsonName(const std::string& name) {
    constexpr std::string_view suffix = ".json";
    if (name.size() < suffix.size())
        return false;
    std::string end = name.substr(name.size() - suffix.size());
    for (char& c : end)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return end == suffix;
}

// Reads a JSON document; on failure says why on standard error.
bool loadDocument(const std::string& name, ConfigImage& image) {
    std::ifstream in(name, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, CannotOpenFileMessage, name.c_str());
        return false;
    }
    // One byte past the limit is enough to refuse a file as too large.
    std::string text(MaxConfigJsonSize + 1, '\0');
    in.read(text.data(), std::streamsize(text.size()));
    text.resize(std::size_t(in.gcount()));
    if (in.bad()) {
        std::fprintf(stderr, CannotOpenFileMessage, name.c_str());
        return false;
    }
    const std::string reason = importConfigJson(text, image);
    if (!reason.empty())
        std::fprintf(stderr, "%s: %s\n", name.c_str(), reason.c_str());
    return reason.empty();
}

// A .json document or a .bin file, by the name's ending.
bool loadConfiguration(const std::string& name, ConfigImage& image) {
    if (isJsonName(name))
        return loadDocument(name, image);
    return failFile(readConfigFile(name, image), name) == Success;
}

int exportCommand(const std::string& name, const char* out) {
    ConfigImage image;
    if (const FileStatus status = readConfigFile(name, image); status != FileStatus::Ok)
        return failFile(status, name);
    const std::string document = exportConfigJson(image);
    if (!out) {
        std::fputs(document.c_str(), stdout);
        return Success;
    }
    switch (
        replaceFile(out, reinterpret_cast<const std::uint8_t*>(document.data()), document.size())) {
    case ReplaceResult::Replaced:
        return Success;
    case ReplaceResult::CannotCreate:
        return failFile(FileStatus::CannotOpen, out);
    case ReplaceResult::WriteFailed:
        break;
    }
    return failFile(FileStatus::WriteFailed, out);
}

int importCommand(const std::string& in, const std::string& out) {
    ConfigImage image;
    if (!loadDocument(in, image))
        return Failure;
    return failFile(writeConfigFile(out, image), out);
}

int listDifferences(const ConfigImage& from, const ConfigImage& to) {
    const std::vector<std::string> lines = differences(from, to);
    for (const std::string& line : lines)
        std::printf("%s\n", line.c_str());
    return lines.empty() ? Success : Different;
}

int diffCommand(const std::string& a, const std::string& b) {
    ConfigImage from;
    ConfigImage to;
    if (!loadConfiguration(a, from) || !loadConfiguration(b, to))
        return Trouble;
    return listDifferences(from, to);
}

// The lines read "what the file holds -> what the lock holds".
int verifyCommand(const std::string& name) {
    ConfigImage expected;
    if (!loadConfiguration(name, expected))
        return Trouble;
    V38Bank bank;
    if (const TransferResult result = readLock(bank).result; result != TransferResult::Done) {
        failTransfer(result);
        return Trouble;
    }
    return listDifferences(expected, bank.image);
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
    if (command == "export" && (argc == 3 || argc == 4))
        return exportCommand(argv[2], argc == 4 ? argv[3] : nullptr);
    if (argc == 4 && command == "import")
        return importCommand(argv[2], argv[3]);
    if (argc == 4 && command == "diff")
        return diffCommand(argv[2], argv[3]);
    if (argc != 3)
        return usage(stderr, BadUsage);
    if (command == "verify")
        return verifyCommand(argv[2]);
    if (command == "read")
        return readCommand(argv[2]);
    if (command == "write")
        return writeCommand(argv[2]);
    if (command == "show")
        return showCommand(argv[2]);
    return usage(stderr, BadUsage);
}
