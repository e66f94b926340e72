#include "RequestParser.h"

#include "Frame.h"

namespace v38::sim {

std::vector<std::uint8_t> ParsedBytes::payload() const {
    if (kind != Kind::Frame || bytes.size() < std::size_t(MinFrame))
        return {};
    return {bytes.begin() + 2, bytes.end() - 2};
}

void RequestParser::feed(std::uint8_t byte, std::vector<ParsedBytes>& out) {
    held_.push_back(byte);
    scan(false, out);
}

void RequestParser::feed(const std::uint8_t* data, std::size_t size,
                         std::vector<ParsedBytes>& out) {
    for (std::size_t i = 0; i < size; ++i)
        feed(data[i], out);
}

void RequestParser::lineIdle(std::vector<ParsedBytes>& out) {
    scan(true, out);
}

void RequestParser::scan(bool idle, std::vector<ParsedBytes>& out) {
    while (held_.size() >= 2) {
        const int length = frameLength(held_.data());
        if (length < MinFrame || length > MaxFrame) {
            dropFirst(1);
            continue;
        }
        const auto size = std::size_t(length);
        if (held_.size() < size) {
            if (!idle)
                return;
            dropFirst(1);
            continue;
        }
        if (!isWholeFrame(held_.data(), size)) {
            // The length field may itself be garbage: the real frame can start at
            // any of the following bytes.
            dropFirst(1);
            continue;
        }
        flushGarbage(out);
        out.push_back({ParsedBytes::Kind::Frame, {held_.begin(), held_.begin() + length}});
        held_.erase(held_.begin(), held_.begin() + length);
    }
    if (idle)
        dropFirst(held_.size());
    if (idle || held_.empty())
        flushGarbage(out);
}

void RequestParser::dropFirst(std::size_t count) {
    garbage_.insert(garbage_.end(), held_.begin(), held_.begin() + std::ptrdiff_t(count));
    held_.erase(held_.begin(), held_.begin() + std::ptrdiff_t(count));
}

void RequestParser::flushGarbage(std::vector<ParsedBytes>& out) {
    if (garbage_.empty())
        return;
    out.push_back({ParsedBytes::Kind::Garbage, std::move(garbage_)});
    garbage_.clear();
}

} // namespace v38::sim
