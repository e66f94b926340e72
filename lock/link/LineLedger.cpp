#include "LineLedger.h"

namespace v38 {

bool isDoubt(LineEvent event) {
    switch (event) {
    case LineEvent::PortOpened:
    case LineEvent::LineInStep:
    case LineEvent::LineNotTimed:
    case LineEvent::EchoFound:
        return false;
    default:
        return true;
    }
}

void LineLedger::record(LineEvent event, std::uint64_t ms, std::string_view detail) {
    // Nothing before a fresh port is asked about again: the account starts over, and
    // stays as long as one port's transfers.
    if (event == LineEvent::PortOpened) {
        base_ = mark();
        entries_.clear();
    }
    if (event == LineEvent::PortOpened || event == LineEvent::LineInStep)
        lastReset_ = mark();
    entries_.push_back({event, ms, std::string(detail)});
    if (trace_ && isDoubt(event))
        trace_->note(ms, "doubtful: " + std::string(detail), nullptr, 0);
    else if (trace_ && !detail.empty())
        trace_->note(ms, detail, nullptr, 0);
}

bool LineLedger::cleanSince(Mark since) const {
    for (std::size_t i = indexOf(since); i < entries_.size(); ++i)
        if (isDoubt(entries_[i].event))
            return false;
    return true;
}

int LineLedger::count(LineEvent event, Mark since) const {
    int n = 0;
    for (std::size_t i = indexOf(since); i < entries_.size(); ++i)
        n += entries_[i].event == event;
    return n;
}

std::vector<LineLedger::Entry> LineLedger::since(Mark since) const {
    return {entries_.begin() + static_cast<std::ptrdiff_t>(indexOf(since)), entries_.end()};
}

} // namespace v38
