#pragma once

#include "Messages.h"

#include <string>
#include <vector>

namespace v38::ctl {

// Exit statuses: scripts act on them, so each kind of outcome has its own. diff and
// verify answer as diff(1) does and as they always have: 0 equal, 1 different, 2 any
// trouble; ports gives 1 when no lock answered.
inline constexpr int Success = 0;
inline constexpr int Different = 1;
inline constexpr int NoLockAnswered = 1;
inline constexpr int UsageOrFileError = 2;
inline constexpr int NoLockFound = 3;
inline constexpr int LineFailed = 4;
inline constexpr int Interrupted = 130;

// The options, as bits of a command's allowed set.
enum Option : unsigned {
    TraceOption = 1u << 0,
    ShowCardsOption = 1u << 1,
    JsonOption = 1u << 2,
    QuietOption = 1u << 3,
    PortOption = 1u << 4,
};

struct OptionSpec {
    Option option;
    const char* longName; // without the dashes
    char shortName;       // '\0': none
    const char* value;    // the value's name; nullptr for a switch
    Msg help;
};

// What a command line asked for, once it has been checked against the table.
struct Invocation {
    std::string trace;
    std::string port;
    bool showCards = false;
    bool json = false;
    bool quiet = false;
    std::vector<std::string> operands;
    std::string commandLine; // the whole line, to begin the trace with
};

struct CommandSpec {
    const char* name;
    const char* operands; // as the usage shows them, e.g. "FILE [OUT]"
    int minOperands;
    int maxOperands;
    bool talksToLock;      // --trace and --port
    bool showsCards;       // --show-cards
    unsigned otherOptions; // --json, --quiet
    Msg help;
    int (*run)(const Invocation&);

    unsigned options() const {
        return otherOptions | (talksToLock ? TraceOption | PortOption : 0u) |
               (showsCards ? ShowCardsOption : 0u);
    }
    std::string usage() const;
};

const std::vector<CommandSpec>& commands();
const std::vector<OptionSpec>& options();

// The help text, from the table, in the run's language.
std::string helpText();
std::string versionText();

// What the line asks for. On a usage error, `error` holds the one line naming the fault
// (without the pointer to --help).
struct Parsed {
    enum Kind { Run, Help, Version, UsageError } kind = UsageError;
    const CommandSpec* command = nullptr;
    Invocation invocation;
    std::string error;
};
Parsed parseCommandLine(const std::vector<std::string>& arguments);

} // namespace v38::ctl
