#include "FaultPlan.h"

#include "ConfigImage.h"
#include "LinkTiming.h"
#include "Protocol.h"

#include <array>
#include <charconv>

namespace v38::sim {

namespace {
struct NamedFault {
    std::string_view name;
    FaultKind kind;
};
constexpr std::array<NamedFault, 9> FaultNames = {{
    {"silence", FaultKind::Silence},
    {"nak", FaultKind::Nak},
    {"crc", FaultKind::BadCrc},
    {"length", FaultKind::BadLength},
    {"truncate", FaultKind::Truncated},
    {"slow", FaultKind::Slow},
    {"lag", FaultKind::Lag},
    {"chatter", FaultKind::Chatter},
    {"twice", FaultKind::Twice},
}};

// How long after a reply a chattering device may send: up to about two exchanges.
constexpr int MaxChatterDelayMs = 600;
constexpr int MaxRepeatGapMs = 100;

std::optional<int> parseNumber(std::string_view text) {
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

std::optional<RequestSelector> parseSelector(std::string_view text) {
    RequestSelector selector;
    if (text.empty() || text == "any")
        return selector;
    const char code = text[0];
    if (code != ProbeRequest && code != ReadBlockRequest && code != WriteBlockRequest &&
        code != FinishWriteRequest)
        return std::nullopt;
    selector.code = std::uint8_t(code);
    if (text.size() == 1)
        return selector;
    const std::optional<int> block = parseNumber(text.substr(1));
    if ((code != ReadBlockRequest && code != WriteBlockRequest) || !block || !isBlock(*block))
        return std::nullopt;
    selector.block = *block;
    return selector;
}
} // namespace

std::string_view faultName(FaultKind kind) {
    for (const NamedFault& named : FaultNames) {
        if (named.kind == kind)
            return named.name;
    }
    return "none";
}

std::optional<FaultKind> faultByName(std::string_view name) {
    for (const NamedFault& named : FaultNames) {
        if (named.name == name)
            return named.kind;
    }
    return std::nullopt;
}

bool RequestSelector::matches(const std::vector<std::uint8_t>& request) const {
    if (!code)
        return true;
    if (request.empty() || request[0] != *code)
        return false;
    return !block || (request.size() >= 2 && request[1] == *block);
}

std::optional<FaultRule> parseFaultRule(std::string_view text, std::string& error) {
    FaultRule rule;
    const std::size_t at = text.find('@');
    if (at != std::string_view::npos) {
        const std::optional<RequestSelector> selector = parseSelector(text.substr(at + 1));
        if (!selector) {
            error = "unknown request '" + std::string(text.substr(at + 1)) + "'";
            return std::nullopt;
        }
        rule.selector = *selector;
        text = text.substr(0, at);
    }
    const std::size_t colon = text.find(':');
    if (colon != std::string_view::npos) {
        const std::optional<int> count = parseNumber(text.substr(colon + 1));
        if (!count || *count < 1) {
            error = "bad count '" + std::string(text.substr(colon + 1)) + "'";
            return std::nullopt;
        }
        rule.remaining = *count;
        text = text.substr(0, colon);
    }
    const std::optional<FaultKind> kind = faultByName(text);
    if (!kind) {
        error = "unknown fault '" + std::string(text) + "'";
        return std::nullopt;
    }
    rule.kind = *kind;
    return rule;
}

std::optional<RandomFaults> parseRandomFaults(std::string_view text, std::string& error) {
    RandomFaults random;
    const std::size_t colon = text.find(':');
    const std::optional<int> percent = parseNumber(text.substr(0, colon));
    if (!percent || *percent < 0 || *percent > 100) {
        error = "bad percentage '" + std::string(text.substr(0, colon)) + "'";
        return std::nullopt;
    }
    random.percent = *percent;
    if (colon == std::string_view::npos) {
        random.kinds = {FaultKind::Silence, FaultKind::Nak, FaultKind::BadCrc, FaultKind::BadLength,
                        FaultKind::Truncated};
        return random;
    }
    std::string_view list = text.substr(colon + 1);
    while (!list.empty()) {
        const std::size_t comma = list.find(',');
        const std::string_view name = list.substr(0, comma);
        const std::optional<FaultKind> kind = faultByName(name);
        if (!kind) {
            error = "unknown fault '" + std::string(name) + "'";
            return std::nullopt;
        }
        random.kinds.push_back(*kind);
        list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
    }
    if (random.kinds.empty()) {
        error = "no fault kinds after ':'";
        return std::nullopt;
    }
    return random;
}

void FaultPlan::setRandom(const RandomFaults& random, std::uint32_t seed) {
    random_ = random;
    generator_.seed(seed);
}

FaultKind FaultPlan::next(const std::vector<std::uint8_t>& request) {
    lastFromRule_ = false;
    for (FaultRule& rule : rules_) {
        if (rule.remaining > 0 && rule.selector.matches(request)) {
            --rule.remaining;
            lastFromRule_ = true;
            return rule.kind;
        }
    }
    if (random_.percent <= 0 || random_.kinds.empty())
        return FaultKind::None;
    // Plain modulo of the engine's output: std::mt19937 is fixed by the standard, the
    // distributions are not.
    if (generator_() % 100 >= std::uint32_t(random_.percent))
        return FaultKind::None;
    return random_.kinds[generator_() % random_.kinds.size()];
}

int FaultPlan::drawLagMs(const std::vector<std::uint8_t>& request) {
    const std::uint8_t code = request.empty() ? 0 : request[0];
    const auto waitMs = std::uint32_t(timing::replyAllowanceMs(code));
    return int(generator_() % (3 * waitMs + 1));
}

int FaultPlan::drawMs(int minMs, int maxMs) {
    return minMs + int(generator_() % std::uint32_t(maxMs - minMs + 1));
}

FaultPlan::Chatter FaultPlan::drawChatter() {
    Chatter chatter;
    if (lastFromRule_)
        return chatter;
    chatter.copy = (generator_() & 1) != 0;
    chatter.afterMs = drawMs(0, MaxChatterDelayMs);
    return chatter;
}

int FaultPlan::drawRepeatGapMs() {
    return lastFromRule_ ? 0 : drawMs(0, MaxRepeatGapMs);
}

} // namespace v38::sim
