#include "V38Bank.h"

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

std::uint64_t V38Bank::lineMs(std::size_t count) const {
    if (ledger_.count(LineEvent::LineNotTimed, portMark_) > 0)
        return 0;
    return port_.lineUs(count) / 1000;
}

} // namespace v38
