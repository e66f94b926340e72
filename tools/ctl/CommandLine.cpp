#include "CommandLine.h"

#include "Commands.h"

#include <algorithm>
#include <string_view>

#ifndef V38_VERSION
#define V38_VERSION "unknown"
#endif

namespace v38::ctl {

// The one list of commands: usage, option checks, dispatch, the help and the tests that
// hold the manual page and the README to it all come from here.
const std::vector<CommandSpec>& commands() {
    static const std::vector<CommandSpec> table = {
        // name, operands, min, max, talks to the lock, shows cards, other options
        {"probe", "", 0, 0, true, false, JsonOption | QuietOption, Msg::HelpProbe, probeCommand},
        {"ports", "", 0, 0, true, false, JsonOption | QuietOption, Msg::HelpPorts, portsCommand},
        {"read", "FILE", 1, 1, true, false, QuietOption, Msg::HelpRead, readCommand},
        {"write", "FILE", 1, 1, true, false, QuietOption, Msg::HelpWrite, writeCommand},
        {"show", "FILE", 1, 1, false, true, JsonOption, Msg::HelpShow, showCommand},
        {"export", "FILE [OUT]", 1, 2, false, false, 0, Msg::HelpExport, exportCommand},
        {"import", "FILE OUT", 2, 2, false, false, 0, Msg::HelpImport, importCommand},
        {"diff", "A B", 2, 2, false, true, JsonOption | QuietOption, Msg::HelpDiff, diffCommand},
        {"verify", "FILE", 1, 1, true, true, JsonOption | QuietOption, Msg::HelpVerify,
         verifyCommand},
        {"textconv", "FILE", 1, 1, false, true, 0, Msg::HelpTextconv, textconvCommand},
    };
    return table;
}

const std::vector<OptionSpec>& options() {
    static const std::vector<OptionSpec> table = {
        {TraceOption, "trace", '\0', "FILE", Msg::HelpTrace},
        {PortOption, "port", 'P', "PORT", Msg::HelpPort},
        {ShowCardsOption, "show-cards", '\0', nullptr, Msg::HelpShowCards},
        {JsonOption, "json", '\0', nullptr, Msg::HelpJson},
        {QuietOption, "quiet", 'q', nullptr, Msg::HelpQuiet},
    };
    return table;
}

std::string CommandSpec::usage() const {
    return std::string("v38ctl ") + name + (*operands ? " " : "") + operands;
}

namespace {
std::string padded(std::string text, std::size_t width) {
    // Columns count characters, not bytes: the texts here are ASCII.
    if (text.size() < width)
        text.append(width - text.size(), ' ');
    return text;
}

std::string optionName(const OptionSpec& option) {
    std::string out = option.shortName ? std::string("-") + option.shortName + ", " : "    ";
    out += std::string("--") + option.longName;
    if (option.value)
        out += std::string(" ") + option.value;
    return out;
}

// The commands that take `option`, as the help and the usage errors list them.
std::string commandsTaking(Option option) {
    std::string out;
    for (const CommandSpec& command : commands()) {
        if (command.options() & option)
            out += (out.empty() ? "" : ", ") + std::string(command.name);
    }
    return out;
}
} // namespace

std::string helpText() {
    std::string out = say(Msg::HelpUsage) + "\n\n" + say(Msg::HelpCommands) + "\n";
    for (const CommandSpec& command : commands()) {
        const std::string name = std::string(command.name) + " " + command.operands;
        out += "  " + padded(name, 20) + say(command.help) + "\n";
    }
    out += "\n" + say(Msg::HelpOptions) + "\n";
    for (const OptionSpec& option : options()) {
        out += "  " + padded(optionName(option), 22) + say(option.help) + "\n";
        out += std::string(24, ' ') + "(" + commandsTaking(option.option) + ")\n";
    }
    out += "  " + padded("-V, --version", 22) + say(Msg::HelpVersion) + "\n";
    out += "  " + padded("-h, --help", 22) + say(Msg::HelpHelp) + "\n\n";
    return out + say(Msg::HelpTrailer);
}

std::string versionText() {
    return std::string("v38ctl ") + V38_VERSION + "\n";
}

Parsed parseCommandLine(const std::vector<std::string>& arguments) {
    Parsed parsed;
    Invocation& call = parsed.invocation;
    call.commandLine = "v38ctl";
    for (const std::string& argument : arguments)
        call.commandLine += " " + argument;

    std::vector<std::string> words;
    std::vector<std::pair<const OptionSpec*, std::string>> given; // with the name as written
    bool help = false;
    bool version = false;
    std::string error;
    const auto failOnce = [&error](std::string text) {
        if (error.empty())
            error = std::move(text);
    };
    bool operandsOnly = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (operandsOnly || argument == "-" || argument.empty() || argument[0] != '-') {
            words.push_back(argument);
            continue;
        }
        if (argument == "--") {
            operandsOnly = true;
            continue;
        }
        if (argument == "--help" || argument == "-h") {
            help = true;
            continue;
        }
        if (argument == "--version" || argument == "-V") {
            version = true;
            continue;
        }
        const bool isLong = argument.compare(0, 2, "--") == 0;
        const std::size_t equals = isLong ? argument.find('=') : std::string::npos;
        const std::string name =
            argument.substr(0, equals == std::string::npos ? argument.size() : equals);
        const auto found = std::find_if(options().begin(), options().end(), [&](const auto& o) {
            return isLong ? name == std::string("--") + o.longName
                          : o.shortName && argument[1] == o.shortName;
        });
        if (found == options().end() || (!isLong && !found->value && argument.size() > 2)) {
            failOnce(say(Msg::UnknownOption, {name}));
            continue;
        }
        const std::string shown = isLong ? name : argument.substr(0, 2);
        std::string value;
        if (found->value) {
            if (equals != std::string::npos)
                value = argument.substr(equals + 1);
            else if (!isLong && argument.size() > 2)
                value = argument.substr(2);
            else if (i + 1 < arguments.size())
                value = arguments[++i];
            if (value.empty()) {
                failOnce(say(Msg::OptionNeedsValue, {shown, found->value}));
                continue;
            }
        } else if (equals != std::string::npos) {
            failOnce(say(Msg::OptionTakesNoValue, {shown}));
            continue;
        }
        given.emplace_back(&*found, shown);
        switch (found->option) {
        case TraceOption:
            call.trace = value;
            break;
        case PortOption:
            call.port = value;
            break;
        case ShowCardsOption:
            call.showCards = true;
            break;
        case JsonOption:
            call.json = true;
            break;
        case QuietOption:
            call.quiet = true;
            break;
        }
    }
    if (help) {
        parsed.kind = Parsed::Help;
        return parsed;
    }
    if (version) {
        parsed.kind = Parsed::Version;
        return parsed;
    }
    if (!error.empty()) {
        parsed.error = error;
        return parsed;
    }
    if (words.empty()) {
        parsed.error = say(Msg::NoCommand);
        return parsed;
    }
    const auto command = std::find_if(commands().begin(), commands().end(),
                                      [&](const CommandSpec& c) { return words[0] == c.name; });
    if (command == commands().end()) {
        parsed.error = say(Msg::UnknownCommand, {words[0]});
        return parsed;
    }
    for (const auto& [option, shown] : given) {
        // With a trace, --show-cards shows the cards' bytes in it.
        const bool cardsInTrace = option->option == ShowCardsOption && command->talksToLock &&
                                  !call.trace.empty();
        if (!(command->options() & option->option) && !cardsInTrace) {
            parsed.error = say(Msg::OptionNotForCommand,
                               {shown, command->name, commandsTaking(option->option)});
            return parsed;
        }
    }
    const int operands = int(words.size()) - 1;
    if (operands < command->minOperands) {
        parsed.error = say(Msg::MissingOperand, {command->name, command->usage()});
        return parsed;
    }
    if (operands > command->maxOperands) {
        parsed.error = say(Msg::ExtraOperand,
                           {command->name, words[command->maxOperands + 1], command->usage()});
        return parsed;
    }
    parsed.kind = Parsed::Run;
    parsed.command = &*command;
    call.operands.assign(words.begin() + 1, words.end());
    return parsed;
}

} // namespace v38::ctl
