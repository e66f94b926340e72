#include "RS232.h"

#include <string>

namespace v38 {

namespace {
serial::LineSettings decodeLine(std::int32_t baud, std::uint8_t frameFlags,
                                std::uint8_t lineFlags) {
    serial::LineSettings line;
    line.baud = baud;
    line.dataBits = (frameFlags & DataBitsMask) + 5;
    line.stopBits = (frameFlags & TwoStopBits) ? 2 : 1;
    if (!(frameFlags & ParityOn))
        line.parity = serial::Parity::None;
    else
        line.parity = (frameFlags & EvenParity) ? serial::Parity::Even : serial::Parity::Odd;
    line.dtr = (lineFlags & DtrOn) != 0;
    line.rts = (lineFlags & RtsOn) != 0;
    return line;
}
} // namespace

RS232::RS232() : system_(&serial::nativeSerialSystem()) {}

RS232::RS232(serial::SerialSystem& system) : system_(&system) {}

RS232::~RS232() {
    closePort();
}

bool RS232::openPort(std::int32_t port, std::int32_t baud, std::uint8_t frameFlags,
                     std::uint8_t lineFlags, std::uint32_t inQueue, std::uint32_t outQueue) {
    if (port < MinPort || port > MaxPort)
        return false;
    openFailure_ = {};
    if (portNumber_ != 0 && portNumber_ != port)
        closePort();
    if (portNumber_ == 0) {
        portHandle_ = system_->open(port, openFailure_);
        if (portHandle_ == serial::InvalidPortHandle) {
            trace("COM" + std::to_string(port) + " cannot be opened");
            return false;
        }
        portNumber_ = port;
        trace("COM" + std::to_string(port) + " opened");
    }
    // An already open port is configured anew without being reopened.
    charTime_ = timing::charTimeMs(baud);
    baud_ = baud;
    if (!system_->configure(portHandle_, decodeLine(baud, frameFlags, lineFlags)) ||
        !system_->setQueues(portHandle_, inQueue, outQueue) || !setTimeouts(0)) {
        dropPort();
        return false;
    }
    return true;
}

std::uint64_t RS232::lineUs(std::size_t count) const {
    return system_->timesTheLine() ? timing::lineUs(count, baud_) : 0;
}

void RS232::closePort() {
    if (portNumber_ == 0)
        return;
    system_->close(portHandle_);
    trace("COM" + std::to_string(portNumber_) + " closed");
    portNumber_ = 0;
    portHandle_ = serial::InvalidPortHandle;
}

void RS232::dropPort() {
    closePort();
}

bool RS232::setTimeouts(std::int32_t extra) {
    serial::Timeouts timeouts;
    timeouts.readMultiplier = charTime_;
    timeouts.readConstant = timing::TimeoutConstantMs + static_cast<std::uint32_t>(extra < 0 ? 0 : extra);
    timeouts.writeMultiplier = charTime_;
    timeouts.writeConstant = timing::TimeoutConstantMs;
    return system_->setTimeouts(portHandle_, timeouts);
}

void RS232::sendBytes(std::uint32_t count, const std::uint8_t* data) {
    if (portNumber_ == 0)
        return;
    const std::uint32_t written = system_->write(portHandle_, data, count);
    trace(written == count ? "sent" : "send failed", data, written);
    if (written != count)
        dropPort();
}

std::uint32_t RS232::receiveWaiting(std::uint32_t count, std::uint8_t* buffer) {
    if (portNumber_ == 0)
        return 0;
    const std::uint32_t received = system_->readWaiting(portHandle_, buffer, count);
    if (received > 0)
        trace("received", buffer, received);
    if (system_->hungUp(portHandle_))
        dropPort();
    return received;
}

std::uint32_t RS232::receiveBytes(std::uint32_t count, std::uint8_t* buffer) {
    if (portNumber_ == 0)
        return 0;
    const std::uint32_t received = system_->read(portHandle_, buffer, count);
    if (received == count)
        trace("received", buffer, received);
    else
        trace("time-out after " + std::to_string(received) + " of " + std::to_string(count) +
                  " bytes",
              buffer, received);
    // A port whose device is gone is dropped, so that the rest of the exchange fails at
    // once instead of waiting for bytes that cannot come.
    if (received < count && system_->hungUp(portHandle_))
        dropPort();
    return received;
}

void RS232::trace(std::string_view event, const std::uint8_t* bytes, std::size_t size) const {
    if (trace_)
        trace_->note(system_->milliseconds(), event, bytes, size);
}

} // namespace v38
