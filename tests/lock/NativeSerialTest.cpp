// The POSIX serial ports over real pseudo-terminals: the far end is the master side.
#include "V38Bank.h"

#include "LinkTestSupport.h"
#include "serial/PortList.h"

#include <gtest/gtest.h>

#include <optional>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace v38 {
namespace {

using test::Bytes;
using Clock = std::chrono::steady_clock;

long long msSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

class NativeSerialTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* saved = std::getenv(serial::PortListVariable);
        savedPorts = saved ? std::optional<std::string>(saved) : std::nullopt;
        newTerminal();
    }
    // A fresh pseudo-terminal as COM1.
    void newTerminal() {
        if (master >= 0)
            ::close(master);
        master = ::posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_GE(master, 0);
        ASSERT_EQ(::grantpt(master), 0);
        ASSERT_EQ(::unlockpt(master), 0);
        device = ::ptsname(master);
        usePorts(device);
    }
    void TearDown() override {
        if (master >= 0)
            ::close(master);
        if (savedPorts)
            ::setenv(serial::PortListVariable, savedPorts->c_str(), 1);
        else
            ::unsetenv(serial::PortListVariable);
    }
    static void usePorts(const std::string& list) {
        ::setenv(serial::PortListVariable, list.c_str(), 1);
    }
    bool openLockPort(RS232& port, std::uint8_t frameFlags = 0x03) {
        return port.openPort(1, 9600, frameFlags, 0x03, 264, 264);
    }
    void masterWrite(const Bytes& bytes) const {
        ASSERT_EQ(::write(master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    Bytes masterRead(std::size_t count) const {
        Bytes bytes;
        std::uint8_t buffer[256];
        while (bytes.size() < count) {
            pollfd entry{master, POLLIN, 0};
            if (::poll(&entry, 1, 2000) <= 0)
                break;
            const ssize_t n = ::read(master, buffer, std::min(sizeof buffer, count - bytes.size()));
            if (n <= 0)
                break;
            bytes.insert(bytes.end(), buffer, buffer + n);
        }
        return bytes;
    }

    int master = -1;
    std::string device;
    std::optional<std::string> savedPorts;
    RS232 port{serial::nativeSerialSystem()};
};

TEST_F(NativeSerialTest, ThePortIsRawWithTheLineSettingsAndNoFlowControl) {
    ASSERT_TRUE(openLockPort(port));
    // What the device took, not only what was asked: the details are RawTermiosTest's.
    termios tio{};
    ASSERT_EQ(::tcgetattr(static_cast<int>(port.portHandle()), &tio), 0);
    EXPECT_EQ(tio.c_cflag & (CSIZE | PARENB | CRTSCTS), static_cast<tcflag_t>(CS8));
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | INPCK | ICRNL), 0u);
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO), 0u);
    EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B9600));

    // A pseudo-terminal always keeps 8 data bits and no parity: a line it cannot carry
    // is refused, as a driver that cannot do it would refuse it.
    EXPECT_FALSE(openLockPort(port, 0x1F));
    EXPECT_EQ(port.portNumber(), 0);
    ASSERT_TRUE(openLockPort(port, 0x07)); // two stop bits it keeps
    ASSERT_EQ(::tcgetattr(static_cast<int>(port.portHandle()), &tio), 0);
    EXPECT_NE(tio.c_cflag & CSTOPB, 0u);

    EXPECT_FALSE(port.openPort(1, 12345, 0x03, 0x03, 264, 264)); // no such speed
    EXPECT_EQ(port.portNumber(), 0);
}

TEST_F(NativeSerialTest, EveryByteValuePassesUnchangedBothWays) {
    ASSERT_TRUE(openLockPort(port));
    Bytes all(256);
    for (std::size_t i = 0; i < all.size(); ++i)
        all[i] = static_cast<std::uint8_t>(i);
    masterWrite(all);
    Bytes received(256);
    EXPECT_EQ(port.receiveBytes(256, received.data()), 256u);
    EXPECT_EQ(received, all);

    port.sendBytes(256, all.data());
    EXPECT_EQ(port.portNumber(), 1);
    EXPECT_EQ(masterRead(256), all);
}

TEST_F(NativeSerialTest, AReadReturnsWhatCameButNotBeforeItsTimeoutPassed) {
    ASSERT_TRUE(openLockPort(port));
    masterWrite({0x01, 0x02, 0x03});
    std::uint8_t buffer[8] = {};
    auto start = Clock::now();
    EXPECT_EQ(port.receiveBytes(8, buffer), 3u);
    EXPECT_GE(msSince(start), 8 * 2 + 61);
    EXPECT_EQ(buffer[2], 0x03);

    ASSERT_TRUE(port.setTimeouts(200));
    start = Clock::now();
    EXPECT_EQ(port.receiveBytes(2, buffer), 0u);
    EXPECT_GE(msSince(start), 2 * 2 + 61 + 200);
    EXPECT_EQ(port.portNumber(), 1);
}

TEST_F(NativeSerialTest, ThePortIsHeldExclusivelyUntilItIsClosed) {
    ASSERT_TRUE(openLockPort(port));
    RS232 other(serial::nativeSerialSystem());
    EXPECT_FALSE(openLockPort(other));
#ifdef TIOCGEXCL
    const int probe = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(probe, 0);
    int exclusive = 0;
    ASSERT_EQ(::ioctl(probe, TIOCGEXCL, &exclusive), 0);
    EXPECT_NE(exclusive, 0);
#endif
    port.closePort();
#ifdef TIOCGEXCL
    // Cleared on close, or it would outlive us on a terminal whose master stays open.
    ASSERT_EQ(::ioctl(probe, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
    ::close(probe);
#endif
    EXPECT_TRUE(openLockPort(other));
}

TEST_F(NativeSerialTest, BytesThatCameWhileThePortWasClosedAreNotReadAfterTheOpen) {
    // The far end holds the terminal open, as the lock simulator does, so that what it
    // sent between two of our opens stays queued: a late reply to an earlier request.
    const int keeper = ::open(device.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(keeper, 0);
    termios raw{};
    ASSERT_EQ(::tcgetattr(keeper, &raw), 0);
    ::cfmakeraw(&raw);
    ASSERT_EQ(::tcsetattr(keeper, TCSANOW, &raw), 0);
    const Bytes lateReply = test::frameAround(test::repeated(64, 0x33));
    masterWrite(lateReply);
    ASSERT_EQ(::tcdrain(master), 0);

    ASSERT_TRUE(openLockPort(port));
    std::uint8_t buffer[132];
    EXPECT_EQ(port.receiveBytes(sizeof buffer, buffer), 0u);
    // What comes after the open is read as ever.
    masterWrite(test::AckFrame);
    ASSERT_EQ(port.receiveBytes(5, buffer), 5u);
    EXPECT_EQ(Bytes(buffer, buffer + 5), test::AckFrame);
    ::close(keeper);
}

TEST_F(NativeSerialTest, WaitingInputIsReadAtOnceAndWhatComesAfterIsLeft) {
    ASSERT_TRUE(openLockPort(port));
    std::uint8_t buffer[10];
    EXPECT_EQ(port.receiveWaiting(sizeof buffer, buffer), 0u);
    masterWrite(test::NakFrame);
    ASSERT_EQ(::tcdrain(master), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(port.receiveWaiting(sizeof buffer, buffer), 5u);
    EXPECT_EQ(port.receiveWaiting(sizeof buffer, buffer + 5), 0u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));
    EXPECT_EQ(Bytes(buffer, buffer + 5), test::NakFrame);
    masterWrite(test::AckFrame);
    ASSERT_EQ(port.receiveBytes(sizeof buffer, buffer), 5u);
    EXPECT_EQ(Bytes(buffer, buffer + 5), test::AckFrame);
}

TEST_F(NativeSerialTest, MissingDevicesAndFilesThatAreNoTerminalCannotBeOpened) {
    usePorts("/nonexistent/ttyX:/dev/null::" + device);
    EXPECT_FALSE(port.openPort(1, 9600, 3, 3, 264, 264));
    EXPECT_FALSE(port.openPort(2, 9600, 3, 3, 264, 264));
    EXPECT_FALSE(port.openPort(3, 9600, 3, 3, 264, 264));
    EXPECT_TRUE(port.openPort(4, 9600, 3, 3, 264, 264));
    EXPECT_FALSE(port.openPort(5, 9600, 3, 3, 264, 264));
    EXPECT_EQ(port.portNumber(), 0);
}

// An unplugged converter: the kernel hangs the terminal up under the open port, which
// then reads as empty and ready for ever; or the far end of a pseudo-terminal goes.
// Either way the port is dropped at once, long before the read's time-out.
TEST_F(NativeSerialTest, AHungUpLineDropsThePortAtOnce) {
    for (const bool unplugged : {false, true}) {
        SCOPED_TRACE(unplugged ? "hung up" : "far end closed");
        newTerminal();
        ASSERT_TRUE(openLockPort(port));
        ASSERT_TRUE(port.setTimeouts(5000));
        if (unplugged) {
            if (::ioctl(static_cast<int>(port.portHandle()), TIOCVHANGUP) != 0)
                GTEST_SKIP() << "hanging a terminal up needs CAP_SYS_ADMIN";
        } else {
            ::close(master);
            master = -1;
        }
        const auto start = Clock::now();
        std::uint8_t buffer[8];
        EXPECT_EQ(port.receiveBytes(8, buffer), 0u);
        EXPECT_LT(msSince(start), 5000);
        EXPECT_EQ(port.portNumber(), 0);
        EXPECT_EQ(port.portHandle(), serial::InvalidPortHandle);
    }
}

// A minimal lock on the master side: answers 'M' and 'C' frames.
class PtyLock {
public:
    explicit PtyLock(int master) : master_(master), thread_([this] { run(); }) {}
    ~PtyLock() {
        stop_ = true;
        thread_.join();
    }

private:
    void run() {
        Bytes pending;
        std::uint8_t buffer[256];
        while (!stop_) {
            pollfd entry{master_, POLLIN, 0};
            if (::poll(&entry, 1, 20) <= 0)
                continue;
            const ssize_t n = ::read(master_, buffer, sizeof buffer);
            if (n <= 0)
                return;
            pending.insert(pending.end(), buffer, buffer + n);
            while (pending.size() >= 2 &&
                   pending.size() >= std::size_t(frameLength(pending.data()))) {
                const Bytes frame(pending.begin(), pending.begin() + frameLength(pending.data()));
                pending.erase(pending.begin(), pending.begin() + frameLength(pending.data()));
                answer(frame);
            }
        }
    }
    void answer(const Bytes& frame) {
        Bytes reply;
        if (frame[2] == 'M')
            reply = test::ProbeAnswer;
        else if (frame[2] == 'C')
            reply =
                test::frameAround(test::repeated(64, static_cast<std::uint8_t>(0xB0 + frame[3])));
        if (!reply.empty() && ::write(master_, reply.data(), reply.size()) < 0)
            stop_ = true;
    }

    int master_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

TEST_F(NativeSerialTest, TheLockIsFoundAndReadOverAPseudoTerminal) {
    usePorts("/nonexistent/ttyX:" + device);
    PtyLock lock(master);
    V38Bank bank(serial::nativeSerialSystem());
    ASSERT_TRUE(bank.findLock(0xFFFF));
    EXPECT_EQ(bank.portNumber(), 2);
    for (int block = 0; block < 8; ++block)
        EXPECT_EQ(bank.readBlock(block)[63], 0xB0 + block);
    bank.closePort();
}

} // namespace
} // namespace v38
