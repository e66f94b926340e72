#pragma once

#include "LinkTiming.h"
#include "LinkTrace.h"
#include "serial/SerialSystem.h"

#include <cstdint>

namespace v38 {

// Bits of the frame-flags byte of openPort.
inline constexpr std::uint8_t DataBitsMask = 0x03; // data bits - 5
inline constexpr std::uint8_t TwoStopBits = 0x04;
inline constexpr std::uint8_t ParityOn = 0x08;
inline constexpr std::uint8_t EvenParity = 0x10; // only with ParityOn; else odd
// Bits of the line-flags byte of openPort.
inline constexpr std::uint8_t DtrOn = 0x01;
inline constexpr std::uint8_t RtsOn = 0x02;

inline constexpr int MinPort = 1;
inline constexpr int MaxPort = 32;

// The serial port channel: at most one COM port open at a time, synchronous reads
// and writes under total time-outs. It reports through results and by closing the
// port when an operation on it fails; it never throws and shows nothing.
class RS232 {
public:
    RS232();
    explicit RS232(serial::SerialSystem& system);
    ~RS232();
    RS232(const RS232&) = delete;
    RS232& operator=(const RS232&) = delete;

    bool openPort(std::int32_t port, std::int32_t baud, std::uint8_t frameFlags,
                  std::uint8_t lineFlags, std::uint32_t inQueue, std::uint32_t outQueue);
    void closePort();
    // Same effect as closePort; used where an operation on the open port has failed.
    void dropPort();
    bool setTimeouts(std::int32_t extra);
    void sendBytes(std::uint32_t count, const std::uint8_t* data);
    std::uint32_t receiveBytes(std::uint32_t count, std::uint8_t* buffer);
    // What has already been received, up to `count` bytes, without waiting for more;
    // 0 without a port.
    std::uint32_t receiveWaiting(std::uint32_t count, std::uint8_t* buffer);

    // The open port's system handle (InvalidPortHandle while closed), its number n of
    // COMn (0 while closed) and the time a character is granted at its speed in ms.
    serial::PortHandle portHandle() const { return portHandle_; }
    int portNumber() const { return portNumber_; }
    bool isOpen() const { return portNumber_ != 0; }
    std::uint16_t charTime() const { return charTime_; }

    // Why the latest openPort could not open its port (None when it opened or the
    // port was already open).
    const serial::OpenFailure& openFailure() const { return openFailure_; }

    // Reports opening, closing and every byte sent and received to `trace` (none: off).
    void setTrace(LinkTrace* trace) { trace_ = trace; }
    void trace(std::string_view event, const std::uint8_t* bytes = nullptr,
               std::size_t size = 0) const;

    serial::SerialSystem& system() const { return *system_; }
    // The least time `count` bytes take on the line at the open port's speed (10 bits a
    // byte: 8N1, no gaps), in microseconds; 0 for a stand-in that does not time the line.
    std::uint64_t lineUs(std::size_t count) const;

private:
    serial::SerialSystem* system_;
    LinkTrace* trace_ = nullptr;
    serial::PortHandle portHandle_ = serial::InvalidPortHandle;
    int portNumber_ = 0;
    std::uint16_t charTime_ = 0;
    std::int32_t baud_ = 0;
    serial::OpenFailure openFailure_;
};

} // namespace v38
