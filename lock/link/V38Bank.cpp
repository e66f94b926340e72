#include "V38Bank.h"

#include <algorithm>

namespace v38 {

V38Bank::V38Bank() : image_(ConfigImage::erased()) {}

V38Bank::V38Bank(serial::SerialSystem& system) : port_(system), image_(ConfigImage::erased()) {}

void V38Bank::resetImage() {
    image_ = ConfigImage::defaults();
}

void V38Bank::setTrace(LinkTrace* trace) {
    port_.setTrace(trace);
    ledger_.setTrace(trace);
}

void V38Bank::note(LineEvent event, std::string_view detail) {
    ledger_.record(event, now(), detail);
}

bool V38Bank::lineTimed() const {
    return port_.lineUs(1) > 0 && ledger_.count(LineEvent::LineNotTimed, portMark_) == 0;
}

std::uint64_t V38Bank::answerDeadlineUs(std::uint64_t sentAtUs, std::size_t requestSize,
                                        std::uint32_t firstBytes, int extraMs) const {
    const std::uint64_t allowanceMs = std::uint64_t(firstBytes) * port_.charTime() +
                                      timing::TimeoutConstantMs + std::uint64_t(extraMs) +
                                      timing::LatencyMarginMs;
    return sentAtUs + port_.lineUs(requestSize) + allowanceMs * 1000;
}

bool V38Bank::cameTooSoon(std::uint64_t sentAtUs, std::size_t requestSize,
                          std::size_t held) const {
    if (!lineTimed())
        return false;
    const std::uint64_t earliestUs =
        sentAtUs + port_.lineUs(requestSize + held) * timing::PacePercent / 100;
    return nowUs() + port_.system().clockStepUs() <= earliestUs;
}

std::uint32_t V38Bank::receiveWithin(std::uint8_t* buffer, std::uint32_t count,
                                     std::uint64_t deadlineUs) {
    if (!port_.isOpen())
        return 0;
    const std::uint64_t at = nowUs();
    const std::uint64_t leftMs = deadlineUs > at ? (deadlineUs - at + 999) / 1000 : 0;
    const std::uint64_t standardMs = std::uint64_t(count) * port_.charTime() +
                                     timing::TimeoutConstantMs;
    const int extra = leftMs > standardMs ? int(leftMs - standardMs) : 0;
    if (extra != 0 && !port_.setTimeouts(extra)) {
        port_.dropPort();
        return 0;
    }
    const std::uint32_t received = port_.receiveBytes(count, buffer);
    if (extra != 0 && port_.isOpen() && !port_.setTimeouts(0))
        port_.dropPort();
    return received;
}

bool V38Bank::sendRequest(const std::uint8_t* request, std::size_t size) {
    const std::uint64_t sentAtUs = nowUs();
    port_.sendBytes(static_cast<std::uint32_t>(size), request);
    if (!echo_ || !port_.isOpen())
        return true;
    // The echo crosses the line with the request; a USB converter may hold it back a while.
    std::uint8_t echo[MaxFrame];
    const std::uint64_t dueUs = sentAtUs + port_.lineUs(size) + timing::LatencyMarginMs * 1000;
    const auto count = static_cast<std::uint32_t>(size);
    const std::uint32_t got = receiveWithin(echo, count, dueUs);
    if (got == count && std::equal(echo, echo + got, request))
        return true;
    // Another device talked over the request: the lock may not have heard it whole. A line
    // that does not go quiet fails the next look for stale input.
    throwAway(echo, got, LineEvent::WrongEcho, "a wrong echo of the request");
    return false;
}

} // namespace v38
