// v38-lock-sim: a V38 lock on a pseudo-terminal, for tests, demos and debugging links.
#include "ConfigFile.h"
#include "PseudoTerminal.h"
#include "SimOptions.h"
#include "SimulatorLoop.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <iostream>
#include <system_error>
#include <unistd.h>

using namespace v38;
using namespace v38::sim;

namespace {
int stopPipe[2] = {-1, -1};

void requestStop(int) {
    const char byte = 0;
    [[maybe_unused]] const ssize_t n = ::write(stopPipe[1], &byte, 1);
}

bool installStopSignals() {
    if (::pipe(stopPipe) != 0)
        return false;
    for (int fd : stopPipe) {
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        ::fcntl(fd, F_SETFL, O_NONBLOCK);
    }
    struct sigaction action {};
    action.sa_handler = requestStop;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
        if (::sigaction(signal, &action, nullptr) != 0)
            return false;
    }
    std::signal(SIGPIPE, SIG_IGN);
    return true;
}

// The image is stored without waiting for the disk: a lock answers a commit in its own
// time, and a sync behind a host's other writes can take seconds, in which the lock
// would hear nothing and answer late. The file is written beside, under a name of its
// own that nobody can have planted a link at, and renamed over the old one, so that a
// reader never meets half an image.
bool storeImage(const std::string& path, const ConfigImage& image) {
    const ConfigFileBytes bytes = encodeConfigFile(image);
    std::string beside = path + ".XXXXXX";
    const int fd = ::mkstemp(beside.data());
    if (fd < 0)
        return false;
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    const bool written = ::write(fd, bytes.data(), bytes.size()) ==
                         static_cast<ssize_t>(bytes.size());
    if (::close(fd) != 0 || !written || ::rename(beside.c_str(), path.c_str()) != 0) {
        ::unlink(beside.c_str());
        return false;
    }
    return true;
}

// The committed image: from the file when there is one; a missing file is made with
// the default configuration, so that the file always shows what the lock holds.
bool loadImage(const std::string& path, ConfigImage& image) {
    image = ConfigImage::defaults();
    if (path.empty())
        return true;
    std::error_code error;
    if (!std::filesystem::exists(path, error)) {
        if (storeImage(path, image))
            return true;
        std::cerr << "v38-lock-sim: cannot create " << path << '\n';
        return false;
    }
    switch (readConfigFile(path, image)) {
    case FileStatus::Ok:
        return true;
    case FileStatus::BadFile:
        std::cerr << "v38-lock-sim: " << path << " is no configuration file\n";
        return false;
    default:
        std::cerr << "v38-lock-sim: cannot read " << path << '\n';
        return false;
    }
}
} // namespace

int main(int argc, char** argv) {
    std::string error;
    const std::optional<SimOptions> options =
        parseSimOptions(std::vector<std::string>(argv + 1, argv + argc), error);
    if (!options) {
        std::cerr << "v38-lock-sim: " << error << "\n\n" << simUsage();
        return 2;
    }
    if (options->help) {
        std::cout << simUsage();
        return 0;
    }

    ConfigImage image;
    if (!loadImage(options->imagePath, image))
        return 1;
    SimulatedLock::Store store;
    if (!options->imagePath.empty()) {
        store = [path = options->imagePath](const ConfigImage& committed) {
            // A folder that takes no new file: written in place, as a save would.
            return storeImage(path, committed) ||
                   writeConfigFile(path, committed) == FileStatus::Ok;
        };
    }
    SimulatedLock lock(image, store);

    FaultPlan faults;
    for (const FaultRule& rule : options->faults)
        faults.addRule(rule);
    // Seeded also without random faults: it draws how late a lagging answer comes.
    faults.setRandom(options->randomFaults.value_or(RandomFaults{}), options->seed);

    if (!installStopSignals()) {
        std::perror("v38-lock-sim: signals");
        return 1;
    }
    try {
        PseudoTerminal terminal;
        if (!options->linkPath.empty())
            terminal.linkAs(options->linkPath);
        std::cout << terminal.devicePath() << std::endl;

        LineSettings line;
        line.baud = options->baud;
        line.latency = std::chrono::milliseconds(options->latencyMs);
        line.slowDelay = std::chrono::milliseconds(options->slowMs);
        if (options->lagMinMs >= 0)
            line.lag = LagRange{options->lagMinMs, options->lagMaxMs};
        if (options->thinkMinMs >= 0)
            line.think = LagRange{options->thinkMinMs, options->thinkMaxMs};
        line.thinkToAllowance = options->thinkToAllowance;
        line.replayPercent = options->replayPercent;
        // A converter that hears what it sends is on a two-wire line.
        line.halfDuplex = options->halfDuplex || options->echo;
        line.echo = options->echo;
        line.rxBatchMs = options->rxBatchMs;
        line.chunks = options->chunks;
        line.seed = options->seed;
        SimulatorLoop loop(terminal.masterFd(), lock, faults, line,
                           options->log ? &std::cerr : nullptr);
        loop.run(stopPipe[0], options->exitWithStdin ? STDIN_FILENO : -1);
    } catch (const std::system_error& e) {
        std::cerr << "v38-lock-sim: " << e.what() << '\n';
        return 1;
    }
    return 0;
}
