// The time a full read and a full write of the lock take against the simulator on
// its emulated 9600-baud line, next to the line's own time for the same bytes, and
// the CPU time the client and the simulator spend meanwhile; and what the check of a
// doubtful transfer adds.
#include "SimulatorProcess.h"
#include "Transfer.h"
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
// A whole verified transfer on a port already found: the probe, the first pass, then the
// second pass between fences (a read's confirmation, a write's read-back).
constexpr int VerifiedReadBytes = FenceBytes + ReadBytes + CheckBytes;
constexpr int VerifiedReadExchanges = 1 + ReadExchanges + CheckExchanges;
constexpr int VerifiedWriteBytes = FenceBytes + WriteBytes + CheckBytes;
constexpr int VerifiedWriteExchanges = 1 + WriteExchanges + CheckExchanges;

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

// The native serial system seen through a clock that moves in 15.6 ms steps, as Windows'
// tick count does: the link must not take a timely answer for an early one.
class CoarseClock final : public serial::SerialSystem {
public:
    explicit CoarseClock(serial::SerialSystem& inner) : inner_(inner) {}
    serial::PortHandle open(int port, serial::OpenFailure& failure) override {
        return inner_.open(port, failure);
    }
    bool configure(serial::PortHandle h, const serial::LineSettings& s) override {
        return inner_.configure(h, s);
    }
    bool setQueues(serial::PortHandle h, std::uint32_t in, std::uint32_t out) override {
        return inner_.setQueues(h, in, out);
    }
    bool setTimeouts(serial::PortHandle h, const serial::Timeouts& t) override {
        return inner_.setTimeouts(h, t);
    }
    std::uint32_t write(serial::PortHandle h, const std::uint8_t* d, std::uint32_t n) override {
        return inner_.write(h, d, n);
    }
    std::uint32_t read(serial::PortHandle h, std::uint8_t* b, std::uint32_t n) override {
        return inner_.read(h, b, n);
    }
    std::uint32_t readWaiting(serial::PortHandle h, std::uint8_t* b, std::uint32_t n) override {
        return inner_.readWaiting(h, b, n);
    }
    bool hungUp(serial::PortHandle h) override { return inner_.hungUp(h); }
    void close(serial::PortHandle h) override { inner_.close(h); }
    void sleep(std::uint32_t ms) override { inner_.sleep(ms); }
    std::uint64_t microseconds() override {
        return inner_.microseconds() / StepUs * StepUs;
    }
    std::uint64_t clockStepUs() const override { return StepUs; }

private:
    static constexpr std::uint64_t StepUs = 15600;
    serial::SerialSystem& inner_;
};

// `heldMs`: what a converter holds each answer back by (a USB latency timer), which no
// client can take back.
void report(const char* name, std::vector<Sample> samples, int bytes, int exchanges,
            int heldMs = 0) {
    std::sort(samples.begin(), samples.end(),
              [](const Sample& a, const Sample& b) { return a.wallMs < b.wallMs; });
    const Sample& median = samples[samples.size() / 2];
    const double line = lineMs(bytes);
    const int latency = exchanges * (LatencyMs + heldMs);
    const double floor = line + latency;
    std::printf("%-6s wall median %7.1f ms (min %7.1f, max %7.1f) | line %6.1f ms for %4d bytes"
                " + latency %3d ms = %6.1f ms | overhead %5.1f ms, x%.3f | CPU client %5.1f ms,"
                " simulator %5.1f ms\n",
                name, median.wallMs, samples.front().wallMs, samples.back().wallMs, line, bytes,
                latency, floor, median.wallMs - floor, median.wallMs / floor, median.clientCpuMs,
                median.simulatorCpuMs);
}
} // namespace

// Whole verified reads and writes on a port already found, against a simulator started
// with `extra` options, through `system`.
bool measureVerified(const char* name, const std::vector<std::string>& extra,
                     serial::SerialSystem& system, int heldMs) {
    std::vector<std::string> options = {"--baud", std::to_string(Baud), "--latency",
                                        std::to_string(LatencyMs)};
    options.insert(options.end(), extra.begin(), extra.end());
    sim::SimulatorProcess simulator(V38_LOCK_SIM, options);
    ::setenv("V38_PORTS", simulator.devicePath().c_str(), 1);
    V38Bank bank(system);
    std::vector<Sample> reads;
    std::vector<Sample> writes;
    for (int round = 0; round < Rounds; ++round) {
        if (!bank.findLock(AllComPorts))
            return false;
        TransferOutcome outcome;
        reads.push_back(measure(simulator.pid(), [&] { outcome = readLock(bank); }));
        if (outcome.result != TransferResult::Done)
            return false;
        if (!bank.findLock(AllComPorts))
            return false;
        writes.push_back(measure(simulator.pid(), [&] { outcome = writeLock(bank); }));
        if (outcome.result != TransferResult::Done)
            return false;
    }
    std::printf("%s:\n", name);
    report("read", reads, VerifiedReadBytes, VerifiedReadExchanges, heldMs);
    report("write", writes, VerifiedWriteBytes, VerifiedWriteExchanges, heldMs);
    return true;
}

int main() {
    // Whole transfers, both passes verified, through the converters technicians use.
    CoarseClock coarse(serial::nativeSerialSystem());
    const struct {
        const char* name;
        std::vector<std::string> options;
        serial::SerialSystem* system;
        int heldMs; // by the converter, each answer
    } setups[] = {
        {"verified, plain converter", {}, &serial::nativeSerialSystem(), 0},
        {"verified, echoing converter", {"--echo"}, &serial::nativeSerialSystem(), 0},
        {"verified, 16 ms latency timer (16 ms of each answer's latency)",
         {"--rx-batch", "16"},
         &serial::nativeSerialSystem(),
         16},
        {"verified, clock in 15.6 ms steps", {}, &coarse, 0},
    };
    std::printf("%d rounds of whole transfers against v38-lock-sim at %d baud, %d ms reply"
                " latency (the port already found)\n",
                Rounds, Baud, LatencyMs);
    for (const auto& setup : setups) {
        if (!measureVerified(setup.name, setup.options, *setup.system, setup.heldMs)) {
            std::fprintf(stderr, "bench_link: %s: a transfer failed\n", setup.name);
            return 1;
        }
    }

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
    std::printf("\nthe parts, %d rounds against v38-lock-sim at %d baud, %d ms reply latency\n",
                Rounds, Baud, LatencyMs);
    std::printf("%-6s wall median %7.1f ms (includes the 100 ms settling pause)\n", "probe",
                finds[finds.size() / 2].wallMs);
    report("read", reads, ReadBytes, ReadExchanges);
    report("write", writes, WriteBytes, WriteExchanges);
    report("fence", fences, FenceBytes, FenceExchanges);
    report("check", checks, CheckBytes, CheckExchanges);
    return 0;
}
