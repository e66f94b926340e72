// The time a full read and a full write of the lock take against the simulator on
// its emulated 9600-baud line, next to the line's own time for the same bytes, and
// the CPU time the client and the simulator spend meanwhile; and what the check of a
// doubtful transfer adds.
#include "SimulatorProcess.h"
#include "V38Bank.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

using namespace v38;
using Clock = std::chrono::steady_clock;

namespace {
constexpr int Rounds = 5;
constexpr int Baud = 9600;
constexpr int LatencyMs = 3;
constexpr double BitsPerByte = 10;

// Bytes on the line: 8 x (6-byte request + 68-byte reply) for a read,
// 8 x (70-byte request + 5-byte ACK) + 5-byte 'S' + 5-byte ACK for a write.
constexpr int ReadBytes = 8 * (6 + 68);
constexpr int WriteBytes = 8 * (70 + 5) + 5 + 5;
constexpr int ReadExchanges = 8;
constexpr int WriteExchanges = 9;
// The fence that closes every transfer: the probe and its answer.
constexpr int FenceBytes = 5 + 8;
constexpr int FenceExchanges = 1;
// The check of a doubtful transfer: the eight blocks read between two fences.
constexpr int CheckBytes = FenceBytes + ReadBytes + FenceBytes;
constexpr int CheckExchanges = FenceExchanges + ReadExchanges + FenceExchanges;

double lineMs(int bytes) {
    return bytes * BitsPerByte * 1000.0 / Baud;
}

// CPU time of this process in milliseconds.
double ownCpuMs() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

// CPU time of another process in milliseconds, from the scheduler's nanosecond count.
double cpuMsOf(pid_t pid) {
    std::ifstream stats("/proc/" + std::to_string(pid) + "/schedstat");
    double nanoseconds = 0;
    stats >> nanoseconds;
    return nanoseconds / 1e6;
}

struct Sample {
    double wallMs;
    double clientCpuMs;
    double simulatorCpuMs;
};

Sample measure(pid_t simulator, const std::function<void()>& transfer) {
    const double client = ownCpuMs();
    const double sim = cpuMsOf(simulator);
    const auto start = Clock::now();
    transfer();
    const double wall = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    return {wall, ownCpuMs() - client, cpuMsOf(simulator) - sim};
}

void report(const char* name, std::vector<Sample> samples, int bytes, int exchanges) {
    std::sort(samples.begin(), samples.end(),
              [](const Sample& a, const Sample& b) { return a.wallMs < b.wallMs; });
    const Sample& median = samples[samples.size() / 2];
    const double line = lineMs(bytes);
    const double floor = line + exchanges * LatencyMs;
    std::printf("%-6s wall median %7.1f ms (min %7.1f, max %7.1f) | line %5.1f ms for %d bytes"
                " + latency %2d ms = %5.1f ms | overhead %5.1f ms | CPU client %5.1f ms,"
                " simulator %5.1f ms\n",
                name, median.wallMs, samples.front().wallMs, samples.back().wallMs, line, bytes,
                exchanges * LatencyMs, floor, median.wallMs - floor, median.clientCpuMs,
                median.simulatorCpuMs);
}
} // namespace

int main() {
    sim::SimulatorProcess simulator(
        V38_LOCK_SIM, {"--baud", std::to_string(Baud), "--latency", std::to_string(LatencyMs)});
    ::setenv("V38_PORTS", simulator.devicePath().c_str(), 1);
    V38Bank bank;

    std::vector<Sample> finds;
    std::vector<Sample> reads;
    std::vector<Sample> writes;
    std::vector<Sample> fences;
    std::vector<Sample> checks;
    try {
        for (int round = 0; round < Rounds; ++round) {
            finds.push_back(measure(simulator.pid(), [&] {
                if (!bank.findLock(AllComPorts))
                    throw CommErr();
            }));
            reads.push_back(measure(simulator.pid(), [&] {
                for (int block = 0; block < BlockCount; ++block) {
                    const Block data = bank.readBlock(block);
                    std::copy(data.begin(), data.end(), bank.image().block(block));
                }
            }));
            writes.push_back(measure(simulator.pid(), [&] {
                for (int block = 0; block < BlockCount; ++block) {
                    Block data{};
                    std::copy_n(bank.image().block(block), BlockSize, data.begin());
                    bank.writeBlock(block, data);
                }
                bank.finishWrite();
            }));
            // What every transfer costs on top: the fence after its last exchange.
            fences.push_back(measure(simulator.pid(), [&] {
                if (bank.fence() != FenceOutcome::Clear)
                    throw CommErr();
            }));
            // What a doubtful transfer costs on top: the image read back between two fences.
            checks.push_back(measure(simulator.pid(), [&] {
                if (!bank.readBackMatches(bank.image(), {}))
                    throw CommErr();
            }));
            bank.closePort();
        }
    } catch (const CommErr&) {
        std::fprintf(stderr, "bench_link: the simulator did not answer\n");
        return 1;
    }
    std::printf("%d rounds against v38-lock-sim at %d baud, %d ms reply latency\n", Rounds, Baud,
                LatencyMs);
    std::printf("%-6s wall median %7.1f ms (includes the 100 ms settling pause)\n", "probe",
                finds[finds.size() / 2].wallMs);
    report("read", reads, ReadBytes, ReadExchanges);
    report("write", writes, WriteBytes, WriteExchanges);
    report("fence", fences, FenceBytes, FenceExchanges);
    report("check", checks, CheckBytes, CheckExchanges);
    return 0;
}
