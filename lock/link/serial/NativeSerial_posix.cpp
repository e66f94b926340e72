// Serial ports on POSIX: termios in raw mode, non-blocking descriptors and poll with
// a total deadline per read and write, so that they behave like the Win32 ports with
// total time-outs and no time-out between characters.
#include "PortInfo.h"
#include "PortList.h"
#include "RawTermios_posix.h"
#include "SerialSystem.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <map>
#include <mutex>
#include <poll.h>
#include <set>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace v38::serial {

namespace {
using Clock = std::chrono::steady_clock;

PortHandle failOpen(OpenFailure& failure, OpenError error, const std::string& systemText = {}) {
    failure = OpenFailure{error, systemText, {}};
    return InvalidPortHandle;
}

// Sorts the errno of a failed open or lock into what the user can act on.
PortHandle failOpenWith(OpenFailure& out, int error, const std::string& path) {
    switch (error) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return failOpen(out, OpenError::Absent, std::strerror(error));
    case EACCES:
    case EPERM: {
        OpenFailure failure{OpenError::NoPermission, std::strerror(error), {}};
        struct stat info {};
        if (::stat(path.c_str(), &info) == 0) {
            if (const group* owner = ::getgrgid(info.st_gid))
                failure.group = owner->gr_name;
        }
        out = failure;
        return InvalidPortHandle;
    }
    case EBUSY:
    case EWOULDBLOCK:
        return failOpen(out, OpenError::InUse, std::strerror(error));
    default:
        return failOpen(out, OpenError::Other, std::strerror(error));
    }
}

// DTR and RTS are held at static levels. A pseudo-terminal has no modem lines and
// answers ENOTTY, which is no reason to refuse it.
bool setModemLine(int fd, int line, bool on) {
    if (::ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &line) == 0)
        return true;
    return errno == ENOTTY;
}

int pollTimeout(Clock::time_point deadline) {
    const auto remaining = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    if (remaining.count() <= 0)
        return 0;
    return remaining.count() > INT_MAX ? INT_MAX : static_cast<int>(remaining.count());
}

enum class Wait { Ready, TimedOut, Gone };

// Waits until fd is ready for `events` or the deadline passes. A hung-up device
// (a USB converter unplugged) reports itself readable for ever with nothing to read:
// it is gone, as is one that reports only an error.
Wait waitFor(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        const int timeout = pollTimeout(deadline);
        if (timeout == 0)
            return Wait::TimedOut;
        pollfd entry{fd, events, 0};
        const int ready = ::poll(&entry, 1, timeout);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready == 0)
            return Wait::TimedOut;
        if (ready < 0 || (entry.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0)
            return Wait::Gone;
        return (entry.revents & events) != 0 ? Wait::Ready : Wait::Gone;
    }
}

Clock::time_point deadlineFor(std::uint32_t count, std::uint32_t multiplier,
                              std::uint32_t constant) {
    const auto total = std::chrono::milliseconds(std::uint64_t(count) * multiplier + constant);
    return Clock::now() + total;
}

class PosixSerialSystem final : public SerialSystem {
public:
    PortHandle open(int port, OpenFailure& failure) override {
        const std::string path = devicePathForPort(port);
        if (path.empty())
            return failOpen(failure, OpenError::Absent);
        const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            return failOpenWith(failure, errno, path);
        if (!::isatty(fd)) {
            ::close(fd);
            return failOpen(failure, OpenError::Other, "not a serial device");
        }
        // Exclusive use: flock keeps out every cooperating program, root included;
        // TIOCEXCL also keeps out those that do not flock, except root, which the
        // kernel lets through.
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::ioctl(fd, TIOCEXCL) != 0) {
            const int error = errno;
            ::close(fd);
            return failOpenWith(failure, error, path);
        }
        // A port opened anew starts with nothing to read, as on Windows. Bytes that came
        // while nobody held the port belong to no request of ours; on a pseudo-terminal
        // whose other end keeps it open they would wait for us, and a late reply from
        // before would be taken for the answer to the next request.
        ::tcflush(fd, TCIFLUSH);
        failure = OpenFailure{};
        std::lock_guard<std::mutex> guard(mutex_);
        timeouts_[fd] = Timeouts{};
        hungUp_.erase(fd);
        return fd;
    }

    bool configure(PortHandle handle, const LineSettings& settings) override {
        const int fd = static_cast<int>(handle);
        termios tio{};
        if (::tcgetattr(fd, &tio) != 0 || !makeRaw(tio, settings) ||
            ::tcsetattr(fd, TCSANOW, &tio) != 0)
            return false;
        // tcsetattr succeeds when any one change was made: read back what matters. A
        // pseudo-terminal, for one, always keeps 8 data bits and no parity.
        termios applied{};
        if (::tcgetattr(fd, &applied) != 0 || !sameLine(applied, tio))
            return false;
        return setModemLine(fd, TIOCM_DTR, settings.dtr) &&
               setModemLine(fd, TIOCM_RTS, settings.rts);
    }

    // The kernel sizes its tty buffers itself.
    bool setQueues(PortHandle, std::uint32_t, std::uint32_t) override { return true; }

    bool setTimeouts(PortHandle handle, const Timeouts& timeouts) override {
        std::lock_guard<std::mutex> guard(mutex_);
        const auto it = timeouts_.find(handle);
        if (it == timeouts_.end())
            return false;
        it->second = timeouts;
        return true;
    }

    std::uint32_t write(PortHandle handle, const std::uint8_t* data, std::uint32_t count) override {
        const int fd = static_cast<int>(handle);
        const Timeouts timeouts = timeoutsOf(handle);
        const auto deadline = deadlineFor(count, timeouts.writeMultiplier, timeouts.writeConstant);
        std::uint32_t written = 0;
        while (written < count) {
            const ssize_t n = ::write(fd, data + written, count - written);
            if (n > 0) {
                written += static_cast<std::uint32_t>(n);
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EINTR)
                break;
            if (waitFor(fd, POLLOUT, deadline) != Wait::Ready)
                break;
        }
        waitUntilSent(fd, deadline);
        return written;
    }

    std::uint32_t read(PortHandle handle, std::uint8_t* buffer, std::uint32_t count) override {
        const int fd = static_cast<int>(handle);
        const Timeouts timeouts = timeoutsOf(handle);
        const auto deadline = deadlineFor(count, timeouts.readMultiplier, timeouts.readConstant);
        std::uint32_t received = 0;
        while (received < count) {
            const ssize_t n = ::read(fd, buffer + received, count - received);
            if (n > 0) {
                received += static_cast<std::uint32_t>(n);
                continue;
            }
            // With VMIN 0 an empty queue reads as 0 bytes, not as end of file; poll tells
            // an empty queue from a device that has gone.
            if (n < 0 && errno != EAGAIN && errno != EINTR) {
                markHungUp(handle);
                break;
            }
            const Wait wait = waitFor(fd, POLLIN, deadline);
            if (wait == Wait::Gone)
                markHungUp(handle);
            if (wait != Wait::Ready)
                break;
        }
        return received;
    }

    std::uint32_t readWaiting(PortHandle handle, std::uint8_t* buffer,
                              std::uint32_t count) override {
        // The descriptor is non-blocking: a read returns what the queue holds, at once.
        std::uint32_t received = 0;
        while (received < count) {
            const ssize_t n = ::read(static_cast<int>(handle), buffer + received, count - received);
            if (n > 0) {
                received += static_cast<std::uint32_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && errno != EAGAIN)
                markHungUp(handle);
            break;
        }
        return received;
    }

    bool hungUp(PortHandle handle) override {
        std::lock_guard<std::mutex> guard(mutex_);
        return hungUp_.count(handle) != 0;
    }

    void close(PortHandle handle) override {
        const int fd = static_cast<int>(handle);
        {
            std::lock_guard<std::mutex> guard(mutex_);
            timeouts_.erase(handle);
            hungUp_.erase(handle);
        }
        // Clear the exclusive flag first: on a pseudo-terminal whose other end stays
        // open it would outlive us and lock everybody else out.
        ::ioctl(fd, TIOCNXCL);
        ::close(fd);
    }

    void sleep(std::uint32_t milliseconds) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    }

    std::uint64_t microseconds() override {
        const auto now = Clock::now().time_since_epoch();
        return static_cast<std::uint64_t>(
            std::chrono::duration_cast<std::chrono::microseconds>(now).count());
    }

private:
    Timeouts timeoutsOf(PortHandle handle) {
        std::lock_guard<std::mutex> guard(mutex_);
        const auto it = timeouts_.find(handle);
        return it == timeouts_.end() ? Timeouts{} : it->second;
    }

    // A write counts as done once the bytes are on the line, as on Windows, so that
    // the reply time-out that follows starts at the same moment. The wait is bounded
    // by the write's deadline; drivers that cannot tell their queue are not waited for.
    static void waitUntilSent(int fd, Clock::time_point deadline) {
        int queued = 0;
        while (::ioctl(fd, TIOCOUTQ, &queued) == 0 && queued > 0 && Clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }

    void markHungUp(PortHandle handle) {
        std::lock_guard<std::mutex> guard(mutex_);
        hungUp_.insert(handle);
    }

    std::mutex mutex_;
    std::map<PortHandle, Timeouts> timeouts_;
    std::set<PortHandle> hungUp_;
};
} // namespace

SerialSystem& nativeSerialSystem() {
    static PosixSerialSystem system;
    return system;
}

} // namespace v38::serial
