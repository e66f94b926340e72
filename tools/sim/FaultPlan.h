#pragma once

#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace v38::sim {

// Ways a reply can go wrong. A faulted request is never acted upon: it stands for a
// request the lock did not take in, so a failed write never changes the lock, and a
// damaged or late reply can never be the only trace of a change.
enum class FaultKind {
    None,
    Silence,   // no reply at all
    Nak,       // NAK instead of the reply
    BadCrc,    // the reply with one CRC byte spoiled
    BadLength, // the reply with a length field out of range
    Truncated, // only the first half of the reply
    Slow,      // the reply, but later than the client waits
    Lag,       // taken in and answered late, by up to three times what the client waits;
               // requests heard meanwhile are answered in their turn after it
    Chatter,   // taken in and answered; later a frame goes out unasked: a copy of the
               // reply or an ACK, as another device on the line might send
    Twice,     // taken in and answered twice by the lock itself
};

std::string_view faultName(FaultKind kind);
std::optional<FaultKind> faultByName(std::string_view name);

// Which requests a rule applies to: any, one request code, or a code and a block.
struct RequestSelector {
    std::optional<std::uint8_t> code;
    std::optional<int> block; // only with 'C' and 'K'

    bool matches(const std::vector<std::uint8_t>& request) const;
};

// "KIND[:COUNT][@REQUEST]": the next COUNT requests (default 1) that match REQUEST
// (M, C, K, S, C0..C7, K0..K7; default any) get the fault KIND.
struct FaultRule {
    FaultKind kind = FaultKind::None;
    int remaining = 1;
    RequestSelector selector;
};
std::optional<FaultRule> parseFaultRule(std::string_view text, std::string& error);

// "PERCENT[:KIND,KIND...]": each request gets a fault with this chance, of a kind
// drawn from the list (default all but slow and lag).
struct RandomFaults {
    int percent = 0;
    std::vector<FaultKind> kinds;
};
std::optional<RandomFaults> parseRandomFaults(std::string_view text, std::string& error);

// Decides, request by request, which fault to inject: the first rule in order that
// matches and has requests left, else a random draw.
class FaultPlan {
public:
    void addRule(const FaultRule& rule) { rules_.push_back(rule); }
    // The draws are the same for the same seed on every platform.
    void setRandom(const RandomFaults& random, std::uint32_t seed);

    FaultKind next(const std::vector<std::uint8_t>& request);
    // How late a lagging answer to `request` comes: from 0 to three times the time the
    // client waits for the start of that answer.
    int drawLagMs(const std::vector<std::uint8_t>& request);
    // A time from `minMs` to `maxMs`, both included.
    int drawMs(int minMs, int maxMs);
    // What a chattering device sends after the reply, and how long after it: for a
    // chatter that a rule asked for, the reply again at once (a lock repeating itself,
    // the same every time); for a random one, a copy or an ACK up to 600 ms later.
    struct Chatter {
        bool copy = true; // a copy of the reply; else an ACK
        int afterMs = 0;
    };
    Chatter drawChatter();
    // How long after its first answer a lock answering twice sends the second: at once
    // for a rule, up to 100 ms for a random one.
    int drawRepeatGapMs();

private:
    std::vector<FaultRule> rules_;
    RandomFaults random_;
    std::mt19937 generator_;
    bool lastFromRule_ = false;
};

} // namespace v38::sim
