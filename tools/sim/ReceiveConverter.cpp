#include "ReceiveConverter.h"

#include <algorithm>

namespace v38::sim {

void ReceiveConverter::push(std::uint8_t byte, Clock::time_point crossed) {
    if (batch_ <= Clock::duration::zero()) {
        toChunker(byte, crossed);
        return;
    }
    runTimer(crossed);
    if (!timerOrigin_) {
        timerOrigin_ = crossed;
        timerTicks_ = 0;
    }
    batched_.push_back({byte, crossed});
    if (batched_.size() >= BatchBytes) {
        for (const Waiting& waiting : batched_)
            toChunker(waiting.byte, crossed);
        batched_.clear();
    }
}

void ReceiveConverter::runTimer(Clock::time_point now) {
    while (timerOrigin_) {
        const Clock::time_point tick = *timerOrigin_ + (timerTicks_ + 1) * batch_;
        if (tick > now)
            return;
        ++timerTicks_;
        bool any = false;
        while (!batched_.empty() && batched_.front().crossed <= tick) {
            toChunker(batched_.front().byte, tick);
            batched_.pop_front();
            any = true;
        }
        if (!any) {
            // Nothing came since the last tick: the timer rests until the next byte.
            timerOrigin_.reset();
            if (!batched_.empty()) {
                timerOrigin_ = batched_.front().crossed;
                timerTicks_ = 0;
            }
        }
    }
}

void ReceiveConverter::toChunker(std::uint8_t byte, Clock::time_point at) {
    if (!chunks_) {
        if (!pieces_.empty() && pieces_.back().due == at)
            pieces_.back().bytes.push_back(byte);
        else
            pieces_.push_back({{byte}, at});
        return;
    }
    if (!open_.empty() && at >= openLast_ + ChunkQuiet)
        closePiece(openLast_ + ChunkQuiet);
    if (open_.empty())
        openSize_ = 1 + random_() % MaxChunk;
    open_.push_back(byte);
    openLast_ = at;
    if (open_.size() >= openSize_)
        closePiece(at);
}

void ReceiveConverter::closePiece(Clock::time_point when) {
    const auto gap = std::chrono::microseconds(100 + random_() % 501);
    const Clock::time_point due = std::max(when, lastPiece_ + gap);
    lastPiece_ = due;
    pieces_.push_back({std::move(open_), due});
    open_.clear();
}

std::vector<std::vector<std::uint8_t>> ReceiveConverter::release(Clock::time_point now) {
    runTimer(now);
    if (!open_.empty() && now >= openLast_ + ChunkQuiet)
        closePiece(openLast_ + ChunkQuiet);
    std::vector<std::vector<std::uint8_t>> out;
    while (!pieces_.empty() && pieces_.front().due <= now) {
        if (!chunks_ && !out.empty())
            out.back().insert(out.back().end(), pieces_.front().bytes.begin(),
                              pieces_.front().bytes.end());
        else
            out.push_back(std::move(pieces_.front().bytes));
        pieces_.pop_front();
    }
    return out;
}

std::optional<Clock::time_point> ReceiveConverter::nextTimer() const {
    if (!timerOrigin_ || batched_.empty())
        return std::nullopt;
    return *timerOrigin_ + (timerTicks_ + 1) * batch_;
}

std::optional<Clock::time_point> ReceiveConverter::nextRelease() const {
    std::optional<Clock::time_point> next = nextTimer();
    const auto consider = [&](Clock::time_point t) { next = next ? std::min(*next, t) : t; };
    if (!pieces_.empty())
        consider(pieces_.front().due);
    if (!open_.empty())
        consider(openLast_ + ChunkQuiet);
    return next;
}

} // namespace v38::sim
