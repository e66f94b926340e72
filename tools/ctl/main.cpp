// v38ctl: the configurator's lock and file operations from the command line, for
// technicians who script backups and for end-to-end tests.
#include "CommandLine.h"
#include "ConfigInput.h"
#include "Console.h"
#include "FileMessages.h"
#include "Messages.h"

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

using namespace v38;
using namespace v38::ctl;

namespace {
// What went to standard output must have reached it: a full disk or a closed pipe fails
// the command, whatever it found.
int finished(int status) {
    errno = 0;
    if (std::fflush(stdout) == 0 && !std::ferror(stdout))
        return status;
    const int error = errno != 0 ? errno : lastOutputError();
    const std::string reason = systemReason(error, currentLanguage());
    writeText(stderr, WriteFailedMessage + standardOutputName() + "\n" +
                          (reason.empty() ? std::string() : reason + "\n"));
    return status == Interrupted ? status : UsageOrFileError;
}
} // namespace

int main(int argc, char** argv) {
    const Parsed parsed = parseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    switch (parsed.kind) {
    case Parsed::Help:
        writeText(stdout, helpText());
        return finished(Success);
    case Parsed::Version:
        writeText(stdout, versionText());
        return finished(Success);
    case Parsed::UsageError:
        writeText(stderr, "v38ctl: " + parsed.error + "; " + say(Msg::SeeHelp) + "\n");
        return UsageOrFileError;
    case Parsed::Run:
        break;
    }
    return finished(parsed.command->run(parsed.invocation));
}
