#include "SoakTally.h"

#include <iomanip>
#include <ostream>

namespace v38::soak {

namespace {
constexpr std::size_t KeptProblems = 20;
}

void SoakTally::Timing::add(double ms, bool wasDone) {
    ++count;
    done += wasDone;
    totalMs += ms;
    maxMs = ms > maxMs ? ms : maxMs;
}

int SoakTally::transfers() const {
    return readsDone + readsNoLock + readsFailed + writesDone + writesNoLock +
           writesFailedInBlocks + writesFailedAtFinish;
}

int SoakTally::faultsInjected() const {
    int total = 0;
    for (const auto& [kind, count] : faults)
        total += count;
    return total;
}

int SoakTally::failedChecks() const {
    return falseSuccesses + unexpectedLockChanges + imageViolations + portViolations + crashes;
}

void SoakTally::problem(int& counter, const std::string& description) {
    ++counter;
    if (problems.size() < KeptProblems)
        problems.push_back(description);
}

void printTally(std::ostream& out, const SoakTally& t, double seconds) {
    out << std::fixed << std::setprecision(1);
    out << "transfers: " << t.transfers() << " in " << seconds << " s ("
        << (seconds > 0 ? t.transfers() / seconds : 0.0) << "/s)\n";
    out << "  reads:  done " << t.readsDone << ", no lock " << t.readsNoLock
        << ", communication error " << t.readsFailed << "\n";
    out << "  writes: done " << t.writesDone << ", no lock " << t.writesNoLock
        << ", communication error in a block " << t.writesFailedInBlocks << ", at 'S' "
        << t.writesFailedAtFinish << "\n";
    out << "false failures: " << t.falseFailures << " (the lock took the new image; the read-back"
        << " said so in " << t.falseFailuresTold << ")\n";
    out << "failures with no fault injected: reads " << t.unforcedReadFailures << ", writes "
        << t.unforcedWriteFailures << "\n";
    const auto timing = [&out](const char* name, const SoakTally::Timing& timing) {
        out << name << timing.count << " (done " << timing.done << "), "
            << (timing.count ? timing.totalMs / timing.count : 0.0) << " ms on average, at most "
            << timing.maxMs << " ms\n";
    };
    timing("transfers that ended before the second pass: ", t.clean);
    timing("transfers that reached the second pass: ", t.checked);
    timing("reads done: ", t.readsDoneTime);
    timing("writes done: ", t.writesDoneTime);
    out << "client stalls: " << t.stalls << ", " << t.stalledMs << " ms in all\n";
    out << "faults injected: " << t.faultsInjected();
    const char* separator = " (";
    for (const auto& [kind, count] : t.faults) {
        out << separator << kind << " " << count;
        separator = ", ";
    }
    out << (t.faults.empty() ? "" : ")") << "\n";
    out << "false successes: " << t.falseSuccesses << "\n";
    out << "lock changed where it must not: " << t.unexpectedLockChanges << "\n";
    out << "image not as it must be: " << t.imageViolations << "\n";
    out << "port not as it must be: " << t.portViolations << "\n";
    out << "crashes: " << t.crashes << "\n";
    for (const std::string& problem : t.problems)
        out << "  ! " << problem << "\n";
}

void printSummary(std::ostream& out, const SoakTally& t, std::uint32_t seed, double seconds) {
    const auto average = [](const SoakTally::Timing& timing) {
        return timing.count ? timing.totalMs / timing.count : 0.0;
    };
    out << std::fixed << std::setprecision(1) << "summary seed=" << seed
        << " transfers=" << t.transfers() << " done=" << t.readsDone + t.writesDone
        << " false_successes=" << t.falseSuccesses << " false_failures=" << t.falseFailuresAll()
        << " failed_checks=" << t.failedChecks() << " read_ms=" << average(t.readsDoneTime)
        << " read_max_ms=" << t.readsDoneTime.maxMs << " write_ms=" << average(t.writesDoneTime)
        << " write_max_ms=" << t.writesDoneTime.maxMs << " seconds=" << seconds << "\n";
}

} // namespace v38::soak
