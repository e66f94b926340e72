#include "TimeReading.h"

#include <cstdio>

namespace v38 {

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
