#pragma once

#include "LinkTrace.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace v38 {

// What the line did that bears on whether a reply answered the request it was taken
// for. A frame carries nothing that says which request it answers, so the link keeps
// account of every sign that one may not have: the events below, numbered as the
// invariants in docs/link.md that each one serves.
enum class LineEvent {
    // Resets: nothing recorded before them is owed to the line any longer.
    PortOpened, // a port opened anew: no answer of an earlier transfer is due on it
    LineInStep, // a read-back came through clean: the line answers request by request
    // Doubts: a reply taken since may have answered another request.
    AttemptUnanswered,    // no answer in an attempt's allowance: it may come later
    FirstProbeUnanswered, // the same for the first probe on a port
    StaleBytes,           // bytes before a request, asked for by none
    GarbledAnswer,        // an answer that broke off, had a wrong length or CRC
    BytesBehindReply,     // more bytes right behind a whole reply
    BytesAfterThrown,     // more bytes while the line was read quiet
    BytesAtLateLook,      // bytes already waiting when a held-up PC first looked
    EarlyAnswer,          // an answer began before its request could have crossed the line
    FrameBeforeFence,     // a whole frame before the fence's own answer
    FenceUnanswered,      // the fence's answer never came
    WrongEcho,            // the converter's echo of a request was not the request
    // Facts that raise no doubt themselves.
    LineNotTimed, // the far end answers sooner than the line can carry: earliness unjudged
    EchoFound,    // the converter echoes every byte the PC sends
};

// True for the events that make a transfer doubtful.
bool isDoubt(LineEvent event);

// The link's account of the line, in order. Marks let a caller ask about the events
// since a point of its own ("was this read-back clean?"); doubtful() asks about the
// events since the last reset. Each event is written to the trace as it is recorded.
class LineLedger {
public:
    using Mark = std::size_t;

    struct Entry {
        LineEvent event;
        std::uint64_t ms;
        std::string detail;
    };

    void setTrace(LinkTrace* trace) { trace_ = trace; }

    void record(LineEvent event, std::uint64_t ms, std::string_view detail);

    Mark mark() const { return base_ + entries_.size(); }
    // No doubt recorded from `since` on.
    bool cleanSince(Mark since) const;
    // How often `event` was recorded from `since` on.
    int count(LineEvent event, Mark since) const;
    // Some doubt since the last reset.
    bool doubtful() const { return !cleanSince(lastReset_); }

    // The entries from `since` on, oldest first.
    std::vector<Entry> since(Mark since) const;

private:
    std::size_t indexOf(Mark mark) const { return mark > base_ ? mark - base_ : 0; }

    std::vector<Entry> entries_;
    Mark base_ = 0;      // the mark of entries_[0]: a port opened anew forgets the rest
    Mark lastReset_ = 0;
    LinkTrace* trace_ = nullptr;
};

} // namespace v38
