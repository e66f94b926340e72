#pragma once

#include "serial/SerialSystem.h"

#include <cstdint>
#include <random>

namespace v38::soak {

// The native serial system with a PC that is now and then busy elsewhere: before a
// call, with the given chance, the calling thread is held up for 0 to `maxMs`
// milliseconds, as a virus scanner, a busy laptop or a debugger would hold it.
class StallingSerial final : public serial::SerialSystem {
public:
    StallingSerial(serial::SerialSystem& inner, std::uint32_t seed, int percent, int maxMs)
        : inner_(inner), random_(seed), percent_(percent), maxMs_(maxMs) {}

    int stalls() const { return stalls_; }
    std::uint64_t stalledMs() const { return stalledMs_; }

    serial::PortHandle open(int port, serial::OpenFailure& failure) override;
    bool configure(serial::PortHandle handle, const serial::LineSettings& settings) override;
    bool setQueues(serial::PortHandle handle, std::uint32_t inQueue,
                   std::uint32_t outQueue) override;
    bool setTimeouts(serial::PortHandle handle, const serial::Timeouts& timeouts) override;
    std::uint32_t write(serial::PortHandle handle, const std::uint8_t* data,
                        std::uint32_t count) override;
    std::uint32_t read(serial::PortHandle handle, std::uint8_t* buffer,
                       std::uint32_t count) override;
    std::uint32_t readWaiting(serial::PortHandle handle, std::uint8_t* buffer,
                              std::uint32_t count) override;
    bool hungUp(serial::PortHandle handle) override { return inner_.hungUp(handle); }
    bool timesTheLine() const override { return inner_.timesTheLine(); }
    void close(serial::PortHandle handle) override;
    void sleep(std::uint32_t milliseconds) override;
    std::uint64_t microseconds() override;
    std::uint64_t clockStepUs() const override { return inner_.clockStepUs(); }

private:
    void maybeStall();

    serial::SerialSystem& inner_;
    std::mt19937 random_;
    int percent_;
    int maxMs_;
    int stalls_ = 0;
    std::uint64_t stalledMs_ = 0;
};

} // namespace v38::soak
