#include "TimeReading.h"

#include <algorithm>
#include <cstdio>

namespace v38 {

namespace {
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

bool isBlank(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}
} // namespace

int timeValue(std::string_view digits) {
    int value = 0;
    for (const char c : digits) {
        if (!isDigit(c))
            break;
        value = std::min(value * 10 + (c - '0'), 1000000);
    }
    return value;
}

std::uint8_t timeByte(std::string_view text) {
    std::size_t at = 0;
    while (at < text.size() && isBlank(text[at]))
        ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
        negative = text[at] == '-';
        ++at;
    }
    unsigned low = 0;
    for (; at < text.size() && isDigit(text[at]); ++at)
        low = (low * 10 + unsigned(text[at] - '0')) & 0xFF;
    return static_cast<std::uint8_t>(negative ? (256 - low) & 0xFF : low);
}

std::string boltPulseReading(int value) {
    char text[32];
    std::snprintf(text, sizeof text, "= %d,%d sek", value / 10, value % 10);
    return text;
}

std::string lockoutReading(int value) {
    char text[32];
    std::snprintf(text, sizeof text, "= %dmin %02dsek", value / 6, (value % 6) * 10);
    return text;
}

} // namespace v38
