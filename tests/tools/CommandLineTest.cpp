#include "CommandLine.h"
#include "Messages.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <regex>
#include <set>

using namespace v38::ctl;

namespace {

std::vector<std::string> words(const std::string& line) {
    std::vector<std::string> out;
    std::string word;
    for (char c : line + " ") {
        if (c != ' ') {
            word += c;
        } else if (!word.empty()) {
            out.push_back(word == "''" ? "" : word);
            word.clear();
        }
    }
    return out;
}

TEST(CommandLine, NamesTheFaultOfABadLineAndTakesBothFormsOfAValue) {
    setLanguage(Language::English);
    const struct {
        std::string line;
        std::string error; // empty: the line runs
        std::string trace = {};
        std::string port = {};
        std::string operands = {};
    } cases[] = {
        {"", "no command given"},
        {"show", "show: missing operand (usage: v38ctl show FILE)"},
        {"show a b", "show: extra operand 'b' (usage: v38ctl show FILE)"},
        {"export a b c", "export: extra operand 'c' (usage: v38ctl export FILE [OUT])"},
        {"frobnicate x", "unknown command 'frobnicate'"},
        {"--frob show x", "unknown option '--frob'"},
        {"-x show x", "unknown option '-x'"},
        {"-qx probe", "unknown option '-qx'"},
        {"show --trace t x",
         "--trace is not for show (only for probe, ports, read, write, verify)"},
        {"export --json a", "--json is not for export (only for probe, ports, show, diff, verify)"},
        {"read -q --show-cards x",
         "--show-cards is not for read (only for show, diff, verify, textconv)"},
        {"probe --trace", "--trace needs FILE"},
        {"probe --trace=", "--trace needs FILE"},
        {"probe --trace ''", "--trace needs FILE"},
        {"diff --json=yes a b", "--json takes no value"},
        // Accepted: both forms of a value, short options, options anywhere, "-" and "--".
        {"--trace=t.log probe", "", "t.log"},
        {"probe --trace t.log", "", "t.log"},
        {"read -P COM3 x.bin", "", "", "COM3", "x.bin"},
        {"read -P/dev/ttyUSB0 x.bin", "", "", "/dev/ttyUSB0", "x.bin"},
        {"read x.bin --port=COM2", "", "", "COM2", "x.bin"},
        {"show -", "", "", "", "-"},
        {"show -- -q", "", "", "", "-q"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        const Parsed parsed = parseCommandLine(words(c.line));
        EXPECT_EQ(parsed.error, c.error);
        EXPECT_EQ(parsed.kind, c.error.empty() ? Parsed::Run : Parsed::UsageError);
        if (!c.error.empty())
            continue;
        EXPECT_EQ(parsed.invocation.trace, c.trace);
        EXPECT_EQ(parsed.invocation.port, c.port);
        if (!c.operands.empty()) {
            EXPECT_THAT(parsed.invocation.operands, ::testing::ElementsAre(c.operands));
        }
    }
    EXPECT_EQ(parseCommandLine(words("frobnicate --help")).kind, Parsed::Help);
    EXPECT_EQ(parseCommandLine(words("-V")).kind, Parsed::Version);
    EXPECT_EQ(parseCommandLine(words("show -q x")).error,
              "-q is not for show (only for probe, ports, read, write, diff, verify)");
}

#ifndef _WIN32
TEST(Language, FollowsTheLocaleVariablesInTheirOrder) {
    const struct {
        const char* all;
        const char* messages;
        const char* lang;
        Language expected;
    } cases[] = {
        {nullptr, nullptr, nullptr, Language::English},
        {nullptr, nullptr, "pl_PL.UTF-8", Language::Polish},
        {nullptr, "pl_PL.UTF-8", "en_US.UTF-8", Language::Polish},
        {"C", "pl_PL.UTF-8", "pl_PL.UTF-8", Language::English},
        {"", "", "pl_PL", Language::Polish}, // empty counts as unset
        {"pl_PL.UTF-8", "C", "C", Language::Polish},
        {nullptr, nullptr, "plx", Language::Polish},
        {nullptr, nullptr, "en_PL", Language::English},
    };
    for (const auto& c : cases) {
        const auto set = [](const char* name, const char* value) {
            value ? ::setenv(name, value, 1) : ::unsetenv(name);
        };
        set("LC_ALL", c.all);
        set("LC_MESSAGES", c.messages);
        set("LANG", c.lang);
        EXPECT_EQ(languageOfEnvironment(), c.expected)
            << (c.all ? c.all : "-") << " " << (c.messages ? c.messages : "-") << " "
            << (c.lang ? c.lang : "-");
    }
}
#endif

std::string fileText(const std::string& path) {
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::set<std::string> matches(const std::string& text, const std::string& pattern) {
    std::set<std::string> out;
    const std::regex re(pattern);
    for (auto it = std::sregex_iterator(text.begin(), text.end(), re); it != std::sregex_iterator();
         ++it)
        out.insert((*it)[1]);
    return out;
}

std::string section(const std::string& text, const std::string& from, const std::string& to) {
    const std::size_t begin = text.find(from);
    const std::size_t end = text.find(to, begin);
    return begin == std::string::npos ? "" : text.substr(begin, end - begin);
}

// The help comes from the table; the manual page and the README are written by hand and
// must list the same commands and options.
TEST(CommandLine, TheHelpTheManualPageAndTheReadmeListTheSameCommandsAndOptions) {
    setLanguage(Language::English);
    std::set<std::string> commandNames;
    std::set<std::string> optionNames = {"--help", "-h", "--version", "-V"};
    for (const CommandSpec& command : commands())
        commandNames.insert(command.name);
    for (const OptionSpec& option : options()) {
        optionNames.insert(std::string("--") + option.longName);
        if (option.shortName)
            optionNames.insert(std::string("-") + option.shortName);
    }
    const std::string help = helpText();
    EXPECT_EQ(matches(section(help, "Commands:", "Options"), "\n  ([a-z]+)"), commandNames);
    const std::string optionLines = section(help, "Options", "\n\n");
    EXPECT_EQ(matches(optionLines.substr(optionLines.find('\n')), "(--?[a-zA-Z-]+)"), optionNames);

    std::string man = fileText(V38CTL_MAN_PAGE);
#ifdef _WIN32
    if (man.empty())
        GTEST_SKIP() << "the sources are not reachable from here";
#endif
    ASSERT_FALSE(man.empty());
    man = std::regex_replace(man, std::regex(R"(\\-)"), "-");
    // Each command is a tagged paragraph of its own: ".TP" then ".B name" or ".BI "name ...".
    EXPECT_EQ(matches(section(man, ".SH COMMANDS", ".SH JSON"), R"(\.TP\n\.BI? "?([a-z]+))"),
              commandNames);
    std::set<std::string> manOptions;
    for (const std::string& tagged :
         matches(section(man, ".SH OPTIONS", ".SH EXIT"), R"(\.TP\n\.B[IR]? (.+))"))
        for (const std::string& name : matches(tagged, R"((--?[a-zA-Z-]+))"))
            manOptions.insert(name);
    EXPECT_EQ(manOptions, optionNames);

    const std::string readme = fileText(V38CTL_README);
    EXPECT_EQ(matches(section(readme, "    v38ctl probe", "\n\n"), R"(v38ctl ([a-z]+))"),
              commandNames);
}

} // namespace
