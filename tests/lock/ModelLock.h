#pragma once

#include "ConfigImage.h"
#include "LinkTestSupport.h"
#include "LinkTiming.h"
#include "Protocol.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <map>
#include <vector>

namespace v38::test {

// Faults of the line, each placed at one request: counted from 0 over every request the
// PC puts on the line, retries and fences included.
enum class FaultKind {
    RequestLost, // noise: the lock never hears it
    AnswerLost,  // the lock answers, the PC gets none of it
    AnswerTwice, // the lock sends its answer again right behind it
    Replay,      // another device sends a genuine earlier frame of the lock
};

// Where a replayed frame starts, relative to the request it meets.
enum class ReplayAt {
    WhollyBefore,     // ends a byte's time before the request starts
    OverlappingStart, // half of it before the request, half during it
    MidRequest,       // starts halfway through the request
    LastByte,         // starts as the request's last byte goes out
    AtEnd,            // starts as the request is over: while the lock thinks
    BehindAnswer,     // starts a byte's time behind the lock's answer
    HalfAllowance,    // starts halfway through the request's reply allowance
};
inline constexpr ReplayAt AllReplayOffsets[] = {
    ReplayAt::WhollyBefore, ReplayAt::OverlappingStart, ReplayAt::MidRequest,   ReplayAt::LastByte,
    ReplayAt::AtEnd,        ReplayAt::BehindAnswer,     ReplayAt::HalfAllowance};

// Which earlier frame is replayed: the lock's latest answer to a request of the same kind
// (the shape the link waits for), or its latest answer whatever it was.
enum class ReplayOf { SameKind, Latest };

struct LineFault {
    FaultKind kind = FaultKind::RequestLost;
    int request = 0;
    ReplayAt at = ReplayAt::AtEnd;
    ReplayOf of = ReplayOf::SameKind;
};

// A real lock on the line at the port's speed, on the double's virtual clock. It hears a
// request once its last byte has crossed the line, on a half-duplex line (one pair, the
// default) only when no other byte was on the line meanwhile; thinks, then answers in
// order, its answer taking line time too: 'M' the probe's answer, 'C' n block n, 'K' n
// stages block n and acknowledges, 'S' commits the staged image and acknowledges only
// when all eight blocks were staged since the last 'S', else refuses.
class ModelLock {
public:
    explicit ModelLock(serial::ScriptedSerial& line, int port = 1) : line_(line), port_(port) {
        for (std::size_t i = 0; i < image.size(); ++i)
            image[i] = static_cast<std::uint8_t>(i * 7 + 3);
        line.setTimesTheLine(true);
        line.port(port).respond = [this](const Bytes& request) {
            hear(request);
            return serial::Reaction{};
        };
    }

    ConfigImage image; // committed: what the lock holds
    // How long the lock thinks before it answers a request of the given code.
    std::function<std::uint64_t(std::uint8_t code)> thinkUs = [](std::uint8_t) {
        return std::uint64_t(3000);
    };
    std::vector<LineFault> faults;
    // Two pairs: the lock hears every request, whatever else is on the line; a late lock
    // then answers every attempt, each in its turn.
    bool halfDuplex = true;
    // The lock refuses 'S' (a NAK, the staged blocks dropped).
    bool refuseFinish = false;

    // The request code of every request put on the line, in order.
    const std::vector<std::uint8_t>& codes() const { return codes_; }

private:
    struct Span {
        std::uint64_t from, to; // [from, to) on the line
    };

    static std::size_t answerSize(std::uint8_t code) {
        return code == ProbeRequest       ? ProbeAnswerSize
               : code == ReadBlockRequest ? BlockSize + FrameOverhead
                                          : AckFrame.size();
    }

    std::uint64_t send(std::uint64_t startUs, const Bytes& frame, bool reachesPc) {
        const std::uint64_t endUs = startUs + line_.lineUs(port_, frame.size());
        if (reachesPc)
            line_.transmit(port_, startUs, frame);
        others_.push_back({startUs, endUs});
        busyUntil_ = std::max(busyUntil_, endUs);
        return endUs;
    }

    bool placed(FaultKind kind, int request) const {
        return std::any_of(faults.begin(), faults.end(), [&](const LineFault& fault) {
            return fault.kind == kind && fault.request == request;
        });
    }

    void hear(const Bytes& request) {
        const serial::WriteRecord& write = line_.writes().back();
        const std::uint64_t start = write.lineStartUs;
        const std::uint64_t end = write.lineEndUs;
        const std::uint64_t byte = line_.lineUs(port_, 1);
        const int number = static_cast<int>(codes_.size());
        const std::uint8_t code = request.size() > 2 ? request[2] : 0;
        codes_.push_back(code);
        const std::uint64_t quietSince = busyUntil_;
        busyUntil_ = std::max(busyUntil_, end);

        for (const LineFault& fault : faults) {
            if (fault.kind != FaultKind::Replay || fault.request != number)
                continue;
            const auto same = latestOf_.find(code);
            const Bytes& frame = fault.of == ReplayOf::SameKind
                                     ? (same != latestOf_.end() ? same->second : Bytes{})
                                     : latest_;
            if (frame.empty())
                continue;
            const std::uint64_t length = line_.lineUs(port_, frame.size());
            const std::uint64_t allowanceUs = timing::replyAllowanceMs(code) * 1000;
            std::uint64_t from = 0;
            switch (fault.at) {
            case ReplayAt::WhollyBefore:
                from = start >= length + byte ? start - length - byte : 0;
                break;
            case ReplayAt::OverlappingStart:
                from = start >= length / 2 ? start - length / 2 : 0;
                break;
            case ReplayAt::MidRequest:
                from = start + (end - start) / 2;
                break;
            case ReplayAt::LastByte:
                from = end - byte;
                break;
            case ReplayAt::AtEnd:
                from = end;
                break;
            case ReplayAt::BehindAnswer:
                from = end + thinkUs(code) + line_.lineUs(port_, answerSize(code) + 1);
                break;
            case ReplayAt::HalfAllowance:
                from = end + allowanceUs / 2;
                break;
            }
            // Nothing is sent into what has already happened on the line.
            send(std::max(from, quietSince), frame, true);
        }

        const bool garbled = std::any_of(others_.begin(), others_.end(), [&](const Span& span) {
            return span.from < end && start < span.to;
        });
        if ((halfDuplex && garbled) || placed(FaultKind::RequestLost, number))
            return;

        Bytes answer;
        const int block = request.size() > 3 ? request[3] : -1;
        if (code == ProbeRequest) {
            answer = ProbeAnswer;
        } else if (code == ReadBlockRequest && isBlock(block)) {
            answer = frameAround(Bytes(image.block(block), image.block(block) + BlockSize));
        } else if (code == WriteBlockRequest && isBlock(block) &&
                   request.size() == WriteRequestSize + FrameOverhead) {
            std::copy_n(request.begin() + 4, BlockSize, staged_.block(block));
            stagedMask_ |= 1u << block;
            answer = AckFrame;
        } else if (code == FinishWriteRequest && stagedMask_ == 0xFF && !refuseFinish) {
            image = staged_;
            stagedMask_ = 0;
            answer = AckFrame;
        } else {
            stagedMask_ = code == FinishWriteRequest ? 0 : stagedMask_;
            answer = NakFrame;
        }
        const bool reachesPc = !placed(FaultKind::AnswerLost, number);
        std::uint64_t at = send(std::max(end + thinkUs(code), lockFreeUs_), answer, reachesPc);
        if (placed(FaultKind::AnswerTwice, number))
            at = send(at, answer, reachesPc);
        lockFreeUs_ = at;
        latestOf_[code] = answer;
        latest_ = answer;
    }

    serial::ScriptedSerial& line_;
    int port_;
    ConfigImage staged_{};
    unsigned stagedMask_ = 0;
    std::vector<std::uint8_t> codes_;
    std::vector<Span> others_;     // every transmission but the PC's own
    std::uint64_t busyUntil_ = 0;  // the end of everything on the line so far
    std::uint64_t lockFreeUs_ = 0; // when the lock's last answer is out
    std::map<std::uint8_t, Bytes> latestOf_;
    Bytes latest_;
};

} // namespace v38::test
