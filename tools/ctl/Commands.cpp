#include "Commands.h"

#include "CardMask.h"
#include "CommandLine.h"
#include "ConfigDiff.h"
#include "ConfigFile.h"
#include "ConfigInput.h"
#include "ConfigJson.h"
#include "ConfigOutput.h"
#include "ConfigReport.h"
#include "Console.h"
#include "FileMessages.h"
#include "HexText.h"
#include "LinkMessages.h"
#include "LockSession.h"
#include "PortDiagnosis.h"
#include "ReplaceFile.h"
#include "ServiceCard.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

#ifndef _WIN32
#include "serial/PortList.h"
#endif

#ifndef _WIN32
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace v38::ctl {

namespace {
using Json = nlohmann::ordered_json;

// A message for standard error, ending its line.
int report(const std::string& text, int status) {
    writeText(stderr, !text.empty() && text.back() != '\n' ? text + "\n" : text);
    return status;
}

void print(const std::string& text) {
    writeText(stdout, text);
}

// Where editors find the document's schema; import ignores it.
constexpr const char* SchemaReference = "v38-config.schema.json";

std::string documentOf(const ConfigImage& image) {
    const std::string document = exportConfigJson(image);
    return "{\n  \"$schema\": \"" + std::string(SchemaReference) + "\"," + document.substr(1);
}

// A document when the name asks for one, else the 514-byte file.
std::string fileBytes(const ConfigImage& image, bool document) {
    if (document)
        return documentOf(image);
    const ConfigFileBytes bytes = encodeConfigFile(image);
    return {bytes.begin(), bytes.end()};
}

// A file can be replaced, or written over in place where its folder takes no new file.
bool isWritable(const fs::path& path, bool folder) {
#ifdef _WIN32
    (void)path; // access() does not tell on Windows: the write itself will
    (void)folder;
    return true;
#else
    return ::access(path.c_str(), folder ? W_OK | X_OK : W_OK) == 0;
#endif
}

// Why the lock is not read: the file it would be read into cannot be written, as far as
// can be told beforehand (a folder, a folder that is missing or not writable).
std::string outputLocationRefusal(const std::string& name) {
    if (name == "-" || namesDevice(name))
        return {};
    std::error_code error;
    const fs::path path(name);
    if (fs::is_directory(path, error))
        return fileStatusMessage(FileStatus::CannotOpen, name);
    if (fs::exists(path, error) && !fs::is_regular_file(path, error))
        return {}; // a pipe or a device: written through
    if (fs::is_regular_file(path, error) && isWritable(path, false))
        return {};
    fs::path folder = path.parent_path();
    if (folder.empty())
        folder = ".";
    if (!fs::is_directory(folder, error) || !isWritable(folder, true))
        return fileStatusMessage(FileStatus::CannotOpen, name) + say(Msg::NotAFolder, {name});
    return {};
}

int fileError(const std::string& message) {
    return report(message, UsageOrFileError);
}

bool load(const std::string& name, ConfigImage& image, std::string& error) {
    return loadConfiguration(name, image, error);
}

// The output of show and textconv: the window's picture of the configuration.
std::string shownConfiguration(const ConfigImage& image, bool wholeCards) {
    return describeConfiguration(image, wholeCards);
}

std::string showJson(const ConfigImage& image, bool wholeCards) {
    Json document = Json::parse(exportConfigJson(image));
    for (int k = 0; k < ServiceCardCount; ++k) {
        const ShownCard card = shownCard(image.serviceCard(k), wholeCards);
        document["serviceCards"]["card" + std::to_string(k + 1)] = {
            {"hex", card.hex}, {"magnetic", card.magnetic}, {"proximity", card.proximity}};
    }
    document["cardsMasked"] = !wholeCards;
    return document.dump(2) + "\n";
}

int listDifferences(const Invocation& call, const std::string& header, Json sides,
                    const ConfigImage& from, const ConfigImage& to) {
    const std::vector<Difference> list = compare(from, to, call.showCards);
    if (call.quiet) {
    } else if (call.json) {
        std::string out = "{";
        for (const auto& [key, value] : sides.items())
            out += "\n  \"" + key + "\": " + value.dump() + ",";
        print(out + "\n  \"equal\": " + (list.empty() ? "true" : "false") +
              ",\n  \"differences\": " + differencesJson(list) + "\n}\n");
    } else if (!list.empty()) {
        print(header + "\n");
        for (const std::string& line : differences(from, to, call.showCards))
            print(line + "\n");
    }
    return list.empty() ? Success : Different;
}

// The bytes of a file as they are, for textconv.
bool readBytes(const std::string& name, std::string& bytes) {
    if (name == "-") {
        bytes.assign(std::istreambuf_iterator<char>(std::cin), {});
        return !std::cin.bad();
    }
    std::ifstream in(fs::path(name), std::ios::binary);
    if (!in.is_open())
        return false;
    bytes.assign(std::istreambuf_iterator<char>(in), {});
    return !in.bad();
}

// Offset, 16 bytes in hex and the printable ones, as hex dumps show them.
std::string hexDump(const std::string& bytes, std::size_t limit) {
    std::string out;
    const std::size_t shown = std::min(bytes.size(), limit);
    for (std::size_t at = 0; at < shown; at += 16) {
        char offset[24];
        std::snprintf(offset, sizeof offset, "%08zx ", at);
        std::string line = offset;
        std::string text;
        for (std::size_t i = at; i < at + 16; ++i) {
            if (i < shown) {
                const auto b = static_cast<std::uint8_t>(bytes[i]);
                line += " " + hexText(&b, 1);
                text += b >= 0x20 && b < 0x7F ? char(b) : '.';
            } else {
                line += "   ";
            }
        }
        out += line + "  |" + text + "|\n";
    }
    if (bytes.size() > shown)
        out += "... " + std::to_string(bytes.size() - shown) + " bytes more\n";
    return out;
}
} // namespace

int probeCommand(const Invocation& call) {
    LockSession lock(call);
    if (!lock.start())
        return UsageOrFileError;
    if (!lock.find())
        return lock.reportNotFound();
    if (call.json)
        print(Json{{"port", lock.comName()}, {"device", lock.deviceName()}}.dump(2) + "\n");
    else if (!call.quiet)
        print(lock.portName() + "\n");
    return Success;
}

int portsCommand(const Invocation& call) {
    LockSession lock(call);
    if (!lock.start())
        return UsageOrFileError;
    const std::vector<PortDiagnosis> ports = diagnosePorts(lock.bank, lock.searchMask());
    const auto unreachable = unreachablePorts(serial::knownPorts());
    if (call.json)
        print(diagnosisJson(ports, unreachable));
    else if (!call.quiet)
        print(describeDiagnosis(ports, unreachable));
    for (const PortDiagnosis& port : ports) {
        if (port.state == PortDiagnosis::LockAnswers)
            return Success;
    }
    return NoLockAnswered;
}

int readCommand(const Invocation& call) {
    const std::string& name = call.operands[0];
    const bool document = isJsonName(name);
    if (const std::string refusal = terminalRefusal(name, !document); !refusal.empty())
        return fileError(refusal);
    if (const std::string refusal = outputLocationRefusal(name); !refusal.empty())
        return fileError(refusal);
    LockSession lock(call);
    if (!lock.start())
        return UsageOrFileError;
    const TransferOutcome outcome = lock.read();
    if (outcome.result != TransferResult::Done)
        return lock.reportFailure(outcome, name);
    if (const std::string error = writeOutput(name, fileBytes(lock.bank.image(), document));
        !error.empty())
        return fileError(error);
    if (!call.quiet)
        report(say(Msg::ReadDone, {lock.portName(), name == "-" ? standardOutputName() : name}),
               Success);
    return Success;
}

int writeCommand(const Invocation& call) {
    const std::string& name = call.operands[0];
    ConfigImage image;
    if (std::string error; !load(name, image, error))
        return fileError(error);
    LockSession lock(call);
    if (!lock.start())
        return UsageOrFileError;
    lock.bank.image() = image;
    const TransferOutcome outcome = lock.write();
    if (outcome.result != TransferResult::Done)
        return lock.reportFailure(outcome, name);
    if (!call.quiet)
        report(say(Msg::WriteDone, {lock.portName()}), Success);
    return Success;
}

int showCommand(const Invocation& call) {
    ConfigImage image;
    if (std::string error; !load(call.operands[0], image, error))
        return fileError(error);
    print(call.json ? showJson(image, call.showCards) : shownConfiguration(image, call.showCards));
    return Success;
}

// Reads `in` and writes it to `out` as a document or as the 514-byte file; an output
// that is the input, or the 514-byte file to a terminal, is refused before anything.
int convert(const std::string& in, const std::string& out, bool document) {
    if (const std::string refusal = sameFileRefusal(in, out); !refusal.empty())
        return fileError(refusal);
    if (const std::string refusal = terminalRefusal(out, !document); !refusal.empty())
        return fileError(refusal);
    ConfigImage image;
    if (std::string error; !load(in, image, error))
        return fileError(error);
    const std::string error = writeOutput(out, fileBytes(image, document));
    return error.empty() ? Success : fileError(error);
}

int exportCommand(const Invocation& call) {
    return convert(call.operands[0], call.operands.size() > 1 ? call.operands[1] : "-", true);
}

int importCommand(const Invocation& call) {
    return convert(call.operands[0], call.operands[1], false);
}

int diffCommand(const Invocation& call) {
    const std::string& a = call.operands[0];
    const std::string& b = call.operands[1];
    ConfigImage from;
    ConfigImage to;
    std::string error;
    if (!load(a, from, error) || !load(b, to, error))
        return fileError(error);
    return listDifferences(call, say(Msg::DiffHeader, {shownInputName(a), shownInputName(b)}),
                           Json{{"from", a}, {"to", b}}, from, to);
}

// The lines read "what the file holds -> what the lock holds".
int verifyCommand(const Invocation& call) {
    const std::string& name = call.operands[0];
    ConfigImage expected;
    if (std::string error; !load(name, expected, error))
        return fileError(error);
    LockSession lock(call);
    if (!lock.start())
        return UsageOrFileError;
    const TransferOutcome outcome = lock.read();
    if (outcome.result != TransferResult::Done) {
        // As diff(1), and as verify always has: any trouble is 2; standard error says which.
        const int status = lock.reportFailure(outcome, name);
        return status == Interrupted ? Interrupted : UsageOrFileError;
    }
    return listDifferences(call, say(Msg::VerifyHeader, {shownInputName(name), lock.portName()}),
                           Json{{"from", name},
                                {"to", "lock"},
                                {"port", lock.comName()},
                                {"device", lock.deviceName()}},
                           expected, lock.bank.image());
}

// For git's textconv: never fails on a file that is there, so that one odd file does
// not end a whole git diff.
int textconvCommand(const Invocation& call) {
    const std::string& name = call.operands[0];
    std::string bytes;
    if (!readBytes(name, bytes))
        return fileError(fileStatusMessage(FileStatus::CannotOpen, shownInputName(name)));
    ConfigImage image;
    std::string error;
    if (decodeConfiguration(bytes, shownInputName(name), image, error)) {
        print(shownConfiguration(image, call.showCards));
        return Success;
    }
    // The reason is the last line of the decoder's message.
    std::string reason = error.substr(0, error.size() - 1);
    reason = reason.substr(reason.rfind('\n') + 1);
    reason = reason.substr(reason.find(": ") == std::string::npos ? 0 : reason.find(": ") + 2);
    constexpr std::size_t ShownBytes = 64 * 1024;
    print(say(Msg::NotAConfiguration, {reason}) + "\n" + hexDump(bytes, ShownBytes));
    return Success;
}

} // namespace v38::ctl
