#pragma once

#include <cstdint>
#include <iosfwd>
#include <map>
#include <string>
#include <vector>

namespace v38::soak {

// What the soak saw: transfers by outcome, the faults the simulator injected, and every
// check that failed.
struct SoakTally {
    int readsDone = 0;
    int readsNoLock = 0;
    int readsFailed = 0;
    int writesDone = 0;
    int writesNoLock = 0;
    int writesFailedInBlocks = 0;
    int writesFailedAtFinish = 0;
    int falseFailures = 0;     // a write reported failed, yet the lock took the new image
    int falseFailuresTold = 0; // of those, the read-back found the new image and said so
    // Transfers that failed or found no lock although the simulator injected no fault
    // while they ran: the line was as a lock and a converter may make it.
    int unforcedReadFailures = 0;
    int unforcedWriteFailures = 0;
    int falseFailuresUnforced = 0; // counted both as a false failure and as unforced
    std::map<std::string, int> faults;
    int stalls = 0; // times the client was held up
    std::uint64_t stalledMs = 0;

    // How long transfers took that found a lock: with and without the check of doubt.
    struct Timing {
        int count = 0;
        int done = 0;
        double totalMs = 0;
        double maxMs = 0;
        void add(double ms, bool wasDone);
    };
    Timing clean;   // ended before the second pass (no lock, a failed block)
    Timing checked; // reached the second pass (a read's confirmation, a write's read-back)
    Timing readsDoneTime; // transfers reported done
    Timing writesDoneTime;

    int falseSuccesses = 0;            // reported done, but the image or the lock disagrees
    int unexpectedLockChanges = 0;     // the lock changed where it must not have
    int imageViolations = 0;           // the image is not what the sequence must leave
    int portViolations = 0;            // the port is not in the state it must be in
    int crashes = 0;                   // the simulator died, or something threw that must not
    std::vector<std::string> problems; // the first few, described

    int transfers() const;
    int faultsInjected() const;
    int failedChecks() const;
    int falseFailuresAll() const {
        return falseFailures + unforcedReadFailures + unforcedWriteFailures - falseFailuresUnforced;
    }
    void problem(int& counter, const std::string& description);
};

void printTally(std::ostream& out, const SoakTally& tally, double seconds);
// One line of key=value pairs, for scripts that gather many runs.
void printSummary(std::ostream& out, const SoakTally& tally, std::uint32_t seed, double seconds);

} // namespace v38::soak
