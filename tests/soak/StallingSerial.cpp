#include "StallingSerial.h"

#include <chrono>
#include <thread>

namespace v38::soak {

void StallingSerial::maybeStall() {
    if (percent_ <= 0 || random_() % 100 >= std::uint32_t(percent_))
        return;
    const std::uint32_t ms = random_() % std::uint32_t(maxMs_ + 1);
    ++stalls_;
    stalledMs_ += ms;
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

serial::PortHandle StallingSerial::open(int port, serial::OpenFailure& failure) {
    maybeStall();
    return inner_.open(port, failure);
}

bool StallingSerial::configure(serial::PortHandle handle, const serial::LineSettings& settings) {
    maybeStall();
    return inner_.configure(handle, settings);
}

bool StallingSerial::setQueues(serial::PortHandle handle, std::uint32_t inQueue,
                               std::uint32_t outQueue) {
    maybeStall();
    return inner_.setQueues(handle, inQueue, outQueue);
}

bool StallingSerial::setTimeouts(serial::PortHandle handle, const serial::Timeouts& timeouts) {
    maybeStall();
    return inner_.setTimeouts(handle, timeouts);
}

std::uint32_t StallingSerial::write(serial::PortHandle handle, const std::uint8_t* data,
                                    std::uint32_t count) {
    maybeStall();
    return inner_.write(handle, data, count);
}

std::uint32_t StallingSerial::read(serial::PortHandle handle, std::uint8_t* buffer,
                                   std::uint32_t count) {
    maybeStall();
    return inner_.read(handle, buffer, count);
}

std::uint32_t StallingSerial::readWaiting(serial::PortHandle handle, std::uint8_t* buffer,
                                          std::uint32_t count) {
    maybeStall();
    return inner_.readWaiting(handle, buffer, count);
}

void StallingSerial::close(serial::PortHandle handle) {
    maybeStall();
    inner_.close(handle);
}

void StallingSerial::sleep(std::uint32_t milliseconds) {
    maybeStall();
    inner_.sleep(milliseconds);
}

std::uint64_t StallingSerial::microseconds() {
    // Also between reading the clock and acting on it.
    const std::uint64_t now = inner_.microseconds();
    maybeStall();
    return now;
}

} // namespace v38::soak
