// The simulator, v38ctl and V38Bank together over real pseudo-terminals.
#include "ChildProcess.h"
#include "ConfigFile.h"
#include "ConfigJson.h"
#include "SilentPort.h"
#include "SimulatorProcess.h"
#include "TimeReading.h"
#include "V38Bank.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <poll.h>
#include <random>
#include <sstream>
#include <sys/file.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace v38;
using v38::sim::SimulatorProcess;

namespace {

using Bytes = std::vector<std::uint8_t>;

const std::string CommError = "Błąd komunikacji z Zamkiem.\n";
const std::string NoConnection = "Brak połączenia z Zamkiem.\n";

Bytes contents(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string textOf(const fs::path& path) {
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

int countOf(const std::string& text, const std::string& what) {
    int count = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++count;
    return count;
}

void put(const fs::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// A configuration file of random bytes: flags with bits 6 and 7, entries, cards and the
// reserved tail all arbitrary, which a transfer must carry exactly as they are.
Bytes sampleFile(unsigned seed) {
    std::mt19937 random(seed);
    ConfigImage image;
    for (auto& b : image)
        b = std::uint8_t(random());
    const ConfigFileBytes bytes = encodeConfigFile(image);
    return {bytes.begin(), bytes.end()};
}

std::vector<std::string> faults(std::initializer_list<const char*> rules) {
    std::vector<std::string> args;
    for (const char* rule : rules)
        args.insert(args.end(), {"--fault", rule});
    return args;
}

Bytes defaultFile() {
    const ConfigFileBytes bytes = encodeConfigFile(ConfigImage::defaults());
    return {bytes.begin(), bytes.end()};
}

class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/v38-e2e-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        folder = pattern;
    }
    void TearDown() override {
        // What the simulators saw on the line explains a failure better than anything.
        if (HasFailure()) {
            for (const std::string& log : logs)
                std::printf("--- %s\n%s", log.c_str(), textOf(log).c_str());
        }
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }

    fs::path path(const std::string& name) const { return folder / name; }
    fs::path lockFile() const { return path("lock.bin"); }

    // A simulator whose committed image is kept in lockFile() and whose frames are
    // logged to the file it returns in `log`.
    std::unique_ptr<SimulatorProcess> startSimulator(std::vector<std::string> args = {},
                                                     std::string* log = nullptr) {
        logs.push_back(path("sim-" + std::to_string(logs.size()) + ".log").string());
        if (log)
            *log = logs.back();
        args.insert(args.begin(), {"--image", lockFile().string(), "--log"});
        return std::make_unique<SimulatorProcess>(V38_LOCK_SIM, args, logs.back());
    }

    static ProcessResult ctl(const std::vector<std::string>& args, const std::string& ports) {
        return runProcess(V38CTL, args, {"V38_PORTS=" + ports, "LC_ALL=C"});
    }

    // The sample file `seed` written to the lock on `ports` and read back: both succeed
    // and carry the exact bytes.
    void expectRoundTrip(const std::string& ports, int seed) {
        const Bytes file = sampleFile(seed);
        put(path("in.bin"), file);
        const ProcessResult write = ctl({"write", path("in.bin")}, ports);
        ASSERT_EQ(write.status, 0) << write.err;
        EXPECT_EQ(contents(lockFile()), file);
        const ProcessResult read = ctl({"read", path("out.bin")}, ports);
        ASSERT_EQ(read.status, 0) << read.err;
        EXPECT_EQ(contents(path("out.bin")), file);
    }

    fs::path folder;
    std::vector<std::string> logs;
};

TEST_F(EndToEnd, WriteAndReadCarryTheExactBytesBehindSilentPorts) {
    SilentPort first;
    SilentPort second;
    const auto simulator = startSimulator();
    expectRoundTrip(first.path() + ":" + second.path() + ":" + simulator->devicePath(), 1);
}

TEST_F(EndToEnd, AFailedWriteWhoseReadBackFindsTheNewImageSaysSo) {
    // The lock commits on 'S' and repeats its ACK at once: the attempt fails, the lock
    // refuses the second 'S' (nothing is staged any more), and the read-back finds the
    // new image all the same.
    const auto simulator = startSimulator({"--baud", "0", "--fault", "chatter@S"});
    const Bytes file = sampleFile(4);
    put(path("in.bin"), file);
    const ProcessResult write = ctl({"write", path("in.bin")}, simulator->devicePath());
    EXPECT_EQ(write.status, 4);
    EXPECT_EQ(write.err, CommError + "The lock did not acknowledge the end of the write ('S').\n"
                                     "The lock's image read back afterwards is the one written: "
                                     "the lock took it nevertheless.\n");
    EXPECT_EQ(contents(lockFile()), file);
}

class FailedRead : public EndToEnd, public ::testing::WithParamInterface<const char*> {};

TEST_P(FailedRead, LeavesTheFileItWouldHaveWrittenAsItWas) {
    const auto simulator = startSimulator(faults({GetParam()}));
    const Bytes old = sampleFile(2);
    put(path("kept.bin"), old);

    const ProcessResult read = ctl({"read", path("kept.bin")}, simulator->devicePath());
    EXPECT_EQ(read.status, 4);
    // The system's message, then which pass failed.
    EXPECT_EQ(read.err.rfind(CommError + "The first reading failed at block ", 0), 0u) << read.err;
    EXPECT_EQ(contents(path("kept.bin")), old);
    EXPECT_TRUE(fs::exists(lockFile()));
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 3)
        << "no file but the lock's, its log and the kept one";
}

INSTANTIATE_TEST_SUITE_P(EachFault, FailedRead,
                         ::testing::Values("silence:3@C7", "nak:3@C1", "crc:3@C0", "length:3@C0",
                                           "truncate:3@C4", "slow@C0"));

class FailedWrite : public EndToEnd, public ::testing::WithParamInterface<const char*> {};

TEST_P(FailedWrite, LeavesTheLockAsItWas) {
    const auto simulator = startSimulator(faults({GetParam()}));
    ASSERT_EQ(contents(lockFile()), defaultFile());
    put(path("new.bin"), sampleFile(3));

    const ProcessResult write = ctl({"write", path("new.bin")}, simulator->devicePath());
    EXPECT_EQ(write.status, 4);
    // What it says the lock holds is what the lock holds: the old configuration.
    EXPECT_EQ(write.err.rfind(CommError, 0), 0u);
    EXPECT_TRUE(write.err.find("the lock keeps the old configuration") != std::string::npos ||
                write.err.find("the lock does not hold it") != std::string::npos)
        << write.err;
    EXPECT_EQ(contents(lockFile()), defaultFile());
}

// A command refused with NAK fails at once; other faults fail after three attempts.
INSTANTIATE_TEST_SUITE_P(EachFault, FailedWrite,
                         ::testing::Values("nak@K5", "nak@S", "silence:3@K7", "length:3@K0",
                                           "crc:3@K1", "truncate:3@K2", "slow@S"));

TEST_F(EndToEnd, AWriteBrokenOffHalfWayLeavesNothingBehind) {
    const auto simulator = startSimulator(faults({"nak@K5"}));
    const std::string port = simulator->devicePath();
    put(path("first.bin"), sampleFile(4));
    ASSERT_EQ(ctl({"write", path("first.bin")}, port).status, 4);

    // Blocks 0..4 reached the lock but were never committed, nor do they come back
    // into the next write.
    ASSERT_EQ(ctl({"read", path("after.bin")}, port).status, 0);
    EXPECT_EQ(contents(path("after.bin")), defaultFile());
    put(path("second.bin"), sampleFile(5));
    ASSERT_EQ(ctl({"write", path("second.bin")}, port).status, 0);
    EXPECT_EQ(contents(lockFile()), sampleFile(5));
}

TEST_F(EndToEnd, FaultsThatRetriesOvercomeStillCarryTheExactBytes) {
    const std::vector<std::string> plan =
        faults({"crc:2@K2", "truncate@K4", "silence@S", "length@C1", "nak:2@C3", "truncate@C6",
                "silence@C7"});
    {
        const auto simulator = startSimulator(plan);
        expectRoundTrip(simulator->devicePath(), 6);
    }
    // The write's read-back met the faults of 'C'; a read meets them afresh.
    std::string log;
    const auto simulator = startSimulator(plan, &log);
    const ProcessResult read = ctl({"read", path("again.bin")}, simulator->devicePath());
    ASSERT_EQ(read.status, 0) << read.err;
    EXPECT_EQ(contents(path("again.bin")), sampleFile(6));
    simulator->stop();
    EXPECT_EQ(countOf(textOf(log), "[fault "), 5); // 'C' 1, 3 twice, 6 and 7
}

// No lock: its own exit status, and why not on each port, as ports would say.
TEST_F(EndToEnd, ALockThatMissesBothProbesIsNotFound) {
    SilentPort silent;
    SilentPort held;
    const auto simulator = startSimulator(faults({"silence:2@M"}));
    const std::string ports = silent.path() + ":" + simulator->devicePath() + ":" + held.path();
    const int holder = ::open(held.path().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);

    const ProcessResult read = ctl({"read", path("never.bin")}, ports);
    ::close(holder);
    EXPECT_EQ(read.status, 3);
    EXPECT_EQ(read.err, NoConnection + "The ports searched:\n  COM1  " + silent.path() +
                            ": opens, but the lock did not answer\n  COM2  " +
                            simulator->devicePath() +
                            ": opens, but the lock did not answer\n  COM3  " + held.path() +
                            ": cannot be opened: in use by another program (v38_end_to_end_ (pid " +
                            std::to_string(::getpid()) +
                            "))\n  ports without a device: 13\n'v38ctl ports' tells more.\n");
    EXPECT_FALSE(fs::exists(path("never.bin")));

    const ProcessResult probe = ctl({"probe"}, ports);
    EXPECT_EQ(probe.status, 0);
    EXPECT_EQ(probe.out, "COM2 " + simulator->devicePath() + "\n");
}

TEST_F(EndToEnd, RandomFaultsNeverGiveAHalfDoneTransfer) {
    std::string log;
    auto simulator = startSimulator({"--random", "25", "--seed", "11"}, &log);
    const std::string port = simulator->devicePath();
    const Bytes file = sampleFile(7);
    put(path("in.bin"), file);
    const Bytes old = sampleFile(8);
    put(path("out.bin"), old);

    const ProcessResult write = ctl({"write", path("in.bin")}, port);
    const Bytes committed = contents(lockFile());
    // A failed write may still have been taken whole ('S' heard, its answer or the check
    // lost to a fault); never in part.
    if (write.status == 0)
        EXPECT_EQ(committed, file);
    else
        EXPECT_TRUE(committed == defaultFile() || committed == file) << write.err;
    const ProcessResult read = ctl({"read", path("out.bin")}, port);
    EXPECT_EQ(contents(path("out.bin")), read.status == 0 ? committed : old) << read.err;
    // The system's message first; what follows it says more (which ports, what the lock
    // may hold).
    const auto toldFailure = [](const std::string& err) {
        return err.rfind(CommError, 0) == 0 || err.rfind(NoConnection, 0) == 0;
    };
    EXPECT_TRUE(write.status == 0 || toldFailure(write.err)) << write.err;
    EXPECT_TRUE(read.status == 0 || toldFailure(read.err)) << read.err;
    simulator->stop();
    EXPECT_GE(countOf(textOf(log), "[fault "), 3); // this seed does put faults in the way
}

TEST_F(EndToEnd, TheCommittedImageOutlivesTheSimulator) {
    const fs::path link = path("lock-port");
    const Bytes file = sampleFile(9);
    put(path("in.bin"), file);
    {
        const auto simulator = startSimulator({"--link", link.string()});
        EXPECT_EQ(fs::read_symlink(link), simulator->devicePath());
        ASSERT_EQ(ctl({"write", path("in.bin")}, link.string()).status, 0);
        EXPECT_EQ(simulator->stop(), 0);
        EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
    }
    const auto simulator = startSimulator({"--link", link.string()});
    ASSERT_EQ(ctl({"read", path("out.bin")}, link.string()).status, 0);
    EXPECT_EQ(contents(path("out.bin")), file);
}

// Waits for `count` bytes on fd, at most `ms` milliseconds.
Bytes receive(int fd, std::size_t count, int ms) {
    Bytes got;
    while (got.size() < count) {
        pollfd entry{fd, POLLIN, 0};
        if (::poll(&entry, 1, ms) <= 0)
            break;
        std::uint8_t chunk[256];
        const ssize_t n = ::read(fd, chunk, std::min(sizeof chunk, count - got.size()));
        if (n <= 0)
            break;
        got.insert(got.end(), chunk, chunk + n);
    }
    return got;
}

// The simulator's pseudo-terminal, raw, for talking to it byte by byte.
int openRaw(const std::string& device) {
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios tio{};
    ::tcgetattr(fd, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(fd, TCSANOW, &tio);
    return fd;
}

TEST_F(EndToEnd, TheSimulatorResynchronisesOnTheNextFrameAfterGarbage) {
    const auto simulator = startSimulator();
    const int fd = openRaw(simulator->devicePath());
    ASSERT_GE(fd, 0);
    const Bytes probe{0x00, 0x05, 0x4D, 0xB2, 0xA5};
    const Bytes readBlock0{0x00, 0x06, 0x43, 0x00, 0xD1, 0x15};
    const Bytes answer{0x00, 0x08, 0x00, 0xE8};

    // Noise, then a probe, in one write.
    Bytes noisy{0x13, 0x00, 0x07, 0xFF, 0x00};
    noisy.insert(noisy.end(), probe.begin(), probe.end());
    ASSERT_EQ(::write(fd, noisy.data(), noisy.size()), ssize_t(noisy.size()));
    Bytes got = receive(fd, 8, 500);
    ASSERT_EQ(got.size(), 8u);
    EXPECT_TRUE(std::equal(answer.begin(), answer.end(), got.begin()));

    // A length field that promises 128 bytes, then a probe: answered once the line is quiet.
    Bytes hostage{0x00, 0x80};
    hostage.insert(hostage.end(), probe.begin(), probe.end());
    ASSERT_EQ(::write(fd, hostage.data(), hostage.size()), ssize_t(hostage.size()));
    EXPECT_EQ(receive(fd, 8, 500).size(), 8u);

    // A request that comes in two pieces.
    ASSERT_EQ(::write(fd, readBlock0.data(), 3), 3);
    ::usleep(5000);
    ASSERT_EQ(::write(fd, readBlock0.data() + 3, 3), 3);
    got = receive(fd, 68, 500);
    ASSERT_EQ(got.size(), 68u);
    EXPECT_EQ(got[2], DefaultFlags);
    ::close(fd);
}

// What the simulator's line does beyond answering: an echoing converter, one pair shared
// by every sender, a lock answering twice.
TEST_F(EndToEnd, TheSimulatedLineEchoesCollidesAndRepeats) {
    const Bytes probe{0x00, 0x05, 0x4D, 0xB2, 0xA5};
    const Bytes readBlock0{0x00, 0x06, 0x43, 0x00, 0xD1, 0x15};
    const Bytes answer{0x00, 0x08, 0x00, 0xE8};
    {
        // The request's own bytes come back first, then the answer.
        const auto simulator = startSimulator({"--baud", "9600", "--echo"});
        const int fd = openRaw(simulator->devicePath());
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::write(fd, probe.data(), probe.size()), ssize_t(probe.size()));
        EXPECT_EQ(receive(fd, probe.size(), 500), probe);
        const Bytes got = receive(fd, 8, 500);
        ::close(fd);
        ASSERT_EQ(got.size(), 8u);
        EXPECT_TRUE(std::equal(answer.begin(), answer.end(), got.begin()));
    }
    {
        // Another device sends a copy of the answer the moment it ends; a probe sent at
        // once overlaps it: the lock never hears it, and the PC loses what overlapped.
        std::string log;
        const auto simulator =
            startSimulator({"--baud", "9600", "--half-duplex", "--fault", "chatter@C"}, &log);
        const int fd = openRaw(simulator->devicePath());
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::write(fd, readBlock0.data(), readBlock0.size()), 6);
        const Bytes reply = receive(fd, 68, 1000);
        ASSERT_EQ(reply.size(), 68u);
        ASSERT_EQ(::write(fd, probe.data(), probe.size()), ssize_t(probe.size()));
        const Bytes after = receive(fd, 68, 400);
        EXPECT_LT(after.size(), 68u);
        EXPECT_GT(after.size(), 50u);
        EXPECT_TRUE(std::search(after.begin(), after.end(), answer.begin(), answer.end()) ==
                    after.end());
        // On a quiet line the lock hears again.
        ASSERT_EQ(::write(fd, probe.data(), probe.size()), ssize_t(probe.size()));
        EXPECT_EQ(receive(fd, 8, 500).size(), 8u);
        ::close(fd);
        // Only the second probe was heard.
        EXPECT_EQ(countOf(textOf(log), "rx 00 05 4D B2 A5"), 1);
    }
    {
        // A lock answering twice: the same answer back to back.
        const auto simulator = startSimulator({"--baud", "9600", "--fault", "twice@C"});
        const int fd = openRaw(simulator->devicePath());
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::write(fd, readBlock0.data(), readBlock0.size()), 6);
        const Bytes got = receive(fd, 2 * 68, 1000);
        ::close(fd);
        ASSERT_EQ(got.size(), 2u * 68);
        EXPECT_TRUE(std::equal(got.begin(), got.begin() + 68, got.begin() + 68));
    }
}

TEST_F(EndToEnd, ALateLockAnswersEveryRequestInItsTurnAndTheLinkGetsThrough) {
    const auto simulator = startSimulator({"--lag", "100"});
    const int fd = openRaw(simulator->devicePath());
    ASSERT_GE(fd, 0);
    // Two block reads, the second while the first is still unanswered: both are heard,
    // and answered in the order they came.
    const Bytes readBlock0{0x00, 0x06, 0x43, 0x00, 0xD1, 0x15};
    const Bytes readBlock1{0x00, 0x06, 0x43, 0x01, 0x10, 0xD5};
    const auto sent = std::chrono::steady_clock::now();
    ASSERT_EQ(::write(fd, readBlock0.data(), readBlock0.size()), 6);
    ::usleep(30'000);
    ASSERT_EQ(::write(fd, readBlock1.data(), readBlock1.size()), 6);
    const Bytes first = receive(fd, 1, 1000);
    EXPECT_GE(std::chrono::steady_clock::now() - sent, std::chrono::milliseconds(100));
    Bytes got = receive(fd, 2 * 68 - 1, 1000);
    ::close(fd);
    got.insert(got.begin(), first.begin(), first.end());
    ASSERT_EQ(got.size(), 2u * 68);
    EXPECT_EQ(got[2], DefaultFlags); // block 0 begins with the flags
    EXPECT_EQ(got[68 + 2], 0xFF);    // block 1 is erased
    EXPECT_EQ(got[68 + 1], 0x44);

    // The lock misses the first probe's time and answers both probes: the second
    // answer must not reach the first block request.
    expectRoundTrip(simulator->devicePath(), 10);
}

TEST_F(EndToEnd, BankRetriesDataRequestsButNotRefusedCommands) {
    std::string log;
    auto simulator = startSimulator(faults({"nak@C2", "nak@K3"}), &log);
    ::setenv("V38_PORTS", simulator->devicePath().c_str(), 1);
    {
        V38Bank bank;
        ASSERT_TRUE(bank.findLock(AllComPorts));
        EXPECT_EQ(bank.portNumber(), 1);
        ConfigImage read = ConfigImage::erased();
        for (int block = 0; block < BlockCount; ++block) {
            const Block data = bank.readBlock(block);
            std::copy(data.begin(), data.end(), read.block(block));
        }
        EXPECT_EQ(read, ConfigImage::defaults());

        Block data{};
        for (int block = 0; block < 3; ++block) {
            std::copy_n(read.block(block), BlockSize, data.begin());
            bank.writeBlock(block, data);
        }
        std::copy_n(read.block(3), BlockSize, data.begin());
        EXPECT_THROW(bank.writeBlock(3, data), CommErr);
    }
    ::unsetenv("V38_PORTS");
    simulator->stop();
    const std::string frames = textOf(log);
    EXPECT_EQ(countOf(frames, "rx 00 06 43 02 "), 2) << frames;
    EXPECT_EQ(countOf(frames, "rx 00 46 4B 03 "), 1);
    EXPECT_EQ(countOf(frames, "rx 00 46 4B "), 4);
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

TEST_F(EndToEnd, PortsTellsEveryStateOfAPortApartAndSendsOnlyProbes) {
    using ::testing::HasSubstr;
    using ::testing::StartsWith;
    SilentPort silent;
    SilentPort held;
    SilentPort forbidden;
    std::string log;
    const auto simulator = startSimulator({}, &log);
    const auto garbling = startSimulator(faults({"crc:2@M"}));
    const int holder = ::open(held.path().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    const std::string missing = path("missing").string();
    const std::string ports = silent.path() + ":" + missing + ":" + simulator->devicePath() + ":" +
                              held.path() + ":" + garbling->devicePath();

    const ProcessResult result = ctl({"ports"}, ports);
    ::close(holder);
    EXPECT_EQ(result.status, 0) << result.err;
    const std::vector<std::string> lines = linesOf(result.out);
    ASSERT_GE(lines.size(), 18u) << result.out; // devices of this machine may follow COM16
    EXPECT_EQ(lines[0], "COM1  " + silent.path() +
                            ": opens, but nothing answers the probe: check the RS485 pair (A and "
                            "B swapped?) and the lock's power");
    EXPECT_EQ(lines[1], "COM2  " + missing + ": absent");
    EXPECT_THAT(lines[2], StartsWith("COM3  " + simulator->devicePath() +
                                     ": the lock answers: 00 08 00 E8 "));
    EXPECT_THAT(lines[3],
                StartsWith("COM4  " + held.path() +
                           ": cannot be opened: in use by another program (v38_end_to_end_"
                           " (pid " +
                           std::to_string(::getpid()) + ")"));
    EXPECT_THAT(lines[4], StartsWith("COM5  " + garbling->devicePath() +
                                     ": opens, and something answers, but not as the lock does: "
                                     "00 08 00 E8 "));
    EXPECT_EQ(lines[15], "COM16 (no device): absent");
    EXPECT_EQ(lines.back(), "The lock answers on COM3.");
    simulator->stop();
    const std::string frames = textOf(log);
    EXPECT_EQ(countOf(frames, "rx "), 1) << frames; // one probe, answered: as the search
    EXPECT_EQ(countOf(frames, "rx 00 05 4D B2 A5"), 1);

    // No lock: exit status 1. Without the rights to a device, the reason and the dialout
    // hint; as root, the check runs as nobody, since root opens anything.
    ASSERT_EQ(::chmod(forbidden.path().c_str(), 0), 0);
    const std::vector<std::string> asUser =
        ::geteuid() == 0 ? std::vector<std::string>{"--reuid=65534", "--regid=65534",
                                                    "--clear-groups", V38CTL, "ports"}
                         : std::vector<std::string>{"ports"};
    const ProcessResult denied = runProcess(::geteuid() == 0 ? "/usr/bin/setpriv" : V38CTL, asUser,
                                            {"V38_PORTS=" + forbidden.path()});
    EXPECT_EQ(denied.status, 1) << denied.err;
    EXPECT_THAT(denied.out, StartsWith("COM1  " + forbidden.path() +
                                       ": cannot be opened: no permission (Permission denied)"));
    EXPECT_THAT(denied.out, HasSubstr("sudo usermod -aG dialout $USER"));
    EXPECT_THAT(denied.out, HasSubstr("\nNo lock answered on COM1..COM16.\n"));
}

// The first Ctrl-C ends a transfer between two exchanges, in the first pass or in the
// second: v38ctl says what the lock may hold, or that nothing was written, and the trace
// ends with where it stopped.
TEST_F(EndToEnd, CtrlCEndsATransferBetweenTwoExchanges) {
    struct Case {
        const char* command;
        int sentBeforeSignal; // frames sent (the probe first) when Ctrl-C comes
        const char* step;     // where the trace says it stopped
        bool committed;       // the lock holds the new image ('S' went out)
    };
    for (const Case& c : {Case{"write", 4, "[3-8]", false}, Case{"write", 13, "9", true},
                          Case{"read", 12, "9", false}}) {
        SCOPED_TRACE(std::string(c.command) + " after " + std::to_string(c.sentBeforeSignal));
        fs::remove(lockFile());
        const auto simulator = startSimulator();
        const std::string port = simulator->devicePath();
        put(path("new.bin"), sampleFile(7));
        fs::remove(path("out.bin"));
        const std::string file = path(c.command == std::string("write") ? "new.bin" : "out.bin");
        const std::string trace = path("t.log").string();
        fs::remove(trace);
        // Job control, so that v38ctl in the background takes SIGINT as from a terminal.
        const std::string script =
            "set -m; v38ctl " + std::string(c.command) + " --trace '" + trace + "' '" + file +
            "' 2> '" + path("err.txt").string() + "' & ctl=$!; until [ \"$(cat '" + trace +
            "' 2>/dev/null | grep -c '  sent  ')\" -ge " + std::to_string(c.sentBeforeSignal) +
            " ]; do sleep 0.01; done; kill -INT $ctl; wait $ctl";
        const ProcessResult result =
            runProcess("/bin/bash", {"-c", script},
                       {"PATH=" + fs::path(V38CTL).parent_path().string() + ":/usr/bin:/bin",
                        "V38_PORTS=" + port, "LC_ALL=C"});
        EXPECT_EQ(result.status, 130);
        EXPECT_EQ(textOf(path("err.txt")),
                  c.command == std::string("read")
                      ? "Interrupted: nothing was written.\n"
                      : "Interrupted: the lock on COM1 " + port +
                            " holds the old configuration or the new one, whole; run v38ctl "
                            "verify " +
                            file + "\n");
        EXPECT_EQ(contents(lockFile()), c.committed ? sampleFile(7) : defaultFile());
        EXPECT_FALSE(fs::exists(path("out.bin")));
        const std::vector<std::string> lines = linesOf(textOf(trace));
        ASSERT_GE(lines.size(), 2u);
        EXPECT_THAT(lines.back(),
                    ::testing::MatchesRegex(" +[0-9.]+  interrupted \\(Ctrl-C\\) before step " +
                                            std::string(c.step) + ": the transfer ends here"));
        EXPECT_THAT(lines[lines.size() - 2], ::testing::EndsWith("  COM1 closed"));
    }
}

void putText(const fs::path& path, const std::string& text) {
    put(path, Bytes(text.begin(), text.end()));
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    const std::size_t at = text.find(from);
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

std::string utf16(const std::string& ascii) {
    std::string out = "\xFF\xFE";
    for (char c : ascii)
        out += {c, '\0'};
    return out;
}

// Every command that takes a configuration, on every kind of input, run as a user runs
// it (by bash, in the folder of the files): what it prints, its exit status, what it
// creates, and that it changes no file and leaves nothing else behind.
TEST_F(EndToEnd, CommandLineCases) {
    const Bytes good = sampleFile(20);
    put(path("good.bin"), good);
    ConfigImage image;
    ASSERT_EQ(decodeConfigFile(good.data(), good.size(), image), FileStatus::Ok);
    const std::string doc = exportConfigJson(image);
    // What export and read write: the document with its schema's name first.
    const std::string exported = "{\n  \"$schema\": \"v38-config.schema.json\"," + doc.substr(1);
    for (const char* name : {"doc.json", "doc", "doc.txt", "doc.json.orig"})
        putText(path(name), doc);
    putText(path("utf16.json"), utf16(doc));
    putText(path("utf16.txt"), utf16(doc).substr(2)); // no byte-order mark
    putText(path("bad.json"), replaced(doc, "\"version\": 1", "\"version\": \"1\""));
    const int mat = good[offset::matLockout];
    ASSERT_NE(mat, 6);
    const std::string matField = "\"matLockoutTensOfSeconds\": ";
    putText(path("changed.json"), replaced(doc, matField + std::to_string(mat), matField + "6"));
    put(path("short.bin"), Bytes(good.begin(), good.end() - 1));
    std::map<std::string, Bytes> files;
    for (const auto& entry : fs::directory_iterator(folder))
        files[entry.path().filename().string()] = contents(entry.path());
    fs::create_directory(path("folder"));

    SilentPort terminal;
    const auto simulator = startSimulator();
    const std::string port = simulator->devicePath();
    const std::string diffLine = "times.matLockoutTensOfSeconds \"Blokada po wejściu na matę "
                                 "(x10s)\": " +
                                 std::to_string(mat) + " " + lockoutReading(mat) +
                                 " -> 6 = 1min 00sek\n";
    const std::string toTerminal = " is a terminal: the 514-byte configuration file is not "
                                   "written to it; redirect it to a file, or name one\n";
    const std::string bad = "Błąd w pliku.\n\n";
    const std::string wholeDoc = "=" + exported; // output exactly this
    const std::string showing = "Konfiguracja";  // output beginning with this
    const struct {
        std::string command;
        int status;
        std::string out; // "=" and the whole output, or what it begins with
        std::string err;
        std::string creates = {}; // a file, holding good.bin's bytes or, for .json, doc
    } cases[] = {
        // Formats by content, whatever the name; "-" and pipes as input.
        {"v38ctl show doc", 0, showing, ""},
        {"v38ctl show doc.txt", 0, showing, ""},
        {"v38ctl show doc.json.orig", 0, showing, ""},
        {"v38ctl show <(cat doc.json)", 0, showing, ""},
        {"v38ctl show - < good.bin", 0, showing, ""},
        {"v38ctl export good.bin", 0, wholeDoc, ""},
        {"v38ctl export doc.txt -", 0, wholeDoc, ""},
        {"v38ctl export - < good.bin", 0, wholeDoc, ""},
        {"v38ctl export good.bin out.json", 0, "=", "", "out.json"},
        {"v38ctl import doc.txt out.bin", 0, "=", "", "out.bin"},
        {"v38ctl import - out.bin < doc.json", 0, "=", "", "out.bin"},
        {"v38ctl import doc.json - > out.bin", 0, "=", "", "out.bin"},
        {"v38ctl import doc.json /dev/null", 0, "=", ""},
        {"v38ctl import good.bin out.bin", 0, "=", "", "out.bin"},
        {"v38ctl write doc", 0, "=", "Written to the lock on COM1 " + port + ".\n"},
        {"v38ctl verify doc.txt", 0, "=", ""},
        {"v38ctl diff doc good.bin", 0, "=", ""},
        // diff and verify: a line naming the two sides, then the differences.
        {"v38ctl diff good.bin changed.json", 1, "=From good.bin to changed.json:\n" + diffLine,
         ""},
        {"v38ctl verify - < changed.json", 1,
         "=From standard input to the lock on COM1 " + port +
             ":\ntimes.matLockoutTensOfSeconds \"Blokada po wejściu na matę (x10s)\": 6 = 1min "
             "00sek -> " +
             std::to_string(mat) + " " + lockoutReading(mat) + "\n",
         ""},
        {"LC_ALL=pl_PL.UTF-8 v38ctl diff good.bin changed.json", 1,
         "=Z good.bin do changed.json:\n" + diffLine, ""},
        {"v38ctl -q diff good.bin changed.json", 1, "=", ""},
        {"v38ctl diff --json good.bin changed.json", 1,
         "={\n  \"from\": \"good.bin\",\n  \"to\": \"changed.json\",\n  \"equal\": false,\n"
         "  \"differences\": [\n    {\"field\":\"times.matLockoutTensOfSeconds\",\"caption\":"
         "\"Blokada po wejściu na matę (x10s)\",\"from\":" +
             std::to_string(mat) + ",\"to\":6}\n  ]\n}\n",
         ""},
        // The lock holds what 'write doc' wrote; read says where it found it.
        {"v38ctl read lock.json", 0, "=",
         "Read from the lock on COM1 " + port + " into lock.json.\n", "lock.json"},
        {"v38ctl read --port=" + port + " lock.json", 0, "=",
         "Read from the lock on COM1 " + port + " into lock.json.\n", "lock.json"},
        {"v38ctl read -P COM2 x.bin", 3, "=",
         NoConnection +
             "The ports searched:\n  ports without a device: 1\n'v38ctl ports' tells more.\n"},
        {"v38ctl -P COM17 probe", 2, "=",
         "--port 'COM17': not a port (COM1..COM16, or a device such as /dev/ttyUSB0); see 'v38ctl "
         "--help'\n"},
        // Every file error names the file.
        {"v38ctl diff good.bin short.bin", 2, "=",
         bad + "short.bin: 513 bytes, but a configuration file has 514\n"},
        {"v38ctl show utf16.json", 2, "=", bad + "utf16.json: a UTF-16 text: save it as UTF-8\n"},
        {"v38ctl diff doc utf16.txt", 2, "=", bad + "utf16.txt: a UTF-16 text: save it as UTF-8\n"},
        {"v38ctl write folder", 2, "=", "Nie można otworzyć pliku:\n\n folder\nIs a directory\n"},
        {"v38ctl diff missing.bin good.bin", 2, "=",
         "Nie można otworzyć pliku:\n\n missing.bin\nNo such file or directory\n"},
        {"LC_ALL=pl_PL.UTF-8 v38ctl diff missing.bin good.bin", 2, "=",
         "Nie można otworzyć pliku:\n\n missing.bin\nNie ma takiego pliku ani folderu\n"},
        {"v38ctl import bad.json out.bin", 2, "=",
         "bad.json: /version = \"1\": this v38ctl reads version 1\n"},
        {"v38ctl import - good.bin < bad.json", 2, "=",
         "standard input: /version = \"1\": this v38ctl reads version 1\n"},
        {"LC_ALL=pl_PL.UTF-8 v38ctl import bad.json out.bin", 2, "=",
         "bad.json: /version = \"1\": ten v38ctl czyta wersję 1\n"},
        // read checks where it would write before it touches the lock.
        {"v38ctl read nowhere/out.bin", 2, "=",
         "Nie można otworzyć pliku:\n\n nowhere/out.bin\nnowhere/out.bin: its folder does not "
         "exist or cannot be written; the lock was not read\n"},
        {"v38ctl read folder", 2, "=", "Nie można otworzyć pliku:\n\n folder\n"},
        {"V38_PORTS=: v38ctl verify doc.json", 2, "=",
         NoConnection +
             "The ports searched:\n  ports without a device: 16\n'v38ctl ports' tells more.\n"},
        // Standard output that cannot be written fails the command, whatever it found.
        {"v38ctl show good.bin > /dev/full", 2, "=",
         "Błąd zapisu pliku.\n\nstandard output\nNo space left on device\n"},
        {"v38ctl diff good.bin changed.json > /dev/full", 2, "=",
         "Błąd zapisu pliku.\n\nstandard output\nNo space left on device\n"},
        {"LC_ALL=pl_PL.UTF-8 v38ctl show good.bin > /dev/full", 2, "=",
         "Błąd zapisu pliku.\n\nstandardowe wyjście\nBrak miejsca na urządzeniu\n"},
        // For git: a file that is no configuration is shown in hex, and git goes on.
        {"v38ctl textconv short.bin", 0,
         "Not a configuration (513 bytes, but a configuration file has 514); its bytes:\n"
         "00000000 ",
         ""},
        {"v38ctl textconv doc.json", 0, showing, ""},
        // An output that is the input, or the 514-byte file for a terminal: refused
        // before anything is read or written.
        {"v38ctl export good.bin ./good.bin", 2, "=",
         "./good.bin: the same file as the input; nothing was written\n"},
        {"v38ctl import doc.json doc.json", 2, "=",
         "doc.json: the same file as the input; nothing was written\n"},
        {"v38ctl read - > " + terminal.path(), 2, "=", "standard output" + toTerminal},
        {"v38ctl import doc.json " + terminal.path(), 2, "=", terminal.path() + toTerminal},
        // Usage: one line naming the fault, in the run's language.
        {"v38ctl", 2, "=", "v38ctl: no command given; see 'v38ctl --help'\n"},
        {"v38ctl read", 2, "=",
         "v38ctl: read: missing operand (usage: v38ctl read FILE); see 'v38ctl --help'\n"},
        {"v38ctl --trace t.log show doc", 2, "=",
         "v38ctl: --trace is not for show (only for probe, ports, read, write, verify); see "
         "'v38ctl --help'\n"},
        {"v38ctl --show-cards read x.bin", 2, "=",
         "v38ctl: --show-cards is not for read (only for show, diff, verify, textconv); see "
         "'v38ctl --help'\n"},
        {"LC_ALL=pl_PL.UTF-8 v38ctl show doc extra", 2, "=",
         "v38ctl: show: nadmiarowy argument 'extra' (użycie: v38ctl show FILE); zob. 'v38ctl "
         "--help'\n"},
        {"v38ctl --version", 0, "v38ctl ", ""},
    };
    const std::string bin = fs::path(V38CTL).parent_path().string();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        const ProcessResult result =
            runProcess("/bin/bash", {"-c", "cd '" + folder.string() + "' && " + c.command},
                       {"PATH=" + bin + ":/usr/bin:/bin", "V38_PORTS=" + port, "LC_ALL=C"});
        EXPECT_EQ(result.status, c.status) << result.err;
        if (c.out[0] == '=')
            EXPECT_EQ(result.out, c.out.substr(1));
        else
            EXPECT_EQ(result.out.rfind(c.out, 0), 0u) << result.out;
        EXPECT_EQ(result.err, c.err);
        for (const auto& [name, bytes] : files)
            EXPECT_EQ(contents(path(name)), bytes) << name << " changed";
        const std::size_t extra = c.creates.empty() ? 0 : 1;
        EXPECT_EQ(std::size_t(std::distance(fs::directory_iterator(folder), {})),
                  files.size() + extra + 3) // the folder, the lock's file and its log
            << "nothing left behind";
        if (!c.creates.empty()) {
            const std::string made = textOf(path(c.creates));
            const bool document = c.creates.find(".json") != std::string::npos;
            const std::string expected =
                document ? exported : std::string(good.begin(), good.end());
            EXPECT_EQ(made, expected) << c.creates;
            fs::remove(path(c.creates));
        }
    }
    EXPECT_EQ(contents(lockFile()), good) << "written by 'write doc'";

    // The trace: appended, a line naming the run, then one line per event.
    const std::string trace = path("trace.log").string();
    ASSERT_EQ(ctl({"probe", "--trace", trace}, port).status, 0);
    ASSERT_EQ(ctl({"--trace", trace, "probe"}, port).status, 0);
    const std::vector<std::string> lines = linesOf(textOf(trace));
    EXPECT_EQ(countOf(textOf(trace), "v38ctl probe --trace " + trace + "\n"), 1);
    ASSERT_GE(lines.size(), 4u);
    EXPECT_THAT(lines[1], ::testing::MatchesRegex(" +0\\.000  COM1 opened"));
    EXPECT_THAT(lines[2], ::testing::MatchesRegex(" +[0-9]+\\.[0-9]{3}  sent  00 05 4D B2 A5"));
    EXPECT_EQ(countOf(textOf(trace), "  received  00 08 00 E8 "), 2);
    EXPECT_EQ(countOf(textOf(trace), "  COM1 closed\n"), 2);
    EXPECT_EQ(ctl({"--trace", path("folder").string(), "probe"}, port).err,
              "Nie można otworzyć pliku:\n\n " + path("folder").string() + "\nIs a directory\n");
}

// As the README tells: git diff shows configuration files as the window does, cards
// masked, and a file that is no configuration in hex, without ending the diff.
TEST_F(EndToEnd, GitDiffShowsConfigurationFilesAsTheWindowDoes) {
    ConfigImage before = ConfigImage::defaults();
    const std::uint8_t card[] = {0x12, 0x34, 0x56, 0x78, 0x90, 0x12, 0x34, 0x56, 0xD2, 0x51, 0x2F};
    std::copy(std::begin(card), std::end(card), before.data() + serviceCardOffset(0));
    const ConfigFileBytes a = encodeConfigFile(before);
    put(path("a.bin"), Bytes(a.begin(), a.end()));
    ConfigImage changed = before;
    changed[offset::matLockout] = 6;
    const ConfigFileBytes b = encodeConfigFile(changed);
    put(path("b.bin"), Bytes(b.begin(), b.end()));
    putText(path("junk1.bin"), "not a lock");
    putText(path("junk2.bin"), "not a lock either");
    const std::string script =
        "cd '" + folder.string() +
        "' && git init -q repo && cd repo"
        " && git config user.email t@example.invalid"
        " && git config user.name t"
        " && git config diff.v38.textconv \"v38ctl textconv\""
        " && echo '*.bin diff=v38' > .gitattributes"
        " && cp ../junk1.bin junk.bin && cp ../a.bin lock.bin"
        " && git add . && git commit -qm a"
        " && cp ../junk2.bin junk.bin && cp ../b.bin lock.bin && git diff -U30";
    const ProcessResult result =
        runProcess("/bin/bash", {"-c", script},
                   {"PATH=" + fs::path(V38CTL).parent_path().string() + ":/usr/bin:/bin",
                    "HOME=" + folder.string(), "GIT_CONFIG_NOSYSTEM=1", "LC_ALL=C"});
    EXPECT_EQ(result.status, 0) << result.err;
    using ::testing::HasSubstr;
    EXPECT_THAT(result.out,
                HasSubstr("\n-  Blokada po wejściu na matę (x10s): 255 " + lockoutReading(255) +
                          "\n+  Blokada po wejściu na matę (x10s): 6 = 1min 00sek\n"));
    EXPECT_THAT(result.out, HasSubstr("  Karta 1: 123456******3456=****\n"));
    EXPECT_THAT(result.out, ::testing::Not(HasSubstr("1234567890123456")));
    EXPECT_THAT(
        result.out,
        HasSubstr(" Not a configuration (a text, but not a configuration document (a "
                  "document begins with {)); its bytes:\n-00000000  6E 6F 74 20 61 20 6C 6F "
                  "63 6B    "));
}
} // namespace
