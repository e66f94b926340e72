// v38-soak: thousands of reads and writes against the lock simulator over a
// pseudo-terminal, with random faults of every kind, checking after each transfer
// that what the sequence reported is what happened to the image, the lock and the port.
#include "FaultCount.h"
#include "SoakOptions.h"
#include "SoakTally.h"
#include "StallingSerial.h"

#include "ConfigFile.h"
#include "SimulatorProcess.h"
#include "TraceFile.h"
#include "Transfer.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <signal.h>

namespace fs = std::filesystem;
using namespace v38;
using namespace v38::soak;

namespace {

constexpr int LockPort = 1; // V38_PORTS holds the simulator's device alone

ConfigImage randomImage(std::mt19937& random) {
    ConfigImage image;
    for (auto& byte : image)
        byte = std::uint8_t(random());
    return image;
}

std::string blockDifference(const ConfigImage& got, const ConfigImage& want) {
    std::string blocks;
    for (int b = 0; b < BlockCount; ++b)
        if (!std::equal(got.block(b), got.block(b) + BlockSize, want.block(b)))
            blocks += (blocks.empty() ? "" : ",") + std::to_string(b);
    return "blocks " + blocks + " differ";
}

bool simulatorAlive(pid_t pid) {
    if (pid <= 0 || ::kill(pid, 0) != 0)
        return false;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string pidField, name, state;
    stat >> pidField >> name >> state;
    return state != "Z";
}

class Soak {
public:
    Soak(const SoakOptions& options, const fs::path& folder)
        : options_(options), lockFile_(folder / "lock.bin"), traceFile_(folder / "link.log"),
          faultWatch_((folder / "simulator.log").string()), random_(options.seed) {}

    // Runs the transfers against a simulator keeping its image in lockFile_.
    void run(v38::sim::SimulatorProcess& simulator, SoakTally& tally) {
        StallingSerial stalling(serial::nativeSerialSystem(), options_.seed ^ 0x57a11,
                                options_.stallPercent, options_.stallMs);
        // What the link did, kept with the simulator's log when a check fails; made before
        // the bank, which reports to it until it is gone.
        TraceFile trace(traceFile_, "v38-soak");
        V38Bank bank(stalling);
        if (trace.isOpen())
            bank.setTrace(&trace);
        const auto start = std::chrono::steady_clock::now();
        const auto end = start + std::chrono::seconds(options_.seconds);
        for (int n = 0; n < options_.transfers && std::chrono::steady_clock::now() < end; ++n) {
            number_ = n;
            if (trace.isOpen())
                trace.note(serial::nativeSerialSystem().milliseconds(),
                           "transfer " + std::to_string(n), nullptr, 0);
            faultWatch_.faultSinceLastLook();
            const bool noLock = (random_() & 1) ? readOnce(bank, tally) : writeOnce(bank, tally);
            if (noLock && !simulatorAlive(simulator.pid())) {
                tally.problem(tally.crashes, "the simulator died");
                break;
            }
        }
        tally.stalls = stalling.stalls();
        tally.stalledMs = stalling.stalledMs();
    }

private:
    ConfigImage lockImage(SoakTally& tally) {
        ConfigImage image = ConfigImage::erased();
        if (readConfigFile(lockFile_, image) != FileStatus::Ok)
            tally.problem(tally.unexpectedLockChanges,
                          at() + "the lock's image file is unreadable");
        return image;
    }

    std::string at() const { return "transfer " + std::to_string(number_) + ": "; }

    // Returns true for a failure with no fault injected: a false one, the lock did as asked.
    bool time(SoakTally& tally, const TransferOutcome& outcome,
              std::chrono::steady_clock::time_point started, bool write) {
        const bool unforced =
            outcome.result != TransferResult::Done && !faultWatch_.faultSinceLastLook();
        if (unforced)
            ++(write ? tally.unforcedWriteFailures : tally.unforcedReadFailures);
        if (outcome.result == TransferResult::NoLock)
            return unforced;
        const double ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started)
                .count();
        (outcome.checked ? tally.checked : tally.clean)
            .add(ms, outcome.result == TransferResult::Done);
        if (outcome.result == TransferResult::Done)
            (write ? tally.writesDoneTime : tally.readsDoneTime).add(ms, true);
        return unforced;
    }

    void expectPort(const V38Bank& bank, bool open, SoakTally& tally, const char* when) {
        const bool isOpen =
            bank.portNumber() == LockPort && bank.channel().portHandle() != serial::InvalidPortHandle;
        const bool isClosed = bank.portNumber() == 0 && bank.channel().portHandle() == serial::InvalidPortHandle;
        if (open ? !isOpen : !isClosed)
            tally.problem(tally.portViolations,
                          at() + "port not " + (open ? "open" : "closed") + " " + when);
    }

    // Returns true when no lock was found.
    bool readOnce(V38Bank& bank, SoakTally& tally) {
        const ConfigImage imageBefore = bank.image();
        const ConfigImage lockBefore = lockImage(tally);
        const auto started = std::chrono::steady_clock::now();
        const TransferOutcome transfer = readLock(bank);
        time(tally, transfer, started, false);
        const TransferResult outcome = transfer.result;
        const ConfigImage lockAfter = lockImage(tally);
        if (lockAfter != lockBefore)
            tally.problem(tally.unexpectedLockChanges, at() + "a read changed the lock");
        switch (outcome) {
        case TransferResult::Done:
            ++tally.readsDone;
            if (bank.image() != lockAfter)
                tally.problem(tally.falseSuccesses,
                              at() + "read done, but " + blockDifference(bank.image(), lockAfter));
            expectPort(bank, false, tally, "after a read");
            break;
        case TransferResult::NoLock:
            ++tally.readsNoLock;
            if (bank.image() != imageBefore)
                tally.problem(tally.imageViolations,
                              at() + "a read without a lock changed the image");
            expectPort(bank, false, tally, "without a lock");
            return true;
        case TransferResult::CommError:
            ++tally.readsFailed;
            if (bank.image() != ConfigImage::defaults())
                tally.problem(tally.imageViolations, at() + "a failed read left no defaults");
            expectPort(bank, true, tally, "after a failed read");
            break;
        }
        return false;
    }

    bool writeOnce(V38Bank& bank, SoakTally& tally) {
        const ConfigImage sent = randomImage(random_);
        bank.image() = sent;
        const ConfigImage lockBefore = lockImage(tally);
        const auto started = std::chrono::steady_clock::now();
        const TransferOutcome result = writeLock(bank);
        const bool unforced = time(tally, result, started, true);
        const ConfigImage lockAfter = lockImage(tally);
        if (result.lockHoldsImage && lockAfter != sent)
            tally.problem(tally.falseSuccesses,
                          at() + "the read-back said the lock took the write, but " +
                              blockDifference(lockAfter, sent));
        if (result.result == TransferResult::CommError && lockAfter == sent) {
            ++tally.falseFailures;
            tally.falseFailuresTold += result.lockHoldsImage;
            tally.falseFailuresUnforced += unforced;
        }
        if (bank.image() != sent)
            tally.problem(tally.imageViolations, at() + "a write changed the image");
        switch (result.result) {
        case TransferResult::Done:
            ++tally.writesDone;
            if (lockAfter != sent)
                tally.problem(tally.falseSuccesses,
                              at() + "write done, but " + blockDifference(lockAfter, sent));
            expectPort(bank, false, tally, "after a write");
            break;
        case TransferResult::NoLock:
            ++tally.writesNoLock;
            if (lockAfter != lockBefore)
                tally.problem(tally.unexpectedLockChanges,
                              at() + "a write without a lock changed it");
            expectPort(bank, false, tally, "without a lock");
            return true;
        case TransferResult::CommError:
            if (result.failedStep < FinishStep) {
                ++tally.writesFailedInBlocks;
                if (lockAfter != lockBefore)
                    tally.problem(tally.unexpectedLockChanges,
                                  at() + "a write that failed in block " +
                                      std::to_string(result.failedStep) + " changed the lock");
            } else {
                ++tally.writesFailedAtFinish;
                if (lockAfter != sent && lockAfter != lockBefore)
                    tally.problem(tally.unexpectedLockChanges,
                                  at() + "a write that failed at 'S' left a mixture");
            }
            expectPort(bank, true, tally, "after a failed write");
            break;
        }
        return false;
    }

    SoakOptions options_;
    fs::path lockFile_;
    fs::path traceFile_;
    FaultWatch faultWatch_;
    std::mt19937 random_;
    int number_ = 0;
};

int runSoak(const SoakOptions& options) {
    char pattern[] = "/tmp/v38-soak-XXXXXX";
    if (!::mkdtemp(pattern)) {
        std::cerr << "v38-soak: no temporary folder\n";
        return 2;
    }
    const fs::path folder = pattern;
    const fs::path lockFile = folder / "lock.bin";
    const fs::path logFile = folder / "simulator.log";

    std::mt19937 random(options.seed ^ 0x5eed);
    if (writeConfigFile(lockFile, randomImage(random)) != FileStatus::Ok) {
        std::cerr << "v38-soak: cannot write " << lockFile << "\n";
        return 2;
    }
    std::cout << "v38-soak: seed " << options.seed << ", at most " << options.transfers
              << " transfers in " << options.seconds << " s, faults on " << options.faultPercent
              << "% of requests (" << options.faultKinds << "), slow replies after "
              << options.slowMs << " ms, lag " << (options.lag.empty() ? "none" : options.lag)
              << ", " << options.baud << " baud, client stalls before " << options.stallPercent
              << "% of serial calls, up to " << options.stallMs << " ms; replays at "
              << options.replayPercent << "%" << (options.halfDuplex ? ", half-duplex" : "")
              << (options.think.empty() ? "" : ", thinking " + options.think)
              << (options.rxBatchMs ? ", latency timer " + std::to_string(options.rxBatchMs) + " ms"
                                    : "")
              << (options.chunks ? ", chunks" : "") << (options.echo ? ", echo" : "") << std::endl;

    SoakTally tally;
    const auto start = std::chrono::steady_clock::now();
    try {
        // No line delays unless asked: the soak is about faults, and the time-outs stay real.
        std::vector<std::string> arguments{
            "--image",   lockFile.string(),
            "--baud",    std::to_string(options.baud),
            "--latency", "0",
            "--random",  std::to_string(options.faultPercent) + ":" + options.faultKinds,
            "--seed",    std::to_string(options.seed),
            "--slow-ms", std::to_string(options.slowMs),
            "--log"};
        if (!options.lag.empty())
            arguments.insert(arguments.end(), {"--lag", options.lag});
        if (!options.think.empty())
            arguments.insert(arguments.end(), {"--think", options.think});
        if (options.replayPercent > 0)
            arguments.insert(arguments.end(), {"--replay", std::to_string(options.replayPercent)});
        if (options.rxBatchMs > 0)
            arguments.insert(arguments.end(), {"--rx-batch", std::to_string(options.rxBatchMs)});
        for (auto [on, flag] :
             {std::pair{options.halfDuplex, "--half-duplex"}, std::pair{options.chunks, "--chunks"},
              std::pair{options.echo, "--echo"}}) {
            if (on)
                arguments.push_back(flag);
        }
        v38::sim::SimulatorProcess simulator(options.simulator, arguments, logFile.string());
        ::setenv("V38_PORTS", simulator.devicePath().c_str(), 1);
        Soak(options, folder).run(simulator, tally);
        if (simulator.stop() != 0)
            tally.problem(tally.crashes, "the simulator did not end cleanly");
    } catch (const std::exception& e) {
        tally.problem(tally.crashes, std::string("unexpected exception: ") + e.what());
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    tally.faults = countInjectedFaults(logFile.string());

    printTally(std::cout, tally, seconds);
    printSummary(std::cout, tally, options.seed, seconds);
    bool passed = tally.failedChecks() == 0;
    if (tally.transfers() > 0 && tally.readsDone + tally.writesDone == 0) {
        std::cout << "no transfer succeeded: the soak tested nothing\n";
        passed = false;
    }
    if (options.faultPercent > 0 && tally.transfers() >= 50 && tally.faultsInjected() == 0) {
        std::cout << "no fault was injected: the soak tested nothing\n";
        passed = false;
    }
    if (passed) {
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    } else {
        std::cout << "kept for inspection: " << folder.string() << "\n";
    }
    std::cout << (passed ? "PASSED" : "FAILED") << std::endl;
    return passed ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    std::string error;
    std::optional<SoakOptions> options =
        parseSoakOptions(std::vector<std::string>(argv + 1, argv + argc), error);
    if (!options) {
        std::cerr << "v38-soak: " << error << "\n\n" << soakUsage();
        return 2;
    }
    if (options->help) {
        std::cout << soakUsage();
        return 0;
    }
    if (options->simulator.empty())
        options->simulator = V38_LOCK_SIM;
    return runSoak(*options);
}
