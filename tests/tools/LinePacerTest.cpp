#include "LinePacer.h"

#include <gtest/gtest.h>

using namespace v38::sim;
using std::chrono::microseconds;

namespace {

TEST(LinePacer, BytesQueueBehindEachOtherAtTenBitsEach) {
    LinePacer line(9600);
    EXPECT_EQ(std::chrono::duration_cast<microseconds>(line.byteTime()).count(), 1041);

    // A burst handed over at once comes off the line one byte time apart.
    const Clock::time_point start{};
    Clock::time_point last{};
    for (int i = 1; i <= 68; ++i)
        last = line.pass(start);
    EXPECT_EQ(last - start, 68 * line.byteTime());

    // A byte handed over after the line went quiet starts at once.
    const Clock::time_point later = last + std::chrono::milliseconds(50);
    EXPECT_EQ(line.pass(later), later + line.byteTime());

    LinePacer instant(0);
    EXPECT_EQ(instant.pass(later), later);
}

} // namespace
