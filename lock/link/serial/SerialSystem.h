#pragma once

#include <cstdint>
#include <string>

namespace v38::serial {

// An operating-system handle of an open port: a HANDLE on Windows, a file
// descriptor on POSIX, a slot number in the scripted test double.
using PortHandle = std::intptr_t;
inline constexpr PortHandle InvalidPortHandle = -1; // all bits set, as INVALID_HANDLE_VALUE

enum class Parity { None, Odd, Even };

// Why a port could not be opened, in the few classes a technician acts on.
enum class OpenError {
    None,         // it opened
    Absent,       // no device behind the COM number
    NoPermission, // the device is there but we may not open it
    InUse,        // another program holds it
    Other,
};

struct OpenFailure {
    OpenError error = OpenError::None;
    std::string systemText; // the system's own words for the error, when it gave some
    std::string group;      // POSIX, NoPermission: the group that owns the device
};

// Line settings as RS232::openPort decodes them from its frame and line flags.
struct LineSettings {
    std::int32_t baud = 9600;
    int dataBits = 8; // 5..8
    Parity parity = Parity::None;
    int stopBits = 1; // 1 or 2
    bool dtr = true;  // held on (true) or off for as long as the port is open
    bool rts = true;
};

// Total time-outs in milliseconds: an operation on k bytes may take at most
// k * multiplier + constant. There is no time-out between characters.
struct Timeouts {
    std::uint32_t readMultiplier = 0;
    std::uint32_t readConstant = 0;
    std::uint32_t writeMultiplier = 0;
    std::uint32_t writeConstant = 0;
};

// The operating system's side of RS232: the handful of serial calls the channel
// needs, so that the channel's rules are written once and run unchanged over Win32,
// POSIX and the scripted double that the tests drive with a virtual clock.
class SerialSystem {
public:
    virtual ~SerialSystem() = default;

    // Opens COM<port> for exclusive reading and writing; InvalidPortHandle when the
    // port is missing, busy or not accessible, and then `failure` says why.
    virtual PortHandle open(int port, OpenFailure& failure) = 0;
    // Reads the line state, applies the settings (raw, no flow control, no parity
    // checking of received bytes, DTR and RTS at static levels) and writes it back.
    virtual bool configure(PortHandle handle, const LineSettings& settings) = 0;
    // Asks the driver for queues of the given sizes.
    virtual bool setQueues(PortHandle handle, std::uint32_t inQueue, std::uint32_t outQueue) = 0;
    virtual bool setTimeouts(PortHandle handle, const Timeouts& timeouts) = 0;
    // Both return when all bytes moved or the total time-out passed, with the count.
    virtual std::uint32_t write(PortHandle handle, const std::uint8_t* data,
                                std::uint32_t count) = 0;
    virtual std::uint32_t read(PortHandle handle, std::uint8_t* buffer, std::uint32_t count) = 0;
    // Reads what has already been received, up to `count` bytes, without waiting for
    // more: the link looks at what is on the line without spending time on it.
    virtual std::uint32_t readWaiting(PortHandle handle, std::uint8_t* buffer,
                                      std::uint32_t count) = 0;
    // True once the device has gone from under the open port (a converter unplugged,
    // the line hung up): nothing will come from it again.
    virtual bool hungUp(PortHandle handle) = 0;
    virtual void close(PortHandle handle) = 0;
    virtual void sleep(std::uint32_t milliseconds) = 0;
    // A monotonic clock in microseconds, finer than the line's byte time (about 1 ms at
    // 9600 baud), so that the link can tell when bytes came relative to a request.
    virtual std::uint64_t microseconds() = 0;
    // The same clock in whole milliseconds, for limits that span several reads.
    std::uint64_t milliseconds() { return microseconds() / 1000; }
    // The clock's step in microseconds: times closer together than this cannot be told
    // apart, and the link judges no time difference finer than it.
    virtual std::uint64_t clockStepUs() const { return 1; }
    // Whether bytes take their time on the line at the port's speed, so that nothing
    // can answer a request before its last byte has crossed it. Real ports do; a
    // stand-in for them may not.
    virtual bool timesTheLine() const { return true; }
};

// The platform's real serial ports (Win32 or POSIX, chosen at build time).
SerialSystem& nativeSerialSystem();

} // namespace v38::serial
