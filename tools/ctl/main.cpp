// v38ctl: the configurator's lock and file operations from the command line, for
// technicians who script backups and for end-to-end tests.
#include "CommandLine.h"
#include "ConfigInput.h"
#include "FileMessages.h"
#include "Messages.h"

#include <cstdio>
#include <string>
#include <vector>

#ifdef _WIN32
#include <cstdlib>
#include <windows.h>
#endif

using namespace v38;
using namespace v38::ctl;

namespace {
#ifdef _WIN32
UINT consoleCodePage = 0;

void restoreConsole() {
    ::SetConsoleOutputCP(consoleCodePage);
}

// Every text is UTF-8; a console shows it as such only in that code page.
void useUtf8Console() {
    consoleCodePage = ::GetConsoleOutputCP();
    if (consoleCodePage != 0 && consoleCodePage != CP_UTF8 && ::SetConsoleOutputCP(CP_UTF8))
        std::atexit(restoreConsole);
}
#endif

// What went to standard output must have reached it: a full disk or a closed pipe fails
// the command, whatever it found.
int finished(int status) {
    if (std::fflush(stdout) == 0 && !std::ferror(stdout))
        return status;
    std::fputs((WriteFailedMessage + standardOutputName() + "\n").c_str(), stderr);
    return status == Interrupted ? status : UsageOrFileError;
}
} // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
    useUtf8Console();
#endif
    const Parsed parsed = parseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    switch (parsed.kind) {
    case Parsed::Help:
        std::fputs(helpText().c_str(), stdout);
        return finished(Success);
    case Parsed::Version:
        std::fputs(versionText().c_str(), stdout);
        return finished(Success);
    case Parsed::UsageError:
        std::fprintf(stderr, "v38ctl: %s; %s\n", parsed.error.c_str(), say(Msg::SeeHelp).c_str());
        return UsageOrFileError;
    case Parsed::Run:
        break;
    }
    return finished(parsed.command->run(parsed.invocation));
}
